#pragma once

#include "browser/document.h"

#include <QObject>
#include <QUrl>

#include <chrono>
#include <memory>

namespace qh::browser {

// The user-agent text that the grabbing browser sends unless told otherwise.
inline QString defaultUserAgent()
{
    return QStringLiteral("Mozilla/4.0(compatible;MSIE 6.0;Windows NT 5.1;SV1;.NET CLR 1.1.4322;.NET CLR 2.0.50727)");
}

// Why a load failed. The grabber decides from kind and httpStatus whether trying again can help.
struct LoadError
{
    enum class Kind
    {
        None,
        Network,     // connection refused, reset, DNS ...
        Timeout,     // no complete answer within the transfer time-out
        Tls,         // certificate or handshake failure
        HttpStatus,  // the server answered 4xx or 5xx; httpStatus holds it
        NotHtml,     // the answer is no HTML page
        TooLarge,    // the answer passes the size cap
        ParseFailed, // the page could not be turned into a document (parse time limit)
        Stopped,     // stop() abandoned the load
    };

    Kind kind = Kind::None;
    int httpStatus = 0;
    int retryAfterSeconds = -1; // from a Retry-After header (seconds or a date), -1 when absent
    QString message;            // names the address and the cause, ready to show

    bool isError() const { return kind != Kind::None; }
};

// A page-loading browser, as the grabber, the add operation and the wizard use it: Navigate returns at once, and
// loadFinished tells when the page is complete or has failed.
class Browser : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        Uninitialized = 0,
        Loading = 1,
        Complete = 4,
    };

    using QObject::QObject;

    // Starts loading url and returns at once; a load still running is abandoned (no signal for it).
    virtual void Navigate(const QUrl &url) = 0;
    // Abandons a running load at once; loadFinished(false) follows with a "stopped" error.
    virtual void stop() = 0;

    virtual State ReadyState() const = 0;

    // The loaded page as an HTML document, or null when the last load failed or is still running. Shared so that a
    // reader may keep it after the next navigation.
    virtual std::shared_ptr<const Document> GetHtmlDocument() const = 0;

    // After a script link of the current page has been clicked: loadFinished follows once the page that the script
    // loads is complete, or, when it starts no load within grace (or, on an engine that can tell, within the time
    // the page needs to count as settled when that is shorter), once the current page has been read again and has
    // settled (Document::isSettled), or at the latest after limit (then GetHtmlDocument() returns the same document
    // as before: the script replaced the page in place, or did nothing). An engine that runs no scripts has no
    // clicked script links: it answers with a failed load.
    virtual void awaitScriptNavigation(std::chrono::milliseconds grace, std::chrono::milliseconds limit);

    // The inner markup of the link that leads to the next page, while a book is being grabbed; empty otherwise. An
    // engine may use it to request that page early; what Navigate delivers is the same either way.
    virtual void setNextLinkHint(const QString &linkName) { Q_UNUSED(linkName); }

    // Why the last load failed; kind None after a successful load.
    virtual LoadError lastError() const = 0;

Q_SIGNALS:
    // Emitted once per Navigate, never from within Navigate itself.
    void loadFinished(bool ok);
};

} // namespace qh::browser
