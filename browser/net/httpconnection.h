#pragma once

#include "browser/browser.h"
#include "browser/net/httpresponseparser.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QTcpSocket;

namespace qh::browser {

// Where a connection leads: the origin, and the HTTP proxy in between when there is one. Only requests for the
// same target may share a connection.
struct ConnectionTarget
{
    bool secure = false; // https: TLS to the origin, through a CONNECT tunnel when proxied
    QString host;        // as QUrl gives it (ACE, no brackets)
    quint16 port = 0;
    QString proxyHost; // empty: direct
    quint16 proxyPort = 0;

    bool viaProxy() const { return !proxyHost.isEmpty(); }
    // Plain http through a proxy sends the whole address in the request line instead of the path.
    bool absoluteForm() const { return viaProxy() && !secure; }
    bool operator==(const ConnectionTarget &other) const = default;
};

// One TCP (or TLS) connection that carries HTTP/1.1 requests one after another, on the thread that made it. It
// reads whatever has arrived in one go and parses it from memory: no thread of its own, no blocking, no nested
// event loop. The fetcher drives it: send() a request, then look at response() each time progressed() comes.
class HttpConnection : public QObject
{
    Q_OBJECT

public:
    explicit HttpConnection(ConnectionTarget target, QObject *parent = nullptr);
    ~HttpConnection() override;

    const ConnectionTarget &target() const { return m_target; }

    // Sends request (complete, as bytes) and starts reading its response; connects first when not connected.
    void send(const QByteArray &request);
    // Closes the socket at once; no signal follows.
    void abort();

    // The response to the last request, as far as it has arrived. Its body bytes are taken with takeBody().
    const HttpResponseParser &response() const { return m_response; }
    QByteArray takeBody() { return m_response.takeBody(); }

    // Open, idle, and the last response allowed another request on this connection.
    bool isReusable() const;
    // Whether an earlier request was answered here: if the next one then fails before a single byte of response,
    // the server most likely closed the idle connection, and the request may safely go again on a new one.
    bool hasServedBefore() const { return m_served > 0; }
    // Whether one of this connection's signals is being delivered: it must not be deleted now, only later.
    bool isEmitting() const { return m_emitting > 0; }

Q_SIGNALS:
    // Connected, handshake done, or response bytes arrived (and were parsed): data moved.
    void progressed();
    // The connection failed while a request was running; cause is ready to show.
    void failed(qh::browser::LoadError::Kind kind, const QString &cause);

private:
    void connectSocket();
    bool writeToKernel(const QByteArray &request);
    void onReadyRead();
    void onError(QAbstractSocket::SocketError error);
    void endExchange(bool leftover);
    void emitProgressed();
    void emitFailed(LoadError::Kind kind, const QString &cause);

    ConnectionTarget m_target;
    QTcpSocket *m_socket = nullptr; // a child; a QSslSocket for https
    HttpResponseParser m_response;
    bool m_busy = false;
    bool m_reusable = true;
    int m_served = 0;
    int m_emitting = 0;
};

// Deletes a connection when that is safe: at once, or later when it is delivering one of its signals. Its signals
// are cut off and its socket closed first, so a retired connection is never heard from again.
struct RetireConnection
{
    void operator()(HttpConnection *connection) const;
};

using ConnectionPtr = std::unique_ptr<HttpConnection, RetireConnection>;

// Why a socket failed, in the reader's words. Errors without words of ours keep the system's text.
QString socketErrorText(QAbstractSocket::SocketError error, const QString &systemText);

} // namespace qh::browser
