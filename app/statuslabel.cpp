#include "app/statuslabel.h"

#include <QPainter>
#include <QResizeEvent>
#include <QStyle>

#include <algorithm>

namespace qh::app {

StatusLabel::StatusLabel(QWidget *parent) : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void StatusLabel::setStatusText(const QString &text)
{
    setText(text);
    updateToolTip();
}

QString StatusLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, textRect().width());
}

QSize StatusLabel::minimumSizeHint() const
{
    // Room for a few characters and the ellipsis: the layout may shrink the panel that far, not to nothing.
    const QSize whole = QLabel::minimumSizeHint();
    return {std::min(whole.width(), fontMetrics().horizontalAdvance(QStringLiteral("《一二…三四》"))), whole.height()};
}

void StatusLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    style()->drawItemText(&painter, textRect(), int(alignment()), palette(), isEnabled(), shownText(),
                          foregroundRole());
}

void StatusLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    updateToolTip();
}

QRect StatusLabel::textRect() const
{
    return contentsRect().adjusted(margin(), margin(), -margin(), -margin());
}

void StatusLabel::updateToolTip()
{
    setToolTip(shownText() == text() ? QString() : text());
}

} // namespace qh::app
