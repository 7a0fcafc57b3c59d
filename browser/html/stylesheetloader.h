#pragma once

#include "browser/html/stylesheet.h"
#include "browser/net/pagefetcher.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QUrl>

#include <memory>

namespace qh::browser {

// Loads the style sheets pages link to, one at a time through its fetcher, and keeps each address's outcome (the
// parsed sheet, or that it failed) for as long as the loader lives, so a book of two thousand pages costs one
// request per distinct sheet. A sheet that fails (an HTTP error, a time-out, no connection) is simply absent.
// Imports of loaded sheets are loaded too.
class StyleSheetLoader : public QObject
{
    Q_OBJECT

public:
    // Past this many kept addresses the next round starts afresh (a long session visits many sites).
    static constexpr int MaxKeptSheets = 256;
    // Sheets one round loads at most, imports included; further ones are skipped.
    static constexpr int MaxSheetsPerRound = 32;

    // The fetcher is used for sheets alone; the loader takes it as its child.
    explicit StyleSheetLoader(PageFetcher *fetcher, QObject *parent = nullptr);

    PageFetcher &fetcher() { return *m_fetcher; }

    // Starts loading those of urls that are not known yet; finished follows from the event loop, also when
    // nothing needs loading. A round still running is abandoned.
    void load(const QList<QUrl> &urls);
    // Abandons the running round without a signal; what it had loaded stays known.
    void abandon();
    bool isRunning() const { return m_running; }
    // Forgets every kept sheet once there are too many; call it before finding out what a page still needs.
    void trim();

    bool knows(const QUrl &url) const { return m_sheets.contains(url); }
    // The sheet loaded from url, or null when it failed or was never loaded.
    std::shared_ptr<const css::StyleSheet> sheet(const QUrl &url) const { return m_sheets.value(url); }

Q_SIGNALS:
    void finished();

private:
    void fetchNext();
    void onFetched(const FetchResult &result);

    PageFetcher *m_fetcher;
    QHash<QUrl, std::shared_ptr<const css::StyleSheet>> m_sheets; // null for a sheet that failed
    QList<QUrl> m_queue;
    int m_fetched = 0; // in this round
    bool m_running = false;
    quint64 m_round = 0;
};

// The text of a style sheet's bytes: a byte-order mark, else the Content-Type's charset, else an @charset rule,
// else UTF-8.
QString decodeStyleSheet(const QByteArray &bytes, const QByteArray &contentType);

} // namespace qh::browser
