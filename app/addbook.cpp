#include "app/addbook.h"

#include "browser/browser.h"
#include "common/error.h"
#include "core/booknaming.h"
#include "core/queuefile.h"
#include "core/titleprobe.h"

#include <QDateTime>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace qh::app {

QString renameSuggestion(const QString &candidate)
{
    return candidate.left(8) + QDateTime::currentDateTime().toString(u"MMddss"_s);
}

AddBook::AddBook(core::BookQueue &books, std::unique_ptr<browser::Browser> probe, AddBookUi &ui, AddBookPaths paths,
                 QObject *parent)
    : QObject(parent), m_books(books), m_probe(new core::TitleProbe(std::move(probe), this)), m_ui(ui),
      m_paths(std::move(paths))
{
    connect(m_probe, &core::TitleProbe::finished, this, &AddBook::onProbed);
}

AddBook::~AddBook() = default;

void AddBook::start()
{
    const QString address = m_ui.InputText(AddressCaption, AddressPrompt, QString());
    const QString trimmed = core::trimControls(address);
    if (trimmed.isEmpty()) {
        m_ui.ShowMsg(NoAddressMessage);
        Q_EMIT finished(false);
        return;
    }

    m_running = true;
    m_row = m_books.append(
        {core::ProbingCaption, 0, core::BookStatus::Queued, core::addressFromText(address), m_paths.format});
    m_probe->start(core::addressFromText(trimmed));
}

void AddBook::abandon()
{
    if (!m_running)
        return;
    m_running = false;
    m_probe->abandon();
    removeRow();
}

void AddBook::onProbed(bool ok, const QString &title, const QString &error)
{
    if (!m_running)
        return;
    if (!ok) {
        removeRow();
        m_ui.showError(error);
        end(false);
        return;
    }
    nameBook(title);
}

void AddBook::nameBook(const QString &title)
{
    QString candidate = core::bookNameFromTitle(title);
    for (;;) {
        // The dialogs let the user work on the list meanwhile: the row may be gone.
        if (row() < 0) {
            end(false);
            return;
        }
        if (core::isBookNameFree(m_books, m_paths.saveFolder, candidate)) {
            m_books.setBookName(row(), candidate);
            try {
                core::SaveBookList(m_books, m_paths.listFile);
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
    m_books.remove(row());
    m_row = 0;
}

void AddBook::end(bool named)
{
    m_running = false;
    Q_EMIT finished(named);
}

} // namespace qh::app
