#include "browser/html/encoding.h"

#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace qh::browser {

namespace {

struct LabelEntry
{
    std::string_view label;
    const char *encoding;
};

// The labels of the WHATWG Encoding standard, sorted for binary search.
constexpr std::array kLabels = std::to_array<LabelEntry>({
    {"866", "IBM866"},
    {"ansi_x3.4-1968", "windows-1252"},
    {"arabic", "ISO-8859-6"},
    {"ascii", "windows-1252"},
    {"asmo-708", "ISO-8859-6"},
    {"big5", "Big5"},
    {"big5-hkscs", "Big5"},
    {"chinese", "GBK"},
    {"cn-big5", "Big5"},
    {"cp1250", "windows-1250"},
    {"cp1251", "windows-1251"},
    {"cp1252", "windows-1252"},
    {"cp1253", "windows-1253"},
    {"cp1254", "windows-1254"},
    {"cp1255", "windows-1255"},
    {"cp1256", "windows-1256"},
    {"cp1257", "windows-1257"},
    {"cp1258", "windows-1258"},
    {"cp819", "windows-1252"},
    {"cp866", "IBM866"},
    {"csbig5", "Big5"},
    {"cseuckr", "EUC-KR"},
    {"cseucpkdfmtjapanese", "EUC-JP"},
    {"csgb2312", "GBK"},
    {"csibm866", "IBM866"},
    {"csiso2022jp", "ISO-2022-JP"},
    {"csiso2022kr", "replacement"},
    {"csiso58gb231280", "GBK"},
    {"csiso88596e", "ISO-8859-6"},
    {"csiso88596i", "ISO-8859-6"},
    {"csiso88598e", "ISO-8859-8"},
    {"csiso88598i", "ISO-8859-8-I"},
    {"csisolatin1", "windows-1252"},
    {"csisolatin2", "ISO-8859-2"},
    {"csisolatin3", "ISO-8859-3"},
    {"csisolatin4", "ISO-8859-4"},
    {"csisolatin5", "windows-1254"},
    {"csisolatin6", "ISO-8859-10"},
    {"csisolatin9", "ISO-8859-15"},
    {"csisolatinarabic", "ISO-8859-6"},
    {"csisolatincyrillic", "ISO-8859-5"},
    {"csisolatingreek", "ISO-8859-7"},
    {"csisolatinhebrew", "ISO-8859-8"},
    {"cskoi8r", "KOI8-R"},
    {"csksc56011987", "EUC-KR"},
    {"csmacintosh", "macintosh"},
    {"csshiftjis", "Shift_JIS"},
    {"csunicode", "UTF-16LE"},
    {"cyrillic", "ISO-8859-5"},
    {"dos-874", "windows-874"},
    {"ecma-114", "ISO-8859-6"},
    {"ecma-118", "ISO-8859-7"},
    {"elot_928", "ISO-8859-7"},
    {"euc-jp", "EUC-JP"},
    {"euc-kr", "EUC-KR"},
    {"gb18030", "gb18030"},
    {"gb2312", "GBK"},
    {"gb_2312", "GBK"},
    {"gb_2312-80", "GBK"},
    {"gbk", "GBK"},
    {"greek", "ISO-8859-7"},
    {"greek8", "ISO-8859-7"},
    {"hebrew", "ISO-8859-8"},
    {"hz-gb-2312", "replacement"},
    {"ibm819", "windows-1252"},
    {"ibm866", "IBM866"},
    {"iso-10646-ucs-2", "UTF-16LE"},
    {"iso-2022-cn", "replacement"},
    {"iso-2022-cn-ext", "replacement"},
    {"iso-2022-jp", "ISO-2022-JP"},
    {"iso-2022-kr", "replacement"},
    {"iso-8859-1", "windows-1252"},
    {"iso-8859-10", "ISO-8859-10"},
    {"iso-8859-11", "windows-874"},
    {"iso-8859-13", "ISO-8859-13"},
    {"iso-8859-14", "ISO-8859-14"},
    {"iso-8859-15", "ISO-8859-15"},
    {"iso-8859-16", "ISO-8859-16"},
    {"iso-8859-2", "ISO-8859-2"},
    {"iso-8859-3", "ISO-8859-3"},
    {"iso-8859-4", "ISO-8859-4"},
    {"iso-8859-5", "ISO-8859-5"},
    {"iso-8859-6", "ISO-8859-6"},
    {"iso-8859-6-e", "ISO-8859-6"},
    {"iso-8859-6-i", "ISO-8859-6"},
    {"iso-8859-7", "ISO-8859-7"},
    {"iso-8859-8", "ISO-8859-8"},
    {"iso-8859-8-e", "ISO-8859-8"},
    {"iso-8859-8-i", "ISO-8859-8-I"},
    {"iso-8859-9", "windows-1254"},
    {"iso-ir-100", "windows-1252"},
    {"iso-ir-101", "ISO-8859-2"},
    {"iso-ir-109", "ISO-8859-3"},
    {"iso-ir-110", "ISO-8859-4"},
    {"iso-ir-126", "ISO-8859-7"},
    {"iso-ir-127", "ISO-8859-6"},
    {"iso-ir-138", "ISO-8859-8"},
    {"iso-ir-144", "ISO-8859-5"},
    {"iso-ir-148", "windows-1254"},
    {"iso-ir-149", "EUC-KR"},
    {"iso-ir-157", "ISO-8859-10"},
    {"iso-ir-58", "GBK"},
    {"iso8859-1", "windows-1252"},
    {"iso8859-10", "ISO-8859-10"},
    {"iso8859-11", "windows-874"},
    {"iso8859-13", "ISO-8859-13"},
    {"iso8859-14", "ISO-8859-14"},
    {"iso8859-15", "ISO-8859-15"},
    {"iso8859-2", "ISO-8859-2"},
    {"iso8859-3", "ISO-8859-3"},
    {"iso8859-4", "ISO-8859-4"},
    {"iso8859-5", "ISO-8859-5"},
    {"iso8859-6", "ISO-8859-6"},
    {"iso8859-7", "ISO-8859-7"},
    {"iso8859-8", "ISO-8859-8"},
    {"iso8859-9", "windows-1254"},
    {"iso88591", "windows-1252"},
    {"iso885910", "ISO-8859-10"},
    {"iso885911", "windows-874"},
    {"iso885913", "ISO-8859-13"},
    {"iso885914", "ISO-8859-14"},
    {"iso885915", "ISO-8859-15"},
    {"iso88592", "ISO-8859-2"},
    {"iso88593", "ISO-8859-3"},
    {"iso88594", "ISO-8859-4"},
    {"iso88595", "ISO-8859-5"},
    {"iso88596", "ISO-8859-6"},
    {"iso88597", "ISO-8859-7"},
    {"iso88598", "ISO-8859-8"},
    {"iso88599", "windows-1254"},
    {"iso_8859-1", "windows-1252"},
    {"iso_8859-15", "ISO-8859-15"},
    {"iso_8859-1:1987", "windows-1252"},
    {"iso_8859-2", "ISO-8859-2"},
    {"iso_8859-2:1987", "ISO-8859-2"},
    {"iso_8859-3", "ISO-8859-3"},
    {"iso_8859-3:1988", "ISO-8859-3"},
    {"iso_8859-4", "ISO-8859-4"},
    {"iso_8859-4:1988", "ISO-8859-4"},
    {"iso_8859-5", "ISO-8859-5"},
    {"iso_8859-5:1988", "ISO-8859-5"},
    {"iso_8859-6", "ISO-8859-6"},
    {"iso_8859-6:1987", "ISO-8859-6"},
    {"iso_8859-7", "ISO-8859-7"},
    {"iso_8859-7:1987", "ISO-8859-7"},
    {"iso_8859-8", "ISO-8859-8"},
    {"iso_8859-8:1988", "ISO-8859-8"},
    {"iso_8859-9", "windows-1254"},
    {"iso_8859-9:1989", "windows-1254"},
    {"koi", "KOI8-R"},
    {"koi8", "KOI8-R"},
    {"koi8-r", "KOI8-R"},
    {"koi8-ru", "KOI8-U"},
    {"koi8-u", "KOI8-U"},
    {"koi8_r", "KOI8-R"},
    {"korean", "EUC-KR"},
    {"ks_c_5601-1987", "EUC-KR"},
    {"ks_c_5601-1989", "EUC-KR"},
    {"ksc5601", "EUC-KR"},
    {"ksc_5601", "EUC-KR"},
    {"l1", "windows-1252"},
    {"l2", "ISO-8859-2"},
    {"l3", "ISO-8859-3"},
    {"l4", "ISO-8859-4"},
    {"l5", "windows-1254"},
    {"l6", "ISO-8859-10"},
    {"l9", "ISO-8859-15"},
    {"latin1", "windows-1252"},
    {"latin2", "ISO-8859-2"},
    {"latin3", "ISO-8859-3"},
    {"latin4", "ISO-8859-4"},
    {"latin5", "windows-1254"},
    {"latin6", "ISO-8859-10"},
    {"logical", "ISO-8859-8-I"},
    {"mac", "macintosh"},
    {"macintosh", "macintosh"},
    {"ms932", "Shift_JIS"},
    {"ms_kanji", "Shift_JIS"},
    {"replacement", "replacement"},
    {"shift-jis", "Shift_JIS"},
    {"shift_jis", "Shift_JIS"},
    {"sjis", "Shift_JIS"},
    {"sun_eu_greek", "ISO-8859-7"},
    {"tis-620", "windows-874"},
    {"ucs-2", "UTF-16LE"},
    {"unicode", "UTF-16LE"},
    {"unicode-1-1-utf-8", "UTF-8"},
    {"unicode11utf8", "UTF-8"},
    {"unicode20utf8", "UTF-8"},
    {"unicodefeff", "UTF-16LE"},
    {"unicodefffe", "UTF-16BE"},
    {"us-ascii", "windows-1252"},
    {"utf-16", "UTF-16LE"},
    {"utf-16be", "UTF-16BE"},
    {"utf-16le", "UTF-16LE"},
    {"utf-8", "UTF-8"},
    {"utf8", "UTF-8"},
    {"visual", "ISO-8859-8"},
    {"windows-1250", "windows-1250"},
    {"windows-1251", "windows-1251"},
    {"windows-1252", "windows-1252"},
    {"windows-1253", "windows-1253"},
    {"windows-1254", "windows-1254"},
    {"windows-1255", "windows-1255"},
    {"windows-1256", "windows-1256"},
    {"windows-1257", "windows-1257"},
    {"windows-1258", "windows-1258"},
    {"windows-31j", "Shift_JIS"},
    {"windows-874", "windows-874"},
    {"windows-949", "EUC-KR"},
    {"x-cp1250", "windows-1250"},
    {"x-cp1251", "windows-1251"},
    {"x-cp1252", "windows-1252"},
    {"x-cp1253", "windows-1253"},
    {"x-cp1254", "windows-1254"},
    {"x-cp1255", "windows-1255"},
    {"x-cp1256", "windows-1256"},
    {"x-cp1257", "windows-1257"},
    {"x-cp1258", "windows-1258"},
    {"x-euc-jp", "EUC-JP"},
    {"x-gbk", "GBK"},
    {"x-mac-cyrillic", "x-mac-cyrillic"},
    {"x-mac-roman", "macintosh"},
    {"x-mac-ukrainian", "x-mac-cyrillic"},
    {"x-sjis", "Shift_JIS"},
    {"x-unicode20utf8", "UTF-8"},
    {"x-user-defined", "x-user-defined"},
    {"x-x-big5", "Big5"},
});

constexpr bool labelsSorted()
{
    for (std::size_t i = 1; i < kLabels.size(); ++i) {
        if (!(kLabels[i - 1].label < kLabels[i].label))
            return false;
    }
    return true;
}
static_assert(labelsSorted(), "kLabels must stay sorted for the binary search");

// ASCII white space as the Encoding standard trims it from labels (TAB, LF, FF, CR, SPACE).
bool isAsciiWhitespace(char c)
{
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool startsWithNoCase(QByteArrayView bytes, qsizetype pos, std::string_view word)
{
    if (pos < 0 || bytes.size() - pos < qsizetype(word.size()))
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (asciiLower(bytes[pos + qsizetype(i)]) != word[i])
            return false;
    }
    return true;
}

// Which ICU converter decodes a canonical encoding closest to the WHATWG decoder.
const char *decoderName(const QByteArray &encoding)
{
    if (encoding == "GBK" || encoding == "gb18030")
        return "GB18030";
    if (encoding == "Big5")
        return "Big5-HKSCS";
    if (encoding == "Shift_JIS")
        return "windows-31j";
    if (encoding == "EUC-KR")
        return "windows-949";
    return encoding.constData();
}

// "Extracting a character encoding from a meta element" of the HTML standard, on the bytes of a content value.
QByteArray encodingFromMetaContent(QByteArrayView content)
{
    qsizetype pos = 0;
    while (true) {
        qsizetype found = -1;
        for (qsizetype i = pos; i + 7 <= content.size(); ++i) {
            if (startsWithNoCase(content, i, "charset")) {
                found = i;
                break;
            }
        }
        if (found < 0)
            return {};
        pos = found + 7;
        while (pos < content.size() && isAsciiWhitespace(content[pos]))
            ++pos;
        if (pos < content.size() && content[pos] == '=')
            break;
        // Not "charset=": look for the next occurrence from here.
    }
    ++pos;
    while (pos < content.size() && isAsciiWhitespace(content[pos]))
        ++pos;
    if (pos >= content.size())
        return {};
    const char first = content[pos];
    if (first == '"' || first == '\'') {
        const qsizetype close = content.indexOf(first, pos + 1);
        if (close < 0)
            return {};
        return encodingForLabel(content.sliced(pos + 1, close - pos - 1));
    }
    qsizetype end = pos;
    while (end < content.size() && !isAsciiWhitespace(content[end]) && content[end] != ';')
        ++end;
    return encodingForLabel(content.sliced(pos, end - pos));
}

// The prescan's byte cursor with its "get an attribute" step.
class MetaPrescanner
{
public:
    explicit MetaPrescanner(QByteArrayView bytes) : m_bytes(bytes) {}

    QByteArray run();

private:
    struct Attribute
    {
        QByteArray name;
        QByteArray value;
    };

    bool atEnd() const { return m_pos >= m_bytes.size(); }
    char current() const { return m_bytes[m_pos]; }
    static bool isSpace(char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }
    static bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

    std::optional<Attribute> nextAttribute();
    QByteArray handleMeta();
    void skipTo(auto predicate)
    {
        while (!atEnd() && !predicate(current()))
            ++m_pos;
    }

    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
};

std::optional<MetaPrescanner::Attribute> MetaPrescanner::nextAttribute()
{
    while (!atEnd() && (isSpace(current()) || current() == '/'))
        ++m_pos;
    if (atEnd() || current() == '>')
        return std::nullopt;
    Attribute attribute;
    // The name, up to "=", white space, "/" or ">".
    while (true) {
        if (atEnd())
            return std::nullopt;
        const char c = current();
        if (c == '=' && !attribute.name.isEmpty()) {
            ++m_pos;
            break;
        }
        if (isSpace(c)) {
            while (!atEnd() && isSpace(current()))
                ++m_pos;
            if (atEnd())
                return std::nullopt;
            if (current() != '=')
                return attribute;
            ++m_pos;
            break;
        }
        if (c == '/' || c == '>')
            return attribute;
        attribute.name.append(asciiLower(c));
        ++m_pos;
    }
    // The value: quoted, or up to white space or ">".
    while (!atEnd() && isSpace(current()))
        ++m_pos;
    if (atEnd())
        return std::nullopt;
    const char first = current();
    if (first == '"' || first == '\'') {
        while (true) {
            ++m_pos;
            if (atEnd())
                return std::nullopt;
            if (current() == first) {
                ++m_pos;
                return attribute;
            }
            attribute.value.append(asciiLower(current()));
        }
    }
    if (first == '>')
        return attribute;
    attribute.value.append(asciiLower(first));
    ++m_pos;
    while (true) {
        if (atEnd())
            return std::nullopt;
        if (isSpace(current()) || current() == '>')
            return attribute;
        attribute.value.append(asciiLower(current()));
        ++m_pos;
    }
}

QByteArray MetaPrescanner::handleMeta()
{
    enum class Charset
    {
        Unset,
        Failed,
        Found,
    };
    QList<QByteArray> seen;
    bool gotPragma = false;
    std::optional<bool> needPragma;
    Charset state = Charset::Unset;
    QByteArray charset;
    while (const std::optional<Attribute> attribute = nextAttribute()) {
        if (seen.contains(attribute->name))
            continue;
        seen.append(attribute->name);
        if (attribute->name == "http-equiv") {
            if (attribute->value == "content-type")
                gotPragma = true;
        } else if (attribute->name == "content") {
            const QByteArray fromContent = encodingFromMetaContent(attribute->value);
            if (!fromContent.isEmpty() && state == Charset::Unset) {
                charset = fromContent;
                state = Charset::Found;
                needPragma = true;
            }
        } else if (attribute->name == "charset") {
            charset = encodingForLabel(attribute->value);
            state = charset.isEmpty() ? Charset::Failed : Charset::Found;
            needPragma = false;
        }
    }
    if (!needPragma.has_value() || (*needPragma && !gotPragma) || state != Charset::Found)
        return {};
    // A page can't be UTF-16 if its ASCII meta tag was readable.
    if (charset == "UTF-16LE" || charset == "UTF-16BE")
        return QByteArrayLiteral("UTF-8");
    if (charset == "x-user-defined")
        return QByteArrayLiteral("windows-1252");
    return charset;
}

QByteArray MetaPrescanner::run()
{
    while (!atEnd()) {
        if (m_bytes.sliced(m_pos).startsWith("<!--")) {
            // The comment ends at the first "-->", whose dashes may be those of the opening "<!--".
            const qsizetype end = m_bytes.sliced(m_pos + 2).indexOf("-->");
            if (end < 0)
                return {};
            m_pos += 2 + end + 3;
            continue;
        }
        if (startsWithNoCase(m_bytes, m_pos, "<meta") && m_pos + 5 < m_bytes.size() &&
            (isSpace(m_bytes[m_pos + 5]) || m_bytes[m_pos + 5] == '/')) {
            m_pos += 5;
            const QByteArray found = handleMeta();
            if (!found.isEmpty())
                return found;
            ++m_pos;
            continue;
        }
        const bool endTag = m_pos + 1 < m_bytes.size() && m_bytes[m_pos + 1] == '/';
        const qsizetype letterAt = m_pos + (endTag ? 2 : 1);
        if (current() == '<' && letterAt < m_bytes.size() && isAlpha(m_bytes[letterAt])) {
            skipTo([](char c) { return isSpace(c) || c == '>'; });
            while (nextAttribute()) {
            }
            ++m_pos;
            continue;
        }
        if (current() == '<' && m_pos + 1 < m_bytes.size() &&
            (m_bytes[m_pos + 1] == '!' || m_bytes[m_pos + 1] == '/' || m_bytes[m_pos + 1] == '?')) {
            skipTo([](char c) { return c == '>'; });
            ++m_pos;
            continue;
        }
        ++m_pos;
    }
    return {};
}

// GBK's two-byte characters: a lead byte 0x81..0xFE, a trail byte 0x40..0xFE other than 0x7F.
constexpr int kGbkLeads = 0xFE - 0x81 + 1;
constexpr int kGbkTrails = 0xFE - 0x40 + 1;

// What ICU's GB18030 decoder makes of every two-byte sequence that stands for one BMP character, as UTF-8; nothing
// where it makes anything else (an invalid pair, U+FFFD), which the table leaves to ICU itself.
class GbkTable
{
public:
    // A character's UTF-8 bytes, and their count (0: ICU must decide). Four bytes in all, copied as one word.
    struct Utf8Char
    {
        char bytes[3];
        quint8 length;
    };

    GbkTable() : m_utf8(std::size_t(kGbkLeads) * kGbkTrails, Utf8Char{})
    {
        // One decode for all pairs, each followed by a line feed: a line feed is never a trail byte, so an invalid
        // pair cannot take it along, and the text between two line feeds is what that pair alone decodes to.
        QByteArray pairs;
        pairs.reserve(kGbkLeads * kGbkTrails * 3);
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                pairs.append(char(lead));
                pairs.append(char(trail));
                pairs.append('\n');
            }
        }
        QStringDecoder decoder("GB18030", QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(pairs);
        std::size_t index = 0;
        for (const QStringView one : QStringView(text).tokenize(u'\n')) {
            if (index == m_utf8.size())
                break;
            if (one.size() == 1 && !one.front().isSurrogate() && one.front() != QChar::ReplacementCharacter)
                m_utf8[index] = packUtf8(one.front().unicode());
            ++index;
        }
        if (index != m_utf8.size())
            std::fill(m_utf8.begin(), m_utf8.end(), Utf8Char{}); // not the shape expected: ICU decodes everything
    }

    const Utf8Char &utf8(unsigned char lead, unsigned char trail) const
    {
        static constexpr Utf8Char none{};
        if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE)
            return none;
        return m_utf8[std::size_t(lead - 0x81) * kGbkTrails + std::size_t(trail - 0x40)];
    }

private:
    static Utf8Char packUtf8(char16_t unit)
    {
        // Pairs decode to U+0080 and above: two or three bytes.
        if (unit < 0x800)
            return {{char(0xC0 | (unit >> 6)), char(0x80 | (unit & 0x3F)), 0}, 2};
        return {{char(0xE0 | (unit >> 12)), char(0x80 | ((unit >> 6) & 0x3F)), char(0x80 | (unit & 0x3F))}, 3};
    }

    std::vector<Utf8Char> m_utf8;
};

// GBK to UTF-8 in one pass; nothing when a byte sequence needs ICU (four-byte GB18030, invalid bytes).
std::optional<std::string> gbkToUtf8(QByteArrayView bytes)
{
    static const GbkTable table;
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype size = bytes.size();
    // A pair becomes at most three bytes, and each is written as four: room for a whole word past the end.
    std::string utf8(std::size_t(size) * 3 / 2 + 4, '\0');
    char *out = utf8.data();
    for (qsizetype i = 0; i < size;) {
        const unsigned char byte = data[i];
        if (byte < 0x80) {
            *out++ = char(byte);
            ++i;
            continue;
        }
        if (i + 1 == size)
            return std::nullopt;
        const GbkTable::Utf8Char &character = table.utf8(byte, data[i + 1]);
        if (character.length == 0)
            return std::nullopt;
        std::memcpy(out, &character, sizeof character);
        out += character.length;
        i += 2;
    }
    utf8.resize(std::size_t(out - utf8.data()));
    return utf8;
}

QString decodeUserDefined(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        text[i] = QChar(char16_t(byte < 0x80 ? byte : 0xF780 + byte - 0x80));
    }
    return text;
}

} // namespace

QByteArray encodingForLabel(QByteArrayView label)
{
    qsizetype begin = 0;
    qsizetype end = label.size();
    while (begin < end && isAsciiWhitespace(label[begin]))
        ++begin;
    while (end > begin && isAsciiWhitespace(label[end - 1]))
        --end;
    if (end - begin > 32)
        return {};
    std::string lowered;
    for (qsizetype i = begin; i < end; ++i)
        lowered.push_back(asciiLower(label[i]));
    const auto it = std::lower_bound(kLabels.begin(), kLabels.end(), std::string_view(lowered),
                                     [](const LabelEntry &entry, std::string_view key) { return entry.label < key; });
    if (it == kLabels.end() || it->label != lowered)
        return {};
    return QByteArray(it->encoding);
}

QByteArray charsetFromContentType(QByteArrayView contentType)
{
    // Parameters follow the first ";"; a value may be a quoted string with backslash escapes.
    qsizetype pos = contentType.indexOf(';');
    if (pos < 0)
        return {};
    const auto isHttpSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (pos < contentType.size()) {
        ++pos; // past ";"
        while (pos < contentType.size() && isHttpSpace(contentType[pos]))
            ++pos;
        QByteArray name;
        while (pos < contentType.size() && contentType[pos] != ';' && contentType[pos] != '=')
            name.append(asciiLower(contentType[pos++]));
        if (pos >= contentType.size() || contentType[pos] == ';')
            continue;
        ++pos; // past "="
        QByteArray value;
        if (pos < contentType.size() && contentType[pos] == '"') {
            ++pos;
            while (pos < contentType.size() && contentType[pos] != '"') {
                if (contentType[pos] == '\\' && pos + 1 < contentType.size())
                    ++pos;
                value.append(contentType[pos++]);
            }
            while (pos < contentType.size() && contentType[pos] != ';')
                ++pos;
        } else {
            while (pos < contentType.size() && contentType[pos] != ';')
                value.append(contentType[pos++]);
            while (!value.isEmpty() && isHttpSpace(value.back()))
                value.chop(1);
        }
        if (name == "charset")
            return value;
    }
    return {};
}

QByteArray prescanForEncoding(QByteArrayView bytes)
{
    return MetaPrescanner(bytes.first(std::min<qsizetype>(bytes.size(), 1024))).run();
}

bool looksLikeUtf8(QByteArrayView bytes)
{
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype size = bytes.size();
    bool nonAscii = false;
    qsizetype i = 0;
    while (i < size) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        unsigned char low = 0x80; // the second byte's range, which rules out overlong forms and surrogates
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        for (int k = 1; k < length; ++k) {
            if (i + k >= size)
                return nonAscii; // a sequence cut off at the end of a truncated page
            const unsigned char next = data[i + k];
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
                return false;
        }
        nonAscii = true;
        i += length;
    }
    return nonAscii;
}

SniffedEncoding sniffEncoding(QByteArrayView bytes, QByteArrayView contentType)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return {QByteArrayLiteral("UTF-8"), 3};
    if (bytes.startsWith("\xFE\xFF"))
        return {QByteArrayLiteral("UTF-16BE"), 2};
    if (bytes.startsWith("\xFF\xFE"))
        return {QByteArrayLiteral("UTF-16LE"), 2};
    if (QByteArray fromHeader = encodingForLabel(charsetFromContentType(contentType)); !fromHeader.isEmpty())
        return {fromHeader, 0};
    if (QByteArray fromMeta = prescanForEncoding(bytes); !fromMeta.isEmpty())
        return {fromMeta, 0};
    // As browsers detect an undeclared page's encoding: UTF-8 bytes are hardly ever valid GBK text by chance, nor
    // the other way round.
    if (looksLikeUtf8(bytes))
        return {QByteArrayLiteral("UTF-8"), 0};
    return {QByteArrayLiteral("gb18030"), 0};
}

QString decodeWith(QByteArrayView bytes, const QByteArray &encoding)
{
    if (encoding == "replacement")
        return bytes.isEmpty() ? QString() : QString(QChar::ReplacementCharacter);
    if (encoding == "x-user-defined")
        return decodeUserDefined(bytes);
    // A BOM left in the bytes is text; only the one sniffEncoding found is dropped (by the caller).
    const auto flags = QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;
    QStringDecoder decoder(decoderName(encoding), flags);
    if (!decoder.isValid())
        decoder = QStringDecoder("windows-1252", flags);
    return decoder.decode(bytes);
}

QString decodeHtml(QByteArrayView bytes, QByteArrayView contentType)
{
    const SniffedEncoding sniffed = sniffEncoding(bytes, contentType);
    return decodeWith(bytes.sliced(sniffed.bomLength), sniffed.encoding);
}

std::string decodeHtmlToUtf8(QByteArrayView bytes, QByteArrayView contentType)
{
    const SniffedEncoding sniffed = sniffEncoding(bytes, contentType);
    const QByteArrayView text = bytes.sliced(sniffed.bomLength);
    if (sniffed.encoding == "GBK" || sniffed.encoding == "gb18030") {
        if (std::optional<std::string> utf8 = gbkToUtf8(text))
            return std::move(*utf8);
    }
    return decodeWith(text, sniffed.encoding).toStdString();
}

} // namespace qh::browser
