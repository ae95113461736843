#include "analysis/rockingscan.h"

namespace rocking
{

namespace
{
bool isOutput(int output)
{
    return output >= 0 && output < 4;
}
} // namespace

double pointVolts(double start, double stop, int i, int n)
{
    if (n <= 0)
        return start;
    return start + (stop - start) * i / n;
}

std::array<double, 4> outputSet(int scanOutput, double volts, int heldOutput, double heldVolts)
{
    std::array<double, 4> set{0.0, 0.0, 0.0, 0.0};
    if (isOutput(heldOutput))
        set[std::size_t(heldOutput)] = heldVolts;
    if (isOutput(scanOutput))
        set[std::size_t(scanOutput)] = volts;
    return set;
}

int percentDone(int i, int n)
{
    if (n <= 0)
        return 0;
    // In 64 bits: 100 x (i + 1) must not wrap for any point count.
    return int(100LL * (i + 1) / n);
}

} // namespace rocking
