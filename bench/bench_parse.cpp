#include "browser/html/htmlparser.h"
#include "browser/html/innertext.h"
#include "demo/samplebook.h"

#include <QStringEncoder>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

// A chapter page as reading sites serve it, about 200 KB in GBK: head with scripts and styles, navigation, a
// content div of &nbsp;-indented paragraphs separated by <br>, footer links.
QByteArray chapterPage()
{
    static const QByteArray page = [] {
        QString html = u"<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\">\n<html><head>"
                       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />"
                       "<title>第一百二十三章 风雪夜归人_某某小说网</title>"
                       "<link rel=\"stylesheet\" href=\"/css/style.css\" />"
                       "<style>body{font-size:16px} #content{line-height:1.8em}</style>"
                       "<script type=\"text/javascript\">var bookid = 123; if (a < b && c) { go(); }</script>"
                       "<script src=\"/js/common.js\"></script></head>\n<body>\n"
                       "<div class=\"nav\"><a href=\"/\">首页</a> &gt; <a href=\"/book/123/\">书目</a> &gt; "
                       "第一百二十三章</div>\n<div class=\"bookname\"><h1>第一百二十三章 风雪夜归人</h1></div>\n"
                       "<div id=\"content\">"_s;
        const QString paragraph =
            u"&nbsp;&nbsp;&nbsp;&nbsp;天色渐暗，北风卷着雪花扑面而来，山路上早已没了行人的"
            "踪迹。他紧了紧身上的旧棉袍，抬头望向远处隐约的灯火，心中却是一片平静。<br /><br />\n"_s;
        while (html.size() < 125000)
            html += paragraph;
        html += u"</div>\n<div class=\"bottem\"><a href=\"/book/123/122.html\">上一章</a> | "
                "<a href=\"/book/123/\">返回目录</a> | <a href=\"/book/123/124.html\">下一章</a></div>\n"
                "<div class=\"footer\">Copyright &copy; 某某小说网 <script>stat();</script></div>\n</body></html>\n"_s;
        QStringEncoder encoder("GB18030");
        return QByteArray(encoder.encode(html));
    }();
    return page;
}

// Sniffing, decoding, Gumbo's parse and our DOM of a whole chapter page.
void BM_ParseChapterPage(benchmark::State &state)
{
    const QByteArray page = chapterPage();
    for (auto _ : state) {
        auto document = qh::browser::parseHtmlDocument(page, QByteArray(), QUrl(u"http://book.example/123.html"_s));
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * page.size());
    state.counters["pageBytes"] = double(page.size());
}
BENCHMARK(BM_ParseChapterPage)->Unit(benchmark::kMillisecond);

// The same for the grab benchmark's pages: 5 KB of GBK, where what a page costs besides Gumbo's parse (opening
// converters, naming tags, allocating) shows.
void BM_ParseSampleBookPage(benchmark::State &state)
{
    const qh::demo::SampleBook book(2, 2000);
    const QByteArray page = book.chapterPage(1);
    const QUrl url(u"http://book.example/1.html"_s);
    for (auto _ : state) {
        auto document = qh::browser::parseHtmlDocument(page, "text/html; charset=gbk", url);
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * page.size());
    state.counters["pageBytes"] = double(page.size());
}
BENCHMARK(BM_ParseSampleBookPage)->Unit(benchmark::kMicrosecond);

// innerText of the content div, computed afresh each time (a new document has an empty cache).
void BM_ContentInnerText(benchmark::State &state)
{
    const QByteArray page = chapterPage();
    const auto document = qh::browser::parseHtmlDocument(page, QByteArray(), QUrl());
    int content = -1;
    for (int i = 0; i < document->elementCount() && content < 0; ++i) {
        if (document->attributeAt(i, u"id"_s) == u"content"_s)
            content = i;
    }
    for (auto _ : state) {
        QString text = qh::browser::rendering::innerText(document->tree(), document->tree().elementNode(content));
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_ContentInnerText)->Unit(benchmark::kMillisecond);

// About 30 KB of a reading site's style sheet: layout and colours for many classes, a few rules that hide things,
// media queries for narrow screens and print.
QString siteStyleSheet()
{
    QString css = u"@charset \"utf-8\";\nhtml,body{margin:0;padding:0}body{font:16px/1.6 sans-serif;color:#333}\n"
                  "a{color:#06c;text-decoration:none}a:hover{color:#f60}ul,ol{list-style:none}\n"
                  ".hide,.ad,.hidden-xs{display:none}.tip{visibility:hidden}\n"
                  "#content{font-size:18px;line-height:1.8em;padding:10px 20px}\n"
                  "#content .s{display:none!important}#content p{margin:0.8em 0;text-indent:2em}\n"_s;
    for (int i = 0; css.size() < 30000; ++i) {
        const QString n = QString::number(i);
        css += u".box"_s + n + u" .title"_s + n + u"{float:left;width:"_s + n + u"px;margin:0 4px;color:#"_s +
               QString::number(0x100000 + i * 97, 16) + u"}\n"_s;
        css += u"div.item"_s + n + u">a:first-child,.list"_s + n + u" li+li{border-top:1px solid #eee;padding:2px}\n"_s;
        if (i % 10 == 0)
            css += u"@media (max-width:768px){.nav"_s + n + u"{display:none}.side"_s + n + u"{display:block}}\n"_s;
        if (i % 25 == 0)
            css += u"@media print{#content,.bottem{display:none}}\n"_s;
    }
    return css;
}

// A chapter page of about 200 KB with that sheet in a style element, paragraphs with spans the sheet hides.
QByteArray styledChapterPage()
{
    static const QByteArray page = [] {
        QString html = u"<!DOCTYPE html>\n<html><head><meta charset=\"gbk\"><title>第一百二十三章 风雪夜归人</title>"
                       "<style>"_s +
                       siteStyleSheet() +
                       u"</style></head>\n<body>\n<div class=\"nav\"><a href=\"/\">首页</a> &gt; "
                       "<a href=\"/book/123/\">书目</a></div>\n<div class=\"box1\"><h1 class=\"title1\">第一百二十三章"
                       "</h1></div>\n<div id=\"content\">"_s;
        const QString paragraph = u"<p>天色渐暗，北风卷着雪花扑面而来，山路上<span class=\"s\">某某小说网</span>早已"
                                  "没了行人的踪迹。他紧了紧身上的旧棉袍，抬头望向远处隐约的灯火，心中却是一片平静。"
                                  "</p>\n"_s;
        while (html.size() < 125000)
            html += paragraph;
        html += u"</div>\n<div class=\"bottem\"><a href=\"/book/123/122.html\">上一章</a> | "
                "<a href=\"/book/123/124.html\">下一章</a></div>\n<div class=\"ad\">广告</div>\n</body></html>\n"_s;
        QStringEncoder encoder("GB18030");
        return QByteArray(encoder.encode(html));
    }();
    return page;
}

// Parse plus innerText of the content div, for a page whose style sheet decides what the text holds.
void BM_ParseStyledPageAndText(benchmark::State &state)
{
    const QByteArray page = styledChapterPage();
    const QUrl url(u"http://book.example/123.html"_s);
    qsizetype textChars = 0;
    for (auto _ : state) {
        const auto document = qh::browser::parseHtmlDocument(page, QByteArray(), url);
        int content = -1;
        for (int i = 0; i < document->elementCount() && content < 0; ++i) {
            if (document->attributeAt(i, u"id"_s) == u"content"_s)
                content = i;
        }
        QString text = document->innerTextAt(content);
        textChars = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.counters["pageBytes"] = double(page.size());
    state.counters["textChars"] = double(textChars); // smaller once the hidden spans are left out
}
BENCHMARK(BM_ParseStyledPageAndText)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
