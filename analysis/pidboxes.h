#pragma once

// What the PID window's boxes can hold of a loop's parameters, for the
// tuning assistant: gains 0 to 10000 and O gain -90 to 100000, each with 5
// decimals (forms/widgetpidparams.ui). A proposal is rounded as the boxes
// round it, so that its prediction is made with what Apply really sends, and
// brought into their ranges through the O gain.

#include "analysis/pidlaw.h"
#include "analysis/pidtuning.h"

#include <QString>

namespace pidboxes
{

constexpr double kGainMax = 10000.0;
constexpr double kOGainMin = -90.0;
constexpr double kOGainMax = 100000.0;
constexpr int kDecimals = 5;
// Below this a gain keeps less than 1 % resolution in the boxes.
constexpr double kGainFloor = 1e-3;

// `value` as a box holds it: rounded to the boxes' decimals.
double rounded(double value);
// `value` as a box shows it.
QString text(double value);

// Whether the boxes take every gain and the O gain of `p`, and keep every
// gain that is not 0 at kGainFloor or more.
bool fits(const PidLawParameters& p);

// The controller's parameters for `pi` at `rate`, as the boxes can hold
// them, every field but the gains and the O gain taken from `stored`. The
// boxes take no negative gains, so an inverted actuator gets a negative O
// gain. The stored O gain is kept when the gains then fit; otherwise a power
// of ten carries their magnitude, chosen to leave the smallest gain as much
// resolution as the range allows. False, with the reason for the operator in
// `problem`, when no usable parameters come out or none fit.
bool propose(const PiTuning& pi, double rate, const PidLawParameters& stored, PidLawParameters* out,
             QString* problem);

} // namespace pidboxes
