#include "core/titleprobe.h"

#include "browser/browser.h"

using namespace Qt::StringLiterals;

namespace qh::core {

TitleProbe::TitleProbe(std::unique_ptr<browser::Browser> browser, QObject *parent)
    : QObject(parent), m_browser(std::move(browser))
{
    connect(m_browser.get(), &browser::Browser::loadFinished, this, &TitleProbe::onLoadFinished);
}

TitleProbe::~TitleProbe()
{
    abandon();
}

void TitleProbe::start(const QUrl &url)
{
    m_running = true;
    m_browser->Navigate(url);
}

void TitleProbe::abandon()
{
    if (!m_running)
        return;
    m_running = false;
    m_browser->disconnect(this);
    m_browser->stop();
}

void TitleProbe::onLoadFinished(bool ok)
{
    if (!m_running)
        return;
    m_running = false;
    const auto document = ok ? m_browser->GetHtmlDocument() : nullptr;
    if (!document) {
        QString message = m_browser->lastError().message;
        if (message.isEmpty())
            message = u"It's not html document"_s;
        Q_EMIT finished(false, QString(), message);
        return;
    }
    Q_EMIT finished(true, document->title(), QString());
}

} // namespace qh::core
