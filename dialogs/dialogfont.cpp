#include "dialogs/dialogfont.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace qh::dialogs {

QFont windowFont(int pixelSize)
{
    QFont font;
    font.setFamilies({u"SimSun"_s, u"宋体"_s, u"Noto Sans CJK SC"_s, u"WenQuanYi Zen Hei"_s});
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace qh::dialogs
