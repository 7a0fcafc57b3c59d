#pragma once

#include <QString>

namespace qh {

// The folder that holds the program's own files ("SysCfg.ini", "downlist.dat", "system.tpe" and "temp"). This is
// the one place that decides where it is:
//   1. the folder given with --data-dir;
//   2. the executable's folder when it already holds one of those files (a portable install), unless the
//      executable is installed under a prefix (see InstallLayout);
//   3. otherwise the per-user data folder, "quillhaul" under the platform's generic data location
//      (~/.local/share/quillhaul on Linux), so that cleaning a build folder never deletes a user's queue and
//      templates.
// Paths use "/" and are absolute.
class DataFolder
{
public:
    // Decides as above for the running program and creates the folder when missing. Throws qh::Error when the
    // folder cannot be created.
    static DataFolder locate(const QString &overrideFolder = QString());

    // The same decision with the executable's folder and the per-user folder given, for tests.
    static DataFolder locate(const QString &overrideFolder, const QString &executableFolder, const QString &userFolder);

    // The per-user folder of rule 3.
    static QString userFolder();

    const QString &path() const { return m_path; }
    QString settingsFile() const;
    QString bookListFile() const;
    QString templateFile() const;
    QString tempFolder() const;
    // "finished.dat": the books grabbed to their end, for their updates.
    QString finishedBooksFile() const;

private:
    explicit DataFolder(QString path) : m_path(std::move(path)) {}

    QString m_path;
};

} // namespace qh
