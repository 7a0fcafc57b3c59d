#include "engine/locators.h"

#include "browser/html/htmlparser.h"

#include "engine/fakedocument.h"
#include "engine/manualclock.h"
#include "support/testutils.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTimer>

#include <limits>
#include <utility>

using namespace Qt::StringLiterals;
using qh::engine::LocatorConfig;
using qh::engine::LocatorSearch;
using qh::engine::StopFlag;
using qh::test::FakeDocument;
using qh::test::FakeElement;

namespace {

// A chapter page: the title H1 at 4, the text DIV at 5 inside the TD at 3, the links further down.
std::vector<FakeElement> chapterPage()
{
    return {
        {u"HTML"_s, -1},
        {u"HEAD"_s, 0},
        {u"BODY"_s, 0},
        {u"TD"_s, 2},
        {u"H1"_s, 3, u"第一章 开端"_s},
        {u"DIV"_s, 3, u"正文第一段"_s},
        {u"BR"_s, 5},
        {u"P"_s, 5, u"正文第二段"_s},
    };
}

// The chapter page with count elements inserted before everything but the root, shifting all later ones.
std::vector<FakeElement> shiftedChapterPage(int count)
{
    std::vector<FakeElement> page = chapterPage();
    for (FakeElement &element : page) {
        if (element.parentIndex > 0)
            element.parentIndex += count;
    }
    page.insert(page.begin() + 1, size_t(count), FakeElement{u"META"_s, 0});
    return page;
}

std::vector<FakeElement> linkPage()
{
    return {
        {u"HTML"_s, -1},
        {u"BODY"_s, 0},
        {u"A"_s, 1, u"上一页"_s, u"上一页"_s, u"1.html"_s},
        {u"A"_s, 1, u"目录"_s, u"目录"_s, u"index.html"_s},
        {u"A"_s, 1, u"下一页"_s, u"下一页"_s, u"3.html"_s},
        {u"A"_s, 1, u"下一页"_s, u"下一页"_s, u"4.html"_s},
        {u"A"_s, 1, u"下一章"_s, u"<font color=\"red\">下一章</font>"_s, u"f.html"_s},
        {u"A"_s, 1, u"Next"_s, u"Next"_s, u"n.html"_s},
        {u"SPAN"_s, 1, u"下一节"_s, u"下一节"_s},
        {u"a"_s, 1, u"lower"_s, u"lower"_s, u"l.html"_s},
    };
}

class LocatorsTest : public ::testing::Test
{
protected:
    LocatorConfig config()
    {
        LocatorConfig result;
        result.clock = &m_clock;
        result.livePollMs = 0;
        result.schedule = [this](QObject *context, std::function<void()> step) {
            ++m_pumps;
            if (m_onPump)
                m_onPump(m_pumps);
            QTimer::singleShot(0, context, std::move(step));
        };
        return result;
    }

    // Starts the search and waits for its result, checking that exactly one finished arrives, never from start().
    QString run(LocatorSearch &search, LocatorSearch::FirstPass firstPass = LocatorSearch::FirstPass::OnANewReading)
    {
        QSignalSpy spy(&search, &LocatorSearch::finished);
        search.start(firstPass);
        EXPECT_EQ(spy.count(), 0) << "finished emitted from within start()";
        if (spy.count() == 0 && !spy.wait(5000)) {
            ADD_FAILURE() << "no finished signal";
            return u"<none>"_s;
        }
        QCoreApplication::processEvents();
        EXPECT_EQ(spy.count(), 1);
        EXPECT_FALSE(search.isRunning());
        return spy.at(0).at(0).toString();
    }

    qh::test::ManualClock m_clock;
    StopFlag m_stop;
    int m_pumps = 0;
    std::function<void(int pumps)> m_onPump;
};

} // namespace

// After each rejection the position walks r, r-1, r+1, r-2, r+2 and then stays, without overflowing at the int ends.
TEST(NextProbePosition, WalksAroundTheRecordedPositionThenStays)
{
    for (const qint64 r :
         {qint64(10), qint64(0), qint64(std::numeric_limits<int>::max()), qint64(std::numeric_limits<int>::min())}) {
        QList<qint64> walk{r};
        for (int i = 0; i < 5; ++i)
            walk.append(qh::engine::nextProbePosition(r, walk.last()));
        EXPECT_EQ(walk, (QList<qint64>{r, r - 1, r + 1, r - 2, r + 2, r + 2})) << r;
    }
}

// Tag names match when equal after upper-casing ASCII letters only.
TEST(SameTagName, UpperCasesAsciiOnly)
{
    const struct
    {
        const char16_t *a;
        const char16_t *b;
        bool same;
    } cases[] = {
        {u"H1", u"h1", true},    {u"A", u"a", true},      {u"DIV", u"DIV", true},
        {u"A", u"AB", false},    {u"DIV", u"dıv", false}, // dotless i upper-cases to I only outside ASCII
        {u"DİV", u"div", false}, {u"", u"", true},        {u"P", u"", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(qh::engine::sameTagName(c.a, c.b), c.same)
            << QString::fromUtf16(c.a).toStdString() << " " << QString::fromUtf16(c.b).toStdString();
}

// The title search probes r, r-1, r+1, r-2, r+2 in turn and takes the first element with the recorded tag; on a
// page that cannot change it ends as soon as the walk stays on one position, without waiting for the clock.
TEST_F(LocatorsTest, FindTitleProbeOrder)
{
    const int intMax = std::numeric_limits<int>::max();
    const int intMin = std::numeric_limits<int>::min();
    const struct
    {
        int ititleindex;
        const char16_t *tag;
        const char16_t *expected;
        QList<int> reads;
    } cases[] = {
        {4, u"H1", u"第一章 开端", {4}},
        {4, u"h1", u"第一章 开端", {4}},
        {5, u"H1", u"第一章 开端", {5, 4}},
        {3, u"H1", u"第一章 开端", {3, 2, 4}},
        {6, u"H1", u"第一章 开端", {6, 5, 7, 4}},
        {2, u"H1", u"第一章 开端", {2, 1, 3, 0, 4}},
        {7, u"H1", u"", {7, 6}},               // r+1 is past the end: the walk stays there
        {1, u"H1", u"", {1, 0, 2}},            // r-2 is below 0
        {0, u"TITLE", u"", {0}},               // wrong first element, then -1 where there is none
        {4, u"H2", u"", {4, 3, 5, 2, 6}},      // nothing matches: r+2 is probed and the walk stays
        {4, u"h\u0131", u"", {4, 3, 5, 2, 6}}, // a non-ASCII look-alike of h1
        {100, u"H1", u"", {}},
        {intMax, u"H1", u"", {}},
        {intMin, u"H1", u"", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ititleindex);
        auto document = std::make_shared<FakeDocument>(chapterPage());
        auto search = qh::engine::FindTitle(document, c.ititleindex, QString::fromUtf16(c.tag), m_stop, config());
        EXPECT_EQ(run(*search), QString::fromUtf16(c.expected));
        EXPECT_EQ(document->tagReads, c.reads);
    }
}

// The text search needs the recorded tag and a parent at most 2 positions from the recorded parent position; it
// finds a text element moved by up to two positions and no further.
TEST_F(LocatorsTest, FindContentParentAndShift)
{
    const struct
    {
        const char *what;
        int inserted;
        int icontentindex;
        int iparentindex;
        const char16_t *tag;
        const char16_t *expected;
        QList<int> reads;
    } cases[] = {
        {"unchanged page", 0, 5, 3, u"DIV", u"正文第一段", {5}},
        {"tag in lower case", 0, 5, 3, u"div", u"正文第一段", {5}},
        {"parent 2 below", 0, 5, 1, u"DIV", u"正文第一段", {5}},
        {"parent 2 above", 0, 5, 5, u"DIV", u"正文第一段", {5}},
        {"parent 3 below", 0, 5, 0, u"DIV", u"", {5, 4, 6, 3, 7}},
        {"parent 3 above", 0, 5, 6, u"DIV", u"", {5, 4, 6, 3, 7}},
        {"one element inserted", 1, 5, 3, u"DIV", u"正文第一段", {5, 4, 6}},
        {"two elements inserted", 2, 5, 3, u"DIV", u"正文第一段", {5, 4, 6, 3, 7}},
        {"three elements inserted", 3, 5, 3, u"DIV", u"", {5, 4, 6, 3, 7}},
        {"root without parent", 0, 0, 0, u"HTML", u"", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto document = std::make_shared<FakeDocument>(shiftedChapterPage(c.inserted));
        auto search = qh::engine::FindContent(document, c.icontentindex, c.iparentindex, QString::fromUtf16(c.tag),
                                              m_stop, config());
        EXPECT_EQ(run(*search), QString::fromUtf16(c.expected));
        EXPECT_EQ(document->tagReads, c.reads);
    }
}

// Positions and parent positions at the ends of int neither overflow nor match anything.
TEST_F(LocatorsTest, FindContentExtremePositions)
{
    const int intMax = std::numeric_limits<int>::max();
    const int intMin = std::numeric_limits<int>::min();
    for (const auto &[index, parent] : {std::pair{intMax, intMax}, {intMin, intMin}, {5, intMax}, {5, intMin}}) {
        auto document = std::make_shared<FakeDocument>(chapterPage());
        auto search = qh::engine::FindContent(document, index, parent, u"DIV"_s, m_stop, config());
        EXPECT_EQ(run(*search), QString()) << index << " " << parent;
    }
}

// The link is the first A in document order whose innerHTML equals the link name exactly, in its own case and with
// any markup inside it; other tags never match.
TEST_F(LocatorsTest, FindNextLinkMatchesInnerHtmlExactly)
{
    const struct
    {
        const char16_t *linkname;
        const char16_t *expected;
    } cases[] = {
        {u"下一页", u"3.html"}, // the first of two
        {u"上一页", u"1.html"},
        {u"next", u""},
        {u"下一页 ", u""},
        {u"下一章", u""}, // the link text is wrapped in a font tag
        {u"<font color=\"red\">下一章</font>", u"f.html"},
        {u"下一节", u""}, // a SPAN
        {u"lower", u"l.html"},
        {u"", u""},
    };
    for (const auto &c : cases) {
        const QString linkname = QString::fromUtf16(c.linkname);
        SCOPED_TRACE(linkname.toStdString());
        auto document = std::make_shared<FakeDocument>(linkPage());
        auto search = qh::engine::FindNextLink(document, linkname, m_stop, config());
        EXPECT_EQ(run(*search), QString::fromUtf16(c.expected));
        EXPECT_TRUE(document->clicks.isEmpty());
    }
}

// On a page that cannot change, a link search without a match ends after one full scan from position 0.
TEST_F(LocatorsTest, FindNextLinkWithoutMatchEndsAfterOneScan)
{
    auto document = std::make_shared<FakeDocument>(linkPage());
    auto search = qh::engine::FindNextLink(document, u"末页"_s, m_stop, config());
    EXPECT_EQ(run(*search), QString());
    EXPECT_EQ(search->probeCount(), int(linkPage().size()));
    QList<int> everyPosition;
    for (int i = 0; i < int(linkPage().size()); ++i)
        everyPosition.append(i);
    EXPECT_EQ(document->tagReads, everyPosition);
}

// A document without elements gives the empty link after one probe.
TEST_F(LocatorsTest, FindNextLinkOnEmptyDocument)
{
    auto document = std::make_shared<FakeDocument>(std::vector<FakeElement>{});
    auto search = qh::engine::FindNextLink(document, u"下一页"_s, m_stop, config());
    EXPECT_EQ(run(*search), QString());
    EXPECT_EQ(search->probeCount(), 1);
}

// The href is the attribute value as the document holds it: blanks and quotes inside stay, a data-href or a link
// without href gives nothing.
TEST_F(LocatorsTest, HrefOfTakesTheWholeAttribute)
{
    const struct
    {
        std::optional<QString> href;
        QString expected;
    } cases[] = {
        {u"a b.html"_s, u"a b.html"_s},
        {u"it's \"2\".html"_s, u"it's \"2\".html"_s},
        {u"read.php?id=2&page=3"_s, u"read.php?id=2&page=3"_s},
        {u"/p/2.html>x"_s, u"/p/2.html>x"_s},
        {u""_s, u""_s},
        {std::nullopt, u""_s},
    };
    for (const auto &c : cases) {
        FakeDocument document({{u"A"_s, -1, u"下一页"_s, u"下一页"_s, c.href}});
        EXPECT_EQ(qh::engine::HrefOf(*document.all().item(0)), c.expected);
    }
}

// On a parsed page the href is the attribute's whole value with entities decoded, whatever the attribute's case or
// quoting; data-href is not href, and a link without href gives nothing.
TEST_F(LocatorsTest, HrefOfParsedMarkup)
{
    const auto document = qh::browser::parseHtmlText(
        u"<body><a href=\"a b.html\">1</a><a href='say \"hi\".html'>2</a><a data-href=\"/x.html\">3</a>"
        "<a href=\"read.php?id=2&amp;page=3\">4</a><a class=x HREF=/p/2.html target=_blank>5</a>"
        "<a name=top>6</a><a href=\"\">7</a><a href=\" javascript:next()\">8</a></body>"_s,
        QUrl(u"http://fake.test/1.html"_s));
    const QStringList expected = {
        u"a b.html"_s, u"say \"hi\".html"_s,   QString(), u"read.php?id=2&page=3"_s, u"/p/2.html"_s, QString(),
        QString(),     u" javascript:next()"_s};
    QStringList hrefs;
    const qh::browser::ElementCollection all = document->all();
    for (int i = 0; i < all.length(); ++i) {
        if (all.item(i)->tagName() == u"A"_s)
            hrefs.append(qh::engine::HrefOf(*all.item(i)));
    }
    EXPECT_EQ(hrefs, expected);

    // The next-link search returns such a value whole.
    const auto page = qh::browser::parseHtmlText(u"<body><a href=\"第 2 章.html\" class=next>下一页</a></body>"_s,
                                                 QUrl(u"http://fake.test/1.html"_s));
    auto search = qh::engine::FindNextLink(page, u"下一页"_s, m_stop, config());
    EXPECT_EQ(run(*search), u"第 2 章.html"_s);
}

// A script link is clicked once and its href read after the click; other links are not clicked.
TEST_F(LocatorsTest, FindNextLinkClicksScriptLinks)
{
    const struct
    {
        const char16_t *href;
        bool clicked;
    } cases[] = {
        {u"javascript:next()", true},
        {u"JavaScript:Next()", true},
        {u"3.html", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.href).toStdString());
        auto document = std::make_shared<FakeDocument>(std::vector<FakeElement>{
            {u"BODY"_s, -1},
            {u"A"_s, 0, u"下一页"_s, u"下一页"_s, QString::fromUtf16(c.href)},
        });
        // The page's script rewrites the href when the link is clicked.
        FakeDocument *page = document.get();
        document->onClick = [page](int index) { page->elements.at(size_t(index)).href = u"after-click"_s; };
        auto search = qh::engine::FindNextLink(document, u"下一页"_s, m_stop, config());
        const QString result = run(*search);
        EXPECT_EQ(document->clicks, c.clicked ? QList<int>{1} : QList<int>{});
        EXPECT_EQ(result, c.clicked ? u"after-click"_s : QString::fromUtf16(c.href));
    }
}

// A document read that fails ends the search with the empty result and keeps the error for the grabber.
TEST_F(LocatorsTest, FailingDocumentReadEndsTheSearch)
{
    auto document = std::make_shared<FakeDocument>(chapterPage());
    document->failAt = 3;
    auto failing = qh::engine::FindTitle(document, 4, u"H2"_s, m_stop, config());
    EXPECT_EQ(run(*failing), QString());
    EXPECT_EQ(failing->errorMessage(), u"无法读取页面元素 3"_s);
    EXPECT_EQ(document->tagReads, (QList<int>{4, 3}));

    auto fine = qh::engine::FindTitle(document, 4, u"H1"_s, m_stop, config());
    EXPECT_EQ(run(*fine), u"第一章 开端"_s);
    EXPECT_TRUE(fine->errorMessage().isEmpty());
}

// A stop already requested gives the empty result with no probe, no refresh and no pump, still from the event loop.
TEST_F(LocatorsTest, StopSetOnEntry)
{
    m_stop.set();
    auto document = std::make_shared<FakeDocument>(chapterPage(), false);
    std::unique_ptr<LocatorSearch> searches[] = {
        qh::engine::FindTitle(document, 4, u"H1"_s, m_stop, config()),
        qh::engine::FindContent(document, 5, 3, u"DIV"_s, m_stop, config()),
        qh::engine::FindNextLink(document, u"下一页"_s, m_stop, config()),
    };
    for (auto &search : searches) {
        EXPECT_EQ(run(*search), QString());
        EXPECT_EQ(search->probeCount(), 0);
    }
    EXPECT_EQ(m_pumps, 0);
    EXPECT_EQ(document->refreshCount, 0);
    EXPECT_TRUE(document->tagReads.isEmpty());
}

// A stop requested while a live document is read ends the search before the pass that would follow.
TEST_F(LocatorsTest, StopSetDuringRefreshOfLiveDocument)
{
    auto document = std::make_shared<FakeDocument>(linkPage(), false);
    document->onRefresh = [this](int refreshes) {
        if (refreshes == 3)
            m_stop.set();
    };
    auto search = qh::engine::FindNextLink(document, u"末页"_s, m_stop, config());
    EXPECT_EQ(run(*search), QString());
    EXPECT_EQ(document->refreshCount, 3);
    EXPECT_EQ(search->probeCount(), 2 * int(linkPage().size()));
}

// A stop requested between two slices of a static scan ends it before the next probe.
TEST_F(LocatorsTest, StopSetBetweenSlices)
{
    LocatorConfig oneProbeASlice = config();
    oneProbeASlice.maxProbesPerSlice = 1;
    m_onPump = [this](int pumps) {
        if (pumps == 4)
            m_stop.set();
    };
    auto document = std::make_shared<FakeDocument>(linkPage());
    auto search = qh::engine::FindNextLink(document, u"末页"_s, m_stop, oneProbeASlice);
    EXPECT_EQ(run(*search), QString());
    EXPECT_EQ(search->probeCount(), 3);
}

// On a live document a fruitless search lasts until more than the time limit has passed: one refresh and one whole
// pass per turn, and the pass at exactly the limit is not the last.
TEST_F(LocatorsTest, LiveDocumentSearchesUntilTheTimeLimit)
{
    auto document = std::make_shared<FakeDocument>(chapterPage(), false);
    document->onRefresh = [this](int) { m_clock.advance(1000); };
    std::unique_ptr<LocatorSearch> searches[] = {
        qh::engine::FindTitle(document, 0, u"TITLE"_s, m_stop, config()),
        qh::engine::FindContent(document, 5, 0, u"DIV"_s, m_stop, config()),
        qh::engine::FindNextLink(document, u"下一页"_s, m_stop, config()),
    };
    for (auto &search : searches) {
        const int refreshesBefore = document->refreshCount;
        EXPECT_EQ(run(*search), QString());
        EXPECT_EQ(document->refreshCount - refreshesBefore, 11);
        EXPECT_GE(search->probeCount(), 11);
    }
}

// The time limit also bounds a scan of a static document that is too slow to finish within it.
TEST_F(LocatorsTest, TimeLimitBoundsStaticScan)
{
    LocatorConfig oneProbeASlice = config();
    oneProbeASlice.maxProbesPerSlice = 1;
    oneProbeASlice.timeLimitMs = 500;
    m_onPump = [this](int) { m_clock.advance(100); };
    std::vector<FakeElement> page(100, FakeElement{u"P"_s, 0});
    auto search = qh::engine::FindNextLink(std::make_shared<FakeDocument>(page), u"下一页"_s, m_stop, oneProbeASlice);
    EXPECT_EQ(run(*search), QString());
    EXPECT_EQ(search->probeCount(), 6);
}

// Scripts that fill a live page after it loaded: the text and the link are found once they appear.
TEST_F(LocatorsTest, LiveDocumentFindsLateContent)
{
    const std::vector<FakeElement> fullPage = chapterPage();
    // At first the page holds just its frame, up to the TD.
    auto document =
        std::make_shared<FakeDocument>(std::vector<FakeElement>(fullPage.begin(), fullPage.begin() + 4), false);
    FakeDocument *page = document.get();
    document->onRefresh = [this, page, &fullPage](int refreshes) {
        m_clock.advance(100);
        if (refreshes == 4)
            page->elements = fullPage;
        if (refreshes == 6)
            page->elements.push_back({u"A"_s, 2, u"下一页"_s, u"下一页"_s, u"2.html"_s});
    };
    auto content = qh::engine::FindContent(document, 5, 3, u"DIV"_s, m_stop, config());
    EXPECT_EQ(run(*content), u"正文第一段"_s);
    EXPECT_EQ(content->probeCount(), 4);
    auto link = qh::engine::FindNextLink(document, u"下一页"_s, m_stop, config());
    EXPECT_EQ(run(*link), u"2.html"_s);
    // A whole pass over the page without the link, then one that reaches it at the end.
    EXPECT_EQ(link->probeCount(), 2 * int(fullPage.size()) + 1);
}

// A page whose scripts first show a placeholder where the text goes: every pass starts again at the recorded
// position, so the text is found once it replaces the placeholder, although earlier passes moved past it.
TEST_F(LocatorsTest, LiveDocumentPassesStartAgainAtTheRecordedPosition)
{
    std::vector<FakeElement> placeholder = chapterPage();
    placeholder[5] = {u"SPAN"_s, 3, u"加载中"_s};
    auto document = std::make_shared<FakeDocument>(placeholder, false);
    FakeDocument *page = document.get();
    document->onRefresh = [this, page](int refreshes) {
        m_clock.advance(100);
        if (refreshes == 3)
            page->elements = chapterPage();
    };
    auto content = qh::engine::FindContent(document, 5, 3, u"DIV"_s, m_stop, config());
    EXPECT_EQ(run(*content), u"正文第一段"_s);
    EXPECT_EQ(document->refreshCount, 3);
}

// On a live document a title or text element found with no text (or only white space) is waited on until a script
// fills it; one that stays empty is taken, empty, only at the time limit, and even a settled page does not end the
// wait. A static document takes such an element at once.
TEST_F(LocatorsTest, LiveDocumentWaitsForTheTextOfAnEmptyElement)
{
    const struct
    {
        const char *what;
        bool isStatic;
        QString before;   // the element's text until the fourth refresh
        QString after;    // from then on
        QString expected; // the result
        int refreshes;    // the search's refreshes
    } cases[] = {
        {"filled later", false, QString(), u"第一章 开端"_s, u"第一章 开端"_s, 4},
        {"white space, filled later", false, u" \n "_s, u"第一章 开端"_s, u"第一章 开端"_s, 4},
        {"never filled: empty at the limit", false, QString(), QString(), QString(), 11},
        {"static: empty at once", true, QString(), u"第一章 开端"_s, QString(), 0},
    };
    for (const auto &c : cases) {
        std::vector<FakeElement> page = chapterPage();
        page[4].innerText = c.before;
        auto document = std::make_shared<FakeDocument>(page, c.isStatic);
        document->settled = true; // nothing else on the page is changing
        FakeDocument *live = document.get();
        document->onRefresh = [this, live, &c](int refreshes) {
            m_clock.advance(1000);
            if (refreshes == 4)
                live->elements[4].innerText = c.after;
        };
        std::unique_ptr<LocatorSearch> searches[] = {
            qh::engine::FindTitle(document, 4, u"H1"_s, m_stop, config()),
            qh::engine::FindContent(document, 4, 3, u"H1"_s, m_stop, config()),
        };
        for (auto &search : searches) {
            document->refreshCount = 0;
            live->elements[4].innerText = c.before;
            EXPECT_EQ(run(*search), c.expected) << c.what;
            EXPECT_TRUE(search->found()) << c.what;
            EXPECT_EQ(document->refreshCount, c.refreshes) << c.what;
        }
    }
}

// A live document that has settled ends a fruitless search after the pass over it, as a static one does, instead of
// at the time limit; one still changing is searched again.
TEST_F(LocatorsTest, SettledLiveDocumentEndsAFruitlessSearch)
{
    auto document = std::make_shared<FakeDocument>(chapterPage(), false);
    FakeDocument *live = document.get();
    // Settles at the third reading.
    document->onRefresh = [live](int refreshes) { live->settled = refreshes >= 3; };
    std::unique_ptr<LocatorSearch> searches[] = {
        qh::engine::FindTitle(document, 0, u"TITLE"_s, m_stop, config()),
        qh::engine::FindContent(document, 5, 0, u"DIV"_s, m_stop, config()),
        qh::engine::FindNextLink(document, u"下一页"_s, m_stop, config()),
    };
    for (auto &search : searches) {
        document->refreshCount = 0;
        live->settled = false;
        EXPECT_EQ(run(*search), QString());
        EXPECT_FALSE(search->found());
        EXPECT_EQ(document->refreshCount, 3); // the clock never moved: the limit played no part
    }
}

// A live document that reads values only when asked: a pass that asked for values it had not read is made again once
// they are read, all of them in one go; a script link is clicked once, and only on values read.
TEST_F(LocatorsTest, LiveDocumentReadsTheValuesAPassAsksFor)
{
    std::vector<FakeElement> page = linkPage();
    page[4].href = u"javascript:next()"_s;
    auto document = std::make_shared<FakeDocument>(page, false);
    document->valuesOnDemand = true;
    auto link = qh::engine::FindNextLink(document, u"下一页"_s, m_stop, config());
    EXPECT_EQ(run(*link), u"javascript:next()"_s);
    EXPECT_EQ(document->clicks, QList<int>{4});
    EXPECT_EQ(document->valueReads, 1);
    // The links' inner markup, not every element's.
    EXPECT_EQ(document->valuesRead, (QSet<int>{2, 3, 4, 5, 6, 7, 9}));

    auto chapter = std::make_shared<FakeDocument>(chapterPage(), false);
    chapter->valuesOnDemand = true;
    auto content = qh::engine::FindContent(chapter, 5, 3, u"DIV"_s, m_stop, config());
    EXPECT_EQ(run(*content), u"正文第一段"_s);
    EXPECT_EQ(chapter->valuesRead, QSet<int>{5});
    EXPECT_EQ(chapter->refreshCount, 1);
}

// A search started right after the page was read goes over that reading first, reading only the values it asks
// for; an element still empty then is waited on by reading the page again, as ever.
TEST_F(LocatorsTest, LiveDocumentSearchedOnItsLatestReading)
{
    using FirstPass = LocatorSearch::FirstPass;
    const struct
    {
        const char *what;
        FirstPass firstPass;
        QString before; // the title's text until the second refresh
        int refreshes;  // the search's refreshes
    } cases[] = {
        {"a new reading first", FirstPass::OnANewReading, u"第一章 开端"_s, 1},
        {"on the latest reading", FirstPass::OnTheLatestReading, u"第一章 开端"_s, 0},
        {"on the latest reading, filled later", FirstPass::OnTheLatestReading, QString(), 2},
    };
    for (const auto &c : cases) {
        std::vector<FakeElement> page = chapterPage();
        page[4].innerText = c.before;
        auto document = std::make_shared<FakeDocument>(page, false);
        document->valuesOnDemand = true;
        FakeDocument *live = document.get();
        document->onRefresh = [this, live](int refreshes) {
            m_clock.advance(100);
            if (refreshes == 2)
                live->elements[4].innerText = u"第一章 开端"_s;
        };
        auto title = qh::engine::FindTitle(document, 4, u"H1"_s, m_stop, config());
        EXPECT_EQ(run(*title, c.firstPass), u"第一章 开端"_s) << c.what;
        EXPECT_EQ(document->refreshCount, c.refreshes) << c.what;
        EXPECT_TRUE(document->valuesRead.contains(4)) << c.what;
    }
}

// A scan is cut into slices that return to the event loop, so a large page never holds up the window in one go.
TEST_F(LocatorsTest, StaticScanRunsInSlices)
{
    LocatorConfig slices = config();
    slices.maxProbesPerSlice = 100;
    slices.maxSliceMs = 60'000;
    std::vector<FakeElement> page(1000, FakeElement{u"P"_s, 0});
    auto search = qh::engine::FindNextLink(std::make_shared<FakeDocument>(page), u"下一页"_s, m_stop, slices);
    EXPECT_EQ(run(*search), QString());
    EXPECT_EQ(search->probeCount(), 1000);
    EXPECT_EQ(m_pumps, 10);
}

// Aborting or deleting a search, also while a live document is being refreshed or from its own finished signal, ends
// it quietly.
TEST_F(LocatorsTest, AbortAndDeleteAreSafe)
{
    auto document = std::make_shared<FakeDocument>(chapterPage(), false);
    document->holdRefresh = true;

    auto aborted = qh::engine::FindTitle(document, 4, u"H1"_s, m_stop, config());
    QSignalSpy abortedSpy(aborted.get(), &LocatorSearch::finished);
    aborted->start();
    QCoreApplication::processEvents();
    ASSERT_TRUE(document->heldRefresh);
    aborted->abort();
    std::exchange(document->heldRefresh, {})();
    QCoreApplication::processEvents();
    EXPECT_EQ(abortedSpy.count(), 0);
    EXPECT_EQ(aborted->probeCount(), 0);

    auto deleted = qh::engine::FindTitle(document, 4, u"H1"_s, m_stop, config());
    deleted->start();
    QCoreApplication::processEvents();
    ASSERT_TRUE(document->heldRefresh);
    deleted.reset();
    std::exchange(document->heldRefresh, {})();
    QCoreApplication::processEvents();

    // Deleted before its first step ran.
    auto early = qh::engine::FindTitle(document, 4, u"H1"_s, m_stop, config());
    early->start();
    early.reset();
    QCoreApplication::processEvents();

    document->holdRefresh = false;
    auto selfDeleting = qh::engine::FindTitle(document, 4, u"H1"_s, m_stop, config());
    QString result;
    QSignalSpy destroyedSpy(selfDeleting.get(), &QObject::destroyed);
    QObject::connect(selfDeleting.get(), &LocatorSearch::finished, selfDeleting.get(), [&](const QString &text) {
        result = text;
        selfDeleting.reset();
    });
    selfDeleting->start();
    EXPECT_TRUE(destroyedSpy.wait(5000));
    EXPECT_FALSE(selfDeleting);
    EXPECT_EQ(result, u"第一章 开端"_s);
}

// A live document that never answers a refresh cannot hold the search past the time limit.
TEST_F(LocatorsTest, UnansweredRefreshEndsAtTheTimeLimit)
{
    auto document = std::make_shared<FakeDocument>(chapterPage(), false);
    document->holdRefresh = true;
    LocatorConfig shortLimit = config();
    shortLimit.timeLimitMs = 20;
    auto search = qh::engine::FindTitle(document, 4, u"H1"_s, m_stop, shortLimit);
    EXPECT_EQ(run(*search), QString());
    EXPECT_EQ(search->probeCount(), 0);
    // A late answer changes nothing.
    std::exchange(document->heldRefresh, {})();
    EXPECT_EQ(search->probeCount(), 0);
}

// A search started after another in the turn the earlier one finished goes on at once while their shared slice of a
// static page lasts, or over the reading of a live page the earlier one found its element on; a spent slice waits for
// a later turn, and a stop seen then ends it unprobed.
TEST_F(LocatorsTest, StartAfterGoesOnWithTheSlice)
{
    struct Case
    {
        const char *name;
        bool staticPage;
        int maxProbesPerSlice;
        bool stop;
        bool finishesInTurn;
        QString result;
        int probes;
    };
    const Case cases[] = {
        {"slice left", true, 4096, false, true, u"正文第一段"_s, 1},
        {"slice spent", true, 1, false, false, u"正文第一段"_s, 1},
        {"stop set", true, 4096, true, true, QString(), 0},
        {"live page: the same reading", false, 4096, false, true, u"正文第一段"_s, 1},
    };
    for (const Case &c : cases) {
        m_stop.clear();
        LocatorConfig sliced = config();
        sliced.maxProbesPerSlice = c.maxProbesPerSlice;
        sliced.maxSliceMs = 60'000;
        auto document = std::make_shared<FakeDocument>(chapterPage(), c.staticPage);
        auto title = qh::engine::FindTitle(document, 4, u"H1"_s, m_stop, sliced);
        auto content = qh::engine::FindContent(document, 5, 3, u"DIV"_s, m_stop, sliced);
        QSignalSpy contentSpy(content.get(), &LocatorSearch::finished);
        int finishedInTurn = -1;
        QObject::connect(title.get(), &LocatorSearch::finished, title.get(), [&] {
            if (c.stop)
                m_stop.set();
            content->startAfter(*title);
            finishedInTurn = int(contentSpy.count());
        });
        title->start();
        EXPECT_TRUE(contentSpy.count() == 1 || contentSpy.wait(5000)) << c.name;
        QCoreApplication::processEvents();
        ASSERT_EQ(contentSpy.count(), 1) << c.name;
        EXPECT_EQ(finishedInTurn, c.finishesInTurn ? 1 : 0) << c.name;
        EXPECT_EQ(contentSpy.at(0).at(0).toString(), c.result) << c.name;
        EXPECT_EQ(content->probeCount(), c.probes) << c.name;
        EXPECT_EQ(document->refreshCount, c.staticPage ? 0 : 1) << c.name;
    }
}
