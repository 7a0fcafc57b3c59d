#include "browser/web/webbrowser.h"
#include "engine/bookupdate.h"
#include "engine/downloadscheduler.h"
#include "engine/enginehost.h"
#include "session/enginebrowsers.h"

#include "core/bookqueue.h"
#include "templates/selection.h"
#include "templates/sitehead.h"
#include "templates/templatechooser.h"
#include "templates/templatestore.h"

#include "demo/httpserver.h"
#include "support/recordinghost.h"
#include "support/testutils.h"

#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace qh;
using engine::GrabEnd;

namespace {

QString chapterTitle(int chapter)
{
    return u"第%1章"_s.arg(chapter);
}

QString chapterText(int chapter)
{
    return u"第%1章的正文，第一段。\n第二段。"_s.arg(chapter);
}

// Two script-driven sites of three chapters each. On "/jslink/" the text is in the page but the next link is a
// script link (the last chapter's does nothing). On "/late/" the links are plain but a script writes the text into
// the page a moment after it has loaded. Both pages have the same element order once their scripts have run: HTML,
// HEAD, TITLE, BODY, H1 (4), DIV (5), P (6), A, SCRIPT.
QByteArray jsLinkPage(int chapter, int last)
{
    const QString next = chapter < last ? u"javascript:go()"_s : u"javascript:void(0)"_s;
    return u"<html><head><title>t</title></head><body><h1>%1</h1><div><p>%2</p></div>"
           "<a href=\"%3\">下一页</a><script>function go() { location.href = '/jslink/%4'; }</script></body></html>"_s
               .arg(chapterTitle(chapter), QString(chapterText(chapter)).replace(u'\n', u"<br>"_s), next)
               .arg(chapter + 1)
               .toUtf8();
}

QByteArray lateTextPage(int chapter, int last)
{
    const QString next = chapter < last ? u"<a href=\"%1\">下一页</a>"_s.arg(chapter + 1) : u"<a>目录</a>"_s;
    return u"<html><head><title>t</title></head><body><h1>%1</h1><div></div>%2<script>setTimeout(function () {"
           " document.querySelector('div').innerHTML = '<p>%3</p>'; }, 50);</script></body></html>"_s
               .arg(chapterTitle(chapter), next, QString(chapterText(chapter)).replace(u'\n', u"<br>"_s))
               .toUtf8();
}

QByteArray expectedBook(int chapters)
{
    QString text;
    for (int chapter = 1; chapter <= chapters; ++chapter)
        text += chapterTitle(chapter) + u"\r\n"_s + QString(chapterText(chapter)).replace(u'\n', u"\r\n"_s) + u"\r\n"_s;
    return text.toUtf8();
}

class WebGrabTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        for (int chapter = 1; chapter <= Chapters; ++chapter) {
            server.setPage(u"/jslink/%1"_s.arg(chapter), jsLinkPage(chapter, Chapters));
            server.setPage(u"/late/%1"_s.arg(chapter), lateTextPage(chapter, Chapters));
        }
        config.tickMs = 5;
        config.stallPauseMs = 10;
        config.grab.retryDelaysMs = {1};
        config.grab.locators.timeLimitMs = 800;
        config.grab.scriptLinkGraceMs = 300;
        config.saveFolder = folder.path();
        config.listFile = folder.filePath(u"downlist.dat"_s);
        config.encoding = text::Encoding::Utf8;
    }

    void useTemplate(templates::GrabEngine engine)
    {
        const QString head = templates::SiteHeadOf(server.url(u"/"_s).toString());
        const QString name = u"脚本书网"_s;
        store.AddTemplateRecord(name, head);
        const auto write = [&](const QString &key, const QString &value) {
            store.WriteTemplateParam(name, head, key, value);
        };
        write(u"linkname"_s, u"下一页"_s);
        write(u"ititleindex"_s, u"4"_s);
        write(u"sTitleTagname"_s, u"H1"_s);
        write(u"icontentindex"_s, u"6"_s);
        write(u"sContentTagname"_s, u"P"_s);
        write(u"iparentindex"_s, u"5"_s);
        if (engine == templates::GrabEngine::Web)
            write(u"sEngine"_s, u"web"_s);
        templates::fillTemplateChooser(chooser, store);
        chooser.setCurrentIndex(0);
    }

    // Grabs the book that starts at path and returns how it ended.
    GrabEnd grab(const QString &path)
    {
        books.append({u"书"_s, 0, core::BookStatus::Queued, server.url(path).toString()});
        return runHeadBook();
    }

    // Runs a scheduler until the head book ends; whileRunning may act on it meanwhile (stop it, say).
    GrabEnd runHeadBook(const std::function<void(engine::DownloadScheduler &)> &whileRunning = {})
    {
        engine::DownloadScheduler scheduler(books, store, chooser, ui, browsers, config);
        QList<GrabEnd> ends;
        QObject::connect(&scheduler, &engine::DownloadScheduler::bookEnded, &scheduler,
                         [&ends](GrabEnd end) { ends << end; });
        scheduler.start();
        if (whileRunning)
            whileRunning(scheduler);
        EXPECT_TRUE(qh::test::runEventLoopUntil([&] { return !ends.isEmpty(); }, 30'000)) << "the book never ended";
        return ends.value(0, GrabEnd::Stopped);
    }

    QByteArray bookFile() const
    {
        QFile file(folder.filePath(u"书.txt"_s));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    static constexpr int Chapters = 3;
    QTemporaryDir folder;
    demo::HttpServer server;
    templates::TemplateStore store;
    templates::ListTemplateChooser chooser;
    core::BookQueue books;
    test::RecordingHost ui;
    session::EngineBrowsers browsers{[](QObject *parent) { return browser::createWebGrabBrowser(parent); }};
    engine::SchedulerConfig config;
};

} // namespace

// Script links are clicked and followed to the page they load; the last chapter's link, which loads nothing, ends
// the book.
TEST_F(WebGrabTest, AWebTemplateFollowsScriptLinksToTheEnd)
{
    useTemplate(templates::GrabEngine::Web);
    EXPECT_EQ(grab(u"/jslink/1"_s), GrabEnd::Complete);
    EXPECT_EQ(bookFile(), expectedBook(Chapters));
    EXPECT_TRUE(books.isEmpty());
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(u'|').toStdString();
    for (int chapter = 1; chapter <= Chapters; ++chapter)
        EXPECT_EQ(server.requestCount(u"/jslink/%1"_s.arg(chapter)), 1) << chapter;
}

// The same book with a static template: the first page is read, then its script link cannot be followed.
TEST_F(WebGrabTest, AStaticTemplateStopsAtTheScriptLinkWithAMessage)
{
    useTemplate(templates::GrabEngine::Static);
    EXPECT_EQ(grab(u"/jslink/1"_s), GrabEnd::ScriptLinkNeedsScripts);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages.first().contains(u"javascript:go()"_s)) << ui.messages.first().toStdString();
    ASSERT_EQ(books.size(), 1);
    EXPECT_EQ(books.head().Status, core::BookStatus::Queued);
    EXPECT_EQ(books.head().CurrentUrl, server.url(u"/jslink/1"_s));
}

// Text that a script writes after the load is waited for and grabbed exactly.
TEST_F(WebGrabTest, AWebTemplateGrabsTextWrittenByScripts)
{
    useTemplate(templates::GrabEngine::Web);
    EXPECT_EQ(grab(u"/late/1"_s), GrabEnd::Complete);
    EXPECT_EQ(bookFile(), expectedBook(Chapters));
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(u'|').toStdString();
}

// A page the web engine cannot load is tried again, then the book goes back to the queue with a message naming it.
TEST_F(WebGrabTest, AFailingPageRequeuesTheBook)
{
    useTemplate(templates::GrabEngine::Web);
    demo::HttpResponse gone = demo::HttpResponse::page("<p>gone</p>");
    gone.status = 500;
    server.setResponse(u"/late/2"_s, gone);
    EXPECT_EQ(grab(u"/late/1"_s), GrabEnd::LoadFailed);
    EXPECT_EQ(server.requestCount(u"/late/2"_s), 2);
    ASSERT_EQ(books.size(), 1);
    EXPECT_EQ(books.head().Status, core::BookStatus::Queued);
    EXPECT_EQ(books.head().PagesDone, 1);
    EXPECT_EQ(books.head().CurrentUrl, server.url(u"/late/2"_s));
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages.first().contains(server.url(u"/late/2"_s).toDisplayString()));
    EXPECT_EQ(bookFile(), expectedBook(1));
}

// A stop while a clicked script link is loading the next page takes nothing of the page it was clicked on: the row
// stays at that page, and the resumed grab writes every chapter exactly once.
TEST_F(WebGrabTest, StopWhileAScriptLinkLoadsThenResume)
{
    useTemplate(templates::GrabEngine::Web);
    demo::HttpResponse slow = demo::HttpResponse::page(jsLinkPage(2, Chapters));
    slow.delayMs = 1500;
    server.setResponse(u"/jslink/2"_s, slow);
    books.append({u"书"_s, 0, core::BookStatus::Queued, server.url(u"/jslink/1"_s).toString()});
    const GrabEnd stopped = runHeadBook([this](engine::DownloadScheduler &scheduler) {
        ASSERT_TRUE(qh::test::runEventLoopUntil([&] { return server.requestCount(u"/jslink/2"_s) == 1; }, 30'000));
        scheduler.requestStop();
    });
    EXPECT_EQ(stopped, GrabEnd::Stopped);
    ASSERT_EQ(books.size(), 1);
    EXPECT_EQ(books.head().Status, core::BookStatus::Queued);
    EXPECT_EQ(books.head().PagesDone, 0);
    EXPECT_EQ(books.head().CurrentUrl, server.url(u"/jslink/1"_s));

    server.setPage(u"/jslink/2"_s, jsLinkPage(2, Chapters));
    EXPECT_EQ(runHeadBook(), GrabEnd::Complete);
    EXPECT_EQ(bookFile(), expectedBook(Chapters));
}

// An update through script links: the last page held is clicked for its next link only, and the chapters its script
// now leads to are appended, each once.
TEST_F(WebGrabTest, AnUpdateFollowsTheLastPagesScriptLink)
{
    useTemplate(templates::GrabEngine::Web);
    QList<core::FinishedBook> finished;
    const auto recordFinished = [&finished](engine::DownloadScheduler &scheduler) {
        QObject::connect(&scheduler, &engine::DownloadScheduler::bookFinished, &scheduler,
                         [&finished](const core::FinishedBook &book) { finished << book; });
    };
    books.append({u"书"_s, 0, core::BookStatus::Queued, server.url(u"/jslink/1"_s).toString()});
    ASSERT_EQ(runHeadBook(recordFinished), GrabEnd::Complete);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.first().lastPage, server.url(u"/jslink/3"_s));

    for (int chapter = 1; chapter <= 5; ++chapter)
        server.setPage(u"/jslink/%1"_s.arg(chapter), jsLinkPage(chapter, 5));
    engine::queueBookUpdate(books, finished.first(), folder.filePath(u"temp"_s));
    EXPECT_EQ(runHeadBook(recordFinished), GrabEnd::Complete);
    EXPECT_EQ(bookFile(), expectedBook(5));
    ASSERT_EQ(finished.size(), 2);
    EXPECT_EQ(finished.last().pages, 5);
    for (int chapter = 4; chapter <= 5; ++chapter)
        EXPECT_EQ(server.requestCount(u"/jslink/%1"_s.arg(chapter)), 1) << chapter;
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(u'|').toStdString();
}
