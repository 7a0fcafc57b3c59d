#include "engine/anchormatch.h"

#include "engine/locators.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace qh::engine {

using browser::Element;
using templates::AnchorNode;
using templates::ElementAnchor;

namespace {

// The words of a next-page or next-chapter link, lower case, without blanks. The one list of them.
const QStringList &nextPageWords()
{
    static const QStringList words = {
        u"下一页"_s, u"下一章"_s, u"下一节"_s, u"下一篇"_s, u"下一回"_s,   u"下页"_s,
        u"下章"_s,   u"后一页"_s, u"翻页"_s,   u"next"_s,   u"nextpage"_s, u"nextchapter"_s,
    };
    return words;
}

// Arrows a next link may carry, alone or beside its words.
bool isArrow(QChar c)
{
    return QStringView(u"→>»›》〉⟶⇒").contains(c);
}

QString collapsedText(const QString &text)
{
    return text.simplified();
}

AnchorNode nodeOf(const Element &element)
{
    // Split by hand: a regular expression made per element cost more than the rest of the grab together.
    QStringList classes;
    const QString attribute = element.attribute(u"class"_s).value_or(QString());
    qsizetype start = -1;
    for (qsizetype i = 0; i <= attribute.size(); ++i) {
        const bool space = i == attribute.size() || attribute.at(i).isSpace();
        if (!space && start < 0)
            start = i;
        else if (space && start >= 0) {
            classes.append(attribute.mid(start, i - start));
            start = -1;
        }
    }
    std::sort(classes.begin(), classes.end());
    classes.erase(std::unique(classes.begin(), classes.end()), classes.end());
    return AnchorNode{element.tagName().toUpper(), element.attribute(u"id"_s).value_or(QString()), classes};
}

bool sameNode(const AnchorNode &recorded, const Element &element)
{
    if (!sameTagName(element.tagName(), recorded.tag))
        return false;
    const AnchorNode actual = nodeOf(element);
    return actual.id == recorded.id && actual.classes == recorded.classes;
}

// BODY is known by its tag alone: sites vary its classes from page to page (a per-chapter or a theme class).
bool sameAncestor(const AnchorNode &recorded, const Element &element)
{
    return recorded.tag == u"BODY" ? sameTagName(element.tagName(), recorded.tag) : sameNode(recorded, element);
}

AnchorFit chainFit(const ElementAnchor &anchor, const Element &element)
{
    // Exact while every recorded ancestor is the next actual one; compatible while each is found further up.
    bool exact = true;
    std::optional<Element> actual = element.parentElement();
    for (const AnchorNode &recorded : anchor.ancestors) {
        while (actual && !sameAncestor(recorded, *actual)) {
            exact = false;
            actual = actual->parentElement();
        }
        if (!actual)
            return AnchorFit::None;
        actual = actual->parentElement();
    }
    return exact ? AnchorFit::Exact : AnchorFit::Compatible;
}

} // namespace

ElementAnchor anchorOf(const Element &element)
{
    ElementAnchor anchor;
    anchor.element = nodeOf(element);
    if (anchor.element.tag == u"A") {
        anchor.rel = element.attribute(u"rel"_s).value_or(QString());
        anchor.text = collapsedText(element.innerText());
    }
    for (std::optional<Element> up = element.parentElement(); up; up = up->parentElement()) {
        AnchorNode node = nodeOf(*up);
        if (node.tag == u"HTML")
            break;
        if (node.tag == u"BODY") {
            anchor.ancestors.append(AnchorNode{node.tag, {}, {}});
            break;
        }
        anchor.ancestors.append(node);
        if (!node.id.isEmpty())
            break;
    }
    return anchor;
}

AnchorFit fitOf(const ElementAnchor &anchor, const Element &element)
{
    if (anchor.isEmpty() || !sameNode(anchor.element, element))
        return AnchorFit::None;
    return chainFit(anchor, element);
}

AnchorFit linkPlaceFitOf(const ElementAnchor &anchor, const Element &element)
{
    if (!sameTagName(element.tagName(), u"A") || element.attribute(u"rel"_s).value_or(QString()) != anchor.rel)
        return AnchorFit::None;
    return fitOf(anchor, element);
}

bool readsAsNextPage(QStringView linkText)
{
    QString text;
    for (const QChar c : linkText) {
        if (!c.isSpace())
            text += c.toLower();
    }
    QString words = text;
    words.removeIf(isArrow);
    if (words.isEmpty())
        return !text.isEmpty(); // arrows alone
    const QStringList &known = nextPageWords();
    return std::any_of(known.cbegin(), known.cend(), [&words](const QString &word) { return words == word; }) ||
           std::any_of(known.cbegin(), known.cend(), [&words](const QString &word) {
               return word.size() > 1 && !word.startsWith(u"next") && words.contains(word);
           });
}

} // namespace qh::engine
