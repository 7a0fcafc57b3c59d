#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// What the web engine reads of a live page in one go: every element in document order with its tag, parent and
// attributes, and (in a full reading) its innerText and innerHTML. Read by a script of our own in a world apart from
// the page's scripts, which can neither see nor change it. A watcher in that world counts the page's changes, so a
// reading can tell whether the page has changed since the one before and how long it has been quiet.
namespace qh::browser {

struct WebSnapshot
{
    QUrl url; // where the page is now (a script may have changed it without loading)
    QString title;
    QString contentType;
    // A refresh header in the page that leads elsewhere: seconds until the browser follows it; -1 without one.
    double refreshSeconds = -1;
    // The watcher's count of changes to the document when it was read; -1 when the page has no watcher.
    qint64 changes = -1;
    bool complete = false; // the page had completed loading
    double quietMs = 0;    // since the page last changed, or completed, whichever came later
    int requestsEnded = 0; // the page's script and data requests that had come back
    QStringList tags;
    QList<int> parents;
    QStringList startTags;         // outerHTML = start tag + innerHTML + end tag
    QStringList endTags;           // empty for void elements
    QList<QStringList> attributes; // name, value, name, value ...
    // Empty in a reading of the structure only: the values are then read element by element when asked for.
    QStringList texts;
    QStringList innerHtmls;

    qsizetype size() const { return tags.size(); }
    bool hasValues() const { return texts.size() == tags.size() && innerHtmls.size() == tags.size(); }
    // A page the document model can read, by the same rule as a fetched page's Content-Type.
    bool isPage() const;
};

// The watcher: installed in every page of the web engine at document creation, in our own script world.
QString webWatchScript();
// Lays the document out as if its window were this many CSS pixels wide (see WebBrowser::setLayoutWidth).
QString webLayoutScript(int widthPx);

// The script that reads a snapshot; its result is the JSON text parseWebSnapshot reads. withValues: the elements'
// innerText and innerHTML as well. knownChanges >= 0: when the page has not changed since a reading with that count,
// the result holds only the counts and times, and parseWebSnapshot gives the snapshot with no elements and
// unchanged set.
QString webSnapshotScript(bool withValues = true, qint64 knownChanges = -1);
// None when the text is no snapshot (the page went away mid-read, or a script broke the reader). unchanged: set
// when the text says the page is as it was at the reading asked about.
std::optional<WebSnapshot> parseWebSnapshot(const QByteArray &json, bool *unchanged = nullptr);

// What to read of one element.
enum class WebValue
{
    InnerText = 0,
    InnerHtml = 1,
};

// The script that reads values of elements of the latest snapshot (its elements, by their index in it), as JSON: an
// array of strings in the order asked, or null when the page has changed since that snapshot was read.
QString webValuesScript(qint64 changes, const QList<std::pair<int, WebValue>> &wanted);
// The values, or none when the page had changed (or the answer is no answer).
std::optional<QStringList> parseWebValues(const QByteArray &json, qsizetype expected);

// The script that runs the activation behaviour of the element at index in document order.
QString webClickScript(int index);

} // namespace qh::browser
