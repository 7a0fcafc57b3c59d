#include "app/templatewizard.h"

#include "app/templatecommands.h"
#include "common/error.h"
#include "common/textfile.h"
#include "core/queuecommands.h"
#include "templates/sitehead.h"
#include "templates/templatechooser.h"
#include "templates/templatefile.h"
#include "templates/templatestore.h"

#include "demo/httpserver.h"
#include "gui/testenvironment.h"
#include "support/testutils.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>

using namespace Qt::StringLiterals;
using namespace qh;
using app::TemplateWizard;
namespace msg = app::wizardtext;
namespace state = app::wizardstate;

namespace {

// Element positions in FixturePage, in document order.
enum Pos
{
    Html = 0,
    Head,
    Title,
    Body,
    Box,
    H1,
    Table,
    Tbody,
    Tr,
    Td,
    Bold,
    Para,
    Link,
    Font,
};

const QByteArray FixturePage = "<html><head><title>t</title></head><body><div id=box><h1>第一章 开端</h1>"
                               "<table><tr><td>正文<b>粗</b></td></tr></table>"
                               "<p><a href=/2><font>下一页</font></a></p></div></body></html>";

// Answers the wizard's dialogs from a script and records what it was shown.
class ScriptedUi final : public app::TemplateWizardUi
{
public:
    void ShowMsg(const QString &text) override { messages << text; }
    QString InputText(const QString &caption, const QString &, const QString &defaultText) override
    {
        inputs << caption;
        return nameAnswer.value_or(defaultText);
    }
    bool askYesNo(const QString &, const QString &text) override
    {
        questions << text;
        return yesAnswer;
    }
    void showPage(const QString &html, const QUrl &base) override
    {
        shownHtml = html;
        shownBase = base;
        shownWebPage = nullptr;
    }
    void showWebPage(QWebEnginePage *page) override { shownWebPage = page; }

    QStringList messages;
    QStringList inputs;
    QStringList questions;
    std::optional<QString> nameAnswer;
    bool yesAnswer = true;
    QString shownHtml;
    QUrl shownBase;
    QWebEnginePage *shownWebPage = nullptr;
};

// Runs the event loop until condition holds or timeoutMs have passed. Unlike QTest::qWaitFor, which sleeps between
// rounds of events, this lets Chromium's many small tasks run back to back: a page load takes tens of milliseconds
// instead of over a second.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10'000)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return condition();
}

class WizardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        server.setPage(u"/page"_s, FixturePage);
        wizard.setSettleDelay(std::chrono::milliseconds(0));
    }

    QString templateFile() const { return folder.filePath(u"system.tpe"_s); }
    QString pageUrl() const { return server.url(u"/page"_s).toString(); }

    // The fixture loaded and shown: "开始定义" is enabled.
    void loadPage()
    {
        ui.shownHtml.clear();
        wizard.setAddress(pageUrl());
        wizard.BBtnGoClick();
        ASSERT_TRUE(waitFor([&] { return !ui.shownHtml.isEmpty(); }));
        wizard.pageShown(true);
        ASSERT_TRUE(waitFor([&] { return wizard.view().beginEnabled; }));
    }

    // Title, text (a click on the bold word, widened once to its cell) and link captured.
    void defineAll()
    {
        loadPage();
        wizard.BBtnBeginClick();
        wizard.elementClicked(H1, u"H1"_s);
        wizard.BBtnYesClick();
        wizard.elementClicked(Bold, u"B"_s);
        wizard.BBtnNoClick();
        wizard.BBtnYesClick();
        wizard.elementClicked(Font, u"FONT"_s);
    }

    templates::TemplateStore savedStore() const { return templates::LoadTemplateFile(templateFile()); }

    QString savedValue(const QString &name, const QString &key) const
    {
        QString found = name;
        return savedStore().ReadTemplateParam(QString(), key, found);
    }

    void saveStore(const QStringList &names) const
    {
        templates::TemplateStore store;
        for (const QString &name : names) {
            store.AddTemplateRecord(name, u"http://"_s + name + u".example"_s);
            store.WriteTemplateParam(name, QString(), u"ititleindex"_s, u"7"_s);
        }
        templates::SaveTemplateFile(templateFile(), store);
    }

    QTemporaryDir folder;
    demo::HttpServer server;
    ScriptedUi ui;
    TemplateWizard wizard{ui, folder.filePath(u"system.tpe"_s)};
};

} // namespace

// "转到" takes http:// and https:// addresses in any letter case and refuses others, naming both schemes.
TEST_F(WizardTest, GoAcceptsOnlyWebAddresses)
{
    const struct
    {
        QString address;
        bool accepted;
    } cases[] = {
        {u"HTTP://127.0.0.1:1/a"_s, true},
        {u"hTTps://127.0.0.1:1/a"_s, true},
        {u"ftp://x/a"_s, false},
        {u"www.example.com"_s, false},
        {QString(), false},
        {u"http:/x"_s, false},
    };
    for (const auto &c : cases) {
        ui.messages.clear();
        TemplateWizard fresh(ui, templateFile());
        fresh.setAddress(c.address);
        fresh.BBtnGoClick();
        EXPECT_EQ(fresh.WizardState(), c.accepted ? state::Loading : QString()) << c.address.toStdString();
        EXPECT_EQ(ui.messages, c.accepted ? QStringList() : QStringList{msg::NeedHttp}) << c.address.toStdString();
    }
}

// The view gets the page text as the static engine decoded it, with the page's address as base; "开始定义" is
// enabled only once the view has the page.
TEST_F(WizardTest, LoadShowsTheStaticTextThenEnablesBegin)
{
    wizard.setAddress(pageUrl());
    wizard.BBtnGoClick();
    EXPECT_EQ(wizard.view().help, msg::Loading);
    ASSERT_TRUE(waitFor([&] { return !ui.shownHtml.isEmpty(); }));
    EXPECT_EQ(ui.shownHtml, QString::fromUtf8(FixturePage));
    EXPECT_EQ(ui.shownBase, server.url(u"/page"_s));
    EXPECT_FALSE(wizard.view().beginEnabled);
    wizard.pageShown(true);
    ASSERT_TRUE(waitFor([&] { return wizard.view().beginEnabled; }));
    EXPECT_EQ(wizard.view().help, msg::Loaded);
    EXPECT_EQ(wizard.WizardState(), state::Loading);
}

// A page with a linked style sheet is shown as it came, too: the document the browser hands out once the sheet is
// in is built around the same parse.
TEST_F(WizardTest, PageWithLinkedSheetIsShown)
{
    const QByteArray page = "<html><head><link rel=stylesheet href=/site.css></head><body><p>正文<span class=x>广告"
                            "</span></p></body></html>";
    server.setPage(u"/styled"_s, page);
    server.setResponse(u"/site.css"_s, qh::demo::HttpResponse::page(".x{display:none}", "text/css"));
    wizard.setAddress(server.url(u"/styled"_s).toString());
    wizard.BBtnGoClick();
    ASSERT_TRUE(waitFor([&] { return !ui.shownHtml.isEmpty(); }));
    EXPECT_EQ(ui.shownHtml, QString::fromUtf8(page));
    EXPECT_EQ(server.requestCount(u"/site.css"_s), 1);
}

// A page that cannot be fetched is reported and "开始定义" stays off.
TEST_F(WizardTest, FailedLoadIsReported)
{
    wizard.setAddress(server.url(u"/missing"_s).toString());
    wizard.BBtnGoClick();
    ASSERT_TRUE(waitFor([&] { return !ui.messages.isEmpty(); }));
    EXPECT_TRUE(ui.messages.first().contains(u"/missing"_s)) << ui.messages.first().toStdString();
    EXPECT_FALSE(wizard.view().beginEnabled);
    EXPECT_EQ(wizard.view().help, msg::StartHelp);
}

// A whole definition: "是" at once records the clicked title; "否" widens the text from a bold word to its table
// cell, whose parent is the row; a click inside a link records the link's whole inner markup; then the save.
TEST_F(WizardTest, DefinitionRecordsPositionsAndSaves)
{
    loadPage();
    wizard.BBtnBeginClick();
    EXPECT_EQ(wizard.view().beginCaption, msg::RestartCaption);
    EXPECT_FALSE(wizard.view().beginEnabled);
    EXPECT_EQ(wizard.view().help, msg::ClickTitle);
    EXPECT_TRUE(wizard.capturesClicks());

    wizard.elementClicked(H1, u"H1"_s);
    EXPECT_TRUE(wizard.view().questionVisible);
    EXPECT_EQ(wizard.view().help, msg::CheckTitle);
    EXPECT_EQ(wizard.view().titleText, u"第一章 开端"_s);
    wizard.BBtnYesClick();
    EXPECT_FALSE(wizard.view().questionVisible);
    EXPECT_EQ(wizard.WizardState(), state::Content);
    EXPECT_EQ(wizard.view().help, msg::ClickContent);

    wizard.elementClicked(Bold, u"B"_s);
    EXPECT_EQ(wizard.view().contentText, u"粗"_s);
    EXPECT_EQ(wizard.view().help, msg::CheckContent);
    wizard.BBtnNoClick();
    EXPECT_TRUE(wizard.view().questionVisible);
    EXPECT_EQ(wizard.view().contentText, u"正文粗"_s);
    wizard.BBtnYesClick();
    EXPECT_EQ(wizard.WizardState(), state::Link);
    EXPECT_EQ(wizard.view().help, msg::ClickLink);

    wizard.elementClicked(Font, u"FONT"_s);
    EXPECT_EQ(wizard.WizardState(), state::Save);
    EXPECT_TRUE(wizard.view().saveEnabled);
    EXPECT_FALSE(wizard.view().beginEnabled);
    EXPECT_FALSE(wizard.capturesClicks());
    EXPECT_EQ(wizard.view().help, msg::ReadyToSave);
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(u'|').toStdString();

    const templates::TemplateValues &v = wizard.values();
    EXPECT_EQ(v.ititleindex, H1);
    EXPECT_EQ(v.sTitleTagname, u"H1"_s);
    EXPECT_EQ(v.icontentindex, Td);
    EXPECT_EQ(v.iparentindex, Tr);
    EXPECT_EQ(v.sContentTagname, u"TD"_s);
    EXPECT_EQ(v.linkname, u"<font>下一页</font>"_s);

    ui.nameAnswer = u"样例"_s;
    wizard.BBtnSaveClick();
    EXPECT_EQ(ui.inputs, QStringList{msg::NameCaption});
    const QStringList expected = {
        u"@@@@@@@@@@"_s,
        u"name=样例"_s,
        u"head="_s + templates::SiteHeadOf(pageUrl()),
        u"linkname=<font>下一页</font>"_s,
        u"ititleindex=%1"_s.arg(int(H1)),
        u"icontentindex=%1"_s.arg(int(Td)),
        u"iparentindex=%1"_s.arg(int(Tr)),
        u"sContentTagname=TD"_s,
        u"sTitleTagname=H1"_s,
        // What the three elements are like, up to the nearest ancestor with an id.
        u"sTitleAnchor=1|H1;;;;|DIV;box;"_s,
        u"sContentAnchor=1|TD;;;;|TR;;|TBODY;;|TABLE;;|DIV;box;"_s,
        u"sLinkAnchor=1|A;;;;下一页|P;;|DIV;box;"_s,
    };
    EXPECT_EQ(savedStore().lines(), expected);
    EXPECT_EQ(wizard.listNames(), QStringList{u"样例"_s});
    EXPECT_FALSE(wizard.view().saveEnabled);
    EXPECT_FALSE(wizard.view().beginEnabled);
    EXPECT_EQ(wizard.view().beginCaption, msg::BeginCaption);
    EXPECT_EQ(wizard.view().help, msg::StartHelp);
}

// A click whose element has another tag in the view than in the grabber's document records nothing.
TEST_F(WizardTest, TagMismatchRecordsNothing)
{
    loadPage();
    wizard.BBtnBeginClick();
    // 99 is past the page's last element; as an int, since Pos cannot hold it.
    for (const auto &[index, tag] : {std::pair{int(H1), u"DIV"_s}, std::pair{99, u"P"_s}}) {
        ui.messages.clear();
        wizard.elementClicked(index, tag);
        EXPECT_EQ(ui.messages, QStringList{msg::Mismatch});
        EXPECT_FALSE(wizard.view().questionVisible);
        EXPECT_EQ(wizard.WizardState(), state::Title);
    }
    // Letter case of the view's tag does not matter.
    wizard.elementClicked(H1, u"h1"_s);
    EXPECT_TRUE(wizard.view().questionVisible);
}

// Clicks count only in the three capture states and not while a question is open; a click on no element, or a
// root element, finds no title.
TEST_F(WizardTest, ClicksOutsideCapturesAndDuringQuestionsAreIgnored)
{
    loadPage();
    EXPECT_FALSE(wizard.capturesClicks());
    wizard.elementClicked(H1, u"H1"_s);
    EXPECT_FALSE(wizard.view().questionVisible);

    wizard.BBtnBeginClick();
    wizard.elementClicked(-1, QString());
    EXPECT_EQ(ui.messages, QStringList{msg::NoTitle});

    wizard.elementClicked(H1, u"H1"_s);
    wizard.elementClicked(Bold, u"B"_s); // ignored: the question about the title is open
    EXPECT_EQ(wizard.view().titleText, u"第一章 开端"_s);
    wizard.BBtnYesClick();
    EXPECT_EQ(wizard.values().ititleindex, H1);
}

// "否" up to the root says the click was not the title and finds none; "是" on the root finds none either. The
// step keeps waiting.
TEST_F(WizardTest, NoAtTheRootFindsNothing)
{
    loadPage();
    wizard.BBtnBeginClick();
    wizard.elementClicked(Body, u"BODY"_s);
    wizard.BBtnNoClick();
    EXPECT_TRUE(wizard.view().questionVisible); // now about the html element
    wizard.BBtnNoClick();
    EXPECT_EQ(ui.messages, (QStringList{msg::NotTitle, msg::NoTitle}));
    EXPECT_FALSE(wizard.view().questionVisible);
    EXPECT_EQ(wizard.WizardState(), state::Title);

    ui.messages.clear();
    wizard.elementClicked(Html, u"HTML"_s);
    wizard.BBtnYesClick();
    EXPECT_EQ(ui.messages, QStringList{msg::NoTitle});
    EXPECT_EQ(wizard.WizardState(), state::Title);
}

// "取消" ends the sequence with the interruption prompt and the step's not-found message; values recorded before
// stay, and "重新开始" is enabled.
TEST_F(WizardTest, CancelEndsTheSequenceKeepingEarlierValues)
{
    loadPage();
    wizard.BBtnBeginClick();
    wizard.elementClicked(H1, u"H1"_s);
    wizard.BBtnYesClick();
    wizard.elementClicked(Td, u"TD"_s);
    wizard.BtnCancelClick();
    EXPECT_EQ(wizard.WizardState(), state::Aborted);
    EXPECT_EQ(wizard.view().help, msg::Interrupted);
    EXPECT_EQ(ui.messages, QStringList{msg::NoContent});
    EXPECT_FALSE(wizard.view().questionVisible);
    EXPECT_TRUE(wizard.view().beginEnabled);
    EXPECT_EQ(wizard.view().beginCaption, msg::RestartCaption);
    EXPECT_EQ(wizard.values().ititleindex, H1);
    EXPECT_EQ(wizard.values().icontentindex, -1);
    EXPECT_FALSE(wizard.capturesClicks());
}

// "转到" ends a running sequence: its clicks are no longer taken.
TEST_F(WizardTest, GoEndsARunningSequence)
{
    loadPage();
    wizard.BBtnBeginClick();
    wizard.elementClicked(H1, u"H1"_s);
    wizard.BBtnGoClick();
    EXPECT_EQ(wizard.WizardState(), state::Loading);
    EXPECT_FALSE(wizard.view().questionVisible);
    EXPECT_FALSE(wizard.capturesClicks());
    wizard.BBtnYesClick();
    EXPECT_EQ(wizard.values().ititleindex, -1);
}

// The save refuses an empty name; "否" to the replace question keeps the file; "是" replaces the values keeping
// the template's place and head; a new template takes its head from the address box at the time of saving.
TEST_F(WizardTest, SaveAsksForANameAndBeforeReplacing)
{
    saveStore({u"甲"_s, u"乙"_s});
    defineAll();

    ui.nameAnswer = QString();
    wizard.BBtnSaveClick();
    EXPECT_EQ(ui.messages, QStringList{msg::NeedName});
    EXPECT_TRUE(wizard.view().saveEnabled);

    const QByteArray before = text::readFile(templateFile(), 1 << 20);
    ui.nameAnswer = u"甲"_s;
    ui.yesAnswer = false;
    wizard.BBtnSaveClick();
    EXPECT_EQ(ui.questions, QStringList{msg::Replace});
    EXPECT_EQ(text::readFile(templateFile(), 1 << 20), before);
    EXPECT_TRUE(wizard.view().saveEnabled);

    ui.yesAnswer = true;
    wizard.BBtnSaveClick();
    EXPECT_EQ(savedStore().ListTemplateNames(false), (QStringList{u"甲"_s, u"乙"_s}));
    EXPECT_EQ(savedStore().ListTemplateHeads().first(), u"http://甲.example"_s);
    EXPECT_EQ(savedValue(u"甲"_s, u"icontentindex"_s), QString::number(Td));

    defineAll();
    wizard.setAddress(u"https://Other.Example/book/1.html"_s);
    ui.nameAnswer = u"丙"_s;
    wizard.BBtnSaveClick();
    EXPECT_EQ(savedStore().ListTemplateHeads().last(), u"https://other.example"_s);

    // A head that would match no page is not written.
    defineAll();
    wizard.setAddress(u"not an address"_s);
    ui.messages.clear();
    ui.nameAnswer = u"丁"_s;
    wizard.BBtnSaveClick();
    EXPECT_EQ(ui.messages, QStringList{msg::NeedHttp});
    EXPECT_FALSE(savedStore().FindTemplateByName(u"丁"_s));
}

// Without "system.tpe" the save creates it with the one template.
TEST_F(WizardTest, SaveCreatesTheTemplateFile)
{
    defineAll();
    ui.nameAnswer = u"新"_s;
    wizard.BBtnSaveClick();
    EXPECT_EQ(savedStore().ListTemplateNames(false), QStringList{u"新"_s});
    EXPECT_TRUE(ui.questions.isEmpty());
}

// A definition restarted after an unsaved complete one keeps "保存模板" enabled; saving then writes the new title
// with the earlier text and link.
TEST_F(WizardTest, RestartedDefinitionSavesMixedValues)
{
    defineAll();
    loadPage();
    wizard.BBtnBeginClick();
    EXPECT_TRUE(wizard.view().saveEnabled);
    wizard.elementClicked(Para, u"P"_s);
    wizard.BBtnYesClick();
    ui.nameAnswer = u"混"_s;
    wizard.BBtnSaveClick();
    EXPECT_EQ(savedValue(u"混"_s, u"ititleindex"_s), QString::number(Para));
    EXPECT_EQ(savedValue(u"混"_s, u"icontentindex"_s), QString::number(Td));
    EXPECT_EQ(savedValue(u"混"_s, u"linkname"_s), u"<font>下一页</font>"_s);
}

// Opening in new mode clears the address and the candidates and enables the list; in redefine mode the address
// stays, the template in use is selected and the list is disabled; the list buttons do nothing; the save asks
// nothing and overwrites that template's values, keeping its head. Closing goes back to new mode.
TEST_F(WizardTest, RedefineModeKeepsHeadAndList)
{
    saveStore({u"甲"_s, u"乙"_s, u"丙"_s});
    wizard.setAddress(u"http://x/"_s);
    wizard.FormShow();
    wizard.FormActivate();
    EXPECT_EQ(wizard.address(), QString());
    EXPECT_TRUE(wizard.view().listEnabled);
    EXPECT_EQ(wizard.listNames(), (QStringList{u"甲"_s, u"乙"_s, u"丙"_s}));

    QSignalSpy selected(&wizard, &TemplateWizard::selectListRow);
    wizard.setRedefineIndex(2);
    wizard.setAddress(pageUrl());
    wizard.FormShow();
    wizard.FormActivate();
    EXPECT_EQ(wizard.address(), pageUrl());
    EXPECT_FALSE(wizard.view().listEnabled);
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().first().toInt(), 1);

    const QByteArray before = text::readFile(templateFile(), 1 << 20);
    wizard.BtnUpClick(1);
    wizard.BtnDownClick(1);
    wizard.BtnDelClick(1);
    EXPECT_EQ(text::readFile(templateFile(), 1 << 20), before);

    defineAll();
    wizard.BBtnSaveClick();
    EXPECT_TRUE(ui.inputs.isEmpty());
    EXPECT_TRUE(ui.questions.isEmpty());
    EXPECT_EQ(savedStore().ListTemplateNames(false), (QStringList{u"甲"_s, u"乙"_s, u"丙"_s}));
    EXPECT_EQ(savedStore().ListTemplateHeads().at(1), u"http://乙.example"_s);
    EXPECT_EQ(savedValue(u"乙"_s, u"icontentindex"_s), QString::number(Td));
    EXPECT_EQ(savedValue(u"甲"_s, u"icontentindex"_s), u"-1"_s);

    wizard.FormClose();
    EXPECT_EQ(wizard.RedefineIndex(), 0);
    EXPECT_EQ(wizard.WizardState(), state::Aborted);
}

// "上", "下" and "删" change "system.tpe" and the list and select the moved item, the next one after a delete, or
// nothing once the list is empty; moving the first up is refused with the store's message.
TEST_F(WizardTest, ListButtonsMoveAndDelete)
{
    saveStore({u"甲"_s, u"乙"_s});
    wizard.FormActivate();
    QSignalSpy selected(&wizard, &TemplateWizard::selectListRow);
    const auto lastSelected = [&] { return selected.isEmpty() ? -2 : selected.last().first().toInt(); };

    wizard.BtnDownClick(0);
    EXPECT_EQ(savedStore().ListTemplateNames(false), (QStringList{u"乙"_s, u"甲"_s}));
    EXPECT_EQ(wizard.listNames(), (QStringList{u"乙"_s, u"甲"_s}));
    EXPECT_EQ(lastSelected(), 1);

    wizard.BtnUpClick(1);
    EXPECT_EQ(savedStore().ListTemplateNames(false), (QStringList{u"甲"_s, u"乙"_s}));
    EXPECT_EQ(lastSelected(), 0);

    const int signalsBefore = int(selected.size());
    wizard.BtnUpClick(0);
    EXPECT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(selected.size(), signalsBefore);
    wizard.BtnUpClick(-1);
    EXPECT_EQ(ui.messages.size(), 1);

    wizard.BtnDelClick(1);
    EXPECT_EQ(wizard.listNames(), QStringList{u"甲"_s});
    EXPECT_EQ(lastSelected(), 0);
    wizard.BtnDelClick(0);
    EXPECT_TRUE(wizard.listNames().isEmpty());
    EXPECT_EQ(lastSelected(), -1);
    EXPECT_TRUE(savedStore().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(templateFile()));
}

// A broken "system.tpe" ends the opening and the save with its error, and is not written.
TEST_F(WizardTest, BrokenTemplateFileIsNotWritten)
{
    text::writeFileAtomically(templateFile(), "XYZ\r\n");
    EXPECT_THROW(wizard.FormActivate(), Error);
    defineAll();
    ui.nameAnswer = u"名"_s;
    EXPECT_THROW(wizard.BBtnSaveClick(), Error);
    EXPECT_EQ(text::readFile(templateFile(), 1 << 20), QByteArray("XYZ\r\n"));
}

namespace {

class ListChooser final : public templates::TemplateChooser
{
public:
    int count() const override { return int(m_items.size()); }
    QString itemText(int index) const override { return m_items.value(index); }
    int currentIndex() const override { return m_current; }
    QString currentText() const override { return m_items.value(m_current); }
    void setCurrentIndex(int index) override { m_current = index; }
    void setItems(const QStringList &items) override
    {
        m_items = items;
        m_current = -1;
    }

private:
    QStringList m_items;
    int m_current = -1;
};

class FixedScheduler final : public app::SchedulerState
{
public:
    bool isGrabbing() const override { return grabbing; }
    bool grabbing = false;
};

class RecordingCommandsUi final : public app::TemplateCommandsUi
{
public:
    void ShowMsg(const QString &text) override { messages << text; }
    QString getOpenFileName(const QString &) override { return {}; }
    QString getSaveFileName(const QString &, const QString &) override { return {}; }
    QStringList messages;
};

} // namespace

// "定制" runs the wizard only while no book is being grabbed, then, once it has closed, reloads the store and selects
// the template chosen before, or nothing when the wizard deleted it.
TEST_F(WizardTest, DefineCommandRunsTheWizardThenReloads)
{
    saveStore({u"甲"_s, u"乙"_s});
    templates::TemplateStore store = savedStore();
    ListChooser chooser;
    FixedScheduler scheduler;
    RecordingCommandsUi commandsUi;
    app::TemplateCommands commands(store, chooser, scheduler, commandsUi, templateFile());
    commands.reloadStore();
    chooser.setCurrentIndex(2);

    int runs = 0;
    QString deleting;
    commands.setWizard([&](std::function<void()> closed) {
        ++runs;
        templates::TemplateStore changed = savedStore();
        changed.AddTemplateRecord(u"丙"_s, u"http://c"_s);
        changed.DeleteTemplate(deleting);
        templates::SaveTemplateFile(templateFile(), changed);
        closed();
    });

    scheduler.grabbing = true;
    commands.N24Click();
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(commandsUi.messages, QStringList{app::StopFirstMessage});

    scheduler.grabbing = false;
    deleting = u"甲"_s;
    commands.N24Click();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(store.ListTemplateNames(false), (QStringList{u"乙"_s, u"丙"_s}));
    EXPECT_EQ(chooser.currentText(), u"乙"_s);

    deleting = u"乙"_s;
    commands.N24Click();
    EXPECT_EQ(chooser.currentIndex(), -1);
    EXPECT_EQ(chooser.count(), 2); // "自动" and 丙
}

#ifndef QH_HAVE_WEBENGINE
// Without the web engine the box stays unchecked and unavailable, and templates are made for the static engine.
TEST_F(WizardTest, ScriptsBoxNeedsTheWebEngine)
{
    EXPECT_FALSE(wizard.view().scriptsAvailable);
    wizard.CBoxScriptClick(true);
    EXPECT_FALSE(wizard.view().scriptsNeeded);
    EXPECT_EQ(wizard.values().engine, templates::GrabEngine::Static);
}
#endif

#ifdef QH_HAVE_WEBENGINE

// The "网页需要脚本" box: a new definition starts unchecked; a redefinition opens with the template's engine and keeps
// the user's choice over later activations; a web template redefined with the box unchecked is saved as static.
// Nothing of this starts the web engine: only a load with the box checked does.
TEST_F(WizardTest, ScriptsBoxFollowsTheTemplatesEngine)
{
    saveStore({u"甲"_s, u"乙"_s});
    {
        templates::TemplateStore store = savedStore();
        store.WriteTemplateParam(u"乙"_s, QString(), u"sEngine"_s, u"web"_s);
        templates::SaveTemplateFile(templateFile(), store);
    }
    const struct
    {
        int redefineIndex;
        bool checked;
    } openings[] = {{2, true}, {1, false}, {0, false}, {2, true}};
    for (const auto &opening : openings) {
        wizard.setRedefineIndex(opening.redefineIndex);
        wizard.FormShow();
        wizard.FormActivate();
        EXPECT_EQ(wizard.view().scriptsNeeded, opening.checked) << opening.redefineIndex;
        EXPECT_EQ(wizard.values().engine, opening.checked ? templates::GrabEngine::Web : templates::GrabEngine::Static);
        wizard.FormClose();
    }

    wizard.setRedefineIndex(2);
    wizard.FormShow();
    wizard.FormActivate();
    ASSERT_TRUE(wizard.view().scriptsNeeded);
    wizard.CBoxScriptClick(false);
    wizard.FormActivate();
    EXPECT_FALSE(wizard.view().scriptsNeeded);
    defineAll();
    wizard.BBtnSaveClick();
    EXPECT_EQ(savedValue(u"乙"_s, u"sEngine"_s), u"static"_s);
    EXPECT_EQ(savedValue(u"乙"_s, u"icontentindex"_s), QString::number(Td));
    EXPECT_FALSE(savedStore().recordOf(u"甲"_s).join(u'\n').contains(u"sEngine"_s));
    EXPECT_EQ(wizard.webBrowser(), nullptr);
}

#include "app/mainwindow.h"
#include "app/templatewizardwindow.h"
#include "app/wizardpageview.h"
#include "browser/html/htmlparser.h"
#include "browser/web/webbrowser.h"
#include "common/datafolder.h"
#include "demo/samplebook.h"
#include "settings/appsettings.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTimer>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineScript>

namespace {

class ScriptedDialogs final : public app::WizardDialogs
{
public:
    void ShowMsg(const QString &text) override { messages << text; }
    QString InputText(const QString &, const QString &, const QString &defaultText) override
    {
        return nameAnswer.isEmpty() ? defaultText : nameAnswer;
    }
    bool askYesNo(const QString &, const QString &) override { return true; }
    void showError(const QString &message) override { errors << message; }

    QStringList messages;
    QStringList errors;
    QString nameAnswer;
};

// The sample book with its text wrapped in a span (so a click on the text lands one level below the text's
// element) and its next links' names in a font element, as many sites write them.
QByteArray fixtureChapter(const demo::SampleBook &book, int chapter)
{
    QString page = QStringDecoder("GB18030").decode(book.chapterPage(chapter));
    page.replace(u"<div id=\"content\">"_s, u"<div id=\"content\"><span>"_s);
    page.replace(u"</div>\n<div class=\"bottem2\">"_s, u"</span></div>\n<div class=\"bottem2\">"_s);
    page.replace(u">下一页</a>"_s, u"><font color=\"red\">下一页</font></a>"_s);
    return QStringEncoder("GB18030").encode(page);
}

class WizardWindowTest : public ::testing::Test
{
protected:
    WizardWindowTest() : book(3, 300) {}

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        for (int chapter = 1; chapter <= book.chapterCount(); ++chapter)
            server.setResponse(book.chapterPath(chapter),
                               demo::HttpResponse::page(fixtureChapter(book, chapter), "text/html"));
        QDir().mkpath(dataDir());
        text::writeFileAtomically(dataDir() + u"/SysCfg.ini"_s, "[system]\r\nsavepath=" + saveDir().toUtf8() + "\r\n");
        window = std::make_unique<app::TFrmTemplate>(dialogs, dataDir() + u"/system.tpe"_s);
        window->wizard().setSettleDelay(std::chrono::milliseconds(0));
        window->show();
    }

    QString dataDir() const { return folder.filePath(u"data"_s); }
    QString saveDir() const { return folder.filePath(u"books"_s); }
    QString chapterUrl(int chapter) const { return server.url(book.chapterPath(chapter)).toString(); }
    QPushButton *button(const QString &name) const { return window->findChild<QPushButton *>(name); }
    app::WizardPageView *view() const { return window->pageView(); }

    void load(const QString &url)
    {
        window->findChild<QLineEdit *>(u"EdtAddr"_s)->setText(url);
        window->wizard().setAddress(url);
        button(u"BBtnGo"_s)->click();
        ASSERT_TRUE(waitFor([&] { return window->wizard().view().beginEnabled; }, 60'000))
            << dialogs.messages.join(u'|').toStdString();
    }

    // The centre of the first box of the element selector names, in the view's coordinates.
    QPoint centreOf(const QString &selector)
    {
        QVariant result;
        bool done = false;
        view()->page()->runJavaScript(uR"((function () { var r = document.querySelector('%1').getClientRects()[0];
                return [r.left + r.width / 2, r.top + r.height / 2]; })())"_s.arg(selector),
                                      QWebEngineScript::ApplicationWorld, [&](const QVariant &value) {
                                          result = value;
                                          done = true;
                                      });
        EXPECT_TRUE(waitFor([&] { return done; }, 10'000));
        const QVariantList xy = result.toList();
        return xy.size() == 2 ? QPointF(xy.at(0).toDouble(), xy.at(1).toDouble()).toPoint() : QPoint(-1, -1);
    }

    // A click as the user makes it: the press reaches the page, the release is the wizard's in a capture step.
    void clickAt(const QPoint &point)
    {
        QWidget *proxy = view()->focusProxy();
        ASSERT_NE(proxy, nullptr);
        QTest::mousePress(proxy, Qt::LeftButton, {}, point);
        QTest::mouseRelease(proxy, Qt::LeftButton, {}, point);
    }

    bool waitForQuestion() const
    {
        return waitFor([&] { return window->wizard().view().questionVisible; }, 10'000);
    }

    QTemporaryDir folder;
    demo::SampleBook book;
    demo::HttpServer server;
    ScriptedDialogs dialogs;
    std::unique_ptr<app::TFrmTemplate> window;
};

} // namespace

// A template defined by clicking the title, the text (one "否" up from the span the click lands on) and a link
// whose name is in a font element, saved under a name, grabs the whole book. The link click in the capture step
// does not navigate; after the definition a link click loads its page through the static engine.
TEST_F(WizardWindowTest, DefineByClickingThenGrabTheBook)
{
    load(chapterUrl(1));
    button(u"BBtnBegin"_s)->click();

    clickAt(centreOf(u"#title"_s));
    ASSERT_TRUE(waitForQuestion()) << dialogs.messages.join(u'|').toStdString();
    EXPECT_EQ(window->wizard().view().titleText, book.chapterTitle(1));
    button(u"BBtnYes"_s)->click();
    ASSERT_EQ(window->wizard().WizardState(), app::wizardstate::Content);

    clickAt(centreOf(u"#content span"_s));
    ASSERT_TRUE(waitForQuestion());
    button(u"BBtnNo"_s)->click();
    ASSERT_TRUE(window->wizard().view().questionVisible);
    button(u"BBtnYes"_s)->click();
    ASSERT_EQ(window->wizard().WizardState(), app::wizardstate::Link);

    clickAt(centreOf(u".bottem1 font"_s));
    ASSERT_TRUE(waitFor([&] { return window->wizard().WizardState() == app::wizardstate::Save; }, 10'000))
        << dialogs.messages.join(u'|').toStdString();
    EXPECT_EQ(server.requestCount(book.chapterPath(2)), 0);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(u'|').toStdString();

    dialogs.nameAnswer = u"样例"_s;
    button(u"BBtnSave"_s)->click();

    // The positions the grabber's own parse gives for the fixture page.
    const auto document = browser::parseHtmlDocument(fixtureChapter(book, 1), "text/html", QUrl(chapterUrl(1)));
    int title = -1;
    int content = -1;
    for (int i = 0; i < document->elementCount(); ++i) {
        const QString id = document->attributeAt(i, u"id"_s).value_or(QString());
        if (id == u"title")
            title = i;
        else if (id == u"content")
            content = i;
    }
    const QStringList expected = {
        u"@@@@@@@@@@"_s,
        u"name=样例"_s,
        u"head="_s + templates::SiteHeadOf(chapterUrl(1)),
        u"linkname=<font color=\"red\">下一页</font>"_s,
        u"ititleindex=%1"_s.arg(title),
        u"icontentindex=%1"_s.arg(content),
        u"iparentindex=%1"_s.arg(document->parentIndexAt(content)),
        u"sContentTagname=DIV"_s,
        u"sTitleTagname=H1"_s,
        u"sTitleAnchor=1|H1;title;;;|DIV;;bookname|DIV;;box_con|BODY;;"_s,
        u"sContentAnchor=1|DIV;content;;;|DIV;;box_con|BODY;;"_s,
        u"sLinkAnchor=1|A;;;;下一页|DIV;;bottem1|DIV;;bookname|DIV;;box_con|BODY;;"_s,
    };
    EXPECT_EQ(templates::LoadTemplateFile(dataDir() + u"/system.tpe"_s).lines(), expected);

    QProcess grab;
    grab.start(QStringLiteral(QH_BIN_DIR "/quillhaul-cli"), {u"--data-dir"_s, dataDir(), u"grab"_s, chapterUrl(1)});
    ASSERT_TRUE(grab.waitForFinished(60'000));
    ASSERT_EQ(grab.exitCode(), 0) << grab.readAllStandardError().toStdString();
    const QString name = QString(book.chapterTitle(1) + u"_示例小说_书海阁"_s).left(15);
    EXPECT_EQ(text::readFile(saveDir() + u"/"_s + name + u".txt"_s), book.bookFileBytes(1, 3));

    const int before = server.requestCount(book.chapterPath(2));
    clickAt(centreOf(u".bottem1 font"_s));
    ASSERT_TRUE(waitFor([&] { return window->wizard().address() == chapterUrl(2); }, 10'000));
    EXPECT_TRUE(waitFor([&] { return server.requestCount(book.chapterPath(2)) > before; }, 10'000));
}

// A noscript block before the clicked text (as tag managers put at the top of the body): the view parses it as
// the grabber does, holding text, so the click is recorded at the grabber's position; and none of the page's scripts
// runs in the view of a static template, neither inline, nor in an attribute, nor linked.
TEST_F(WizardWindowTest, ClickAfterANoscriptBlockIsRecorded)
{
    const QByteArray page = "<!DOCTYPE html><html><head><title>n</title><script src=\"/noscript.js\"></script></head>"
                            "<body onload=\"document.title = 'onload'\"><noscript><iframe src=\"/tag\"></iframe>"
                            "<p>无脚本</p></noscript><h1 id=t>标题</h1><div id=c><p>正文</p></div>"
                            "<script>document.getElementById('t').textContent = '脚本改过';</script></body></html>";
    server.setPage(u"/noscript"_s, page);
    server.setPage(u"/noscript.js"_s, "document.title = 'linked';", "text/javascript");
    load(server.url(u"/noscript"_s).toString());
    button(u"BBtnBegin"_s)->click();
    clickAt(centreOf(u"#t"_s));
    ASSERT_TRUE(waitForQuestion()) << dialogs.messages.join(u'|').toStdString();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(u'|').toStdString();
    EXPECT_EQ(window->wizard().view().titleText, u"标题"_s);
    button(u"BBtnYes"_s)->click();
    ASSERT_EQ(window->wizard().WizardState(), app::wizardstate::Content);

    const auto document = browser::parseHtmlDocument(page, "text/html", server.url(u"/noscript"_s));
    int title = -1;
    for (int i = 0; i < document->elementCount(); ++i) {
        if (document->attributeAt(i, u"id"_s) == u"t"_s)
            title = i;
    }
    ASSERT_GE(title, 0);
    EXPECT_EQ(window->wizard().values().ititleindex, title);
    EXPECT_EQ(view()->page()->title(), u"n"_s);
    EXPECT_EQ(server.requestCount(u"/noscript.js"_s), 0);
}

// A page too large for the view is refused with a message before anything is shown, and "开始定义" stays off.
TEST_F(WizardWindowTest, PageTooLargeForTheViewIsRefused)
{
    QStringEncoder encoder("GB18030");
    const QByteArray text = encoder.encode(QString(400'000, u'字'));
    const QByteArray big = QByteArray("<html><body><p>") + text + QByteArray("</p></body></html>");
    server.setPage(u"/big"_s, big, "text/html; charset=gbk");
    window->wizard().setAddress(server.url(u"/big"_s).toString());
    button(u"BBtnGo"_s)->click();
    ASSERT_TRUE(waitFor([&] { return !dialogs.messages.isEmpty(); }, 30'000));
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages.first().startsWith(u"网页太大"_s)) << dialogs.messages.first().toStdString();
    EXPECT_TRUE(waitFor([&] { return window->wizard().view().help == msg::StartHelp; }, 10'000));
    EXPECT_FALSE(window->wizard().view().beginEnabled);
    EXPECT_TRUE(view()->showHtml(u"<p>小</p>"_s, server.url(u"/small"_s)));
}

namespace {

// The main window's dialogs, answering nothing and recording notices.
class QuietWindowDialogs final : public app::WindowDialogs
{
public:
    QString InputText(const QString &, const QString &, const QString &defaultText) override { return defaultText; }
    void ShowMsg(const QString &text) override { messages << text; }
    void showError(const QString &message) override { messages << message; }
    QString getOpenFileName(const QString &) override { return {}; }
    QString getSaveFileName(const QString &, const QString &) override { return {}; }
    bool askYesNo(const QString &, const QString &) override { return false; }
    void askLater(const QString &, const QString &, std::function<void(bool)> answered) override
    {
        QTimer::singleShot(0, [answered = std::move(answered)] { answered(false); });
    }
    std::optional<settings::AppSettings> editSettings(const settings::AppSettings &, const QString &) override
    {
        return std::nullopt;
    }
    void showAbout() override {}
    bool openUrl(const QUrl &) override { return true; }

    QStringList messages;
};

} // namespace

// The grabber's redefinition request opens the wizard modally in redefine mode, with the chooser's index, the
// page's address and the list disabled; afterwards the main store is reloaded keeping the chosen template, and the
// wizard is back in new mode.
TEST(MainWindowWizardTest, RedefinitionRequestOpensTheWizard)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString data = root.filePath(u"data"_s);
    QDir().mkpath(data);
    settings::AppSettings stored;
    stored.SavePath = root.filePath(u"books"_s);
    stored.AutoDownload = false;
    settings::SaveSettings(data + u"/SysCfg.ini"_s, stored);
    templates::TemplateStore store;
    store.AddTemplateRecord(u"甲"_s, u"http://a"_s);
    store.AddTemplateRecord(u"乙"_s, u"http://b"_s);
    templates::SaveTemplateFile(data + u"/system.tpe"_s, store);

    app::MainWindowOptions options;
    options.documentsFolder = root.filePath(u"Documents"_s);
    auto dialogs = std::make_unique<QuietWindowDialogs>();
    app::TFrmMain w(DataFolder::locate(data), options, std::move(dialogs));
    w.show();
    w.chooser().setCurrentIndex(2);

    int seenIndex = -1;
    QString seenAddress;
    bool seenListEnabled = true;
    bool seenModal = false;
    QTimer::singleShot(0, &w, [&] {
        app::TFrmTemplate *wizard = w.templateWizard();
        seenIndex = wizard->wizard().RedefineIndex();
        seenAddress = wizard->findChild<QLineEdit *>(u"EdtAddr"_s)->text();
        seenListEnabled = wizard->findChild<QTreeWidget *>(u"LVTemplate"_s)->isEnabled();
        seenModal = wizard->isModal() && wizard->isVisible();
        templates::TemplateStore changed = store;
        changed.AddTemplateRecord(u"丙"_s, u"http://c"_s);
        templates::SaveTemplateFile(data + u"/system.tpe"_s, changed);
        wizard->close();
    });
    // The request opens the wizard and returns at once: nothing waits for the user in the window's handlers.
    w.RequestRedefinition(2, u"http://b/1.html"_s);
    EXPECT_EQ(seenIndex, -1);
    ASSERT_TRUE(qh::test::runEventLoopUntil([&] { return w.store().ListTemplateNames(false).size() == 3; }, 10'000));

    EXPECT_EQ(seenIndex, 2);
    EXPECT_EQ(seenAddress, u"http://b/1.html"_s);
    EXPECT_FALSE(seenListEnabled);
    EXPECT_TRUE(seenModal);
    EXPECT_EQ(w.templateWizard()->wizard().RedefineIndex(), 0);
    EXPECT_EQ(w.store().ListTemplateNames(false), (QStringList{u"甲"_s, u"乙"_s, u"丙"_s}));
    EXPECT_EQ(w.chooser().currentText(), u"乙"_s);
}

namespace {

// A page whose title, text and next link exist only once its script has run.
const QByteArray ScriptedPage =
    "<html><head><title>s</title></head><body><div id=box></div><script>"
    "document.getElementById('box').innerHTML = '<h1 id=t>第一章 脚本</h1><div id=c><span>脚本写的正文</span></div>'"
    " + '<p><a href=/scripted2 id=n><font>下一页</font></a></p>';"
    "</script></body></html>";

// Runs script in page's own world and returns its value.
QVariant runInPage(QWebEnginePage *page, const QString &script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    EXPECT_TRUE(waitFor([&] { return done; }, 10'000));
    return result;
}

// The position of selector's element in the live page's list of all elements, as the view reports a click on it.
int liveIndexOf(QWebEnginePage *page, const QString &selector)
{
    return runInPage(page, uR"(Array.prototype.indexOf.call(document.getElementsByTagName('*'),
        document.querySelector('%1')))"_s.arg(selector))
        .toInt();
}

} // namespace

// With the box checked the wizard loads the page with its web browser and shows that very page; the values are read
// from the live page at the time of the click, positions that the static engine's document does not have, and the
// template is saved with sEngine=web. A page that moves on by itself is followed. Unchecking loads the page again
// through the static engine; closing drops the web browser.
TEST_F(WizardTest, WebTemplateIsReadFromTheLivePage)
{
    server.setPage(u"/scripted"_s, ScriptedPage);
    wizard.CBoxScriptClick(true);
    ASSERT_TRUE(wizard.view().scriptsNeeded);
    EXPECT_EQ(wizard.webBrowser(), nullptr);
    wizard.setAddress(server.url(u"/scripted"_s).toString());
    wizard.BBtnGoClick();
    ASSERT_TRUE(waitFor([&] { return wizard.view().beginEnabled; })) << ui.messages.join(u'|').toStdString();
    ASSERT_NE(wizard.webBrowser(), nullptr);
    QWebEnginePage *page = wizard.webBrowser()->page();
    EXPECT_EQ(ui.shownWebPage, page);
    EXPECT_TRUE(ui.shownHtml.isEmpty());
    // Text written after the page was read, as by a page that fills itself in from later requests.
    runInPage(page, u"document.getElementById('t').textContent = '第一章 脚本完'; 0"_s);

    const int title = liveIndexOf(page, u"#t"_s);
    const int span = liveIndexOf(page, u"#c span"_s);
    const int content = liveIndexOf(page, u"#c"_s);
    const int font = liveIndexOf(page, u"#n font"_s);
    wizard.BBtnBeginClick();
    wizard.elementClicked(title, u"H1"_s);
    ASSERT_TRUE(waitFor([&] { return wizard.view().questionVisible; })) << ui.messages.join(u'|').toStdString();
    EXPECT_EQ(wizard.view().titleText, u"第一章 脚本完"_s);
    wizard.BBtnYesClick();
    wizard.elementClicked(span, u"SPAN"_s);
    ASSERT_TRUE(waitFor([&] { return wizard.view().questionVisible; }));
    wizard.BBtnNoClick();
    EXPECT_EQ(wizard.view().contentText, u"脚本写的正文"_s);
    wizard.BBtnYesClick();
    wizard.elementClicked(font, u"FONT"_s);
    ASSERT_TRUE(waitFor([&] { return wizard.WizardState() == state::Save; }));
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(u'|').toStdString();

    ui.nameAnswer = u"脚本站"_s;
    wizard.BBtnSaveClick();
    const QStringList record = savedStore().recordOf(u"脚本站"_s);
    EXPECT_EQ(record.mid(3),
              (QStringList{u"linkname=<font>下一页</font>"_s, u"ititleindex=%1"_s.arg(title),
                           u"icontentindex=%1"_s.arg(content), u"iparentindex=%1"_s.arg(liveIndexOf(page, u"#box"_s)),
                           u"sContentTagname=DIV"_s, u"sTitleTagname=H1"_s, u"sEngine=web"_s,
                           u"sTitleAnchor=1|H1;t;;;|DIV;box;"_s, u"sContentAnchor=1|DIV;c;;;|DIV;box;"_s,
                           u"sLinkAnchor=1|A;n;;;下一页|P;;|DIV;box;"_s}));
    // The static engine's document has no chapter title there: the template needs the web engine.
    const auto staticDocument = browser::parseHtmlDocument(ScriptedPage, "text/html", server.url(u"/scripted"_s));
    EXPECT_TRUE(title >= staticDocument->elementCount() || staticDocument->tagNameAt(title) != u"H1"_s);

    // A page that goes elsewhere by itself (here its script) is followed: its address is loaded as if typed.
    server.setPage(u"/scripted2"_s, ScriptedPage);
    runInPage(page, u"location.href = '/scripted2'; 0"_s);
    ASSERT_TRUE(waitFor([&] { return wizard.address() == server.url(u"/scripted2"_s).toString(); }));
    EXPECT_FALSE(wizard.view().beginEnabled);
    ASSERT_TRUE(waitFor([&] { return wizard.view().beginEnabled; })) << ui.messages.join(u'|').toStdString();
    EXPECT_EQ(wizard.webBrowser()->GetHtmlDocument()->url(), server.url(u"/scripted2"_s));
    EXPECT_EQ(server.requestCount(u"/scripted2"_s), 2);

    wizard.CBoxScriptClick(false);
    EXPECT_EQ(wizard.WizardState(), state::Loading);
    ASSERT_TRUE(waitFor([&] { return !ui.shownHtml.isEmpty(); }));
    EXPECT_EQ(ui.shownHtml, QString::fromUtf8(ScriptedPage));
    EXPECT_EQ(ui.shownBase, server.url(u"/scripted2"_s));
    EXPECT_EQ(ui.shownWebPage, nullptr);

    // A closed wizard keeps no live page running.
    ASSERT_NE(wizard.webBrowser(), nullptr);
    wizard.FormClose();
    EXPECT_EQ(wizard.webBrowser(), nullptr);
}

// In the window, the box puts the view on the web browser's own page: clicks in it are taken in the capture steps
// (the link click loads nothing) and resolve to the live page's elements, which the static text does not have.
// (Outside a capture the page's own navigation is followed; WebTemplateIsReadFromTheLivePage drives that without
// a view, where Chromium loads faster.)
TEST_F(WizardWindowTest, WebTemplateDefinedByClickingTheLivePage)
{
    server.setPage(u"/scripted"_s, ScriptedPage);
    server.setPage(u"/scripted2"_s, ScriptedPage);
    auto *box = window->findChild<QCheckBox *>(u"CBoxScript"_s);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isEnabled());
    box->click();
    ASSERT_TRUE(window->wizard().view().scriptsNeeded);
    load(server.url(u"/scripted"_s).toString());
    ASSERT_EQ(view()->page(), window->wizard().webBrowser()->page());
    EXPECT_TRUE(box->isChecked());

    button(u"BBtnBegin"_s)->click();
    clickAt(centreOf(u"#t"_s));
    ASSERT_TRUE(waitForQuestion()) << dialogs.messages.join(u'|').toStdString();
    button(u"BBtnYes"_s)->click();
    clickAt(centreOf(u"#c span"_s));
    ASSERT_TRUE(waitForQuestion());
    button(u"BBtnNo"_s)->click();
    button(u"BBtnYes"_s)->click();
    clickAt(centreOf(u"#n font"_s));
    ASSERT_TRUE(waitFor([&] { return window->wizard().WizardState() == app::wizardstate::Save; }, 10'000))
        << dialogs.messages.join(u'|').toStdString();
    EXPECT_EQ(server.requestCount(u"/scripted2"_s), 0);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(u'|').toStdString();

    dialogs.nameAnswer = u"脚本站"_s;
    button(u"BBtnSave"_s)->click();
    const templates::TemplateStore saved = templates::LoadTemplateFile(dataDir() + u"/system.tpe"_s);
    QString name = u"脚本站"_s;
    EXPECT_EQ(saved.ReadTemplateParam(QString(), u"sEngine"_s, name), u"web"_s);
    EXPECT_EQ(saved.ReadTemplateParam(QString(), u"sTitleTagname"_s, name), u"H1"_s);
    EXPECT_EQ(saved.ReadTemplateParam(QString(), u"linkname"_s, name), u"<font>下一页</font>"_s);

    // The template grabs the script-written book: its second chapter links back to the first, which ends it.
    server.setPage(u"/scripted2"_s, QByteArray(ScriptedPage)
                                        .replace("第一章 脚本", "第二章 脚本")
                                        .replace("脚本写的正文", "第二章的正文")
                                        .replace("/scripted2", "/scripted"));
    const QString out = dataDir() + u"/book.txt"_s;
    QProcess grab;
    grab.start(QStringLiteral(QH_BIN_DIR "/quillhaul-cli"),
               {u"--data-dir"_s, dataDir(), u"grab"_s, server.url(u"/scripted"_s).toString(), u"--out"_s, out});
    ASSERT_TRUE(grab.waitForFinished(60'000));
    ASSERT_EQ(grab.exitCode(), 0) << grab.readAllStandardError().toStdString();
    QStringEncoder gb18030("GB18030");
    const QByteArray expected = gb18030.encode(u"第一章 脚本\r\n脚本写的正文\r\n第二章 脚本\r\n第二章的正文\r\n"_s);
    EXPECT_EQ(text::readFile(out), expected);
}

#endif

#ifdef QH_HAVE_WEBENGINE
#include "browser/webengineenvironment.h"
#endif

// The GUI tests' main, with what Qt WebEngine needs before the application exists.
int main(int argc, char **argv)
{
    QTemporaryDir home;
    if (!home.isValid())
        return 2;
    qh::test::prepareWindowTestEnvironment(home);
#ifdef QH_HAVE_WEBENGINE
    // Chromium as the program sets it up (a windowless page's timers unthrottled, no sandbox as root), offscreen and
    // without a GPU.
    qh::browser::prepareWebEngineEnvironment(true);
#endif
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
