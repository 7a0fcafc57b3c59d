#pragma once

#include "common/messagesink.h"
#include "core/queuecommands.h"

#include <QString>

#include <functional>

namespace qh::templates {
class TemplateChooser;
class TemplateStore;
} // namespace qh::templates

namespace qh::app {

using core::SchedulerState;
using core::StopFirstMessage;

// What the template commands ask of the user besides notices. The main window answers with its dialogs, tests with
// a script.
class TemplateCommandsUi : public virtual MessageSink
{
public:
    // An existing file to open, or an empty text when the user cancels. filter as QFileDialog takes it.
    virtual QString getOpenFileName(const QString &filter) = 0;
    // A file to write (an existing one is replaced without a question), or an empty text when the user cancels.
    virtual QString getSaveFileName(const QString &filter, const QString &defaultSuffix) = 0;
};

inline const QString TemplateFileFilter = QStringLiteral("模板文件(*.tpe)");
inline const QString WizardMissingMessage =
    QStringLiteral("模板定制向导尚未完成，请用 quillhaul-cli templates define 定义模板。");
inline const QString NothingToExportMessage = QStringLiteral("还没有模板文件 system.tpe，没有可导出的模板。");

// The commands of the "模板" menu on the main window's store, chooser and template file ("system.tpe"). All three
// refuse to run while a book is being grabbed, so the store never changes while the engine picks a book's
// template; an idle running timer does not hold them up. A book that starts while the wizard is open took a copy
// of its template, so the store reloaded when the wizard closes cannot change it. The objects given must outlive
// this one.
class TemplateCommands
{
public:
    TemplateCommands(templates::TemplateStore &store, templates::TemplateChooser &chooser,
                     const SchedulerState &scheduler, TemplateCommandsUi &ui, QString templateFile);

    // Opens the template wizard without waiting for it, and calls closed once it has closed. Without one, "定制"
    // says how to define a template with the command line.
    using WizardRunner = std::function<void(std::function<void()> closed)>;
    void setWizard(WizardRunner runWizard) { m_runWizard = std::move(runWizard); }

    // "定制": opens the wizard; once it has closed, reloads the store from the template file, which it may have
    // changed, keeping the template chosen before the wizard opened. A broken file is shown as an error.
    void N24Click();

    // "导入": the chosen file replaces "system.tpe" byte for byte and becomes the store; "自动" is selected. The
    // file is checked before anything changes: a broken one throws qh::Error and leaves store and file alone, and
    // so does a copy that fails, so the store never holds templates that the next start would not find.
    void N25Click();

    // "导出": "system.tpe" copied byte for byte to the chosen file. Throws qh::Error when the copy fails; says so
    // when there is no template file to export.
    void N26Click();

    // The store reloaded from the template file after a change made elsewhere, keeping the chosen template when it
    // is still there (else nothing is selected, which is automatic). A missing file changes nothing. Throws
    // qh::Error for a broken file; the store then stays as it was.
    void reloadStore();

private:
    bool refuseWhileGrabbing();
    void reloadStore(const QString &chosen);

    templates::TemplateStore &m_store;
    templates::TemplateChooser &m_chooser;
    const SchedulerState &m_scheduler;
    TemplateCommandsUi &m_ui;
    const QString m_templateFile;
    WizardRunner m_runWizard;
};

} // namespace qh::app
