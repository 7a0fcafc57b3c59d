#pragma once

#include "browser/document.h"
#include "common/messagesink.h"
#include "templates/wizardsave.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

class QWebEnginePage;
class QWebEngineLoadingInfo;

namespace qh::browser {
class StaticBrowser;
class WebBrowser;
} // namespace qh::browser

namespace qh::app {

struct PageCapture;

// What the wizard asks of its window: the dialogs and the page view. The window answers with widgets, tests with a
// script.
class TemplateWizardUi : public virtual MessageSink
{
public:
    // The one-line input box: the text typed, defaultText when cancelled.
    virtual QString InputText(const QString &caption, const QString &prompt, const QString &defaultText) = 0;
    // A Yes/No question.
    virtual bool askYesNo(const QString &caption, const QString &text) = 0;
    // Shows html (the page text exactly as the static engine decoded it) with base as its address; the window
    // calls TemplateWizard::pageShown when the view has it.
    virtual void showPage(const QString &html, const QUrl &base) = 0;
    // Shows the web engine's live page itself, already loaded; null puts the view back on its own page. The
    // wizard's web browser keeps owning the page.
    virtual void showWebPage(QWebEnginePage *page) = 0;
};

// Texts of the wizard.
namespace wizardtext {
inline const QString StartHelp =
    QStringLiteral("请按照提示步骤操作：输入网址并点击转到按钮。要输入的网址是书籍的内容页地址。");
inline const QString NeedHttp = QStringLiteral("请输入前部文字为http://或https://的地址。");
inline const QString Loading = QStringLiteral("请稍等...网页加载中。");
inline const QString Loaded = QStringLiteral("网页加载完毕。可以点击“开始定义”按钮定制抓取模板了。");
inline const QString ClickTitle = QStringLiteral("请用鼠标左键单击网页中的文章标题。");
inline const QString ClickContent = QStringLiteral("请用鼠标左键单击网页中的文章内容。");
inline const QString ClickLink = QStringLiteral("请用鼠标左键单击网页中的下一页链接，以确定下一页链接的名称和位置。");
inline const QString ReadyToSave = QStringLiteral("如果确定各个选择正确，请点击保存模板按钮保存当前定制的抓取模板。");
inline const QString CheckTitle = QStringLiteral("请检查左下方文章标题框中的内容与实际文章标题是否一致。");
inline const QString CheckContent = QStringLiteral("请检查左下方文章内容框中的内容与实际文章内容是否一致。");
inline const QString NotTitle = QStringLiteral("您点击的不是文章标题,请点击“开始定义”按钮重新开始定义模板。");
inline const QString NotContent = QStringLiteral("您点击的不是文章内容,请点击“开始定义”按钮重新开始定义模板。");
inline const QString Interrupted =
    QStringLiteral("您中断了模板定制过程，请点击重新开始定制模板，或者关闭窗口退出定制。");
inline const QString NoTitle = QStringLiteral("未找到文章标题");
inline const QString NoContent = QStringLiteral("未找到文章内容");
inline const QString NoLink = QStringLiteral("未找到下一页链接");
inline const QString NameCaption = QStringLiteral("模板名称");
inline const QString NamePrompt = QStringLiteral("请输入模板名称");
inline const QString NeedName = QStringLiteral("必须输入模板名称才能保存模板。");
inline const QString QuestionCaption = QStringLiteral("提示");
inline const QString Replace = QStringLiteral("有同名模板存在，请确认是否替换该模板？");
inline const QString BeginCaption = QStringLiteral("开始定义");
inline const QString RestartCaption = QStringLiteral("重新开始");
inline const QString Mismatch = QStringLiteral(
    "您点击的元素在网页视图中与抓书程序读到的网页结构不一致，无法可靠地记录它的位置。此网页不能用于定制模板。");
} // namespace wizardtext

// The values of WizardState; never shown.
namespace wizardstate {
inline const QString Loading = QStringLiteral("正在加载网页");
inline const QString Title = QStringLiteral("定制文章标题");
inline const QString TitleDone = QStringLiteral("定制标题完成");
inline const QString Content = QStringLiteral("定制文章内容");
inline const QString ContentDone = QStringLiteral("定制内容完成");
inline const QString Link = QStringLiteral("定制下页链接");
inline const QString LinkDone = QStringLiteral("定制下页完成");
inline const QString Save = QStringLiteral("保存当前模板");
inline const QString Aborted = QStringLiteral("用户中断");
} // namespace wizardstate

// What the window shows, as the wizard last set it.
struct WizardView
{
    QString help = wizardtext::StartHelp; // MemoHelp
    QString titleText;                    // EdtTitle
    QString contentText;                  // MemoText
    bool questionVisible = false;         // "是", "否", "取消"
    bool beginEnabled = false;
    QString beginCaption = wizardtext::BeginCaption;
    bool saveEnabled = false;
    bool listEnabled = true;
    bool scriptsNeeded = false;    // "网页需要脚本": the template reads its pages with the web engine
    bool scriptsAvailable = false; // this build has the web engine
};

// The template definition wizard without its widgets: the states, prompts and captures of a definition, the save
// and the list buttons, on "system.tpe" at templateFile. The define sequence is driven by events (a click, an
// answer), never by waiting, so nothing here runs a nested event loop. The page is fetched by the static engine it
// owns, so the values recorded are what the grabber will read; the window shows the same text in its view and
// reports clicks as positions in that view's list of all elements.
//
// With "网页需要脚本" checked the template is a web one: the page is loaded by a web browser of the wizard's own,
// the view shows that very page with its scripts run, and a click's position is read from the live page.
//
// Operations that touch "system.tpe" throw qh::Error when it cannot be read or written; the operation then ends.
class TemplateWizard : public QObject
{
    Q_OBJECT

public:
    TemplateWizard(TemplateWizardUi &ui, QString templateFile, QObject *parent = nullptr);
    ~TemplateWizard() override;

    // Redefine mode for k > 0: the k-th template of the store (counting from 1); 0 is new mode.
    int RedefineIndex() const { return m_redefineIndex; }
    void setRedefineIndex(int index) { m_redefineIndex = index; }
    // The address box (EdtAddr); the window passes every edit in.
    const QString &address() const { return m_address; }
    void setAddress(const QString &address);

    // The pause between the view having the page and "开始定义" being enabled.
    void setSettleDelay(std::chrono::milliseconds delay) { m_settle.setInterval(delay); }
    browser::StaticBrowser &staticBrowser() { return *m_browser; }
    // The web browser, made by the first load with "网页需要脚本" checked (Chromium is slow to start) and dropped
    // when the window closes; null before and after.
    browser::WebBrowser *webBrowser() const { return m_webBrowser; }

    const WizardView &view() const { return m_view; }
    const QString &WizardState() const { return m_state; }
    const templates::TemplateValues &values() const { return m_values; }
    // The list as last filled: names and heads in store order.
    const QStringList &listNames() const { return m_listNames; }
    const QStringList &listHeads() const { return m_listHeads; }

    // Whether a left-button release in the page is taken by the wizard instead of reaching the page.
    bool capturesClicks() const;

    // Window events.
    void FormShow();
    void FormActivate();
    void FormClose();
    void BBtnGoClick();
    // "网页需要脚本" changed. A definition under way ends, and a page loaded in the other engine is loaded again.
    void CBoxScriptClick(bool checked);
    void BBtnBeginClick();
    void BBtnYesClick();
    void BBtnNoClick();
    void BtnCancelClick();
    void BBtnSaveClick();
    // The list buttons on the selected row (-1: none).
    void BtnUpClick(int selected);
    void BtnDownClick(int selected);
    void BtnDelClick(int selected);

    // The view has shown the page (or failed to).
    void pageShown(bool ok);
    // A click the window took, resolved in its view: the element's position in the view's list of all elements
    // and its tag name, or -1 when there was no element at the point.
    void elementClicked(int sourceIndex, const QString &viewTagName);

Q_SIGNALS:
    void viewChanged();
    void listChanged();
    // Select list row index (-1: none) and show it.
    void selectListRow(int index);

private:
    enum class Capture
    {
        Title,
        Content
    };
    bool webMode() const { return m_view.scriptsNeeded; }
    void setEngine(templates::GrabEngine engine);
    void ensureWebBrowser();
    void onStaticLoaded(bool ok);
    void onWebLoaded(bool ok);
    void onWebLoading(const QWebEngineLoadingInfo &info);
    void resolveClick(int sourceIndex, const QString &viewTagName);
    void onSettled();
    void setHelp(const QString &text);
    void changed() { Q_EMIT viewChanged(); }
    void endQuestion();
    void askAbout(Capture capture, int index);
    void acceptCandidate();
    void captureFailed(Capture capture);
    void startContentStep();
    void captureLink(int index);
    void fillList(const templates::TemplateStore &store);
    void moveOrDelete(int selected, int direction);
    bool templateFileExists() const;

    TemplateWizardUi &m_ui;
    const QString m_templateFile;
    browser::StaticBrowser *m_browser;
    browser::WebBrowser *m_webBrowser = nullptr;
    std::shared_ptr<PageCapture> m_pageCapture;
    std::shared_ptr<const browser::Document> m_document;
    QTimer m_settle;

    int m_redefineIndex = 0;
    QString m_address;
    QString m_state;
    WizardView m_view;
    templates::TemplateValues m_values;
    QStringList m_listNames;
    QStringList m_listHeads;

    // The open confirmation question: what is being captured and the candidate element.
    std::optional<Capture> m_question;
    int m_candidate = -1;
    // A click on a live page waits for the page to be read again; further clicks wait for that.
    bool m_readingClick = false;
    // The live page went to another page by itself; it is loaded again once that load has ended.
    bool m_followingPageLoad = false;
    // Set on showing in redefine mode: the box takes the template's engine once the store is read.
    bool m_engineFromTemplate = false;
};

} // namespace qh::app
