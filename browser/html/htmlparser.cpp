#include "browser/html/htmlparser.h"

#include "browser/html/domtree.h"
#include "browser/html/encoding.h"
#include "browser/html/gumboarena.h"

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

using namespace Qt::StringLiterals;

namespace qh::browser {

namespace {

// Gumbo needs a multiple of the page's size; past this the parse gives up with bad_alloc rather than take the
// machine's memory (attribute copies of reconstructed formatting elements grow without bound on hostile pages).
constexpr std::size_t kArenaBaseBudget = std::size_t(256) << 20;
constexpr std::size_t kArenaBudgetPerInputByte = 48;

// More passes only chase noscript elements that appear in a later pass (see markNoscriptAsRawText).
constexpr int kMaxParsePasses = 3;

constexpr std::size_t kRememberedAttributeNames = 32;

constexpr std::string_view kNoscript = "noscript";
constexpr std::string_view kNoframes = "noframes";

QString fromUtf8(const char *text, std::size_t length)
{
    return QString::fromUtf8(text, qsizetype(length));
}

QString asciiLower(QString name)
{
    for (QChar &c : name) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() - u'A' + u'a');
    }
    return name;
}

bool equalsNoCase(const char *text, std::string_view lowerWord)
{
    for (std::size_t i = 0; i < lowerWord.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != lowerWord[i])
            return false;
    }
    return true;
}

const GumboVector &childrenOf(const GumboNode *node)
{
    return node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
}

// Gumbo parses as a browser with scripting disabled, where noscript holds markup. Browsers run with scripting
// enabled and read a noscript's contents as raw text, which changes `all`. Renaming the start tag and its end tag
// to noframes (same length, same raw-text rules in head and body) makes Gumbo build that tree; offsets of renamed
// start tags are recorded so the element is named noscript again. Returns false when nothing needed renaming.
//
// Known difference: a noscript between </head> and <body> ends up in head instead of an implied body.
bool markNoscriptAsRawText(const GumboOutput &output, std::string &buffer, std::vector<unsigned> &renamed)
{
    std::vector<unsigned> starts;
    std::vector<const GumboNode *> stack{output.root};
    while (!stack.empty()) {
        const GumboNode *node = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        const GumboElement &element = node->v.element;
        if (element.tag == GUMBO_TAG_NOSCRIPT && element.tag_namespace == GUMBO_NAMESPACE_HTML &&
            element.original_tag.length > kNoscript.size() && element.original_tag.data)
            starts.push_back(element.start_pos.offset);
        for (unsigned i = 0; i < element.children.length; ++i)
            stack.push_back(static_cast<const GumboNode *>(element.children.data[i]));
    }
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());

    bool changed = false;
    std::size_t rawTextEnd = 0;
    const auto isTagEnd = [](char c) {
        return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ' || c == '/' || c == '>';
    };
    for (const unsigned start : starts) {
        if (start < rawTextEnd || start + 1 + kNoscript.size() > buffer.size() || buffer[start] != '<' ||
            !equalsNoCase(buffer.data() + start + 1, kNoscript))
            continue;
        buffer.replace(start + 1, kNoframes.size(), kNoframes);
        renamed.push_back(start);
        changed = true;
        // The raw text runs to the first "</noscript" that a tag end follows, or to the end of the page.
        rawTextEnd = buffer.size();
        for (std::size_t at = buffer.find("</", start + 1); at != std::string::npos; at = buffer.find("</", at + 2)) {
            const std::size_t nameEnd = at + 2 + kNoscript.size();
            if (nameEnd < buffer.size() && equalsNoCase(buffer.data() + at + 2, kNoscript) &&
                isTagEnd(buffer[nameEnd])) {
                buffer.replace(at + 2, kNoframes.size(), kNoframes);
                rawTextEnd = nameEnd;
                break;
            }
        }
    }
    std::sort(renamed.begin(), renamed.end());
    return changed;
}

// Gumbo reads text one character at a time, each character a token of its own, which makes a chapter's thousands of
// Chinese characters most of a parse's cost. Before the parse, every run of CJK characters (ideographs, CJK and
// full-width punctuation) is replaced by two private-use characters that number the run's text; the tree is the same,
// because the tokenizer and the tree builder treat every character of a run and of its stand-in alike (none is
// white space, ASCII, NUL or markup), and the builder puts the runs back into every string it copies. Equal runs get
// equal stand-ins, so names compare as before. A page that holds private-use characters, or a numeric reference
// that could make one, keeps its text.
class TextRuns
{
public:
    // Replaces the runs in utf8; false, with utf8 unchanged, when the page must keep its text or has no long runs.
    bool collapse(std::string &utf8);
    // text with its stand-ins replaced by their runs; text itself when it has none.
    std::string_view expand(std::string_view text);

private:
    static constexpr std::size_t kMinRunCharacters = 4;
    static constexpr char32_t kFirstStandIn = 0xE000;
    static constexpr char32_t kStandIns = 0xF900 - 0xE000; // the BMP's private use area

    static bool isRunCharacter(char32_t c)
    {
        return (c >= 0x3000 && c <= 0x303F) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
               (c >= 0xFF01 && c <= 0xFF5E);
    }
    static bool isStandIn(char32_t c) { return c >= kFirstStandIn && c < kFirstStandIn + kStandIns; }
    static bool holdsStandIn(std::string_view utf8);
    static bool mayReferToStandIn(const std::string &utf8);

    std::vector<std::string> m_runs;
    std::string m_expanded;
};

// The three-byte UTF-8 character at text[at], or 0 when there is none there.
char32_t threeByteCharacterAt(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    if (at + 3 > text.size() || (byte(0) & 0xF0) != 0xE0 || (byte(1) & 0xC0) != 0x80 || (byte(2) & 0xC0) != 0x80)
        return 0;
    return char32_t(byte(0) & 0x0F) << 12 | char32_t(byte(1) & 0x3F) << 6 | char32_t(byte(2) & 0x3F);
}

void appendThreeByteCharacter(std::string &out, char32_t c)
{
    out.push_back(char(0xE0 | (c >> 12)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
}

bool TextRuns::mayReferToStandIn(const std::string &utf8)
{
    for (std::size_t at = utf8.find("&#"); at != std::string::npos; at = utf8.find("&#", at + 2)) {
        std::size_t i = at + 2;
        const bool hex = i < utf8.size() && (utf8[i] == 'x' || utf8[i] == 'X');
        i += hex ? 1 : 0;
        std::uint64_t value = 0;
        for (; i < utf8.size() && value <= 0x10FFFF; ++i) {
            const char c = utf8[i];
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            if (digit < 0)
                break;
            value = value * (hex ? 16 : 10) + std::uint64_t(digit);
        }
        if (value >= kFirstStandIn && value < kFirstStandIn + kStandIns)
            return true;
    }
    return false;
}

// Whether the text holds a private-use character of its own, which expand() would take for a stand-in.
bool TextRuns::holdsStandIn(std::string_view utf8)
{
    // U+E000 to U+F8FF all begin with one of these two bytes in UTF-8.
    for (std::size_t at = utf8.find_first_of("\xEE\xEF"); at != std::string_view::npos;
         at = utf8.find_first_of("\xEE\xEF", at + 1)) {
        if (isStandIn(threeByteCharacterAt(utf8, at)))
            return true;
    }
    return false;
}

bool TextRuns::collapse(std::string &utf8)
{
    // Decided before any run is recorded: expand() works whenever a run is known, and would otherwise put runs in
    // place of the page's own private-use pairs.
    if (holdsStandIn(utf8) || mayReferToStandIn(utf8))
        return false;
    std::vector<std::string> runs;
    std::unordered_map<std::string_view, std::size_t> numbers; // views into utf8, which stays until the end
    std::string collapsed;
    std::size_t copiedUpTo = 0;
    std::size_t at = 0;
    while (at < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[at]);
        if (lead < 0xE0 || lead > 0xEF) {
            ++at; // ASCII, continuation bytes and the leads of two- and four-byte characters
            continue;
        }
        const char32_t first = threeByteCharacterAt(utf8, at);
        if (!isRunCharacter(first)) {
            ++at;
            continue;
        }
        std::size_t end = at + 3;
        std::size_t characters = 1;
        while (isRunCharacter(threeByteCharacterAt(utf8, end))) {
            end += 3;
            ++characters;
        }
        if (characters >= kMinRunCharacters) {
            const std::string_view run(utf8.data() + at, end - at);
            const auto [it, added] = numbers.try_emplace(run, runs.size());
            if (added) {
                if (runs.size() == std::size_t(kStandIns) * kStandIns)
                    return false;
                runs.emplace_back(run);
            }
            collapsed.append(utf8, copiedUpTo, at - copiedUpTo);
            appendThreeByteCharacter(collapsed, kFirstStandIn + char32_t(it->second / kStandIns));
            appendThreeByteCharacter(collapsed, kFirstStandIn + char32_t(it->second % kStandIns));
            copiedUpTo = end;
        }
        at = end;
    }
    if (runs.empty())
        return false;
    collapsed.append(utf8, copiedUpTo);
    utf8 = std::move(collapsed);
    m_runs = std::move(runs);
    return true;
}

std::string_view TextRuns::expand(std::string_view text)
{
    if (m_runs.empty())
        return text;
    std::size_t at = text.find_first_of("\xEE\xEF");
    if (at == std::string_view::npos)
        return text;
    m_expanded.clear();
    std::size_t copiedUpTo = 0;
    for (; at != std::string_view::npos; at = text.find_first_of("\xEE\xEF", at)) {
        const char32_t high = threeByteCharacterAt(text, at);
        const char32_t low = threeByteCharacterAt(text, at + 3);
        if (!isStandIn(high) || !isStandIn(low)) {
            ++at;
            continue;
        }
        const std::size_t number = std::size_t(high - kFirstStandIn) * kStandIns + (low - kFirstStandIn);
        if (number >= m_runs.size()) {
            ++at;
            continue;
        }
        m_expanded.append(text, copiedUpTo, at - copiedUpTo);
        m_expanded += m_runs[number];
        at += 6;
        copiedUpTo = at;
    }
    m_expanded.append(text, copiedUpTo);
    return m_expanded;
}

// Copies Gumbo's tree into a DomTree in one iterative pass.
class DomTreeBuilder
{
public:
    DomTreeBuilder(DomTree &tree, const std::vector<unsigned> &renamedNoscripts, TextRuns &runs);

    void build(const GumboNode *root);

private:
    struct Frame
    {
        const GumboNode *node;
        unsigned nextChild;
        bool inTemplate; // the children are template contents
    };

    struct KnownAttributeName
    {
        std::string_view utf8;
        GumboAttributeNamespaceEnum ns;
        int id;
    };

    void addNode(const GumboNode *node, bool inTemplate);
    int tagIdOf(const GumboElement &element, unsigned startOffset);
    int namedTagId(const GumboElement &element, ElementNamespace ns);
    void addAttributes(const GumboElement &element);
    int attributeNameId(const GumboAttribute &attribute);

    QByteArrayView expanded(const char *text) { return toView(m_runs.expand(text)); }
    static QByteArrayView toView(std::string_view text) { return QByteArrayView(text.data(), qsizetype(text.size())); }

    DomTree &m_tree;
    const std::vector<unsigned> &m_renamedNoscripts;
    TextRuns &m_runs;
    std::vector<Frame> m_stack;
    // A page repeats a few tag and attribute names many times: each is named and looked up once per page.
    std::array<int, GUMBO_TAG_UNKNOWN> m_htmlTagIds;
    std::vector<KnownAttributeName> m_attributeNames;
};

DomTreeBuilder::DomTreeBuilder(DomTree &tree, const std::vector<unsigned> &renamedNoscripts, TextRuns &runs)
    : m_tree(tree), m_renamedNoscripts(renamedNoscripts), m_runs(runs)
{
    m_htmlTagIds.fill(-1);
}

void DomTreeBuilder::build(const GumboNode *root)
{
    if (!root)
        return;
    addNode(root, false);
    while (!m_stack.empty()) {
        Frame &frame = m_stack.back();
        const GumboVector &children = childrenOf(frame.node);
        if (frame.nextChild >= children.length) {
            m_stack.pop_back();
            m_tree.closeElement();
            continue;
        }
        const auto *child = static_cast<const GumboNode *>(children.data[frame.nextChild++]);
        addNode(child, frame.inTemplate);
    }
    m_tree.finish();
}

void DomTreeBuilder::addNode(const GumboNode *node, bool inTemplate)
{
    switch (node->type) {
    case GUMBO_NODE_ELEMENT:
    case GUMBO_NODE_TEMPLATE: {
        const GumboElement &element = node->v.element;
        m_tree.openElement(tagIdOf(element, element.start_pos.offset), inTemplate);
        addAttributes(element);
        m_stack.push_back({node, 0, inTemplate || node->type == GUMBO_NODE_TEMPLATE});
        break;
    }
    case GUMBO_NODE_TEXT:
    case GUMBO_NODE_WHITESPACE:
    case GUMBO_NODE_CDATA:
        // Text nodes never start or end a character split: Gumbo's text is whole UTF-8.
        m_tree.addText(expanded(node->v.text.text), inTemplate);
        break;
    case GUMBO_NODE_COMMENT:
        m_tree.addComment(expanded(node->v.text.text), inTemplate);
        break;
    case GUMBO_NODE_DOCUMENT:
        break;
    }
}

int DomTreeBuilder::tagIdOf(const GumboElement &element, unsigned startOffset)
{
    ElementNamespace ns = ElementNamespace::Html;
    if (element.tag_namespace == GUMBO_NAMESPACE_SVG)
        ns = ElementNamespace::Svg;
    else if (element.tag_namespace == GUMBO_NAMESPACE_MATHML)
        ns = ElementNamespace::MathMl;

    if (element.tag == GUMBO_TAG_NOFRAMES && ns == ElementNamespace::Html &&
        std::binary_search(m_renamedNoscripts.begin(), m_renamedNoscripts.end(), startOffset))
        return m_tree.addTag(u"noscript"_s, ns);

    // A known HTML element is named by its tag alone.
    if (ns == ElementNamespace::Html && std::size_t(element.tag) < m_htmlTagIds.size()) {
        int &id = m_htmlTagIds[std::size_t(element.tag)];
        if (id < 0)
            id = namedTagId(element, ns);
        return id;
    }
    return namedTagId(element, ns);
}

int DomTreeBuilder::namedTagId(const GumboElement &element, ElementNamespace ns)
{
    // The tokenizer lower-cases ASCII letters of every tag name; SVG then restores the mixed case of some.
    QString name;
    GumboStringPiece original = element.original_tag;
    if (original.data && original.length > 0) {
        gumbo_tag_from_original_text(&original);
        const std::string_view text = m_runs.expand(std::string_view(original.data, original.length));
        name = asciiLower(fromUtf8(text.data(), text.size()));
    }
    if (element.tag != GUMBO_TAG_UNKNOWN && (ns == ElementNamespace::Html || name.isEmpty()))
        name = QString::fromLatin1(gumbo_normalized_tagname(element.tag));
    if (ns == ElementNamespace::Svg && !name.isEmpty()) {
        const QByteArray lower = name.toUtf8();
        const GumboStringPiece piece{lower.constData(), std::size_t(lower.size())};
        if (const char *fixed = gumbo_normalize_svg_tagname(&piece))
            name = QString::fromLatin1(fixed);
    }
    if (name.isEmpty())
        name = u"unknown"_s; // an unnamed element Gumbo made up without source text; never seen in practice
    return m_tree.addTag(name, ns);
}

void DomTreeBuilder::addAttributes(const GumboElement &element)
{
    for (unsigned i = 0; i < element.attributes.length; ++i) {
        const auto *attribute = static_cast<const GumboAttribute *>(element.attributes.data[i]);
        const int nameId = attributeNameId(*attribute);
        m_tree.addAttribute(nameId, expanded(attribute->value));
    }
}

int DomTreeBuilder::attributeNameId(const GumboAttribute &attribute)
{
    const std::string_view utf8(attribute.name);
    for (const KnownAttributeName &known : m_attributeNames) {
        if (known.utf8 == utf8 && known.ns == attribute.attr_namespace)
            return known.id;
    }
    const std::string_view text = m_runs.expand(utf8);
    QString name = QString::fromUtf8(text.data(), qsizetype(text.size()));
    switch (attribute.attr_namespace) {
    case GUMBO_ATTR_NAMESPACE_XLINK:
        name = u"xlink:"_s + name;
        break;
    case GUMBO_ATTR_NAMESPACE_XML:
        name = u"xml:"_s + name;
        break;
    case GUMBO_ATTR_NAMESPACE_XMLNS:
        if (name != u"xmlns")
            name = u"xmlns:"_s + name;
        break;
    case GUMBO_ATTR_NAMESPACE_NONE:
        break;
    }
    const int id = m_tree.addAttributeName(name);
    // The name stays in Gumbo's memory, which outlives this builder. A hostile page's thousands of names are not
    // remembered, so the search stays short.
    if (m_attributeNames.size() < kRememberedAttributeNames)
        m_attributeNames.push_back({utf8, attribute.attr_namespace, id});
    return id;
}

// Parses UTF-8 text; the buffer is changed where noscript elements need renaming, and where runs of CJK characters
// are collapsed (see TextRuns).
std::shared_ptr<const StaticDocument> parseUtf8(std::string buffer, const QUrl &url, std::stop_token stop,
                                                bool collapseRuns)
{
    std::vector<unsigned> renamedNoscripts;
    const std::size_t budget = kArenaBaseBudget + kArenaBudgetPerInputByte * buffer.size();
    TextRuns runs;
    if (collapseRuns)
        runs.collapse(buffer);
    for (int pass = 1;; ++pass) {
        GumboArena arena(budget, stop);
        const GumboOutput *output = arena.parse(buffer.data(), buffer.size());
        if (!output && arena.stopped())
            return nullptr;
        if (!output && arena.gumboFailed())
            throw std::runtime_error("HTML 解析器无法处理这个网页的结构");
        if (!output)
            throw std::bad_alloc();
        if (pass < kMaxParsePasses && markNoscriptAsRawText(*output, buffer, renamedNoscripts))
            continue;
        DomTree tree;
        DomTreeBuilder(tree, renamedNoscripts, runs).build(output->root);
        return std::make_shared<const StaticDocument>(std::move(tree), url);
    }
}

} // namespace

std::shared_ptr<const StaticDocument> parseHtmlText(const QString &text, const QUrl &url, std::stop_token stop)
{
    // Parsed as it is: the plain parse that the collapsed one must equal.
    return parseUtf8(text.toStdString(), url, std::move(stop), false);
}

std::shared_ptr<const StaticDocument> parseHtmlDocument(const QByteArray &bytes, const QByteArray &contentTypeHeader,
                                                        const QUrl &url)
{
    return parseUtf8(decodeHtmlToUtf8(bytes, contentTypeHeader), url, {}, true);
}

std::shared_ptr<const StaticDocument> parseHtmlDocumentUntil(const QByteArray &bytes,
                                                             const QByteArray &contentTypeHeader, const QUrl &url,
                                                             std::stop_token stop)
{
    return parseUtf8(decodeHtmlToUtf8(bytes, contentTypeHeader), url, std::move(stop), true);
}

} // namespace qh::browser
