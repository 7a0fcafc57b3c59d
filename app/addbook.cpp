#include "app/addbook.h"

#include "app/booklistentry.h"
#include "app/booklistfile.h"
#include "app/booklistmodel.h"
#include "app/booknaming.h"
#include "browser/browser.h"
#include "common/error.h"

#include <QDateTime>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace qh::app {

namespace {

// Spaces and control characters off both ends, as the address field is read.
QString trimControls(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= 0x20)
        ++first;
    while (last > first && text.at(last - 1).unicode() <= 0x20)
        --last;
    return text.mid(first, last - first);
}

} // namespace

QString renameSuggestion(const QString &candidate)
{
    return candidate.left(8) + QDateTime::currentDateTime().toString(u"MMddss"_s);
}

AddBook::AddBook(BookListModel &books, std::unique_ptr<browser::Browser> probe, AddBookUi &ui, AddBookPaths paths,
                 QObject *parent)
    : QObject(parent), m_books(books), m_probe(std::move(probe)), m_ui(ui), m_paths(std::move(paths))
{
    connect(m_probe.get(), &browser::Browser::loadFinished, this, &AddBook::onLoadFinished);
}

AddBook::~AddBook() = default;

void AddBook::start()
{
    const QString address = m_ui.InputText(AddressCaption, AddressPrompt, QString());
    const QString trimmed = trimControls(address);
    if (trimmed.isEmpty()) {
        m_ui.ShowMsg(NoAddressMessage);
        Q_EMIT finished(false);
        return;
    }

    m_running = true;
    m_books.appendBook({ProbingCaption, u"0"_s, StatusQueued, address});
    m_row = QPersistentModelIndex(m_books.index(m_books.size() - 1, 0));
    m_probe->Navigate(QUrl(trimmed));
}

void AddBook::abandon()
{
    if (!m_running)
        return;
    m_running = false;
    m_probe->disconnect(this);
    m_probe->stop();
    removeRow();
}

void AddBook::onLoadFinished(bool ok)
{
    if (!m_running)
        return;
    const auto document = ok ? m_probe->GetHtmlDocument() : nullptr;
    if (!document) {
        QString message = m_probe->lastError().message;
        if (message.isEmpty())
            message = u"It's not html document"_s;
        removeRow();
        m_ui.showError(message);
        end(false);
        return;
    }
    nameBook(document->title());
}

void AddBook::nameBook(const QString &title)
{
    QString candidate = bookNameFromTitle(title);
    for (;;) {
        // The dialogs let the user work on the list meanwhile: the row may be gone.
        if (!m_row.isValid()) {
            end(false);
            return;
        }
        if (isBookNameFree(m_books, m_paths.saveFolder, candidate)) {
            m_books.setBookName(m_row.row(), candidate);
            try {
                SaveBookList(m_books, m_paths.listFile);
            } catch (const Error &error) {
                m_ui.showError(error.message());
            }
            end(true);
            return;
        }
        candidate = m_ui.InputText(RenameCaption, RenamePrompt, renameSuggestion(candidate));
        if (candidate.isEmpty()) {
            removeRow();
            end(false);
            return;
        }
    }
}

void AddBook::removeRow()
{
    if (m_row.isValid())
        m_books.removeBook(m_row.row());
    m_row = QPersistentModelIndex();
}

void AddBook::end(bool named)
{
    m_running = false;
    Q_EMIT finished(named);
}

} // namespace qh::app
