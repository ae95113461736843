#include "sim/manualclock.h"

#include <cmath>

void ManualClock::advanceNs(int64_t ns)
{
    if (ns > 0)
        m_now.fetch_add(ns);
}

void ManualClock::advanceMs(double ms)
{
    advanceNs(std::llround(ms * 1e6));
}

void ManualClock::advanceSeconds(double seconds)
{
    advanceNs(std::llround(seconds * 1e9));
}
