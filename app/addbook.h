#pragma once

#include "common/messagesink.h"
#include "core/bookqueue.h"

#include <QObject>
#include <QString>

#include <memory>

namespace qh::browser {
class Browser;
}
namespace qh::core {
class TitleProbe;
}

namespace qh::app {

// What adding a book asks of the user besides notices and errors. The main window answers with its dialogs, tests
// with a script.
class AddBookUi : public virtual MessageSink
{
public:
    // A one-line input: the text as typed after OK, defaultText after Cancel.
    virtual QString InputText(const QString &caption, const QString &prompt, const QString &defaultText) = 0;
};

// Where the new book's files go; taken when the operation starts.
struct AddBookPaths
{
    QString saveFolder;                   // SavePath: a name whose text file exists there is taken
    QString listFile;                     // "downlist.dat"
    BookFormat format = BookFormat::Text; // what the book is written as: the settings' choice when it is added
};

// Texts of the operation.
inline const QString AddressCaption = QStringLiteral("请输入网页地址");
inline const QString AddressPrompt =
    QStringLiteral("请输入前缀为http://，电子书起始内容页面的地址（非目录页，是书籍内容页面）");
inline const QString NoAddressMessage = QStringLiteral("没有任何可抓取链接，请重新选取");
inline const QString RenameCaption = QStringLiteral("另存为");
inline const QString RenamePrompt = QStringLiteral("由于与已有的书籍名称重复，请另外输入一个书籍名称");

// The name offered when a book's name is taken: its first 8 characters and the month, day and second of now
// ("MMddss").
QString renameSuggestion(const QString &candidate);

// AddBook: asks for the address of a book's first content page, appends a placeholder row (ProbingCaption,
// "0", "排队中", the address as typed), loads the page in its own probe browser and names the row after the page's
// title (15 characters), asking for another name while the name is taken. The list is saved once the row is named.
//
// A probe that fails (network or HTTP error, not an HTML page) shows the error and removes the placeholder: left in
// place at the head of the list, it would block the queue, since the scheduler never starts such a row.
//
// The operation follows its row through moves; if the row is deleted meanwhile it ends quietly. The list and the
// ui must outlive the operation; it owns its probe browser.
class AddBook : public QObject
{
    Q_OBJECT

public:
    AddBook(core::BookQueue &books, std::unique_ptr<browser::Browser> probe, AddBookUi &ui, AddBookPaths paths,
            QObject *parent = nullptr);
    ~AddBook() override;

    // Asks for the address and starts the probe; finished() follows, from the event loop or at once when there is
    // no address. Call once.
    void start();

    // Ends the operation at once and removes its placeholder row (the window is closing). No finished() follows.
    void abandon();

    bool isRunning() const { return m_running; }
    // The probing row, or -1 when there is none.
    int row() const { return m_books.rowOf(m_row); }

Q_SIGNALS:
    // named: the row holds its name and the list is saved; false when nothing was added or the row was removed.
    void finished(bool named);

private:
    void onProbed(bool ok, const QString &title, const QString &error);
    void nameBook(const QString &title);
    void removeRow();
    void end(bool named);

    core::BookQueue &m_books;
    core::TitleProbe *m_probe; // a child
    AddBookUi &m_ui;
    const AddBookPaths m_paths;
    core::BookQueue::BookId m_row = 0;
    bool m_running = false;
};

} // namespace qh::app
