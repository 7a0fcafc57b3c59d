#include "settings/proxyaddress.h"

#include "support/testutils.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::settings;

namespace {

struct ProxyCase
{
    QString proxy;
    QString port;
    std::optional<ProxyAddress> expected;
};

} // namespace

// Page requests go through a proxy only when the address is real and the port is 1 to 65535: the masked field's
// bare dots, half-filled or out-of-range addresses and bad ports mean none.
TEST(ProxyAddress, ConfiguredOnlyForARealAddressAndPort)
{
    const ProxyCase cases[] = {
        {u""_s, u"8080"_s, std::nullopt},
        {u"..."_s, u"8080"_s, std::nullopt},
        {u"   .   .   .   "_s, u"8080"_s, std::nullopt},
        {u"192.168.1.10"_s, u""_s, std::nullopt},
        {u"192.168.1.10"_s, u"     "_s, std::nullopt},
        {u"192.168.1.10"_s, u"0"_s, std::nullopt},
        {u"192.168.1.10"_s, u"65536"_s, std::nullopt},
        {u"192.168.1.10"_s, u"-1"_s, std::nullopt},
        {u"192.168.1.10"_s, u"+80"_s, std::nullopt},
        {u"192.168..10"_s, u"8080"_s, std::nullopt},
        {u"192.168.1"_s, u"8080"_s, std::nullopt},
        {u"256.1.1.1"_s, u"8080"_s, std::nullopt},
        {u"1.2.3.4.5"_s, u"8080"_s, std::nullopt},
        {u"192.168.1.10"_s, u"8080"_s, ProxyAddress{u"192.168.1.10"_s, 8080}},
        {u"192.168.  1. 10"_s, u" 8080"_s, ProxyAddress{u"192.168.1.10"_s, 8080}},
        {u"010.001.000.009"_s, u"65535"_s, ProxyAddress{u"10.1.0.9"_s, 65535}},
        {u"proxy.example.com"_s, u"3128"_s, ProxyAddress{u"proxy.example.com"_s, 3128}},
    };
    for (const ProxyCase &c : cases) {
        AppSettings settings;
        settings.Proxy = c.proxy;
        settings.ProxyPort = c.port;
        EXPECT_EQ(configuredProxy(settings), c.expected) << c.proxy.toStdString() << ':' << c.port.toStdString();
    }
}
