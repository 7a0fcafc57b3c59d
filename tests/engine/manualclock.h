#pragma once

#include "engine/clock.h"

namespace qh::test {

// A clock that moves only when a test moves it.
class ManualClock final : public engine::Clock
{
public:
    qint64 nowMs() const override { return m_now; }
    void advance(qint64 ms) { m_now += ms; }

private:
    qint64 m_now = 1'000'000;
};

} // namespace qh::test
