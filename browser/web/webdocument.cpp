#include "browser/web/webdocument.h"

#include "browser/web/webpage.h"

#include <QWebEngineScript>

namespace qh::browser {

namespace {

// A request the page sent and whose end its watcher never saw (one of a frame's own, say) holds the page unsettled
// this long at most after the latest request left.
constexpr qint64 RequestHoldMs = 5000;

} // namespace

WebDocument::WebDocument(WebPage *page, WebSnapshot snapshot, WebReading reading) : m_state(std::make_shared<State>())
{
    m_state->page = page;
    m_state->pageLifetime = page ? page->lifetime() : std::weak_ptr<const void>();
    m_state->loadCount = page ? page->loadCount() : 0;
    m_state->reading = reading;
    m_state->snapshot = std::move(snapshot);
    m_state->judgeSettled();
}

bool WebDocument::State::isCurrent() const
{
    const WebPage *live = livePage();
    return live && live->loadCount() == loadCount;
}

bool WebDocument::isCurrent() const
{
    return m_state->isCurrent();
}

QString WebDocument::State::value(int index, WebValue which)
{
    if (snapshot.hasValues())
        return which == WebValue::InnerText ? snapshot.texts.at(index) : snapshot.innerHtmls.at(index);
    const QHash<int, QString> &known = which == WebValue::InnerText ? texts : innerHtmls;
    if (const auto it = known.constFind(index); it != known.constEnd())
        return *it;
    if (!unreadKeys.contains(qint64(index) * 2 + int(which))) {
        unreadKeys.insert(qint64(index) * 2 + int(which));
        unread.append({index, which});
    }
    return {};
}

void WebDocument::State::take(WebSnapshot next, bool unchanged)
{
    if (unchanged) {
        // Only the counts and times are new; a script may have moved the address or the title without a change
        // the watcher sees.
        snapshot.url = next.url;
        snapshot.title = next.title;
        snapshot.complete = next.complete;
        snapshot.quietMs = next.quietMs;
        snapshot.requestsEnded = next.requestsEnded;
    } else {
        // A full reading of a page that has not changed (for a reader of every value) is no change.
        if (next.changes < 0 || next.changes != snapshot.changes)
            ++version;
        snapshot = std::move(next);
        texts.clear();
        innerHtmls.clear();
        unread.clear();
        unreadKeys.clear();
    }
    judgeSettled();
}

void WebDocument::State::judgeSettled()
{
    const WebPage *live = livePage();
    if (!live || snapshot.changes < 0) {
        // Without its watcher nothing tells that the page has stopped changing.
        settled = !isCurrent();
        return;
    }
    const bool quiet = snapshot.complete && snapshot.quietMs >= double(reading.quietTime.count());
    const qint64 sinceRequest = live->msSinceLastRequest();
    const bool noneAwaited =
        live->requestsStarted() <= snapshot.requestsEnded || sinceRequest < 0 || sinceRequest >= RequestHoldMs;
    settled = !isCurrent() || (quiet && noneAwaited);
}

void WebDocument::read(const std::shared_ptr<State> &state, bool withValues, std::function<void()> done)
{
    if (!state->isCurrent()) {
        state->settled = true; // the page has gone on: this reading is all there will be
        done();
        return;
    }
    // A reading with values is asked for whole; one of the structure only may be answered with "unchanged".
    const qint64 known = withValues && !state->snapshot.hasValues() ? -1 : state->snapshot.changes;
    const bool full = withValues || !state->reading.valuesOnDemand;
    const std::weak_ptr<State> weakState = state;
    state->livePage()->runJavaScript(webSnapshotScript(full, known), QWebEngineScript::ApplicationWorld,
                                     [weakState, done = std::move(done)](const QVariant &result) {
                                         const std::shared_ptr<State> alive = weakState.lock();
                                         if (alive && alive->isCurrent()) {
                                             bool unchanged = false;
                                             if (std::optional<WebSnapshot> snapshot =
                                                     parseWebSnapshot(result.toString().toUtf8(), &unchanged))
                                                 alive->take(std::move(*snapshot), unchanged);
                                         }
                                         done();
                                     });
}

void WebDocument::refresh(std::function<void()> done) const
{
    read(m_state, false, std::move(done));
}

void WebDocument::readAllValues(std::function<void()> done) const
{
    if (m_state->snapshot.hasValues() || !m_state->isCurrent()) {
        done();
        return;
    }
    read(m_state, true, std::move(done));
}

void WebDocument::readValues(std::function<void()> done) const
{
    const std::shared_ptr<State> &state = m_state;
    if (state->unread.isEmpty()) {
        done();
        return;
    }
    if (!state->isCurrent()) {
        // The page is gone: what was not read stays empty.
        for (const auto &[index, which] : std::as_const(state->unread))
            (which == WebValue::InnerText ? state->texts : state->innerHtmls).insert(index, QString());
        state->unread.clear();
        state->unreadKeys.clear();
        done();
        return;
    }
    const QList<std::pair<int, WebValue>> wanted = state->unread;
    const qint64 changes = state->snapshot.changes;
    const std::weak_ptr<State> weakState = state;
    state->livePage()->runJavaScript(
        webValuesScript(changes, wanted), QWebEngineScript::ApplicationWorld,
        [weakState, wanted, changes, done = std::move(done)](const QVariant &result) mutable {
            const std::shared_ptr<State> alive = weakState.lock();
            if (!alive || !alive->isCurrent() || alive->snapshot.changes != changes) {
                done();
                return;
            }
            const std::optional<QStringList> values = parseWebValues(result.toString().toUtf8(), wanted.size());
            if (!values) {
                // The page has changed since its reading: read it again; its values are asked for anew.
                read(alive, false, std::move(done));
                return;
            }
            for (qsizetype i = 0; i < wanted.size(); ++i) {
                const auto &[index, which] = wanted.at(i);
                (which == WebValue::InnerText ? alive->texts : alive->innerHtmls).insert(index, values->at(i));
            }
            alive->unread.clear();
            alive->unreadKeys.clear();
            done();
        });
}

QString WebDocument::outerHtmlAt(int index) const
{
    const WebSnapshot &snapshot = m_state->snapshot;
    return snapshot.startTags.at(index) + innerHtmlAt(index) + snapshot.endTags.at(index);
}

std::optional<QString> WebDocument::attributeAt(int index, const QString &name) const
{
    const QStringList &pairs = m_state->snapshot.attributes.at(index);
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2) {
        if (pairs.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return pairs.at(i + 1);
    }
    return std::nullopt;
}

void WebDocument::clickAt(int index) const
{
    if (isCurrent())
        m_state->livePage()->runJavaScript(webClickScript(index), QWebEngineScript::ApplicationWorld);
}

} // namespace qh::browser
