#pragma once

// The PID tuning assistant's arithmetic, widget-free: a first-order-plus-
// dead-time model fitted to a measured step response, PI parameters by the
// SIMC rules, their conversion into the controller's parameters at the
// loop's real rate, and the closed-loop setpoint step those parameters give,
// simulated with the controller's own law (analysis/pidlaw.h).

#include "analysis/pidlaw.h"

#include <vector>

// y(t) = offset + gain * x(t), where x follows the stimulus u(t - deadTime)
// through a first-order lag of time constant `timeConstant`, starting at
// rest on the first stimulus sample:  tau dx/dt = (u(t - theta) - u0) - x.
// Units: gain in response units per stimulus unit (a BPM position or
// current per volt), times in seconds.
struct FopdtModel {
    bool valid = false;        // false when the data hold no usable step
    double gain = 0.0;         // K; negative for an inverted actuator
    double timeConstant = 0.0; // tau, s
    double deadTime = 0.0;     // theta, s
    double offset = 0.0;       // response level at rest, response units
    double residualRms = 0.0;  // rms of measurement - model over the fit
};

// Least-squares fit of the model to `response` driven by `stimulus`, both
// sampled at `sampleRate` (oldest first, equal lengths used up to the
// shorter). Non-finite response samples are left out of the sums; a
// non-finite stimulus sample holds the one before it. The stimulus runs
// straight between its samples (a step recorded between two samples is taken
// half-way), the dead time may be a fraction of a sample. The raw, not the
// negated, response is expected: the sign of the gain comes out of the fit.
// Not valid without a stimulus that moves, or when the fitted gain does not
// stand out of the residual noise.
FopdtModel fitFopdt(const std::vector<double>& response, const std::vector<double>& stimulus,
                    double sampleRate);

// The model's response to `stimulus` at `sampleRate`, for drawing the fit
// over the measurement. Empty for a model that is not valid.
std::vector<double> fopdtResponse(const FopdtModel& model, const std::vector<double>& stimulus,
                                  double sampleRate);

// Continuous PI parameters: u = Kc (e + 1/tauI * integral of e dt).
struct PiTuning {
    double kc = 0.0;   // response units of the actuator per response unit; sign of 1/K
    double tauI = 0.0; // s
    double tauD = 0.0; // s, 0 for a first-order model
};

// SIMC rules for a first-order-plus-dead-time model with closed-loop time
// constant tauC: Kc = tau / (K (tauC + theta)), tauI = min(tau, 4 (tauC +
// theta)), no derivative. `loopRate` (Hz, 0 for a continuous controller)
// adds half a loop period to the dead time for the output held between two
// runs of the loop. All zero (no controller) for a model that is not valid,
// a non-finite tauC, or no dead time at all with tauC = 0; a negative tauC
// counts as 0.
PiTuning simcTuning(const FopdtModel& model, double tauC, double loopRate = 0.0);

// The controller's parameters for `tuning` run `loopRate` times a second:
// kp, ki, kd as the law uses them (the integral by the trapezoidal rule, see
// analysis/pidlaw.h), the given O gain kept (a zero or non-finite O gain
// becomes 1), every other field of `base` kept. Without a usable loop rate
// or gain, `base` with only its O gain made usable.
PidLawParameters controllerParameters(const PiTuning& tuning, double loopRate,
                                      const PidLawParameters& base);

// A setpoint step of the closed loop: the model plant, the controller's law
// run at `loopRate` with output held between runs, from rest at the output
// `offset`, setpoint stepped by `step` (response units) at t = 0. The plant
// moves in ticks of at most 10 us that divide the loop period, and each run
// measures it after the tick, as the controller does. The step comes half a
// period before a run: the mean of the phases at which a real one meets the
// loop. Empty for a model that is not valid or without a usable loop rate or
// duration; at most 2 000 000 ticks are run, the drawn points are thinned to
// at most 20 000.
struct ClosedLoopStep {
    std::vector<double> time;     // s, from 0
    std::vector<double> response; // plant output minus its start value, response units
    std::vector<double> output;   // controller output, stimulus units
    double overshoot = 0.0;       // (peak - step) / step past the step, >= 0
    double settlingTime = 0.0;    // s until |response - step| stays within 5 % of |step|;
                                  // the whole duration when it never settles
    bool settled = false;
};

ClosedLoopStep simulateClosedLoop(const FopdtModel& model, const PidLawParameters& pid,
                                  double loopRate, double offset, double step, double duration);

// The same figures from any sampled step response (a measurement): overshoot
// and 5 % settling time of `response` (minus its value at t = 0) for a step of
// `step` at t = 0, sampled at `sampleRate`. Non-finite samples are skipped.
// Noise counts as it is: a raw measurement whose noise reaches the 5 % band
// needs averaging first. No step: all zero and not settled. Null outputs are
// not written.
void stepFigures(const std::vector<double>& response, double step, double sampleRate,
                 double* overshoot, double* settlingTime, bool* settled);
