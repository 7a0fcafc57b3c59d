#pragma once

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace qh::test {

struct EpubcheckResult
{
    int exitCode = -1;
    QString output;

    // No error and no warning of any kind.
    bool clean() const
    {
        return exitCode == 0 && output.contains(QStringLiteral("No errors or warnings detected")) &&
               !output.contains(QStringLiteral("WARNING")) && !output.contains(QStringLiteral("ERROR"));
    }
};

// The reference checker, when it is installed (Debian's package epubcheck); empty otherwise.
inline QString epubcheckProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("epubcheck"));
}

// Debian installs epubcheck as a bare jar that only starts through binfmt_misc, which few machines set up.
inline EpubcheckResult runEpubcheck(const QString &epubcheck, const QString &path)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QString target = QFileInfo(epubcheck).canonicalFilePath();
    if (target.endsWith(QStringLiteral(".jar")))
        process.start(QStringLiteral("java"), {QStringLiteral("-jar"), target, path});
    else
        process.start(epubcheck, {path});
    const bool finished = process.waitForFinished(300'000);
    EpubcheckResult result;
    result.output = QString::fromUtf8(process.readAll());
    result.exitCode = finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

} // namespace qh::test
