#include "browser/net/connectionpool.h"

#include <algorithm>

namespace qh::browser {

ConnectionPtr ConnectionPool::take(const ConnectionTarget &target)
{
    const auto found = std::find_if(m_idle.begin(), m_idle.end(),
                                    [&target](const ConnectionPtr &idle) { return idle->target() == target; });
    if (found == m_idle.end())
        return nullptr;
    ConnectionPtr connection = std::move(*found);
    m_idle.erase(found);
    return connection->isReusable() ? std::move(connection) : nullptr;
}

void ConnectionPool::put(ConnectionPtr connection)
{
    if (!connection || !connection->isReusable())
        return;
    std::erase_if(m_idle, [&connection](const ConnectionPtr &idle) { return idle->target() == connection->target(); });
    if (m_idle.size() >= MaxIdle)
        m_idle.erase(m_idle.begin());
    m_idle.push_back(std::move(connection));
}

} // namespace qh::browser
