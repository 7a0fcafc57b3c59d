#pragma once

#include <QString>

namespace qh {

// Where an installed program keeps its read-only files, relative to the install prefix, and how to find them from
// the executable's folder so that a relocated install works too. The folders come from the build's install
// settings (GNUInstallDirs). A build tree, or a portable copy, has its files next to the executable instead.
class InstallLayout
{
public:
    // Which of the installed folders a file belongs to.
    enum class Folder
    {
        Bin,    // <prefix>/bin: the executables
        Data,   // <prefix>/share/quillhaul: the help document
        Plugin, // <prefix>/lib/<multiarch>/quillhaul: the web-engine plugin
    };

    // The install prefix that holds an executable in executableFolder, or an empty string when that folder is not
    // an install's bin folder (no <prefix>/share/quillhaul beside it): a build tree or a portable copy.
    static QString installPrefix(const QString &executableFolder);

    // Whether executableFolder is an install's bin folder. Such a folder is shared with other programs, so the
    // program never keeps its data there.
    static bool isInstalled(const QString &executableFolder) { return !installPrefix(executableFolder).isEmpty(); }

    // The path of the file named name: next to the executable when there, else in its installed folder when
    // there; an empty string when neither exists.
    static QString findFile(const QString &executableFolder, Folder folder, const QString &name);

    // The same for the running program.
    static QString findFile(Folder folder, const QString &name);

    // The installed folder, relative to the prefix.
    static QString relativeFolder(Folder folder);
};

} // namespace qh
