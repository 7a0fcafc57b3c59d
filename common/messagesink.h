#pragma once

#include <QString>

namespace qh {

// Where notices and errors for the user go: the desktop program shows them in its message dialog ("提醒") and its
// error box, the command line writes them to stderr, tests record them. The one interface for user-facing notices:
// the programs' other interfaces to their users extend it. Implementations must not reenter the caller, nor wait
// for the user.
class MessageSink
{
public:
    virtual ~MessageSink() = default;
    // A notice.
    virtual void ShowMsg(const QString &text) = 0;
    // An error that ended an operation, shown as it stands.
    virtual void showError(const QString &message) { ShowMsg(message); }
};

} // namespace qh
