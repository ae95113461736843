#pragma once

#include "sim/simclock.h"

#include <atomic>

// A clock that moves only when told to, for deterministic tests. Safe to
// advance from one thread while another reads it.
class ManualClock final : public SimClock
{
public:
    int64_t nowNs() const override { return m_now.load(); }

    void advanceNs(int64_t ns);
    void advanceMs(double ms);
    void advanceSeconds(double seconds);

private:
    std::atomic<int64_t> m_now{0};
};
