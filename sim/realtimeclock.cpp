#include "sim/realtimeclock.h"

#include <chrono>

int64_t RealTimeClock::nowNs() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
