#pragma once

#include "browser/document.h"
#include "templates/elementanchor.h"

#include <QString>
#include <QStringView>

// Anchors made from a page's elements, and the test of an element against one. An anchor tells the element a
// template recorded from its neighbours whatever position it has moved to, and refuses an element of another kind
// that has come to stand at the recorded position (an ad block before the chapter text, say).
namespace qh::engine {

// The anchor of element: its tag, id and classes and those of its ancestors up to the nearest one with an id or
// BODY; for an A element also its rel and its text.
templates::ElementAnchor anchorOf(const browser::Element &element);

// How well an element fits an anchor, worst first. Exact: its own node is the anchor's, and so are its nearest
// ancestors, one for one. Compatible: its own node is the anchor's and the recorded ancestors stand among its
// ancestors in the same order, with others between them (a wrapper the site has added).
enum class AnchorFit
{
    None,
    Compatible,
    Exact,
};

// Tag, id and classes of element against the anchor, then its ancestors.
AnchorFit fitOf(const templates::ElementAnchor &anchor, const browser::Element &element);

// The same test for a next link taken by its place: its rel must be the anchor's as well; its text is not compared,
// since the link of a chapter's last page reads otherwise than that of its other pages.
AnchorFit linkPlaceFitOf(const templates::ElementAnchor &anchor, const browser::Element &element);

// Whether a link's text says it leads on: "下一页", "下一章", "Next" and the like, with blanks and arrows around it.
bool readsAsNextPage(QStringView linkText);

} // namespace qh::engine
