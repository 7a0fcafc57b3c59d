#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <gtest/gtest.h>

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

} // namespace qh::test
