#pragma once

#include "app/addbook.h"
#include "app/booklistmodel.h"
#include "app/templatecommands.h"
#include "app/templatewizardwindow.h"
#include "common/datafolder.h"
#include "core/bookqueue.h"
#include "core/queuecommands.h"
#include "engine/downloadscheduler.h"
#include "engine/enginehost.h"
#include "session/session.h"
#include "settings/appsettings.h"
#include "templates/templatechooser.h"
#include "templates/templatestore.h"

#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QMessageBox;
class QPlainTextEdit;
class QTableView;
class QTextEdit;
class QToolButton;

namespace qh::browser {
class StaticBrowser;
}
namespace qh::dialogs {
class TFrmWait;
}

namespace qh::app {

class StatusLabel;

// The dialogs and desktop services of the main window, behind one interface so that tests script the answers.
// Notices and errors are shown without blocking.
class WindowDialogs : public AddBookUi, public TemplateCommandsUi, public WizardDialogs
{
public:
    QString InputText(const QString &caption, const QString &prompt, const QString &defaultText) override = 0;
    // A question answered yes or no, from a command handler of the window's own.
    bool askYesNo(const QString &caption, const QString &text) override = 0;
    // The same question without waiting for it: answered runs once the user has answered.
    virtual void askLater(const QString &caption, const QString &text, std::function<void(bool yes)> answered) = 0;
    // The settings dialog on a copy of current; the settings it saved to iniPath, or nullopt when cancelled.
    virtual std::optional<settings::AppSettings> editSettings(const settings::AppSettings &current,
                                                              const QString &iniPath) = 0;
    virtual void showAbout() = 0;
    // A file, folder or address, opened with the desktop's program for it; false when there is none or it failed.
    virtual bool openUrl(const QUrl &url) = 0;
};

// The real dialogs, owned by the window they belong to.
class WidgetDialogs final : public WindowDialogs
{
public:
    explicit WidgetDialogs(QWidget *owner) : m_owner(owner) {}

    QString InputText(const QString &caption, const QString &prompt, const QString &defaultText) override;
    void ShowMsg(const QString &text) override;
    void showError(const QString &message) override;
    QString getOpenFileName(const QString &filter) override;
    QString getSaveFileName(const QString &filter, const QString &defaultSuffix) override;
    bool askYesNo(const QString &caption, const QString &text) override;
    void askLater(const QString &caption, const QString &text, std::function<void(bool yes)> answered) override;
    std::optional<settings::AppSettings> editSettings(const settings::AppSettings &current,
                                                      const QString &iniPath) override;
    void showAbout() override;
    bool openUrl(const QUrl &url) override;

private:
    QWidget *m_owner;
};

// What differs between the program and its tests.
struct MainWindowOptions
{
    // Deleted at start: what an update leaves behind (the executable's path + ".old"). Empty: nothing.
    QString oldFile;
    // Where the fallback save folder goes when the configured one cannot be made. Empty: the user's documents.
    QString documentsFolder;
    // Timings of the engine; its folders, encoding and page delay come from the settings.
    engine::SchedulerConfig engine;
    // The wait dialog's tick.
    std::chrono::milliseconds waitInterval{1000};
    // The help document. Empty: "help.html" next to the executable, else the one in the build.
    QString helpFile;
    // "--demo": the temporary folder its data lives in, named in the title so the user can find it. Empty: none.
    QString demoFolder;
};

// The window's title: the program, its version and, for the demo, where its data is.
QString mainWindowTitle(const QString &demoFolder = QString());

// The notice when the desktop has no program for what (a document, a folder, an address): names it, so the user
// can open it by hand.
QString openFailedMessage(const QString &what, const QUrl &url);

// The options of the installed program.
MainWindowOptions defaultMainWindowOptions();

// The application-wide error report: a plain message box owned by owner, with an empty caption, the error's text
// and one OK button. Returns at once, so the program goes on; the box deletes itself when closed.
QMessageBox *ApplicationEvents1Exception(QWidget *owner, const QString &message);

// CBoxTemplate as the engine sees the template choice.
class ComboTemplateChooser final : public templates::TemplateChooser
{
public:
    explicit ComboTemplateChooser(QComboBox &box) : m_box(box) {}

    int count() const override;
    QString itemText(int index) const override;
    int currentIndex() const override;
    QString currentText() const override;
    void setCurrentIndex(int index) override;
    void setItems(const QStringList &items) override;

private:
    QComboBox &m_box;
};

// The main window: the tool bar, the template choice, the preview, the download list and its buttons, the status
// bar. It owns the session (settings, template store, queue, the grab's browsers EWB1 and the scheduler), is the
// engine's host, and wires the widget-free operations (AddBook, TemplateCommands, QueueCommands) to the controls.
// Commands never let an error escape into the event loop: each one ends with the error shown.
class TFrmMain : public QWidget, public engine::EngineHost
{
    Q_OBJECT

public:
    // Runs the start steps on folder's files. dialogs: null for the real ones.
    explicit TFrmMain(const DataFolder &folder, MainWindowOptions options = defaultMainWindowOptions(),
                      std::unique_ptr<WindowDialogs> dialogs = nullptr, QWidget *parent = nullptr);
    ~TFrmMain() override;

    // The commands of the controls.
    void BtnDownloadClick(); // AddBook
    void BtnBeginClick();
    void BtnStopClick();
    void N24Click();
    void N25Click();
    void N26Click();
    void BtnConfigClick();
    void MenuItem1Click(); // help
    void MenuItem3Click(); // about
    // "检查更新": every finished book is queued for its new chapters and the scheduler started.
    void checkUpdatesClick();
    void BtnUpClick();
    void BtnDeleteClick();
    void BtnDownClick();
    void BtnBrowseClick();
    void Image2Click();
    // Ctrl+Enter shows the page being grabbed over the list, Ctrl+Space hides it again.
    void showPageView();
    void hidePageView();
    // The session is ending: only the stop request runs.
    void winexit();

    // The grabber's redefinition request: the wizard opens on the page for the template at index (0: a new one).
    void RequestRedefinition(int index, const QString &address);

    // EngineHost.
    void ShowMsg(const QString &text) override;
    void showError(const QString &message) override;
    void askYesNo(const QString &caption, const QString &text, std::function<void(bool yes)> answered) override;
    void requestRedefinition(int index, const QUrl &address) override;
    void showWaitDialog() override;

    // For tests.
    session::Session &session() { return *m_session; }
    core::BookQueue &books() { return m_session->queue(); }
    const settings::AppSettings &settings() const { return m_session->settings(); }
    const templates::TemplateStore &store() const { return m_session->store(); }
    templates::TemplateChooser &chooser() { return m_session->chooser(); }
    engine::DownloadScheduler &scheduler() { return m_session->scheduler(); }
    browser::StaticBrowser &grabBrowser() { return m_session->browsers().staticBrowser(); }
    QWidget *waitDialog() const;
    QTextEdit *pageView() const { return m_pageView; }
    QTableView *downList() const { return m_LVDownList; }
    // The template wizard, made when "定制" first opens it; null before, and always without the web engine.
    TFrmTemplate *templateWizard() const { return m_wizard; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildToolBar();
    void buildListArea();
    void connectEngine();
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void onProgress(const QString &bookName, int pagesDone, double pagesPerSecond);
    void refreshPageView();
    // The book whose text the preview shows has left the list: the preview and the page view show nothing of it.
    void onRowAboutToGo(int row);
    void openOrSay(const QString &what, const QUrl &url);
    core::BookListPaths bookListPaths() const;
    QList<int> selectedRows() const;
    void selectRow(int row);
    // Runs a command; an error ends it and is shown.
    void guarded(const std::function<void()> &command);
    void ensureTemplateWizard();
    void runTemplateWizard(std::function<void()> closed);

    const DataFolder m_folder;
    const MainWindowOptions m_options;
    std::unique_ptr<WindowDialogs> m_dialogs;

    // Controls, owned by the window.
    QToolButton *m_BtnDownload = nullptr;
    QToolButton *m_BtnBegin = nullptr;
    QToolButton *m_BtnStop = nullptr;
    QToolButton *m_BtnTemplate = nullptr;
    QToolButton *m_BtnConfig = nullptr;
    QToolButton *m_BtnHelp = nullptr;
    QComboBox *m_CBoxTemplate = nullptr;
    QLabel *m_activity = nullptr; // Image1 (busy) and Image3 (at rest) in one place
    QPlainTextEdit *m_MemoPreview = nullptr;
    QTableView *m_LVDownList = nullptr;
    QTextEdit *m_pageView = nullptr; // EWB1 brought to the front
    StatusLabel *m_statusBook = nullptr;
    StatusLabel *m_statusPages = nullptr;
    StatusLabel *m_statusSpeed = nullptr;
    dialogs::TFrmWait *m_wait = nullptr;
    TFrmTemplate *m_wizard = nullptr;

    std::unique_ptr<session::Session> m_session;
    std::unique_ptr<BookListModel> m_books; // the queue as LVDownList shows it
    std::unique_ptr<core::QueueCommands> m_listCommands;
    std::unique_ptr<TemplateCommands> m_templateCommands;

    // The book the preview shows, and whether the page view has been emptied since the grab browser's last page.
    std::optional<core::BookQueue::BookId> m_previewBook;
    bool m_pageViewCleared = false;
    bool m_shown = false;
    bool m_closeAfterGrab = false;
};

} // namespace qh::app
