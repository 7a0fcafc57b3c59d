#pragma once

#include <QtGlobal>

namespace qh::engine {

// A millisecond tick counter. The engine's time limits read it through this interface so that tests can move time
// on by hand instead of sleeping.
class Clock
{
public:
    virtual ~Clock() = default;

    // Milliseconds since an arbitrary fixed point; never goes backwards.
    virtual qint64 nowMs() const = 0;

protected:
    Clock() = default;
    Clock(const Clock &) = default;
    Clock &operator=(const Clock &) = default;
};

// The monotonic system clock.
class SteadyClock final : public Clock
{
public:
    qint64 nowMs() const override;
};

// One shared steady clock, the default wherever no clock is given.
const Clock &steadyClock();

} // namespace qh::engine
