#include "common/installlayout.h"
#include "support/testutils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using qh::InstallLayout;
using Folder = qh::InstallLayout::Folder;

namespace {

// A temporary folder in which each case lays out the folders and files it names.
class InstallLayoutTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_root.isValid()); }

    QString path(const QString &relative) const { return QDir::cleanPath(m_root.path() + u'/' + relative); }
    QString bin(const QString &prefix) const
    {
        return path(prefix + u'/' + InstallLayout::relativeFolder(Folder::Bin));
    }
    QString installed(const QString &prefix, Folder folder, const QString &name = QString()) const
    {
        return path(prefix + u'/' + InstallLayout::relativeFolder(folder) + u'/' + name);
    }
    void makeFolder(const QString &folder) { ASSERT_TRUE(QDir().mkpath(folder)) << folder.toStdString(); }
    void touch(const QString &file)
    {
        makeFolder(QFileInfo(file).path());
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly)) << file.toStdString();
    }

    QTemporaryDir m_root;
};

} // namespace

// A bin folder is an install's only when the installed data folder sits beside it under the same prefix, so a build
// tree's "bin" or an executable copied elsewhere keeps the portable rules.
TEST_F(InstallLayoutTest, TellsAnInstallFromABuildTree)
{
    struct Case
    {
        const char *what;
        QString executableFolder;
        QString dataFolder; // made before asking; empty for none
        QString prefix;     // expected; empty for not installed
    };
    const QString usrBin = bin(u"usr"_s);
    const Case cases[] = {
        {"installed under usr", usrBin, installed(u"usr"_s, Folder::Data), path(u"usr"_s)},
        {"relocated to opt", bin(u"opt/qh"_s), installed(u"opt/qh"_s, Folder::Data), path(u"opt/qh"_s)},
        {"build tree", bin(u"build"_s), QString(), QString()},
        {"data of another prefix", bin(u"build"_s), installed(u"usr"_s, Folder::Data), QString()},
        {"not a bin folder", path(u"usr/libexec"_s), installed(u"usr"_s, Folder::Data), QString()},
        {"trailing slash and dots", usrBin + u"/../"_s + InstallLayout::relativeFolder(Folder::Bin) + u'/',
         installed(u"usr"_s, Folder::Data), path(u"usr"_s)},
        {"no folder", QString(), QString(), QString()},
    };
    for (const Case &c : cases) {
        QDir(m_root.path()).removeRecursively();
        makeFolder(m_root.path());
        if (!c.executableFolder.isEmpty())
            makeFolder(c.executableFolder);
        if (!c.dataFolder.isEmpty())
            makeFolder(c.dataFolder);
        EXPECT_EQ(InstallLayout::installPrefix(c.executableFolder), c.prefix) << c.what;
        EXPECT_EQ(InstallLayout::isInstalled(c.executableFolder), !c.prefix.isEmpty()) << c.what;
    }
}

// A file next to the executable wins (a build tree, a portable copy); else the installed one is used; a file in
// an installed folder is not used for an executable that is not installed.
TEST_F(InstallLayoutTest, FindsFilesBesideTheExecutableThenInstalled)
{
    const QString name = u"help.html"_s;
    const QString usrBin = bin(u"usr"_s);
    makeFolder(usrBin);
    makeFolder(bin(u"build"_s));
    EXPECT_EQ(InstallLayout::findFile(usrBin, Folder::Data, name), QString()) << "nothing anywhere";

    touch(installed(u"usr"_s, Folder::Data, name));
    touch(installed(u"usr"_s, Folder::Plugin, u"plugin.so"_s));
    EXPECT_EQ(InstallLayout::findFile(usrBin, Folder::Data, name), installed(u"usr"_s, Folder::Data, name));
    EXPECT_EQ(InstallLayout::findFile(usrBin, Folder::Plugin, u"plugin.so"_s),
              installed(u"usr"_s, Folder::Plugin, u"plugin.so"_s));
    EXPECT_EQ(InstallLayout::findFile(usrBin, Folder::Plugin, name), QString()) << "only in the other folder";
    EXPECT_EQ(InstallLayout::findFile(bin(u"build"_s), Folder::Data, name), QString()) << "build tree";

    touch(usrBin + u'/' + name);
    EXPECT_EQ(InstallLayout::findFile(usrBin, Folder::Data, name), usrBin + u'/' + name);
}

// The installed folders are relative, so that a moved install finds its files from the executable.
TEST(InstallLayoutFolders, AreRelativeToThePrefix)
{
    for (const Folder folder : {Folder::Bin, Folder::Data, Folder::Plugin}) {
        const QString relative = InstallLayout::relativeFolder(folder);
        EXPECT_FALSE(relative.isEmpty());
        EXPECT_TRUE(QDir::isRelativePath(relative)) << relative.toStdString();
    }
    EXPECT_TRUE(InstallLayout::relativeFolder(Folder::Data).endsWith(u"quillhaul"_s));
    EXPECT_TRUE(InstallLayout::relativeFolder(Folder::Plugin).endsWith(u"quillhaul"_s));
}
