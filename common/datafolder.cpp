#include "common/datafolder.h"

#include "common/error.h"
#include "common/installlayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace qh {

namespace {

const QString SettingsName = u"SysCfg.ini"_s;
const QString BookListName = u"downlist.dat"_s;
const QString TemplateName = u"system.tpe"_s;
const QString TempName = u"temp"_s;
const QString FinishedBooksName = u"finished.dat"_s;

bool isPortableInstall(const QString &folder)
{
    const QDir dir(folder);
    return QFileInfo(dir.filePath(SettingsName)).isFile() || QFileInfo(dir.filePath(BookListName)).isFile() ||
           QFileInfo(dir.filePath(TemplateName)).isFile() || QFileInfo(dir.filePath(TempName)).isDir();
}

} // namespace

DataFolder DataFolder::locate(const QString &overrideFolder)
{
    // An installed program's folder (/usr/bin) is shared with every other program: never a portable install.
    const QString executableFolder = QCoreApplication::applicationDirPath();
    return locate(overrideFolder, InstallLayout::isInstalled(executableFolder) ? QString() : executableFolder,
                  userFolder());
}

DataFolder DataFolder::locate(const QString &overrideFolder, const QString &executableFolder, const QString &userFolder)
{
    QString chosen;
    if (!overrideFolder.isEmpty())
        chosen = overrideFolder;
    else if (!executableFolder.isEmpty() && isPortableInstall(executableFolder))
        chosen = executableFolder;
    else
        chosen = userFolder;
    chosen = QDir::cleanPath(QDir(chosen).absolutePath());
    if (!QDir().mkpath(chosen))
        throw Error(QStringLiteral("无法创建数据文件夹“%1”。").arg(QDir::toNativeSeparators(chosen)));
    return DataFolder(chosen);
}

QString DataFolder::userFolder()
{
    // Independent of the application name each program sets, so both executables find the same files.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/quillhaul"_s;
}

QString DataFolder::settingsFile() const
{
    return m_path + u'/' + SettingsName;
}

QString DataFolder::bookListFile() const
{
    return m_path + u'/' + BookListName;
}

QString DataFolder::templateFile() const
{
    return m_path + u'/' + TemplateName;
}

QString DataFolder::tempFolder() const
{
    return m_path + u'/' + TempName;
}

QString DataFolder::finishedBooksFile() const
{
    return m_path + u'/' + FinishedBooksName;
}

} // namespace qh
