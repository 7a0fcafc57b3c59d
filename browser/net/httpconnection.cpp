#include "browser/net/httpconnection.h"

#include <QNetworkProxy>
#include <QSslSocket>
#include <QTcpSocket>

#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace qh::browser {

namespace {

// Counts a signal being delivered, so that nobody deletes the connection under its own feet.
class EmittingScope
{
public:
    explicit EmittingScope(int &depth) : m_depth(depth) { ++m_depth; }
    ~EmittingScope() { --m_depth; }
    EmittingScope(const EmittingScope &) = delete;
    EmittingScope &operator=(const EmittingScope &) = delete;

private:
    int &m_depth;
};

LoadError::Kind kindOf(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return LoadError::Kind::Tls;
    case QAbstractSocket::SocketTimeoutError:
        return LoadError::Kind::Timeout;
    default:
        return LoadError::Kind::Network;
    }
}

} // namespace

HttpConnection::HttpConnection(ConnectionTarget target, QObject *parent) : QObject(parent), m_target(std::move(target))
{}

HttpConnection::~HttpConnection()
{
    abort();
}

void HttpConnection::send(const QByteArray &request)
{
    m_response = HttpResponseParser();
    m_busy = true;
    if (!m_socket)
        connectSocket();
    if (writeToKernel(request))
        return;
    m_socket->write(request);
    // Written now rather than on the next turn of the event loop; before the connection is up Qt keeps it.
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->flush();
}

bool HttpConnection::writeToKernel(const QByteArray &request)
{
    // On a kept-alive plain connection the request goes straight to the socket: through QTcpSocket's buffer each
    // write turns its write notifier on and off again, which wakes the event loop twice per page.
    if (m_target.secure || m_socket->state() != QAbstractSocket::ConnectedState || m_socket->bytesToWrite() > 0)
        return false;
    const qintptr descriptor = m_socket->socketDescriptor();
    if (descriptor < 0)
        return false;
    const ssize_t written =
        ::send(int(descriptor), request.constData(), std::size_t(request.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written <= 0)
        return false; // QTcpSocket tries and reports a failure as usual
    if (written < request.size()) {
        m_socket->write(request.constData() + written, request.size() - written);
        m_socket->flush();
    }
    return true;
}

void HttpConnection::abort()
{
    m_busy = false;
    m_reusable = false;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

bool HttpConnection::isReusable() const
{
    return m_socket && m_reusable && !m_busy && m_socket->state() == QAbstractSocket::ConnectedState;
}

void HttpConnection::connectSocket()
{
    if (m_target.secure) {
        auto *socket = new QSslSocket(this);
        m_socket = socket;
        // The certificate is checked as usual; any complaint fails the handshake, which reports as a TLS error.
        connect(socket, &QSslSocket::encrypted, this, &HttpConnection::emitProgressed);
    } else {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QTcpSocket::connected, this, &HttpConnection::emitProgressed);
    }
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &HttpConnection::onError);

    // Never the system's or the application's proxy: only the one configured.
    const bool tunnel = m_target.secure && m_target.viaProxy();
    m_socket->setProxy(tunnel ? QNetworkProxy(QNetworkProxy::HttpProxy, m_target.proxyHost, m_target.proxyPort)
                              : QNetworkProxy(QNetworkProxy::NoProxy));
    // Requests go out in one write, and a response is wanted as soon as the last byte is sent.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_target.secure)
        static_cast<QSslSocket *>(m_socket)->connectToHostEncrypted(m_target.host, m_target.port);
    else if (m_target.viaProxy())
        m_socket->connectToHost(m_target.proxyHost, m_target.proxyPort);
    else
        m_socket->connectToHost(m_target.host, m_target.port);
}

void HttpConnection::onReadyRead()
{
    const QByteArray data = m_socket->readAll();
    if (!m_busy) {
        // Bytes nobody asked for: the connection is out of step with the server and carries nothing more.
        m_reusable = false;
        return;
    }
    const qsizetype used = m_response.feed(data);
    if (m_response.isComplete() || m_response.hasFailed())
        endExchange(used < data.size());
    emitProgressed();
}

void HttpConnection::onError(QAbstractSocket::SocketError error)
{
    if (!m_busy) {
        m_reusable = false; // closed while idle, the usual end of a kept-alive connection
        return;
    }
    if (error == QAbstractSocket::RemoteHostClosedError) {
        // The end of the connection may be the end of the body, or a response cut short: the parser decides.
        const QByteArray rest = m_socket->readAll();
        const qsizetype used = m_response.feed(rest);
        m_response.finishInput();
        endExchange(used < rest.size());
        m_reusable = false;
        emitProgressed();
        return;
    }
    m_busy = false;
    m_reusable = false;
    emitFailed(kindOf(error), socketErrorText(error, m_socket->errorString()));
}

void HttpConnection::endExchange(bool leftover)
{
    m_busy = false;
    if (m_response.isComplete())
        ++m_served;
    // Bytes past the end of the response would be taken for the next one.
    m_reusable = m_response.isComplete() && m_response.keepAlive() && !leftover;
}

void HttpConnection::emitProgressed()
{
    const EmittingScope scope(m_emitting);
    Q_EMIT progressed();
}

void HttpConnection::emitFailed(LoadError::Kind kind, const QString &cause)
{
    const EmittingScope scope(m_emitting);
    Q_EMIT failed(kind, cause);
}

QString socketErrorText(QAbstractSocket::SocketError error, const QString &systemText)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return u"连接被拒绝"_s;
    case QAbstractSocket::RemoteHostClosedError:
        return u"服务器关闭了连接"_s;
    case QAbstractSocket::HostNotFoundError:
        return u"找不到服务器"_s;
    case QAbstractSocket::SocketAccessError:
        return u"没有访问网络的权限"_s;
    case QAbstractSocket::SocketResourceError:
        return u"系统资源不足"_s;
    case QAbstractSocket::SocketTimeoutError:
        return u"连接超时"_s;
    case QAbstractSocket::NetworkError:
        return u"网络不通"_s;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return u"代理服务器要求身份验证"_s;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return u"代理服务器拒绝连接"_s;
    case QAbstractSocket::ProxyConnectionClosedError:
        return u"代理服务器关闭了连接"_s;
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return u"连接代理服务器超时"_s;
    case QAbstractSocket::ProxyNotFoundError:
        return u"找不到代理服务器"_s;
    case QAbstractSocket::ProxyProtocolError:
        return u"代理服务器的回应无法识别"_s;
    case QAbstractSocket::SslHandshakeFailedError:
        return u"证书错误或安全握手失败"_s;
    case QAbstractSocket::SslInternalError:
        return u"安全连接模块出错"_s;
    case QAbstractSocket::SslInvalidUserDataError:
        return u"安全连接的设置无效"_s;
    default:
        return systemText.isEmpty() ? u"未知的网络错误"_s : systemText;
    }
}

void RetireConnection::operator()(HttpConnection *connection) const
{
    connection->disconnect();
    connection->abort();
    if (connection->isEmitting())
        connection->deleteLater();
    else
        delete connection;
}

} // namespace qh::browser
