#include "common/installlayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace qh {

namespace {

// Set by the build from its install settings; the defaults are a plain GNU layout.
#ifndef QH_INSTALL_PREFIX
#define QH_INSTALL_PREFIX "/usr/local"
#endif
#ifndef QH_INSTALL_BINDIR
#define QH_INSTALL_BINDIR "bin"
#endif
#ifndef QH_INSTALL_DATADIR
#define QH_INSTALL_DATADIR "share/quillhaul"
#endif
#ifndef QH_INSTALL_PLUGINDIR
#define QH_INSTALL_PLUGINDIR "lib/quillhaul"
#endif

QString clean(const QString &path)
{
    return QDir::cleanPath(QDir(path).absolutePath());
}

} // namespace

QString InstallLayout::relativeFolder(Folder folder)
{
    switch (folder) {
    case Folder::Bin:
        return QStringLiteral(QH_INSTALL_BINDIR);
    case Folder::Data:
        return QStringLiteral(QH_INSTALL_DATADIR);
    case Folder::Plugin:
        return QStringLiteral(QH_INSTALL_PLUGINDIR);
    }
    return QString();
}

QString InstallLayout::installPrefix(const QString &executableFolder)
{
    if (executableFolder.isEmpty())
        return QString();
    const QString exe = clean(executableFolder);
    const QString bin = relativeFolder(Folder::Bin);
    if (!exe.endsWith(u'/' + bin))
        return QString();
    QString prefix = exe.chopped(bin.size() + 1);
    if (prefix.isEmpty())
        prefix = u"/"_s;
    // The configured prefix's bin folder is an install's even with files missing. Elsewhere the bin folder's name
    // alone does not tell a relocated install from a build tree's "bin": the installed data folder does.
    if (prefix == clean(QStringLiteral(QH_INSTALL_PREFIX)))
        return prefix;
    if (!QFileInfo(QDir(prefix).filePath(relativeFolder(Folder::Data))).isDir())
        return QString();
    return prefix;
}

QString InstallLayout::findFile(const QString &executableFolder, Folder folder, const QString &name)
{
    const QString beside = QDir(clean(executableFolder)).filePath(name);
    if (QFileInfo(beside).isFile())
        return beside;
    const QString prefix = installPrefix(executableFolder);
    if (prefix.isEmpty())
        return QString();
    const QString installed = QDir::cleanPath(prefix + u'/' + relativeFolder(folder) + u'/' + name);
    return QFileInfo(installed).isFile() ? installed : QString();
}

QString InstallLayout::findFile(Folder folder, const QString &name)
{
    return findFile(QCoreApplication::applicationDirPath(), folder, name);
}

} // namespace qh
