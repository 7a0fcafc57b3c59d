#pragma once

#include "core/finishedbooks.h"
#include "engine/bookgrab.h"

#include <QHash>
#include <QObject>
#include <QStringList>

namespace qh::session {

class Session;

// The updates of finished books in this run: queues them, follows them through the scheduler, and says per book
// how many new pages came in. An update stopped by the user stays followed and goes on when the scheduler does.
class BookUpdates : public QObject
{
    Q_OBJECT

public:
    explicit BookUpdates(Session &session, QObject *parent = nullptr);

    // Queues an update of each book and saves the queue. A book that cannot be updated ends at once, its cause
    // shown as an error. The scheduler is not started.
    void queue(const QList<core::FinishedBook> &books);

    // Updates queued and not yet ended.
    bool isBusy() const { return !m_followed.isEmpty(); }
    // The book of that name is an update being followed.
    bool follows(const QString &name) const { return m_followed.contains(name); }

    // The line that says what an update brought: "《书名》：新增 3 页" or "《书名》：已是最新".
    static QString outcomeText(const QString &name, int newPages);

Q_SIGNALS:
    // The pages an update has brought so far, as they come.
    void newPages(const QString &name, int pages);
    // An update has ended: ok when the book was checked to its end (newPages may be 0), else it failed (the cause
    // was shown) and the book keeps what it has.
    void ended(const QString &name, int newPages, bool ok);
    // Every update queued has ended; booksWithNewPages of them brought pages.
    void allEnded(int booksWithNewPages, int failed);

private:
    void onProgress(const QString &name, int pagesDone);
    void onFinished(const core::FinishedBook &book);
    void onBookEnded(engine::GrabEnd end, const QString &name);
    void end(const QString &name, int newPages, bool ok);

    Session &m_session;
    struct Followed
    {
        int pagesBefore = 0;
        int pagesAfter = -1; // once the book has finished
    };
    QHash<QString, Followed> m_followed;
    int m_withNewPages = 0;
    int m_failed = 0;
};

} // namespace qh::session
