#pragma once

namespace qh::engine {

// The engine's stop request: set by the stop commands, read by the grabber and by the locators before every probe.
// A plain flag on the one user-interface thread; nobody waits on it, readers look at it when they next can.
class StopFlag
{
public:
    explicit StopFlag(bool set = false) : m_set(set) {}

    bool isSet() const { return m_set; }
    void set() { m_set = true; }
    void clear() { m_set = false; }

private:
    bool m_set;
};

} // namespace qh::engine
