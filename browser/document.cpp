#include "browser/document.h"

#include "browser/browser.h"

#include <QMetaObject>

namespace qh::browser {

QString Element::tagName() const
{
    return m_document->tagNameAt(m_index);
}

std::optional<Element> Element::parentElement() const
{
    const int parent = m_document->parentIndexAt(m_index);
    if (parent < 0)
        return std::nullopt;
    return Element(m_document, parent);
}

QString Element::innerText() const
{
    return m_document->innerTextAt(m_index);
}

QString Element::innerHTML() const
{
    return m_document->innerHtmlAt(m_index);
}

QString Element::outerHTML() const
{
    return m_document->outerHtmlAt(m_index);
}

std::optional<QString> Element::attribute(const QString &name) const
{
    return m_document->attributeAt(m_index, name);
}

void Element::click() const
{
    m_document->clickAt(m_index);
}

int ElementCollection::length() const
{
    return m_document->elementCount();
}

std::optional<Element> ElementCollection::item(int index) const
{
    if (index < 0 || index >= m_document->elementCount())
        return std::nullopt;
    return Element(m_document, index);
}

void Browser::awaitScriptNavigation(std::chrono::milliseconds grace, std::chrono::milliseconds limit)
{
    Q_UNUSED(grace);
    Q_UNUSED(limit);
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT loadFinished(false); }, Qt::QueuedConnection);
}

} // namespace qh::browser
