#pragma once

#include <vector>

// Evaluation of one step-response measurement: how far and how fast the
// measured quantity of a BPM moved after one actuator output stepped up.
//
// Input: the response samples R[i] (a BPM position or intensity), the
// stimulus samples S[i] (the stepped DAC output, volts), both oldest first,
// the bias b and step s that were applied, and the sample rate. Widget-free,
// so that it can be checked on synthetic responses.
struct StepResponse {
    int samples = 0;            // N, the shorter of the two inputs
    double recordSeconds = 0.0; // time from the first sample to the last

    // A response that falls when the stimulus rises is evaluated negated.
    bool inverted = false;
    std::vector<double> response; // R as evaluated (negated when inverted)

    // Levels: mean of the lowest and of the highest tenth of the response.
    double low = 0.0;
    double high = 0.0;
    double dc = 0.0;      // high - low
    double level10 = 0.0; // mid - 0.4 dc
    double level90 = 0.0; // mid + 0.4 dc

    // Crossings (sample indices). i10: last sample before the response first
    // rises above the 10 % level (N - 1 if it never does). i90: first sample
    // from i10 on above the 90 % level (N if none). is: last sample before the
    // stimulus first rises above b + s/2 (-1 if the first one already is,
    // N - 1 if none does).
    int i10 = 0;
    int i90 = 0;
    int is = 0;

    // The same as times, seconds: t10 = i10 / fs, t90 = (i90 - 1) / fs, ts = is / fs.
    double t10 = 0.0;
    double t90 = 0.0;
    double ts = 0.0;

    double du = 0.0;         // the step s
    double gain = 0.0;       // K = dc / du; not a number for a zero step
    double deadTime = 0.0;   // Td = t10 - ts, seconds
    double settleTime = 0.0; // Tset = t90 - t10, seconds
    double longest = 0.0;    // M, the larger of Td and Tset
};

// Where the plot puts its axes and markers for one evaluation. Spans that
// would be empty (no step, no response, no time between the crossings) fall
// back to a usable size, so that every range is a real interval.
struct StepResponseView {
    double timeLower = 0.0, timeUpper = 1.0;         // bottom axis, s
    double stimulusLower = 0.0, stimulusUpper = 1.0; // left axis, volts
    double responseLower = 0.0, responseUpper = 1.0; // right axis
    double markerLevel = 0.0; // y0 = low - 0.1 dc, height of the two time arrows
    double dcArrowTime = 0.0; // t90 + 0.3 M, where the dc arrow stands
};

// Time of sample i at `rate` samples per second, computed in single
// precision as the display's time axes are.
double stepSampleTime(int i, double rate);

StepResponse evaluateStepResponse(const std::vector<double>& response,
                                  const std::vector<double>& stimulus, double bias, double step,
                                  double sampleRate);

StepResponseView stepResponseView(const StepResponse& result, double bias, double step);
