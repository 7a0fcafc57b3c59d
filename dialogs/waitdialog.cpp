#include "dialogs/waitdialog.h"

#include "core/bookqueue.h"
#include "dialogs/dialogfont.h"
#include "dialogs/waitprogress.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPalette>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace qh::dialogs {

TFrmWait::TFrmWait(const core::BookQueue &list, QWidget *parent, std::chrono::milliseconds interval)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      m_list(list), m_Label1(new QLabel(WaitCaption, this)), m_Timer1(new QTimer(this))
{
    setWindowTitle(QString());
    applyWindowLook(this);
    setFixedSize(230, 77);

    m_Label1->setObjectName(u"Label1"_s);
    m_Label1->setFont(windowFont(14));
    m_Label1->setTextFormat(Qt::PlainText);
    m_Label1->setGeometry(24, 28, 200, 20);

    m_Timer1->setInterval(interval);
    connect(m_Timer1, &QTimer::timeout, this, &TFrmWait::Timer1Timer);
    m_Timer1->start();

    using core::BookQueue;
    for (const auto signal : {&BookQueue::changed, &BookQueue::removed})
        connect(&list, signal, this, &TFrmWait::hideIfStopped);
    connect(&list, &BookQueue::reset, this, &TFrmWait::hideIfStopped);
}

void TFrmWait::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // A stop that has nothing to wind down is done at once; the window still shows for a moment.
    QTimer::singleShot(0, this, &TFrmWait::hideIfStopped);
}

void TFrmWait::hideIfStopped()
{
    if (isVisible() && stopCompleted(m_list))
        hide();
}

QString TFrmWait::labelText() const
{
    return m_Label1->text();
}

void TFrmWait::closeEvent(QCloseEvent *event)
{
    // Only the finished stop hides the window; Alt+F4 and the like must not.
    if (event->spontaneous())
        event->ignore();
    else
        QWidget::closeEvent(event);
}

void TFrmWait::Timer1Timer()
{
    m_Label1->setText(nextWaitLabel(m_Label1->text()));
}

} // namespace qh::dialogs
