#include "browser/net/pagefetcher.h"

#include "common/error.h"
#include "common/textfile.h"

#include <QFileInfo>
#include <QLocale>
#include <QNetworkCookie>
#include <QNetworkCookieJar>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace qh::browser {

namespace {

QString secondsText(std::chrono::milliseconds duration)
{
    return QString::number(double(duration.count()) / 1000.0, 'g', 4);
}

QString megabytesText(qint64 bytes)
{
    return QString::number(double(bytes) / double(1 << 20), 'g', 4);
}

QString tooLargeText(qint64 maxBytes)
{
    return u"页面大于 %1 MiB 的上限"_s.arg(megabytesText(maxBytes));
}

QString networkErrorText(const QString &cause)
{
    return u"网络错误（%1）"_s.arg(cause);
}

bool isWebScheme(const QString &scheme)
{
    return scheme == u"http" || scheme == u"https";
}

bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Header values we send come from settings and cookies; a line break in one would forge further headers.
QByteArray headerValue(QByteArray value)
{
    value.replace('\r', ' ');
    value.replace('\n', ' ');
    return value;
}

// The request target: the path and query, or for a plain proxy the whole address.
QByteArray requestTarget(const QUrl &url, bool absoluteForm)
{
    if (absoluteForm) {
        QUrl address = url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveFragment);
        if (address.path().isEmpty())
            address.setPath(u"/"_s);
        return address.toEncoded();
    }
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    return target;
}

} // namespace

QString loadFailureMessage(const QUrl &url, const QString &cause)
{
    return u"无法打开“"_s + url.toDisplayString() + u"”："_s + cause;
}

int parseRetryAfter(const QByteArray &value, const QDateTime &now)
{
    const QByteArray trimmed = value.trimmed();
    if (trimmed.isEmpty())
        return -1;
    bool isNumber = false;
    const qlonglong seconds = trimmed.toLongLong(&isNumber);
    if (isNumber)
        return seconds < 0 ? -1 : int(qMin<qlonglong>(seconds, std::numeric_limits<int>::max()));

    // HTTP dates are always GMT and use English names; the RFC 850 and asctime forms are still legal to send.
    // The weekday is dropped: it adds nothing, and Qt would check it against two-digit years taken as 19xx.
    QString text = QString::fromLatin1(trimmed).simplified();
    text = text.mid(text.indexOf(u' ') + 1);
    const QLocale c = QLocale::c();
    for (const QString &format :
         {u"dd MMM yyyy HH:mm:ss 'GMT'"_s, u"dd-MMM-yy HH:mm:ss 'GMT'"_s, u"MMM d HH:mm:ss yyyy"_s}) {
        const QDateTime parsed = c.toDateTime(text, format);
        if (!parsed.isValid())
            continue;
        QDate date = parsed.date();
        if (date.year() < 1970) // two-digit years of RFC 850 dates
            date = date.addYears(100);
        const QDateTime when(date, parsed.time(), Qt::UTC);
        return int(std::clamp<qint64>(now.secsTo(when), 0, std::numeric_limits<int>::max()));
    }
    return -1;
}

bool isPageContentType(const QByteArray &contentType)
{
    const QByteArray type =
        contentType.left(contentType.indexOf(';') < 0 ? contentType.size() : contentType.indexOf(';'))
            .trimmed()
            .toLower();
    // XHTML is sometimes sent as plain XML; any text may be a mislabelled page.
    return type.isEmpty() || type.startsWith("text/") || type == "application/xhtml+xml" || type == "application/xml";
}

PageFetcher::PageFetcher(QObject *parent)
    : QObject(parent), m_cookies(new QNetworkCookieJar(this)), m_userAgent(defaultUserAgent())
{
    m_transferTimer.setSingleShot(true);
    connect(&m_transferTimer, &QTimer::timeout, this, [this] {
        m_connection.reset(); // half-read: never reused
        fail(LoadError::Kind::Timeout, u"%1 秒内没有收到数据，已超时"_s.arg(secondsText(m_transferTimeout)));
    });
    m_totalTimer.setSingleShot(true);
    connect(&m_totalTimer, &QTimer::timeout, this, [this] {
        m_connection.reset(); // half-read: never reused
        fail(LoadError::Kind::Timeout, u"%1 秒内没有收完网页，已超时"_s.arg(secondsText(m_totalTimeout)));
    });
}

PageFetcher::~PageFetcher()
{
    abandon();
}

void PageFetcher::shareCookiesWith(const PageFetcher &other)
{
    if (m_cookies->parent() == this)
        delete m_cookies;
    m_cookies = other.m_cookies;
}

void PageFetcher::setProxy(const QString &host, quint16 port)
{
    m_proxyHost = host;
    m_proxyPort = host.isEmpty() ? 0 : port;
}

void PageFetcher::fetch(const QUrl &url)
{
    abandon();
    m_running = true;
    m_url = url;
    m_currentUrl = url;
    m_redirects = 0;
    m_totalTimer.start(m_totalTimeout);
    // Anything that fails at once reports from the event loop, not from inside this call.
    m_inFetch = true;
    if (url.isLocalFile())
        readLocalFile();
    else
        startRequest();
    m_inFetch = false;
}

void PageFetcher::abandon()
{
    ++m_generation;
    m_running = false;
    m_transferTimer.stop();
    m_totalTimer.stop();
    m_connection.reset();
    m_decompressor.reset();
    m_body.clear();
}

void PageFetcher::readLocalFile()
{
    const QString path = m_url.toLocalFile();
    if (QFileInfo(path).size() > m_maxBytes) {
        fail(LoadError::Kind::TooLarge, tooLargeText(m_maxBytes));
        return;
    }
    FetchResult result;
    try {
        result.body = text::readFile(path, m_maxBytes);
    } catch (const Error &error) {
        fail(LoadError::Kind::Network, error.message());
        return;
    }
    result.url = m_url;
    result.finalUrl = m_url;
    complete(std::move(result));
}

void PageFetcher::startRequest()
{
    const QString scheme = m_currentUrl.scheme().toLower();
    if (!isWebScheme(scheme) || m_currentUrl.host().isEmpty()) {
        fail(LoadError::Kind::Network, networkErrorText(u"不支持的地址"_s));
        return;
    }
    ConnectionTarget target;
    target.secure = scheme == u"https";
    target.host = m_currentUrl.host(QUrl::FullyEncoded);
    target.port = quint16(m_currentUrl.port(target.secure ? 443 : 80));
    target.proxyHost = m_proxyHost;
    target.proxyPort = m_proxyPort;

    m_retried = false;
    ConnectionPtr connection = m_pool.take(target);
    if (!connection)
        connection.reset(new HttpConnection(target));
    sendRequest(std::move(connection));
}

void PageFetcher::sendRequest(ConnectionPtr connection)
{
    m_connection = std::move(connection);
    m_headHandled = false;
    m_decompressor.reset();
    m_body.clear();
    connect(m_connection.get(), &HttpConnection::progressed, this, &PageFetcher::onProgressed);
    connect(m_connection.get(), &HttpConnection::failed, this, &PageFetcher::onConnectionFailed);
    m_transferTimer.start(m_transferTimeout);
    m_connection->send(requestFor(m_connection->target()));
}

QByteArray PageFetcher::requestFor(const ConnectionTarget &target) const
{
    QByteArray request = "GET " + requestTarget(m_currentUrl, target.absoluteForm()) + " HTTP/1.1\r\nHost: " +
                         m_currentUrl.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toLatin1() +
                         "\r\nUser-Agent: " + headerValue(m_userAgent.toUtf8()) +
                         "\r\nAccept: text/html,application/xhtml+xml,*/*;q=0.8"
                         "\r\nAccept-Encoding: gzip, deflate"
                         "\r\nAccept-Language: zh-CN,zh;q=0.9"
                         "\r\nConnection: keep-alive\r\n";
    const QList<QNetworkCookie> cookies = m_cookies->cookiesForUrl(m_currentUrl);
    if (!cookies.isEmpty()) {
        QByteArray line;
        for (const QNetworkCookie &cookie : cookies) {
            if (!line.isEmpty())
                line += "; ";
            line += cookie.toRawForm(QNetworkCookie::NameAndValueOnly);
        }
        request += "Cookie: " + headerValue(line) + "\r\n";
    }
    request += "\r\n";
    return request;
}

void PageFetcher::onProgressed()
{
    m_transferTimer.start(m_transferTimeout);
    const HttpResponseParser &response = m_connection->response();
    if (response.hasFailed()) {
        onConnectionFailed(LoadError::Kind::Network, response.errorText());
        return;
    }
    if (!response.headersComplete())
        return;
    if (!m_headHandled) {
        m_headHandled = true;
        if (!handleHead())
            return;
    }
    if (!takeBody())
        return;
    if (response.isComplete())
        completePage();
}

void PageFetcher::onConnectionFailed(LoadError::Kind kind, const QString &cause)
{
    if (retryOnFreshConnection())
        return;
    m_connection.reset();
    if (kind == LoadError::Kind::Tls)
        fail(kind, u"安全连接失败（%1）"_s.arg(cause));
    else
        fail(kind, networkErrorText(cause));
}

bool PageFetcher::retryOnFreshConnection()
{
    // A kept-alive connection the server closed while it sat idle fails before a single byte of response; the
    // request never reached anyone, so it goes once more on a new connection.
    if (m_retried || !m_connection->hasServedBefore() || m_connection->response().hasReceivedBytes())
        return false;
    m_retried = true;
    const ConnectionTarget target = m_connection->target();
    m_connection.reset();
    sendRequest(ConnectionPtr(new HttpConnection(target)));
    return true;
}

bool PageFetcher::handleHead()
{
    const HttpResponseParser &response = m_connection->response();
    // Cookies count from every hop, redirects and error pages too: the next request must carry them.
    for (const QByteArray &setCookie : response.headerValues("Set-Cookie"))
        m_cookies->setCookiesFromUrl(QNetworkCookie::parseCookies(setCookie), m_currentUrl);

    const int status = response.status();
    const QByteArray location = response.header("Location");
    if (isRedirectStatus(status) && !location.isEmpty()) {
        followRedirect(location);
        return false;
    }
    if (status >= 400) {
        const QString reason = QString::fromUtf8(response.reason());
        const int retryAfter = parseRetryAfter(response.header("Retry-After"), QDateTime::currentDateTimeUtc());
        releaseConnection();
        fail(LoadError::Kind::HttpStatus,
             u"服务器回应 "_s + QString::number(status) + (reason.isEmpty() ? QString() : u" "_s + reason), status,
             retryAfter);
        return false;
    }
    // Refused on the headers alone, so that a huge download or a file that is no page is not fetched needlessly.
    if (response.contentLength() > m_maxBytes) {
        m_connection.reset();
        fail(LoadError::Kind::TooLarge, tooLargeText(m_maxBytes));
        return false;
    }
    const QByteArray contentType = response.header("Content-Type");
    if (!isPageContentType(contentType)) {
        releaseConnection();
        fail(LoadError::Kind::NotHtml, u"不是网页（内容类型 %1）"_s.arg(QString::fromLatin1(contentType)));
        return false;
    }
    const QByteArray encoding = response.header("Content-Encoding");
    const std::optional<Decompressor::Coding> coding = Decompressor::codingFor(encoding);
    if (!coding) {
        m_connection.reset();
        fail(LoadError::Kind::Network, networkErrorText(u"不支持的内容编码 %1"_s.arg(QString::fromLatin1(encoding))));
        return false;
    }
    m_decompressor = std::make_unique<Decompressor>(*coding);
    return true;
}

void PageFetcher::followRedirect(const QByteArray &location)
{
    // The rest of a redirect's body is nobody's page: a connection still reading it is not worth keeping.
    releaseConnection();
    if (++m_redirects > MaxRedirects) {
        fail(LoadError::Kind::Network, u"重定向超过 %1 次"_s.arg(MaxRedirects));
        return;
    }
    const QUrl next = m_currentUrl.resolved(QUrl(QString::fromUtf8(location).trimmed()));
    if (!next.isValid() || !isWebScheme(next.scheme().toLower()) || next.host().isEmpty()) {
        fail(LoadError::Kind::Network, networkErrorText(u"无效的重定向地址 %1"_s.arg(QString::fromUtf8(location))));
        return;
    }
    // As browsers do: a secure page never hands over to an insecure one.
    if (m_currentUrl.scheme().toLower() == u"https" && next.scheme().toLower() == u"http") {
        fail(LoadError::Kind::Network,
             networkErrorText(u"拒绝从安全连接重定向到不安全的地址 %1"_s.arg(next.toDisplayString())));
        return;
    }
    m_currentUrl = next;
    startRequest();
}

bool PageFetcher::takeBody()
{
    const QByteArray piece = m_connection->takeBody();
    if (piece.isEmpty())
        return true;
    // The cap counts decompressed bytes: a small compressed answer may unpack to gigabytes.
    switch (m_decompressor->feed(piece, m_body,
                                 qsizetype(std::min<qint64>(m_maxBytes, std::numeric_limits<qsizetype>::max())))) {
    case Decompressor::Status::Ok:
        return true;
    case Decompressor::Status::TooLarge:
        m_connection.reset();
        fail(LoadError::Kind::TooLarge, tooLargeText(m_maxBytes));
        return false;
    case Decompressor::Status::Corrupt:
        m_connection.reset();
        fail(LoadError::Kind::Network, networkErrorText(u"压缩数据已损坏"_s));
        return false;
    }
    return false;
}

void PageFetcher::completePage()
{
    if (m_decompressor->finish() != Decompressor::Status::Ok) {
        releaseConnection();
        fail(LoadError::Kind::Network, networkErrorText(u"压缩数据不完整"_s));
        return;
    }
    FetchResult result;
    result.url = m_url;
    result.finalUrl = m_currentUrl;
    result.contentType = m_connection->response().header("Content-Type");
    result.body = std::exchange(m_body, QByteArray());
    releaseConnection();
    complete(std::move(result));
}

void PageFetcher::releaseConnection()
{
    if (!m_connection)
        return;
    m_connection->disconnect(this);
    m_pool.put(std::move(m_connection));
    m_connection.reset();
}

void PageFetcher::fail(LoadError::Kind kind, const QString &cause, int httpStatus, int retryAfterSeconds)
{
    FetchResult result;
    result.url = m_url;
    result.finalUrl = m_currentUrl;
    result.error.kind = kind;
    result.error.httpStatus = httpStatus;
    result.error.retryAfterSeconds = retryAfterSeconds;
    result.error.message = loadFailureMessage(m_url, cause);
    complete(std::move(result));
}

void PageFetcher::complete(FetchResult result)
{
    m_transferTimer.stop();
    m_totalTimer.stop();
    m_connection.reset();
    m_decompressor.reset();
    m_body.clear();
    if (m_inFetch) {
        const quint64 generation = m_generation;
        QMetaObject::invokeMethod(
            this,
            [this, generation, result = std::move(result)] {
                if (generation != m_generation)
                    return;
                m_running = false;
                Q_EMIT finished(result);
            },
            Qt::QueuedConnection);
        return;
    }
    m_running = false;
    Q_EMIT finished(result);
}

} // namespace qh::browser
