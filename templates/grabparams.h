#pragma once

#include "templates/elementanchor.h"

#include <QString>

namespace qh::templates {

// Which browser engine loads a template's pages: the static one reads the page as the server sent it; the web one
// runs its scripts first. Template key "sEngine": "web" selects the web engine, anything else the static one.
enum class GrabEngine
{
    Static,
    Web,
};

// The engine's working set: one template's grab parameters, fields named after the template keys. Integers are
// element positions in the document's list of all elements, -1 when the template lacks the key.
struct GrabParams
{
    QString linkname;        // inner markup of the next-page link, compared exactly
    int ititleindex = -1;    // position of the chapter-title element
    int icontentindex = -1;  // position of the chapter-text element
    int iparentindex = -1;   // position of the chapter-text element's parent
    QString sContentTagname; // tag name of the chapter-text element, upper case as the document model gives it
    QString sTitleTagname;   // tag name of the chapter-title element
    GrabEngine engine = GrabEngine::Static;
    // What the title, text and link elements were like on the sample page; empty when the template predates them.
    ElementAnchor titleAnchor = {};
    ElementAnchor contentAnchor = {};
    ElementAnchor linkAnchor = {};

    friend bool operator==(const GrabParams &, const GrabParams &) = default;
};

} // namespace qh::templates
