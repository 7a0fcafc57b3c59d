#include "templates/elementanchor.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace qh::templates {

namespace {

constexpr QStringView Version = u"1";
constexpr QStringView MultiLineMarker = u"{qh-lines}";

QString escaped(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u'%':
            out += u"%25"_s;
            break;
        case u'|':
            out += u"%7C"_s;
            break;
        case u';':
            out += u"%3B"_s;
            break;
        case u'\r':
            out += u"%0D"_s;
            break;
        case u'\n':
            out += u"%0A"_s;
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<QString> unescaped(QStringView value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'%') {
            out += value[i];
            continue;
        }
        if (i + 2 >= value.size())
            return std::nullopt;
        bool ok = false;
        const uint code = value.sliced(i + 1, 2).toUInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        out += QChar(char16_t(code));
        i += 2;
    }
    return out;
}

QStringList normalisedClasses(QStringList classes)
{
    classes.removeAll(QString());
    std::sort(classes.begin(), classes.end());
    classes.erase(std::unique(classes.begin(), classes.end()), classes.end());
    return classes;
}

QString formatNode(const AnchorNode &node)
{
    return escaped(node.tag) + u';' + escaped(node.id) + u';' + escaped(node.classes.join(u' '));
}

// fields holds count fields of one node (or more, for the element's own node).
std::optional<AnchorNode> parseNode(const QList<QStringView> &fields)
{
    if (fields.size() < 3)
        return std::nullopt;
    const std::optional<QString> tag = unescaped(fields.at(0));
    const std::optional<QString> id = unescaped(fields.at(1));
    const std::optional<QString> classes = unescaped(fields.at(2));
    if (!tag || !id || !classes || tag->isEmpty())
        return std::nullopt;
    return AnchorNode{*tag, *id, normalisedClasses(classes->split(u' '))};
}

} // namespace

QString formatAnchor(const ElementAnchor &anchor)
{
    if (anchor.isEmpty())
        return {};
    QString line =
        Version + u'|' + formatNode(anchor.element) + u';' + escaped(anchor.rel) + u';' + escaped(anchor.text);
    for (const AnchorNode &ancestor : anchor.ancestors)
        line += u'|' + formatNode(ancestor);
    return line;
}

ElementAnchor parseAnchor(QStringView value)
{
    const QList<QStringView> parts = value.split(u'|');
    if (parts.size() < 2 || parts.first() != Version)
        return {};
    const QList<QStringView> own = parts.at(1).split(u';');
    const std::optional<AnchorNode> element = parseNode(own);
    if (!element || own.size() != 5)
        return {};
    const std::optional<QString> rel = unescaped(own.at(3));
    const std::optional<QString> text = unescaped(own.at(4));
    if (!rel || !text)
        return {};
    ElementAnchor anchor{*element, {}, *rel, *text};
    for (qsizetype i = 2; i < parts.size(); ++i) {
        const QList<QStringView> fields = parts.at(i).split(u';');
        const std::optional<AnchorNode> ancestor = parseNode(fields);
        if (!ancestor || fields.size() != 3)
            return {};
        anchor.ancestors.append(*ancestor);
    }
    return anchor;
}

QString storedLinkname(const QString &markup)
{
    if (!markup.contains(u'\r') && !markup.contains(u'\n') && !markup.startsWith(MultiLineMarker))
        return markup;
    QString out = MultiLineMarker.toString();
    for (const QChar c : markup) {
        if (c == u'\\')
            out += u"\\\\"_s;
        else if (c == u'\r')
            out += u"\\r"_s;
        else if (c == u'\n')
            out += u"\\n"_s;
        else
            out += c;
    }
    return out;
}

QString linknameOfStored(const QString &stored)
{
    if (!stored.startsWith(MultiLineMarker))
        return stored;
    QString out;
    const QStringView body = QStringView(stored).sliced(MultiLineMarker.size());
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body[i] != u'\\' || i + 1 == body.size()) {
            out += body[i];
            continue;
        }
        const QChar next = body[++i];
        out += next == u'r' ? QChar(u'\r') : next == u'n' ? QChar(u'\n') : next;
    }
    return out;
}

} // namespace qh::templates
