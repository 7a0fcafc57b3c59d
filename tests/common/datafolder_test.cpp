#include "common/datafolder.h"
#include "common/error.h"
#include "support/testutils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using qh::DataFolder;

namespace {

// An executable's folder and a per-user folder, both in a temporary folder; the per-user one does not exist yet.
class DataFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        ASSERT_TRUE(QDir(m_root.path()).mkpath(u"bin"_s));
    }
    QString exeFolder() const { return m_root.filePath(u"bin"_s); }
    QString userFolder() const { return m_root.filePath(u"share/quillhaul"_s); }
    void touch(const QString &path)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    QTemporaryDir m_root;
};

} // namespace

// Without a trace of a portable install, the per-user folder is used and created.
TEST_F(DataFolderTest, UsesThePerUserFolderByDefault)
{
    const DataFolder folder = DataFolder::locate(QString(), exeFolder(), userFolder());
    EXPECT_EQ(folder.path(), userFolder());
    EXPECT_TRUE(QFileInfo(userFolder()).isDir());
    EXPECT_EQ(folder.settingsFile(), userFolder() + u"/SysCfg.ini"_s);
    EXPECT_EQ(folder.bookListFile(), userFolder() + u"/downlist.dat"_s);
    EXPECT_EQ(folder.templateFile(), userFolder() + u"/system.tpe"_s);
    EXPECT_EQ(folder.tempFolder(), userFolder() + u"/temp"_s);
}

// Any one of the program's files, or a "temp" folder, next to the executable marks a portable install.
TEST_F(DataFolderTest, KeepsAPortableInstallNextToTheExecutable)
{
    for (const QString &marker : {u"SysCfg.ini"_s, u"downlist.dat"_s, u"system.tpe"_s}) {
        touch(exeFolder() + u'/' + marker);
        EXPECT_EQ(DataFolder::locate(QString(), exeFolder(), userFolder()).path(), exeFolder()) << marker.toStdString();
        QFile::remove(exeFolder() + u'/' + marker);
    }
    ASSERT_TRUE(QDir(exeFolder()).mkdir(u"temp"_s));
    EXPECT_EQ(DataFolder::locate(QString(), exeFolder(), userFolder()).path(), exeFolder());
}

// A file merely named "temp", or an unrelated file, is no portable install.
TEST_F(DataFolderTest, IgnoresOtherFilesNextToTheExecutable)
{
    touch(exeFolder() + u"/temp"_s);
    touch(exeFolder() + u"/quillhaul-cli"_s);
    EXPECT_EQ(DataFolder::locate(QString(), exeFolder(), userFolder()).path(), userFolder());
}

// --data-dir wins over a portable install; a relative one is made absolute and created.
TEST_F(DataFolderTest, OverrideWins)
{
    touch(exeFolder() + u"/system.tpe"_s);
    const QString wanted = m_root.filePath(u"chosen/data"_s);
    EXPECT_EQ(DataFolder::locate(wanted, exeFolder(), userFolder()).path(), wanted);
    EXPECT_TRUE(QFileInfo(wanted).isDir());

    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_root.path()));
    const QString relative = DataFolder::locate(u"rel/./dir/"_s, exeFolder(), userFolder()).path();
    QDir::setCurrent(previous);
    EXPECT_EQ(relative, QDir(m_root.path()).canonicalPath() + u"/rel/dir"_s);
}

// A data folder that cannot be created is an error naming it.
TEST_F(DataFolderTest, UncreatableFolderIsAnError)
{
    touch(m_root.filePath(u"blocker"_s));
    const QString wanted = m_root.filePath(u"blocker/data"_s);
    try {
        DataFolder::locate(wanted, exeFolder(), userFolder());
        FAIL() << "no error";
    } catch (const qh::Error &error) {
        EXPECT_TRUE(error.message().contains(QDir::toNativeSeparators(wanted))) << error.message().toStdString();
    }
}

// The running program's per-user folder is "quillhaul" under the generic data location.
TEST(DataFolderUserTest, PerUserFolderIsNamedAfterTheProgram)
{
    EXPECT_TRUE(DataFolder::userFolder().endsWith(u"/quillhaul"_s));
}
