#include "app/templatecommands.h"
#include "common/error.h"
#include "common/textfile.h"
#include "core/queuecommands.h"
#include "templates/selection.h"
#include "templates/templatechooser.h"
#include "templates/templatefile.h"
#include "templates/templatestore.h"

#include "support/testutils.h"

#include <QFile>

#include <functional>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace qh;
using app::TemplateCommands;
using templates::TemplateStore;

namespace {

class FixedScheduler final : public app::SchedulerState
{
public:
    bool isGrabbing() const override { return grabbing; }
    bool grabbing = false;
};

// Answers the file dialogs from a script and records what the commands asked and said.
class ScriptedUi final : public app::TemplateCommandsUi
{
public:
    void ShowMsg(const QString &text) override { messages << text; }
    QString getOpenFileName(const QString &filter) override
    {
        asked << filter;
        if (whileOpen)
            whileOpen();
        return openAnswer;
    }
    QString getSaveFileName(const QString &filter, const QString &suffix) override
    {
        asked << filter + u" ."_s + suffix;
        return saveAnswer;
    }

    QString openAnswer;
    QString saveAnswer;
    // What the event loop does while the open dialog shows.
    std::function<void()> whileOpen;
    QStringList asked;
    QStringList messages;
};

const QString Sep = u"@@@@@@@@@@"_s;

TemplateStore storeOf(const QStringList &names)
{
    QStringList lines;
    for (const QString &name : names)
        lines << Sep << u"name="_s + name << u"head=http://"_s + name + u".example"_s << u"linkname=下一页"_s;
    return TemplateStore(lines);
}

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A store and chooser holding two templates, saved as system.tpe in a temporary folder.
class TemplateCommandsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        store = storeOf({u"甲"_s, u"乙"_s});
        templates::SaveTemplateFile(systemFile(), store);
        templates::fillTemplateChooser(chooser, store);
        chooser.setCurrentIndex(0);
    }

    QString systemFile() const { return folder.filePath(u"system.tpe"_s); }
    TemplateCommands commands() { return TemplateCommands(store, chooser, scheduler, ui, systemFile()); }

    QTemporaryDir folder;
    TemplateStore store;
    templates::ListTemplateChooser chooser;
    FixedScheduler scheduler;
    ScriptedUi ui;
};

// While a book is being grabbed, every template command only says so: no dialog, no change to store or file.
TEST_F(TemplateCommandsTest, RefuseWhileABookIsGrabbed)
{
    scheduler.grabbing = true;
    ui.openAnswer = test::dataPath(u"tpe-handmade.tpe"_s);
    ui.saveAnswer = folder.filePath(u"out.tpe"_s);
    const QByteArray before = bytesOf(systemFile());
    const TemplateStore storeBefore = store;

    for (auto command : {&TemplateCommands::N24Click, &TemplateCommands::N25Click, &TemplateCommands::N26Click}) {
        ui.messages.clear();
        auto c = commands();
        (c.*command)();
        EXPECT_EQ(ui.messages, QStringList{app::StopFirstMessage});
    }
    EXPECT_TRUE(ui.asked.isEmpty());
    EXPECT_EQ(store, storeBefore);
    EXPECT_EQ(bytesOf(systemFile()), before);
    EXPECT_FALSE(QFile::exists(ui.saveAnswer));
}

// The file dialog runs the event loop: a book that starts while it shows makes the import refuse after all, before
// store or file change.
TEST_F(TemplateCommandsTest, ImportRefusesWhenABookStartsDuringTheFileDialog)
{
    ui.openAnswer = test::dataPath(u"tpe-handmade.tpe"_s);
    ui.whileOpen = [this] { scheduler.grabbing = true; };
    const QByteArray before = bytesOf(systemFile());
    const TemplateStore storeBefore = store;

    commands().N25Click();

    EXPECT_EQ(ui.asked.size(), 1);
    EXPECT_EQ(ui.messages, QStringList{app::StopFirstMessage});
    EXPECT_EQ(store, storeBefore);
    EXPECT_EQ(bytesOf(systemFile()), before);
}

// Import copies the chosen file byte for byte over system.tpe, replaces the whole store and selects "自动".
TEST_F(TemplateCommandsTest, ImportReplacesStoreAndFile)
{
    ui.openAnswer = test::dataPath(u"tpe-handmade.tpe"_s);
    chooser.setCurrentIndex(2);

    commands().N25Click();

    EXPECT_EQ(ui.asked, QStringList{app::TemplateFileFilter});
    EXPECT_EQ(bytesOf(systemFile()), bytesOf(ui.openAnswer));
    EXPECT_EQ(store, templates::LoadTemplateFile(ui.openAnswer));
    EXPECT_EQ(chooser.itemText(0), u"自动"_s);
    EXPECT_EQ(chooser.count(), store.ListTemplateNames(true).size());
    EXPECT_EQ(chooser.currentIndex(), 0);
}

// A file that is no template file is refused with its error before anything changes; so is a good file that
// cannot be copied over system.tpe, so the store never holds what the next start would not find.
TEST_F(TemplateCommandsTest, ImportOfABadFileOrAFailedCopyChangesNothing)
{
    const QString blocker = folder.filePath(u"not-a-folder"_s);
    text::writeFileAtomically(blocker, "x");
    const struct
    {
        QString chosen;
        QString target;
    } cases[] = {
        {test::dataPath(u"broken-tpe-badpair.tpe"_s), systemFile()},
        {test::dataPath(u"broken-tpe-empty.tpe"_s), systemFile()},
        {test::dataPath(u"broken-tpe-seed-only-digit.tpe"_s), systemFile()},
        {test::dataPath(u"broken-tpe-utf8-text.tpe"_s), systemFile()},
        {folder.filePath(u"missing.tpe"_s), systemFile()},
        {test::dataPath(u"tpe-handmade.tpe"_s), blocker + u"/system.tpe"_s},
    };
    const QByteArray before = bytesOf(systemFile());
    const TemplateStore storeBefore = store;
    chooser.setCurrentIndex(1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.chosen.toStdString());
        ui.openAnswer = c.chosen;
        TemplateCommands importer(store, chooser, scheduler, ui, c.target);
        EXPECT_THROW(importer.N25Click(), Error);
        EXPECT_EQ(store, storeBefore);
        EXPECT_EQ(bytesOf(systemFile()), before);
        EXPECT_EQ(chooser.currentIndex(), 1);
    }
}

// A cancelled dialog changes nothing.
TEST_F(TemplateCommandsTest, CancelledDialogsChangeNothing)
{
    const QByteArray before = bytesOf(systemFile());
    commands().N25Click();
    commands().N26Click();
    EXPECT_EQ(ui.asked.size(), 2);
    EXPECT_EQ(ui.asked.last(), app::TemplateFileFilter + u" .tpe"_s);
    EXPECT_EQ(bytesOf(systemFile()), before);
    EXPECT_TRUE(ui.messages.isEmpty());
}

// Export copies system.tpe byte for byte, over an existing file; exporting and importing again gives the same
// system.tpe, as the file is copied, not scrambled anew.
TEST_F(TemplateCommandsTest, ExportAndReimportAreByteIdentical)
{
    const QByteArray original = bytesOf(systemFile());
    ui.saveAnswer = folder.filePath(u"shared.tpe"_s);
    text::writeFileAtomically(ui.saveAnswer, "older content that is longer than nothing");

    commands().N26Click();
    EXPECT_EQ(bytesOf(ui.saveAnswer), original);

    store = storeOf({u"丙"_s});
    templates::SaveTemplateFile(systemFile(), store);
    ui.openAnswer = ui.saveAnswer;
    commands().N25Click();
    EXPECT_EQ(bytesOf(systemFile()), original);
    EXPECT_EQ(store.ListTemplateNames(false), (QStringList{u"甲"_s, u"乙"_s}));
}

// Export says so when there is no template file, and reports a copy that fails instead of passing over it.
TEST_F(TemplateCommandsTest, ExportFailuresAreReported)
{
    const QString blocker = folder.filePath(u"not-a-folder"_s);
    text::writeFileAtomically(blocker, "x");
    ui.saveAnswer = blocker + u"/out.tpe"_s;
    EXPECT_THROW(commands().N26Click(), Error);

    QFile::remove(systemFile());
    ui.asked.clear();
    commands().N26Click();
    EXPECT_EQ(ui.messages, QStringList{app::NothingToExportMessage});
    EXPECT_TRUE(ui.asked.isEmpty());
}

// An imported file may hold two templates of one name: both are kept, nothing is merged.
TEST_F(TemplateCommandsTest, ImportKeepsDuplicateNames)
{
    const QString twins = folder.filePath(u"twins.tpe"_s);
    templates::SaveTemplateFile(twins, storeOf({u"同名"_s, u"同名"_s}));
    ui.openAnswer = twins;

    commands().N25Click();

    EXPECT_EQ(store.ListTemplateNames(true), (QStringList{u"自动"_s, u"同名"_s, u"同名"_s}));
    EXPECT_EQ(chooser.count(), 3);
}

// "定制" points to the command line and then reloads the store from system.tpe, keeping the chosen template when
// it is still there and selecting nothing (automatic) when it was deleted.
TEST_F(TemplateCommandsTest, DefineReloadsTheStoreKeepingTheChoice)
{
    const struct
    {
        QStringList namesInFile;
        int expectedIndex;
    } cases[] = {
        {{u"丙"_s, u"乙"_s}, 2},
        {{u"丙"_s}, -1},
    };
    for (const auto &c : cases) {
        templates::fillTemplateChooser(chooser, storeOf({u"甲"_s, u"乙"_s}));
        chooser.setCurrentIndex(2); // 乙
        templates::SaveTemplateFile(systemFile(), storeOf(c.namesInFile));
        ui.messages.clear();

        commands().N24Click();

        EXPECT_EQ(ui.messages, QStringList{app::WizardMissingMessage});
        EXPECT_EQ(store, storeOf(c.namesInFile));
        EXPECT_EQ(chooser.count(), c.namesInFile.size() + 1);
        EXPECT_EQ(chooser.currentIndex(), c.expectedIndex);
    }
}

} // namespace
