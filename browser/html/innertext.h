#pragma once

#include "browser/html/domtree.h"

#include <QString>

// innerText as the HTML standard's rendered-text collection defines it, with the user agent's default style sheet
// and the elements' own style attributes standing in for CSS (no style sheets, no layout, so no soft wraps).
namespace qh::browser::rendering {

QString innerText(const DomTree &tree, int nodeIndex);

} // namespace qh::browser::rendering
