#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace qh::dialogs {

// The one-line input box: a prompt, an edit filled with the default text, "确定" and "取消"; no close box.
// Use it modally through InputText, or open() it and read resultText() on finished().
class TFrmInputbox : public QDialog
{
    Q_OBJECT

public:
    TFrmInputbox(const QString &caption, const QString &prompt, const QString &defaultText, QWidget *parent = nullptr);

    // The edit's text as typed (not trimmed) once confirmed; the default text otherwise.
    QString resultText() const;

    QLineEdit *edit() const { return m_sEdit1; }
    QPushButton *okButton() const { return m_BtnOk; }
    QPushButton *cancelButton() const { return m_BtnCancel; }

private:
    QString m_defaultText;
    QLabel *m_sLabel1;
    QLineEdit *m_sEdit1;
    QPushButton *m_BtnOk;
    QPushButton *m_BtnCancel;
};

// Asks for one line of text in a modal TFrmInputbox and returns it; a cancelled box returns defaultText. The
// event loop runs while the box is open, so a caller with a timer of its own stops it first.
QString InputText(QWidget *parent, const QString &caption, const QString &prompt, const QString &defaultText);

} // namespace qh::dialogs
