#include "browser/html/htmlserializer.h"

#include <vector>

using namespace Qt::StringLiterals;

namespace qh::browser::html {

namespace {

bool isVoid(const TagInfo &tag)
{
    switch (tag.tag) {
    case HtmlTag::Area:
    case HtmlTag::Base:
    case HtmlTag::Basefont:
    case HtmlTag::Bgsound:
    case HtmlTag::Br:
    case HtmlTag::Col:
    case HtmlTag::Embed:
    case HtmlTag::Frame:
    case HtmlTag::Hr:
    case HtmlTag::Img:
    case HtmlTag::Input:
    case HtmlTag::Keygen:
    case HtmlTag::Link:
    case HtmlTag::Meta:
    case HtmlTag::Param:
    case HtmlTag::Source:
    case HtmlTag::Track:
    case HtmlTag::Wbr:
        return true;
    default:
        return false;
    }
}

bool holdsRawText(const TagInfo &tag)
{
    switch (tag.tag) {
    case HtmlTag::Style:
    case HtmlTag::Script:
    case HtmlTag::Xmp:
    case HtmlTag::Iframe:
    case HtmlTag::Noembed:
    case HtmlTag::Noframes:
    case HtmlTag::Plaintext:
    case HtmlTag::Noscript:
        return true;
    default:
        return false;
    }
}

void appendEscaped(QString &out, QStringView text, bool attributeMode)
{
    qsizetype plainFrom = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QLatin1StringView replacement;
        switch (text[i].unicode()) {
        case u'&':
            replacement = "&amp;"_L1;
            break;
        case 0xA0:
            replacement = "&nbsp;"_L1;
            break;
        case u'<':
            if (!attributeMode)
                replacement = "&lt;"_L1;
            break;
        case u'>':
            if (!attributeMode)
                replacement = "&gt;"_L1;
            break;
        case u'"':
            if (attributeMode)
                replacement = "&quot;"_L1;
            break;
        default:
            break;
        }
        if (replacement.isEmpty())
            continue;
        out.append(text.sliced(plainFrom, i - plainFrom));
        out.append(replacement);
        plainFrom = i + 1;
    }
    out.append(text.sliced(plainFrom));
}

void appendStartTag(QString &out, const DomTree &tree, const DomNode &element)
{
    out += u'<';
    out += tree.tagOf(element).localName;
    for (int i = element.dataBegin; i < element.dataBegin + element.dataLength; ++i) {
        const DomAttribute &attribute = tree.attributeAt(i);
        out += u' ';
        out += tree.attributeName(attribute);
        out += u"=\""_s;
        appendEscaped(out, tree.attributeValue(attribute), true);
        out += u'"';
    }
    out += u'>';
}

void appendEndTag(QString &out, const DomTree &tree, const DomNode &element)
{
    out += u"</"_s;
    out += tree.tagOf(element).localName;
    out += u'>';
}

// The children of nodeIndex, walked with an explicit stack of open elements so depth costs no call stack.
void appendChildren(QString &out, const DomTree &tree, int nodeIndex)
{
    std::vector<int> open;
    const int end = tree.node(nodeIndex).end;
    int i = nodeIndex + 1;
    while (i < end) {
        // Close every element whose subtree ends before node i.
        while (!open.empty() && tree.node(open.back()).end <= i) {
            appendEndTag(out, tree, tree.node(open.back()));
            open.pop_back();
        }
        const DomNode &node = tree.node(i);
        switch (node.kind) {
        case NodeKind::Element:
            appendStartTag(out, tree, node);
            if (isVoid(tree.tagOf(node))) {
                i = node.end; // a void element's children (scripts can add some) are not written
                continue;
            }
            open.push_back(i);
            break;
        case NodeKind::Text: {
            if (node.parent >= 0 && holdsRawText(tree.tagOf(tree.node(node.parent))))
                out += tree.textOf(node);
            else
                appendEscaped(out, tree.textOf(node), false);
            break;
        }
        case NodeKind::Comment:
            out += u"<!--"_s;
            out += tree.textOf(node);
            out += u"-->"_s;
            break;
        }
        ++i;
    }
    while (!open.empty()) {
        appendEndTag(out, tree, tree.node(open.back()));
        open.pop_back();
    }
}

} // namespace

QString innerHtml(const DomTree &tree, int nodeIndex)
{
    QString out;
    const DomNode &element = tree.node(nodeIndex);
    if (element.kind != NodeKind::Element || isVoid(tree.tagOf(element)))
        return out;
    appendChildren(out, tree, nodeIndex);
    return out;
}

QString outerHtml(const DomTree &tree, int nodeIndex)
{
    QString out;
    const DomNode &element = tree.node(nodeIndex);
    appendStartTag(out, tree, element);
    if (isVoid(tree.tagOf(element)))
        return out;
    appendChildren(out, tree, nodeIndex);
    appendEndTag(out, tree, element);
    return out;
}

} // namespace qh::browser::html
