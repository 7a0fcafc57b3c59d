#pragma once

#include "common/messagesink.h"
#include "engine/enginehost.h"

#include <QCoreApplication>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QTimer>
#include <QUrl>

namespace qh::test {

// Records the notices and errors it is given.
class RecordingSink : public virtual MessageSink
{
public:
    void ShowMsg(const QString &text) override { messages << text; }
    void showError(const QString &message) override { errors << message; }

    QStringList messages;
    QStringList errors;
};

// The engine's host for tests: records what it was told, answers every question from the event loop with answerYes,
// as a dialog would, and records redefinition requests.
class RecordingHost final : public engine::EngineHost, public RecordingSink
{
public:
    void askYesNo(const QString &, const QString &text, std::function<void(bool)> answered) override
    {
        questions << text;
        if (onAsk)
            onAsk();
        QTimer::singleShot(0, QCoreApplication::instance(), [this, answered = std::move(answered), yes = answerYes] {
            answered(yes);
            ++answers;
        });
    }
    void requestRedefinition(int index, const QUrl &address) override
    {
        redefinitions << qMakePair(index, address.toString());
    }
    void showWaitDialog() override { ++waitDialogs; }

    bool answerYes = false;
    // Runs as a question is asked, before it is answered.
    std::function<void()> onAsk;
    QStringList questions;
    int answers = 0;
    QList<QPair<int, QString>> redefinitions;
    int waitDialogs = 0;
};

} // namespace qh::test
