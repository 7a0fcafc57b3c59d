#pragma once

#include "browser/net/httpconnection.h"

#include <vector>

namespace qh::browser {

// Idle kept-alive connections, at most one per target and a few in all, waiting for the next request.
class ConnectionPool
{
public:
    static constexpr std::size_t MaxIdle = 4;

    // An idle connection to target that can still carry a request, or null. Connections found closed are dropped.
    ConnectionPtr take(const ConnectionTarget &target);
    // Keeps connection for later if it can carry another request; drops it otherwise. The oldest idle connection
    // makes room when the pool is full.
    void put(ConnectionPtr connection);
    void clear() { m_idle.clear(); }
    std::size_t size() const { return m_idle.size(); }

private:
    std::vector<ConnectionPtr> m_idle; // oldest first
};

} // namespace qh::browser
