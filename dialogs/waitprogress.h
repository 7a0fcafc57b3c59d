#pragma once

#include <QString>

namespace qh::core {
class BookQueue;
}

namespace qh::dialogs {

// What the wait dialog shows first, and again after its dots reach ten.
inline const QString WaitCaption = QStringLiteral("正在停止中,请稍候...");

// The wait dialog's label after one more tick: one more dot, from three up to ten, then three again; eleven dots
// are never shown.
QString nextWaitLabel(const QString &label);

// Whether the stop the wait dialog waits for is done: the list is empty, or its head row reads exactly "排队中",
// which the engine writes when it honours a stop request.
bool stopCompleted(const core::BookQueue &list);

} // namespace qh::dialogs
