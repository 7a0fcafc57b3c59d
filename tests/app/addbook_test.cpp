#include "app/addbook.h"

#include "browser/html/staticbrowser.h"
#include "common/textfile.h"
#include "core/bookentry.h"
#include "core/bookqueue.h"
#include "core/queuefile.h"

#include "demo/httpserver.h"
#include "support/testutils.h"

#include <QDate>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>

#include <deque>
#include <functional>

using namespace Qt::StringLiterals;
using namespace qh;
using app::AddBook;
using core::BookEntry;
using demo::HttpResponse;

namespace {

// Answers the input dialogs from a script (each answer sees the default text) and records every dialog.
class ScriptedUi final : public app::AddBookUi
{
public:
    using Answer = std::function<QString(const QString &defaultText)>;

    static Answer ok(const QString &text)
    {
        return [text](const QString &) { return text; };
    }
    static Answer cancel()
    {
        return [](const QString &defaultText) { return defaultText; };
    }

    QString InputText(const QString &caption, const QString &prompt, const QString &defaultText) override
    {
        asked << QStringList{caption, prompt, defaultText};
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected dialog " << caption.toStdString();
            return QString();
        }
        const Answer answer = answers.front();
        answers.pop_front();
        return answer(defaultText);
    }
    void ShowMsg(const QString &text) override { messages << text; }
    void showError(const QString &message) override { errors << message; }

    std::deque<Answer> answers;
    QList<QStringList> asked; // caption, prompt, default
    QStringList messages;
    QStringList errors;
};

QByteArray pageTitled(const QString &title)
{
    return (u"<html><head><title>"_s + title + u"</title></head><body><p>第一章</p></body></html>"_s).toUtf8();
}

// A loopback site, an empty list and a save folder in a temporary directory.
class AddBookTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    QString listFile() const { return folder.filePath(u"downlist.dat"_s); }
    QString saveFolder() const { return folder.path(); }

    QString servePage(const QString &title, const QString &path = u"/book/1.html"_s)
    {
        server.setPage(path, pageTitled(title));
        return server.url(path).toString();
    }

    std::unique_ptr<AddBook> makeOperation()
    {
        auto probe = std::make_unique<browser::StaticBrowser>();
        probe->setTransferTimeout(std::chrono::milliseconds(5000));
        return std::make_unique<AddBook>(books, std::move(probe), ui, app::AddBookPaths{saveFolder(), listFile()});
    }

    // Runs the whole operation; returns finished's argument.
    bool run(AddBook &operation)
    {
        QSignalSpy finished(&operation, &AddBook::finished);
        operation.start();
        if (finished.isEmpty() && !finished.wait(10'000)) {
            ADD_FAILURE() << "the operation did not finish";
            return false;
        }
        EXPECT_EQ(finished.size(), 1);
        return finished.first().first().toBool();
    }

    bool add(const QString &address, std::initializer_list<ScriptedUi::Answer> renames = {})
    {
        ui.answers.push_back(ScriptedUi::ok(address));
        for (const auto &answer : renames)
            ui.answers.push_back(answer);
        auto operation = makeOperation();
        return run(*operation);
    }

    void queue(const QString &name)
    {
        books.append({name, 3, core::BookStatus::Queued, u"http://example.invalid/1.html"_s});
    }

    QByteArray listBytes() const
    {
        QFile file(listFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir folder;
    demo::HttpServer server;
    core::BookQueue books;
    ScriptedUi ui;
};

// A new book is named after the first 15 characters of its page's title, keeps the address typed (blanks around it
// dropped, as the page was loaded from it), and the list is saved with it.
TEST_F(AddBookTest, NamesTheBookAfterTheTitleAndSavesTheList)
{
    const QString url = servePage(u"一二三四五六七八九十甲乙丙丁戊己庚辛壬癸"_s);
    const QString typed = u"  "_s + url + u" "_s;

    EXPECT_TRUE(add(typed));

    ASSERT_EQ(books.size(), 1);
    EXPECT_EQ(books.head(), (BookEntry{u"一二三四五六七八九十甲乙丙丁戊"_s, 0, core::BookStatus::Queued, QUrl(url)}));
    EXPECT_EQ(ui.asked.size(), 1);
    EXPECT_EQ(ui.asked.first(), (QStringList{app::AddressCaption, app::AddressPrompt, QString()}));
    core::BookQueue saved;
    core::LoadBookList(saved, listFile());
    EXPECT_EQ(saved.entries(), books.entries());
    EXPECT_TRUE(ui.errors.isEmpty());
}

// No address (empty, blank, control characters, or a cancelled dialog) gives the notice and adds no row.
TEST_F(AddBookTest, RefusesAnEmptyAddress)
{
    for (const QString &typed : {QString(), u"   "_s, u"\t\r\n"_s, u"\x01 \x1f"_s}) {
        SCOPED_TRACE(typed.toStdString());
        ui.messages.clear();
        EXPECT_FALSE(add(typed));
        EXPECT_EQ(ui.messages, QStringList{app::NoAddressMessage});
        EXPECT_EQ(books.size(), 0);
    }
    EXPECT_FALSE(QFile::exists(listFile()));
}

// A name is taken when a queued name begins with it (case ignored, the probing row included) or its text file
// exists; then the rename dialog asks, and the typed name is used whole.
TEST_F(AddBookTest, AsksForAnotherNameOnlyWhenTheNameIsTaken)
{
    struct Case
    {
        const char *what;
        QStringList queued;
        QString existingFile; // in the save folder
        QString title;
        bool renamed;
    };
    const QList<Case> cases = {
        {"a queued name begins with the title", {u"星河旅人"_s}, {}, u"星河"_s, true},
        {"the title only begins with a queued name", {u"星河"_s}, {}, u"星河旅人"_s, false},
        {"letter case is ignored", {u"abcdef"_s}, {}, u"ABC"_s, true},
        {"the probing row's own placeholder", {}, {}, u"请等待"_s, true},
        {"an old text file of that name", {}, u"旧书.txt"_s, u"旧书"_s, true},
        {"a text file of another name", {}, u"旧书.txt"_s, u"新书"_s, false},
        {"the 15 characters of a longer title",
         {u"一二三四五六七八九十甲乙丙丁戊"_s},
         {},
         u"一二三四五六七八九十甲乙丙丁戊己庚"_s,
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        books.setEntries({});
        for (const QString &name : c.queued)
            queue(name);
        if (!c.existingFile.isEmpty())
            text::writeFileAtomically(folder.filePath(c.existingFile), "old");
        ui.asked.clear();

        EXPECT_TRUE(add(servePage(c.title), {ScriptedUi::ok(u"另起的名字"_s)}));

        ASSERT_EQ(books.size(), c.queued.size() + 1);
        const QString expected = c.renamed ? u"另起的名字"_s : c.title.left(15);
        EXPECT_EQ(books.entry(books.size() - 1).BookName, expected);
        ASSERT_EQ(ui.asked.size(), c.renamed ? 2 : 1);
        if (c.renamed) {
            EXPECT_EQ(ui.asked.last().mid(0, 2), (QStringList{app::RenameCaption, app::RenamePrompt}));
        } else {
            ui.answers.clear();
        }
        if (!c.existingFile.isEmpty())
            QFile::remove(folder.filePath(c.existingFile));
    }
}

// Cancel in the rename dialog takes the suggestion: the candidate's first 8 characters and month, day and second.
TEST_F(AddBookTest, CancelInTheRenameDialogTakesTheDatedSuggestion)
{
    queue(u"我的超长书名测试之一"_s);
    const QDate today = QDate::currentDate();

    EXPECT_TRUE(add(servePage(u"我的超长书名测试"_s), {ScriptedUi::cancel()}));

    ASSERT_EQ(books.size(), 2);
    const QString name = books.entry(1).BookName;
    const QRegularExpression dated(u"^我的超长书名测试(\\d\\d)(\\d\\d)(\\d\\d)$"_s);
    const auto match = dated.match(name);
    ASSERT_TRUE(match.hasMatch()) << name.toStdString();
    EXPECT_EQ(match.captured(1).toInt(), today.month());
    EXPECT_EQ(match.captured(2).toInt(), today.day());
    EXPECT_LT(match.captured(3).toInt(), 60);
    EXPECT_EQ(ui.asked.last().at(2), name);
}

// An empty title is never a free name: the rename dialog comes at once, suggesting the six digits alone.
TEST_F(AddBookTest, AnEmptyTitleAsksForANameAtOnce)
{
    EXPECT_TRUE(add(servePage(QString()), {ScriptedUi::ok(u"无题"_s)}));

    ASSERT_EQ(ui.asked.size(), 2);
    EXPECT_TRUE(QRegularExpression(u"^\\d{6}$"_s).match(ui.asked.last().at(2)).hasMatch())
        << ui.asked.last().at(2).toStdString();
    EXPECT_EQ(books.head().BookName, u"无题"_s);
}

// OK on an emptied rename field gives the book up: its row goes and the list file stays as it was.
TEST_F(AddBookTest, AnEmptyNameRemovesTheRowWithoutSaving)
{
    queue(u"星河旅人"_s);
    core::SaveBookList(books, listFile());
    const QByteArray before = listBytes();

    EXPECT_FALSE(add(servePage(u"星河"_s), {ScriptedUi::ok(QString())}));

    ASSERT_EQ(books.size(), 1);
    EXPECT_EQ(books.head().BookName, u"星河旅人"_s);
    EXPECT_EQ(listBytes(), before);
}

// A probe that fails shows the browser's error and removes the placeholder, which would otherwise block the queue;
// the list file is not written.
TEST_F(AddBookTest, AFailedProbeShowsTheErrorAndRemovesTheRow)
{
    server.setResponse(u"/missing"_s, [] {
        HttpResponse response;
        response.status = 404;
        return response;
    }());
    server.setResponse(u"/picture"_s, HttpResponse::page("\x89PNG", "image/png"));
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString refused = u"http://127.0.0.1:%1/"_s.arg(closed.serverPort());
    closed.close();

    for (const QString &url : {server.url(u"/missing"_s).toString(), server.url(u"/picture"_s).toString(), refused,
                               u"www.example.invalid/1.html"_s}) {
        SCOPED_TRACE(url.toStdString());
        ui.errors.clear();
        EXPECT_FALSE(add(url));
        EXPECT_EQ(books.size(), 0);
        ASSERT_EQ(ui.errors.size(), 1);
        EXPECT_FALSE(ui.errors.first().isEmpty());
    }
    EXPECT_FALSE(QFile::exists(listFile()));
}

// The name reaches the operation's own row even when the rows moved while the page loaded.
TEST_F(AddBookTest, FollowsItsRowThroughMoves)
{
    queue(u"先来的书"_s);
    ui.answers.push_back(ScriptedUi::ok(servePage(u"后到的书"_s)));
    auto operation = makeOperation();
    QSignalSpy finished(operation.get(), &AddBook::finished);
    operation->start();
    ASSERT_EQ(books.size(), 2);
    EXPECT_EQ(books.entry(1).BookName, core::ProbingCaption);
    books.swapWithNext(0);

    ASSERT_TRUE(finished.wait(10'000));
    EXPECT_EQ(books.entry(0).BookName, u"后到的书"_s);
    EXPECT_EQ(books.entry(1).BookName, u"先来的书"_s);
}

// A row deleted while the rename dialog is open ends the operation quietly, without saving the list.
TEST_F(AddBookTest, EndsQuietlyWhenItsRowWasDeleted)
{
    queue(u"星河旅人"_s);
    EXPECT_FALSE(add(servePage(u"星河"_s), {[this](const QString &) {
                         books.remove(1);
                         return u"星河二"_s;
                     }}));

    ASSERT_EQ(books.size(), 1);
    EXPECT_EQ(books.head().BookName, u"星河旅人"_s);
    EXPECT_FALSE(QFile::exists(listFile()));
    EXPECT_TRUE(ui.errors.isEmpty());
}

// Abandoning a running probe (the window closes) removes the placeholder and sends no finished().
TEST_F(AddBookTest, AbandonRemovesThePlaceholder)
{
    server.setResponse(u"/slow"_s, [] {
        HttpResponse response = HttpResponse::page(pageTitled(u"慢"_s));
        response.delayMs = HttpResponse::Never;
        return response;
    }());
    ui.answers.push_back(ScriptedUi::ok(server.url(u"/slow"_s).toString()));
    auto operation = makeOperation();
    QSignalSpy finished(operation.get(), &AddBook::finished);
    operation->start();
    ASSERT_EQ(books.size(), 1);

    operation->abandon();

    EXPECT_EQ(books.size(), 0);
    EXPECT_FALSE(operation->isRunning());
    EXPECT_FALSE(finished.wait(50));
}

} // namespace
