#include "browser/html/stylesheet.h"

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace qh::browser::css {

namespace {

// Nesting of blocks, selectors and functions beyond this is hostile; what lies deeper is dropped.
constexpr int kMaxDepth = 32;

bool isSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

bool isNameChar(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'-' || u == u'_' ||
           u >= 0x80;
}

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
}

QString asciiLower(QStringView text)
{
    QString lower = text.toString();
    for (QChar &c : lower) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() - u'A' + u'a');
    }
    return lower;
}

bool equalsNoCase(QStringView text, QStringView lowerWord)
{
    return text.compare(lowerWord, Qt::CaseInsensitive) == 0;
}

// The text without its comments; strings are kept as they are.
QString withoutComments(QStringView text)
{
    QString out;
    out.reserve(text.size());
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        const QChar c = text[i];
        if (c == u'/' && i + 1 < size && text[i + 1] == u'*') {
            const qsizetype close = text.indexOf(u"*/", i + 2);
            i = close < 0 ? size : close + 2;
            continue;
        }
        if (c == u'"' || c == u'\'') {
            qsizetype end = i + 1;
            while (end < size && text[end] != c && text[end] != u'\n') {
                if (text[end] == u'\\')
                    ++end;
                ++end;
            }
            end = std::min(end + 1, size);
            out += text.sliced(i, end - i);
            i = end;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

// Past a string that starts at i (at its quote).
qsizetype skipString(QStringView text, qsizetype i, qsizetype end)
{
    const QChar quote = text[i];
    ++i;
    while (i < end && text[i] != quote && text[i] != u'\n') {
        if (text[i] == u'\\')
            ++i;
        ++i;
    }
    return std::min(i + 1, end);
}

// The first of the stop characters at nesting depth zero (of (), [] and {}), or end.
qsizetype findTopLevel(QStringView text, qsizetype i, qsizetype end, QStringView stops)
{
    int depth = 0;
    while (i < end) {
        const QChar c = text[i];
        if (c == u'"' || c == u'\'') {
            i = skipString(text, i, end);
            continue;
        }
        if (c == u'\\') {
            i += 2;
            continue;
        }
        if (depth == 0 && stops.contains(c))
            return i;
        if (c == u'(' || c == u'[' || c == u'{')
            ++depth;
        else if ((c == u')' || c == u']' || c == u'}') && depth > 0)
            --depth;
        ++i;
    }
    return end;
}

// The '}' that closes the block opened at open, or end.
qsizetype findBlockEnd(QStringView text, qsizetype open, qsizetype end)
{
    int depth = 0;
    for (qsizetype i = open; i < end;) {
        const QChar c = text[i];
        if (c == u'"' || c == u'\'') {
            i = skipString(text, i, end);
            continue;
        }
        if (c == u'\\') {
            i += 2;
            continue;
        }
        if (c == u'{') {
            ++depth;
        } else if (c == u'}') {
            if (--depth == 0)
                return i;
        }
        ++i;
    }
    return end;
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return u - u'A' + 10;
}

// Decodes the escape whose backslash stands at i; i then stands after it.
void appendEscape(QStringView text, qsizetype &i, QString &out)
{
    const qsizetype size = text.size();
    ++i; // the backslash
    if (i >= size)
        return;
    if (!isHexDigit(text[i])) {
        out += text[i];
        ++i;
        return;
    }
    uint code = 0;
    for (int digits = 0; i < size && digits < 6 && isHexDigit(text[i]); ++digits, ++i)
        code = code * 16 + uint(hexValue(text[i]));
    if (i < size && isSpace(text[i]))
        ++i;
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    const char32_t codePoint = char32_t(code);
    out += QString::fromUcs4(&codePoint, 1);
}

// Reads an identifier's characters at i, escapes decoded; empty when there is none.
QString readName(QStringView text, qsizetype &i)
{
    QString name;
    const qsizetype size = text.size();
    while (i < size) {
        const QChar c = text[i];
        if (c == u'\\' && i + 1 < size && text[i + 1] != u'\n') {
            appendEscape(text, i, name);
            continue;
        }
        if (!isNameChar(c))
            break;
        name += c;
        ++i;
    }
    return name;
}

bool startsName(QStringView text, qsizetype i)
{
    if (i >= text.size())
        return false;
    const QChar c = text[i];
    if (c == u'\\')
        return true;
    if (c == u'-')
        return i + 1 < text.size() && (isNameChar(text[i + 1]) || text[i + 1] == u'\\') &&
               !(text[i + 1] >= u'0' && text[i + 1] <= u'9');
    return isNameChar(c) && !(c >= u'0' && c <= u'9');
}

// ---- declarations ----

std::optional<Property> propertyNamed(QStringView name)
{
    switch (name.size()) {
    case 7:
        if (equalsNoCase(name, u"display"))
            return Property::Display;
        break;
    case 10:
        if (equalsNoCase(name, u"visibility"))
            return Property::Visibility;
        break;
    case 11:
        if (equalsNoCase(name, u"white-space"))
            return Property::WhiteSpace;
        break;
    case 14:
        if (equalsNoCase(name, u"text-transform"))
            return Property::TextTransform;
        break;
    default:
        break;
    }
    return std::nullopt;
}

std::optional<Display> singleDisplay(QStringView value)
{
    static const struct
    {
        QStringView name;
        Display display;
    } names[] = {
        {u"none", Display::None},
        {u"inline", Display::Inline},
        {u"contents", Display::Inline},
        {u"ruby", Display::Inline},
        {u"ruby-base", Display::Inline},
        {u"ruby-text", Display::Inline},
        {u"run-in", Display::Inline},
        {u"inline-list-item", Display::Inline},
        {u"inline-block", Display::InlineBlock},
        {u"inline-flex", Display::InlineBlock},
        {u"inline-grid", Display::InlineBlock},
        {u"inline-table", Display::InlineBlock},
        {u"-webkit-inline-box", Display::InlineBlock},
        {u"-webkit-inline-flex", Display::InlineBlock},
        {u"-ms-inline-flexbox", Display::InlineBlock},
        {u"block", Display::Block},
        {u"flex", Display::Block},
        {u"grid", Display::Block},
        {u"list-item", Display::Block},
        {u"flow-root", Display::Block},
        {u"-webkit-box", Display::Block},
        {u"-webkit-flex", Display::Block},
        {u"-ms-flexbox", Display::Block},
        {u"-ms-grid", Display::Block},
        {u"table", Display::Table},
        {u"table-row-group", Display::RowGroup},
        {u"table-header-group", Display::RowGroup},
        {u"table-footer-group", Display::RowGroup},
        {u"table-row", Display::Row},
        {u"table-cell", Display::Cell},
        {u"table-caption", Display::Caption},
        {u"table-column", Display::None},
        {u"table-column-group", Display::None},
    };
    for (const auto &entry : names) {
        if (equalsNoCase(value, entry.name))
            return entry.display;
    }
    return std::nullopt;
}

// display's keywords, one or two of them ("block flow", "inline flex", "inline list-item").
std::optional<Display> displayValue(QStringView value)
{
    const qsizetype space = value.indexOf(u' ');
    if (space < 0)
        return singleDisplay(value);
    bool inlineOutside = false;
    bool flow = false;
    bool listItem = false;
    bool other = false;
    for (const QStringView word : value.tokenize(u' ', Qt::SkipEmptyParts)) {
        if (equalsNoCase(word, u"inline"))
            inlineOutside = true;
        else if (equalsNoCase(word, u"flow"))
            flow = true;
        else if (equalsNoCase(word, u"list-item"))
            listItem = true;
        else if (equalsNoCase(word, u"block") || equalsNoCase(word, u"flow-root") || equalsNoCase(word, u"flex") ||
                 equalsNoCase(word, u"grid") || equalsNoCase(word, u"table") || equalsNoCase(word, u"ruby"))
            other = true;
        else
            return std::nullopt;
    }
    if (!inlineOutside)
        return Display::Block;
    if (listItem || (flow && !other))
        return Display::Inline;
    return Display::InlineBlock;
}

std::optional<quint8> keywordValue(Property property, QStringView value)
{
    switch (property) {
    case Property::Display:
        if (const std::optional<Display> display = displayValue(value))
            return quint8(*display);
        return std::nullopt;
    case Property::Visibility:
        if (equalsNoCase(value, u"visible"))
            return quint8(1);
        if (equalsNoCase(value, u"hidden") || equalsNoCase(value, u"collapse"))
            return quint8(0);
        return std::nullopt;
    case Property::WhiteSpace:
        if (equalsNoCase(value, u"normal") || equalsNoCase(value, u"nowrap"))
            return quint8(WhiteSpace::Collapse);
        if (equalsNoCase(value, u"pre") || equalsNoCase(value, u"pre-wrap") || equalsNoCase(value, u"break-spaces"))
            return quint8(WhiteSpace::PreserveAll);
        if (equalsNoCase(value, u"pre-line"))
            return quint8(WhiteSpace::PreserveBreaks);
        return std::nullopt;
    case Property::TextTransform:
        if (equalsNoCase(value, u"none"))
            return quint8(TextTransform::None);
        if (equalsNoCase(value, u"uppercase"))
            return quint8(TextTransform::Uppercase);
        if (equalsNoCase(value, u"lowercase"))
            return quint8(TextTransform::Lowercase);
        if (equalsNoCase(value, u"capitalize"))
            return quint8(TextTransform::Capitalize);
        return std::nullopt;
    }
    return std::nullopt;
}

// ---- media queries ----

constexpr double kViewportWidth = ReadingViewportWidth;
constexpr double kViewportHeight = ReadingViewportHeight;
constexpr double kScreenWidth = 1920;
constexpr double kScreenHeight = 1080;

// A length in pixels, a plain number, a resolution in dppx or a ratio; nullopt when not understood.
std::optional<double> mediaNumber(QStringView value)
{
    value = value.trimmed();
    if (const qsizetype slash = value.indexOf(u'/'); slash > 0) {
        const std::optional<double> num = mediaNumber(value.first(slash));
        const std::optional<double> den = mediaNumber(value.sliced(slash + 1));
        if (!num || !den || *den == 0)
            return std::nullopt;
        return *num / *den;
    }
    qsizetype unitStart = 0;
    while (unitStart < value.size() &&
           ((value[unitStart] >= u'0' && value[unitStart] <= u'9') || value[unitStart] == u'.' ||
            value[unitStart] == u'-' || value[unitStart] == u'+'))
        ++unitStart;
    bool ok = false;
    const double number = value.first(unitStart).toDouble(&ok);
    if (!ok)
        return std::nullopt;
    const QString unit = asciiLower(value.sliced(unitStart).trimmed());
    static const struct
    {
        QStringView unit;
        double factor;
    } units[] = {
        {u"", 1},    {u"px", 1},         {u"em", 16},          {u"rem", 16},       {u"ex", 8},
        {u"ch", 8},  {u"vw", 16},        {u"vh", 9},           {u"pt", 4.0 / 3.0}, {u"pc", 16},
        {u"in", 96}, {u"cm", 96 / 2.54}, {u"mm", 9.6 / 2.54},  {u"q", 2.4 / 2.54}, {u"dppx", 1},
        {u"x", 1},   {u"dpi", 1.0 / 96}, {u"dpcm", 2.54 / 96},
    };
    for (const auto &entry : units) {
        if (unit == entry.unit)
            return number * entry.factor;
    }
    return std::nullopt;
}

std::optional<double> rangeFeature(QStringView name)
{
    if (name == u"width")
        return kViewportWidth;
    if (name == u"height")
        return kViewportHeight;
    if (name == u"device-width")
        return kScreenWidth;
    if (name == u"device-height")
        return kScreenHeight;
    if (name == u"aspect-ratio")
        return kViewportWidth / kViewportHeight;
    if (name == u"device-aspect-ratio")
        return kScreenWidth / kScreenHeight;
    if (name == u"resolution" || name == u"-webkit-device-pixel-ratio" || name == u"device-pixel-ratio")
        return 1;
    if (name == u"color")
        return 8;
    if (name == u"color-index" || name == u"monochrome" || name == u"grid")
        return 0;
    return std::nullopt;
}

bool compare(double left, QStringView op, double right)
{
    constexpr double epsilon = 1e-6;
    if (op == u"<")
        return left < right - epsilon;
    if (op == u"<=")
        return left <= right + epsilon;
    if (op == u">")
        return left > right + epsilon;
    if (op == u">=")
        return left >= right - epsilon;
    return std::abs(left - right) <= epsilon;
}

// One parenthesised media feature, without its parentheses, already in lower case.
bool featureMatches(QStringView feature)
{
    feature = feature.trimmed();
    const qsizetype colon = feature.indexOf(u':');
    if (colon >= 0) {
        QStringView name = feature.first(colon).trimmed();
        const QStringView value = feature.sliced(colon + 1).trimmed();
        static const struct
        {
            QStringView name;
            QStringView value;
        } discrete[] = {
            {u"orientation", u"landscape"},
            {u"hover", u"hover"},
            {u"any-hover", u"hover"},
            {u"pointer", u"fine"},
            {u"any-pointer", u"fine"},
            {u"prefers-color-scheme", u"light"},
            {u"prefers-reduced-motion", u"no-preference"},
            {u"prefers-reduced-transparency", u"no-preference"},
            {u"prefers-reduced-data", u"no-preference"},
            {u"prefers-contrast", u"no-preference"},
            {u"forced-colors", u"none"},
            {u"inverted-colors", u"none"},
            {u"scripting", u"enabled"},
            {u"display-mode", u"browser"},
            {u"update", u"fast"},
            {u"overflow-block", u"scroll"},
            {u"overflow-inline", u"scroll"},
            {u"color-gamut", u"srgb"},
            {u"dynamic-range", u"standard"},
            {u"video-dynamic-range", u"standard"},
        };
        for (const auto &entry : discrete) {
            if (name == entry.name)
                return value == entry.value;
        }
        QStringView op = u"=";
        QString rangeName = name.toString();
        if (name.startsWith(u"min-") || name.startsWith(u"max-")) {
            op = name.startsWith(u"min-") ? u">=" : u"<=";
            rangeName = name.sliced(4).toString();
        } else if (name.startsWith(u"-webkit-min-") || name.startsWith(u"-webkit-max-")) {
            op = name.startsWith(u"-webkit-min-") ? u">=" : u"<=";
            rangeName = u"-webkit-"_s + name.sliced(12); // -webkit-min-device-pixel-ratio
        }
        const std::optional<double> actual = rangeFeature(rangeName);
        const std::optional<double> wanted = mediaNumber(value);
        return actual && wanted && compare(*actual, op, *wanted);
    }
    // Range syntax: "width >= 600px", "400px < width <= 700px".
    static const QStringView ops[] = {u"<=", u">=", u"<", u">", u"="};
    std::vector<QStringView> parts;
    std::vector<QStringView> foundOps;
    qsizetype start = 0;
    for (qsizetype i = 0; i < feature.size(); ++i) {
        for (const QStringView op : ops) {
            if (feature.sliced(i).startsWith(op)) {
                parts.push_back(feature.sliced(start, i - start).trimmed());
                foundOps.push_back(op);
                i += op.size() - 1;
                start = i + 1;
                break;
            }
        }
    }
    parts.push_back(feature.sliced(start).trimmed());
    if (foundOps.empty()) {
        const std::optional<double> value = rangeFeature(feature.toString());
        if (value)
            return *value != 0;
        static const QStringView booleans[] = {u"hover",       u"any-hover",   u"pointer",
                                               u"any-pointer", u"orientation", u"prefers-color-scheme",
                                               u"scripting",   u"update",      u"display-mode"};
        return std::find(std::begin(booleans), std::end(booleans), feature) != std::end(booleans);
    }
    if (foundOps.size() > 2)
        return false;
    for (std::size_t i = 0; i < foundOps.size(); ++i) {
        const QStringView left = parts[i];
        const QStringView right = parts[i + 1];
        std::optional<double> a = rangeFeature(left.toString());
        std::optional<double> b = mediaNumber(right);
        if (!a) {
            a = mediaNumber(left);
            b = rangeFeature(right.toString());
        }
        if (!a || !b || !compare(*a, foundOps[i], *b))
            return false;
    }
    return true;
}

// A condition: features joined by "and" or by "or", a "not" before one, nested parentheses.
bool conditionMatches(QStringView condition, int depth)
{
    condition = condition.trimmed();
    if (condition.isEmpty() || depth > kMaxDepth)
        return false;
    if (condition.startsWith(u"not") && condition.size() > 3 && (isSpace(condition[3]) || condition[3] == u'('))
        return !conditionMatches(condition.sliced(3), depth + 1);
    bool anyAnd = false;
    bool anyOr = false;
    bool all = true;
    bool any = false;
    qsizetype i = 0;
    while (i < condition.size()) {
        while (i < condition.size() && isSpace(condition[i]))
            ++i;
        if (i >= condition.size())
            break;
        if (condition[i] == u'(') {
            const qsizetype close = findTopLevel(condition, i + 1, condition.size(), u")");
            if (close >= condition.size())
                return false;
            const QStringView inner = condition.sliced(i + 1, close - i - 1).trimmed();
            const bool nested = inner.startsWith(u'(') || inner.startsWith(u"not ") || inner.startsWith(u"not(");
            const bool result = nested ? conditionMatches(inner, depth + 1) : featureMatches(inner);
            all = all && result;
            any = any || result;
            i = close + 1;
            continue;
        }
        qsizetype end = i;
        while (end < condition.size() && !isSpace(condition[end]) && condition[end] != u'(')
            ++end;
        const QStringView word = condition.sliced(i, end - i);
        if (word == u"and")
            anyAnd = true;
        else if (word == u"or")
            anyOr = true;
        else
            return false;
        i = end;
    }
    if (anyAnd && anyOr)
        return false;
    return anyOr ? any : all;
}

bool queryMatches(QStringView query)
{
    const QString lower = asciiLower(query.trimmed());
    QStringView rest = lower;
    if (rest.isEmpty())
        return false;
    if (rest.startsWith(u'('))
        return conditionMatches(rest, 0);
    bool negated = false;
    qsizetype wordEnd = 0;
    const auto nextWord = [&rest, &wordEnd] {
        wordEnd = 0;
        while (wordEnd < rest.size() && !isSpace(rest[wordEnd]) && rest[wordEnd] != u'(')
            ++wordEnd;
        return rest.first(wordEnd);
    };
    QStringView word = nextWord();
    if (word == u"not" || word == u"only") {
        negated = word == u"not";
        rest = rest.sliced(wordEnd).trimmed();
        word = nextWord();
    }
    if (word.isEmpty())
        return negated ? false : conditionMatches(rest, 0);
    const bool typeMatches = word == u"all" || word == u"screen";
    if (word != u"all" && word != u"screen" && word != u"print" && word != u"speech" && word != u"tv" &&
        word != u"projection" && word != u"handheld" && word != u"tty" && word != u"braille" && word != u"embossed" &&
        word != u"aural")
        return false; // an unknown media type is "not all"
    rest = rest.sliced(wordEnd).trimmed();
    bool result = typeMatches;
    if (!rest.isEmpty()) {
        if (!rest.startsWith(u"and") || rest.size() < 4 || !(isSpace(rest[3]) || rest[3] == u'('))
            return false;
        result = result && conditionMatches(rest.sliced(3), 0);
    }
    return negated ? !result : result;
}

// ---- selectors ----

constexpr quint32 kIdWeight = 1u << 20;
constexpr quint32 kClassWeight = 1u << 10;

quint32 addSpecificity(quint32 left, quint32 right)
{
    const auto part = [](quint32 value, int shift) { return (value >> shift) & 1023u; };
    const quint32 ids = std::min(part(left, 20) + part(right, 20), 1023u);
    const quint32 classes = std::min(part(left, 10) + part(right, 10), 1023u);
    const quint32 types = std::min(part(left, 0) + part(right, 0), 1023u);
    return ids << 20 | classes << 10 | types;
}

class SelectorParser
{
public:
    explicit SelectorParser(QStringView text) : m_text(text) {}

    // A selector list up to the end or to a closing parenthesis; false when it is invalid. Forgiving lists (in
    // :is and :where) drop their invalid selectors instead.
    bool parseList(std::vector<Selector> &out, bool forgiving, int depth)
    {
        if (depth > kMaxDepth)
            return false;
        for (;;) {
            const qsizetype begin = m_i;
            std::optional<Selector> selector = parseComplex(depth);
            skipSpace();
            const bool atEnd = m_i >= m_text.size() || m_text[m_i] == u',' || m_text[m_i] == u')';
            if (selector && atEnd) {
                out.push_back(std::move(*selector));
            } else if (forgiving) {
                m_i = findTopLevel(m_text, std::max(m_i, begin), m_text.size(), u",)");
            } else {
                return false;
            }
            if (m_i < m_text.size() && m_text[m_i] == u',') {
                ++m_i;
                continue;
            }
            return true;
        }
    }

    bool atEnd() const { return m_i >= m_text.size(); }
    bool atCloseParen() const { return m_i < m_text.size() && m_text[m_i] == u')'; }
    void skip() { ++m_i; }

private:
    bool skipSpace()
    {
        const qsizetype begin = m_i;
        while (m_i < m_text.size() && isSpace(m_text[m_i]))
            ++m_i;
        return m_i > begin;
    }

    std::optional<Selector> parseComplex(int depth)
    {
        skipSpace();
        std::vector<Compound> compounds;
        std::vector<Combinator> combinators;
        quint32 specificity = 0;
        for (;;) {
            Compound compound;
            if (!parseCompound(compound, specificity, depth))
                return std::nullopt;
            compounds.push_back(std::move(compound));
            const bool space = skipSpace();
            if (m_i >= m_text.size() || m_text[m_i] == u',' || m_text[m_i] == u')')
                break;
            const QChar c = m_text[m_i];
            if (c == u'>' || c == u'+' || c == u'~') {
                combinators.push_back(c == u'>'   ? Combinator::Child
                                      : c == u'+' ? Combinator::NextSibling
                                                  : Combinator::LaterSibling);
                ++m_i;
                skipSpace();
            } else if (space) {
                combinators.push_back(Combinator::Descendant);
            } else {
                return std::nullopt;
            }
        }
        // compounds[k + 1] is related to compounds[k] by combinators[k].
        for (std::size_t k = 0; k < combinators.size(); ++k)
            compounds[k + 1].toLeft = combinators[k];
        std::reverse(compounds.begin(), compounds.end());
        Selector selector;
        selector.compounds = std::move(compounds);
        selector.specificity = specificity;
        return selector;
    }

    // A type or *, with an optional namespace prefix (ignored).
    bool parseTypePart(Compound &compound, quint32 &specificity)
    {
        const auto readTypeName = [this]() -> std::optional<QString> {
            if (m_i < m_text.size() && m_text[m_i] == u'*') {
                ++m_i;
                return QString();
            }
            if (startsName(m_text, m_i))
                return asciiLower(readName(m_text, m_i));
            return std::nullopt;
        };
        const qsizetype begin = m_i;
        std::optional<QString> name;
        if (m_i < m_text.size() && m_text[m_i] == u'|') {
            ++m_i;
            name = readTypeName();
            if (!name)
                return false;
        } else {
            name = readTypeName();
            if (!name) {
                m_i = begin;
                return true; // no type part
            }
            if (m_i + 1 < m_text.size() && m_text[m_i] == u'|' && m_text[m_i + 1] != u'=') {
                ++m_i;
                name = readTypeName();
                if (!name)
                    return false;
            }
        }
        if (!name->isEmpty()) {
            compound.parts.push_back({SimpleSelector::Kind::Type, {}, false, false, 0, 0, *name, {}, {}});
            specificity = addSpecificity(specificity, 1);
        }
        return true;
    }

    bool parseCompound(Compound &compound, quint32 &specificity, int depth)
    {
        const qsizetype begin = m_i;
        if (!parseTypePart(compound, specificity))
            return false;
        while (m_i < m_text.size()) {
            const QChar c = m_text[m_i];
            if (c == u'#' || c == u'.') {
                ++m_i;
                // An id may start with a digit in the markup; a sheet's "#1a" is invalid, but harmless to accept.
                if (m_i >= m_text.size() || !(isNameChar(m_text[m_i]) || m_text[m_i] == u'\\'))
                    return false;
                const QString name = readName(m_text, m_i);
                if (name.isEmpty())
                    return false;
                const bool id = c == u'#';
                compound.parts.push_back({id ? SimpleSelector::Kind::Id : SimpleSelector::Kind::Class,
                                          {},
                                          false,
                                          false,
                                          0,
                                          0,
                                          name,
                                          {},
                                          {}});
                specificity = addSpecificity(specificity, id ? kIdWeight : kClassWeight);
            } else if (c == u'[') {
                if (!parseAttribute(compound))
                    return false;
                specificity = addSpecificity(specificity, kClassWeight);
            } else if (c == u':') {
                if (!parsePseudo(compound, specificity, depth))
                    return false;
            } else {
                break;
            }
        }
        return m_i > begin;
    }

    bool parseAttribute(Compound &compound)
    {
        ++m_i; // [
        skipSpace();
        if (m_i < m_text.size() && m_text[m_i] == u'*' && m_i + 1 < m_text.size() && m_text[m_i + 1] == u'|')
            m_i += 2;
        else if (m_i < m_text.size() && m_text[m_i] == u'|')
            ++m_i;
        QString name = readName(m_text, m_i);
        if (m_i + 1 < m_text.size() && m_text[m_i] == u'|' && m_text[m_i + 1] != u'=') {
            ++m_i;
            name = readName(m_text, m_i);
        }
        if (name.isEmpty())
            return false;
        SimpleSelector part{SimpleSelector::Kind::Attribute,
                            SimpleSelector::AttributeMatch::Exists,
                            false,
                            false,
                            0,
                            0,
                            asciiLower(name),
                            {},
                            {}};
        skipSpace();
        if (m_i >= m_text.size())
            return false;
        if (m_text[m_i] != u']') {
            static const struct
            {
                QStringView op;
                SimpleSelector::AttributeMatch match;
            } ops[] = {
                {u"=", SimpleSelector::AttributeMatch::Equals},  {u"~=", SimpleSelector::AttributeMatch::Word},
                {u"|=", SimpleSelector::AttributeMatch::Dash},   {u"^=", SimpleSelector::AttributeMatch::Prefix},
                {u"$=", SimpleSelector::AttributeMatch::Suffix}, {u"*=", SimpleSelector::AttributeMatch::Contains},
            };
            bool found = false;
            for (const auto &op : ops) {
                if (m_text.sliced(m_i).startsWith(op.op)) {
                    part.match = op.match;
                    m_i += op.op.size();
                    found = true;
                    break;
                }
            }
            if (!found)
                return false;
            skipSpace();
            if (m_i >= m_text.size())
                return false;
            if (m_text[m_i] == u'"' || m_text[m_i] == u'\'') {
                const qsizetype end = skipString(m_text, m_i, m_text.size());
                part.value = unescapeString(m_text.sliced(m_i + 1, std::max<qsizetype>(0, end - m_i - 2)));
                m_i = end;
            } else {
                part.value = readName(m_text, m_i);
                if (part.value.isEmpty())
                    return false;
            }
            skipSpace();
            if (m_i < m_text.size() &&
                (m_text[m_i] == u'i' || m_text[m_i] == u'I' || m_text[m_i] == u's' || m_text[m_i] == u'S')) {
                part.caseInsensitive = m_text[m_i] == u'i' || m_text[m_i] == u'I';
                ++m_i;
                skipSpace();
            }
        }
        if (m_i >= m_text.size() || m_text[m_i] != u']')
            return false;
        ++m_i;
        compound.parts.push_back(std::move(part));
        return true;
    }

    static QString unescapeString(QStringView text)
    {
        if (!text.contains(u'\\'))
            return text.toString();
        QString out;
        for (qsizetype i = 0; i < text.size();) {
            if (text[i] == u'\\')
                appendEscape(text, i, out);
            else
                out += text[i++];
        }
        return out;
    }

    // The argument of a functional pseudo-class, up to its closing parenthesis (m_i then stands after it).
    QStringView functionArgument()
    {
        const qsizetype close = findTopLevel(m_text, m_i, m_text.size(), u")");
        const QStringView argument = m_text.sliced(m_i, close - m_i);
        m_i = std::min(close + 1, m_text.size());
        return argument;
    }

    static bool parseNth(QStringView argument, int &a, int &b)
    {
        QString text;
        for (const QChar c : argument) {
            if (!isSpace(c))
                text += c;
        }
        text = asciiLower(text);
        if (text == u"odd") {
            a = 2;
            b = 1;
            return true;
        }
        if (text == u"even") {
            a = 2;
            b = 0;
            return true;
        }
        const qsizetype n = text.indexOf(u'n');
        const auto number = [](QStringView digits, int &value) {
            if (digits.isEmpty())
                return false;
            bool ok = false;
            const long long parsed = digits.toLongLong(&ok);
            if (!ok || parsed > 1'000'000'000 || parsed < -1'000'000'000)
                return false;
            value = int(parsed);
            return true;
        };
        if (n < 0) {
            a = 0;
            return number(text, b);
        }
        const QStringView coefficient = QStringView(text).first(n);
        if (coefficient.isEmpty() || coefficient == u"+")
            a = 1;
        else if (coefficient == u"-")
            a = -1;
        else if (!number(coefficient, a))
            return false;
        const QStringView rest = QStringView(text).sliced(n + 1);
        b = 0;
        if (rest.isEmpty())
            return true;
        if (rest[0] != u'+' && rest[0] != u'-')
            return false;
        return number(rest, b);
    }

    bool parsePseudo(Compound &compound, quint32 &specificity, int depth)
    {
        ++m_i; // :
        using Kind = SimpleSelector::Kind;
        if (m_i < m_text.size() && m_text[m_i] == u':') {
            // A pseudo-element: the rule styles generated boxes, never the element's own text.
            ++m_i;
            if (readName(m_text, m_i).isEmpty())
                return false;
            if (m_i < m_text.size() && m_text[m_i] == u'(') {
                ++m_i;
                functionArgument();
            }
            compound.parts.push_back({Kind::Never, {}, false, false, 0, 0, {}, {}, {}});
            specificity = addSpecificity(specificity, 1);
            return true;
        }
        const QString name = asciiLower(readName(m_text, m_i));
        if (name.isEmpty())
            return false;
        SimpleSelector part{Kind::Never, {}, false, false, 0, 0, {}, {}, {}};
        quint32 weight = kClassWeight;
        if (m_i < m_text.size() && m_text[m_i] == u'(') {
            ++m_i;
            if (name == u"not" || name == u"is" || name == u"where" || name == u"matches" || name == u"-webkit-any" ||
                name == u"-moz-any") {
                const bool negation = name == u"not";
                const bool forgiving = name == u"is" || name == u"where";
                SelectorParser inner(functionArgument());
                if (!inner.parseList(part.arguments, forgiving, depth + 1) || !inner.atEnd())
                    return false;
                part.kind = negation ? Kind::Not : Kind::Is;
                weight = 0;
                if (name != u"where") {
                    for (const Selector &argument : part.arguments)
                        weight = std::max(weight, argument.specificity);
                }
            } else if (name == u"nth-child" || name == u"nth-last-child" || name == u"nth-of-type" ||
                       name == u"nth-last-of-type") {
                if (!parseNth(functionArgument(), part.a, part.b))
                    return false;
                part.kind = name.endsWith(u"of-type") ? Kind::NthOfType : Kind::NthChild;
                part.fromEnd = name.contains(u"last");
            } else if (name == u"lang" || name == u"dir") {
                functionArgument();
            } else {
                return false; // :has, :host() and the like: the whole rule is dropped, as a browser without them would
            }
        } else {
            static const struct
            {
                QStringView name;
                Kind kind;
            } simple[] = {
                {u"first-child", Kind::FirstChild},
                {u"last-child", Kind::LastChild},
                {u"only-child", Kind::OnlyChild},
                {u"first-of-type", Kind::FirstOfType},
                {u"last-of-type", Kind::LastOfType},
                {u"only-of-type", Kind::OnlyOfType},
                {u"root", Kind::Root},
                {u"empty", Kind::Empty},
                {u"link", Kind::AnyLink},
                {u"any-link", Kind::AnyLink},
                {u"-webkit-any-link", Kind::AnyLink},
                {u"checked", Kind::Checked},
                {u"disabled", Kind::Disabled},
                {u"enabled", Kind::Enabled},
            };
            static const QStringView never[] = {
                u"hover",
                u"active",
                u"focus",
                u"focus-within",
                u"focus-visible",
                u"visited",
                u"target",
                u"target-within",
                u"indeterminate",
                u"placeholder-shown",
                u"default",
                u"valid",
                u"invalid",
                u"required",
                u"optional",
                u"read-only",
                u"read-write",
                u"in-range",
                u"out-of-range",
                u"autofill",
                u"-webkit-autofill",
                u"playing",
                u"paused",
                u"fullscreen",
                u"modal",
                u"popover-open",
                u"user-invalid",
                u"user-valid",
                u"scope",
                u"current",
                u"past",
                u"future",
                u"open",
                u"closed",
                u"-moz-focusring",
            };
            static const QStringView legacyElements[] = {u"before", u"after", u"first-line", u"first-letter"};
            bool known = false;
            for (const auto &entry : simple) {
                if (name == entry.name) {
                    part.kind = entry.kind;
                    known = true;
                    break;
                }
            }
            if (!known &&
                std::find(std::begin(legacyElements), std::end(legacyElements), name) != std::end(legacyElements)) {
                known = true;
                weight = 1;
            }
            if (!known && name == u"defined")
                return true; // every element of a static page is defined
            if (!known && std::find(std::begin(never), std::end(never), name) == std::end(never))
                return false;
        }
        compound.parts.push_back(std::move(part));
        specificity = addSpecificity(specificity, weight);
        return true;
    }

    QStringView m_text;
    qsizetype m_i = 0;
};

// ---- the sheet ----

class SheetParser
{
public:
    SheetParser(QStringView text, const QUrl &base, StyleSheet &out) : m_text(text), m_base(base), m_out(out) {}

    void parseRules(qsizetype i, qsizetype end, int depth)
    {
        if (depth > kMaxDepth)
            return;
        while (i < end) {
            while (i < end && isSpace(m_text[i]))
                ++i;
            if (i >= end)
                break;
            if (m_text.sliced(i).startsWith(u"<!--")) {
                i += 4;
                continue;
            }
            if (m_text.sliced(i).startsWith(u"-->")) {
                i += 3;
                continue;
            }
            if (m_text[i] == u'}' || m_text[i] == u';') {
                ++i;
                continue;
            }
            if (m_text[i] == u'@') {
                i = parseAtRule(i, end, depth);
                continue;
            }
            const qsizetype open = findTopLevel(m_text, i, end, u"{");
            if (open >= end)
                break;
            const qsizetype close = findBlockEnd(m_text, open, end);
            addStyleRule(m_text.sliced(i, open - i), m_text.sliced(open + 1, close - open - 1));
            m_rulesSeen = true;
            i = close + 1;
        }
    }

private:
    qsizetype parseAtRule(qsizetype i, qsizetype end, int depth)
    {
        qsizetype nameEnd = i + 1;
        const QString name = asciiLower(readName(m_text, nameEnd));
        const qsizetype stop = findTopLevel(m_text, nameEnd, end, u"{;");
        const QStringView prelude = m_text.sliced(nameEnd, stop - nameEnd).trimmed();
        if (stop >= end || m_text[stop] == u';') {
            if (name == u"import" && !m_rulesSeen)
                addImport(prelude);
            else if (name != u"charset" && name != u"layer" && name != u"namespace")
                m_rulesSeen = true;
            return stop + 1;
        }
        const qsizetype close = findBlockEnd(m_text, stop, end);
        m_rulesSeen = true;
        if (name == u"media") {
            if (mediaMatches(prelude))
                parseRules(stop + 1, close, depth + 1);
        } else if (name == u"supports" || name == u"layer" || name == u"document" || name == u"-moz-document") {
            // Feature tests are taken to hold: what a site guards with them, a current browser has.
            if (!prelude.startsWith(u"not", Qt::CaseInsensitive))
                parseRules(stop + 1, close, depth + 1);
        }
        return close + 1;
    }

    void addImport(QStringView prelude)
    {
        QStringView rest = prelude;
        QString address;
        if (rest.startsWith(u"url(", Qt::CaseInsensitive)) {
            const qsizetype close = findTopLevel(rest, 4, rest.size(), u")");
            QStringView inside = rest.sliced(4, close - 4).trimmed();
            if (inside.size() >= 2 && (inside[0] == u'"' || inside[0] == u'\'') && inside.back() == inside[0])
                inside = inside.sliced(1, inside.size() - 2);
            address = inside.toString();
            rest = rest.sliced(std::min(close + 1, rest.size()));
        } else if (!rest.isEmpty() && (rest[0] == u'"' || rest[0] == u'\'')) {
            const qsizetype end = skipString(rest, 0, rest.size());
            address = rest.sliced(1, std::max<qsizetype>(0, end - 2)).toString();
            rest = rest.sliced(end);
        } else {
            return;
        }
        rest = rest.trimmed();
        // Layers and supports() conditions before the media list are taken as holding.
        while (rest.startsWith(u"layer", Qt::CaseInsensitive) || rest.startsWith(u"supports(", Qt::CaseInsensitive)) {
            qsizetype i = 0;
            while (i < rest.size() && !isSpace(rest[i]) && rest[i] != u'(')
                ++i;
            if (i < rest.size() && rest[i] == u'(')
                i = std::min(findTopLevel(rest, i + 1, rest.size(), u")") + 1, rest.size());
            rest = rest.sliced(i).trimmed();
        }
        const QUrl url = m_base.resolved(QUrl(address.trimmed()));
        if (url.isValid() && !address.trimmed().isEmpty())
            m_out.imports.push_back({url.adjusted(QUrl::RemoveFragment), rest.toString()});
    }

    void addStyleRule(QStringView prelude, QStringView body)
    {
        // Most of a site's rules set nothing innerText reads: their selectors are never parsed.
        const std::vector<Declaration> declarations = parseDeclarations(body);
        if (declarations.empty())
            return;
        std::vector<Selector> selectors;
        SelectorParser parser(prelude);
        if (!parser.parseList(selectors, false, 0) || !parser.atEnd() || selectors.empty())
            return;
        const int begin = int(m_out.declarations.size());
        m_out.declarations.insert(m_out.declarations.end(), declarations.begin(), declarations.end());
        const int end = int(m_out.declarations.size());
        for (Selector &selector : selectors)
            m_out.rules.push_back({std::move(selector), begin, end});
    }

    QStringView m_text;
    const QUrl &m_base;
    StyleSheet &m_out;
    bool m_rulesSeen = false; // @import counts only before any rule
};

} // namespace

std::optional<Declaration> parseDeclaration(QStringView property, QStringView value)
{
    const std::optional<Property> known = propertyNamed(property.trimmed());
    if (!known)
        return std::nullopt;
    value = value.trimmed();
    bool important = false;
    if (const qsizetype bang = value.lastIndexOf(u'!'); bang >= 0) {
        if (!equalsNoCase(value.sliced(bang + 1).trimmed(), u"important"))
            return std::nullopt;
        important = true;
        value = value.first(bang).trimmed();
    }
    if (equalsNoCase(value, u"inherit"))
        return Declaration{*known, quint8(Wide::Inherit), important};
    if (equalsNoCase(value, u"initial"))
        return Declaration{*known, quint8(Wide::Initial), important};
    if (equalsNoCase(value, u"unset"))
        return Declaration{*known, quint8(*known == Property::Display ? Wide::Initial : Wide::Inherit), important};
    if (equalsNoCase(value, u"revert") || equalsNoCase(value, u"revert-layer"))
        return Declaration{*known, quint8(Wide::Revert), important};
    if (const std::optional<quint8> keyword = keywordValue(*known, value))
        return Declaration{*known, *keyword, important};
    return std::nullopt;
}

std::vector<Declaration> parseDeclarations(QStringView block)
{
    std::vector<Declaration> out;
    const qsizetype size = block.size();
    qsizetype i = 0;
    while (i < size) {
        const qsizetype end = findTopLevel(block, i, size, u";{");
        if (end < size && block[end] == u'{') {
            // A nested rule: neither it nor the text before it is a declaration.
            i = findBlockEnd(block, end, size) + 1;
            continue;
        }
        const QStringView declaration = block.sliced(i, end - i);
        i = end + 1;
        const qsizetype colon = declaration.indexOf(u':');
        if (colon <= 0)
            continue;
        if (std::optional<Declaration> parsed =
                parseDeclaration(declaration.first(colon), declaration.sliced(colon + 1)))
            out.push_back(*parsed);
    }
    return out;
}

bool mediaMatches(QStringView mediaList)
{
    mediaList = mediaList.trimmed();
    if (mediaList.isEmpty())
        return true;
    qsizetype i = 0;
    while (i <= mediaList.size()) {
        const qsizetype comma = findTopLevel(mediaList, i, mediaList.size(), u",");
        if (queryMatches(mediaList.sliced(i, comma - i)))
            return true;
        i = comma + 1;
    }
    return false;
}

StyleSheet parseStyleSheet(QStringView text, const QUrl &base)
{
    StyleSheet sheet;
    const QString clean = text.contains(u"/*") ? withoutComments(text) : QString();
    const QStringView source = clean.isNull() ? text : QStringView(clean);
    SheetParser(source, base, sheet).parseRules(0, source.size(), 0);
    return sheet;
}

} // namespace qh::browser::css
