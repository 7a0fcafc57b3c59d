#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// What the web engine reads of a live page in one go: every element in document order with the values the
// document model offers. Read by a script of our own in a world apart from the page's scripts, which can neither
// see nor change it.
namespace qh::browser {

struct WebSnapshot
{
    QUrl url; // where the page is now (a script may have changed it without loading)
    QString title;
    QString contentType;
    // A refresh header in the page that leads elsewhere: seconds until the browser follows it; -1 without one.
    double refreshSeconds = -1;
    QStringList tags;
    QList<int> parents;
    QStringList texts;
    QStringList innerHtmls;
    QStringList startTags;         // outerHTML = start tag + innerHTML + end tag
    QStringList endTags;           // empty for void elements
    QList<QStringList> attributes; // name, value, name, value ...

    qsizetype size() const { return tags.size(); }
    // A page the document model can read, by the same rule as a fetched page's Content-Type.
    bool isPage() const;
};

// The script that reads a snapshot; its result is the JSON text parseWebSnapshot reads.
QString webSnapshotScript();
// None when the text is no snapshot (the page went away mid-read, or a script broke the reader).
std::optional<WebSnapshot> parseWebSnapshot(const QByteArray &json);

// The script that runs the activation behaviour of the element at index in document order.
QString webClickScript(int index);

} // namespace qh::browser
