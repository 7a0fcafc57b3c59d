#include "cli/progressprinter.h"

using namespace Qt::StringLiterals;

namespace qh::cli {

ProgressPrinter::ProgressPrinter(engine::DownloadScheduler &scheduler, QTextStream &err) : m_err(err)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ProgressPrinter::flush);
    connect(&scheduler, &engine::DownloadScheduler::progress, this, &ProgressPrinter::onProgress);
    // Before the exit that a book's end brings; messages of the end itself may come first.
    connect(&scheduler, &engine::DownloadScheduler::bookEnded, this, &ProgressPrinter::flush);
}

void ProgressPrinter::onProgress(const QString &book, int pages, const QUrl &url, double rate)
{
    m_pending = book + u": "_s + QString::number(pages) + u" 页, "_s + QString::number(rate, 'f', 1) + u" 页/秒  "_s +
                url.toString();
    const qint64 sincePrinted = m_sincePrinted.isValid() ? m_sincePrinted.elapsed() : ProgressIntervalMs;
    if (sincePrinted >= ProgressIntervalMs)
        flush();
    else if (!m_timer.isActive())
        m_timer.start(int(ProgressIntervalMs - sincePrinted));
}

void ProgressPrinter::flush()
{
    m_timer.stop();
    if (m_pending.isEmpty())
        return;
    m_err << m_pending << Qt::endl;
    m_pending.clear();
    m_sincePrinted.start();
}

} // namespace qh::cli
