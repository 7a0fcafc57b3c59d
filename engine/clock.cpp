#include "engine/clock.h"

#include <chrono>

namespace qh::engine {

qint64 SteadyClock::nowMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

const Clock &steadyClock()
{
    static const SteadyClock clock;
    return clock;
}

} // namespace qh::engine
