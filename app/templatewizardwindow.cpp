#include "app/templatewizardwindow.h"

#include "app/wizardpageview.h"
#include "common/error.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace qh::app {

namespace {

const QString TooLargeMessage = QStringLiteral("网页太大，定制窗口无法显示它，请换用此网站的另一个内容页。");

QPushButton *makeButton(const QString &caption, const QString &name, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

} // namespace

TFrmTemplate::TFrmTemplate(WizardDialogs &dialogs, const QString &templateFile, QWidget *parent)
    : QDialog(parent), m_dialogs(dialogs), m_wizard(new TemplateWizard(*this, templateFile, this))
{
    setWindowTitle(u"定义抓取模板"_s);
    setModal(true);
    buildControls();
    connect(m_wizard, &TemplateWizard::viewChanged, this, &TFrmTemplate::syncView);
    connect(m_wizard, &TemplateWizard::listChanged, this, &TFrmTemplate::syncList);
    connect(m_wizard, &TemplateWizard::selectListRow, this, &TFrmTemplate::selectRow);
    connect(m_Ewb1, &WizardPageView::pageShown, m_wizard, &TemplateWizard::pageShown);
    connect(m_Ewb1, &WizardPageView::elementClicked, m_wizard, &TemplateWizard::elementClicked);
    connect(m_Ewb1, &WizardPageView::linkFollowed, this, [this](const QUrl &url) {
        m_wizard->setAddress(url.toString());
        guarded([this] { m_wizard->BBtnGoClick(); });
    });
    m_Ewb1->setCapturing([this] { return m_wizard->capturesClicks(); });
    syncView();
}

TFrmTemplate::~TFrmTemplate()
{
    // The wizard and its web browser go first among the children: the view lets go of the browser's page now.
    m_Ewb1->showLivePage(nullptr);
}

void TFrmTemplate::buildControls()
{
    auto *helpBox = new QGroupBox(u"帮助提示区"_s, this);
    m_MemoHelp = new QTextEdit(helpBox);
    m_MemoHelp->setObjectName(u"MemoHelp"_s);
    m_MemoHelp->setReadOnly(true);
    m_MemoHelp->setMaximumHeight(60);
    QFont bold = m_MemoHelp->font();
    bold.setBold(true);
    m_MemoHelp->setFont(bold);
    m_BBtnYes = makeButton(u"是"_s, u"BBtnYes"_s, helpBox);
    m_BBtnNo = makeButton(u"否"_s, u"BBtnNo"_s, helpBox);
    m_BtnCancel = makeButton(u"取消"_s, u"BtnCancel"_s, helpBox);
    auto *helpLayout = new QHBoxLayout(helpBox);
    helpLayout->addWidget(m_MemoHelp, 1);
    helpLayout->addWidget(m_BBtnYes);
    helpLayout->addWidget(m_BBtnNo);
    helpLayout->addWidget(m_BtnCancel);

    m_EdtAddr = new QLineEdit(this);
    m_EdtAddr->setObjectName(u"EdtAddr"_s);
    m_BBtnGo = makeButton(u"转到"_s, u"BBtnGo"_s, this);
    m_CBoxScript = new QCheckBox(u"网页需要脚本"_s, this);
    m_CBoxScript->setObjectName(u"CBoxScript"_s);
    m_CBoxScript->setToolTip(u"网页的文章标题、内容或下一页链接由脚本生成时勾选：网页将运行脚本后再读取。"_s);
    m_BBtnBegin = makeButton(wizardtext::BeginCaption, u"BBtnBegin"_s, this);
    m_BBtnSave = makeButton(u"保存模板"_s, u"BBtnSave"_s, this);
    m_BBtnClose = makeButton(u"关闭窗口"_s, u"BBtnClose"_s, this);
    auto *addressRow = new QHBoxLayout;
    addressRow->addWidget(new QLabel(u"输入网址："_s, this));
    addressRow->addWidget(m_EdtAddr, 1);
    addressRow->addWidget(m_CBoxScript);
    for (QPushButton *button : {m_BBtnGo, m_BBtnBegin, m_BBtnSave, m_BBtnClose})
        addressRow->addWidget(button);

    m_LVTemplate = new QTreeWidget(this);
    m_LVTemplate->setObjectName(u"LVTemplate"_s);
    m_LVTemplate->setHeaderLabels({u"模板名称"_s, u"模板地址"_s});
    m_LVTemplate->setRootIsDecorated(false);
    m_LVTemplate->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_LVTemplate->setSelectionMode(QAbstractItemView::SingleSelection);
    m_LVTemplate->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_BtnUp = makeButton(u"上"_s, u"BtnUp"_s, this);
    m_BtnDel = makeButton(u"删"_s, u"BtnDel"_s, this);
    m_BtnDown = makeButton(u"下"_s, u"BtnDown"_s, this);
    auto *listButtons = new QHBoxLayout;
    for (QPushButton *button : {m_BtnUp, m_BtnDel, m_BtnDown})
        listButtons->addWidget(button);

    m_EdtTitle = new QLineEdit(this);
    m_EdtTitle->setObjectName(u"EdtTitle"_s);
    m_EdtTitle->setReadOnly(true);
    m_MemoText = new QPlainTextEdit(this);
    m_MemoText->setObjectName(u"MemoText"_s);
    m_MemoText->setReadOnly(true);
    m_MemoText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto *left = new QVBoxLayout;
    left->addWidget(new QLabel(u"模板列表"_s, this));
    left->addWidget(m_LVTemplate, 1);
    left->addLayout(listButtons);
    left->addWidget(new QLabel(u"文章标题"_s, this));
    left->addWidget(m_EdtTitle);
    left->addWidget(new QLabel(u"文章内容"_s, this));
    left->addWidget(m_MemoText, 1);

    m_Ewb1 = new WizardPageView(this);
    m_Ewb1->setObjectName(u"Ewb1"_s);
    m_Ewb1->setMinimumSize(560, 420);

    auto *body = new QHBoxLayout;
    body->addLayout(left, 0);
    body->addWidget(m_Ewb1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(helpBox);
    layout->addLayout(addressRow);
    layout->addLayout(body, 1);
    resize(900, 640);

    connect(m_EdtAddr, &QLineEdit::textEdited, m_wizard, &TemplateWizard::setAddress);
    connect(m_BBtnGo, &QPushButton::clicked, this, [this] { guarded([this] { m_wizard->BBtnGoClick(); }); });
    connect(m_CBoxScript, &QCheckBox::clicked, this,
            [this](bool checked) { guarded([this, checked] { m_wizard->CBoxScriptClick(checked); }); });
    connect(m_BBtnBegin, &QPushButton::clicked, m_wizard, &TemplateWizard::BBtnBeginClick);
    connect(m_BBtnSave, &QPushButton::clicked, this, [this] { guarded([this] { m_wizard->BBtnSaveClick(); }); });
    connect(m_BBtnClose, &QPushButton::clicked, this, &QDialog::close);
    connect(m_BBtnYes, &QPushButton::clicked, m_wizard, &TemplateWizard::BBtnYesClick);
    connect(m_BBtnNo, &QPushButton::clicked, m_wizard, &TemplateWizard::BBtnNoClick);
    connect(m_BtnCancel, &QPushButton::clicked, m_wizard, &TemplateWizard::BtnCancelClick);
    connect(m_BtnUp, &QPushButton::clicked, this, [this] { guarded([this] { m_wizard->BtnUpClick(selectedRow()); }); });
    connect(m_BtnDown, &QPushButton::clicked, this,
            [this] { guarded([this] { m_wizard->BtnDownClick(selectedRow()); }); });
    connect(m_BtnDel, &QPushButton::clicked, this,
            [this] { guarded([this] { m_wizard->BtnDelClick(selectedRow()); }); });

    m_Timer1 = new QTimer(this);
    m_Timer1->setInterval(1000);
    connect(m_Timer1, &QTimer::timeout, this, &TFrmTemplate::Timer1Timer);
    m_Timer1->start();
}

void TFrmTemplate::syncView()
{
    const WizardView &view = m_wizard->view();
    if (m_MemoHelp->toPlainText() != view.help)
        m_MemoHelp->setPlainText(view.help);
    if (m_EdtAddr->text() != m_wizard->address())
        m_EdtAddr->setText(m_wizard->address());
    m_EdtTitle->setText(view.titleText);
    if (m_MemoText->toPlainText() != view.contentText)
        m_MemoText->setPlainText(view.contentText);
    m_BBtnYes->setVisible(view.questionVisible);
    m_BBtnNo->setVisible(view.questionVisible);
    m_BtnCancel->setVisible(view.questionVisible);
    m_BBtnBegin->setEnabled(view.beginEnabled);
    m_BBtnBegin->setText(view.beginCaption);
    m_BBtnSave->setEnabled(view.saveEnabled);
    m_LVTemplate->setEnabled(view.listEnabled);
    m_CBoxScript->setChecked(view.scriptsNeeded);
    m_CBoxScript->setEnabled(view.scriptsAvailable);
}

void TFrmTemplate::syncList()
{
    m_LVTemplate->clear();
    const QStringList &names = m_wizard->listNames();
    const QStringList &heads = m_wizard->listHeads();
    for (qsizetype k = 0; k < names.size(); ++k)
        m_LVTemplate->addTopLevelItem(new QTreeWidgetItem(QStringList{names.at(k), heads.value(k)}));
}

void TFrmTemplate::selectRow(int row)
{
    m_LVTemplate->setFocus();
    QTreeWidgetItem *item = m_LVTemplate->topLevelItem(row);
    m_LVTemplate->setCurrentItem(item);
    if (!item) {
        m_LVTemplate->clearSelection();
        return;
    }
    m_LVTemplate->scrollToItem(item);
}

int TFrmTemplate::selectedRow() const
{
    const QList<QTreeWidgetItem *> selected = m_LVTemplate->selectedItems();
    return selected.isEmpty() ? -1 : m_LVTemplate->indexOfTopLevelItem(selected.first());
}

QString TFrmTemplate::InputText(const QString &caption, const QString &prompt, const QString &defaultText)
{
    return m_dialogs.InputText(caption, prompt, defaultText);
}

void TFrmTemplate::showPage(const QString &html, const QUrl &base)
{
    if (m_Ewb1->showHtml(html, base))
        return;
    m_dialogs.ShowMsg(TooLargeMessage);
    // Told from the event loop: the wizard is still inside its own load notice.
    QTimer::singleShot(0, m_wizard, [wizard = m_wizard] { wizard->pageShown(false); });
}

void TFrmTemplate::showWebPage(QWebEnginePage *page)
{
    m_Ewb1->showLivePage(page);
}

void TFrmTemplate::Timer1Timer()
{
    m_helpRed = !m_helpRed;
    QPalette palette = m_MemoHelp->palette();
    palette.setColor(QPalette::Text, m_helpRed ? Qt::red : Qt::blue);
    m_MemoHelp->setPalette(palette);
}

void TFrmTemplate::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_wizard->FormShow();
    guarded([this] { m_wizard->FormActivate(); });
}

void TFrmTemplate::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && isVisible())
        guarded([this] { m_wizard->FormActivate(); });
}

void TFrmTemplate::done(int result)
{
    m_wizard->FormClose();
    QDialog::done(result);
}

void TFrmTemplate::guarded(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const Error &error) {
        m_dialogs.showError(error.message());
    }
}

} // namespace qh::app
