#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace qh::dialogs {

// The notice dialog "提醒": a red text in a fixed-size label (a long text is wrapped and cut at the label's lower
// edge, the dialog never grows) and the button "确定".
class TFrmMsg : public QDialog
{
    Q_OBJECT

public:
    explicit TFrmMsg(const QString &text, QWidget *parent = nullptr);

    QString text() const;
    QPushButton *okButton() const { return m_BtnOk; }

private:
    QLabel *m_Label1;
    QPushButton *m_BtnOk;
};

// Shows a new TFrmMsg with the text, modal to the whole application, and returns at once: the caller is not
// reentered by its own timers while the notice is open. The dialog deletes itself when it closes; the pointer is
// for callers that want its finished() signal and is not theirs to delete.
TFrmMsg *ShowMsg(QWidget *parent, const QString &text);

} // namespace qh::dialogs
