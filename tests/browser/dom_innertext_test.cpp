#include "browser/dom_testutils.h"
#include "support/testutils.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using qh::test::parseUtf8;

namespace {

struct TextCase
{
    const char *name;
    QString html; // the element with id "c" is read
    QString text;
};

class InnerText : public testing::TestWithParam<TextCase>
{};

// innerText is the rendered text a browser gives: collapsed white space, line breaks for br and blocks, two for
// paragraphs, tabs between cells, nothing from what is not rendered.
TEST_P(InnerText, MatchesTheRenderedText)
{
    const auto document = parseUtf8(GetParam().html);
    const int index = qh::test::indexOfId(*document, u"c"_s);
    ASSERT_GE(index, 0);
    EXPECT_EQ(document->innerTextAt(index), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Markup, InnerText,
    testing::Values(
        TextCase{
            "chapterWithBrAndNbsp",
            u"<div id=c>\n&nbsp;&nbsp;&nbsp;&nbsp;第一段。<br />\n<br />\n&nbsp;&nbsp;&nbsp;&nbsp;第二段。\n</div>"_s,
            u"\u00a0\u00a0\u00a0\u00a0第一段。\n\n\u00a0\u00a0\u00a0\u00a0第二段。"_s},
        TextCase{"trailingBrKeepsItsLineFeed", u"<div id=c>a<br>b<br></div>"_s, u"a\nb\n"_s},
        TextCase{"paragraphs", u"<div id=c>\n<p>一</p>\n<p>二</p>\n</div>"_s, u"一\n\n二"_s},
        TextCase{"headingAndParagraph", u"<div id=c><h1>T</h1><p>a</p>b</div>"_s, u"T\n\na\n\nb"_s},
        TextCase{"nestedDivs", u"<div id=c><div>a</div><div><div>b</div>c</div>x<span>y</span></div>"_s,
                 u"a\nb\nc\nxy"_s},
        TextCase{"collapsedWhiteSpace", u"<div id=c>  a \n\t b  <b> c </b> d </div>"_s, u"a b c d"_s},
        TextCase{"spacesAroundBr", u"<div id=c>a <br> b</div>"_s, u"a\nb"_s},
        TextCase{"hiddenAndDisplayNone",
                 u"<div id=c>a <span hidden>b</span><span style=\"color:red; DISPLAY : none !important\">c</span> "
                 "d<div style='display:none'>e</div></div>"_s,
                 u"a d"_s},
        TextCase{"inlineStyleOverridesHidden", u"<div id=c><span hidden style=\"display:inline\">a</span></div>"_s,
                 u"a"_s},
        TextCase{"scriptStyleNoscript",
                 u"<div id=c>a<script>x()</script><style>p{}</style><noscript>n</noscript>b</div>"_s, u"ab"_s},
        TextCase{"tableCells",
                 u"<div id=c><table><tr><td>a</td> <td>b </td></tr>\n<tr><th>c</th><td>d</td></tr></table></div>"_s,
                 u"a\tb\nc\td"_s},
        TextCase{"tableAmidText", u"<div id=c>x<table><tr><td>a</td></tr></table>y</div>"_s, u"x\na\ny"_s},
        TextCase{"preKeepsWhiteSpace", u"<div id=c>x<pre>  a\n   b  </pre>y</div>"_s, u"x\n  a\n   b  \ny"_s},
        TextCase{"listItems", u"<div id=c><ul> <li>a</li> <li>b</li> </ul></div>"_s, u"a\nb"_s},
        TextCase{"imageKeepsSpacesApart", u"<div id=c>a <img src=x> b</div>"_s, u"a  b"_s},
        TextCase{"formControlsHaveNoText", u"<div id=c>a<textarea>t</textarea><input value=v>b</div>"_s, u"ab"_s},
        TextCase{"visibilityHidden",
                 u"<div id=c>a<span style=\"visibility:hidden\">b<b style=\"visibility:visible\">c</b></span></div>"_s,
                 u"ac"_s},
        TextCase{"closedDetailsShowsSummary", u"<div id=c><details><summary>s</summary>body</details></div>"_s, u"s"_s},
        TextCase{"notRenderedElementGivesItsText", u"<div id=c style=\"display:none\"> a  <b>b</b><!--x--></div>"_s,
                 u" a  b"_s},
        TextCase{"insideHiddenAncestor", u"<div hidden><p id=c> a <b>b</b></p></div>"_s, u" a b"_s}),
    [](const testing::TestParamInfo<TextCase> &param) { return param.param.name; });

// A title in head is not rendered: its innerText is its text as written.
TEST(InnerTextOf, TitleIsItsText)
{
    const auto document = parseUtf8(u"<title> T  1 </title>"_s);
    EXPECT_EQ(document->innerTextAt(qh::test::indexOfTag(*document, u"TITLE"_s)), u" T  1 "_s);
}

} // namespace
