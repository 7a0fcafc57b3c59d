#pragma once

#include "browser/browser.h"
#include "browser/html/parserunner.h"
#include "browser/html/staticdocument.h"
#include "browser/html/stylesheetloader.h"
#include "browser/net/pagefetcher.h"

#include <chrono>
#include <optional>

namespace qh::browser {

class PageFetcher;

// The default engine: fetches a page with its own HTTP client and builds a static document from its bytes on a
// worker thread. No scripts run; besides the page only its style sheets are loaded (innerText follows them), each
// address once for the browser's lifetime, with the page's cookies, proxy and caps. The page is complete once its
// sheets are in or have failed; a sheet that fails is left out, and the load does not fail for it.
//
// Navigate accepts http, https and file addresses. A load fails (and no document is kept) on network errors,
// time-outs, HTTP 4xx and 5xx, answers that are no HTML page, answers over the size cap and pages whose parse
// passes the time limit.
class StaticBrowser : public Browser
{
    Q_OBJECT

public:
    explicit StaticBrowser(QObject *parent = nullptr);
    ~StaticBrowser() override;

    void Navigate(const QUrl &url) override;
    void stop() override;
    State ReadyState() const override { return m_state; }
    std::shared_ptr<const Document> GetHtmlDocument() const override { return m_document; }
    LoadError lastError() const override { return m_error; }

    // Settings for later loads. The user agent defaults to the text the grabbing browser has always sent.
    void setUserAgent(const QString &userAgent);
    QString userAgent() const;
    // An HTTP proxy; an empty host means a direct connection.
    void setProxy(const QString &host, quint16 port);
    void setTransferTimeout(std::chrono::milliseconds timeout);
    // The most one page's whole fetch may take, however slowly its data comes.
    void setTotalTimeout(std::chrono::milliseconds timeout);
    void setMaxResponseBytes(qint64 maxBytes);
    void setParseTimeLimit(std::chrono::milliseconds limit);
    // Whether linked style sheets are loaded (on by default); a browser that reads only titles does without.
    void setLoadsStyleSheets(bool loads) { m_loadsStyleSheets = loads; }
    // Replaces the HTML parser, for tests that need a slow or failing one.
    void setParseFunction(ParseFunction parse);

    // With a hint, the address that a fetched page's next link names is requested while the page is still being
    // parsed, over the same connection, and parsed as soon as it arrives, so the next Navigate finds it parsed, in
    // the parser or on its way.
    void setNextLinkHint(const QString &linkName) override;

private:
    enum class Fetching
    {
        Nothing,
        Page,     // what Navigate asked for
        NextPage, // the early request for the next page
    };

    void connectParser(ParseRunner *runner);
    void onPageFetched(const FetchResult &result);
    void requestNextPageEarly(const FetchResult &page);
    void dropEarlyRequest();
    bool takeEarlyParse(const FetchResult &page);
    void onFetched(const FetchResult &result);
    void onParsed(std::shared_ptr<const Document> document);
    void onParseFailed(const QString &cause);
    void onSheetsLoaded();
    // The page read through the sheets the loader holds.
    std::shared_ptr<const Document> styled(const std::shared_ptr<const StaticDocument> &page) const;
    void abandonSheets();
    void finish(LoadError error);

    PageFetcher *m_fetcher;
    // The two parsers trade places: the early page's parse becomes the load's when Navigate asks for that page.
    ParseRunner *m_parser;      // the page Navigate asked for
    ParseRunner *m_earlyParser; // the next page, parsed before it is asked for
    StyleSheetLoader *m_sheetLoader;
    bool m_loadsStyleSheets = true;
    // The parsed page while its linked sheets load.
    std::shared_ptr<const StaticDocument> m_unstyled;
    QUrl m_url;
    State m_state = State::Uninitialized;
    LoadError m_error;
    std::shared_ptr<const Document> m_document;
    // Counts loads, so that a queued notice of an abandoned one can tell it is stale.
    quint64 m_generation = 0;

    Fetching m_fetching = Fetching::Nothing;
    QString m_nextLinkHint;
    QUrl m_earlyUrl;                    // the next page asked for early
    std::optional<FetchResult> m_early; // its answer, once arrived and not yet asked for
    bool m_navigateAwaitsEarly = false; // Navigate asked for it while it was on its way
    // The outcome of the early page's parse, once it has ended: a document or why there is none.
    std::shared_ptr<const Document> m_earlyDocument;
    QString m_earlyFailure;
};

} // namespace qh::browser
