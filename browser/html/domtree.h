#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <vector>

// The parsed page as flat tables: every node in document order (a pre-order walk), each knowing its parent and the
// end of its subtree, so every walk is a loop and destruction frees a few vectors, however deep the tree. All text
// (text nodes, comments, attribute values) lives in one UTF-16 pool. Built once by DomTreeBuilder, then read-only.
namespace qh::browser {

enum class NodeKind : quint8
{
    Element,
    Text,
    Comment,
};

enum class ElementNamespace : quint8
{
    Html,
    Svg,
    MathMl,
};

// HTML elements that the serialiser or innerText treat specially; every other tag is Other.
enum class HtmlTag : quint8
{
    Other,
    // void elements
    Area,
    Base,
    Basefont,
    Bgsound,
    Br,
    Col,
    Embed,
    Frame,
    Hr,
    Img,
    Input,
    Keygen,
    Link,
    Meta,
    Param,
    Source,
    Track,
    Wbr,
    // raw text
    Style,
    Script,
    Xmp,
    Iframe,
    Noembed,
    Noframes,
    Plaintext,
    Noscript,
    // not rendered
    Head,
    Template,
    Title,
    Datalist,
    Rp,
    Colgroup,
    // block-level
    Html,
    Body,
    Address,
    Blockquote,
    Center,
    Dialog,
    Div,
    Figure,
    Figcaption,
    Footer,
    Form,
    Header,
    Legend,
    Listing,
    Main,
    P,
    Pre,
    Search,
    Article,
    Aside,
    H1,
    H2,
    H3,
    H4,
    H5,
    H6,
    Hgroup,
    Nav,
    Section,
    Dir,
    Dd,
    Dl,
    Dt,
    Menu,
    Ol,
    Ul,
    Li,
    Fieldset,
    Details,
    Summary,
    Frameset,
    Optgroup,
    Option,
    // tables
    Table,
    Caption,
    Thead,
    Tbody,
    Tfoot,
    Tr,
    Td,
    Th,
    // replaced or form controls without text of their own
    Textarea,
    Select,
    Object,
    Video,
    Audio,
    Canvas,
    Meter,
    Progress,
};

struct TagInfo
{
    QString localName; // as serialised: lower case, SVG names with their mixed case ("foreignObject")
    QString tagName;   // as the DOM reports it: upper case for HTML elements
    ElementNamespace ns = ElementNamespace::Html;
    HtmlTag tag = HtmlTag::Other; // Other for every foreign element
};

struct AttributeName
{
    QString qualifiedName; // "href", "xlink:href", "xmlns:xlink" ...
};

struct DomNode
{
    int parent = -1;       // node index; -1 for the root element
    int end = 0;           // one past the last node of this node's subtree
    int elementIndex = -1; // position in `all`; -1 for text, comments and template contents
    int dataBegin = 0;     // element: first attribute; text and comment: offset into the text pool
    int dataLength = 0;    // element: attribute count; text and comment: length
    quint16 tagId = 0;     // element: index into the tag table
    NodeKind kind = NodeKind::Element;
    bool inTemplate = false; // inside a template's contents, so not part of the document
};

struct DomAttribute
{
    int nameId = 0;
    int valueBegin = 0; // offset into the text pool; the value with its entities decoded
    int valueLength = 0;
};

class DomTree
{
public:
    int nodeCount() const { return int(m_nodes.size()); }
    const DomNode &node(int index) const { return m_nodes[std::size_t(index)]; }
    int elementCount() const { return int(m_elements.size()); }
    int elementNode(int elementIndex) const { return m_elements[std::size_t(elementIndex)]; }

    const TagInfo &tagOf(const DomNode &element) const { return m_tags[element.tagId]; }
    const DomAttribute &attributeAt(int index) const { return m_attributes[std::size_t(index)]; }
    const QString &attributeName(const DomAttribute &attribute) const { return m_attributeNames[attribute.nameId]; }
    QStringView attributeValue(const DomAttribute &attribute) const;
    QStringView textOf(const DomNode &textOrComment) const;

    // The value of the named attribute (compared exactly), or a null view when the element has none.
    QStringView findAttribute(const DomNode &element, QStringView qualifiedName) const;
    bool hasAttribute(const DomNode &element, QStringView qualifiedName) const;

    // The first HTML element with this tag in document order, or -1 (node index).
    int firstNodeWithTag(HtmlTag tag) const;

    // Concatenated text of all descendant text nodes (the DOM's textContent).
    QString descendantText(int nodeIndex) const;

    // Building, in document order, used only by DomTreeBuilder. Character data comes as UTF-8 (as Gumbo gives it)
    // and is decoded straight into the text pool.
    int addTag(const QString &localName, ElementNamespace ns);
    int addAttributeName(const QString &qualifiedName);
    void openElement(int tagId, bool inTemplate);            // the next nodes are its attributes and children
    void addAttribute(int nameId, QByteArrayView utf8Value); // to the element opened last
    void addText(QByteArrayView utf8, bool inTemplate);
    void addComment(QByteArrayView utf8, bool inTemplate);
    void closeElement();
    void finish(); // closes what is still open and trims the tables

private:
    int currentParent() const { return m_open.empty() ? -1 : m_open.back(); }
    // Appends decoded text to the pool and returns its length there; it starts at the pool's size before the call.
    int appendText(QByteArrayView utf8);
    // A leaf node holding character data (text or a comment) under the current parent.
    void addDataNode(NodeKind kind, QByteArrayView utf8, bool inTemplate);

    std::vector<DomNode> m_nodes;
    std::vector<int> m_elements; // node index of each element in `all`
    std::vector<DomAttribute> m_attributes;
    std::vector<TagInfo> m_tags;
    QHash<QString, int> m_tagIds; // namespace prefix + local name
    QList<QString> m_attributeNames;
    QHash<QString, int> m_attributeNameIds;
    QString m_text;
    std::vector<int> m_open; // building only: the elements not yet closed
};

} // namespace qh::browser
