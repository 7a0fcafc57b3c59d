#pragma once

#include <QWidget>

#include <chrono>

class QLabel;
class QTimer;

namespace qh::core {
class BookQueue;
}

namespace qh::dialogs {

// The window shown while a stop request is carried out. One instance lives from start to exit; the stop commands
// show() it, and it hides itself as soon as the queue shows the stop done (stopCompleted): it follows the queue's
// changes, and looks once more just after it is shown. It is not modal, stays on top, and the user cannot close it.
// Its timer runs all the time and only moves the dots, which go on from where they stood when it is shown again.
class TFrmWait : public QWidget
{
    Q_OBJECT

public:
    // list must outlive the dialog. interval: the tick, one second in the program.
    explicit TFrmWait(const core::BookQueue &list, QWidget *parent = nullptr,
                      std::chrono::milliseconds interval = std::chrono::seconds(1));

    QString labelText() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Timer1Timer();
    void hideIfStopped();

    const core::BookQueue &m_list;
    QLabel *m_Label1;
    QTimer *m_Timer1;
};

} // namespace qh::dialogs
