#include "dialogs/dialogmessagesink.h"

#include "dialogs/messagedialog.h"

namespace qh::dialogs {

void DialogMessageSink::ShowMsg(const QString &text)
{
    dialogs::ShowMsg(m_parent.data(), text);
}

} // namespace qh::dialogs
