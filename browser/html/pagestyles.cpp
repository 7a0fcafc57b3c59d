#include "browser/html/pagestyles.h"

#include <QSet>

#include <optional>

namespace qh::browser::css {

namespace {

// Imports nested deeper than this are not followed (browsers follow them, but no site needs it).
constexpr int kMaxImportDepth = 8;

bool isSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

bool hasToken(QStringView list, QStringView token)
{
    const qsizetype size = list.size();
    qsizetype i = 0;
    while (i < size) {
        while (i < size && isSpace(list[i]))
            ++i;
        qsizetype end = i;
        while (end < size && !isSpace(list[end]))
            ++end;
        if (end > i && list.sliced(i, end - i).compare(token, Qt::CaseInsensitive) == 0)
            return true;
        i = end;
    }
    return false;
}

bool isCssType(QStringView type)
{
    type = type.trimmed();
    return type.isEmpty() || type.compare(u"text/css", Qt::CaseInsensitive) == 0;
}

bool isHtml(const DomTree &tree, const DomNode &node, HtmlTag tag)
{
    if (node.kind != NodeKind::Element || node.inTemplate)
        return false;
    const TagInfo &info = tree.tagOf(node);
    return info.ns == ElementNamespace::Html && info.tag == tag;
}

QUrl baseUrl(const DomTree &tree, const QUrl &documentUrl)
{
    for (int i = 0; i < tree.nodeCount(); ++i) {
        const DomNode &node = tree.node(i);
        if (!isHtml(tree, node, HtmlTag::Base))
            continue;
        const QStringView href = tree.findAttribute(node, u"href");
        if (href.isNull())
            continue;
        const QUrl base = documentUrl.resolved(QUrl(href.trimmed().toString()));
        return base.isValid() ? base : documentUrl;
    }
    return documentUrl;
}

bool isLoadable(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https" || scheme == u"file");
}

struct Walk
{
    const SheetLookup &lookup;
    QSet<QUrl> visiting;

    template<typename Visit> void imports(const StyleSheet &sheet, int depth, Visit &&visit)
    {
        if (depth > kMaxImportDepth)
            return;
        for (const Import &import : sheet.imports) {
            if (!isLoadable(import.url) || !mediaMatches(import.media) || visiting.contains(import.url))
                continue;
            visit(import.url, depth);
        }
    }
};

} // namespace

std::vector<StyleSource> collectStyleSources(const DomTree &tree, const QUrl &documentUrl)
{
    std::vector<StyleSource> sources;
    std::optional<QUrl> base; // found once, and only for pages that need it
    const auto resolve = [&](QStringView address) {
        if (!base)
            base = baseUrl(tree, documentUrl);
        return base->resolved(QUrl(address.trimmed().toString())).adjusted(QUrl::RemoveFragment);
    };
    const int count = tree.nodeCount();
    for (int i = 0; i < count; ++i) {
        const DomNode &node = tree.node(i);
        if (isHtml(tree, node, HtmlTag::Style)) {
            if (!isCssType(tree.findAttribute(node, u"type")) || !mediaMatches(tree.findAttribute(node, u"media")))
                continue;
            QString text;
            for (int child = i + 1; child < node.end; child = tree.node(child).end) {
                if (tree.node(child).kind == NodeKind::Text)
                    text += tree.textOf(tree.node(child));
            }
            if (!base)
                base = baseUrl(tree, documentUrl);
            auto sheet = std::make_shared<StyleSheet>(parseStyleSheet(text, *base));
            if (!sheet->isEmpty())
                sources.push_back({std::move(sheet), {}});
        } else if (isHtml(tree, node, HtmlTag::Link)) {
            const QStringView rel = tree.findAttribute(node, u"rel");
            const QStringView href = tree.findAttribute(node, u"href");
            if (!hasToken(rel, u"stylesheet") || hasToken(rel, u"alternate") || href.trimmed().isEmpty() ||
                tree.hasAttribute(node, u"disabled") || !isCssType(tree.findAttribute(node, u"type")) ||
                !mediaMatches(tree.findAttribute(node, u"media")))
                continue;
            const QUrl url = resolve(href);
            if (isLoadable(url))
                sources.push_back({nullptr, url});
        }
    }
    return sources;
}

QList<QUrl> sheetsToLoad(const std::vector<StyleSource> &sources, const SheetLookup &lookup, const SheetKnown &known)
{
    QList<QUrl> missing;
    Walk walk{lookup, {}};
    const auto visitUrl = [&](const auto &self, const QUrl &url, int depth) -> void {
        if (!known(url)) {
            if (!missing.contains(url))
                missing.append(url);
            return;
        }
        const std::shared_ptr<const StyleSheet> sheet = lookup(url);
        if (!sheet)
            return;
        walk.visiting.insert(url);
        walk.imports(*sheet, depth + 1, [&](const QUrl &next, int d) { self(self, next, d); });
        walk.visiting.remove(url);
    };
    for (const StyleSource &source : sources) {
        if (source.sheet)
            walk.imports(*source.sheet, 1, [&](const QUrl &next, int d) { visitUrl(visitUrl, next, d); });
        else
            visitUrl(visitUrl, source.url, 0);
    }
    return missing;
}

std::vector<std::shared_ptr<const StyleSheet>> cascadeOrder(const std::vector<StyleSource> &sources,
                                                            const SheetLookup &lookup)
{
    std::vector<std::shared_ptr<const StyleSheet>> ordered;
    Walk walk{lookup, {}};
    const auto addSheet = [&](const auto &self, const std::shared_ptr<const StyleSheet> &sheet, int depth) -> void {
        walk.imports(*sheet, depth + 1, [&](const QUrl &url, int d) {
            if (const std::shared_ptr<const StyleSheet> imported = lookup(url)) {
                walk.visiting.insert(url);
                self(self, imported, d);
                walk.visiting.remove(url);
            }
        });
        if (!sheet->rules.empty())
            ordered.push_back(sheet);
    };
    for (const StyleSource &source : sources) {
        if (source.sheet) {
            addSheet(addSheet, source.sheet, 0);
        } else if (const std::shared_ptr<const StyleSheet> linked = lookup(source.url)) {
            walk.visiting.insert(source.url);
            addSheet(addSheet, linked, 0);
            walk.visiting.remove(source.url);
        }
    }
    return ordered;
}

} // namespace qh::browser::css
