#include "dialogs/settingsdialog.h"

#include "common/error.h"
#include "dialogs/dialogfont.h"
#include "dialogs/portvalidator.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace qh::dialogs {

namespace {

constexpr int MaxPageDelay = 60000;

QString chooseFolderWithSystemDialog(QWidget *parent)
{
    return QFileDialog::getExistingDirectory(parent, u"请选择文件所在的文件夹"_s,
                                             QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                                             QFileDialog::ShowDirsOnly);
}

// Older files hold what the masked field made of an empty address: dots and spaces. That means no proxy.
QString proxyForEdit(const QString &stored)
{
    QString proxy = settings::StripSpaces(stored);
    if (QStringView(proxy).trimmed().isEmpty() || proxy.count(u'.') == proxy.size())
        return QString();
    return proxy;
}

// A stored port that no socket could use (the old field took up to 99999) is shown as none.
QString portForEdit(const QString &stored)
{
    QString port = settings::StripSpaces(stored);
    int pos = 0;
    return PortValidator().validate(port, pos) == QValidator::Acceptable ? port : QString();
}

} // namespace

TFrmCfg::TFrmCfg(const settings::AppSettings &settings, const QString &iniPath, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_settings(settings), m_iniPath(iniPath), m_chooseFolder(chooseFolderWithSystemDialog),
      m_EdtSavePath(new QLineEdit(this)), m_BBtnll(new QPushButton(u"浏览..."_s, this)),
      m_CBoxAutoDown(new QCheckBox(u"软件启动后自动开始下载"_s, this)), m_EdtProxy(new QLineEdit(this)),
      m_EdtProxyPort(new QLineEdit(this)), m_CBoxEncoding(new QComboBox(this)), m_EdtPageDelay(new QSpinBox(this)),
      m_CBoxFormat(new QComboBox(this)), m_BBtnok(new QPushButton(u"确定"_s, this)),
      m_BBtnCancel(new QPushButton(u"取消"_s, this))
{
    setWindowTitle(u"系统设置"_s);
    applyWindowLook(this);
    setMinimumWidth(435);

    m_EdtSavePath->setObjectName(u"EdtSavePath"_s);
    m_EdtSavePath->setReadOnly(true);
    m_EdtSavePath->setText(settings.SavePath);
    m_BBtnll->setObjectName(u"BBtnll"_s);
    m_BBtnll->setFixedSize(47, 20);

    m_CBoxAutoDown->setObjectName(u"CBoxAutoDown"_s);
    m_CBoxAutoDown->setChecked(settings.AutoDownload);

    m_EdtProxy->setObjectName(u"EdtProxy"_s);
    m_EdtProxy->setValidator(
        new QRegularExpressionValidator(QRegularExpression(u"[A-Za-z0-9.\\-]{0,253}"_s), m_EdtProxy));
    m_EdtProxy->setText(proxyForEdit(settings.Proxy));
    m_EdtProxyPort->setObjectName(u"EdtProxyPort"_s);
    m_EdtProxyPort->setValidator(new PortValidator(m_EdtProxyPort));
    m_EdtProxyPort->setText(portForEdit(settings.ProxyPort));
    m_EdtProxyPort->setFixedWidth(60);

    m_CBoxEncoding->setObjectName(u"CBoxEncoding"_s);
    m_CBoxEncoding->addItem(u"GB18030"_s, int(text::Encoding::Gb18030));
    m_CBoxEncoding->addItem(u"UTF-8"_s, int(text::Encoding::Utf8));
    m_CBoxEncoding->setCurrentIndex(m_CBoxEncoding->findData(int(settings.BookEncoding)));
    m_EdtPageDelay->setObjectName(u"EdtPageDelay"_s);
    m_EdtPageDelay->setRange(0, MaxPageDelay);
    m_EdtPageDelay->setValue(settings.PageDelay);
    m_CBoxFormat->setObjectName(u"CBoxFormat"_s);
    m_CBoxFormat->addItem(u"文本"_s, int(BookFormat::Text));
    m_CBoxFormat->addItem(u"EPUB"_s, int(BookFormat::Epub));
    m_CBoxFormat->setCurrentIndex(m_CBoxFormat->findData(int(settings.OutputFormat)));
    m_CBoxFormat->setToolTip(u"新加入的书按这种格式保存；已在下载的书保持原来的格式。"_s);

    m_BBtnok->setObjectName(u"BBtnok"_s);
    m_BBtnok->setDefault(true);
    m_BBtnCancel->setObjectName(u"BBtnCancel"_s);

    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(u"电子书保存目录："_s, this), 0, 0);
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(m_EdtSavePath, 1);
    pathRow->addWidget(m_BBtnll);
    grid->addLayout(pathRow, 0, 1, 1, 3);
    grid->addWidget(new QLabel(u"代理服务器地址："_s, this), 1, 0);
    grid->addWidget(m_EdtProxy, 1, 1);
    grid->addWidget(new QLabel(u"代理服务器端口："_s, this), 1, 2);
    grid->addWidget(m_EdtProxyPort, 1, 3);
    grid->addWidget(new QLabel(u"文本编码："_s, this), 2, 0);
    grid->addWidget(m_CBoxEncoding, 2, 1);
    grid->addWidget(new QLabel(u"翻页间隔（毫秒）："_s, this), 2, 2);
    grid->addWidget(m_EdtPageDelay, 2, 3);
    grid->addWidget(new QLabel(u"输出格式："_s, this), 3, 0);
    grid->addWidget(m_CBoxFormat, 3, 1);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(m_CBoxAutoDown);
    buttonRow->addStretch(1);
    buttonRow->addWidget(m_BBtnok);
    buttonRow->addWidget(m_BBtnCancel);
    grid->addLayout(buttonRow, 4, 0, 1, 4);

    setTabOrder(m_EdtSavePath, m_CBoxAutoDown);
    setTabOrder(m_CBoxAutoDown, m_EdtProxy);
    setTabOrder(m_EdtProxy, m_EdtProxyPort);
    setTabOrder(m_EdtProxyPort, m_CBoxEncoding);
    setTabOrder(m_CBoxEncoding, m_EdtPageDelay);
    setTabOrder(m_EdtPageDelay, m_CBoxFormat);
    setTabOrder(m_CBoxFormat, m_BBtnok);
    setTabOrder(m_BBtnok, m_BBtnCancel);
    setTabOrder(m_BBtnCancel, m_BBtnll);

    connect(m_BBtnll, &QPushButton::clicked, this, &TFrmCfg::BBtnllClick);
    connect(m_BBtnok, &QPushButton::clicked, this, &TFrmCfg::BBtnokClick);
    connect(m_BBtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFrmCfg::BBtnllClick()
{
    const QString folder = m_chooseFolder(this);
    if (!folder.isEmpty())
        m_EdtSavePath->setText(QDir::toNativeSeparators(folder));
}

void TFrmCfg::BBtnokClick()
{
    settings::AppSettings chosen = m_settings;
    chosen.SavePath = m_EdtSavePath->text();
    chosen.AutoDownload = m_CBoxAutoDown->isChecked();
    chosen.Proxy = settings::StripSpaces(m_EdtProxy->text());
    chosen.ProxyPort = settings::StripSpaces(m_EdtProxyPort->text());
    chosen.BookEncoding = text::Encoding(m_CBoxEncoding->currentData().toInt());
    chosen.PageDelay = m_EdtPageDelay->value();
    chosen.OutputFormat = BookFormat(m_CBoxFormat->currentData().toInt());
    try {
        settings::SaveSettings(m_iniPath, chosen);
    } catch (const Error &error) {
        // The dialog stays open with the user's choices, so a second try needs no retyping.
        auto *box = new QMessageBox(QMessageBox::NoIcon, QString(), error.message(), QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    m_settings = chosen;
    accept();
}

} // namespace qh::dialogs
