#pragma once

#include <QString>

namespace qh {

// Where notices for the user go: the main window shows them in its message dialog ("提醒"), the command line
// writes them to stderr, tests record them. Implementations must not reenter the caller.
class MessageSink
{
public:
    virtual ~MessageSink() = default;
    virtual void ShowMsg(const QString &text) = 0;
};

} // namespace qh
