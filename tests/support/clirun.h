#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace qh::test {

// What one run of quillhaul-cli gave: its exit status (-1: it did not end in time, -2: it crashed) and its output.
struct CliResult
{
    int status = -1;
    QString out;
    QString err;
};

// Starts the build's quillhaul-cli with the data folder given and args.
inline void startCli(QProcess &process, const QString &dataDir, const QStringList &args)
{
    process.start(QStringLiteral(QH_BIN_DIR "/quillhaul-cli"),
                  QStringList{QStringLiteral("--data-dir"), dataDir} + args);
}

// Waits for a started run to end (a minute at most) and collects what it gave.
inline CliResult finishCli(QProcess &process)
{
    CliResult result;
    if (!process.waitForFinished(60'000))
        return result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// A file's bytes, or "(missing)".
inline QByteArray fileBytesOr(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

} // namespace qh::test
