#include "browser/staticbrowser.h"

#include "browser/pagefetcher.h"

#include <QTimer>

using namespace Qt::StringLiterals;

namespace qh::browser {

StaticBrowser::StaticBrowser(QObject *parent)
    : Browser(parent), m_fetcher(new PageFetcher(this)), m_parser(new ParseRunner(this))
{
    connect(m_fetcher, &PageFetcher::finished, this, &StaticBrowser::onFetched);
    connect(m_parser, &ParseRunner::parsed, this, &StaticBrowser::onParsed);
    connect(m_parser, &ParseRunner::failed, this, [this](const QString &cause) {
        finish({LoadError::Kind::ParseFailed, 0, -1, loadFailureMessage(m_url, cause)});
    });
}

StaticBrowser::~StaticBrowser()
{
    // The children would go anyway; abandoning first keeps their last signals from reaching a half-gone browser.
    m_fetcher->abandon();
    m_parser->abandon();
}

void StaticBrowser::Navigate(const QUrl &url)
{
    ++m_generation;
    m_fetcher->abandon();
    m_parser->abandon();
    m_url = url;
    m_state = State::Loading;
    m_error = LoadError();
    m_document.reset();
    // Replies never arrive within fetch(), so loadFinished cannot be emitted from inside Navigate.
    m_fetcher->fetch(url);
}

void StaticBrowser::stop()
{
    if (m_state != State::Loading)
        return;
    m_fetcher->abandon();
    m_parser->abandon();
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
}

QString StaticBrowser::userAgent() const
{
    return m_fetcher->userAgent();
}

void StaticBrowser::setProxy(const QString &host, quint16 port)
{
    m_fetcher->setProxy(host, port);
}

void StaticBrowser::setTransferTimeout(std::chrono::milliseconds timeout)
{
    m_fetcher->setTransferTimeout(timeout);
}

void StaticBrowser::setMaxResponseBytes(qint64 maxBytes)
{
    m_fetcher->setMaxBytes(maxBytes);
}

void StaticBrowser::setParseTimeLimit(std::chrono::milliseconds limit)
{
    m_parser->setTimeLimit(limit);
}

void StaticBrowser::setParseFunction(ParseFunction parse)
{
    m_parser->setParseFunction(std::move(parse));
}

void StaticBrowser::onFetched(const FetchResult &result)
{
    if (result.error.isError()) {
        finish(result.error);
        return;
    }
    // Files carry no Content-Type, so their charset is sniffed from the bytes alone.
    m_parser->start(result.body, result.contentType, result.finalUrl);
}

void StaticBrowser::onParsed(std::shared_ptr<const Document> document)
{
    m_document = std::move(document);
    finish(LoadError());
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
