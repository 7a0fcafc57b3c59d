#pragma once

#include <QLabel>

namespace qh::app {

// A status bar panel that asks for the width of its whole text and, when the window leaves it less, shows the text
// cut in the middle, with the whole of it as the tooltip. text() is always the whole text.
class StatusLabel final : public QLabel
{
    Q_OBJECT

public:
    explicit StatusLabel(QWidget *parent = nullptr);

    // Use these instead of setText()/clear(): they keep the tooltip right.
    void setStatusText(const QString &text);
    void clearStatusText() { setStatusText(QString()); }
    // What the panel shows at its present width.
    QString shownText() const;

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QRect textRect() const;
    void updateToolTip();
};

} // namespace qh::app
