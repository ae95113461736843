#pragma once

#include <cstdint>

// Where the virtual controller takes its time from. The program runs on the
// monotonic clock; tests advance a manual clock and so decide exactly how
// much controller time passes between two requests.
class SimClock
{
public:
    virtual ~SimClock() = default;

    // Nanoseconds since an arbitrary, fixed origin; never decreases.
    virtual int64_t nowNs() const = 0;

protected:
    SimClock() = default;
    SimClock(const SimClock&) = delete;
    SimClock& operator=(const SimClock&) = delete;
};
