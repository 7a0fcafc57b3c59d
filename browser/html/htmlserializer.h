#pragma once

#include "browser/html/domtree.h"

#include <QString>

// The HTML standard's fragment serialisation, as a browser's innerHTML and outerHTML return it (scripting enabled,
// so a noscript's text is written as it is).
namespace qh::browser::html {

QString innerHtml(const DomTree &tree, int nodeIndex);
QString outerHtml(const DomTree &tree, int nodeIndex);

} // namespace qh::browser::html
