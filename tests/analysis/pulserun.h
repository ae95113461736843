#pragma once

// A step-response run as the step-response window records it: 14 335
// samples at 50 kHz, the stimulus at its bias, stepped for 100 ms, back at
// the bias; the response a first-order lag behind a dead time, whose
// constants are therefore known exactly.

#include <cmath>
#include <random>
#include <vector>

constexpr double kRate = 50000.0;
constexpr int kSamples = 14335;
constexpr int kStepUp = 3333;
constexpr int kStepDown = kStepUp + 5000;

struct Plant {
    double gain, tau, theta;
};

struct Run {
    std::vector<double> response, stimulus, exact;
};

// offset + K * (lag behind a dead time) for a pulse of `step` volts from
// `bias`, plus Gaussian noise. The stimulus really moves at `phase` of the
// way from the sample before its recorded step to that one.
inline Run pulseRun(const Plant& p, double offset, double step, double phase = 0.5,
                    double noise = 0.0, double bias = 2.0)
{
    Run run;
    std::mt19937 generator(1);
    std::normal_distribution<double> gauss(0.0, noise);
    const double up = (kStepUp - 1 + phase) / kRate + p.theta;
    const double down = (kStepDown - 1 + phase) / kRate + p.theta;
    const auto rise = [&](double since) { return since <= 0 ? 0.0 : -std::expm1(-since / p.tau); };
    for (int i = 0; i < kSamples; ++i) {
        const double t = i / kRate;
        run.stimulus.push_back(i >= kStepUp && i < kStepDown ? bias + step : bias);
        run.exact.push_back(offset + p.gain * step * (rise(t - up) - rise(t - down)));
        run.response.push_back(run.exact.back() + (noise > 0 ? gauss(generator) : 0.0));
    }
    return run;
}
