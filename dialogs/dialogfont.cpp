#include "dialogs/dialogfont.h"

#include <QPalette>
#include <QStringList>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace qh::dialogs {

QFont windowFont(int pixelSize)
{
    QFont font;
    font.setFamilies({u"SimSun"_s, u"宋体"_s, u"Noto Sans CJK SC"_s, u"WenQuanYi Zen Hei"_s});
    font.setPixelSize(pixelSize);
    return font;
}

void applyWindowLook(QWidget *window)
{
    window->setFont(windowFont());
    QPalette white = window->palette();
    white.setColor(QPalette::Window, Qt::white);
    window->setPalette(white);
    window->setAutoFillBackground(true);
}

} // namespace qh::dialogs
