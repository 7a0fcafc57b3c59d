#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

// Readable failure output for Qt types.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &value, std::ostream *os)
{
    *os << '"' << value.toStdString() << '"';
}
inline void PrintTo(const QByteArray &value, std::ostream *os)
{
    *os << "QByteArray(\"" << value.toStdString() << "\" hex " << value.toHex(' ').toStdString() << ')';
}
inline void PrintTo(const QUrl &value, std::ostream *os)
{
    *os << "QUrl(" << value.toString().toStdString() << ')';
}
QT_END_NAMESPACE

namespace qh::test {

// A file under tests/data.
inline QString dataPath(const QString &name)
{
    return QStringLiteral(QH_TEST_DATA_DIR "/") + name;
}

// Runs the event loop until done() holds or timeoutMs pass; returns done(). Chromium posts many small tasks to the
// event loop while it loads a page, and QTest's waits, which sleep between turns, stretch every load to seconds.
inline bool runEventLoopUntil(const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(1);
    if (!done())
        loop.exec();
    return done();
}

} // namespace qh::test
