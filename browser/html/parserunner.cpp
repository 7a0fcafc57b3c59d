#include "browser/html/parserunner.h"

#include "browser/html/htmlparser.h"

#include <QMutex>
#include <QMutexLocker>
#include <QThreadPool>

#include <exception>

using namespace Qt::StringLiterals;

namespace qh::browser {

struct ParseRunner::Outcome
{
    std::shared_ptr<const Document> document;
    QString failure;
};

// Where a worker hands its outcome back, as one queued call: to the runner while it waits for that parse, to
// nobody once it has stopped waiting. The runner is cleared under the lock before it stops waiting or goes, so a
// worker never posts to a runner that is gone; a call already queued is dropped with the runner or, if the runner
// has moved on, because its mailbox is no longer the runner's.
struct ParseRunner::Mailbox
{
    QMutex mutex;
    ParseRunner *runner = nullptr;
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

    auto mailbox = std::make_shared<Mailbox>();
    mailbox->runner = this;
    m_mailbox = mailbox;
    m_stop = std::stop_source();

    parsePool()->start([mailbox, parse = m_parse, bytes = std::move(bytes),
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
        const QMutexLocker lock(&mailbox->mutex);
        if (ParseRunner *runner = mailbox->runner) {
            QMetaObject::invokeMethod(
                runner, [runner, mailbox, outcome] { runner->onParseDone(mailbox, outcome); }, Qt::QueuedConnection);
        }
    });
    m_limitTimer.start(m_timeLimit);
}

void ParseRunner::abandon()
{
    m_limitTimer.stop();
    // A hostile page can keep Gumbo busy for minutes: end the work, not only the wait for it.
    m_stop.request_stop();
    const std::shared_ptr<Mailbox> mailbox = std::exchange(m_mailbox, nullptr);
    if (!mailbox)
        return;
    const QMutexLocker lock(&mailbox->mutex);
    mailbox->runner = nullptr;
}

void ParseRunner::onParseDone(const std::shared_ptr<Mailbox> &mailbox, const std::shared_ptr<Outcome> &outcome)
{
    if (mailbox != m_mailbox)
        return; // an abandoned parse that had posted before it was abandoned
    // The worker has posted its one call and is done with the mailbox, so it need not be locked and cleared:
    // locking it here would often wait for the worker to leave it.
    m_limitTimer.stop();
    m_mailbox.reset();
    if (outcome->document)
        Q_EMIT parsed(outcome->document);
    else
        Q_EMIT failed(outcome->failure);
}

} // namespace qh::browser
