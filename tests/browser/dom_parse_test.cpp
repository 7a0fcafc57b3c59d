#include "browser/dom_testutils.h"
#include "support/testutils.h"

#include "common/textfile.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using qh::test::parseUtf8;
using qh::test::tagNames;

namespace {

struct OrderCase
{
    const char *name;
    QString html;
    QString tags;
};

class ElementOrder : public testing::TestWithParam<OrderCase>
{};

// `all` lists every element as a browser builds the tree from the same bytes, template contents left out.
TEST_P(ElementOrder, MatchesTheBrowsersTree)
{
    const auto document = parseUtf8(GetParam().html);
    EXPECT_EQ(tagNames(*document), GetParam().tags);
}

INSTANTIATE_TEST_SUITE_P(
    Markup, ElementOrder,
    testing::Values(
        OrderCase{"empty", u""_s, u"HTML HEAD BODY"_s},
        OrderCase{"binary", QString::fromLatin1("\x01\x02\xff\xfe<\x00>", 7), u"HTML HEAD BODY"_s},
        OrderCase{"impliedTbody", u"<table><tr><td>x</td></tr></table>"_s, u"HTML HEAD BODY TABLE TBODY TR TD"_s},
        OrderCase{"misnested", u"<b><i></b></i>x"_s, u"HTML HEAD BODY B I"_s},
        OrderCase{"reconstructedFormatting", u"<p><b>a<p>b"_s, u"HTML HEAD BODY P B P B"_s},
        OrderCase{"adoptionAgency", u"<b>1<p>2</b>3</p>"_s, u"HTML HEAD BODY B P B"_s},
        OrderCase{"fosterParenting", u"<table>x<div>y</div><tr><td>z</table>"_s,
                  u"HTML HEAD BODY DIV TABLE TBODY TR TD"_s},
        OrderCase{"foreignContent",
                  u"<svg viewbox='0 0 1 1'><foreignObject><p>x</p></foreignObject><CLIPPATH/></svg>"
                  "<math><mi>x</mi></math>"_s,
                  u"HTML HEAD BODY svg foreignObject P clipPath math mi"_s},
        OrderCase{"templateContents", u"<template><p>x</p></template><div><template><b>y</b></template></div>"_s,
                  u"HTML HEAD TEMPLATE BODY DIV TEMPLATE"_s},
        OrderCase{"noscriptInBody", u"<body><noscript><img src=a.gif><p>x</p></noscript><div>y</div>"_s,
                  u"HTML HEAD BODY NOSCRIPT DIV"_s},
        OrderCase{"noscriptInHead", u"<head><noscript><p>a</p></noscript><title>t</title></head><p>b"_s,
                  u"HTML HEAD NOSCRIPT TITLE BODY P"_s},
        OrderCase{"unclosedNoscript", u"<body><noscript><p>x"_s, u"HTML HEAD BODY NOSCRIPT"_s},
        OrderCase{"commentsAndDoctype",
                  u"<!DOCTYPE html><!--a--><html><!--b--><body><!--c--><p>x</p></body></html><!--d-->"_s,
                  u"HTML HEAD BODY P"_s},
        OrderCase{"unknownTags", u"<My-Tag>a</My-Tag><CUSTOM><x:y>"_s, u"HTML HEAD BODY MY-TAG CUSTOM X:Y"_s},
        OrderCase{"impliedEndTags", u"<ul><li>a<li>b</ul><dl><dt>c<dd>d</dl>"_s, u"HTML HEAD BODY UL LI LI DL DT DD"_s},
        OrderCase{"scriptIsText", u"<script>document.write('<p>')</script><div>"_s, u"HTML HEAD SCRIPT BODY DIV"_s}),
    [](const testing::TestParamInfo<OrderCase> &param) { return param.param.name; });

// sourceIndex is the position in `all` and parentElement the enclosing element; the root has none.
TEST(DomTree, ParentsAndPositions)
{
    const auto document = parseUtf8(u"<div><p><span>x</span></p></div><template><i>y</i></template>"_s);
    ASSERT_EQ(tagNames(*document), u"HTML HEAD BODY DIV P SPAN TEMPLATE"_s);
    const int expectedParents[] = {-1, 0, 0, 2, 3, 4, 2};
    for (int i = 0; i < document->elementCount(); ++i)
        EXPECT_EQ(document->parentIndexAt(i), expectedParents[i]) << i;

    const auto all = document->all();
    EXPECT_FALSE(all.item(-1).has_value());
    EXPECT_FALSE(all.item(all.length()).has_value());
    EXPECT_EQ(all.item(5)->sourceIndex(), 5);
    EXPECT_FALSE(all.item(0)->parentElement().has_value());
}

// Attributes come back as written with entities decoded; HTML names match in any case, foreign ones exactly.
TEST(DomTree, Attributes)
{
    const auto document = parseUtf8(
        u"<a HREF=\"?a=1&amp;b=2&copy\" data-x='' checked>x</a><svg viewBox=\"0 0 1 1\"><a xlink:href=\"#q\"/></svg>"_s);
    const int link = qh::test::indexOfTag(*document, u"A"_s);
    EXPECT_EQ(document->attributeAt(link, u"href"_s), u"?a=1&b=2©"_s);
    EXPECT_EQ(document->attributeAt(link, u"Href"_s), u"?a=1&b=2©"_s);
    EXPECT_EQ(document->attributeAt(link, u"data-x"_s), u""_s);
    EXPECT_EQ(document->attributeAt(link, u"checked"_s), u""_s);
    EXPECT_FALSE(document->attributeAt(link, u"title"_s).has_value());

    const int svg = qh::test::indexOfTag(*document, u"svg"_s);
    EXPECT_EQ(document->attributeAt(svg, u"viewBox"_s), u"0 0 1 1"_s);
    EXPECT_FALSE(document->attributeAt(svg, u"viewbox"_s).has_value());
    EXPECT_EQ(document->attributeAt(svg + 1, u"xlink:href"_s), u"#q"_s);
}

// The title is the first title element's text with white space stripped and collapsed.
TEST(DomTree, TitleAndUrl)
{
    const QUrl url(u"http://book.example/1.html"_s);
    const auto document = qh::browser::parseHtmlDocument("<title>\n  第一章 \t 开始 </title><title>second</title>",
                                                         "text/html; charset=utf-8", url);
    EXPECT_EQ(document->title(), u"第一章 开始"_s);
    EXPECT_EQ(document->url(), url);
    EXPECT_TRUE(document->isStatic());
    EXPECT_EQ(parseUtf8(u"<p>no title"_s)->title(), u""_s);
}

// A GBK chapter page read from disk keeps its Chinese text through sniffing, decoding and parsing.
TEST(DomTree, GbkFixturePage)
{
    const QByteArray bytes = qh::text::readFile(qh::test::dataPath(u"html-gbk-chapter.html"_s));
    const auto document = qh::browser::parseHtmlDocument(bytes, QByteArray(), QUrl());
    EXPECT_EQ(document->title(), u"第一章 风起"_s);
    const int content = qh::test::indexOfId(*document, u"content"_s);
    ASSERT_GE(content, 0);
    EXPECT_EQ(document->innerTextAt(content),
              u"\u00a0\u00a0\u00a0\u00a0天色渐暗，山路难行。\n\n\u00a0\u00a0\u00a0\u00a0他停下脚步。"_s);
    const int next = qh::test::indexOfId(*document, u"next"_s);
    EXPECT_EQ(document->innerHtmlAt(next), u"下一页"_s);
}

// Hostile shapes give a document and no crash: deep nesting (no recursion anywhere, destruction included),
// long runs of unclosed formatting tags, and a parse stopped half-way.
TEST(DomTree, HostileInput)
{
    const int depth = 300000;
    QString deep;
    for (int i = 0; i < depth; ++i)
        deep += u"<span>"_s;
    deep += u"x"_s;
    {
        const auto document = parseUtf8(deep);
        ASSERT_EQ(document->elementCount(), depth + 3);
        const int innermost = depth + 2;
        EXPECT_EQ(document->parentIndexAt(innermost), innermost - 1);
        EXPECT_EQ(document->innerTextAt(0), u"x"_s);
        // <html><head></head><body>, the spans, x, their end tags, </body></html>
        EXPECT_EQ(document->outerHtmlAt(0).size(), qsizetype(25 + depth * 13 + 1 + 14));
    }

    QString unclosed;
    for (int i = 0; i < 20000; ++i)
        unclosed += u"<b><i><font>x"_s;
    EXPECT_GT(parseUtf8(unclosed)->elementCount(), 20000);
}

// The system's Gumbo has its assertions on, and these pages fail two of them. The parse must fail as a parse (the
// grabber then reports the page) instead of taking the whole program down, and the next parse works as usual.
TEST(DomTree, PagesThatBreakGumbosChecksFailTheParseOnly)
{
    const QString pages[] = {
        u"<select><select><table><math><select><mi><select><td>"_s,
        u"<table><svg><desc><![CDATA[\u2039/foreign中文字符bject>]]>\u2039中文字符>"_s,
    };
    for (const QString &page : pages) {
        SCOPED_TRACE(page.toStdString());
        EXPECT_THROW(parseUtf8(page), std::runtime_error);
        EXPECT_THROW(qh::browser::parseHtmlText(page, QUrl()), std::runtime_error);
        EXPECT_EQ(parseUtf8(u"<p>之后</p>"_s)->innerTextAt(0), u"之后"_s);
    }
}

// The page's parse gives the tree that a parse of its text as it is gives.
void expectThePlainTree(const QString &page)
{
    SCOPED_TRACE(page.toStdString());
    const auto collapsed = qh::browser::parseHtmlDocument(page.toUtf8(), "text/html; charset=utf-8", QUrl());
    const auto plain = qh::browser::parseHtmlText(page, QUrl());
    ASSERT_EQ(collapsed->elementCount(), plain->elementCount());
    EXPECT_EQ(collapsed->title(), plain->title());
    EXPECT_EQ(collapsed->outerHtmlAt(0), plain->outerHtmlAt(0));
    for (int i = 0; i < plain->elementCount(); ++i) {
        EXPECT_EQ(collapsed->tagNameAt(i), plain->tagNameAt(i));
        EXPECT_EQ(collapsed->parentIndexAt(i), plain->parentIndexAt(i));
        EXPECT_EQ(collapsed->innerTextAt(i), plain->innerTextAt(i));
    }
}

// Runs of Chinese text are collapsed before Gumbo reads a page and put back as the tree is copied: the tree is the
// one the plain parse builds, wherever the runs stand (text, attribute names and values, tag names, comments, raw
// text, tables that move text, cloned formatting elements, foreign content), and on pages that must keep their text.
TEST(DomTree, CollapsedChineseRunsBuildThePlainTree)
{
    const QString run = u"第一章风起云涌"_s;
    const QString other = u"天色渐暗，山路难行。"_s;
    QString repeated;
    for (int i = 0; i < 200; ++i)
        repeated += u"<p>"_s + (i % 2 ? run : other + QString::number(i)) + u"</p>"_s;
    const QString pages[] = {
        u"<p>R&nbsp;R。R<br>R</p><div>O R O</div>"_s,
        u"<div title=\"R\" data-x=R R class='O'>R</div><p R=1 R=2 O=3>x</p><a href=\"/R.html\">R</a>"_s,
        u"<aR>x</aR><R>y</R><x-R>z</x-R><R/>&R;&#R;"_s,
        u"<table>R<tr><td>R</td>O</tr>R</table><table><colgroup>R</colgroup></table>"_s,
        u"<p><b title=R>R<p>R</b>R<i R=O>O<div>R</i>R</div>"_s,
        u"<title>R O</title><script>var s = \"R\";</script><style>/*R*/</style><textarea>R</textarea>"
        "<noscript><p>R</p></noscript><xmp>R</xmp>"_s,
        u"<!DOCTYPE R><!--R--><!R><?R?></R>"_s,
        u"<html><head>R<title>R</title></head>R<body>R"_s,
        u"<frameset>R<frame></frameset>R"_s,
        u"<svg><Rx/><text>R</text><foreignObject>R</foreignObject></svg><math><mi>R</mi></math>"_s,
        u"<select>R<option>R<optgroup label=R>R</select><pre>\nR</pre><template>R<p>R</p></template>"_s,
        u"R\u3000R！？（O）「R」"_s,
        u"<p>R\uE000R</p>"_s,           // a private-use character of its own
        u"<p>R&#xE001;&#57346;R</p>"_s, // references to private-use characters
        u"<p>R&#x0E002R</p>"_s,
        repeated,
    };
    for (QString page : pages) {
        page.replace(u"R"_s, run).replace(u"O"_s, other);
        expectThePlainTree(page);
    }
}

// A page's own private-use characters keep their text next to runs that would be collapsed: pairs of them look
// like stand-ins, so such a page is parsed with no run replaced, wherever the pair stands and whether it comes
// before or after the runs.
TEST(DomTree, PrivateUsePairsOfThePageKeepTheirText)
{
    // The page a fuzzer reduced: one run, then U+E000 twice.
    const QByteArray reduced = QByteArray::fromHex("e4b8ade69687e6a087e9a298ee8080ee8080");
    const auto document = qh::browser::parseHtmlDocument(reduced, "text/html; charset=utf-8", QUrl());
    const int body = qh::test::indexOfTag(*document, u"BODY"_s);
    ASSERT_GE(body, 0);
    EXPECT_EQ(document->innerTextAt(body), u"中文标题\uE000\uE000"_s);
    expectThePlainTree(QString::fromUtf8(reduced));

    // A chapter whose anti-copy font draws some characters at U+E000, in UTF-8 and in GBK (whose user-defined
    // area AAA1 decodes to U+E000).
    const QString chapterText = u"中文标题\uE000\uE000字"_s;
    const QByteArray gbkChapter = "<div id=c>" + QByteArray::fromHex("d6d0cec4b1eacce2aaa1aaa1d7d6") + "</div>";
    for (const auto &[bytes, contentType] : {
             std::pair{(u"<div id=c>"_s + chapterText + u"</div>"_s).toUtf8(), "text/html; charset=utf-8"_ba},
             std::pair{gbkChapter, "text/html; charset=gbk"_ba},
         }) {
        SCOPED_TRACE(contentType.toStdString());
        const auto chapter = qh::browser::parseHtmlDocument(bytes, contentType, QUrl());
        const int content = qh::test::indexOfId(*chapter, u"c"_s);
        ASSERT_GE(content, 0);
        EXPECT_EQ(chapter->innerTextAt(content), chapterText);
    }

    // R is a run, P a private-use pair.
    const QString pages[] = {
        u"<p>R</p><p>P</p>"_s,
        u"<p>P</p><p>R</p>"_s,
        u"<p>R</p><div title=\"P\" data-P=x>y</div>"_s,
        u"<div title=P>R</div>"_s,
        u"<p>R</p><xP>y</xP><svg><xP/></svg>"_s,
        u"<xP>R</xP>"_s,
        u"<p>R</p><!--P--><script>var s = \"P\";</script><textarea>P</textarea>"_s,
        u"<p>R&#xE000;&#xE000;</p><p>R&#57344;&#57344;</p>"_s,
        u"<p>R</p><p title=\"&#xE000;&#xE000;\">x</p>"_s,
    };
    for (QString page : pages) {
        page.replace(u"R"_s, u"第一章风起云涌"_s).replace(u"P"_s, u"\uE000\uE000"_s);
        expectThePlainTree(page);
    }
}

// A stop requested before or during the parse ends it with no document.
TEST(DomTree, StoppedParse)
{
    std::stop_source stop;
    stop.request_stop();
    QString nested;
    for (int i = 0; i < 50000; ++i)
        nested += u"<div>"_s;
    EXPECT_EQ(
        qh::browser::parseHtmlDocumentUntil(nested.toUtf8(), "text/html; charset=utf-8", QUrl(), stop.get_token()),
        nullptr);
    EXPECT_NE(qh::browser::parseHtmlDocumentUntil("<p>x", "", QUrl(), std::stop_source().get_token()), nullptr);
}

} // namespace
