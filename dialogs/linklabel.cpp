#include "dialogs/linklabel.h"

#include <QMouseEvent>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace qh::dialogs {

LinkLabel::LinkLabel(const QString &text, const QUrl &url, QWidget *parent) : QLabel(text, parent), m_url(url)
{
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    QFont linkFont;
    linkFont.setFamilies({u"Times New Roman"_s, u"Liberation Serif"_s, u"DejaVu Serif"_s});
    linkFont.setPixelSize(14);
    linkFont.setBold(true);
    setFont(linkFont);
    setHovered(false);
}

void LinkLabel::enterEvent(QEnterEvent *event)
{
    setHovered(true);
    QLabel::enterEvent(event);
}

void LinkLabel::leaveEvent(QEvent *event)
{
    setHovered(false);
    QLabel::leaveEvent(event);
}

void LinkLabel::mousePressEvent(QMouseEvent *event)
{
    // Taken here, so that the press does not reach the panel, which closes the about box.
    event->accept();
}

void LinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit activated(m_url);
}

void LinkLabel::setHovered(bool hovered)
{
    QFont linkFont = font();
    linkFont.setUnderline(hovered);
    setFont(linkFont);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, hovered ? Qt::blue : Qt::red);
    setPalette(colours);
}

} // namespace qh::dialogs
