#include "browser/dom_testutils.h"
#include "browser/html/authorstyles.h"
#include "browser/html/stylesheet.h"
#include "browser/html/stylesheetloader.h"
#include "support/testutils.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using qh::test::parseUtf8;

namespace {

struct StyledCase
{
    const char *name;
    QString css;  // the page's style element
    QString body; // the element with id "c" is read
    QString text;
};

class StyledText : public testing::TestWithParam<StyledCase>
{};

// A page's style sheet decides what innerText holds, as it decides what a reader sees.
TEST_P(StyledText, FollowsTheSheet)
{
    const auto document =
        parseUtf8(u"<html><head><style>"_s + GetParam().css + u"</style></head><body>"_s + GetParam().body);
    const int index = qh::test::indexOfId(*document, u"c"_s);
    ASSERT_GE(index, 0);
    EXPECT_EQ(document->innerTextAt(index), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, StyledText,
    testing::Values(
        // Reading sites sprinkle spans the sheet hides through the chapter, against copying.
        StyledCase{
            "classHiddenSpans", u".w3x{display:none} #c p span.k{display : none}"_s,
            u"<div id=c><p>第一<span class=\"w3x\">某某小说网</span>段。</p><p>第<span class=\"a k\">www</span>二段"
            "</p></div>"_s,
            u"第一段。\n\n第二段"_s},
        StyledCase{"visibilityHiddenWithVisibleChild", u".h{visibility:hidden}.v{visibility:visible}"_s,
                   u"<div id=c>a<span class=h>junk<b class=v>b</b>junk</span>c</div>"_s, u"abc"_s},
        StyledCase{"importantBeatsInlineStyle", u".ad{display:none!important}"_s,
                   u"<div id=c>a<span class=ad style=\"display:inline\">x</span>b</div>"_s, u"ab"_s},
        StyledCase{"inlineStyleBeatsSheet", u"span{display:none}"_s,
                   u"<div id=c>a<span style=\"display:inline\">b</span></div>"_s, u"ab"_s},
        StyledCase{"printAndNarrowMediaDoNotApply",
                   u"@media print{.p{display:none}} @media screen and (max-width:768px){.m{display:none}}"
                   "@media screen and (min-width:1024px){.d{display:none}} @media not print{.n{display:none}}"_s,
                   u"<div id=c><span class=p>p</span><span class=m>m</span><span class=d>d</span>"
                   "<span class=n>n</span></div>"_s,
                   u"pm"_s},
        StyledCase{"uppercase", u"h1{text-transform:uppercase}.c{text-transform:capitalize}"_s,
                   u"<div id=c><h1>chapter one</h1><p class=c>the old man's boat</p></div>"_s,
                   u"CHAPTER ONE\n\nThe Old Man's Boat"_s},
        StyledCase{"whiteSpacePreKeepsLineBreaks", u".poem{white-space:pre}"_s,
                   u"<div id=c><div class=poem>床前明月光，\n  疑是地上霜。\n</div></div>"_s,
                   u"床前明月光，\n  疑是地上霜。\n"_s},
        StyledCase{"whiteSpaceIsInherited", u"#c{white-space:pre-line}"_s, u"<div id=c>a  b\n<span>c\nd</span></div>"_s,
                   u"a b\nc\nd"_s},
        StyledCase{"specificityThenOrder",
                   u"#c .x{display:inline} .x{display:none} .y{display:none} .y{display:inline}"_s,
                   u"<div id=c><span class=x>a</span><span class=y>b</span></div>"_s, u"ab"_s},
        StyledCase{"displayMakesBlocksAndInlines", u"span.b{display:block} div.i{display:inline} li{display:inline}"_s,
                   u"<div id=c>a<span class=b>b</span>c<div class=i>d</div><ul><li>e</li><li>f</li></ul></div>"_s,
                   u"a\nb\ncd\nef"_s},
        StyledCase{
            "tableParts", u".t{display:table}.r{display:table-row}.d{display:table-cell}"_s,
            u"<div id=c><div class=t><div class=r><span class=d>a</span><span class=d>b</span></div></div></div>"_s,
            u"a\tb"_s},
        StyledCase{"combinatorsAndPseudoClasses",
                   u"div > i{display:none} b + u{display:none} s ~ em{display:none} q:first-child{display:none}"
                   "a:not([href]){display:none} [data-x^=\"ad\" i]{display:none}"_s,
                   u"<div id=c><q>1</q><i>2</i><span><i>3</i></span><b>4</b><u>5</u><s>6</s><em>7</em><q>8</q>"
                   "<a>9</a><a href=x>10</a><span data-x=AD1>11</span></div>"_s,
                   u"346810"_s},
        StyledCase{"positionsAndAttributes",
                   u"li:nth-child(2n+1){display:none} li:nth-last-child(3){display:none} b:nth-of-type(2){display:none}"
                   "b:last-of-type{display:none} i:only-child{display:none} [lang|=zh]{display:none}"
                   "[class~=junk]{display:none} [href$=\".js\"]{display:none} [title*=ad]{display:none}"_s,
                   u"<div id=c><ul><li>1</li><li>2</li><li>3</li><li>4</li><li>5</li><li>6</li></ul><p><b>a</b><u>x</u>"
                   "<b>b</b><b>c</b><b>d</b></p><span><i>i</i></span><span lang=zh-CN>z</span><span class=\"a junk\">j"
                   "</span><a href=x.js>s</a><span title=bad>t</span><span title=good>g</span></div>"_s,
                   u"2\n6\n\naxc\n\ng"_s},
        // A rule with a selector the matcher does not know is dropped whole, as a browser without it drops it;
        // states a static page is never in and pseudo-elements never hide the element itself.
        StyledCase{"unknownAndDynamicSelectors",
                   u".a:has(b), .b{display:none} .c:hover{display:none} .d::before{display:none} .e:where(.x, ::foo)"
                   "{display:none}"_s,
                   u"<div id=c><span class=b>b</span><span class=c>c</span><span class=d>d</span>"
                   "<span class=\"e x\"></span><span class=e>e</span></div>"_s,
                   u"bcde"_s},
        StyledCase{"inheritAndInitial", u".h{visibility:hidden} .h i{visibility:inherit} .s{display:initial}"_s,
                   u"<div id=c><span class=h>a<i>b</i></span><p class=s>c</p>d</div>"_s, u"cd"_s},
        StyledCase{"commentsStringsAndBadRules",
                   u"/* .a{display:none} */ .b{content:\"}\";display:none} .c{display:nonsense} @font-face{x:y}"
                   ".d{color:red;{nested}} @import url(x.css); .e{display:none}"_s,
                   u"<div id=c><span class=a>a</span><span class=b>b</span><span class=c>c</span>"
                   "<span class=d>d</span><span class=e>e</span></div>"_s,
                   u"acd"_s}),
    [](const testing::TestParamInfo<StyledCase> &param) { return param.param.name; });

// A style element for print, or of another type, does not apply; one for the screen does.
TEST(StyledPage, StyleElementMediaAndType)
{
    const auto document =
        parseUtf8(u"<style media=print>.a{display:none}</style><style type=text/plain>.b{display:none}"
                  "</style><style media=\"screen and (min-width: 40em)\">.c{display:none}</style>"
                  "<div id=c><i class=a>a</i><i class=b>b</i><i class=c>c</i></div>"_s);
    EXPECT_EQ(document->innerTextAt(qh::test::indexOfId(*document, u"c"_s)), u"ab"_s);
}

// Sheets change texts, never the element list: the wizard and the grabber read the same positions.
TEST(StyledPage, ElementListIsTheSameWithAndWithoutSheets)
{
    const QString body = u"<div id=c><p>a<span class=x>b</span></p><div class=y>c</div></div>"_s;
    const auto plain = parseUtf8(body);
    const auto styled = parseUtf8(u"<style>.x,.y{display:none}</style>"_s + body);
    EXPECT_EQ(qh::test::tagNames(*styled).remove(u"STYLE "_s), qh::test::tagNames(*plain));
    EXPECT_EQ(styled->innerTextAt(qh::test::indexOfId(*styled, u"c"_s)), u"a"_s);
    EXPECT_EQ(plain->innerTextAt(qh::test::indexOfId(*plain, u"c"_s)), u"ab\n\nc"_s);
}

// Media queries as a desktop screen answers them.
TEST(MediaQueries, HoldForADesktopScreen)
{
    const struct
    {
        QStringView media;
        bool holds;
    } cases[] = {
        {u"", true},
        {u"all", true},
        {u"screen", true},
        {u"SCREEN", true},
        {u"print", false},
        {u"only screen and (max-width: 767px)", false},
        {u"screen and (min-width:1200px)", true},
        {u"(min-width: 768px) and (max-width: 1199px)", false},
        {u"print, screen and (orientation: landscape)", true},
        {u"not print", true},
        {u"not screen", false},
        {u"(width >= 1024px)", true},
        {u"(400px <= width <= 700px)", false},
        {u"(-webkit-min-device-pixel-ratio: 2)", false},
        {u"(prefers-color-scheme: dark)", false},
        {u"(hover: hover) and (pointer: fine)", true},
        {u"handheld", false},
        {u"nonsense", false},
        {u"screen and (unknown-feature: 1)", false},
        {u"(max-width: 48em)", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(qh::browser::css::mediaMatches(c.media), c.holds) << c.media.toString().toStdString();
}

// @import rules are kept only before the sheet's rules, resolved against its address, with their media.
TEST(StyleSheetParse, ImportsBeforeRules)
{
    const auto sheet = qh::browser::css::parseStyleSheet(
        u"@charset \"utf-8\"; @import url(\"a.css\"); @import 'b.css' print; .x{display:none} @import \"c.css\";"_s,
        QUrl(u"http://site.example/css/main.css"_s));
    ASSERT_EQ(sheet.imports.size(), 2u);
    EXPECT_EQ(sheet.imports[0].url, QUrl(u"http://site.example/css/a.css"_s));
    EXPECT_EQ(sheet.imports[1].media, u"print"_s);
    EXPECT_EQ(sheet.rules.size(), 1u);
}

// A linked sheet's text: its byte-order mark, else the header's charset, else its @charset, else UTF-8.
TEST(StyleSheetDecoding, FollowsBomHeaderAndCharsetRule)
{
    const QByteArray gbkClass = QByteArray::fromHex("b9e3b8e6"); // 广告 in GBK
    const QString expected = u".广告{display:none}"_s;
    const struct
    {
        const char *name;
        QByteArray bytes;
        QByteArray contentType;
        QString text;
    } cases[] = {
        {"utf-8 by default", expected.toUtf8(), "text/css", expected},
        {"bom", "\xEF\xBB\xBF" + expected.toUtf8(), "text/css; charset=gbk", expected},
        {"header", "." + gbkClass + "{display:none}", "text/css; charset=gbk", expected},
        {"charset rule", "@charset \"gbk\";." + gbkClass + "{display:none}", "text/css",
         u"@charset \"gbk\";"_s + expected},
    };
    for (const auto &c : cases)
        EXPECT_EQ(qh::browser::decodeStyleSheet(c.bytes, c.contentType), c.text) << c.name;
}

} // namespace
