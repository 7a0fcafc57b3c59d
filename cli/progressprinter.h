#pragma once

#include "engine/downloadscheduler.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTextStream>
#include <QTimer>

namespace qh::cli {

// Prints the scheduler's progress on stderr at most every ProgressIntervalMs, always ending with the latest state:
// a flushed line per page would cost a write to the terminal per page.
class ProgressPrinter : public QObject
{
public:
    static constexpr int ProgressIntervalMs = 100;

    ProgressPrinter(engine::DownloadScheduler &scheduler, QTextStream &err);
    ~ProgressPrinter() override { flush(); }

    // Prints the latest state now if it has not been printed yet.
    void flush();

private:
    void onProgress(const QString &book, int pages, const QUrl &url, double rate);

    QTextStream &m_err;
    QString m_pending; // the latest line, not yet printed
    QElapsedTimer m_sincePrinted;
    QTimer m_timer;
};

} // namespace qh::cli
