#include "support/testutils.h"

#include "browser/html/encoding.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using qh::browser::decodeHtml;
using qh::browser::decodeHtmlToUtf8;
using qh::browser::encodingForLabel;
using qh::browser::sniffEncoding;

namespace {

struct SniffCase
{
    const char *name;
    QByteArray bytes;
    QByteArray contentType;
    QByteArray encoding;
    int bomLength;
};

class Sniffing : public testing::TestWithParam<SniffCase>
{};

// The encoding comes from the byte-order mark, then the header, then a meta in the first 1024 bytes, then UTF-8
// when the bytes are UTF-8 with non-ASCII text, else GB18030.
TEST_P(Sniffing, FollowsTheHtmlStandardOrder)
{
    const auto sniffed = sniffEncoding(GetParam().bytes, GetParam().contentType);
    EXPECT_EQ(sniffed.encoding, GetParam().encoding);
    EXPECT_EQ(sniffed.bomLength, GetParam().bomLength);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, Sniffing,
    testing::Values(
        SniffCase{"utf8BomBeatsHeader", "\xEF\xBB\xBF<meta charset=big5>", "text/html; charset=gbk", "UTF-8", 3},
        SniffCase{"utf16BeBom", QByteArray("\xFE\xFF\0<", 4), "", "UTF-16BE", 2},
        SniffCase{"utf16LeBom", "\xFF\xFE<\0", "text/html; charset=gbk", "UTF-16LE", 2},
        SniffCase{"headerBeatsMeta", "<meta charset=utf-8>", "text/html; charset=GBK", "GBK", 0},
        SniffCase{"quotedHeaderCharset", "", "text/html;charset=\"utf-8\"", "UTF-8", 0},
        SniffCase{"headerOtherParameters", "", "text/html; q=1; Charset=gb2312 ", "GBK", 0},
        SniffCase{"unknownHeaderLabelFallsThrough", "<meta charset=big5>", "text/html; charset=foo", "Big5", 0},
        SniffCase{"metaCharset", "<html><head><meta charset=\"gb2312\">", "text/html", "GBK", 0},
        SniffCase{"metaCharsetTrimmed", "<meta charset='  UTF-8  '>", "", "UTF-8", 0},
        SniffCase{"httpEquiv", "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=gbk\">", "", "GBK", 0},
        SniffCase{"httpEquivQuotedCharset", "<meta content='text/html; charset=\"big5\"' http-equiv=content-type>", "",
                  "Big5", 0},
        SniffCase{"contentWithoutPragma", "<meta content=\"text/html; charset=big5\">", "", "gb18030", 0},
        SniffCase{"metaInCommentIgnored", "<!-- <meta charset=utf-8> --><meta charset=big5>", "", "Big5", 0},
        SniffCase{"metaInAttributeIgnored", "<div title=\"<meta charset=utf-8>\"><meta charset=euc-kr>", "", "EUC-KR",
                  0},
        SniffCase{"metaPast1024Ignored", QByteArray(1100, ' ') + "<meta charset=utf-8>", "", "gb18030", 0},
        SniffCase{"unknownMetaLabelFallsThrough", "<meta charset=nonsense><meta charset=utf-8>", "", "UTF-8", 0},
        SniffCase{"metaUtf16MeansUtf8", "<meta charset=utf-16le>", "", "UTF-8", 0},
        SniffCase{"metaUserDefinedMeansWindows1252", "<meta charset=x-user-defined>", "", "windows-1252", 0},
        SniffCase{"nothingGivesGb18030", "<p>plain", "text/html", "gb18030", 0},
        // 第一章 in UTF-8 and in GBK, undeclared.
        SniffCase{"undeclaredUtf8", "<p>\xE7\xAC\xAC\xE4\xB8\x80\xE7\xAB\xA0</p>", "text/html", "UTF-8", 0},
        SniffCase{"undeclaredGbk", "<p>\xB5\xDA\xD2\xBB\xD5\xC2</p>", "text/html", "gb18030", 0},
        SniffCase{"utf8CutOffAtTheEnd", "<p>\xE7\xAC\xAC\xE4\xB8", "", "UTF-8", 0},
        SniffCase{"utf8ThenAStrayByte", "<p>\xE7\xAC\xAC \xB5\xDA", "", "gb18030", 0},
        SniffCase{"overlongIsNoUtf8", "<p>\xC0\xAF", "", "gb18030", 0},
        SniffCase{"surrogateIsNoUtf8", "<p>\xED\xA0\x80", "", "gb18030", 0},
        SniffCase{"declaredGbkWinsOverUtf8Bytes", "<p>\xE7\xAC\xAC", "text/html; charset=gbk", "GBK", 0},
        SniffCase{"metaWinsOverUtf8Bytes", "<meta charset=gbk><p>\xE7\xAC\xAC", "", "GBK", 0}),
    [](const testing::TestParamInfo<SniffCase> &param) { return param.param.name; });

// Labels map to encodings as the WHATWG Encoding standard lists them, trimmed and in any case.
TEST(Encoding, Labels)
{
    for (const char *label : {"gb2312", "GBK", "x-gbk", "chinese", "csgb2312", "iso-ir-58", "GB_2312-80"})
        EXPECT_EQ(encodingForLabel(label), "GBK") << label;
    for (const char *label : {"latin1", "us-ascii", "ISO-8859-1", "ascii", "cp1252"})
        EXPECT_EQ(encodingForLabel(label), "windows-1252") << label;
    for (const char *label : {"utf8", "unicode-1-1-utf-8", " UTF-8\t"})
        EXPECT_EQ(encodingForLabel(label), "UTF-8") << label;
    EXPECT_EQ(encodingForLabel("gb18030"), "gb18030");
    EXPECT_EQ(encodingForLabel("sjis"), "Shift_JIS");
    EXPECT_EQ(encodingForLabel("koi8"), "KOI8-R");
    EXPECT_EQ(encodingForLabel("hz-gb-2312"), "replacement");
    EXPECT_EQ(encodingForLabel("utf-7"), QByteArray());
    EXPECT_EQ(encodingForLabel(""), QByteArray());
}

// Real GBK bytes decode through every GB label; other encodings decode as browsers do.
TEST(Encoding, Decoding)
{
    const QByteArray gbk("<meta charset=gb2312>\xB5\xDA\xD2\xBB\xD5\xC2 \xA1\xA1"); // 第一章 and an ideographic space
    EXPECT_EQ(decodeHtml(gbk, ""), u"<meta charset=gb2312>第一章 \u3000"_s);
    EXPECT_EQ(decodeHtml("\xB5\xDA\xD2\xBB\xD5\xC2", ""), u"第一章"_s);               // default GB18030
    EXPECT_EQ(decodeHtml("\xEF\xBB\xBF\xE4\xB8\xAD\xEF\xBB\xBF", ""), u"中\uFEFF"_s); // only the first BOM goes
    EXPECT_EQ(decodeHtml(QByteArray("\xFF\xFEx\0", 4), ""), u"x"_s);
    EXPECT_EQ(decodeHtml("\x80\x81", "text/html; charset=iso-8859-1"), u"\u20AC\u0081"_s);
    EXPECT_EQ(decodeHtml("a\x80", "text/html; charset=x-user-defined"), u"a\uF780"_s);
    EXPECT_EQ(decodeHtml("abc", "text/html; charset=iso-2022-kr"), u"\uFFFD"_s);
    EXPECT_EQ(decodeHtml("a\xC3", "text/html; charset=utf-8"), u"a\uFFFD"_s);
}

// The parser's UTF-8 is the page's decodeHtml text, byte for byte: for every GBK byte pair, valid or not (the pairs
// that ICU reads as one character go through a table made from ICU, the rest through ICU itself), and for the bytes
// that only ICU reads.
TEST(Encoding, Utf8ForTheParserIsTheDecodedText)
{
    const QByteArray gbk = "text/html; charset=gbk";
    const auto expectSame = [](const QByteArray &bytes, const QByteArray &contentType) {
        EXPECT_EQ(decodeHtmlToUtf8(bytes, contentType), decodeHtml(bytes, contentType).toStdString())
            << bytes.toHex().toStdString() << " as " << contentType.toStdString();
    };
    QByteArray everyValidPair;
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int trail = 0x30; trail <= 0xFF; ++trail) {
            const QByteArray pair = QByteArray(1, char(lead)) + char(trail);
            expectSame("<p>" + pair + "</p>", gbk);
            if (decodeHtml(pair, gbk).size() == 1 && decodeHtml(pair, gbk) != u"\uFFFD"_s)
                everyValidPair += pair;
        }
    }
    EXPECT_GT(everyValidPair.size(), 2 * 21000);
    expectSame(everyValidPair, gbk);
    expectSame("<title>" + everyValidPair + "</title>", "text/html; charset=gb18030");
    expectSame(everyValidPair, ""); // GB18030 by default

    const struct
    {
        QByteArray bytes;
        QByteArray contentType;
    } cases[] = {
        {"ascii only <p>x</p>\r\n", gbk},
        {QByteArray("nul\0inside", 11), gbk},
        {"\xB5\xDA\xD2\xBB\xB5", gbk},                // a lead byte at the very end
        {"\x81\x30\x81\x30 four bytes", gbk},         // U+0080, a four-byte sequence
        {"\x80 \xFF \xA1", gbk},                      // bytes that are no character
        {"\xEF\xBB\xBF\xE4\xB8\xAD\xEF\xBB\xBF", ""}, // UTF-8 by its BOM
        {"a\xC3 \xE4\xB8\xAD", "text/html; charset=utf-8"},
        {"\xA4\xA4\xA4\xE5", "text/html; charset=big5"},
        {QByteArray("\xFF\xFEx\0", 4), ""},
    };
    for (const auto &c : cases)
        expectSame(c.bytes, c.contentType);
}

} // namespace
