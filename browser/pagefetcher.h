#pragma once

#include "browser/browser.h"

#include <QByteArray>
#include <QDateTime>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>

class QNetworkAccessManager;

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

// Fetches one page at a time over http, https or file with Qt Network: redirects, gzip and deflate, cookies kept
// for the fetcher's lifetime, a proxy, a transfer time-out and a size cap. Error pages never come back as pages:
// HTTP 4xx and 5xx, time-outs and answers that are no HTML are failures.
class PageFetcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxRedirects = 10;
    static constexpr qint64 DefaultMaxBytes = qint64(32) << 20;
    static constexpr std::chrono::milliseconds DefaultTransferTimeout{60'000};

    explicit PageFetcher(QObject *parent = nullptr);
    ~PageFetcher() override;

    void setUserAgent(const QString &userAgent) { m_userAgent = userAgent; }
    QString userAgent() const { return m_userAgent; }
    // An HTTP proxy for every later fetch; an empty host means a direct connection (no system proxy either).
    void setProxy(const QString &host, quint16 port);
    // Given up when no data moves for this long.
    void setTransferTimeout(std::chrono::milliseconds timeout) { m_transferTimeout = timeout; }
    // Answers longer than this, compressed or not, are refused.
    void setMaxBytes(qint64 maxBytes) { m_maxBytes = maxBytes; }

    // Starts fetching url, abandoning a fetch still running (its finished never comes). Returns at once;
    // finished follows from the event loop.
    void fetch(const QUrl &url);
    // Abandons the running fetch, if any, without a signal.
    void abandon();
    bool isRunning() const { return m_reply != nullptr; }

Q_SIGNALS:
    void finished(const qh::browser::FetchResult &result);

private:
    void onMetaDataChanged();
    void onReadyRead();
    void onFinished();
    void fail(LoadError::Kind kind, const QString &cause, int httpStatus = 0, int retryAfterSeconds = -1);
    void complete(FetchResult result);
    void detachReply();

    QNetworkAccessManager *m_manager;
    QPointer<QNetworkReply> m_reply;
    QUrl m_url;
    QByteArray m_body;
    QString m_userAgent;
    std::chrono::milliseconds m_transferTimeout = DefaultTransferTimeout;
    qint64 m_maxBytes = DefaultMaxBytes;
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
