#pragma once

#include <QString>

namespace qh::templates {

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

    friend bool operator==(const GrabParams &, const GrabParams &) = default;
};

} // namespace qh::templates
