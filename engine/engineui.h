#pragma once

#include "templates/messagesink.h"

#include <QString>

namespace qh::engine {

// What the engine asks of the window it runs in. The main window answers with dialogs, the command line with
// stderr and fixed answers, tests with a script.
class EngineUi : public templates::MessageSink
{
public:
    // A question with the answers yes and no.
    virtual bool askYesNo(const QString &caption, const QString &text) = 0;
    // Lets the user redefine a template (index in the chooser; 0 makes a new one) on the page at address; returns
    // when that is done.
    virtual void RequestRedefinition(int index, const QString &address) = 0;
    // The wait dialog that stays until the stopped book is queued again.
    virtual void showWaitDialog() = 0;
    // An error that ended an operation, shown as it stands.
    virtual void showError(const QString &message) = 0;
};

} // namespace qh::engine
