#pragma once

#include "browser/html/domtree.h"
#include "browser/html/stylesheet.h"

#include <QList>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

// Which style sheets a page applies, in the order the cascade takes them.
namespace qh::browser::css {

// A style element's sheet (parsed) or a linked sheet's address, in document order; sources whose media do not hold
// are left out.
struct StyleSource
{
    std::shared_ptr<const StyleSheet> sheet; // a style element's; null for a link
    QUrl url;                                // a link's, without its fragment
};

// The page's style elements (parsed now) and stylesheet links, resolved against its base address.
std::vector<StyleSource> collectStyleSources(const DomTree &tree, const QUrl &documentUrl);

// A loaded sheet by address: null when it failed or is not loaded.
using SheetLookup = std::function<std::shared_ptr<const StyleSheet>(const QUrl &)>;
// Whether an address was tried (loaded or failed).
using SheetKnown = std::function<bool(const QUrl &)>;

// The addresses still to load for these sources: links and imports that are not known, found through the sheets
// that are.
QList<QUrl> sheetsToLoad(const std::vector<StyleSource> &sources, const SheetLookup &lookup, const SheetKnown &known);

// The sheets in cascade order: each source's imports (whose media hold) before its own rules. Sheets that failed
// or import each other in a circle are skipped; sheets without rules are left out.
std::vector<std::shared_ptr<const StyleSheet>> cascadeOrder(const std::vector<StyleSource> &sources,
                                                            const SheetLookup &lookup);

} // namespace qh::browser::css
