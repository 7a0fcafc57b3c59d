#pragma once

#include <QLabel>
#include <QUrl>

namespace qh::dialogs {

// A link in the about box: red and bold, blue and underlined under the pointer, with a hand cursor; a click emits
// activated() with its address and goes no further.
class LinkLabel : public QLabel
{
    Q_OBJECT

public:
    LinkLabel(const QString &text, const QUrl &url, QWidget *parent = nullptr);

    const QUrl &url() const { return m_url; }

signals:
    void activated(const QUrl &url);

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void setHovered(bool hovered);

    QUrl m_url;
};

} // namespace qh::dialogs
