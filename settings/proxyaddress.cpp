#include "settings/proxyaddress.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace qh::settings {

namespace {

bool isDigitsAndDots(const QString &text)
{
    for (const QChar c : text) {
        if (c != u'.' && !(c >= u'0' && c <= u'9'))
            return false;
    }
    return true;
}

// "192.168.001.010" -> "192.168.1.10"; nullopt unless there are four groups of one to three digits up to 255.
std::optional<QString> normalisedIpv4(const QString &text)
{
    const QStringList groups = text.split(u'.');
    if (groups.size() != 4)
        return std::nullopt;
    QStringList normalised;
    for (const QString &group : groups) {
        bool ok = false;
        const int value = group.toInt(&ok, 10);
        if (group.isEmpty() || group.size() > 3 || !ok || value > 255)
            return std::nullopt;
        normalised.append(QString::number(value));
    }
    return normalised.join(u'.');
}

} // namespace

std::optional<ProxyAddress> configuredProxy(const AppSettings &settings)
{
    QString host = StripSpaces(settings.Proxy);
    if (host.count(u'.') == host.size()) // empty, or nothing but the dots of an empty masked field
        return std::nullopt;
    if (isDigitsAndDots(host)) {
        const std::optional<QString> address = normalisedIpv4(host);
        if (!address)
            return std::nullopt;
        host = *address;
    }

    const QString portText = StripSpaces(settings.ProxyPort);
    bool ok = false;
    const uint port = portText.toUInt(&ok, 10);
    if (!ok || port == 0 || port > 65535 || portText.startsWith(u'+'))
        return std::nullopt;
    return ProxyAddress{host, quint16(port)};
}

} // namespace qh::settings
