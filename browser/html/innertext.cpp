#include "browser/html/innertext.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

using namespace Qt::StringLiterals;

namespace qh::browser::rendering {

namespace {

using css::Display;
using css::TextTransform;
using css::WhiteSpace;

bool isCollapsible(QChar c)
{
    // CSS white space (a CR that survived the parser is treated as a space); U+00A0 is not among it.
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

// The declarations of a style attribute, for a page without style sheets: an important one wins, else the last.
css::DeclaredStyle parseStyleAttribute(QStringView style)
{
    css::DeclaredStyle declared;
    std::array<bool, css::PropertyCount> important{};
    for (const css::Declaration &declaration : css::parseDeclarations(style)) {
        const std::size_t property = std::size_t(declaration.property);
        if (important[property] && !declaration.important)
            continue;
        important[property] = declaration.important;
        declared.values[property] = declaration.value;
    }
    return declared;
}

Display defaultDisplay(const DomTree &tree, const DomNode &element)
{
    const TagInfo &tag = tree.tagOf(element);
    if (tag.ns == ElementNamespace::Svg) {
        const bool insideSvg = element.parent >= 0 && tree.tagOf(tree.node(element.parent)).ns == ElementNamespace::Svg;
        return insideSvg ? Display::Inline : Display::Replaced;
    }
    if (tag.ns != ElementNamespace::Html)
        return Display::Inline;
    switch (tag.tag) {
    case HtmlTag::Head:
    case HtmlTag::Script:
    case HtmlTag::Style:
    case HtmlTag::Template:
    case HtmlTag::Title:
    case HtmlTag::Noscript: // scripting is enabled
    case HtmlTag::Noembed:
    case HtmlTag::Noframes:
    case HtmlTag::Area:
    case HtmlTag::Base:
    case HtmlTag::Basefont:
    case HtmlTag::Bgsound:
    case HtmlTag::Datalist:
    case HtmlTag::Link:
    case HtmlTag::Meta:
    case HtmlTag::Param:
    case HtmlTag::Rp:
    case HtmlTag::Source:
    case HtmlTag::Track:
    case HtmlTag::Col:
    case HtmlTag::Colgroup:
        return Display::None;
    case HtmlTag::Dialog:
        return tree.hasAttribute(element, u"open") ? Display::Block : Display::None;
    case HtmlTag::Input: {
        const QStringView type = tree.findAttribute(element, u"type");
        return type.compare(u"hidden", Qt::CaseInsensitive) == 0 ? Display::None : Display::Replaced;
    }
    case HtmlTag::Html:
    case HtmlTag::Body:
    case HtmlTag::Address:
    case HtmlTag::Blockquote:
    case HtmlTag::Center:
    case HtmlTag::Div:
    case HtmlTag::Figure:
    case HtmlTag::Figcaption:
    case HtmlTag::Footer:
    case HtmlTag::Form:
    case HtmlTag::Header:
    case HtmlTag::Hr:
    case HtmlTag::Legend:
    case HtmlTag::Listing:
    case HtmlTag::Main:
    case HtmlTag::P:
    case HtmlTag::Plaintext:
    case HtmlTag::Pre:
    case HtmlTag::Xmp:
    case HtmlTag::Search:
    case HtmlTag::Article:
    case HtmlTag::Aside:
    case HtmlTag::H1:
    case HtmlTag::H2:
    case HtmlTag::H3:
    case HtmlTag::H4:
    case HtmlTag::H5:
    case HtmlTag::H6:
    case HtmlTag::Hgroup:
    case HtmlTag::Nav:
    case HtmlTag::Section:
    case HtmlTag::Dir:
    case HtmlTag::Dd:
    case HtmlTag::Dl:
    case HtmlTag::Dt:
    case HtmlTag::Menu:
    case HtmlTag::Ol:
    case HtmlTag::Ul:
    case HtmlTag::Li:
    case HtmlTag::Fieldset:
    case HtmlTag::Details:
    case HtmlTag::Summary:
    case HtmlTag::Frameset:
    case HtmlTag::Optgroup:
    case HtmlTag::Option:
        return Display::Block;
    case HtmlTag::Table:
        return Display::Table;
    case HtmlTag::Caption:
        return Display::Caption;
    case HtmlTag::Thead:
    case HtmlTag::Tbody:
    case HtmlTag::Tfoot:
        return Display::RowGroup;
    case HtmlTag::Tr:
        return Display::Row;
    case HtmlTag::Td:
    case HtmlTag::Th:
        return Display::Cell;
    case HtmlTag::Img:
    case HtmlTag::Textarea:
    case HtmlTag::Iframe:
    case HtmlTag::Embed:
    case HtmlTag::Object:
    case HtmlTag::Video:
    case HtmlTag::Audio:
    case HtmlTag::Canvas:
    case HtmlTag::Meter:
    case HtmlTag::Progress:
    case HtmlTag::Frame:
    case HtmlTag::Keygen:
        return Display::Replaced;
    case HtmlTag::Select:
        return Display::InlineBlock;
    default:
        return tag.localName == u"button" ? Display::InlineBlock : Display::Inline;
    }
}

// The style of one element, inherited properties resolved against its parent's.
struct ComputedStyle
{
    Display display = Display::Block;
    WhiteSpace whiteSpace = WhiteSpace::Collapse;
    TextTransform textTransform = TextTransform::None;
    bool visible = true;
};

// The author's declarations over the user agent's style (ua) of an element whose parent's style is parent.
void applyDeclared(const css::DeclaredStyle &declared, const ComputedStyle &parent, ComputedStyle &style)
{
    using css::Property;
    using css::Wide;
    if (const std::optional<quint8> value = declared.value(Property::Display)) {
        Display display = style.display;
        if (*value == quint8(Wide::Inherit))
            display = parent.display;
        else if (*value == quint8(Wide::Initial))
            display = Display::Inline;
        else if (*value != quint8(Wide::Revert))
            display = Display(*value);
        style.display = display;
    }
    if (const std::optional<quint8> value = declared.value(Property::Visibility)) {
        if (*value == quint8(Wide::Inherit) || *value == quint8(Wide::Revert))
            style.visible = parent.visible;
        else if (*value == quint8(Wide::Initial))
            style.visible = true;
        else
            style.visible = *value == 1;
    }
    if (const std::optional<quint8> value = declared.value(Property::WhiteSpace)) {
        if (*value == quint8(Wide::Inherit))
            style.whiteSpace = parent.whiteSpace;
        else if (*value == quint8(Wide::Initial))
            style.whiteSpace = WhiteSpace::Collapse;
        else if (*value != quint8(Wide::Revert))
            style.whiteSpace = WhiteSpace(*value);
    }
    if (const std::optional<quint8> value = declared.value(Property::TextTransform)) {
        if (*value == quint8(Wide::Inherit) || *value == quint8(Wide::Revert))
            style.textTransform = parent.textTransform;
        else if (*value == quint8(Wide::Initial))
            style.textTransform = TextTransform::None;
        else
            style.textTransform = TextTransform(*value);
    }
}

ComputedStyle computeStyle(const DomTree &tree, int nodeIndex, const ComputedStyle &parent,
                           const css::AuthorStyles *authorStyles)
{
    const DomNode &element = tree.node(nodeIndex);
    ComputedStyle style;
    style.whiteSpace = parent.whiteSpace;
    style.visible = parent.visible;
    style.textTransform = parent.textTransform;
    const TagInfo &tag = tree.tagOf(element);
    style.display = defaultDisplay(tree, element);
    if (tag.ns == ElementNamespace::Html) {
        switch (tag.tag) {
        case HtmlTag::Pre:
        case HtmlTag::Listing:
        case HtmlTag::Xmp:
        case HtmlTag::Plaintext:
        case HtmlTag::Textarea:
            style.whiteSpace = WhiteSpace::PreserveAll;
            break;
        default:
            break;
        }
        if (tree.hasAttribute(element, u"hidden"))
            style.display = Display::None;
    }
    if (authorStyles) {
        if (const css::DeclaredStyle *declared = authorStyles->find(nodeIndex))
            applyDeclared(*declared, parent, style);
        return style;
    }
    const QStringView styleAttribute = tree.findAttribute(element, u"style");
    if (!styleAttribute.isEmpty())
        applyDeclared(parseStyleAttribute(styleAttribute), parent, style);
    return style;
}

bool isHtml(const DomTree &tree, const DomNode &node, HtmlTag tag)
{
    return node.kind == NodeKind::Element && tree.tagOf(node).tag == tag;
}

// Whether a child is laid out at all inside its parent, beyond the child's own display: a select shows only its
// options, a closed details only its first summary.
bool parentShowsChild(const DomTree &tree, int childIndex)
{
    const DomNode &child = tree.node(childIndex);
    if (child.parent < 0)
        return true;
    const DomNode &parent = tree.node(child.parent);
    if (isHtml(tree, parent, HtmlTag::Select))
        return isHtml(tree, child, HtmlTag::Option) || isHtml(tree, child, HtmlTag::Optgroup);
    if (isHtml(tree, parent, HtmlTag::Optgroup))
        return isHtml(tree, child, HtmlTag::Option);
    if (isHtml(tree, parent, HtmlTag::Details) && !tree.hasAttribute(parent, u"open")) {
        for (int i = child.parent + 1; i < parent.end; i = tree.node(i).end) {
            if (isHtml(tree, tree.node(i), HtmlTag::Summary))
                return i == childIndex;
        }
        return false;
    }
    return true;
}

// Collects the items of rendered-text collection as they come: strings, and required line break counts that
// merge with their neighbours and vanish at either end.
class TextCollector
{
public:
    QString result() const { return m_out; }

    void requiredBreak(int count)
    {
        m_pendingBreaks = std::max(m_pendingBreaks, count);
        lineBoundary();
    }

    // The edge of a block container: white space does not carry across it.
    void lineBoundary()
    {
        m_pendingSpace = false;
        m_lineStart = true;
    }

    void forcedString(QStringView text) // a br's LF, a cell's TAB, a row's LF
    {
        m_pendingSpace = false;
        append(text);
        m_lineStart = true;
    }

    // An atomic inline (an image, a form control): no text, but white space on both sides of it stays.
    void atomicInline()
    {
        flushSpace();
        m_lineStart = false;
    }

    void text(QStringView text, WhiteSpace mode, TextTransform transform)
    {
        if (text.isEmpty())
            return;
        if (transform != TextTransform::None) {
            this->text(transformedText(text, transform), mode, TextTransform::None);
            return;
        }
        if (mode == WhiteSpace::PreserveAll) {
            flushSpace();
            append(text);
            m_lineStart = text.back() == u'\n';
            return;
        }
        // Runs of visible characters are appended whole; only white space is looked at one character at a time.
        const qsizetype size = text.size();
        qsizetype i = 0;
        while (i < size) {
            const QChar c = text[i];
            if (c == u'\n' && mode == WhiteSpace::PreserveBreaks) {
                forcedString(u"\n");
                ++i;
                continue;
            }
            if (isCollapsible(c)) {
                if (!m_lineStart)
                    m_pendingSpace = true;
                ++i;
                continue;
            }
            qsizetype end = i + 1;
            while (end < size && !isCollapsible(text[end]))
                ++end;
            flushSpace();
            append(text.sliced(i, end - i));
            m_lineStart = false;
            i = end;
        }
    }

private:
    QString transformedText(QStringView text, TextTransform transform) const
    {
        if (transform == TextTransform::Uppercase)
            return text.toString().toUpper();
        if (transform == TextTransform::Lowercase)
            return text.toString().toLower();
        // Capitalize: the first letter of each word; an apostrophe does not start a word ("don't").
        const auto inWord = [](QChar c) { return c.isLetterOrNumber() || c == u'\'' || c == u'\u2019'; };
        QString out = text.toString();
        QChar previous = m_out.isEmpty() || m_pendingSpace || m_lineStart ? QChar(u' ') : m_out.back();
        for (QChar &c : out) {
            if (c.isLetter() && !inWord(previous))
                c = c.toTitleCase();
            previous = c;
        }
        return out;
    }

    void flushSpace()
    {
        if (m_pendingSpace && !m_lineStart)
            append(u" ");
        m_pendingSpace = false;
    }

    void append(QStringView text)
    {
        if (text.isEmpty())
            return;
        if (m_pendingBreaks > 0 && !m_out.isEmpty())
            m_out.append(QString(m_pendingBreaks, u'\n'));
        m_pendingBreaks = 0;
        m_out.append(text);
    }

    QString m_out;
    int m_pendingBreaks = 0;
    bool m_pendingSpace = false;
    bool m_lineStart = true;
};

// Whether a later sibling of this cell or row is a cell or row too (counting rows of later row groups).
bool isLastCell(const DomTree &tree, int cellIndex)
{
    const DomNode &cell = tree.node(cellIndex);
    if (cell.parent < 0)
        return true;
    const int rowEnd = tree.node(cell.parent).end;
    for (int i = cell.end; i < rowEnd; i = tree.node(i).end) {
        if (isHtml(tree, tree.node(i), HtmlTag::Td) || isHtml(tree, tree.node(i), HtmlTag::Th))
            return false;
    }
    return true;
}

bool isLastRow(const DomTree &tree, int rowIndex)
{
    const DomNode &row = tree.node(rowIndex);
    int table = row.parent;
    while (table >= 0 && !isHtml(tree, tree.node(table), HtmlTag::Table))
        table = tree.node(table).parent;
    if (table < 0)
        return true;
    // Rows after this one inside the same table, not inside a nested table.
    const int tableEnd = tree.node(table).end;
    for (int i = row.end; i < tableEnd;) {
        const DomNode &node = tree.node(i);
        if (isHtml(tree, node, HtmlTag::Tr))
            return false;
        if (isHtml(tree, node, HtmlTag::Table) || node.kind != NodeKind::Element)
            i = node.end;
        else
            ++i;
    }
    return true;
}

// With style sheets any element may be a cell or a row: whether a later sibling is given the same display.
bool hasLaterSiblingShownAs(const DomTree &tree, int nodeIndex, Display display, const ComputedStyle &parentStyle,
                            const css::AuthorStyles *authorStyles)
{
    const DomNode &node = tree.node(nodeIndex);
    if (node.parent < 0)
        return false;
    const int end = tree.node(node.parent).end;
    for (int i = node.end; i < end; i = tree.node(i).end) {
        if (tree.node(i).kind == NodeKind::Element &&
            computeStyle(tree, i, parentStyle, authorStyles).display == display)
            return true;
    }
    return false;
}

bool isTableStructure(Display display)
{
    return display == Display::Table || display == Display::RowGroup || display == Display::Row;
}

struct OpenElement
{
    int node;
    ComputedStyle style;
};

void leave(TextCollector &out, const DomTree &tree, const OpenElement &element, const ComputedStyle &parentStyle,
           const css::AuthorStyles *authorStyles)
{
    if (!element.style.visible)
        return;
    switch (element.style.display) {
    case Display::Cell:
        out.lineBoundary();
        if (authorStyles ? hasLaterSiblingShownAs(tree, element.node, Display::Cell, parentStyle, authorStyles)
                         : !isLastCell(tree, element.node))
            out.forcedString(u"\t");
        break;
    case Display::Row:
        out.lineBoundary();
        if (!isLastRow(tree, element.node) ||
            (authorStyles && hasLaterSiblingShownAs(tree, element.node, Display::Row, parentStyle, authorStyles)))
            out.forcedString(u"\n");
        break;
    case Display::InlineBlock:
        out.lineBoundary();
        out.atomicInline();
        break;
    case Display::Block:
    case Display::Table:
    case Display::Caption:
        out.requiredBreak(isHtml(tree, tree.node(element.node), HtmlTag::P) ? 2 : 1);
        break;
    default:
        break;
    }
}

// Opens an element; false when nothing of it is rendered (its subtree is skipped).
bool enter(TextCollector &out, const DomTree &tree, const OpenElement &element)
{
    const DomNode &node = tree.node(element.node);
    switch (element.style.display) {
    case Display::None:
        return false;
    case Display::Replaced:
        if (element.style.visible)
            out.atomicInline();
        return false;
    case Display::Block:
    case Display::Table:
    case Display::Caption:
        if (element.style.visible)
            out.requiredBreak(isHtml(tree, node, HtmlTag::P) ? 2 : 1);
        return true;
    case Display::Cell:
    case Display::Row:
        out.lineBoundary();
        return true;
    case Display::InlineBlock:
        out.atomicInline();
        out.lineBoundary();
        return true;
    case Display::RowGroup:
    case Display::Inline:
        break;
    }
    if (isHtml(tree, node, HtmlTag::Br)) {
        if (element.style.visible)
            out.forcedString(u"\n");
        return false;
    }
    return true;
}

// The styles of an element's ancestors, outermost first; none when the element is not being rendered.
std::optional<ComputedStyle> styleIfRendered(const DomTree &tree, int nodeIndex, const css::AuthorStyles *authorStyles)
{
    const DomNode &target = tree.node(nodeIndex);
    if (target.inTemplate)
        return std::nullopt;
    std::vector<int> chain;
    for (int i = nodeIndex; i >= 0; i = tree.node(i).parent)
        chain.push_back(i);
    ComputedStyle style;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!parentShowsChild(tree, *it))
            return std::nullopt;
        style = computeStyle(tree, *it, style, authorStyles);
        const bool isTarget = *it == nodeIndex;
        if (style.display == Display::None || (style.display == Display::Replaced && !isTarget))
            return std::nullopt;
    }
    return style;
}

} // namespace

QString innerText(const DomTree &tree, int nodeIndex, const css::AuthorStyles *authorStyles)
{
    const std::optional<ComputedStyle> rootStyle = styleIfRendered(tree, nodeIndex, authorStyles);
    if (!rootStyle || rootStyle->display == Display::Replaced)
        return tree.descendantText(nodeIndex);

    TextCollector out;
    std::vector<OpenElement> open{{nodeIndex, *rootStyle}};
    const int end = tree.node(nodeIndex).end;
    int i = nodeIndex + 1;
    while (i < end) {
        while (open.size() > 1 && tree.node(open.back().node).end <= i) {
            leave(out, tree, open.back(), open[open.size() - 2].style, authorStyles);
            open.pop_back();
        }
        const DomNode &node = tree.node(i);
        const OpenElement &parent = open.back();
        if (!parentShowsChild(tree, i)) {
            i = node.end;
            continue;
        }
        if (node.kind == NodeKind::Text) {
            // White space between table parts makes no box; other text there was moved out by the parser.
            if (parent.style.visible && !isTableStructure(parent.style.display))
                out.text(tree.textOf(node), parent.style.whiteSpace, parent.style.textTransform);
            ++i;
            continue;
        }
        if (node.kind == NodeKind::Comment) {
            ++i;
            continue;
        }
        OpenElement element{i, computeStyle(tree, i, parent.style, authorStyles)};
        if (!enter(out, tree, element)) {
            i = node.end;
            continue;
        }
        open.push_back(element);
        ++i;
    }
    while (open.size() > 1) {
        leave(out, tree, open.back(), open[open.size() - 2].style, authorStyles);
        open.pop_back();
    }
    return out.result();
}

} // namespace qh::browser::rendering
