#include "browser/html/domtree.h"

#include <QStringDecoder>

#include <limits>

using namespace Qt::StringLiterals;

namespace qh::browser {

namespace {

const QHash<QString, HtmlTag> &htmlTagsByName()
{
    static const QHash<QString, HtmlTag> tags = {
        {u"area"_s, HtmlTag::Area},
        {u"base"_s, HtmlTag::Base},
        {u"basefont"_s, HtmlTag::Basefont},
        {u"bgsound"_s, HtmlTag::Bgsound},
        {u"br"_s, HtmlTag::Br},
        {u"col"_s, HtmlTag::Col},
        {u"embed"_s, HtmlTag::Embed},
        {u"frame"_s, HtmlTag::Frame},
        {u"hr"_s, HtmlTag::Hr},
        {u"img"_s, HtmlTag::Img},
        {u"input"_s, HtmlTag::Input},
        {u"keygen"_s, HtmlTag::Keygen},
        {u"link"_s, HtmlTag::Link},
        {u"meta"_s, HtmlTag::Meta},
        {u"param"_s, HtmlTag::Param},
        {u"source"_s, HtmlTag::Source},
        {u"track"_s, HtmlTag::Track},
        {u"wbr"_s, HtmlTag::Wbr},
        {u"style"_s, HtmlTag::Style},
        {u"script"_s, HtmlTag::Script},
        {u"xmp"_s, HtmlTag::Xmp},
        {u"iframe"_s, HtmlTag::Iframe},
        {u"noembed"_s, HtmlTag::Noembed},
        {u"noframes"_s, HtmlTag::Noframes},
        {u"plaintext"_s, HtmlTag::Plaintext},
        {u"noscript"_s, HtmlTag::Noscript},
        {u"head"_s, HtmlTag::Head},
        {u"template"_s, HtmlTag::Template},
        {u"title"_s, HtmlTag::Title},
        {u"datalist"_s, HtmlTag::Datalist},
        {u"rp"_s, HtmlTag::Rp},
        {u"colgroup"_s, HtmlTag::Colgroup},
        {u"html"_s, HtmlTag::Html},
        {u"body"_s, HtmlTag::Body},
        {u"address"_s, HtmlTag::Address},
        {u"blockquote"_s, HtmlTag::Blockquote},
        {u"center"_s, HtmlTag::Center},
        {u"dialog"_s, HtmlTag::Dialog},
        {u"div"_s, HtmlTag::Div},
        {u"figure"_s, HtmlTag::Figure},
        {u"figcaption"_s, HtmlTag::Figcaption},
        {u"footer"_s, HtmlTag::Footer},
        {u"form"_s, HtmlTag::Form},
        {u"header"_s, HtmlTag::Header},
        {u"legend"_s, HtmlTag::Legend},
        {u"listing"_s, HtmlTag::Listing},
        {u"main"_s, HtmlTag::Main},
        {u"p"_s, HtmlTag::P},
        {u"pre"_s, HtmlTag::Pre},
        {u"search"_s, HtmlTag::Search},
        {u"article"_s, HtmlTag::Article},
        {u"aside"_s, HtmlTag::Aside},
        {u"h1"_s, HtmlTag::H1},
        {u"h2"_s, HtmlTag::H2},
        {u"h3"_s, HtmlTag::H3},
        {u"h4"_s, HtmlTag::H4},
        {u"h5"_s, HtmlTag::H5},
        {u"h6"_s, HtmlTag::H6},
        {u"hgroup"_s, HtmlTag::Hgroup},
        {u"nav"_s, HtmlTag::Nav},
        {u"section"_s, HtmlTag::Section},
        {u"dir"_s, HtmlTag::Dir},
        {u"dd"_s, HtmlTag::Dd},
        {u"dl"_s, HtmlTag::Dl},
        {u"dt"_s, HtmlTag::Dt},
        {u"menu"_s, HtmlTag::Menu},
        {u"ol"_s, HtmlTag::Ol},
        {u"ul"_s, HtmlTag::Ul},
        {u"li"_s, HtmlTag::Li},
        {u"fieldset"_s, HtmlTag::Fieldset},
        {u"details"_s, HtmlTag::Details},
        {u"summary"_s, HtmlTag::Summary},
        {u"frameset"_s, HtmlTag::Frameset},
        {u"optgroup"_s, HtmlTag::Optgroup},
        {u"option"_s, HtmlTag::Option},
        {u"table"_s, HtmlTag::Table},
        {u"caption"_s, HtmlTag::Caption},
        {u"thead"_s, HtmlTag::Thead},
        {u"tbody"_s, HtmlTag::Tbody},
        {u"tfoot"_s, HtmlTag::Tfoot},
        {u"tr"_s, HtmlTag::Tr},
        {u"td"_s, HtmlTag::Td},
        {u"th"_s, HtmlTag::Th},
        {u"textarea"_s, HtmlTag::Textarea},
        {u"select"_s, HtmlTag::Select},
        {u"object"_s, HtmlTag::Object},
        {u"video"_s, HtmlTag::Video},
        {u"audio"_s, HtmlTag::Audio},
        {u"canvas"_s, HtmlTag::Canvas},
        {u"meter"_s, HtmlTag::Meter},
        {u"progress"_s, HtmlTag::Progress},
    };
    return tags;
}

QString asciiUpper(const QString &name)
{
    QString upper = name;
    for (QChar &c : upper) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - u'a' + u'A');
    }
    return upper;
}

} // namespace

QStringView DomTree::attributeValue(const DomAttribute &attribute) const
{
    return QStringView(m_text).sliced(attribute.valueBegin, attribute.valueLength);
}

QStringView DomTree::textOf(const DomNode &textOrComment) const
{
    return QStringView(m_text).sliced(textOrComment.dataBegin, textOrComment.dataLength);
}

QStringView DomTree::findAttribute(const DomNode &element, QStringView qualifiedName) const
{
    for (int i = element.dataBegin; i < element.dataBegin + element.dataLength; ++i) {
        const DomAttribute &attribute = attributeAt(i);
        if (attributeName(attribute) == qualifiedName) {
            const QStringView value = attributeValue(attribute);
            return value.isNull() ? QStringView(u"") : value;
        }
    }
    return {};
}

bool DomTree::hasAttribute(const DomNode &element, QStringView qualifiedName) const
{
    return !findAttribute(element, qualifiedName).isNull();
}

int DomTree::firstNodeWithTag(HtmlTag tag) const
{
    for (const int index : m_elements) {
        const DomNode &element = node(index);
        if (tagOf(element).tag == tag)
            return index;
    }
    return -1;
}

QString DomTree::descendantText(int nodeIndex) const
{
    QString text;
    const DomNode &root = node(nodeIndex);
    for (int i = nodeIndex + 1; i < root.end; ++i) {
        if (node(i).kind == NodeKind::Text)
            text += textOf(node(i));
    }
    return text;
}

int DomTree::addTag(const QString &localName, ElementNamespace ns)
{
    const QString key = QChar(u'0' + int(ns)) + localName;
    if (const auto it = m_tagIds.constFind(key); it != m_tagIds.cend())
        return it.value();
    TagInfo info;
    info.localName = localName;
    info.ns = ns;
    info.tagName = ns == ElementNamespace::Html ? asciiUpper(localName) : localName;
    if (ns == ElementNamespace::Html)
        info.tag = htmlTagsByName().value(localName, HtmlTag::Other);
    // Beyond 65536 distinct tag names (hostile input only) the rest share the last one.
    if (m_tags.size() > std::numeric_limits<quint16>::max())
        return int(m_tags.size()) - 1;
    m_tags.push_back(std::move(info));
    const int id = int(m_tags.size()) - 1;
    m_tagIds.insert(key, id);
    return id;
}

void DomTree::openElement(int tagId, bool inTemplate)
{
    DomNode element;
    element.kind = NodeKind::Element;
    element.parent = currentParent();
    element.tagId = quint16(tagId);
    element.dataBegin = int(m_attributes.size());
    element.inTemplate = inTemplate;
    if (!inTemplate) {
        element.elementIndex = int(m_elements.size());
        m_elements.push_back(nodeCount());
    }
    m_open.push_back(nodeCount());
    m_nodes.push_back(element);
}

int DomTree::addAttributeName(const QString &qualifiedName)
{
    int nameId = m_attributeNameIds.value(qualifiedName, -1);
    if (nameId < 0) {
        nameId = int(m_attributeNames.size());
        m_attributeNames.append(qualifiedName);
        m_attributeNameIds.insert(qualifiedName, nameId);
    }
    return nameId;
}

void DomTree::addAttribute(int nameId, QByteArrayView utf8Value)
{
    DomAttribute attribute;
    attribute.nameId = nameId;
    attribute.valueBegin = int(m_text.size());
    attribute.valueLength = appendText(utf8Value);
    m_attributes.push_back(attribute);
    ++m_nodes[std::size_t(m_open.back())].dataLength;
}

void DomTree::addText(QByteArrayView utf8, bool inTemplate)
{
    if (utf8.isEmpty())
        return;
    // Adjacent character data is one text node in the DOM.
    if (!m_nodes.empty()) {
        DomNode &last = m_nodes.back();
        if (last.kind == NodeKind::Text && last.parent == currentParent()) {
            last.dataLength += appendText(utf8);
            return;
        }
    }
    addDataNode(NodeKind::Text, utf8, inTemplate);
}

void DomTree::addComment(QByteArrayView utf8, bool inTemplate)
{
    addDataNode(NodeKind::Comment, utf8, inTemplate);
}

void DomTree::addDataNode(NodeKind kind, QByteArrayView utf8, bool inTemplate)
{
    DomNode node;
    node.kind = kind;
    node.parent = currentParent();
    node.dataBegin = int(m_text.size());
    node.dataLength = appendText(utf8);
    node.end = nodeCount() + 1;
    node.inTemplate = inTemplate;
    m_nodes.push_back(node);
}

void DomTree::closeElement()
{
    m_nodes[std::size_t(m_open.back())].end = nodeCount();
    m_open.pop_back();
}

void DomTree::finish()
{
    while (!m_open.empty())
        closeElement();
    m_open.shrink_to_fit();
    m_nodes.shrink_to_fit();
    m_elements.shrink_to_fit();
    m_attributes.shrink_to_fit();
    m_text.squeeze();
}

int DomTree::appendText(QByteArrayView utf8)
{
    // Stateless: a cut-off sequence at the end becomes U+FFFD, as QString::fromUtf8 makes it.
    thread_local QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    decoder.resetState();
    const qsizetype begin = m_text.size();
    m_text.resize(begin + decoder.requiredSpace(utf8.size()));
    const QChar *end = decoder.appendToBuffer(m_text.data() + begin, utf8);
    m_text.resize(end - m_text.constData());
    return int(m_text.size() - begin);
}

} // namespace qh::browser
