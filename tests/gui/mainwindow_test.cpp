#include "app/demosite.h"
#include "app/mainwindow.h"
#include "app/statuslabel.h"

#include "browser/html/staticbrowser.h"
#include "common/textfile.h"
#include "core/bookentry.h"
#include "core/booknaming.h"
#include "core/queuefile.h"
#include "core/safefilename.h"
#include "dialogs/aboutdialog.h"
#include "dialogs/settingsdialog.h"
#include "engine/bookfile.h"
#include "output/epubreader.h"
#include "session/bookupdates.h"
#include "settings/appsettings.h"
#include "templates/sitehead.h"
#include "templates/templatefile.h"

#include "demo/httpserver.h"
#include "demo/samplebook.h"
#include "support/epubcheck.h"
#include "support/testutils.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <deque>

using namespace Qt::StringLiterals;
using namespace qh;
using app::TFrmMain;
using core::BookEntry;
using demo::HttpResponse;
using demo::SampleBook;

namespace {

// Answers every dialog of the window from a script and records what it was shown.
class ScriptedDialogs final : public app::WindowDialogs
{
public:
    QString InputText(const QString &caption, const QString &, const QString &defaultText) override
    {
        inputs << caption;
        if (answers.empty())
            return defaultText;
        const QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowMsg(const QString &text) override { messages << text; }
    void showError(const QString &message) override { errors << message; }
    QString getOpenFileName(const QString &) override { return openAnswer; }
    QString getSaveFileName(const QString &, const QString &) override { return saveAnswer; }
    bool askYesNo(const QString &, const QString &text) override
    {
        questions << text;
        return false;
    }
    void askLater(const QString &caption, const QString &text, std::function<void(bool)> answered) override
    {
        QTimer::singleShot(0, [answered = std::move(answered), yes = askYesNo(caption, text)] { answered(yes); });
    }
    std::optional<settings::AppSettings> editSettings(const settings::AppSettings &current,
                                                      const QString &iniPath) override
    {
        settingsShown << current;
        if (settingsAnswer)
            settings::SaveSettings(iniPath, *settingsAnswer);
        return settingsAnswer;
    }
    void showAbout() override { ++aboutShown; }
    bool openUrl(const QUrl &url) override
    {
        opened << url;
        return canOpen;
    }

    std::deque<QString> answers;
    QString openAnswer;
    QString saveAnswer;
    std::optional<settings::AppSettings> settingsAnswer;
    QStringList inputs, messages, errors, questions;
    QList<settings::AppSettings> settingsShown;
    QList<QUrl> opened;
    bool canOpen = true; // whether the desktop has a program for what is opened
    int aboutShown = 0;
};

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A data folder and a documents folder in a temporary folder, a loopback site with a five-chapter sample book and
// a template for it, and a window with millisecond engine timings, made on demand.
class MainWindowTest : public ::testing::Test
{
protected:
    MainWindowTest() : book(5, 300) {}

    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        QDir().mkpath(dataPath());
        QDir().mkpath(documents());
        for (int chapter = 1; chapter <= book.chapterCount(); ++chapter)
            server.setResponse(book.chapterPath(chapter), HttpResponse::page(book.chapterPage(chapter), "text/html"));
    }

    QString dataPath() const { return root.filePath(u"data"_s); }
    QString documents() const { return root.filePath(u"Documents"_s); }
    QString iniFile() const { return dataPath() + u"/SysCfg.ini"_s; }
    QString listFile() const { return dataPath() + u"/downlist.dat"_s; }
    QString templateFile() const { return dataPath() + u"/system.tpe"_s; }
    QString booksFolder() const { return root.filePath(u"books"_s); }
    QString chapterUrl(int chapter) const { return server.url(book.chapterPath(chapter)).toString(); }

    // Settings with the books in booksFolder() and no automatic start.
    void writeSettings(bool autoDownload = false)
    {
        settings::AppSettings stored;
        stored.SavePath = booksFolder();
        stored.AutoDownload = autoDownload;
        settings::SaveSettings(iniFile(), stored);
    }

    void writeTemplate(templates::GrabEngine engine = templates::GrabEngine::Static)
    {
        const demo::TemplatePositions at = book.templatePositions();
        templates::TemplateStore store;
        const QString name = u"样例书网"_s;
        const QString head = templates::SiteHeadOf(server.url(u"/"_s).toString());
        store.AddTemplateRecord(name, head);
        const auto write = [&](const QString &key, const QString &value) {
            store.WriteTemplateParam(name, head, key, value);
        };
        write(u"linkname"_s, SampleBook::nextLinkName());
        write(u"ititleindex"_s, QString::number(at.title));
        write(u"sTitleTagname"_s, u"H1"_s);
        write(u"icontentindex"_s, QString::number(at.content));
        write(u"sContentTagname"_s, u"DIV"_s);
        write(u"iparentindex"_s, QString::number(at.parent));
        if (engine == templates::GrabEngine::Web)
            write(u"sEngine"_s, u"web"_s);
        templates::SaveTemplateFile(templateFile(), store);
    }

    void writeList(const QList<BookEntry> &entries)
    {
        core::BookQueue model;
        model.setEntries(entries);
        core::SaveBookList(model, listFile());
    }

    app::MainWindowOptions options() const
    {
        app::MainWindowOptions result;
        result.oldFile = root.filePath(u"quillhaul.old"_s);
        result.documentsFolder = documents();
        result.engine.tickMs = 5;
        result.engine.stallPauseMs = 10;
        result.engine.grab.retryDelaysMs = {1, 2, 3};
        result.engine.grab.locators.timeLimitMs = 500;
        result.waitInterval = std::chrono::milliseconds(10);
        result.helpFile = root.filePath(u"help.html"_s);
        return result;
    }

    // A new window on the data folder, shown (which loads the list).
    TFrmMain &open()
    {
        auto scripted = std::make_unique<ScriptedDialogs>();
        dialogs = scripted.get();
        window = std::make_unique<TFrmMain>(DataFolder::locate(dataPath()), options(), std::move(scripted));
        window->grabBrowser().setTransferTimeout(std::chrono::milliseconds(5000));
        window->show();
        return *window;
    }

    void selectRows(std::initializer_list<int> rows)
    {
        QItemSelectionModel *selection = window->downList()->selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(window->downList()->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    QStringList names() const
    {
        QStringList result;
        for (const BookEntry &entry : window->books().entries())
            result << entry.BookName;
        return result;
    }

    QTemporaryDir root;
    SampleBook book;
    demo::HttpServer server;
    ScriptedDialogs *dialogs = nullptr;
    std::unique_ptr<TFrmMain> window;
};

// The first start without a settings file saves into the documents folder's "我抓的书", which it creates without
// writing the settings file, and starts the scheduler (automatic download is on).
TEST_F(MainWindowTest, FirstStartUsesTheDefaults)
{
    TFrmMain &w = open();

    const QString expected = QDir::toNativeSeparators(documents() + u"/我抓的书"_s);
    EXPECT_EQ(w.settings().SavePath, expected);
    EXPECT_TRUE(QFileInfo(expected).isDir());
    EXPECT_FALSE(QFile::exists(iniFile()));
    EXPECT_TRUE(w.scheduler().isRunning());
    EXPECT_EQ(w.chooser().count(), 1);
    EXPECT_EQ(w.chooser().currentText(), u"自动"_s);
    EXPECT_EQ(w.windowTitle(), u"Quillhaul "_s + QStringLiteral(QUILLHAUL_VERSION));
    EXPECT_EQ(w.size(), QSize(745, 425));
    EXPECT_TRUE(dialogs->errors.isEmpty());
}

// A configured save folder is made when only its last level is missing; one that cannot be made gives way to the
// default, which is then saved. Automatic download off leaves the scheduler stopped.
TEST_F(MainWindowTest, SaveFolderIsMadeOrReplacedByTheDefault)
{
    const struct
    {
        QString configured;
        bool kept;
    } cases[] = {
        {root.filePath(u"books"_s), true},
        {root.filePath(u"missing/parent/books"_s), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.configured.toStdString());
        settings::AppSettings stored;
        stored.SavePath = c.configured;
        stored.AutoDownload = false;
        settings::SaveSettings(iniFile(), stored);

        TFrmMain &w = open();

        const QString expected = c.kept ? c.configured : QDir::toNativeSeparators(documents() + u"/我抓的书"_s);
        EXPECT_EQ(w.settings().SavePath, expected);
        EXPECT_TRUE(QFileInfo(expected).isDir());
        EXPECT_EQ(settings::LoadSettings(iniFile(), documents()).SavePath, expected);
        EXPECT_FALSE(w.scheduler().isRunning());
        window.reset();
    }
}

// A leftover "<executable>.old" disappears at start.
TEST_F(MainWindowTest, StartDeletesTheOldFile)
{
    text::writeFileAtomically(options().oldFile, "old program");
    open();
    EXPECT_FALSE(QFile::exists(options().oldFile));
}

// The template file fills the chooser with "自动" first; a broken one is reported and leaves "自动" alone.
TEST_F(MainWindowTest, TemplateFileFillsTheChooser)
{
    writeSettings();
    writeTemplate();
    TFrmMain &w = open();
    EXPECT_EQ(w.chooser().count(), 2);
    EXPECT_EQ(w.chooser().itemText(1), u"样例书网"_s);
    EXPECT_EQ(w.chooser().currentIndex(), 0);
    window.reset();

    QFile::remove(templateFile());
    QFile::copy(test::dataPath(u"broken-tpe-badpair.tpe"_s), templateFile());
    TFrmMain &broken = open();
    EXPECT_EQ(broken.chooser().count(), 1);
    EXPECT_TRUE(broken.store().isEmpty());
    EXPECT_EQ(dialogs->errors.size(), 1);
}

// The list is loaded when the window is shown, "下载中" queued again; a "已下载" row shows and is gone from the
// file after the close.
TEST_F(MainWindowTest, ListLoadedOnShowAndDownloadedRowsDroppedAtClose)
{
    writeSettings();
    writeList({{u"甲"_s, 3, core::BookStatus::Downloading, chapterUrl(4)},
               {u"乙"_s, 9, core::BookStatus::Downloaded, chapterUrl(2)}});
    TFrmMain &w = open();
    ASSERT_EQ(w.books().size(), 2);
    EXPECT_EQ(w.books().entry(0).Status, core::BookStatus::Queued);
    EXPECT_EQ(w.books().entry(1).Status, core::BookStatus::Downloaded);

    EXPECT_TRUE(w.close());

    core::BookQueue saved;
    core::LoadBookList(saved, listFile());
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(saved.head(), (BookEntry{u"甲"_s, 3, core::BookStatus::Queued, chapterUrl(4)}));
}

// "下载" adds a book named after its page's title and saves the list.
TEST_F(MainWindowTest, DownloadButtonAddsABook)
{
    writeSettings();
    TFrmMain &w = open();
    dialogs->answers = {chapterUrl(1)};

    w.BtnDownloadClick();

    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return w.books().size() == 1 && w.books().head().BookName != core::ProbingCaption; }, 10'000));
    const QString name = core::bookNameFromTitle(book.chapterTitle(1) + u"_示例小说_书海阁"_s);
    EXPECT_EQ(w.books().head(), (BookEntry{name, 0, core::BookStatus::Queued, chapterUrl(1)}));
    core::BookQueue saved;
    core::LoadBookList(saved, listFile());
    EXPECT_EQ(saved.entries(), w.books().entries());
}

// End to end: the window grabs a queued book with its template, the row goes and the text file holds the book.
TEST_F(MainWindowTest, GrabsABookToTheEnd)
{
    writeSettings();
    writeTemplate();
    writeList({{u"示例小说"_s, 0, core::BookStatus::Queued, chapterUrl(1)}});
    TFrmMain &w = open();

    w.BtnBeginClick();

    ASSERT_TRUE(QTest::qWaitFor([&] { return w.books().isEmpty(); }, 20'000))
        << dialogs->messages.join(u'\n').toStdString();
    EXPECT_EQ(bytesOf(core::BookFilePath(booksFolder(), u"示例小说"_s)), book.bookFileBytes(1, 5));
    EXPECT_TRUE(dialogs->errors.isEmpty());
    EXPECT_TRUE(dialogs->messages.isEmpty());
    EXPECT_EQ(bytesOf(listFile()), QByteArray());
}

// A book whose template names the web engine is grabbed by it, to the same bytes as the static engine writes.
TEST_F(MainWindowTest, GrabsABookWithAWebTemplate)
{
    writeSettings();
    writeTemplate(templates::GrabEngine::Web);
    writeList({{u"示例小说"_s, 0, core::BookStatus::Queued, chapterUrl(1)}});
    TFrmMain &w = open();

    w.BtnBeginClick();

    ASSERT_TRUE(test::runEventLoopUntil([&] { return w.books().isEmpty(); }, 30'000))
        << dialogs->messages.join(u'\n').toStdString();
    EXPECT_EQ(bytesOf(core::BookFilePath(booksFolder(), u"示例小说"_s)), book.bookFileBytes(1, 5));
    EXPECT_TRUE(dialogs->errors.isEmpty());
    EXPECT_TRUE(dialogs->messages.isEmpty());
}

// Stop while a book loads shows the wait dialog, which hides itself once the book is queued again.
TEST_F(MainWindowTest, StopShowsTheWaitDialogUntilTheBookIsQueued)
{
    writeSettings();
    writeTemplate();
    server.setResponse(u"/hangs"_s, [] {
        HttpResponse response = HttpResponse::page("<title>x</title>");
        response.delayMs = HttpResponse::Never;
        return response;
    }());
    writeList({{u"挂起的书"_s, 0, core::BookStatus::Queued, server.url(u"/hangs"_s).toString()}});
    TFrmMain &w = open();
    w.BtnBeginClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.books().head().Status == core::BookStatus::Downloading; }, 5000));

    w.BtnStopClick();

    EXPECT_TRUE(w.waitDialog()->isVisible());
    EXPECT_FALSE(w.scheduler().isRunning());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.waitDialog()->isVisible(); }, 5000));
    EXPECT_EQ(w.books().head().Status, core::BookStatus::Queued);
}

// Closing while a book is grabbed stops it and keeps every page grabbed so far: the text file holds them, the
// list file the row with its count and next page, and the next start queues it again.
TEST_F(MainWindowTest, CloseWhileGrabbingKeepsTheBook)
{
    writeSettings();
    writeTemplate();
    HttpResponse hanging = HttpResponse::page(book.chapterPage(3), "text/html");
    hanging.delayMs = HttpResponse::Never;
    server.setResponse(book.chapterPath(3), hanging);
    writeList({{u"示例小说"_s, 0, core::BookStatus::Queued, chapterUrl(1)}});
    TFrmMain &w = open();
    w.BtnBeginClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.books().head().PagesDone == 2; }, 10'000));
    EXPECT_EQ(w.findChild<QLabel *>(u"StatusBook"_s)->text(), u"示例小说"_s);
    EXPECT_EQ(w.findChild<QLabel *>(u"StatusPages"_s)->text(), u"2 页"_s);

    w.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 5000));

    EXPECT_EQ(bytesOf(core::BookFilePath(booksFolder(), u"示例小说"_s)), book.bookFileBytes(1, 2));
    core::BookQueue saved;
    core::LoadBookList(saved, listFile());
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(saved.head(), (BookEntry{u"示例小说"_s, 2, core::BookStatus::Queued, chapterUrl(3)}));

    window.reset();
    TFrmMain &again = open();
    ASSERT_EQ(again.books().size(), 1);
    EXPECT_EQ(again.books().head().Status, core::BookStatus::Queued);
}

// The session's end runs only the stop request: the scheduler halts and the list file is not written.
TEST_F(MainWindowTest, LogOffOnlyStops)
{
    writeSettings(true);
    TFrmMain &w = open();
    ASSERT_TRUE(w.scheduler().isRunning());

    w.winexit();

    EXPECT_FALSE(w.scheduler().isRunning());
    EXPECT_FALSE(QFile::exists(listFile()));
}

// Delete and move act on the list view's selection, and refuse while a book is being grabbed.
TEST_F(MainWindowTest, DeleteAndMoveFollowTheSelectionAndTheGuard)
{
    writeSettings();
    writeTemplate();
    server.setResponse(u"/hangs"_s, [] {
        HttpResponse response = HttpResponse::page("<title>x</title>");
        response.delayMs = HttpResponse::Never;
        return response;
    }());
    writeList({{u"甲"_s, 0, core::BookStatus::Queued, server.url(u"/hangs"_s).toString()},
               {u"乙"_s, 0, core::BookStatus::Queued, chapterUrl(2)},
               {u"丙"_s, 0, core::BookStatus::Queued, chapterUrl(3)}});
    TFrmMain &w = open();

    selectRows({2});
    w.BtnUpClick();
    EXPECT_EQ(names(), (QStringList{u"甲"_s, u"丙"_s, u"乙"_s}));
    w.BtnDownClick();
    EXPECT_EQ(names(), (QStringList{u"甲"_s, u"乙"_s, u"丙"_s}));

    w.BtnBeginClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.scheduler().isGrabbing(); }, 5000));
    selectRows({2});
    w.BtnDeleteClick();
    w.BtnUpClick();
    EXPECT_EQ(names(), (QStringList{u"甲"_s, u"乙"_s, u"丙"_s}));
    EXPECT_EQ(dialogs->messages, (QStringList{app::StopFirstMessage, app::StopFirstMessage}));
    w.BtnStopClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.scheduler().isGrabbing(); }, 5000));

    selectRows({0, 2});
    w.BtnDeleteClick();
    EXPECT_EQ(names(), QStringList{u"乙"_s});
    core::BookQueue saved;
    core::LoadBookList(saved, listFile());
    EXPECT_EQ(saved.size(), 1);
}

// A running timer with nothing to grab holds nothing: on a first start (automatic download on) with an empty list
// the template import runs, a book queued then still starts by itself at the next tick, and once it is done the
// list commands run again, all without a stop.
TEST_F(MainWindowTest, IdleRunningTimerLeavesTheCommandsFree)
{
    writeTemplate();
    const QString importFile = root.filePath(u"import.tpe"_s);
    ASSERT_TRUE(QFile::rename(templateFile(), importFile));
    TFrmMain &w = open();
    ASSERT_TRUE(w.scheduler().isRunning());
    QTest::qWait(20); // a few idle ticks

    dialogs->openAnswer = importFile;
    w.N25Click();
    EXPECT_EQ(bytesOf(templateFile()), bytesOf(importFile));
    EXPECT_EQ(w.chooser().count(), 2);

    w.books().append({u"示例小说"_s, 0, core::BookStatus::Queued, QUrl(chapterUrl(1))});
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.books().isEmpty(); }, 20'000))
        << dialogs->messages.join(u'\n').toStdString();
    EXPECT_EQ(bytesOf(core::BookFilePath(w.settings().SavePath, u"示例小说"_s)), book.bookFileBytes(1, 5));
    EXPECT_TRUE(w.scheduler().isRunning());

    // A row still being probed is not started by a tick; it may go at once.
    w.books().append({core::ProbingCaption, 0, core::BookStatus::Queued, QUrl(chapterUrl(2))});
    QTest::qWait(20);
    selectRows({0});
    w.BtnDeleteClick();
    EXPECT_TRUE(w.books().isEmpty());
    EXPECT_TRUE(dialogs->messages.isEmpty()) << dialogs->messages.join(u'\n').toStdString();
    EXPECT_TRUE(dialogs->errors.isEmpty());
}

// The template menu's commands reach the store and the chooser; an import error is shown, not thrown.
TEST_F(MainWindowTest, TemplateMenuImportsExportsAndReportsErrors)
{
    writeSettings();
    TFrmMain &w = open();
    dialogs->openAnswer = test::dataPath(u"tpe-handmade.tpe"_s);
    w.N25Click();
    EXPECT_EQ(bytesOf(templateFile()), bytesOf(dialogs->openAnswer));
    EXPECT_EQ(w.chooser().count(), w.store().ListTemplateNames(true).size());
    EXPECT_GT(w.chooser().count(), 1);

    dialogs->saveAnswer = root.filePath(u"out.tpe"_s);
    w.N26Click();
    EXPECT_EQ(bytesOf(dialogs->saveAnswer), bytesOf(templateFile()));

    dialogs->openAnswer = test::dataPath(u"broken-tpe-badpair.tpe"_s);
    const QByteArray before = bytesOf(templateFile());
    w.N25Click();
    EXPECT_EQ(dialogs->errors.size(), 1);
    EXPECT_EQ(bytesOf(templateFile()), before);

#ifndef QH_HAVE_WEBENGINE
    // Without the web engine there is no wizard; with it, wizard_tests drives the define command.
    w.N24Click();
    w.RequestRedefinition(0, chapterUrl(1));
    EXPECT_EQ(dialogs->messages, (QStringList{app::WizardMissingMessage, app::WizardMissingMessage}));
#endif
}

// OK in the settings dialog applies the new settings to the engine; Cancel changes nothing.
TEST_F(MainWindowTest, SettingsDialogOkAppliesAndCancelKeeps)
{
    writeSettings();
    TFrmMain &w = open();
    const settings::AppSettings before = w.settings();

    dialogs->settingsAnswer.reset();
    w.BtnConfigClick();
    EXPECT_EQ(w.settings(), before);
    EXPECT_EQ(w.scheduler().config().saveFolder, booksFolder());

    settings::AppSettings changed = before;
    changed.SavePath = root.filePath(u"elsewhere"_s);
    changed.BookEncoding = text::Encoding::Utf8;
    changed.PageDelay = 250;
    dialogs->settingsAnswer = changed;
    w.BtnConfigClick();

    EXPECT_EQ(w.settings(), changed);
    EXPECT_EQ(w.scheduler().config().saveFolder, changed.SavePath);
    EXPECT_EQ(w.scheduler().config().encoding, text::Encoding::Utf8);
    EXPECT_EQ(w.scheduler().config().grab.pageDelayMs, 250);
    EXPECT_EQ(w.scheduler().config().tickMs, 5);
    EXPECT_EQ(dialogs->settingsShown.size(), 2);
}

// The real settings dialog: OK gives the saved settings, Cancel gives none.
TEST_F(MainWindowTest, WidgetDialogsRunTheSettingsDialog)
{
    QWidget owner;
    app::WidgetDialogs real(&owner);
    settings::AppSettings current;
    current.SavePath = root.filePath(u"books"_s);
    current.AutoDownload = false;

    for (const bool ok : {true, false}) {
        QTimer::singleShot(0, &owner, [ok] {
            QTimer::singleShot(50, qApp, [ok] {
                auto *dialog = qobject_cast<dialogs::TFrmCfg *>(QApplication::activeModalWidget());
                ASSERT_NE(dialog, nullptr);
                dialog->findChild<QPushButton *>(ok ? u"BBtnok"_s : u"BBtnCancel"_s)->click();
            });
        });
        const auto result = real.editSettings(current, iniFile());
        EXPECT_EQ(result.has_value(), ok);
        if (ok) {
            EXPECT_EQ(result->SavePath, current.SavePath);
        }
    }
}

// The error report is a plain box with an empty caption, the error's text and one OK button, and does not block.
TEST_F(MainWindowTest, ErrorHandlerShowsAPlainBox)
{
    QWidget owner;
    QPointer<QMessageBox> box = app::ApplicationEvents1Exception(&owner, u"无法写入文件“a.txt”：磁盘已满"_s);

    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowTitle(), QString());
    EXPECT_EQ(box->text(), u"无法写入文件“a.txt”：磁盘已满"_s);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->parentWidget(), &owner);
    box->button(QMessageBox::Ok)->click();
    QTest::qWait(1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(box.isNull());
}

// Ctrl+Enter shows the grabbed page's text over the list and Ctrl+Space hides it; Enter or Space alone do not.
TEST_F(MainWindowTest, CtrlEnterShowsThePageAndCtrlSpaceHidesIt)
{
    writeSettings();
    TFrmMain &w = open();
    QSignalSpy loaded(&w.grabBrowser(), &browser::Browser::loadFinished);
    w.grabBrowser().Navigate(QUrl(chapterUrl(2)));
    ASSERT_TRUE(loaded.wait(5000));

    QTest::keyClick(w.downList(), Qt::Key_Return);
    EXPECT_FALSE(w.pageView()->isVisible());
    QTest::keyClick(w.downList(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(w.pageView()->isVisible());
    EXPECT_TRUE(w.pageView()->toPlainText().contains(book.chapterTitle(2)));
    QTest::keyClick(w.downList(), Qt::Key_Space);
    EXPECT_TRUE(w.pageView()->isVisible());
    QTest::keyClick(w.downList(), Qt::Key_Space, Qt::ControlModifier);
    EXPECT_FALSE(w.pageView()->isVisible());
}

// When the desktop has no program for the help document, the save folder or the project's page, a notice says so
// and names the file, folder or address, so that the user can open it by hand.
TEST_F(MainWindowTest, OpenThatFailsNamesWhatToOpenByHand)
{
    writeSettings();
    TFrmMain &w = open();
    dialogs->canOpen = false;
    const struct
    {
        void (TFrmMain::*command)();
        QString names;
    } cases[] = {
        {&TFrmMain::MenuItem1Click, QDir::toNativeSeparators(options().helpFile)},
        {&TFrmMain::BtnBrowseClick, QDir::toNativeSeparators(booksFolder())},
        {&TFrmMain::Image2Click, dialogs::ProjectAddress},
    };
    for (const auto &c : cases) {
        dialogs->messages.clear();
        (w.*c.command)();
        ASSERT_EQ(dialogs->messages.size(), 1) << c.names.toStdString();
        EXPECT_TRUE(dialogs->messages.first().contains(c.names)) << dialogs->messages.first().toStdString();
        EXPECT_TRUE(dialogs->messages.first().contains(u"手动打开"_s));
    }

    dialogs->canOpen = true;
    dialogs->messages.clear();
    w.MenuItem1Click();
    EXPECT_TRUE(dialogs->messages.isEmpty());
}

// The status bar shows the finished book's whole line, however long its name, while the window has room for it; a
// panel narrower than its text shows it cut in the middle, with the whole text as its tooltip.
TEST_F(MainWindowTest, StatusBarShowsTheWholeLine)
{
    writeSettings();
    writeTemplate();
    const QString name = u"第1章 风起云涌之乙 - 星路"_s;
    writeList({{name, 0, core::BookStatus::Queued, chapterUrl(1)}});
    TFrmMain &w = open();
    w.BtnBeginClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.books().isEmpty(); }, 20'000));
    auto *status = w.findChild<app::StatusLabel *>(u"StatusBook"_s);
    ASSERT_NE(status, nullptr);
    const QString line = u"《%1》下载完成"_s.arg(name);
    ASSERT_TRUE(QTest::qWaitFor([&] { return status->shownText() == line; }, 2000))
        << status->shownText().toStdString();
    EXPECT_EQ(status->text(), line);
    EXPECT_TRUE(status->toolTip().isEmpty());
    const auto *pages = w.findChild<QLabel *>(u"StatusPages"_s);
    EXPECT_GE(pages->x(), status->geometry().right()) << "the pages panel covers the book's";

    app::StatusLabel narrow;
    narrow.resize(narrow.fontMetrics().horizontalAdvance(line) / 2, 20);
    narrow.setStatusText(line);
    EXPECT_TRUE(narrow.shownText().contains(u"…"_s)) << narrow.shownText().toStdString();
    EXPECT_TRUE(narrow.shownText().startsWith(u"《"_s));
    EXPECT_TRUE(narrow.shownText().endsWith(u"下载完成"_s));
    EXPECT_EQ(narrow.toolTip(), line);
    EXPECT_EQ(narrow.text(), line);
}

// The preview shows nothing of a book that has left the list: one deleted after a stop, or one that finished.
TEST_F(MainWindowTest, PreviewForgetsABookThatLeavesTheList)
{
    writeSettings();
    writeTemplate();
    HttpResponse hanging = HttpResponse::page(book.chapterPage(3), "text/html");
    hanging.delayMs = HttpResponse::Never;
    server.setResponse(book.chapterPath(3), hanging);
    writeList(
        {{u"甲"_s, 0, core::BookStatus::Queued, chapterUrl(1)}, {u"乙"_s, 0, core::BookStatus::Queued, chapterUrl(4)}});
    TFrmMain &w = open();
    auto *preview = w.findChild<QPlainTextEdit *>(u"MemoPreview"_s);
    w.BtnBeginClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.books().head().PagesDone == 2; }, 10'000));
    w.BtnStopClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.scheduler().isGrabbing(); }, 5000));
    ASSERT_FALSE(preview->toPlainText().isEmpty());

    // Deleting another book leaves the preview alone.
    selectRows({1});
    w.BtnDeleteClick();
    EXPECT_FALSE(preview->toPlainText().isEmpty());
    selectRows({0});
    w.BtnDeleteClick();
    ASSERT_TRUE(w.books().isEmpty());
    EXPECT_TRUE(preview->toPlainText().isEmpty());
    w.showPageView();
    EXPECT_TRUE(w.pageView()->toPlainText().isEmpty()) << w.pageView()->toPlainText().toStdString();
    w.hidePageView();

    // A finished book goes the same way.
    server.setResponse(book.chapterPath(3), HttpResponse::page(book.chapterPage(3), "text/html"));
    w.books().append({u"丙"_s, 0, core::BookStatus::Queued, QUrl(chapterUrl(4))});
    w.BtnBeginClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.books().isEmpty(); }, 20'000));
    EXPECT_TRUE(preview->toPlainText().isEmpty());
    w.showPageView();
    EXPECT_TRUE(w.pageView()->toPlainText().isEmpty());
}

// Help opens the help document, browse the save folder, Image2 the project's page; About shows the about box.
TEST_F(MainWindowTest, HelpBrowseAndAboutOpenTheirTargets)
{
    writeSettings();
    TFrmMain &w = open();
    w.MenuItem1Click();
    w.BtnBrowseClick();
    w.Image2Click();
    w.MenuItem3Click();

    ASSERT_EQ(dialogs->opened.size(), 3);
    EXPECT_EQ(dialogs->opened.at(0), QUrl::fromLocalFile(options().helpFile));
    EXPECT_EQ(dialogs->opened.at(1), QUrl::fromLocalFile(booksFolder()));
    EXPECT_EQ(dialogs->opened.at(2).scheme(), u"https"_s);
    EXPECT_EQ(dialogs->aboutShown, 1);
}

// The help document that ships with the program is there and in Chinese.
TEST(HelpDocument, ShipsNextToTheProgram)
{
    const QString help = QStringLiteral(QH_BIN_DIR "/help.html");
    const QString text = QString::fromUtf8(bytesOf(help));
    EXPECT_TRUE(text.contains(u"添加要下载的电子书"_s));
    EXPECT_TRUE(text.contains(u"quillhaul-cli templates define"_s));
    EXPECT_TRUE(text.contains(u"quillhaul-cli dom"_s));
    EXPECT_TRUE(text.contains(u"版本 "_s + QStringLiteral(QUILLHAUL_VERSION))) << "the help names another version";
    EXPECT_FALSE(text.contains(u"@PROJECT_VERSION@"_s));
}

} // namespace

// quillhaul --demo: the sample site's book, queued in a fresh data folder, downloads by itself once the window shows,
// as a text book or, when the settings say so, as an EPUB book that holds the same pages and passes the reference
// checker.
TEST_F(MainWindowTest, DemoDownloadsItsBook)
{
    for (const BookFormat format : {BookFormat::Text, BookFormat::Epub}) {
        SCOPED_TRACE(formatKey(format).toStdString());
        app::DemoSite demo(format, 8);
        auto scripted = std::make_unique<ScriptedDialogs>();
        dialogs = scripted.get();
        app::MainWindowOptions demoOptions = options();
        demoOptions.demoFolder = demo.path();
        window = std::make_unique<TFrmMain>(demo.folder(), demoOptions, std::move(scripted));
        window->show();
        EXPECT_TRUE(window->windowTitle().contains(QDir::toNativeSeparators(demo.path())))
            << window->windowTitle().toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->books().isEmpty(); }, 20'000))
            << dialogs->messages.join(u'\n').toStdString();
        const QString bookFile = core::BookFilePath(demo.saveFolder(), demo.bookName(), format);
        if (format == BookFormat::Text) {
            EXPECT_EQ(bytesOf(bookFile), demo.expectedBookBytes());
        } else {
            QByteArray asText;
            for (const output::EpubPage &page : output::readEpubChapters(bookFile))
                asText += engine::formatBookText({page.title, page.text}, text::Encoding::Gb18030);
            EXPECT_EQ(asText, demo.expectedBookBytes());
            if (const QString epubcheck = test::epubcheckProgram(); !epubcheck.isEmpty()) {
                const test::EpubcheckResult check = test::runEpubcheck(epubcheck, bookFile);
                EXPECT_TRUE(check.clean()) << check.output.toStdString();
            }
        }
        EXPECT_EQ(window->findChild<QLabel *>(u"StatusBook"_s)->text(), u"《示例小说》下载完成"_s);
        EXPECT_EQ(window->findChild<QLabel *>(u"StatusPages"_s)->text(), u"8 页"_s);
        EXPECT_TRUE(dialogs->errors.isEmpty());
        window.reset();
    }
}

// The demo's temporary folder, with all it holds (settings, list, templates, the downloaded book), goes with it.
TEST(DemoSite, RemovesItsFolderWhenItEnds)
{
    QString path;
    {
        app::DemoSite demo(BookFormat::Text, 2);
        path = demo.path();
        ASSERT_TRUE(QFileInfo(demo.folder().bookListFile()).isFile());
        text::writeFileAtomically(core::BookFilePath(demo.saveFolder(), demo.bookName()), "text");
    }
    EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
}

// "检查更新" queues every finished book for its new chapters: the status bar says what each update brought and a
// message how many books got new chapters. The finished books are remembered across a restart of the window.
TEST_F(MainWindowTest, CheckUpdatesFetchesNewChapters)
{
    writeSettings();
    writeTemplate();
    writeList({{u"示例小说"_s, 0, core::BookStatus::Queued, chapterUrl(1)}});
    {
        TFrmMain &w = open();
        w.BtnBeginClick();
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.books().isEmpty(); }, 20'000))
            << dialogs->messages.join(u'\n').toStdString();
        w.BtnStopClick();
        w.close();
        window.reset();
    }
    const SampleBook seven(7, 300);
    for (int chapter = 1; chapter <= seven.chapterCount(); ++chapter)
        server.setResponse(seven.chapterPath(chapter), HttpResponse::page(seven.chapterPage(chapter), "text/html"));

    TFrmMain &w = open();
    auto *check = w.findChild<QAction *>(u"CheckUpdates"_s);
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->text(), u"检查更新"_s);
    auto *status = w.findChild<app::StatusLabel *>(u"StatusBook"_s);
    QStringList shown;
    QObject::connect(&w.session().updates(), &session::BookUpdates::newPages, &w,
                     [&](const QString &, int) { shown << status->text(); });
    check->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs->messages.isEmpty(); }, 20'000));
    EXPECT_EQ(dialogs->messages, QStringList{u"检查更新完毕：1 本书有新章节。"_s});
    EXPECT_EQ(shown, (QStringList{u"《示例小说》：新增 1 页"_s, u"《示例小说》：新增 2 页"_s}));
    EXPECT_EQ(status->text(), u"检查更新完毕：1 本书有新章节。"_s);
    EXPECT_EQ(bytesOf(core::BookFilePath(booksFolder(), u"示例小说"_s)), seven.bookFileBytes(1, 7));
    EXPECT_TRUE(dialogs->errors.isEmpty()) << dialogs->errors.join(u'\n').toStdString();

    dialogs->messages.clear();
    check->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs->messages.isEmpty(); }, 20'000));
    EXPECT_EQ(dialogs->messages, QStringList{u"检查更新完毕：0 本书有新章节。"_s});
    EXPECT_EQ(bytesOf(core::BookFilePath(booksFolder(), u"示例小说"_s)), seven.bookFileBytes(1, 7));
}
