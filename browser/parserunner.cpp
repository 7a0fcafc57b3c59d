#include "browser/parserunner.h"

#include "browser/htmlparser.h"

#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>

#include <exception>

using namespace Qt::StringLiterals;

namespace qh::browser {

struct ParseRunner::Outcome
{
    std::shared_ptr<const Document> document;
    QString failure;
};

namespace {

// Gumbo's tree code recurses on deeply nested markup; a roomy stack keeps hostile pages from overflowing it. The
// memory is only reserved, not used. An abandoned parse holds its thread until it notices the stop request, so
// allow several.
class ParsePool : public QThreadPool
{
public:
    ParsePool()
    {
        setStackSize(256u << 20);
        setMaxThreadCount(8);
    }
};

Q_GLOBAL_STATIC(ParsePool, parsePool)

} // namespace

ParseRunner::ParseRunner(QObject *parent) : QObject(parent), m_parse(&parseHtmlDocumentUntil)
{
    m_limitTimer.setSingleShot(true);
    connect(&m_limitTimer, &QTimer::timeout, this, [this] {
        abandon();
        Q_EMIT failed(u"页面解析超过 %1 秒，已放弃"_s.arg(double(m_timeLimit.count()) / 1000.0, 0, 'g', 4));
    });
}

ParseRunner::~ParseRunner()
{
    abandon();
}

void ParseRunner::start(QByteArray bytes, QByteArray contentTypeHeader, QUrl url)
{
    abandon();

    // The promise is shared with the worker; the watcher only looks at its future, so a worker outliving this
    // runner reports into a future nobody watches.
    auto promise = std::make_shared<QPromise<std::shared_ptr<Outcome>>>();
    auto *watcher = new QFutureWatcher<std::shared_ptr<Outcome>>(this);
    m_watcher = watcher;
    connect(watcher, &QFutureWatcherBase::finished, this, &ParseRunner::onParseDone);
    watcher->setFuture(promise->future());
    promise->start();
    m_stop = std::stop_source();

    parsePool()->start([promise, parse = m_parse, bytes = std::move(bytes),
                        contentTypeHeader = std::move(contentTypeHeader), url = std::move(url),
                        stop = m_stop.get_token()] {
        auto outcome = std::make_shared<Outcome>();
        try {
            outcome->document = parse(bytes, contentTypeHeader, url, stop);
            if (!outcome->document)
                outcome->failure = u"页面无法解析"_s;
        } catch (const std::exception &error) {
            outcome->failure = u"页面无法解析（%1）"_s.arg(QString::fromUtf8(error.what()));
        } catch (...) {
            outcome->failure = u"页面无法解析"_s;
        }
        promise->addResult(std::move(outcome));
        promise->finish();
    });
    m_limitTimer.start(m_timeLimit);
}

void ParseRunner::abandon()
{
    m_limitTimer.stop();
    // A hostile page can keep Gumbo busy for minutes: end the work, not only the wait for it.
    m_stop.request_stop();
    if (!m_watcher)
        return;
    QFutureWatcher<std::shared_ptr<Outcome>> *watcher = m_watcher;
    m_watcher = nullptr;
    watcher->disconnect(this);
    // Later, not now: abandon() may run inside a slot that the watcher itself is calling.
    watcher->deleteLater();
}

void ParseRunner::onParseDone()
{
    QFutureWatcher<std::shared_ptr<Outcome>> *watcher = m_watcher;
    const QFuture<std::shared_ptr<Outcome>> future = watcher->future();
    const std::shared_ptr<Outcome> outcome = future.resultCount() > 0 ? future.result() : nullptr;
    abandon();
    if (outcome && outcome->document)
        Q_EMIT parsed(outcome->document);
    else
        Q_EMIT failed(outcome ? outcome->failure : u"页面无法解析"_s);
}

} // namespace qh::browser
