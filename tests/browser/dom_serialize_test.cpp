#include "browser/dom_testutils.h"
#include "support/testutils.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using qh::test::parseUtf8;

namespace {

struct MarkupCase
{
    const char *name;
    QString html;
    QString tagName; // the first element with this tag is serialised
    QString innerHtml;
    QString outerHtml;
};

class Serialisation : public testing::TestWithParam<MarkupCase>
{};

// innerHTML and outerHTML follow the HTML fragment serialisation, so they equal what a browser returns.
TEST_P(Serialisation, MatchesTheFragmentSerialisation)
{
    const MarkupCase &c = GetParam();
    const auto document = parseUtf8(c.html);
    const int index = qh::test::indexOfTag(*document, c.tagName);
    ASSERT_GE(index, 0);
    EXPECT_EQ(document->innerHtmlAt(index), c.innerHtml);
    EXPECT_EQ(document->outerHtmlAt(index), c.outerHtml);
    EXPECT_EQ(document->innerHtmlAt(index), c.innerHtml); // cached read
}

INSTANTIATE_TEST_SUITE_P(
    Markup, Serialisation,
    testing::Values(
        MarkupCase{"entitiesInText", u"<p>x &lt; y &amp;&amp; z&nbsp;&gt; &quot;q&quot; &#39;</p>"_s, u"P"_s,
                   u"x &lt; y &amp;&amp; z&nbsp;&gt; \"q\" '"_s, u"<p>x &lt; y &amp;&amp; z&nbsp;&gt; \"q\" '</p>"_s},
        MarkupCase{"quotesInAttributes", u"<p title='a \"q\" &amp; <b>&nbsp;'>x</p>"_s, u"P"_s, u"x"_s,
                   u"<p title=\"a &quot;q&quot; &amp; <b>&nbsp;\">x</p>"_s},
        MarkupCase{"attributeOrderAndCase", u"<A HREF=\"/p/2.html\" Class=next target=_blank>下一页</A>"_s, u"A"_s,
                   u"下一页"_s, u"<a href=\"/p/2.html\" class=\"next\" target=\"_blank\">下一页</a>"_s},
        MarkupCase{"booleanAttributes", u"<select><option selected value=1>a</option></select>"_s, u"SELECT"_s,
                   u"<option selected=\"\" value=\"1\">a</option>"_s,
                   u"<select><option selected=\"\" value=\"1\">a</option></select>"_s},
        MarkupCase{"voidElements", u"<div><br/><img src=a.png alt=''><input disabled><hr></hr></div>"_s, u"DIV"_s,
                   u"<br><img src=\"a.png\" alt=\"\"><input disabled=\"\"><hr>"_s,
                   u"<div><br><img src=\"a.png\" alt=\"\"><input disabled=\"\"><hr></div>"_s},
        MarkupCase{"voidElementItself", u"<img src=a>"_s, u"IMG"_s, u""_s, u"<img src=\"a\">"_s},
        MarkupCase{"rawTextScript", u"<div><script>if (a < b && c > 1) {}</script></div>"_s, u"DIV"_s,
                   u"<script>if (a < b && c > 1) {}</script>"_s,
                   u"<div><script>if (a < b && c > 1) {}</script></div>"_s},
        MarkupCase{"rawTextStyle", u"<style>p > a { content: '&amp;' }</style>"_s, u"STYLE"_s,
                   u"p > a { content: '&amp;' }"_s, u"<style>p > a { content: '&amp;' }</style>"_s},
        MarkupCase{"rcdataIsEscaped", u"<textarea>a<b> &amp; c</textarea>"_s, u"TEXTAREA"_s, u"a&lt;b&gt; &amp; c"_s,
                   u"<textarea>a&lt;b&gt; &amp; c</textarea>"_s},
        MarkupCase{"noscriptIsRawText", u"<body><noscript><a href=\"x\">y &amp; z</a></noscript>"_s, u"NOSCRIPT"_s,
                   u"<a href=\"x\">y &amp; z</a>"_s, u"<noscript><a href=\"x\">y &amp; z</a></noscript>"_s},
        MarkupCase{"linkInFont", u"<a href=\"2.html\"><FONT color=red>下一页</FONT></a>"_s, u"A"_s,
                   u"<font color=\"red\">下一页</font>"_s,
                   u"<a href=\"2.html\"><font color=\"red\">下一页</font></a>"_s},
        MarkupCase{"comments", u"<div><!-- note -->x<!---->y</div>"_s, u"DIV"_s, u"<!-- note -->x<!---->y"_s,
                   u"<div><!-- note -->x<!---->y</div>"_s},
        MarkupCase{"preLeadingNewlineDropped", u"<pre>\n\nx</pre>"_s, u"PRE"_s, u"\nx"_s, u"<pre>\nx</pre>"_s},
        MarkupCase{
            "foreignNamesAndAttributes",
            u"<div><svg viewbox=\"0 0 2 2\"><foreignobject/><a xlink:href=\"#x\"><path d=M0 /></a></svg></div>"_s,
            u"DIV"_s,
            u"<svg viewBox=\"0 0 2 2\"><foreignObject></foreignObject><a xlink:href=\"#x\"><path "
            "d=\"M0\"></path></a></svg>"_s,
            u"<div><svg viewBox=\"0 0 2 2\"><foreignObject></foreignObject><a xlink:href=\"#x\"><path "
            "d=\"M0\"></path></a></svg></div>"_s},
        MarkupCase{"templateContents", u"<template><b>x</b></template>"_s, u"TEMPLATE"_s, u"<b>x</b>"_s,
                   u"<template><b>x</b></template>"_s},
        MarkupCase{"impliedTbody", u"<table><tr><td>1</table>"_s, u"TABLE"_s, u"<tbody><tr><td>1</td></tr></tbody>"_s,
                   u"<table><tbody><tr><td>1</td></tr></tbody></table>"_s},
        MarkupCase{"crlfNormalised", u"<p>a\r\nb\rc</p>"_s, u"P"_s, u"a\nb\nc"_s, u"<p>a\nb\nc</p>"_s}),
    [](const testing::TestParamInfo<MarkupCase> &param) { return param.param.name; });

} // namespace
