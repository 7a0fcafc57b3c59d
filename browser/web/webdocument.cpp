#include "browser/web/webdocument.h"

#include "browser/web/webpage.h"

#include <QWebEngineScript>

namespace qh::browser {

WebDocument::WebDocument(WebPage *page, WebSnapshot snapshot) : m_state(std::make_shared<State>())
{
    m_state->page = page;
    m_state->loadCount = page ? page->loadCount() : 0;
    m_state->snapshot = std::move(snapshot);
}

bool WebDocument::State::isCurrent() const
{
    return page && page->loadCount() == loadCount;
}

bool WebDocument::isCurrent() const
{
    return m_state->isCurrent();
}

void WebDocument::refresh(std::function<void()> done) const
{
    if (!isCurrent()) {
        done();
        return;
    }
    const std::weak_ptr<State> weakState = m_state;
    m_state->page->runJavaScript(webSnapshotScript(), QWebEngineScript::ApplicationWorld,
                                 [weakState, done = std::move(done)](const QVariant &result) {
                                     const std::shared_ptr<State> state = weakState.lock();
                                     if (state && state->isCurrent()) {
                                         if (std::optional<WebSnapshot> snapshot =
                                                 parseWebSnapshot(result.toString().toUtf8()))
                                             state->snapshot = std::move(*snapshot);
                                     }
                                     done();
                                 });
}

QString WebDocument::outerHtmlAt(int index) const
{
    const WebSnapshot &snapshot = m_state->snapshot;
    return snapshot.startTags.at(index) + snapshot.innerHtmls.at(index) + snapshot.endTags.at(index);
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
        m_state->page->runJavaScript(webClickScript(index), QWebEngineScript::ApplicationWorld);
}

} // namespace qh::browser
