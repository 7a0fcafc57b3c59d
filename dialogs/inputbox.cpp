#include "dialogs/inputbox.h"

#include "dialogs/dialogfont.h"

#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace qh::dialogs {

namespace {

QFont promptFont()
{
    QFont font;
    font.setFamilies({u"MS Sans Serif"_s, u"Noto Sans CJK SC"_s, u"WenQuanYi Zen Hei"_s});
    font.setPixelSize(11);
    return font;
}

} // namespace

TFrmInputbox::TFrmInputbox(const QString &caption, const QString &prompt, const QString &defaultText, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_defaultText(defaultText),
      m_sLabel1(new QLabel(prompt, this)), m_sEdit1(new QLineEdit(defaultText, this)),
      m_BtnOk(new QPushButton(u"确定"_s, this)), m_BtnCancel(new QPushButton(u"取消"_s, this))
{
    setWindowTitle(caption);
    setFont(windowFont());
    setFixedSize(457, 119);

    m_sLabel1->setObjectName(u"sLabel1"_s);
    m_sLabel1->setFont(promptFont());
    m_sLabel1->setWordWrap(true);
    m_sLabel1->setTextFormat(Qt::PlainText);
    m_sLabel1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette labelColour = m_sLabel1->palette();
    labelColour.setColor(QPalette::WindowText, QColor(43, 53, 77));
    m_sLabel1->setPalette(labelColour);
    m_sLabel1->setGeometry(16, 10, 425, 33);

    m_sEdit1->setObjectName(u"sEdit1"_s);
    m_sEdit1->setFont(promptFont());
    m_sEdit1->setGeometry(16, 48, 385, 21);

    m_BtnOk->setObjectName(u"BtnOk"_s);
    m_BtnOk->setGeometry(286, 84, 75, 25);
    m_BtnOk->setDefault(true);
    m_BtnCancel->setObjectName(u"BtnCancel"_s);
    m_BtnCancel->setGeometry(370, 84, 75, 25);
    connect(m_BtnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString TFrmInputbox::resultText() const
{
    return result() == QDialog::Accepted ? m_sEdit1->text() : m_defaultText;
}

QString InputText(QWidget *parent, const QString &caption, const QString &prompt, const QString &defaultText)
{
    TFrmInputbox box(caption, prompt, defaultText, parent);
    box.exec();
    return box.resultText();
}

} // namespace qh::dialogs
