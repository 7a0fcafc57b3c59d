#pragma once

#include "common/messagesink.h"

#include <QPointer>
#include <QWidget>

namespace qh::dialogs {

// The main window's notices: each one in its own TFrmMsg, shown without blocking the caller.
class DialogMessageSink : public MessageSink
{
public:
    // parent: the window the notices belong to; it may go away before the sink does.
    explicit DialogMessageSink(QWidget *parent) : m_parent(parent) {}

    void ShowMsg(const QString &text) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace qh::dialogs
