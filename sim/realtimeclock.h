#pragma once

#include "sim/simclock.h"

// The monotonic system clock: the simulator build keeps pace with the wall.
class RealTimeClock final : public SimClock
{
public:
    int64_t nowNs() const override;
};
