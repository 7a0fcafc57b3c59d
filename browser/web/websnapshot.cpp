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

QString webWatchScript()
{
    // One count for every batch of changes the observer is told of, and the time of the latest. Style and other
    // attributes that animations keep changing are left out: they change neither the texts nor the links. The page's
    // script and data requests that have come back are counted from the resource timeline, which the program sets
    // against the requests it saw leave.
    return uR"JS((function () {
    'use strict';
    if (window.__quillhaulWatch)
        return;
    var watch = { changes: 0, last: performance.now(), requestsEnded: 0 };
    window.__quillhaulWatch = watch;
    function changed() {
        watch.changes++;
        watch.last = performance.now();
    }
    new MutationObserver(changed).observe(document, { subtree: true, childList: true, characterData: true,
        attributes: true, attributeFilter: ['href', 'id', 'class', 'name', 'rel'] });
    document.addEventListener('readystatechange', function () {
        if (document.readyState === 'complete')
            watch.last = performance.now();
    });
    try {
        new PerformanceObserver(function (list) {
            list.getEntries().forEach(function (entry) {
                var type = entry.initiatorType;
                if (type === 'xmlhttprequest' || type === 'fetch' || type === 'script')
                    watch.requestsEnded++;
            });
        }).observe({ type: 'resource', buffered: true });
    } catch (e) {
    }
})())JS"_s;
}

QString webLayoutScript(int widthPx)
{
    // A sheet of our own world's making, adopted by the document: no element is added, so the page's element list
    // stays as it is. The root's width is what the text is broken into lines by; media queries still see the
    // window as it is.
    return uR"JS((function (width) {
    'use strict';
    try {
        var sheet = new CSSStyleSheet();
        sheet.replaceSync('html { width: ' + width + 'px !important; }');
        document.adoptedStyleSheets = document.adoptedStyleSheets.concat([sheet]);
    } catch (e) {
    }
})(%1))JS"_s.arg(widthPx);
}

QString webSnapshotScript(bool withValues, qint64 knownChanges)
{
    // getElementsByTagName('*') is document.all's order. innerText needs layout, which the first read does once.
    // The JSON text crosses into the program as one string, far cheaper than a tree of variants. The elements read
    // are kept in our world, so that their values can be asked for later by their index in this reading.
    return uR"JS((function (withValues, known) {
    'use strict';
    var watch = window.__quillhaulWatch;
    var changes = watch ? watch.changes : -1;
    var refreshSeconds = -1;
    var refresh = document.querySelector('meta[http-equiv="refresh" i]');
    if (refresh) {
        var parts = /^\s*(\d+(?:\.\d*)?)[^;,]*[;,]\s*(?:url\s*=\s*)?(\S+)/i.exec(refresh.content || '');
        if (parts)
            refreshSeconds = parseFloat(parts[1]);
    }
    var reading = {
        url: location.href, title: document.title, contentType: document.contentType,
        refreshSeconds: refreshSeconds, changes: changes, complete: document.readyState === 'complete',
        quietMs: watch ? performance.now() - watch.last : 0, requestsEnded: watch ? watch.requestsEnded : 0
    };
    if (known >= 0 && changes === known && window.__quillhaulElements) {
        reading.unchanged = true;
        return JSON.stringify(reading);
    }
    var all = Array.prototype.slice.call(document.getElementsByTagName('*'));
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
        var isVoid = e.namespaceURI === 'http://www.w3.org/1999/xhtml' && voidTags.has(e.localName);
        if (withValues) {
            texts.push(typeof e.innerText === 'string' ? e.innerText : (e.textContent || ''));
            inner.push(isVoid ? '' : e.innerHTML);
        }
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
    window.__quillhaulElements = all;
    reading.tags = tags;
    reading.parents = parents;
    reading.startTags = starts;
    reading.endTags = ends;
    reading.attributes = attributes;
    if (withValues) {
        reading.texts = texts;
        reading.innerHtmls = inner;
    }
    return JSON.stringify(reading);
})(%1, %2))JS"_s.arg(withValues ? u"true"_s : u"false"_s)
        .arg(knownChanges);
}

std::optional<WebSnapshot> parseWebSnapshot(const QByteArray &json, bool *unchanged)
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
    snapshot.changes = qint64(object.value(u"changes"_s).toDouble(-1));
    snapshot.complete = object.value(u"complete"_s).toBool(true);
    snapshot.quietMs = object.value(u"quietMs"_s).toDouble(0);
    snapshot.requestsEnded = object.value(u"requestsEnded"_s).toInt(0);
    const bool same = object.value(u"unchanged"_s).toBool(false);
    if (unchanged)
        *unchanged = same;
    if (same)
        return snapshot;
    snapshot.tags = toStrings(object.value(u"tags"_s).toArray());
    snapshot.startTags = toStrings(object.value(u"startTags"_s).toArray());
    snapshot.endTags = toStrings(object.value(u"endTags"_s).toArray());
    const QJsonArray parents = object.value(u"parents"_s).toArray();
    const QJsonArray attributes = object.value(u"attributes"_s).toArray();

    const qsizetype n = snapshot.tags.size();
    if (parents.size() != n || attributes.size() != n || snapshot.startTags.size() != n || snapshot.endTags.size() != n)
        return std::nullopt;
    // The values are there in a full reading; lists of another length are no reading at all.
    const bool withValues = object.contains(u"texts"_s) || object.contains(u"innerHtmls"_s);
    if (withValues) {
        snapshot.texts = toStrings(object.value(u"texts"_s).toArray());
        snapshot.innerHtmls = toStrings(object.value(u"innerHtmls"_s).toArray());
        if (snapshot.texts.size() != n || snapshot.innerHtmls.size() != n)
            return std::nullopt;
    }
    snapshot.parents.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        const int parent = parents.at(i).toInt(-1);
        // Parents come before their children in document order; anything else is no tree.
        snapshot.parents.append(parent >= 0 && parent < i ? parent : -1);
        snapshot.attributes.append(toStrings(attributes.at(i).toArray()));
    }
    return snapshot;
}

QString webValuesScript(qint64 changes, const QList<std::pair<int, WebValue>> &wanted)
{
    QString list;
    list.reserve(wanted.size() * 8);
    for (const auto &[index, value] : wanted) {
        if (!list.isEmpty())
            list += u',';
        list += QString::number(index) + u',' + QString::number(int(value));
    }
    return uR"JS((function (changes, wanted) {
    'use strict';
    var watch = window.__quillhaulWatch, all = window.__quillhaulElements;
    if (!all || (changes >= 0 && (!watch || watch.changes !== changes)))
        return 'null';
    var values = [];
    for (var k = 0; k + 1 < wanted.length; k += 2) {
        var e = all[wanted[k]];
        if (!e)
            values.push('');
        else if (wanted[k + 1] === 0)
            values.push(typeof e.innerText === 'string' ? e.innerText : (e.textContent || ''));
        else
            values.push(e.innerHTML);
    }
    return JSON.stringify(values);
})(%1, [%2]))JS"_s.arg(changes)
        .arg(list);
}

std::optional<QStringList> parseWebValues(const QByteArray &json, qsizetype expected)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QStringList values = toStrings(document.array());
    if (values.size() != expected)
        return std::nullopt;
    return values;
}

QString webClickScript(int index)
{
    // The element of the latest reading, which is the one the index was taken from.
    return u"(function () { var all = window.__quillhaulElements || document.getElementsByTagName('*');"
           " var e = all[%1]; if (e) e.click(); })()"_s.arg(index);
}

} // namespace qh::browser
