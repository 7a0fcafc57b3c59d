#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace qh::test {

// Runs action on the application's modal window as soon as one is shown, for code that blocks in exec(). Stops
// looking after timeoutMs.
inline void onModalWindow(std::function<void(QWidget *)> action, int timeoutMs = 5000)
{
    auto *poll = new QTimer;
    poll->setInterval(5);
    auto waited = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, waited, timeoutMs, action = std::move(action)] {
        *waited += poll->interval();
        QWidget *modal = QApplication::activeModalWidget();
        if (modal || *waited > timeoutMs) {
            poll->stop();
            poll->deleteLater();
        }
        if (modal)
            action(modal);
    });
    poll->start();
}

} // namespace qh::test
