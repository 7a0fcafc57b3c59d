#include "engine/anchormatch.h"
#include "engine/downloadscheduler.h"

#include "browser/html/htmlparser.h"
#include "browser/html/staticbrowser.h"
#include "core/bookentry.h"
#include "core/bookqueue.h"
#include "templates/selection.h"
#include "templates/sitehead.h"
#include "templates/templatechooser.h"
#include "templates/templatefile.h"
#include "templates/templatestore.h"
#include "templates/wizardsave.h"

#include "demo/httpserver.h"
#include "support/recordinghost.h"
#include "support/testutils.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using namespace Qt::StringLiterals;
using namespace qh;
using demo::HttpResponse;
using engine::GrabEnd;

namespace {

// A serial whose chapters run over several pages each, as many reading sites split them: the link at the foot reads
// "下一页" inside a chapter and "下一章" on a chapter's last page, and the book's last page has none that leads on.
// Pages differ in their furniture: some carry ad blocks before the text inside its box, and the menu above grows
// from chapter to chapter, so that every element after it moves.
class SplitSerial
{
public:
    explicit SplitSerial(QList<int> pagesPerChapter, QString nextLinkMarkupFormat = u"%1"_s)
        : m_pages(std::move(pagesPerChapter)), m_linkFormat(std::move(nextLinkMarkupFormat))
    {}

    QString path(int chapter, int page) const { return u"/s/%1_%2.html"_s.arg(chapter).arg(page); }
    QString firstPath() const { return path(1, 1); }
    QList<QPair<int, int>> pages() const
    {
        QList<QPair<int, int>> all;
        for (int chapter = 1; chapter <= m_pages.size(); ++chapter) {
            for (int page = 1; page <= m_pages.at(chapter - 1); ++page)
                all.append({chapter, page});
        }
        return all;
    }

    QString title(int chapter, int page) const
    {
        const int of = m_pages.at(chapter - 1);
        return of == 1 ? u"第%1章 远行"_s.arg(chapter) : u"第%1章 远行（%2/%3）"_s.arg(chapter).arg(page).arg(of);
    }
    QString paragraph(int chapter, int page, int n) const
    {
        return u"第%1章第%2页第%3段：山路很长，他走了很久。"_s.arg(chapter).arg(page).arg(n);
    }

    QByteArray html(int chapter, int page) const
    {
        const int of = m_pages.at(chapter - 1);
        const bool lastOfBook = chapter == m_pages.size() && page == of;
        const QString nextPath = page < of ? path(chapter, page + 1) : path(chapter + 1, 1);
        const QString nextWord = page < of ? u"下一页"_s : u"下一章"_s;
        QString menu;
        for (int i = 0; i < 3 + chapter * 2; ++i)
            menu += u"<li><a href=\"/sort/%1/\">分类%1</a></li>"_s.arg(i);
        const QString ads = u"<div class=\"ad\"><script>ad(%1);</script><span>广告</span></div>"_s.arg(page).repeated(
            (chapter + page) % 3);
        const QString next = lastOfBook
                                 ? u"<a href=\"/s/\" class=\"next\">没有了</a>"_s
                                 : u"<a href=\"%1\" class=\"next\">%2</a>"_s.arg(nextPath, m_linkFormat.arg(nextWord));
        const QString page_ =
            u"<!DOCTYPE html>\n<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">\n"
            "<title>%1_远行记_书网</title>\n</head>\n<body>\n<div class=\"top\"><ul>%2</ul></div>\n"
            "<div id=\"main\">\n<div class=\"bookname\"><h1>%1</h1></div>\n"
            "<div class=\"readbox\">%3<div class=\"txt\">%4<br />\n<br />\n%5</div></div>\n"
            "<div class=\"page_nav\"><a href=\"/s/\">目录</a> %6</div>\n</div>\n"
            "<div class=\"footer\">本站小说均为示例</div>\n</body>\n</html>\n"_s.arg(
                title(chapter, page), menu, ads, paragraph(chapter, page, 1), paragraph(chapter, page, 2), next);
        return QStringEncoder("GB18030").encode(page_);
    }

    // The book a grab from the first page must write: each page's title and text, CR LF after each, in GB18030.
    QByteArray bookBytes(int pageCount = -1) const
    {
        QString text;
        const QList<QPair<int, int>> all = pages();
        for (qsizetype i = 0; i < (pageCount < 0 ? all.size() : pageCount); ++i) {
            const auto [chapter, page] = all.at(i);
            text += title(chapter, page) + u"\r\n"_s + paragraph(chapter, page, 1) + u"\r\n\r\n"_s +
                    paragraph(chapter, page, 2) + u"\r\n"_s;
        }
        return QStringEncoder("GB18030").encode(text);
    }

    // The values a definition on the first page records, anchors included or not.
    templates::TemplateValues definition(bool anchors) const
    {
        const auto document = browser::parseHtmlDocument(html(1, 1), "text/html", QUrl(u"http://x.test/s/1_1.html"_s));
        templates::TemplateValues values;
        for (int i = 0; i < document->elementCount(); ++i) {
            const browser::Element element = *document->all().item(i);
            const QString cls = element.attribute(u"class"_s).value_or(QString());
            if (element.tagName() == u"H1") {
                values.ititleindex = i;
                values.sTitleTagname = u"H1"_s;
                if (anchors)
                    values.titleAnchor = engine::anchorOf(element);
            } else if (cls == u"txt") {
                values.icontentindex = i;
                values.iparentindex = element.parentElement()->sourceIndex();
                values.sContentTagname = element.tagName();
                if (anchors)
                    values.contentAnchor = engine::anchorOf(element);
            } else if (cls == u"next") {
                values.linkname = element.innerHTML();
                if (anchors)
                    values.linkAnchor = engine::anchorOf(element);
            }
        }
        return values;
    }

private:
    QList<int> m_pages;
    QString m_linkFormat;
};

class LayoutsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        config.tickMs = 5;
        config.stallMs = 60'000;
        config.grab.retryDelaysMs = {1, 2, 3};
        config.grab.locators.timeLimitMs = 200;
        config.saveFolder = folder.path();
        config.listFile = folder.filePath(u"downlist.dat"_s);
    }

    // Serves the serial and keeps a template made on its first page, as it reads back from the template file.
    void serve(const SplitSerial &serial, bool anchors, bool linkAnchor = true)
    {
        templates::TemplateValues values = serial.definition(anchors);
        if (!linkAnchor)
            values.linkAnchor = {};
        for (const auto &[chapter, page] : serial.pages())
            server.setResponse(serial.path(chapter, page), HttpResponse::page(serial.html(chapter, page), "text/html"));
        templates::TemplateStore defined;
        templates::storeTemplateValues(defined, u"书网"_s, templates::SiteHeadOf(server.url(u"/"_s).toString()),
                                       values);
        store = templates::parseTemplateFile(templates::formatTemplateFile(defined));
        templates::fillTemplateChooser(chooser, store);
        chooser.setCurrentIndex(0);
        books.setEntries({{u"远行记"_s, 0, core::BookStatus::Queued, server.url(serial.firstPath()).toString()}});
    }

    GrabEnd grab()
    {
        scheduler = std::make_unique<engine::DownloadScheduler>(books, store, chooser, ui, browser, config);
        QList<GrabEnd> ends;
        QObject::connect(scheduler.get(), &engine::DownloadScheduler::bookEnded, scheduler.get(),
                         [&ends](GrabEnd end) { ends << end; });
        scheduler->start();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !ends.isEmpty(); }, 20'000)) << "no book ended";
        scheduler->requestStop();
        return ends.value(0, GrabEnd::Stopped);
    }

    QByteArray book() const
    {
        QFile file(folder.filePath(u"远行记.txt"_s));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir folder;
    demo::HttpServer server;
    templates::TemplateStore store;
    templates::ListTemplateChooser chooser;
    core::BookQueue books;
    test::RecordingHost ui;
    browser::StaticBrowser browser;
    engine::SchedulerConfig config;
    std::unique_ptr<engine::DownloadScheduler> scheduler;
};

const QByteArray ThrottleNotice = QStringEncoder("GB18030").encode(
    u"<html><head><title>提示</title></head><body><div class=\"tip\"><p>访问太频繁了，请稍候再来</p></div>"
    "</body></html>"_s);

} // namespace

// Chapters of one, two and three pages, with ads and moved elements, are grabbed to the book's end: every page's
// title and text once, in order, in the exact bytes of the book.
TEST_F(LayoutsTest, ChaptersOverSeveralPagesToTheEnd)
{
    const QList<QList<int>> serials = {{1, 1, 1}, {2, 2}, {3, 1, 2}, {1, 3, 3, 1}};
    for (const QList<int> &pages : serials) {
        SCOPED_TRACE(testing::PrintToString(pages));
        const SplitSerial serial(pages);
        serve(serial, true);
        EXPECT_EQ(grab(), GrabEnd::Complete);
        EXPECT_EQ(book(), serial.bookBytes());
        EXPECT_TRUE(books.isEmpty());
        EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(u'|').toStdString();
    }
}

// A next link whose markup spans lines is kept whole in the template file and followed by it alone (the template
// has no link anchor to fall back on) on every page.
TEST_F(LayoutsTest, MultiLineLinkMarkup)
{
    const SplitSerial serial({1, 1, 1}, u"\n%1\n"_s);
    serve(serial, true, false);
    const QStringList record = store.recordOf(u"书网"_s);
    EXPECT_TRUE(std::all_of(record.cbegin() + 1, record.cend(), [](const QString &line) {
        return line.contains(u'=');
    })) << record.join(u'|').toStdString();
    EXPECT_EQ(grab(), GrabEnd::Complete);
    EXPECT_EQ(book(), serial.bookBytes());
}

// A throttle notice served with 200 in place of a chapter: the page is tried again after the retry waits and the
// book goes on; a notice that stays ends the book as a failed load naming the address and the page's title, with
// nothing of that page written. On the book's first page the missing text is the template's fault, as before.
TEST_F(LayoutsTest, PagesThatAreNotChapters)
{
    const SplitSerial serial({1, 2, 1});
    const struct
    {
        const char *what;
        int throttledPage; // index into pages()
        int noticeCount;   // answers with the notice before the chapter
        GrabEnd end;
        int pagesWritten;
        int requests;
    } cases[] = {
        {"once, then the chapter", 2, 1, GrabEnd::Complete, 4, 2},
        {"twice, then the chapter", 1, 2, GrabEnd::Complete, 4, 3},
        {"for good", 2, 100, GrabEnd::LoadFailed, 2, 4},
        {"on the first page", 0, 100, GrabEnd::EmptyText, 0, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        serve(serial, true);
        ui = test::RecordingHost();
        // Each case is a new book: its file and its checkpoint go, as deleting the book would remove them.
        QFile::remove(folder.filePath(u"远行记.txt"_s));
        QFile::remove(folder.filePath(u"temp/远行记.lst"_s));
        const auto [chapter, page] = serial.pages().at(c.throttledPage);
        const QString path = serial.path(chapter, page);
        auto calls = std::make_shared<std::atomic<int>>(0);
        server.setHandler(path, [&serial, chapter, page, calls, notices = c.noticeCount](const demo::HttpRequest &) {
            return HttpResponse::page((*calls)++ < notices ? ThrottleNotice : serial.html(chapter, page), "text/html");
        });
        EXPECT_EQ(grab(), c.end);
        EXPECT_EQ(calls->load(), c.requests);
        if (c.end != GrabEnd::EmptyText) {
            EXPECT_EQ(book(), serial.bookBytes(c.pagesWritten));
        }
        if (c.end == GrabEnd::LoadFailed) {
            ASSERT_EQ(ui.messages.size(), 1);
            EXPECT_TRUE(ui.messages.first().contains(server.url(path).toString())) << ui.messages.first().toStdString();
            EXPECT_TRUE(ui.messages.first().contains(u"提示"_s)) << ui.messages.first().toStdString();
            EXPECT_EQ(books.head().CurrentUrl, server.url(path));
        }
        if (c.end == GrabEnd::EmptyText) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return ui.questions.size() == 1; }, 5'000));
        }
    }
}

// A notice that says when to come back with a refresh is tried again after that long, up to the cap, instead of the
// grab's own waits.
TEST_F(LayoutsTest, ThrottleNoticeRefreshIsHonouredUpToTheCap)
{
    config.grab.retryDelaysMs = {60'000, 60'000, 60'000}; // a wait the test would not outlive
    config.grab.maxRetryAfterMs = 20;
    const SplitSerial serial({2, 1});
    serve(serial, true);
    const QString path = serial.path(1, 2);
    auto calls = std::make_shared<std::atomic<int>>(0);
    server.setHandler(path, [&serial, calls](const demo::HttpRequest &) {
        QByteArray notice = ThrottleNotice;
        notice.replace("<head>", "<head><meta http-equiv=\"Refresh\" content=\"3600; url=/s/1_2.html\">");
        return HttpResponse::page((*calls)++ < 2 ? notice : serial.html(1, 2), "text/html");
    });
    EXPECT_EQ(grab(), GrabEnd::Complete);
    EXPECT_EQ(calls->load(), 3);
    EXPECT_EQ(book(), serial.bookBytes());
}
