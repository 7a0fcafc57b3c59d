#pragma once

#include <QFont>

namespace qh::dialogs {

// The window font of every dialog: 宋体 where it exists, else the platform's CJK font, at the given pixel size.
QFont windowFont(int pixelSize = 12);

} // namespace qh::dialogs
