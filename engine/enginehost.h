#pragma once

#include "common/messagesink.h"

#include <QString>
#include <QUrl>

#include <functional>

namespace qh::engine {

// What the engine asks of the program it runs in: notices and errors (MessageSink), questions, a template's
// redefinition and the wait dialog. Nothing here may wait for the user: a question is answered later through its
// callback, and the engine has put the book and its row in order before it asks, so nothing is lost whatever the
// answer, or if none ever comes. The desktop program answers with dialogs, the command line with stderr and fixed
// answers, tests with a script.
class EngineHost : public virtual MessageSink
{
public:
    // A question with the answers yes and no; answered runs once, from the event loop, unless the host goes away
    // first.
    virtual void askYesNo(const QString &caption, const QString &text, std::function<void(bool yes)> answered) = 0;
    // The user is to redefine a template (its index in the chooser; 0 makes a new one) on the page at address. The
    // engine does not wait for it.
    virtual void requestRedefinition(int index, const QUrl &address) = 0;
    // The wait dialog that stays until the stopped book is queued again.
    virtual void showWaitDialog() = 0;
};

} // namespace qh::engine
