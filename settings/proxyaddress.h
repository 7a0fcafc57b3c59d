#pragma once

#include "settings/appsettings.h"

#include <QString>

#include <optional>

namespace qh::settings {

// The HTTP proxy that page requests go through.
struct ProxyAddress
{
    QString host;
    quint16 port = 0;

    bool operator==(const ProxyAddress &) const = default;
};

// The proxy the settings name, or nullopt when none is configured: an empty address, the masked field's bare dots
// ("   .   .   ." or "..."), a half-filled or out-of-range numeric address, or a port that is not 1 to 65535.
// Spaces are ignored as the dialog strips them; a numeric address comes back without leading zeros, which a
// resolver could otherwise take for octal.
std::optional<ProxyAddress> configuredProxy(const AppSettings &settings);

} // namespace qh::settings
