#include "browser/pagefetcher.h"

#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>

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
    : QObject(parent), m_manager(new QNetworkAccessManager(this)),
      m_userAgent(u"Mozilla/4.0(compatible;MSIE 6.0;Windows NT 5.1;SV1;.NET CLR 1.1.4322;.NET CLR 2.0.50727)"_s)
{
    // Cookies live as long as this fetcher: sites that hand out a session cookie on the first page see it again.
    m_manager->setCookieJar(new QNetworkCookieJar(m_manager));
    setProxy(QString(), 0);
}

PageFetcher::~PageFetcher()
{
    abandon();
}

void PageFetcher::setProxy(const QString &host, quint16 port)
{
    if (host.isEmpty())
        m_manager->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    else
        m_manager->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, host, port));
}

void PageFetcher::fetch(const QUrl &url)
{
    abandon();
    m_url = url;
    m_body.clear();

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, m_userAgent);
    // Accept-Encoding is left to Qt: it then offers gzip and deflate and decompresses the answer itself.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    request.setTransferTimeout(int(m_transferTimeout.count()));

    QNetworkReply *reply = m_manager->get(request);
    m_reply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, &PageFetcher::onMetaDataChanged);
    connect(reply, &QNetworkReply::readyRead, this, &PageFetcher::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &PageFetcher::onFinished);
}

void PageFetcher::abandon()
{
    detachReply();
}

void PageFetcher::detachReply()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    // Disconnected first: abort() emits finished at once, and a late signal must never reach a newer fetch.
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void PageFetcher::onMetaDataChanged()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300 && status < 400)
        return; // a redirect on its way; its headers say nothing about the page
    m_body.clear();

    // An error page is never handed on; it fails when the reply ends. Aborting here would upset Qt, which reports
    // the status as an error right after this signal.
    if (status >= 400)
        return;
    // Refused on the headers alone, so that a huge download or a file that is no page is not fetched needlessly.
    const qint64 declaredLength = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (declaredLength > m_maxBytes) {
        fail(LoadError::Kind::TooLarge, u"页面大于 %1 MiB 的上限"_s.arg(megabytesText(m_maxBytes)));
        return;
    }
    const QByteArray contentType = m_reply->rawHeader("Content-Type");
    if (!isPageContentType(contentType))
        fail(LoadError::Kind::NotHtml, u"不是网页（内容类型 %1）"_s.arg(QString::fromLatin1(contentType)));
}

void PageFetcher::onReadyRead()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300) {
        m_reply->readAll(); // the body of a redirect or an error page is nobody's page
        return;
    }
    // The running size is checked too: a chunked or compressed answer declares no honest length.
    m_body += m_reply->readAll();
    if (m_body.size() > m_maxBytes)
        fail(LoadError::Kind::TooLarge, u"页面大于 %1 MiB 的上限"_s.arg(megabytesText(m_maxBytes)));
}

void PageFetcher::onFinished()
{
    QNetworkReply *reply = m_reply;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) {
        const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        const QString cause =
            u"服务器回应 "_s + QString::number(status) + (reason.isEmpty() ? QString() : u" "_s + reason);
        fail(LoadError::Kind::HttpStatus, cause, status,
             parseRetryAfter(reply->rawHeader("Retry-After"), QDateTime::currentDateTimeUtc()));
        return;
    }

    switch (reply->error()) {
    case QNetworkReply::NoError:
        break;
    // Nothing here aborts an attached reply, so a cancel can only be Qt's transfer time-out.
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        fail(LoadError::Kind::Timeout, u"%1 秒内没有收到数据，已超时"_s.arg(secondsText(m_transferTimeout)));
        return;
    case QNetworkReply::SslHandshakeFailedError:
        fail(LoadError::Kind::Tls, u"安全连接失败（%1）"_s.arg(reply->errorString()));
        return;
    case QNetworkReply::TooManyRedirectsError:
        fail(LoadError::Kind::Network, u"重定向超过 %1 次（%2）"_s.arg(MaxRedirects).arg(reply->errorString()));
        return;
    default:
        fail(LoadError::Kind::Network, u"网络错误（%1）"_s.arg(reply->errorString()));
        return;
    }

    m_body += reply->readAll();
    if (m_body.size() > m_maxBytes) {
        fail(LoadError::Kind::TooLarge, u"页面大于 %1 MiB 的上限"_s.arg(megabytesText(m_maxBytes)));
        return;
    }
    FetchResult result;
    result.url = m_url;
    result.finalUrl = reply->url();
    result.contentType = reply->rawHeader("Content-Type");
    if (!isPageContentType(result.contentType)) {
        fail(LoadError::Kind::NotHtml, u"不是网页（内容类型 %1）"_s.arg(QString::fromLatin1(result.contentType)));
        return;
    }
    result.body = std::move(m_body);
    m_body.clear();
    complete(std::move(result));
}

void PageFetcher::fail(LoadError::Kind kind, const QString &cause, int httpStatus, int retryAfterSeconds)
{
    FetchResult result;
    result.url = m_url;
    result.finalUrl = m_reply ? m_reply->url() : m_url;
    result.error.kind = kind;
    result.error.httpStatus = httpStatus;
    result.error.retryAfterSeconds = retryAfterSeconds;
    result.error.message = loadFailureMessage(m_url, cause);
    m_body.clear();
    complete(std::move(result));
}

void PageFetcher::complete(FetchResult result)
{
    detachReply();
    Q_EMIT finished(result);
}

} // namespace qh::browser
