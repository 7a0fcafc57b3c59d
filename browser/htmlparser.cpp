#include "browser/htmlparser.h"

#include "browser/domtree.h"
#include "browser/encoding.h"
#include "browser/gumboarena.h"

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <new>
#include <string_view>
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

// Copies Gumbo's tree into a DomTree in one iterative pass.
class DomTreeBuilder
{
public:
    DomTreeBuilder(DomTree &tree, const std::vector<unsigned> &renamedNoscripts);

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

    DomTree &m_tree;
    const std::vector<unsigned> &m_renamedNoscripts;
    std::vector<Frame> m_stack;
    // A page repeats a few tag and attribute names many times: each is named and looked up once per page.
    std::array<int, GUMBO_TAG_UNKNOWN> m_htmlTagIds;
    std::vector<KnownAttributeName> m_attributeNames;
};

DomTreeBuilder::DomTreeBuilder(DomTree &tree, const std::vector<unsigned> &renamedNoscripts)
    : m_tree(tree), m_renamedNoscripts(renamedNoscripts)
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
        m_tree.addText(QByteArrayView(node->v.text.text), inTemplate);
        break;
    case GUMBO_NODE_COMMENT:
        m_tree.addComment(QByteArrayView(node->v.text.text), inTemplate);
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
        name = asciiLower(fromUtf8(original.data, original.length));
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
        m_tree.addAttribute(attributeNameId(*attribute), QByteArrayView(attribute->value));
    }
}

int DomTreeBuilder::attributeNameId(const GumboAttribute &attribute)
{
    const std::string_view utf8(attribute.name);
    for (const KnownAttributeName &known : m_attributeNames) {
        if (known.utf8 == utf8 && known.ns == attribute.attr_namespace)
            return known.id;
    }
    QString name = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
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

// Parses UTF-8 text; the buffer is changed where noscript elements need renaming.
std::shared_ptr<const StaticDocument> parseUtf8(std::string buffer, const QUrl &url, std::stop_token stop)
{
    std::vector<unsigned> renamedNoscripts;
    const std::size_t budget = kArenaBaseBudget + kArenaBudgetPerInputByte * buffer.size();
    for (int pass = 1;; ++pass) {
        GumboArena arena(budget, stop);
        const GumboOutput *output = arena.parse(buffer.data(), buffer.size());
        if (!output && arena.stopped())
            return nullptr;
        if (!output)
            throw std::bad_alloc();
        if (pass < kMaxParsePasses && markNoscriptAsRawText(*output, buffer, renamedNoscripts))
            continue;
        DomTree tree;
        DomTreeBuilder(tree, renamedNoscripts).build(output->root);
        return std::make_shared<const StaticDocument>(std::move(tree), url);
    }
}

} // namespace

std::shared_ptr<const StaticDocument> parseHtmlText(const QString &text, const QUrl &url, std::stop_token stop)
{
    return parseUtf8(text.toStdString(), url, std::move(stop));
}

std::shared_ptr<const StaticDocument> parseHtmlDocument(const QByteArray &bytes, const QByteArray &contentTypeHeader,
                                                        const QUrl &url)
{
    return parseUtf8(decodeHtmlToUtf8(bytes, contentTypeHeader), url, {});
}

std::shared_ptr<const StaticDocument> parseHtmlDocumentUntil(const QByteArray &bytes,
                                                             const QByteArray &contentTypeHeader, const QUrl &url,
                                                             std::stop_token stop)
{
    return parseUtf8(decodeHtmlToUtf8(bytes, contentTypeHeader), url, std::move(stop));
}

} // namespace qh::browser
