#include "engine/fakedocument.h"

#include "common/error.h"

using namespace Qt::StringLiterals;

namespace qh::test {

FakeDocument::FakeDocument(std::vector<FakeElement> rows, bool isStatic) : elements(std::move(rows)), m_static(isStatic)
{}

void FakeDocument::refresh(std::function<void()> done) const
{
    ++refreshCount;
    valuesRead.clear();
    unread.clear();
    if (onRefresh)
        onRefresh(refreshCount);
    if (holdRefresh)
        heldRefresh = std::move(done);
    else
        done();
}

void FakeDocument::readValues(std::function<void()> done) const
{
    ++valueReads;
    valuesRead.unite(unread);
    unread.clear();
    done();
}

QString FakeDocument::innerTextAt(int index) const
{
    if (valuesOnDemand && !valuesRead.contains(index)) {
        unread.insert(index);
        return {};
    }
    return elements.at(index).innerText;
}

QString FakeDocument::innerHtmlAt(int index) const
{
    if (valuesOnDemand && !valuesRead.contains(index)) {
        unread.insert(index);
        return {};
    }
    return elements.at(index).innerHtml;
}

QString FakeDocument::tagNameAt(int index) const
{
    tagReads.append(index);
    if (index == failAt)
        throw Error(u"无法读取页面元素 "_s + QString::number(index));
    return elements.at(index).tagName;
}

QString FakeDocument::outerHtmlAt(int index) const
{
    const FakeElement &element = elements.at(index);
    const QString tag = element.tagName.toLower();
    const QString href = element.href ? u" href=\""_s + element.href->toHtmlEscaped() + u'"' : QString();
    return u'<' + tag + href + u'>' + element.innerHtml + u"</"_s + tag + u'>';
}

std::optional<QString> FakeDocument::attributeAt(int index, const QString &name) const
{
    if (name == u"href"_s)
        return elements.at(index).href;
    return std::nullopt;
}

void FakeDocument::clickAt(int index) const
{
    clicks.append(index);
    if (onClick)
        onClick(index);
}

} // namespace qh::test
