#include "browser/html/staticdocument.h"

#include "browser/html/htmlserializer.h"
#include "browser/html/innertext.h"

#include <utility>

namespace qh::browser {

namespace {

bool isAsciiWhitespace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r';
}

// "Strip and collapse ASCII whitespace", as document.title does.
QString stripAndCollapse(QStringView text)
{
    QString out;
    bool pendingSpace = false;
    for (const QChar c : text) {
        if (isAsciiWhitespace(c)) {
            pendingSpace = !out.isEmpty();
            continue;
        }
        if (pendingSpace)
            out += u' ';
        pendingSpace = false;
        out += c;
    }
    return out;
}

} // namespace

StaticDocument::StaticDocument(DomTree tree, QUrl url)
    : m_tree(std::make_shared<const DomTree>(std::move(tree))), m_url(std::move(url)), m_title(documentTitle()),
      m_styleSources(css::collectStyleSources(*m_tree, m_url)),
      m_sheets(css::cascadeOrder(m_styleSources, [](const QUrl &) { return nullptr; }))
{}

StaticDocument::StaticDocument(std::shared_ptr<const DomTree> tree, QUrl url, QString title,
                               std::vector<css::StyleSource> styleSources, const css::SheetLookup &lookup)
    : m_tree(std::move(tree)), m_url(std::move(url)), m_title(std::move(title)),
      m_styleSources(std::move(styleSources)), m_sheets(css::cascadeOrder(m_styleSources, lookup))
{}

std::shared_ptr<const StaticDocument> StaticDocument::withLinkedSheets(const css::SheetLookup &lookup) const
{
    // Not make_shared: the constructor is private.
    return std::shared_ptr<const StaticDocument>(new StaticDocument(m_tree, m_url, m_title, m_styleSources, lookup));
}

const css::AuthorStyles *StaticDocument::authorStyles() const
{
    // Without sheets innerText reads style attributes on its own, as cheaply as before there were sheets.
    if (m_sheets.empty())
        return nullptr;
    std::call_once(m_stylesOnce,
                   [this] { m_authorStyles = std::make_unique<const css::AuthorStyles>(*m_tree, m_sheets); });
    return m_authorStyles.get();
}

QString StaticDocument::documentTitle() const
{
    const DomTree &tree = *m_tree;
    const int title = tree.firstNodeWithTag(HtmlTag::Title);
    if (title < 0)
        return {};
    // The title element's own text children only, as the DOM's child text content.
    QString text;
    const DomNode &element = tree.node(title);
    for (int i = title + 1; i < element.end; i = tree.node(i).end) {
        if (tree.node(i).kind == NodeKind::Text)
            text += tree.textOf(tree.node(i));
    }
    return stripAndCollapse(text);
}

QString StaticDocument::tagNameAt(int index) const
{
    return m_tree->tagOf(m_tree->node(m_tree->elementNode(index))).tagName;
}

int StaticDocument::parentIndexAt(int index) const
{
    const int parent = m_tree->node(m_tree->elementNode(index)).parent;
    return parent < 0 ? -1 : m_tree->node(parent).elementIndex;
}

QString StaticDocument::innerTextAt(int index) const
{
    {
        const std::lock_guard lock(m_cacheMutex);
        if (const auto it = m_innerTextCache.constFind(index); it != m_innerTextCache.cend())
            return it.value();
    }
    // Computed outside the lock: two threads may both compute it, with the same result.
    QString text = rendering::innerText(*m_tree, m_tree->elementNode(index), authorStyles());
    const std::lock_guard lock(m_cacheMutex);
    m_innerTextCache.insert(index, text);
    return text;
}

QString StaticDocument::innerHtmlAt(int index) const
{
    {
        const std::lock_guard lock(m_cacheMutex);
        if (const auto it = m_innerHtmlCache.constFind(index); it != m_innerHtmlCache.cend())
            return it.value();
    }
    QString markup = html::innerHtml(*m_tree, m_tree->elementNode(index));
    const std::lock_guard lock(m_cacheMutex);
    m_innerHtmlCache.insert(index, markup);
    return markup;
}

QString StaticDocument::outerHtmlAt(int index) const
{
    return html::outerHtml(*m_tree, m_tree->elementNode(index));
}

std::optional<QString> StaticDocument::attributeAt(int index, const QString &name) const
{
    const DomNode &element = m_tree->node(m_tree->elementNode(index));
    const bool html = m_tree->tagOf(element).ns == ElementNamespace::Html;
    QString key = name;
    if (html) {
        for (QChar &c : key) {
            if (c >= u'A' && c <= u'Z')
                c = QChar(c.unicode() - u'A' + u'a');
        }
    }
    const QStringView value = m_tree->findAttribute(element, key);
    if (value.isNull())
        return std::nullopt;
    return value.toString();
}

} // namespace qh::browser
