#include "dialogs/messagedialog.h"

#include "dialogs/dialogfont.h"

#include <QLabel>
#include <QPalette>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace qh::dialogs {

TFrmMsg::TFrmMsg(const QString &text, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_Label1(new QLabel(text, this)), m_BtnOk(new QPushButton(u"确定"_s, this))
{
    setWindowTitle(u"提醒"_s);
    applyWindowLook(this);
    setFixedSize(371, 107);

    m_Label1->setObjectName(u"Label1"_s);
    m_Label1->setFont(windowFont(14));
    m_Label1->setWordWrap(true);
    m_Label1->setTextFormat(Qt::PlainText);
    m_Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_Label1->setStyleSheet(u"color: red;"_s);
    m_Label1->setGeometry(25, 16, 321, 41);

    m_BtnOk->setObjectName(u"BtnOk"_s);
    m_BtnOk->setGeometry((371 - 75) / 2, 68, 75, 25);
    m_BtnOk->setDefault(true);
    connect(m_BtnOk, &QPushButton::clicked, this, &QDialog::accept);
}

QString TFrmMsg::text() const
{
    return m_Label1->text();
}

TFrmMsg *ShowMsg(QWidget *parent, const QString &text)
{
    auto *dialog = new TFrmMsg(text, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    return dialog;
}

} // namespace qh::dialogs
