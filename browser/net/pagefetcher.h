#pragma once

#include "browser/browser.h"

#include "browser/net/connectionpool.h"
#include "browser/net/decompressor.h"
#include "browser/net/httpconnection.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>

class QNetworkCookieJar;

namespace qh::browser {

// What one fetch brought back: the page's bytes, or why there are none.
struct FetchResult
{
    LoadError error;        // kind None on success
    QUrl url;               // the address asked for
    QUrl finalUrl;          // after redirects
    QByteArray body;        // decompressed; empty on failure
    QByteArray contentType; // the Content-Type header as sent; empty when absent (and for files)
};

// Fetches one page at a time over http, https or file with a small HTTP/1.1 client of its own: kept-alive
// connections (one idle per host), redirects, gzip and deflate, cookies kept for the fetcher's lifetime, a proxy,
// a transfer time-out and a size cap. Everything runs on the caller's thread from its event loop. Error pages never
// come back as pages: HTTP 4xx and 5xx, time-outs and answers that are no HTML are failures.
class PageFetcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxRedirects = 10;
    static constexpr qint64 DefaultMaxBytes = qint64(32) << 20;
    static constexpr std::chrono::milliseconds DefaultTransferTimeout{60'000};
    static constexpr std::chrono::milliseconds DefaultTotalTimeout{120'000};

    explicit PageFetcher(QObject *parent = nullptr);
    ~PageFetcher() override;

    void setUserAgent(const QString &userAgent) { m_userAgent = userAgent; }
    QString userAgent() const { return m_userAgent; }
    // An HTTP proxy for every later fetch; an empty host means a direct connection (no system proxy either).
    void setProxy(const QString &host, quint16 port);
    // Given up when no data moves for this long, connecting included.
    void setTransferTimeout(std::chrono::milliseconds timeout) { m_transferTimeout = timeout; }
    // Given up when the whole fetch, redirects included, takes longer than this, however the data trickles in.
    void setTotalTimeout(std::chrono::milliseconds timeout) { m_totalTimeout = timeout; }
    // Answers longer than this, compressed or not, are refused.
    void setMaxBytes(qint64 maxBytes) { m_maxBytes = maxBytes; }
    // From now on sends and keeps the cookies of other (which must outlive this fetcher), so that what one page
    // set reaches the files it loads.
    void shareCookiesWith(const PageFetcher &other);

    // Starts fetching url, abandoning a fetch still running (its finished never comes). Returns at once;
    // finished follows from the event loop.
    void fetch(const QUrl &url);
    // Abandons the running fetch, if any, without a signal. Its connection is closed, never reused.
    void abandon();
    bool isRunning() const { return m_running; }

Q_SIGNALS:
    void finished(const qh::browser::FetchResult &result);

private:
    void readLocalFile();
    void startRequest();
    void sendRequest(ConnectionPtr connection);
    QByteArray requestFor(const ConnectionTarget &target) const;
    void onProgressed();
    void onConnectionFailed(LoadError::Kind kind, const QString &cause);
    bool retryOnFreshConnection();
    bool handleHead();
    void followRedirect(const QByteArray &location);
    bool takeBody();
    void completePage();
    void releaseConnection();
    void fail(LoadError::Kind kind, const QString &cause, int httpStatus = 0, int retryAfterSeconds = -1);
    void complete(FetchResult result);

    QNetworkCookieJar *m_cookies;
    QString m_userAgent;
    QString m_proxyHost;
    quint16 m_proxyPort = 0;
    std::chrono::milliseconds m_transferTimeout = DefaultTransferTimeout;
    std::chrono::milliseconds m_totalTimeout = DefaultTotalTimeout;
    qint64 m_maxBytes = DefaultMaxBytes;

    ConnectionPool m_pool;
    ConnectionPtr m_connection; // carries the running request
    QTimer m_transferTimer;
    QTimer m_totalTimer;

    // The running fetch.
    bool m_running = false;
    bool m_inFetch = false;   // finished must then wait for the event loop
    quint64 m_generation = 0; // tells a queued finished of an abandoned fetch apart
    QUrl m_url;
    QUrl m_currentUrl; // after the redirects so far
    int m_redirects = 0;
    bool m_retried = false;
    bool m_headHandled = false;
    std::unique_ptr<Decompressor> m_decompressor;
    QByteArray m_body;
};

// "无法打开“address”：cause", the form every load failure message takes.
QString loadFailureMessage(const QUrl &url, const QString &cause);

// Seconds to wait from a Retry-After value: delta seconds or an HTTP date (taken relative to now, 0 when past);
// -1 when the value is neither.
int parseRetryAfter(const QByteArray &value, const QDateTime &now);

// Whether a Content-Type header names something the parser should read as a page: HTML, XHTML, any text, or
// nothing at all. Images, archives, PDF and the like are refused.
bool isPageContentType(const QByteArray &contentType);

} // namespace qh::browser
