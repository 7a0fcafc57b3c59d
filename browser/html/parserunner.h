#pragma once

#include "browser/document.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

namespace qh::browser {

// Turns fetched bytes into a document. Must be safe to call from any thread; may throw. Should give up soon (and
// may return null) once stop is requested: nobody wants the result any more.
using ParseFunction = std::function<std::shared_ptr<const Document>(
    const QByteArray &bytes, const QByteArray &contentTypeHeader, const QUrl &url, std::stop_token stop)>;

// Runs one parse at a time off the calling thread, with a time limit, so that a hostile page never freezes the
// window. A parse that passes the limit or is abandoned (a new start, abandon(), the runner's end) is asked to
// stop, so that its worker thread is free again soon; whatever it still returns is dropped. Results and failures
// arrive on the runner's thread.
class ParseRunner : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds DefaultTimeLimit{10'000};

    explicit ParseRunner(QObject *parent = nullptr);
    ~ParseRunner() override;

    void setParseFunction(ParseFunction parse) { m_parse = std::move(parse); }
    void setTimeLimit(std::chrono::milliseconds limit) { m_timeLimit = limit; }

    // Starts parsing, abandoning a parse still running (nothing more is heard of it). Returns at once.
    void start(QByteArray bytes, QByteArray contentTypeHeader, QUrl url);
    void abandon();
    // Whether a parse was started and has neither delivered its outcome nor been abandoned.
    bool isRunning() const { return m_mailbox != nullptr; }

Q_SIGNALS:
    void parsed(std::shared_ptr<const qh::browser::Document> document);
    // cause is ready to stand after "无法打开“address”：".
    void failed(const QString &cause);

private:
    struct Outcome;
    struct Mailbox;

    void onParseDone(const std::shared_ptr<Mailbox> &mailbox, const std::shared_ptr<Outcome> &outcome);

    ParseFunction m_parse;
    std::chrono::milliseconds m_timeLimit = DefaultTimeLimit;
    QTimer m_limitTimer;
    std::shared_ptr<Mailbox> m_mailbox; // of the running parse; null when none runs
    std::stop_source m_stop;            // of the running parse
};

} // namespace qh::browser
