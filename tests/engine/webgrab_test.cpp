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
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace qh;
using demo::HttpResponse;
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

// A chapter whose title and text are in the markup as empty elements, filled by a timer: the text textDelayMs, the
// title titleDelayMs after the page has loaded (0: the title is in the markup). Same element order as above.
QByteArray filledLaterPage(int chapter, int last, int textDelayMs, int titleDelayMs)
{
    const QString next = chapter < last ? u"<a href=\"%1\">下一页</a>"_s.arg(chapter + 1) : u"<a>目录</a>"_s;
    const QString title = titleDelayMs > 0 ? QString() : chapterTitle(chapter);
    return u"<html><head><title>t</title></head><body><h1>%1</h1><div><p></p></div>%2<script>"
           "setTimeout(function () { document.querySelector('p').innerHTML = '%3'; }, %4);"
           "setTimeout(function () { document.querySelector('h1').textContent = '%5'; }, %6);"
           "</script></body></html>"_s.arg(title, next, QString(chapterText(chapter)).replace(u'\n', u"<br>"_s))
               .arg(textDelayMs)
               .arg(chapterTitle(chapter))
               .arg(qMax(titleDelayMs, 0))
               .toUtf8();
}

// A chapter whose text a script fetches: its paragraph is made only when the request, which the server answers
// late, has come back.
QByteArray fetchedTextPage(int chapter, int last)
{
    const QString next = chapter < last ? u"<a href=\"%1\">下一页</a>"_s.arg(chapter + 1) : u"<a>目录</a>"_s;
    return u"<html><head><title>t</title></head><body><h1>%1</h1><div></div>%2<script>"
           "fetch('/fetched/text/%3').then(function (r) { return r.text(); }).then(function (text) {"
           " document.querySelector('div').innerHTML = '<p>' + text + '</p>'; });</script></body></html>"_s
               .arg(chapterTitle(chapter), next)
               .arg(chapter)
               .toUtf8();
}

// A book shown at one address: its next link fetches the next chapter and puts it in place of the one shown, without
// a load and without changing the address; the last chapter's link does nothing.
QByteArray inPlacePage(int last)
{
    return u"<html><head><title>t</title></head><body><h1>%1</h1><div><p>%2</p></div>"
           "<a href=\"javascript:next()\">下一页</a><script>var chapter = 1;"
           "function next() { if (chapter >= %3) return;"
           " fetch('/inplace/chapter/' + (chapter + 1)).then(function (r) { return r.json(); }).then(function (c) {"
           " chapter++; document.querySelector('h1').textContent = c.title;"
           " document.querySelector('p').innerHTML = c.text; }); }</script></body></html>"_s
               .arg(chapterTitle(1), QString(chapterText(1)).replace(u'\n', u"<br>"_s))
               .arg(last)
               .toUtf8();
}

QByteArray inPlaceChapter(int chapter)
{
    QJsonObject object;
    object.insert(u"title"_s, chapterTitle(chapter));
    object.insert(u"text"_s, QString(chapterText(chapter)).replace(u'\n', u"<br>"_s));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
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

// Title and text that a timer writes into their empty elements, soon or well after the load, are waited for; an
// empty element is no text yet.
TEST_F(WebGrabTest, TextAndTitleWrittenLateAreWaitedFor)
{
    const struct
    {
        const char *what;
        int textDelayMs;
        int titleDelayMs;
    } cases[] = {
        {"text after 200 ms", 200, 0},
        {"text after 1.5 s", 1500, 0},
        {"title after the text", 100, 600},
    };
    useTemplate(templates::GrabEngine::Web);
    config.grab.locators.timeLimitMs = 5000;
    for (const auto &c : cases) {
        const QString path = u"/filled-%1-%2/"_s.arg(c.textDelayMs).arg(c.titleDelayMs);
        for (int chapter = 1; chapter <= Chapters; ++chapter)
            server.setPage(path + QString::number(chapter),
                           filledLaterPage(chapter, Chapters, c.textDelayMs, c.titleDelayMs));
        QFile::remove(folder.filePath(u"书.txt"_s));
        EXPECT_EQ(grab(path + u"1"_s), GrabEnd::Complete) << c.what;
        EXPECT_EQ(bookFile(), expectedBook(Chapters)) << c.what;
        EXPECT_TRUE(ui.messages.isEmpty()) << c.what << ui.messages.join(u'|').toStdString();
    }
}

// A page whose text element stays empty gives the empty text at the time limit: the template no longer fits.
TEST_F(WebGrabTest, TextThatNeverComesIsEmptyAtTheLimit)
{
    useTemplate(templates::GrabEngine::Web);
    server.setPage(u"/never/1"_s, filledLaterPage(1, 1, 60'000, 0));
    EXPECT_EQ(grab(u"/never/1"_s), GrabEnd::EmptyText);
    ASSERT_EQ(books.size(), 1);
    EXPECT_EQ(books.head().PagesDone, 0);
    EXPECT_EQ(books.head().CurrentUrl, server.url(u"/never/1"_s));
}

// The paragraph is made only once a request the server answers after a second has come back: the page is quiet
// meanwhile, but it still waits for its request, so it has not settled and the text is read whole.
TEST_F(WebGrabTest, TextFromASlowRequestIsRead)
{
    useTemplate(templates::GrabEngine::Web);
    config.grab.locators.timeLimitMs = 5000;
    for (int chapter = 1; chapter <= Chapters; ++chapter) {
        server.setPage(u"/fetched/%1"_s.arg(chapter), fetchedTextPage(chapter, Chapters));
        HttpResponse text =
            HttpResponse::page(QString(chapterText(chapter)).replace(u'\n', u"<br>"_s).toUtf8(), "text/plain");
        text.delayMs = 1000;
        server.setResponse(u"/fetched/text/%1"_s.arg(chapter), text);
    }
    EXPECT_EQ(grab(u"/fetched/1"_s), GrabEnd::Complete);
    EXPECT_EQ(bookFile(), expectedBook(Chapters));
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(u'|').toStdString();
}

// Chapters a script puts in place of the one shown, 3 seconds after the click (longer than the grace for a load to
// start): each is waited for and taken, and the last chapter's link, which changes nothing, ends the book.
TEST_F(WebGrabTest, ChaptersReplacedInPlaceAfterThreeSeconds)
{
    useTemplate(templates::GrabEngine::Web);
    config.grab.scriptLinkGraceMs = 2000;
    config.grab.locators.timeLimitMs = 6000;
    server.setPage(u"/inplace/book"_s, inPlacePage(Chapters));
    for (int chapter = 2; chapter <= Chapters; ++chapter) {
        HttpResponse next = HttpResponse::page(inPlaceChapter(chapter), "application/json");
        next.delayMs = 3000;
        server.setResponse(u"/inplace/chapter/%1"_s.arg(chapter), next);
    }
    EXPECT_EQ(grab(u"/inplace/book"_s), GrabEnd::Complete);
    EXPECT_EQ(bookFile(), expectedBook(Chapters));
    EXPECT_TRUE(books.isEmpty());
    EXPECT_EQ(server.requestCount(u"/inplace/book"_s), 1);
}

// A stop inside a chain of chapters shown in place at one address: the resume loads that address and passes over
// the chapters the book holds by following the link, so no chapter is taken twice and none is left out.
TEST_F(WebGrabTest, StopAndResumeInsideAChainShownInPlace)
{
    constexpr int Long = 5;
    useTemplate(templates::GrabEngine::Web);
    config.grab.locators.timeLimitMs = 5000;
    config.checkpointMs = 0;
    server.setPage(u"/inplace/book"_s, inPlacePage(Long));
    for (int chapter = 2; chapter <= Long; ++chapter) {
        HttpResponse next = HttpResponse::page(inPlaceChapter(chapter), "application/json");
        next.delayMs = 200;
        server.setResponse(u"/inplace/chapter/%1"_s.arg(chapter), next);
    }
    books.append({u"书"_s, 0, core::BookStatus::Queued, server.url(u"/inplace/book"_s).toString()});
    const GrabEnd stopped = runHeadBook([this](engine::DownloadScheduler &scheduler) {
        ASSERT_TRUE(
            qh::test::runEventLoopUntil([&] { return !books.isEmpty() && books.head().PagesDone >= 2; }, 30'000));
        scheduler.requestStop();
    });
    EXPECT_EQ(stopped, GrabEnd::Stopped);
    ASSERT_EQ(books.size(), 1);
    const int taken = books.head().PagesDone;
    EXPECT_GE(taken, 2);
    EXPECT_LT(taken, Long);
    EXPECT_EQ(books.head().CurrentUrl, server.url(u"/inplace/book"_s));
    EXPECT_EQ(bookFile(), expectedBook(taken));

    EXPECT_EQ(runHeadBook(), GrabEnd::Complete);
    EXPECT_EQ(bookFile(), expectedBook(Long));
    EXPECT_TRUE(books.isEmpty());
}
