#pragma once

#include "templates/elementanchor.h"
#include "templates/enginekey.h"
#include "templates/templatestore.h"

#include <QString>

namespace qh::templates {

// The six grab values a definition records, as the engine reads them back, and the engine that reads them.
// Tag names are upper case as the document gives them; texts are decoded UTF-16.
struct TemplateValues
{
    QString linkname;
    int ititleindex = -1;
    int icontentindex = -1;
    int iparentindex = -1;
    QString sContentTagname;
    QString sTitleTagname;
    GrabEngine engine = GrabEngine::Static;
    // The elements' anchors, from the sample page; empty ones are not written.
    ElementAnchor titleAnchor = {};
    ElementAnchor contentAnchor = {};
    ElementAnchor linkAnchor = {};
};

// The engine of the first template named name; static when there is none or its record lacks the key.
GrabEngine engineOfTemplate(const TemplateStore &store, const QString &name);

// Stores a definition under name: an existing template keeps its place and its head and gets the new values; a
// new name gets a record with head at the end of the store. The values are written in the wizard's order, so a
// new record holds its keys in the usual order. The caller has checked that name is not empty and, for a new
// name, that head is not empty.
//
// A web template gets "sEngine=web" after the six values. A static one gets no sEngine line, so its record is what
// older versions wrote; only a template that was a web one has its line rewritten to "sEngine=static". Anchors
// follow; an empty one is written only to clear an anchor the record has, so that it cannot outlive the positions
// it was made with. A multi-line link markup is stored with storedLinkname.
void storeTemplateValues(TemplateStore &store, const QString &name, const QString &head, const TemplateValues &values);

} // namespace qh::templates
