#include "analysis/pidtuning.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace
{
// The plant of a closed-loop prediction advances in ticks of at most this
// length, the base tick of the controller's loops.
constexpr double kPlantTickSeconds = 1e-5;
// A closed-loop prediction runs at most this many plant ticks (20 s of
// 10 us ticks), and keeps at most this many points for drawing.
constexpr int64_t kMaxPlantTicks = 2000000;
constexpr std::size_t kMaxDrawnPoints = 20000;
// Fewer usable samples than this hold no step worth fitting.
constexpr int kMinFitSamples = 16;
// A long record is searched coarsely on block means of about this many
// samples before the fit is refined on all of them.
constexpr std::size_t kCoarseSamples = 1500;
// A fitted gain counts only this many standard errors away from zero: a
// search over dead time and time constant finds a few standard errors in
// pure noise.
constexpr double kMinGainSignificance = 12.0;
// Band of the settling time, a fraction of the step.
constexpr double kSettlingBand = 0.05;

bool usable(double v)
{
    return std::isfinite(v);
}

// The stimulus relative to its first finite sample, with non-finite samples
// holding the value before them, so that a missing sample does not read as
// a step. Empty when the stimulus holds no finite sample.
std::vector<double> relativeStimulus(const std::vector<double>& stimulus, std::size_t n)
{
    std::size_t first = 0;
    while (first < n && !usable(stimulus[first]))
        ++first;
    if (first == n)
        return {};
    const double base = stimulus[first];
    std::vector<double> v(n, 0.0);
    double held = 0.0;
    for (std::size_t i = first; i < n; ++i) {
        if (usable(stimulus[i]))
            held = stimulus[i] - base;
        v[i] = held;
    }
    return v;
}

// A lag decaying back to rest would otherwise pass through subnormal
// numbers, which take the processor a hundred times longer.
inline double flushTiny(double x)
{
    return std::fabs(x) < 1e-200 ? 0.0 : x;
}

// Coefficients of the first-order lag over one sample for an input that
// runs linearly from v0 to v1: x1 = a x0 + b0 v0 + b1 v1.
struct LagStep {
    double a, b0, b1;
    LagStep(double tau, double dt)
    {
        const double r = dt / tau;
        a = std::exp(-r);
        // (1 - a) / r, written so that a short time constant and a long one
        // both keep their precision.
        const double g = r > 1e-6 ? -std::expm1(-r) / r : 1.0 - 0.5 * r;
        b1 = 1.0 - g;
        b0 = g - a;
    }
};

// The lag state x at every sample for the stimulus v delayed by `delay`
// samples (fractional: linear interpolation between the samples), starting
// at rest on v[0] = 0.
void lagResponse(const std::vector<double>& v, double delay, double tau, double dt,
                 std::vector<double>& x)
{
    const std::size_t n = v.size();
    x.resize(n);
    if (n == 0)
        return;
    const double whole = std::floor(delay);
    const double f = delay - whole;
    const std::ptrdiff_t m = std::ptrdiff_t(whole);
    const auto at = [&](std::ptrdiff_t i) { return i < 0 ? 0.0 : v[std::size_t(i)]; };
    const auto delayed = [&](std::ptrdiff_t k) {
        return (1.0 - f) * at(k - m) + f * at(k - m - 1);
    };
    const LagStep c(tau, dt);
    x[0] = 0.0;
    double previous = delayed(0);
    for (std::size_t k = 1; k < n; ++k) {
        const double current = delayed(std::ptrdiff_t(k));
        x[k] = flushTiny(c.a * x[k - 1] + c.b0 * previous + c.b1 * current);
        previous = current;
    }
}

// The least-squares problem of one fit: the response centred on its mean
// over the usable samples (zero elsewhere), a weight of 1 for each usable
// sample, and the stimulus with room for the longest dead time before it.
class FopdtProblem
{
public:
    FopdtProblem(const std::vector<double>& response, const std::vector<double>& stimulus,
                 double dt, std::size_t longestDelay)
        : m_dt(dt), m_pad(longestDelay + 2)
    {
        const std::size_t n = std::min(response.size(), stimulus.size());
        m_v.assign(m_pad, 0.0);
        m_v.insert(m_v.end(), stimulus.begin(), stimulus.begin() + std::ptrdiff_t(n));
        m_y.assign(n, 0.0);
        m_w.assign(n, 0.0);
        double sum = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            if (usable(response[i])) {
                m_w[i] = 1.0;
                sum += response[i];
                ++m_count;
            }
        }
        m_mean = m_count > 0 ? sum / m_count : 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            if (m_w[i] != 0.0) {
                m_y[i] = response[i] - m_mean;
                m_syy += m_y[i] * m_y[i];
            }
        }
    }

    int count() const { return m_count; }
    double totalSquares() const { return m_syy; }
    double longestDelay() const { return double(m_pad - 2); }

    // The best gain and offset for this dead time (samples) and time
    // constant (seconds), with the sum of squared residuals. One pass: the
    // lag runs through the delayed stimulus while the sums build up.
    struct Linear {
        double gain = 0.0, offset = 0.0, squares = 0.0, sxx = 0.0;
    };
    Linear solve(double delay, double tau) const
    {
        delay = std::clamp(delay, 0.0, longestDelay());
        const double whole = std::floor(delay);
        const double f = delay - whole;
        const double g = 1.0 - f;
        const double* v = m_v.data() + m_pad - std::size_t(whole); // v[k] is u[k - whole]
        const double* y = m_y.data();
        const double* w = m_w.data();
        const std::size_t n = m_y.size();
        const LagStep c(tau, m_dt);

        double x = 0.0, sx = 0.0, sxx = 0.0, sxy = 0.0;
        double previous = g * v[0] + f * v[-1];
        for (std::size_t k = 1; k < n; ++k) {
            const double current = g * v[k] + f * v[k - 1];
            x = flushTiny(c.a * x + c.b0 * previous + c.b1 * current);
            previous = current;
            sx += w[k] * x;
            sxx += w[k] * x * x;
            sxy += x * y[k];
        }

        Linear r;
        if (m_count == 0)
            return r;
        const double mx = sx / m_count;
        const double cxx = sxx - sx * mx;
        if (!(cxx > 1e-300)) {
            // The model does not move inside the record (all of the step
            // delayed past its end): only the offset fits.
            r.offset = m_mean;
            r.squares = m_syy;
            return r;
        }
        r.gain = sxy / cxx; // y has zero mean over the usable samples: sxy is centred
        r.offset = m_mean - r.gain * mx;
        r.squares = std::max(0.0, m_syy - r.gain * sxy);
        r.sxx = cxx;
        return r;
    }

private:
    double m_dt;
    std::size_t m_pad;
    std::vector<double> m_v;
    std::vector<double> m_y;
    std::vector<double> m_w;
    int m_count = 0;
    double m_mean = 0.0;
    double m_syy = 0.0;
};

// Means of blocks of `factor` samples, leaving out those that are not
// numbers (a block without any is not a number).
std::vector<double> blockMeans(const std::vector<double>& values, std::size_t n, std::size_t factor)
{
    std::vector<double> means;
    means.reserve(n / factor);
    for (std::size_t start = 0; start + factor <= n; start += factor) {
        double sum = 0.0;
        int count = 0;
        for (std::size_t i = start; i < start + factor; ++i) {
            if (usable(values[i])) {
                sum += values[i];
                ++count;
            }
        }
        means.push_back(count > 0 ? sum / count : std::numeric_limits<double>::quiet_NaN());
    }
    return means;
}

// Nelder-Mead over two parameters.
template <typename F>
std::array<double, 2> minimise(F cost, std::array<double, 2> start, std::array<double, 2> scale,
                               std::array<double, 2> tolerance, int maxEvaluations)
{
    using Point = std::array<double, 2>;
    Point p[3] = {start, {start[0] + scale[0], start[1]}, {start[0], start[1] + scale[1]}};
    double c[3] = {cost(p[0]), cost(p[1]), cost(p[2])};
    int evaluations = 3;
    const auto mix = [](const Point& a, const Point& b, double t) {
        return Point{a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1])};
    };
    while (evaluations < maxEvaluations) {
        // Order best, middle, worst.
        for (int i = 0; i < 2; ++i) {
            for (int j = i + 1; j < 3; ++j) {
                if (c[j] < c[i]) {
                    std::swap(c[i], c[j]);
                    std::swap(p[i], p[j]);
                }
            }
        }
        const auto replaceWorst = [&](const Point& q, double cq) {
            p[2] = q;
            c[2] = cq;
        };

        // Converged, or in a flat stretch where no move changes the cost
        // (a lag much shorter than a sample).
        const bool small = std::fabs(p[1][0] - p[0][0]) < tolerance[0] &&
                           std::fabs(p[2][0] - p[0][0]) < tolerance[0] &&
                           std::fabs(p[1][1] - p[0][1]) < tolerance[1] &&
                           std::fabs(p[2][1] - p[0][1]) < tolerance[1];
        const bool flat = c[2] - c[0] <= 1e-12 * c[0];
        if (small || flat)
            break;

        const Point centroid = mix(p[0], p[1], 0.5);
        const Point reflected = mix(centroid, p[2], -1.0);
        const double cr = cost(reflected);
        ++evaluations;
        if (cr < c[0]) {
            const Point expanded = mix(centroid, p[2], -2.0);
            const double ce = cost(expanded);
            ++evaluations;
            if (ce < cr)
                replaceWorst(expanded, ce);
            else
                replaceWorst(reflected, cr);
        } else if (cr < c[1]) {
            replaceWorst(reflected, cr);
        } else {
            const bool outside = cr < c[2];
            const Point contracted = mix(centroid, outside ? reflected : p[2], 0.5);
            const double cc = cost(contracted);
            ++evaluations;
            if (cc < std::min(cr, c[2])) {
                replaceWorst(contracted, cc);
            } else {
                for (int i = 1; i < 3; ++i) {
                    p[i] = mix(p[0], p[i], 0.5);
                    c[i] = cost(p[i]);
                }
                evaluations += 2;
            }
        }
    }
    int bestIndex = 0;
    for (int i = 1; i < 3; ++i)
        if (c[i] < c[bestIndex])
            bestIndex = i;
    return p[bestIndex];
}

double usableRate(double rate)
{
    return rate > 0.0 && std::isfinite(rate) ? rate : 0.0;
}
} // namespace

FopdtModel fitFopdt(const std::vector<double>& response, const std::vector<double>& stimulus,
                    double sampleRate)
{
    FopdtModel model;
    const double fs = usableRate(sampleRate);
    const std::size_t n = std::min(response.size(), stimulus.size());
    if (fs == 0.0 || n < std::size_t(kMinFitSamples))
        return model;
    std::vector<double> v = relativeStimulus(stimulus, n);
    if (v.empty())
        return model;

    // Where the stimulus first moves: the model cannot see a dead time
    // longer than the record after it.
    std::size_t moved = 0;
    while (moved < n && v[moved] == 0.0)
        ++moved;
    if (moved + std::size_t(kMinFitSamples) > n)
        return model;
    const double dt = 1.0 / fs;
    const double after = double(n - 1 - moved); // samples after the first move

    const double maxDelay = 0.5 * after;
    FopdtProblem problem(response, v, dt, std::size_t(std::ceil(maxDelay)));
    if (problem.count() < kMinFitSamples || !(problem.totalSquares() > 0.0))
        return model;

    // The search runs in (dead time in samples, log of the time constant).
    const double minLogTau = std::log(0.05 * dt);
    const double maxLogTau = std::log(4.0 * after * dt);
    const auto clampPoint = [&](const std::array<double, 2>& q) {
        return std::array<double, 2>{std::clamp(q[0], 0.0, maxDelay),
                                     std::clamp(q[1], minLogTau, maxLogTau)};
    };

    // A coarse search first, on block means of a long record: dead times
    // spaced quadratically (fine where dead times usually are, a few samples
    // to a few hundred), time constants logarithmically, then refined. The
    // least-squares surface has one long valley (a longer dead time with a
    // shorter lag) which the refinement then follows on every sample.
    const std::size_t factor = std::max<std::size_t>(1, n / kCoarseSamples);
    const FopdtProblem coarse(blockMeans(response, n, factor), blockMeans(v, n, factor),
                              dt * double(factor), std::size_t(std::ceil(maxDelay / factor)));
    const auto coarseCost = [&](const std::array<double, 2>& q) {
        const std::array<double, 2> c = clampPoint({q[0] * double(factor), q[1]});
        return coarse.solve(c[0] / double(factor), std::exp(c[1])).squares;
    };
    constexpr int kDelaySteps = 28;
    constexpr int kTauSteps = 18;
    std::array<double, 2> best{0.0, minLogTau};
    double bestCost = INFINITY;
    for (int i = 0; i <= kDelaySteps; ++i) {
        const double s = double(i) / kDelaySteps;
        const double delay = maxDelay * s * s / double(factor);
        for (int j = 0; j <= kTauSteps; ++j) {
            const double logTau = minLogTau + (maxLogTau - minLogTau) * j / kTauSteps;
            const double c = coarseCost({delay, logTau});
            if (c < bestCost) {
                bestCost = c;
                best = {delay, logTau};
            }
        }
    }
    const double gridDelayStep =
        std::max(1.0, 2.0 * std::sqrt(best[0] * factor * maxDelay) / kDelaySteps / double(factor));
    const double gridTauStep = (maxLogTau - minLogTau) / kTauSteps;
    if (factor > 1) {
        best = minimise(coarseCost, best, {gridDelayStep, gridTauStep}, {0.05, 2e-3}, 200);
        best[0] *= double(factor);
    }

    const auto cost = [&](const std::array<double, 2>& q) {
        const std::array<double, 2> c = clampPoint(q);
        return problem.solve(c[0], std::exp(c[1])).squares;
    };
    const std::array<double, 2> start = clampPoint(best);
    const std::array<double, 2> scale = factor > 1
                                            ? std::array<double, 2>{0.5 * double(factor), 0.05}
                                            : std::array<double, 2>{gridDelayStep, gridTauStep};
    std::array<double, 2> refined = clampPoint(minimise(cost, start, scale, {0.01, 1e-3}, 300));
    // Once more from where it stopped with a fresh simplex of about a
    // sample: a simplex that collapsed against the zero dead time, or across
    // the valley, gets another chance.
    refined = clampPoint(minimise(cost, refined, {1.0, 0.05}, {0.01, 1e-3}, 150));

    const double tau = std::exp(refined[1]);
    const FopdtProblem::Linear fit = problem.solve(refined[0], tau);
    const int dof = std::max(1, problem.count() - 4);
    const double variance = fit.squares / dof;
    const double standardError =
        fit.sxx > 0.0 ? std::sqrt(variance / fit.sxx) : std::numeric_limits<double>::infinity();

    model.gain = fit.gain;
    model.offset = fit.offset;
    model.timeConstant = tau;
    model.deadTime = refined[0] * dt;
    model.residualRms = std::sqrt(fit.squares / problem.count());
    model.valid = fit.sxx > 0.0 && std::isfinite(fit.gain) && fit.gain != 0.0 &&
                  std::fabs(fit.gain) >= kMinGainSignificance * standardError;
    return model;
}

std::vector<double> fopdtResponse(const FopdtModel& model, const std::vector<double>& stimulus,
                                  double sampleRate)
{
    const double fs = usableRate(sampleRate);
    if (!model.valid || fs == 0.0 || !(model.timeConstant > 0.0))
        return {};
    const std::vector<double> v = relativeStimulus(stimulus, stimulus.size());
    if (v.empty())
        return std::vector<double>(stimulus.size(), model.offset);
    std::vector<double> x;
    lagResponse(v, model.deadTime * fs, model.timeConstant, 1.0 / fs, x);
    for (double& value : x)
        value = model.offset + model.gain * value;
    return x;
}

PiTuning simcTuning(const FopdtModel& model, double tauC, double loopRate)
{
    PiTuning t;
    if (!model.valid || !(model.gain != 0.0) || !(model.timeConstant > 0.0) || !std::isfinite(tauC))
        return t;
    // The output held between two runs of the loop acts, on average, as half
    // a period of extra dead time.
    const double held = usableRate(loopRate) > 0.0 ? 0.5 / loopRate : 0.0;
    const double theta = std::max(0.0, model.deadTime) + held;
    const double closed = std::max(0.0, tauC) + theta;
    if (!(closed > 0.0))
        return t; // no dead time and an instant loop asked for: no finite gain
    t.kc = model.timeConstant / (model.gain * closed);
    t.tauI = std::min(model.timeConstant, 4.0 * closed);
    t.tauD = 0.0;
    return t;
}

PidLawParameters controllerParameters(const PiTuning& tuning, double loopRate,
                                      const PidLawParameters& base)
{
    PidLawParameters p = base;
    if (!(p.oGain != 0.0) || !std::isfinite(p.oGain))
        p.oGain = 1.0;
    const double fs = usableRate(loopRate);
    if (fs == 0.0 || !std::isfinite(tuning.kc))
        return p;
    const double ts = 1.0 / fs;
    // The law's sum of errors includes the error of this run, a rectangle
    // rule that runs half a period ahead of the continuous integral; half a
    // period of integral action taken off the proportional gain makes it the
    // trapezoidal rule. A loop period longer than two integral times leaves
    // integral action alone.
    const double trapezoid = tuning.tauI > 0.0 ? std::max(0.0, 1.0 - 0.5 * ts / tuning.tauI) : 1.0;
    p.kp = tuning.kc * trapezoid / p.oGain;
    p.ki = tuning.tauI > 0.0 ? tuning.kc * ts / (tuning.tauI * p.oGain) : 0.0;
    p.kd = tuning.tauD > 0.0 ? tuning.kc * tuning.tauD / (ts * p.oGain) : 0.0;
    return p;
}

ClosedLoopStep simulateClosedLoop(const FopdtModel& model, const PidLawParameters& pid,
                                  double loopRate, double offset, double step, double duration)
{
    ClosedLoopStep s;
    const double fs = usableRate(loopRate);
    if (!model.valid || fs == 0.0 || !(duration > 0.0) || !std::isfinite(duration) ||
        !std::isfinite(offset) || !std::isfinite(step))
        return s;

    // Plant ticks that divide the loop period exactly, no longer than the
    // controller's base tick.
    const double period = 1.0 / fs;
    const int64_t ticksPerRun =
        std::max<int64_t>(1, int64_t(std::ceil(period / kPlantTickSeconds - 1e-9)));
    const double h = period / double(ticksPerRun);
    const int64_t ticks =
        std::clamp<int64_t>(std::llround(std::min(duration / h, 1e12)), 1, kMaxPlantTicks);

    // Dead time as whole ticks plus a fraction: over one tick the plant sees
    // the output of tick k - m - 1 for the fraction f, then that of k - m.
    const double delay = std::max(0.0, model.deadTime) / h;
    const int64_t m = int64_t(std::floor(delay));
    const double f = delay - double(m);
    const double tau = model.timeConstant;
    const double aWhole = std::exp(-h / tau);
    const double aFirst = std::exp(-f * h / tau);
    const double aRest = std::exp(-(1.0 - f) * h / tau);

    // Outputs held during each tick, relative to the offset.
    std::vector<double> held(std::size_t(ticks), 0.0);
    const auto input = [&](int64_t k) { return k < 0 ? 0.0 : held[std::size_t(k)]; };

    std::vector<double> full(std::size_t(ticks) + 1, 0.0);
    const std::size_t stride = std::max<std::size_t>(1, std::size_t(ticks) / kMaxDrawnPoints);
    s.time.push_back(0.0);
    s.response.push_back(0.0);
    s.output.push_back(offset);

    PidLaw law;
    law.reset(offset);
    double x = 0.0;
    // The setpoint steps half a loop period before the loop's next run: the
    // mean over the phases at which a step can meet the loop.
    int64_t countdown = std::max<int64_t>(1, ticksPerRun / 2);
    for (int64_t k = 0; k < ticks; ++k) {
        held[std::size_t(k)] = law.output() - offset;
        // The plant moves first, then the loop measures it, as in the
        // controller's tick.
        const double first = input(k - m - 1), rest = input(k - m);
        if (f == 0.0) {
            x = aWhole * x + (1.0 - aWhole) * rest;
        } else {
            x = aFirst * x + (1.0 - aFirst) * first;
            x = aRest * x + (1.0 - aRest) * rest;
        }
        const double y = model.gain * x;
        if (--countdown <= 0) {
            countdown = ticksPerRun;
            law.run(pid, step, y, offset);
        }
        full[std::size_t(k) + 1] = y;
        if ((std::size_t(k) + 1) % stride == 0 || k + 1 == ticks) {
            s.time.push_back(double(k + 1) * h);
            s.response.push_back(y);
            s.output.push_back(law.output());
        }
    }
    stepFigures(full, step, 1.0 / h, &s.overshoot, &s.settlingTime, &s.settled);
    return s;
}

void stepFigures(const std::vector<double>& response, double step, double sampleRate,
                 double* overshoot, double* settlingTime, bool* settled)
{
    double over = 0.0, settling = 0.0;
    bool done = false;
    const double fs = usableRate(sampleRate);
    std::size_t start = 0;
    while (start < response.size() && !usable(response[start]))
        ++start;
    if (fs > 0.0 && step != 0.0 && std::isfinite(step) && start < response.size()) {
        const double base = response[start];
        const double size = std::fabs(step);
        const double sign = step > 0.0 ? 1.0 : -1.0;
        double peak = 0.0;
        std::size_t lastOutside = start;
        for (std::size_t i = start; i < response.size(); ++i) {
            if (!usable(response[i]))
                continue;
            const double r = sign * (response[i] - base);
            peak = std::max(peak, r);
            if (std::fabs(r - size) > kSettlingBand * size)
                lastOutside = i;
        }
        over = std::max(0.0, (peak - size) / size);
        const std::size_t last = response.size() - 1;
        done = lastOutside < last;
        settling = double(done ? lastOutside + 1 : last) / fs;
    }
    if (overshoot)
        *overshoot = over;
    if (settlingTime)
        *settlingTime = settling;
    if (settled)
        *settled = done;
}
