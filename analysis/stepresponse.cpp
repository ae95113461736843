#include "analysis/stepresponse.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
double usableRate(double rate)
{
    return rate > 0.0 && std::isfinite(rate) ? rate : 1.0;
}

// Mean of sorted[from, to), taken about its first value, so that a run of
// equal values has exactly that value as its mean.
double meanOf(const std::vector<double>& sorted, std::size_t from, std::size_t to)
{
    const double base = sorted[from];
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i)
        sum += sorted[i] - base;
    return base + sum / double(to - from);
}

// Whether the response moves against the stimulus: the sign of their
// covariance. Unlike a comparison of raw products, it does not depend on
// where the response or the bias sit (a position left of the detector
// centre, a bias of 0 V), only on the direction of the movement. Taken about
// the first sample, so that a response that does not move at all has a
// covariance of exactly zero and is not called inverted.
bool movesAgainst(const std::vector<double>& r, const std::vector<double>& s, int n)
{
    const auto usable = [&](int i) { return std::isfinite(r[i]) && std::isfinite(s[i]); };
    int first = 0;
    while (first < n && !usable(first))
        ++first;
    if (first == n)
        return false;
    const double r0 = r[first], s0 = s[first];
    double sumR = 0.0, sumS = 0.0;
    int count = 0;
    for (int i = first; i < n; ++i) {
        if (usable(i)) {
            sumR += r[i] - r0;
            sumS += s[i] - s0;
            ++count;
        }
    }
    const double meanR = sumR / count, meanS = sumS / count;
    double covariance = 0.0;
    for (int i = first; i < n; ++i)
        if (usable(i))
            covariance += (r[i] - r0 - meanR) * (s[i] - s0 - meanS);
    return covariance < 0.0;
}

// The span of an axis that shows `size` units; a size of zero (no step, no
// response) takes the magnitude of the level it starts from, or one unit.
double spanOr(double size, double level)
{
    if (size > 0.0 && std::isfinite(size))
        return size;
    const double magnitude = std::fabs(level);
    return magnitude > 0.0 && std::isfinite(magnitude) ? magnitude : 1.0;
}
} // namespace

double stepSampleTime(int i, double rate)
{
    return double(float(i) / float(usableRate(rate)));
}

StepResponse evaluateStepResponse(const std::vector<double>& response,
                                  const std::vector<double>& stimulus, double bias, double step,
                                  double sampleRate)
{
    StepResponse r;
    const int n = int(std::min(response.size(), stimulus.size()));
    const double fs = usableRate(sampleRate);
    r.samples = n;
    r.du = step;
    r.gain = std::numeric_limits<double>::quiet_NaN();
    if (n == 0)
        return r;

    r.response.assign(response.begin(), response.begin() + n);
    r.inverted = movesAgainst(r.response, stimulus, n);
    if (r.inverted)
        for (double& v : r.response)
            v = -v;

    // Levels from the lowest and highest tenth. Samples that are not numbers
    // (a detector without current) take no part: they cannot be ordered.
    std::vector<double> sorted;
    sorted.reserve(std::size_t(n));
    for (double v : r.response)
        if (std::isfinite(v))
            sorted.push_back(v);
    if (!sorted.empty()) {
        std::sort(sorted.begin(), sorted.end());
        const std::size_t count = sorted.size();
        const std::size_t tenth = std::max<std::size_t>(1, count / 10);
        r.low = meanOf(sorted, 0, tenth);
        r.high = meanOf(sorted, count - tenth, count);
    }
    r.dc = r.high - r.low;
    const double mid = 0.5 * (r.high + r.low);
    r.level10 = mid - 0.4 * r.dc;
    r.level90 = mid + 0.4 * r.dc;

    // Crossings: a sample that is not a number crosses no level.
    const auto above = [](double v, double level) { return std::isfinite(v) && v > level; };
    const std::vector<double>& R = r.response;
    r.i10 = n - 1;
    for (int j = 1; j < n; ++j) {
        if (above(R[j], r.level10)) {
            r.i10 = j - 1;
            break;
        }
    }
    r.i90 = n;
    for (int k = r.i10; k < n; ++k) {
        if (above(R[k], r.level90)) {
            r.i90 = k;
            break;
        }
    }
    const double threshold = bias + 0.5 * step;
    if (above(stimulus[0], threshold)) {
        r.is = -1;
    } else {
        r.is = n - 1;
        for (int j = 1; j < n; ++j) {
            if (above(stimulus[std::size_t(j)], threshold)) {
                r.is = j - 1;
                break;
            }
        }
    }

    r.recordSeconds = (n - 1) / fs;
    r.t10 = r.i10 / fs;
    r.t90 = (r.i90 - 1) / fs;
    r.ts = r.is / fs;
    if (step != 0.0)
        r.gain = r.dc / step;
    r.deadTime = r.t10 - r.ts;
    r.settleTime = r.t90 - r.t10;
    r.longest = std::max(r.deadTime, r.settleTime);
    return r;
}

StepResponseView stepResponseView(const StepResponse& r, double bias, double step)
{
    StepResponseView v;
    const double m = r.longest > 0.0 && std::isfinite(r.longest) ? r.longest : 0.0;
    if (m > 0.0) {
        v.timeLower = r.ts - 0.2 * m;
        v.timeUpper = r.t90 + m;
    } else {
        // No time between stimulus and response to mark: the whole record.
        v.timeLower = 0.0;
        v.timeUpper = r.recordSeconds > 0.0 ? r.recordSeconds : 1.0;
    }

    const double s = spanOr(step, bias);
    v.stimulusLower = bias - 0.2 * s;
    v.stimulusUpper = bias + 1.2 * s;

    const double dc = spanOr(r.dc, r.low);
    v.responseLower = r.low - 0.2 * dc;
    v.responseUpper = r.low + 1.2 * dc;

    v.markerLevel = r.low - 0.1 * r.dc;
    v.dcArrowTime = r.t90 + 0.3 * m;
    return v;
}
