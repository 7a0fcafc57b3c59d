#include "app/templatecommands.h"

#include "common/error.h"
#include "common/textfile.h"
#include "templates/selection.h"
#include "templates/templatechooser.h"
#include "templates/templatefile.h"
#include "templates/templatestore.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace qh::app {

TemplateCommands::TemplateCommands(templates::TemplateStore &store, templates::TemplateChooser &chooser,
                                   const SchedulerState &scheduler, TemplateCommandsUi &ui, QString templateFile)
    : m_store(store), m_chooser(chooser), m_scheduler(scheduler), m_ui(ui), m_templateFile(std::move(templateFile))
{}

bool TemplateCommands::refuseWhileGrabbing()
{
    if (!m_scheduler.isGrabbing())
        return false;
    m_ui.ShowMsg(StopFirstMessage);
    return true;
}

void TemplateCommands::N24Click()
{
    if (refuseWhileGrabbing())
        return;
    const QString chosen = m_chooser.currentText();
    if (!m_runWizard) {
        m_ui.ShowMsg(WizardMissingMessage);
        reloadStore(chosen);
        return;
    }
    m_runWizard([this, chosen] {
        try {
            reloadStore(chosen);
        } catch (const Error &error) {
            m_ui.showError(error.message());
        }
    });
}

void TemplateCommands::reloadStore()
{
    reloadStore(m_chooser.currentText());
}

void TemplateCommands::reloadStore(const QString &chosen)
{
    if (!QFileInfo(m_templateFile).isFile())
        return;
    m_store = templates::LoadTemplateFile(m_templateFile);
    templates::fillTemplateChooser(m_chooser, m_store);
    if (chosen.isEmpty())
        m_chooser.setCurrentIndex(-1);
    else
        templates::selectChooserItem(m_chooser, chosen);
}

void TemplateCommands::N25Click()
{
    if (refuseWhileGrabbing())
        return;
    const QString path = m_ui.getOpenFileName(TemplateFileFilter);
    if (path.isEmpty())
        return;
    // The file dialog ran the event loop, and a tick may have started a book meanwhile.
    if (refuseWhileGrabbing())
        return;
    // One read serves the check and the copy, so what is copied is what was checked.
    const QByteArray bytes = text::readFile(path, templates::MaxTemplateFileBytes);
    templates::TemplateStore imported = templates::parseTemplateFile(bytes);
    text::writeFileAtomically(m_templateFile, bytes);
    m_store = std::move(imported);
    templates::fillTemplateChooser(m_chooser, m_store);
    m_chooser.setCurrentIndex(0);
}

void TemplateCommands::N26Click()
{
    if (refuseWhileGrabbing())
        return;
    if (!QFileInfo(m_templateFile).isFile()) {
        m_ui.ShowMsg(NothingToExportMessage);
        return;
    }
    const QString path = m_ui.getSaveFileName(TemplateFileFilter, u"tpe"_s);
    if (path.isEmpty())
        return;
    text::writeFileAtomically(path, text::readFile(m_templateFile, templates::MaxTemplateFileBytes));
}

} // namespace qh::app
