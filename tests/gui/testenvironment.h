#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace qh::test {

// What every window test needs before its QApplication exists: the offscreen platform unless told otherwise, and
// HOME and the XDG folders inside home, so that no test touches the real user's documents, settings or data.
inline void prepareWindowTestEnvironment(const QTemporaryDir &home)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/.local/share")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/.cache")).toLocal8Bit());
}

} // namespace qh::test
