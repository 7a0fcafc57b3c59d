#include "browser/web/websnapshot.h"

#include "browser/net/pagefetcher.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace qh::browser {

namespace {

QStringList toStrings(const QJsonArray &array)
{
    QStringList strings;
    strings.reserve(array.size());
    for (const QJsonValue &value : array)
        strings.append(value.toString());
    return strings;
}

} // namespace

bool WebSnapshot::isPage() const
{
    return isPageContentType(contentType.toUtf8());
}

QString webSnapshotScript()
{
    // getElementsByTagName('*') is document.all's order. innerText needs layout, which the first read does once.
    // The JSON text crosses into the program as one string, far cheaper than a tree of variants.
    return uR"JS((function () {
    'use strict';
    var all = document.getElementsByTagName('*');
    var n = all.length;
    var position = new Map();
    for (var i = 0; i < n; ++i)
        position.set(all[i], i);
    var voidTags = new Set(['area', 'base', 'basefont', 'bgsound', 'br', 'col', 'embed', 'frame', 'hr', 'img',
        'input', 'keygen', 'link', 'meta', 'param', 'source', 'track', 'wbr']);
    function escapeAttribute(text) {
        return text.replace(/&/g, '&amp;').replace(/\u00a0/g, '&nbsp;').replace(/"/g, '&quot;');
    }
    var tags = [], parents = [], texts = [], inner = [], starts = [], ends = [], attributes = [];
    for (var i = 0; i < n; ++i) {
        var e = all[i];
        tags.push(e.tagName);
        var parent = e.parentElement;
        parents.push(parent && position.has(parent) ? position.get(parent) : -1);
        texts.push(typeof e.innerText === 'string' ? e.innerText : (e.textContent || ''));
        var isVoid = e.namespaceURI === 'http://www.w3.org/1999/xhtml' && voidTags.has(e.localName);
        inner.push(isVoid ? '' : e.innerHTML);
        var start = '<' + e.localName, pairs = [];
        for (var k = 0; k < e.attributes.length; ++k) {
            var a = e.attributes[k];
            start += ' ' + a.name + '="' + escapeAttribute(a.value) + '"';
            pairs.push(a.name, a.value);
        }
        starts.push(start + '>');
        ends.push(isVoid ? '' : '</' + e.localName + '>');
        attributes.push(pairs);
    }
    var refreshSeconds = -1;
    var refresh = document.querySelector('meta[http-equiv="refresh" i]');
    if (refresh) {
        var parts = /^\s*(\d+(?:\.\d*)?)[^;,]*[;,]\s*(?:url\s*=\s*)?(\S+)/i.exec(refresh.content || '');
        if (parts)
            refreshSeconds = parseFloat(parts[1]);
    }
    return JSON.stringify({
        url: location.href, title: document.title, contentType: document.contentType,
        refreshSeconds: refreshSeconds,
        tags: tags, parents: parents, texts: texts, innerHtmls: inner, startTags: starts, endTags: ends,
        attributes: attributes
    });
})())JS"_s;
}

std::optional<WebSnapshot> parseWebSnapshot(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    WebSnapshot snapshot;
    snapshot.url = QUrl(object.value(u"url"_s).toString());
    snapshot.title = object.value(u"title"_s).toString();
    snapshot.contentType = object.value(u"contentType"_s).toString();
    snapshot.refreshSeconds = object.value(u"refreshSeconds"_s).toDouble(-1);
    snapshot.tags = toStrings(object.value(u"tags"_s).toArray());
    snapshot.texts = toStrings(object.value(u"texts"_s).toArray());
    snapshot.innerHtmls = toStrings(object.value(u"innerHtmls"_s).toArray());
    snapshot.startTags = toStrings(object.value(u"startTags"_s).toArray());
    snapshot.endTags = toStrings(object.value(u"endTags"_s).toArray());
    const QJsonArray parents = object.value(u"parents"_s).toArray();
    const QJsonArray attributes = object.value(u"attributes"_s).toArray();

    const qsizetype n = snapshot.tags.size();
    if (parents.size() != n || attributes.size() != n || snapshot.texts.size() != n ||
        snapshot.innerHtmls.size() != n || snapshot.startTags.size() != n || snapshot.endTags.size() != n)
        return std::nullopt;
    snapshot.parents.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        const int parent = parents.at(i).toInt(-1);
        // Parents come before their children in document order; anything else is no tree.
        snapshot.parents.append(parent >= 0 && parent < i ? parent : -1);
        snapshot.attributes.append(toStrings(attributes.at(i).toArray()));
    }
    return snapshot;
}

QString webClickScript(int index)
{
    return u"(function () { var e = document.getElementsByTagName('*')[%1]; if (e) e.click(); })()"_s.arg(index);
}

} // namespace qh::browser
