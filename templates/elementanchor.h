#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace qh::templates {

// The template keys that hold the anchors of the title, the text and the next link. Readers that know only the six
// grab keys skip them, like any other key.
inline constexpr QStringView TitleAnchorKey = u"sTitleAnchor";
inline constexpr QStringView ContentAnchorKey = u"sContentAnchor";
inline constexpr QStringView LinkAnchorKey = u"sLinkAnchor";

// One element as a template remembers its kind: tag name (upper case), id and classes (sorted, no duplicates).
struct AnchorNode
{
    QString tag = {};
    QString id = {};
    QStringList classes = {};

    friend bool operator==(const AnchorNode &, const AnchorNode &) = default;
};

// What the clicked element was, beyond its position: the element itself and its ancestors, nearest first, up to
// and including the nearest one with an id, or up to BODY. For a link also its rel and its text (whitespace
// collapsed). An empty anchor (no tag) means the template has none, and the engine then goes by position alone.
struct ElementAnchor
{
    AnchorNode element = {};
    QList<AnchorNode> ancestors = {};
    QString rel = {};
    QString text = {};

    bool isEmpty() const { return element.tag.isEmpty(); }
    friend bool operator==(const ElementAnchor &, const ElementAnchor &) = default;
};

// The anchor as one line of the template file: "1|TAG;id;classes;rel;text|TAG;id;classes|...", the first field a
// version, one field per node, classes separated by blanks, and "%", "|", ";", CR and LF in values as %XX. Empty for
// an empty anchor.
QString formatAnchor(const ElementAnchor &anchor);

// The anchor written by formatAnchor; an empty anchor for an empty value, a missing key ("-1") or anything
// malformed or of another version, so that a damaged key costs the anchor and nothing else.
ElementAnchor parseAnchor(QStringView value);

// The value of the "linkname" key for a link's inner markup. Markup spread over several lines is stored escaped
// behind a marker, on one line, so that it survives the file's line structure; an older reader then sees a link name
// that matches no link, where it used to see the first line and stray keyless lines. Other markup is stored as is.
QString storedLinkname(const QString &markup);
// The inner markup stored by storedLinkname; values without the marker are returned unchanged.
QString linknameOfStored(const QString &stored);

} // namespace qh::templates
