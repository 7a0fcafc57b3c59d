#pragma once

#include "browser/html/domtree.h"
#include "browser/html/stylesheet.h"

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace qh::browser::css {

// What the author's sheets and style attributes declare for one element, the cascade already decided: for each
// property the winning declaration's value (a keyword or a CSS-wide keyword), or nothing.
struct DeclaredStyle
{
    static constexpr quint8 NoValue = 255;
    std::array<quint8, PropertyCount> values{NoValue, NoValue, NoValue, NoValue};

    std::optional<quint8> value(Property property) const
    {
        const quint8 v = values[std::size_t(property)];
        return v == NoValue ? std::nullopt : std::optional<quint8>(v);
    }
};

// The cascade of a page's author style sheets (given in cascade order, the first the lowest) and its style
// attributes over every element of its tree: selectors matched, specificity, order and !important weighed. Built
// once per page, read-only afterwards, so it may be read from any thread. The tree must outlive it.
class AuthorStyles
{
public:
    AuthorStyles(const DomTree &tree, const std::vector<std::shared_ptr<const StyleSheet>> &sheets);

    // The declared style of an element (node index), or null when the author declares nothing for it.
    const DeclaredStyle *find(int nodeIndex) const
    {
        const int slot = m_slotOfNode.empty() ? -1 : m_slotOfNode[std::size_t(nodeIndex)];
        return slot < 0 ? nullptr : &m_styles[std::size_t(slot)];
    }

private:
    std::vector<int> m_slotOfNode; // index into m_styles, -1 for none
    std::vector<DeclaredStyle> m_styles;
};

// Whether a selector matches an element (node index) of the tree; for tests and for the cascade.
bool selectorMatches(const DomTree &tree, const Selector &selector, int nodeIndex);

} // namespace qh::browser::css
