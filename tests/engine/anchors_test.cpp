#include "engine/anchormatch.h"
#include "engine/locators.h"

#include "browser/html/htmlparser.h"

#include "support/testutils.h"

#include <QCoreApplication>
#include <QSignalSpy>

using namespace Qt::StringLiterals;
using qh::browser::Document;
using qh::browser::Element;
using qh::engine::LocatorSearch;
using qh::engine::StopFlag;
using qh::templates::ElementAnchor;

namespace {

const QString Ad = u"<div class=\"ad\"><script>show_ad(3);</script><span>广告</span></div>"_s;
const QString NextLink = u"<a href=\"/b/2.html\" class=\"next\" rel=\"next\">下一页</a>"_s;

// A chapter page as reading sites write it: a menu, the title in a bare H1, the text in a box with whatever else the
// site puts there, and the page links below.
struct ChapterShape
{
    QString body = u"<body>"_s;
    int menuItems = 4;
    QString beforeText = {};
    QString text = u"<div id=\"content\">&nbsp;&nbsp;第一段。<br><br>&nbsp;&nbsp;第二段。</div>"_s;
    QString links = u"<a href=\"/b/0.html\" class=\"prev\">上一页</a> <a href=\"/b/\">目录</a> "_s + NextLink;
};

std::shared_ptr<const Document> chapterPage(const ChapterShape &shape)
{
    QString menu;
    for (int i = 0; i < shape.menuItems; ++i)
        menu += u"<li><a href=\"/c/%1/\">分类%1</a></li>"_s.arg(i);
    const QString html = u"<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>第一章 开端_书网</title></head>"
                         "%5<div class=\"top\"><ul>%1</ul></div>\n<div id=\"wrapper\">"
                         "<div class=\"bookname\"><h1>第一章 开端</h1></div>\n"
                         "<div class=\"box_con\">%2%3</div>\n<div class=\"bottem\">%4</div></div>"
                         "<div class=\"footer\">本站小说均为示例</div></body></html>"_s.arg(
                             menu, shape.beforeText, shape.text, shape.links, shape.body);
    return qh::browser::parseHtmlDocument(html.toUtf8(), "text/html; charset=utf-8", QUrl(u"http://s.test/b/1.html"_s));
}

// The first element whose tag and class (or id) are given; -1 when there is none.
int find(const Document &document, const QString &tag, const QString &attribute = {}, const QString &value = {})
{
    for (int i = 0; i < document.elementCount(); ++i) {
        const Element element = *document.all().item(i);
        if (element.tagName() == tag && (attribute.isEmpty() || element.attribute(attribute) == value))
            return i;
    }
    return -1;
}

class AnchorsTest : public ::testing::Test
{
protected:
    // Starts the search and waits for its one finished signal.
    QString run(LocatorSearch &search)
    {
        QSignalSpy spy(&search, &LocatorSearch::finished);
        search.start();
        if (spy.count() == 0 && !spy.wait(5000)) {
            ADD_FAILURE() << "no finished signal";
            return u"<none>"_s;
        }
        QCoreApplication::processEvents();
        EXPECT_EQ(spy.count(), 1);
        return spy.at(0).at(0).toString();
    }

    // The title and text of page as a template recorded on sample finds them.
    std::pair<QString, QString> titleAndText(const std::shared_ptr<const Document> &sample, int textIndex,
                                             const std::shared_ptr<const Document> &page)
    {
        const int titleIndex = find(*sample, u"H1"_s);
        const ElementAnchor titleAnchor = qh::engine::anchorOf(*sample->all().item(titleIndex));
        const ElementAnchor textAnchor = qh::engine::anchorOf(*sample->all().item(textIndex));
        const auto title = qh::engine::FindAnchored(page, titleIndex, titleAnchor, m_stop);
        const auto text = qh::engine::FindAnchored(page, textIndex, textAnchor, m_stop);
        return {run(*title), run(*text)};
    }

    StopFlag m_stop;
};

} // namespace

// The anchor holds the element and its ancestors up to the nearest one with an id, or up to BODY.
TEST_F(AnchorsTest, AnchorOfRecordsTheChainToAnIdOrBody)
{
    const auto page = chapterPage({});
    const ElementAnchor text = qh::engine::anchorOf(*page->all().item(find(*page, u"DIV"_s, u"id"_s, u"content"_s)));
    EXPECT_EQ(text.element, (qh::templates::AnchorNode{u"DIV"_s, u"content"_s, {}}));
    EXPECT_EQ(text.ancestors,
              (QList<qh::templates::AnchorNode>{{u"DIV"_s, {}, {u"box_con"_s}}, {u"DIV"_s, u"wrapper"_s, {}}}));
    const ElementAnchor link = qh::engine::anchorOf(*page->all().item(find(*page, u"A"_s, u"rel"_s, u"next"_s)));
    EXPECT_EQ(link.element, (qh::templates::AnchorNode{u"A"_s, {}, {u"next"_s}}));
    EXPECT_EQ(link.rel, u"next"_s);
    EXPECT_EQ(link.text, u"下一页"_s);
    const ElementAnchor footer =
        qh::engine::anchorOf(*page->all().item(find(*page, u"DIV"_s, u"class"_s, u"footer"_s)));
    EXPECT_EQ(footer.ancestors, (QList<qh::templates::AnchorNode>{{u"BODY"_s, {}, {}}}));
}

// Ads put before the text under the same parent: the anchor tells them from the text, however many there are,
// where the position alone takes the ad.
TEST_F(AnchorsTest, AdsBeforeTheTextUnderTheSameParent)
{
    const auto sample = chapterPage({});
    const int textIndex = find(*sample, u"DIV"_s, u"id"_s, u"content"_s);
    for (const int ads : {1, 2, 3, 5}) {
        SCOPED_TRACE(ads);
        const auto page = chapterPage({.beforeText = Ad.repeated(ads)});
        EXPECT_EQ(titleAndText(sample, textIndex, page),
                  std::make_pair(u"第一章 开端"_s, sample->innerTextAt(textIndex)));
        if (ads == 1) {
            const int parent = find(*sample, u"DIV"_s, u"class"_s, u"box_con"_s);
            const auto positional = qh::engine::FindContent(page, textIndex, parent, u"DIV"_s, m_stop);
            EXPECT_EQ(run(*positional), u"广告"_s) << "the fault the anchor is there for";
        }
    }
}

// Title and text moved by 3 to 10 positions either way (a longer or shorter menu) are still found.
TEST_F(AnchorsTest, ElementsMovedFarAreFound)
{
    const auto sample = chapterPage({.menuItems = 10});
    const int textIndex = find(*sample, u"DIV"_s, u"id"_s, u"content"_s);
    for (const int menuItems : {0, 4, 7, 13, 15, 20}) {
        SCOPED_TRACE(menuItems);
        const auto page = chapterPage({.menuItems = menuItems});
        EXPECT_EQ(titleAndText(sample, textIndex, page).first, u"第一章 开端"_s);
        EXPECT_TRUE(titleAndText(sample, textIndex, page).second.contains(u"第二段"_s));
    }
}

// A text element known by its class alone, with an ad of another class and a note of a longer class before it.
TEST_F(AnchorsTest, TextWithAClassAndNoId)
{
    ChapterShape shape;
    shape.text = u"<div class=\"txt\">正文在此。</div>"_s;
    const auto sample = chapterPage(shape);
    const int textIndex = find(*sample, u"DIV"_s, u"class"_s, u"txt"_s);
    shape.beforeText = Ad + u"<div class=\"txt note\">本章有更新</div>"_s + Ad;
    EXPECT_EQ(titleAndText(sample, textIndex, chapterPage(shape)).second, u"正文在此。"_s);
}

// The best of several fits: the exact chain before one inside an added wrapper, then the nearest.
TEST_F(AnchorsTest, BestFitByChainThenDistance)
{
    ChapterShape shape;
    shape.text = u"<div class=\"txt\">正文。</div>"_s;
    const auto sample = chapterPage(shape);
    const int textIndex = find(*sample, u"DIV"_s, u"class"_s, u"txt"_s);
    const struct
    {
        const char *what;
        QString beforeText;
        QString text;
        QString expected;
    } cases[] = {
        {"wrapper only",
         {},
         u"<div class=\"inner\"><div class=\"txt\">包起来的正文。</div></div>"_s,
         u"包起来的正文。"_s},
        {"exact beats a nearer wrapped one",
         Ad.repeated(3) + u"<div class=\"inner\"><div class=\"txt\">包起来的。</div></div>"_s,
         u"<div class=\"txt\">正文。</div>"_s, u"正文。"_s},
        {"nearest of two exact", Ad.repeated(3) + u"<div class=\"txt\">近的。</div>"_s + Ad.repeated(4),
         u"<div class=\"txt\">远的。</div>"_s, u"近的。"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        shape.beforeText = c.beforeText;
        shape.text = c.text;
        EXPECT_EQ(titleAndText(sample, textIndex, chapterPage(shape)).second, c.expected);
    }
}

// BODY is known by its tag alone, so an element whose chain ends there is found when the page gives BODY classes
// of its own; the ancestors below it still have to match.
TEST_F(AnchorsTest, BodyIsKnownByItsTag)
{
    const auto sample = chapterPage({.body = u"<body class=\"chapter-1\">"_s});
    const int footer = find(*sample, u"DIV"_s, u"class"_s, u"footer"_s);
    const ElementAnchor anchor = qh::engine::anchorOf(*sample->all().item(footer));
    EXPECT_EQ(anchor.ancestors, (QList<qh::templates::AnchorNode>{{u"BODY"_s, {}, {}}}));
    for (const QString &body : {u"<body>"_s, u"<body class=\"chapter-2 night\" id=\"b\">"_s}) {
        const auto search =
            qh::engine::FindAnchored(chapterPage({.body = body, .menuItems = 9}), footer, anchor, m_stop);
        EXPECT_EQ(run(*search), u"本站小说均为示例"_s) << body.toStdString();
    }
}

// A page without the text element gives nothing, and the search says it found none.
TEST_F(AnchorsTest, MissingElementIsNotFound)
{
    const auto sample = chapterPage({});
    const int textIndex = find(*sample, u"DIV"_s, u"id"_s, u"content"_s);
    ChapterShape throttled;
    throttled.text = u"<div class=\"tip\">访问太频繁了，请稍候再来</div>"_s;
    const auto search = qh::engine::FindAnchored(chapterPage(throttled), textIndex,
                                                 qh::engine::anchorOf(*sample->all().item(textIndex)), m_stop);
    EXPECT_EQ(run(*search), QString());
    EXPECT_FALSE(search->found());

    const auto found =
        qh::engine::FindAnchored(sample, textIndex, qh::engine::anchorOf(*sample->all().item(textIndex)), m_stop);
    run(*found);
    EXPECT_TRUE(found->found());
}

// The next link: the recorded markup first; without it, the link at the recorded place whose text reads as a next
// page or chapter; a link elsewhere or reading otherwise is not taken.
TEST_F(AnchorsTest, NextLinkByMarkupThenByPlace)
{
    const auto sample = chapterPage({});
    const ElementAnchor anchor = qh::engine::anchorOf(*sample->all().item(find(*sample, u"A"_s, u"rel"_s, u"next"_s)));
    const QString prev = u"<a href=\"/b/0.html\" class=\"prev\">上一页</a>"_s;
    const struct
    {
        const char *what;
        QString links;
        QString withAnchor;
        QString withoutAnchor;
    } cases[] = {
        {"the recorded link", prev + NextLink, u"/b/2.html"_s, u"/b/2.html"_s},
        {"next chapter at the place", prev + u"<a href=\"/c/2.html\" class=\"next\" rel=\"next\">下一章</a>"_s,
         u"/c/2.html"_s, QString()},
        {"markup wins over place",
         u"<a href=\"/c/2.html\" class=\"next\" rel=\"next\">下一章</a><a href=\"/b/3.html\">下一页</a>"_s,
         u"/b/3.html"_s, u"/b/3.html"_s},
        {"arrowed english", u"<a href=\"/e/2\" class=\"next\" rel=\"next\"> Next → </a>"_s, u"/e/2"_s, QString()},
        {"another class", u"<a href=\"/c/2.html\" class=\"more\" rel=\"next\">下一章</a>"_s, QString(), QString()},
        {"another rel", u"<a href=\"/c/2.html\" class=\"next\">下一章</a>"_s, QString(), QString()},
        {"reads as a previous page", u"<a href=\"/b/0.html\" class=\"next\" rel=\"next\">上一章</a>"_s, QString(),
         QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const auto page = chapterPage({.links = c.links});
        const auto anchored = qh::engine::FindNextLink(page, u"下一页"_s, anchor, m_stop);
        EXPECT_EQ(run(*anchored), c.withAnchor);
        const auto plain = qh::engine::FindNextLink(page, u"下一页"_s, m_stop);
        EXPECT_EQ(run(*plain), c.withoutAnchor);
    }
}

// Texts of next-page and next-chapter links, and texts that are not.
TEST(ReadsAsNextPage, WordsAndArrows)
{
    const struct
    {
        const char16_t *text;
        bool next;
    } cases[] = {
        {u"下一页", true},       {u"下一章", true},     {u" 下一节 ", true},  {u"下页", true},
        {u"下一章 →", true},     {u"【下一章】", true}, {u"Next", true},      {u"next page", true},
        {u"Next Chapter", true}, {u"→", true},          {u">>", true},        {u"上一页", false},
        {u"上一章", false},      {u"目录", false},      {u"nextdoor", false}, {u"", false},
        {u"返回书页", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(qh::engine::readsAsNextPage(c.text), c.next) << QString::fromUtf16(c.text).toStdString();
}
