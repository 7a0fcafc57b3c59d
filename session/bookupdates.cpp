#include "session/bookupdates.h"

#include "common/error.h"
#include "engine/bookupdate.h"
#include "engine/enginehost.h"
#include "session/session.h"

using namespace Qt::StringLiterals;

namespace qh::session {

BookUpdates::BookUpdates(Session &session, QObject *parent) : QObject(parent), m_session(session)
{
    engine::DownloadScheduler &scheduler = m_session.scheduler();
    connect(&scheduler, &engine::DownloadScheduler::progress, this,
            [this](const QString &name, int pagesDone) { onProgress(name, pagesDone); });
    connect(&scheduler, &engine::DownloadScheduler::bookFinished, this, &BookUpdates::onFinished);
    connect(&scheduler, &engine::DownloadScheduler::bookEnded, this, &BookUpdates::onBookEnded);
}

QString BookUpdates::outcomeText(const QString &name, int newPages)
{
    return newPages > 0 ? u"《%1》：新增 %2 页"_s.arg(name).arg(newPages) : u"《%1》：已是最新"_s.arg(name);
}

void BookUpdates::queue(const QList<core::FinishedBook> &books)
{
    if (m_followed.isEmpty())
        m_withNewPages = m_failed = 0;
    QStringList failed;
    for (const core::FinishedBook &book : books) {
        try {
            engine::queueBookUpdate(m_session.queue(), book, m_session.folder().tempFolder());
            m_followed.insert(book.name, Followed{book.pages});
        } catch (const Error &error) {
            m_session.host().showError(error.message());
            failed << book.name;
        }
    }
    try {
        m_session.saveQueue();
    } catch (const Error &error) {
        // The rows are queued all the same; the list is saved again as the books go on.
        m_session.host().showError(error.message());
    }
    for (const QString &name : std::as_const(failed)) {
        ++m_failed;
        Q_EMIT ended(name, 0, false);
    }
    if (m_followed.isEmpty() && !failed.isEmpty())
        Q_EMIT allEnded(m_withNewPages, m_failed);
}

void BookUpdates::onProgress(const QString &name, int pagesDone)
{
    const auto followed = m_followed.constFind(name);
    if (followed != m_followed.cend())
        Q_EMIT newPages(name, pagesDone - followed->pagesBefore);
}

void BookUpdates::onFinished(const core::FinishedBook &book)
{
    const auto followed = m_followed.find(book.name);
    if (followed != m_followed.end())
        followed->pagesAfter = book.pages;
}

void BookUpdates::onBookEnded(engine::GrabEnd end, const QString &name)
{
    const auto followed = m_followed.constFind(name);
    if (followed == m_followed.cend())
        return;
    if (end == engine::GrabEnd::Stopped)
        return; // goes on when the scheduler does
    const int newPages = followed->pagesAfter < 0 ? 0 : followed->pagesAfter - followed->pagesBefore;
    this->end(name, newPages, end == engine::GrabEnd::Complete);
}

void BookUpdates::end(const QString &name, int newPages, bool ok)
{
    m_followed.remove(name);
    if (ok && newPages > 0)
        ++m_withNewPages;
    if (!ok)
        ++m_failed;
    Q_EMIT ended(name, newPages, ok);
    if (m_followed.isEmpty())
        Q_EMIT allEnded(m_withNewPages, m_failed);
}

} // namespace qh::session
