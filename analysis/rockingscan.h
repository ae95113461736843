#pragma once

#include <array>

// The arithmetic of a rocking-curve scan, free of any window: where each
// point lies, what the four DAC outputs hold at it, and how far the scan has
// come.
namespace rocking
{

// Voltage of point i (0-based) of n. The n points run from `start` up to one
// step short of `stop`, so that consecutive scans over adjoining ranges do not
// measure their common end twice.
double pointVolts(double start, double stop, int i, int n);

// The output set of one point, volts for DAC outputs 1 to 4 (0 to 3): the
// scanned output carries the scan voltage, the output of the other direction
// the held value, every other output 0 V. When both directions are assigned
// the same output, the scan voltage wins: it is what the point measures.
// Output numbers outside 0 to 3 set nothing.
std::array<double, 4> outputSet(int scanOutput, double volts, int heldOutput, double heldVolts);

// Whole percent of the scan done once point i (0-based) of n is taken; 100
// exactly at the last point.
int percentDone(int i, int n);

} // namespace rocking
