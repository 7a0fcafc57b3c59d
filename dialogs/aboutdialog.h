#pragma once

#include <QDialog>
#include <QUrl>

#include <functional>

namespace qh::dialogs {

class LinkLabel;

// The project's address, shown in the about box.
inline const QString ProjectAddress = QStringLiteral("https://quillhaul.org");

// The about box: borderless and modal; the program's name, version, licence and address. A click on the address
// opens it; a click anywhere else on the panel, or "关闭", closes the box.
class TFrmAbout : public QDialog
{
    Q_OBJECT

public:
    // Opens an address with the system's handler; replaceable so that tests open nothing.
    using UrlOpener = std::function<void(const QUrl &)>;

    explicit TFrmAbout(QWidget *parent = nullptr);

    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    UrlOpener m_openUrl;
};

} // namespace qh::dialogs
