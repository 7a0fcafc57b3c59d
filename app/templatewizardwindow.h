#pragma once

#include "app/templatewizard.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
class QTimer;
class QTreeWidget;

namespace qh::app {

class WizardPageView;

// The dialogs the wizard window needs from its owner besides notices and errors; the main window answers with its
// own, tests with a script. Asked from the wizard's own command handlers only, so they may be modal.
class WizardDialogs : public virtual MessageSink
{
public:
    virtual QString InputText(const QString &caption, const QString &prompt, const QString &defaultText) = 0;
    virtual bool askYesNo(const QString &caption, const QString &text) = 0;
};

// The template definition wizard window ("定义抓取模板"): the controls of TemplateWizard, which holds the logic,
// and the page view Ewb1. Lives as long as its owner; shown modally by the define command.
class TFrmTemplate : public QDialog, private TemplateWizardUi
{
    Q_OBJECT

public:
    TFrmTemplate(WizardDialogs &dialogs, const QString &templateFile, QWidget *parent = nullptr);
    ~TFrmTemplate() override;

    TemplateWizard &wizard() { return *m_wizard; }
    WizardPageView *pageView() const { return m_Ewb1; }
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // TemplateWizardUi.
    void ShowMsg(const QString &text) override { m_dialogs.ShowMsg(text); }
    QString InputText(const QString &caption, const QString &prompt, const QString &defaultText) override;
    bool askYesNo(const QString &caption, const QString &text) override { return m_dialogs.askYesNo(caption, text); }
    void showPage(const QString &html, const QUrl &base) override;
    void showWebPage(QWebEnginePage *page) override;

    void buildControls();
    void syncView();
    void syncList();
    void selectRow(int row);
    int selectedRow() const;
    void Timer1Timer();
    // Runs a wizard operation; an error ends it and is shown.
    void guarded(const std::function<void()> &operation);

    WizardDialogs &m_dialogs;
    TemplateWizard *m_wizard;

    QTextEdit *m_MemoHelp = nullptr;
    QPushButton *m_BBtnYes = nullptr;
    QPushButton *m_BBtnNo = nullptr;
    QPushButton *m_BtnCancel = nullptr;
    QLineEdit *m_EdtAddr = nullptr;
    QPushButton *m_BBtnGo = nullptr;
    QCheckBox *m_CBoxScript = nullptr;
    QPushButton *m_BBtnBegin = nullptr;
    QPushButton *m_BBtnSave = nullptr;
    QPushButton *m_BBtnClose = nullptr;
    QTreeWidget *m_LVTemplate = nullptr;
    QPushButton *m_BtnUp = nullptr;
    QPushButton *m_BtnDel = nullptr;
    QPushButton *m_BtnDown = nullptr;
    QLineEdit *m_EdtTitle = nullptr;
    QPlainTextEdit *m_MemoText = nullptr;
    WizardPageView *m_Ewb1 = nullptr;
    QTimer *m_Timer1 = nullptr;
    bool m_helpRed = false;
};

} // namespace qh::app
