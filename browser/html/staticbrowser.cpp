#include "browser/html/staticbrowser.h"

#include "browser/html/nextpageguess.h"
#include "browser/net/pagefetcher.h"

#include <QTimer>

#include <algorithm>

#include <utility>

using namespace Qt::StringLiterals;

namespace qh::browser {

StaticBrowser::StaticBrowser(QObject *parent)
    : Browser(parent), m_fetcher(new PageFetcher(this)), m_parser(new ParseRunner(this)),
      m_earlyParser(new ParseRunner(this)), m_sheetLoader(new StyleSheetLoader(new PageFetcher, this))
{
    // Sheets come over a fetcher of their own, so they never wait for the early request of the next page, but
    // with the same cookies.
    m_sheetLoader->fetcher().shareCookiesWith(*m_fetcher);
    connect(m_fetcher, &PageFetcher::finished, this, &StaticBrowser::onFetched);
    connect(m_sheetLoader, &StyleSheetLoader::finished, this, &StaticBrowser::onSheetsLoaded);
    connectParser(m_parser);
    connectParser(m_earlyParser);
}

StaticBrowser::~StaticBrowser()
{
    // The children would go anyway; abandoning first keeps their last signals from reaching a half-gone browser.
    m_fetcher->abandon();
    m_parser->abandon();
    m_earlyParser->abandon();
    m_sheetLoader->abandon();
}

void StaticBrowser::connectParser(ParseRunner *runner)
{
    // What a runner reports depends on its role at the time it reports.
    connect(runner, &ParseRunner::parsed, this, [this, runner](std::shared_ptr<const Document> document) {
        if (runner == m_parser)
            onParsed(std::move(document));
        else
            m_earlyDocument = std::move(document);
    });
    connect(runner, &ParseRunner::failed, this, [this, runner](const QString &cause) {
        if (runner == m_parser)
            onParseFailed(cause);
        else
            m_earlyFailure = cause;
    });
}

void StaticBrowser::Navigate(const QUrl &url)
{
    ++m_generation;
    m_parser->abandon();
    abandonSheets();
    m_url = url;
    m_state = State::Loading;
    m_error = LoadError();
    m_document.reset();

    const bool early = !m_earlyUrl.isEmpty() && url == m_earlyUrl;
    if (early && m_fetching == Fetching::NextPage) {
        m_navigateAwaitsEarly = true; // on its way: its answer is this load's
        return;
    }
    if (early && m_early) {
        FetchResult result = *std::exchange(m_early, std::nullopt);
        m_earlyUrl.clear();
        if (takeEarlyParse(result))
            return;
        // From the event loop, so that Navigate never emits loadFinished itself.
        const quint64 generation = m_generation;
        QTimer::singleShot(0, this, [this, generation, result = std::move(result)] {
            if (generation == m_generation)
                onPageFetched(result);
        });
        return;
    }
    dropEarlyRequest();
    m_fetching = Fetching::Page;
    // Replies never arrive within fetch(), so loadFinished cannot be emitted from inside Navigate.
    m_fetcher->fetch(url);
}

// Makes the early page's parse, running or ended, this load's; false when there is none.
bool StaticBrowser::takeEarlyParse(const FetchResult &page)
{
    if (page.error.isError())
        return false;
    if (m_earlyParser->isRunning()) {
        std::swap(m_parser, m_earlyParser);
    } else if (m_earlyDocument || !m_earlyFailure.isEmpty()) {
        // From the event loop, so that Navigate never emits loadFinished itself.
        const quint64 generation = m_generation;
        QTimer::singleShot(0, this,
                           [this, generation, document = std::exchange(m_earlyDocument, nullptr),
                            failure = std::exchange(m_earlyFailure, QString())] {
                               if (generation != m_generation)
                                   return;
                               if (document)
                                   onParsed(document);
                               else
                                   onParseFailed(failure);
                           });
    } else {
        return false;
    }
    requestNextPageEarly(page);
    return true;
}

void StaticBrowser::setNextLinkHint(const QString &linkName)
{
    m_nextLinkHint = linkName;
    if (linkName.isEmpty())
        dropEarlyRequest();
}

void StaticBrowser::dropEarlyRequest()
{
    if (m_fetching != Fetching::Nothing)
        m_fetcher->abandon();
    m_fetching = Fetching::Nothing;
    m_earlyUrl.clear();
    m_early.reset();
    m_navigateAwaitsEarly = false;
    m_earlyParser->abandon();
    m_earlyDocument.reset();
    m_earlyFailure.clear();
}

void StaticBrowser::stop()
{
    if (m_state != State::Loading)
        return;
    dropEarlyRequest();
    m_fetcher->abandon();
    m_parser->abandon();
    abandonSheets();
    m_state = State::Complete;
    m_error = {LoadError::Kind::Stopped, 0, -1, loadFailureMessage(m_url, u"已停止"_s)};
    // Announced from the event loop, so that a caller of stop() is not re-entered; a Navigate in between
    // abandons the stopped load and its notice with it.
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation == m_generation)
            Q_EMIT loadFinished(false);
    });
}

void StaticBrowser::setUserAgent(const QString &userAgent)
{
    m_fetcher->setUserAgent(userAgent);
    m_sheetLoader->fetcher().setUserAgent(userAgent);
}

QString StaticBrowser::userAgent() const
{
    return m_fetcher->userAgent();
}

void StaticBrowser::setProxy(const QString &host, quint16 port)
{
    m_fetcher->setProxy(host, port);
    m_sheetLoader->fetcher().setProxy(host, port);
}

void StaticBrowser::setTransferTimeout(std::chrono::milliseconds timeout)
{
    m_fetcher->setTransferTimeout(timeout);
    m_sheetLoader->fetcher().setTransferTimeout(timeout);
}

void StaticBrowser::setTotalTimeout(std::chrono::milliseconds timeout)
{
    m_fetcher->setTotalTimeout(timeout);
    m_sheetLoader->fetcher().setTotalTimeout(timeout);
}

void StaticBrowser::setMaxResponseBytes(qint64 maxBytes)
{
    m_fetcher->setMaxBytes(maxBytes);
    m_sheetLoader->fetcher().setMaxBytes(maxBytes);
}

void StaticBrowser::setParseTimeLimit(std::chrono::milliseconds limit)
{
    m_parser->setTimeLimit(limit);
    m_earlyParser->setTimeLimit(limit);
}

void StaticBrowser::setParseFunction(ParseFunction parse)
{
    m_parser->setParseFunction(parse);
    m_earlyParser->setParseFunction(std::move(parse));
}

void StaticBrowser::onFetched(const FetchResult &result)
{
    const Fetching what = std::exchange(m_fetching, Fetching::Nothing);
    if (what == Fetching::NextPage) {
        if (std::exchange(m_navigateAwaitsEarly, false)) {
            m_earlyUrl.clear();
            onPageFetched(result);
            return;
        }
        m_early = result;
        // Parsed now, while the grab still reads the current page, rather than once it is asked for.
        if (!result.error.isError())
            m_earlyParser->start(result.body, result.contentType, result.finalUrl);
        return;
    }
    onPageFetched(result);
}

void StaticBrowser::onPageFetched(const FetchResult &result)
{
    if (result.error.isError()) {
        finish(result.error);
        return;
    }
    // Files carry no Content-Type, so their charset is sniffed from the bytes alone.
    m_parser->start(result.body, result.contentType, result.finalUrl);
    requestNextPageEarly(result);
}

void StaticBrowser::requestNextPageEarly(const FetchResult &page)
{
    if (m_nextLinkHint.isEmpty())
        return;
    const QUrl next = guessNextPageUrl(page.body, page.finalUrl, m_nextLinkHint);
    if (next.isEmpty() || next == page.finalUrl || next == m_url)
        return;
    m_earlyUrl = next;
    m_fetching = Fetching::NextPage;
    m_fetcher->fetch(next);
}

void StaticBrowser::onParsed(std::shared_ptr<const Document> document)
{
    auto page = std::dynamic_pointer_cast<const StaticDocument>(document);
    if (!m_loadsStyleSheets || !page || page->styleSources().empty()) {
        m_document = std::move(document);
        finish(LoadError());
        return;
    }
    m_sheetLoader->trim();
    const QList<QUrl> missing = css::sheetsToLoad(
        page->styleSources(), [this](const QUrl &url) { return m_sheetLoader->sheet(url); },
        [this](const QUrl &url) { return m_sheetLoader->knows(url); });
    if (missing.isEmpty()) {
        m_document = styled(page);
        finish(LoadError());
        return;
    }
    m_unstyled = std::move(page);
    m_sheetLoader->load(missing);
}

void StaticBrowser::onSheetsLoaded()
{
    if (!m_unstyled)
        return;
    m_document = styled(std::exchange(m_unstyled, nullptr));
    finish(LoadError());
}

std::shared_ptr<const Document> StaticBrowser::styled(const std::shared_ptr<const StaticDocument> &page) const
{
    const std::vector<css::StyleSource> &sources = page->styleSources();
    const bool linksAny = std::any_of(sources.begin(), sources.end(), [](const css::StyleSource &source) {
        return !source.sheet || !source.sheet->imports.empty();
    });
    if (!linksAny)
        return page; // its style elements are its own already
    return page->withLinkedSheets([this](const QUrl &url) { return m_sheetLoader->sheet(url); });
}

void StaticBrowser::abandonSheets()
{
    m_sheetLoader->abandon();
    m_unstyled.reset();
}

void StaticBrowser::onParseFailed(const QString &cause)
{
    finish({LoadError::Kind::ParseFailed, 0, -1, loadFailureMessage(m_url, cause)});
}

void StaticBrowser::finish(LoadError error)
{
    m_error = std::move(error);
    if (m_error.isError())
        m_document.reset();
    m_state = State::Complete;
    Q_EMIT loadFinished(!m_error.isError());
}

} // namespace qh::browser
