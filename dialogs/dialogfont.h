#pragma once

#include <QFont>

QT_BEGIN_NAMESPACE
class QWidget;
QT_END_NAMESPACE

namespace qh::dialogs {

// The window font of every dialog: 宋体 where it exists, else the platform's CJK font, at the given pixel size.
QFont windowFont(int pixelSize = 12);

// The look every window of the program shares: the window font and a white background.
void applyWindowLook(QWidget *window);

} // namespace qh::dialogs
