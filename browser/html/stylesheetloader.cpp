#include "browser/html/stylesheetloader.h"

#include "browser/html/encoding.h"

#include <QTimer>

namespace qh::browser {

QString decodeStyleSheet(const QByteArray &bytes, const QByteArray &contentType)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return decodeWith(QByteArrayView(bytes).sliced(3), QByteArrayLiteral("UTF-8"));
    if (bytes.startsWith("\xFE\xFF"))
        return decodeWith(QByteArrayView(bytes).sliced(2), QByteArrayLiteral("UTF-16BE"));
    if (bytes.startsWith("\xFF\xFE"))
        return decodeWith(QByteArrayView(bytes).sliced(2), QByteArrayLiteral("UTF-16LE"));
    QByteArray encoding = encodingForLabel(charsetFromContentType(contentType));
    static constexpr QByteArrayView charsetRule = "@charset \"";
    if (encoding.isEmpty() && bytes.startsWith(charsetRule)) {
        const qsizetype close = bytes.indexOf("\";", charsetRule.size());
        if (close > 0 && close < 64)
            encoding = encodingForLabel(QByteArrayView(bytes).sliced(charsetRule.size(), close - charsetRule.size()));
        // A sheet cannot declare itself UTF-16: its bytes would not have read as this rule.
        if (encoding == "UTF-16BE" || encoding == "UTF-16LE")
            encoding = QByteArrayLiteral("UTF-8");
    }
    if (encoding.isEmpty())
        encoding = QByteArrayLiteral("UTF-8");
    return decodeWith(bytes, encoding);
}

StyleSheetLoader::StyleSheetLoader(PageFetcher *fetcher, QObject *parent) : QObject(parent), m_fetcher(fetcher)
{
    m_fetcher->setParent(this);
    connect(m_fetcher, &PageFetcher::finished, this, &StyleSheetLoader::onFetched);
}

void StyleSheetLoader::load(const QList<QUrl> &urls)
{
    abandon();
    m_running = true;
    m_fetched = 0;
    for (const QUrl &url : urls) {
        if (!knows(url) && !m_queue.contains(url))
            m_queue.append(url);
    }
    // From the event loop, so that a caller never hears finished from inside load().
    const quint64 round = m_round;
    QTimer::singleShot(0, this, [this, round] {
        if (round == m_round)
            fetchNext();
    });
}

void StyleSheetLoader::abandon()
{
    ++m_round;
    m_fetcher->abandon();
    m_queue.clear();
    m_running = false;
}

void StyleSheetLoader::trim()
{
    if (!m_running && m_sheets.size() > MaxKeptSheets)
        m_sheets.clear();
}

void StyleSheetLoader::fetchNext()
{
    while (!m_queue.isEmpty() && knows(m_queue.front()))
        m_queue.removeFirst();
    if (m_queue.isEmpty() || m_fetched >= MaxSheetsPerRound) {
        m_queue.clear();
        m_running = false;
        Q_EMIT finished();
        return;
    }
    ++m_fetched;
    m_fetcher->fetch(m_queue.front());
}

void StyleSheetLoader::onFetched(const FetchResult &result)
{
    const QUrl url = m_queue.isEmpty() ? result.url : m_queue.takeFirst();
    std::shared_ptr<const css::StyleSheet> sheet;
    if (!result.error.isError()) {
        // Imports are relative to where the sheet really came from, after redirects.
        auto parsed = std::make_shared<css::StyleSheet>(
            css::parseStyleSheet(decodeStyleSheet(result.body, result.contentType), result.finalUrl));
        for (const css::Import &import : parsed->imports) {
            if (css::mediaMatches(import.media) && !knows(import.url) && import.url != url &&
                !m_queue.contains(import.url))
                m_queue.append(import.url);
        }
        sheet = std::move(parsed);
    }
    m_sheets.insert(url, std::move(sheet));
    fetchNext();
}

} // namespace qh::browser
