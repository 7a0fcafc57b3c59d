#pragma once

#include "browser/html/authorstyles.h"
#include "browser/html/domtree.h"

#include <QString>

// innerText as the HTML standard's rendered-text collection defines it, with the user agent's default style sheet
// and the author's: the page's sheets as cascaded in authorStyles, or without them the elements' style attributes
// alone (no layout, so no soft wraps).
namespace qh::browser::rendering {

QString innerText(const DomTree &tree, int nodeIndex, const css::AuthorStyles *authorStyles = nullptr);

} // namespace qh::browser::rendering
