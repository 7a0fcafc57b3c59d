#include "dialogs/aboutdialog.h"

#include "dialogs/dialogfont.h"
#include "dialogs/linklabel.h"

#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace qh::dialogs {

namespace {

QLabel *boldLine(const QString &text, int y, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    QFont bold = windowFont();
    bold.setBold(true);
    label->setFont(bold);
    label->setGeometry(24, y, 260, 16);
    return label;
}

} // namespace

TFrmAbout::TFrmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_openUrl([](const QUrl &url) { QDesktopServices::openUrl(url); })
{
    setModal(true);
    setFont(windowFont());
    setFixedSize(303, 187);

    auto *panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setGeometry(rect());
    QPalette cream = panel->palette();
    cream.setColor(QPalette::Window, QColor(0xff, 0xf8, 0xdc));
    panel->setPalette(cream);
    panel->setAutoFillBackground(true);

    auto *banner = new QLabel(u"Quillhaul"_s, panel);
    banner->setObjectName(u"Banner"_s);
    banner->setAlignment(Qt::AlignCenter);
    banner->setStyleSheet(u"QLabel { color: white; font: bold 22px; background: qlineargradient(x1:0, y1:0, "
                          u"x2:1, y2:0, stop:0 #3a5a8c, stop:1 #8fb3de); }"_s);
    banner->setGeometry(2, 2, 299, 40);

    auto *maker = new QLabel(u"网络小说下载工具，自由软件"_s, panel);
    maker->setGeometry(24, 48, 260, 16);

    auto *separator = new QFrame(panel);
    separator->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    separator->setGeometry(8, 67, 287, 2);

    boldLine(u"名称：    Quillhaul"_s, 74, panel);
    boldLine(u"版本：    "_s + QStringLiteral(QUILLHAUL_VERSION), 93, panel)->setObjectName(u"Version"_s);
    boldLine(u"许可证：  GPL-3.0-or-later"_s, 112, panel);
    boldLine(u"网站："_s, 133, panel);

    auto *link = new LinkLabel(ProjectAddress, QUrl(ProjectAddress), panel);
    link->setObjectName(u"SiteLink"_s);
    link->setGeometry(84, 130, 190, 20);
    connect(link, &LinkLabel::activated, this, [this](const QUrl &url) { m_openUrl(url); });

    auto *close = new QPushButton(u"关闭"_s, panel);
    close->setObjectName(u"BtnClose"_s);
    close->setGeometry(214, 154, 75, 25);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void TFrmAbout::mousePressEvent(QMouseEvent *event)
{
    // The panel and its labels let presses through; anything that reaches here was outside the link and the button.
    event->accept();
    accept();
}

} // namespace qh::dialogs
