#include "analysis/stabilityanalysis.h"

#include "analysis/realfft.h"
#include "device/protocol.h"

#include <algorithm>
#include <cmath>

namespace stability
{

namespace
{
constexpr int kMinSegmentLength = 16;
constexpr int kMinSegments = 6;

// A line's energy spreads over its own bin and two on either side under
// the Hann window; maxima closer than this many bins belong to one line.
constexpr int kLineHalfWidth = 2;
constexpr int kMergeBins = 3;
// A maximum is a line when it stands this many times above the median
// density of its block of kBackgroundBins bins.
constexpr double kLineProminence = 5.0;
constexpr int kBackgroundBins = 32;

int segmentCount(int samples, int length)
{
    return samples < length ? 0 : (samples - length) / (length / 2) + 1;
}

int largestPowerOfTwoAtMost(int n)
{
    int p = 1;
    while (p <= n / 2)
        p *= 2;
    return p;
}

// The part of bin k inside 0 .. Nyquist: [lower, upper) Hz.
void binSpan(const Spectrum& s, std::size_t k, double* lower, double* upper)
{
    const double centre = s.frequency[k];
    *lower = std::max(0.0, centre - s.binWidth / 2);
    *upper = std::min(s.nyquist(), centre + s.binWidth / 2);
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}
} // namespace

int segmentLengthFor(int samples)
{
    if (samples < kMinSegmentLength)
        return 0;
    int length = largestPowerOfTwoAtMost(samples);
    while (length > kMinSegmentLength && segmentCount(samples, length) < kMinSegments)
        length /= 2;
    return length;
}

Spectrum welch(const double* samples, int count, double sampleRate, RealFft& fft, int segmentLength)
{
    Spectrum s;
    if (!samples || count < kMinSegmentLength || !(sampleRate > 0) || !std::isfinite(sampleRate))
        return s;
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(samples[i]))
            return s;
    const int n = segmentLength > 0 ? largestPowerOfTwoAtMost(std::min(segmentLength, count))
                                    : segmentLengthFor(count);
    if (n < kMinSegmentLength)
        return s;
    double* in = fft.input(n);
    if (!in)
        return s;

    // The window's power, for the density's scale.
    const std::vector<double>& window = fft.hann(n);
    double windowPower = 0.0;
    for (double w : window)
        windowPower += w * w;

    const int bins = n / 2 + 1;
    const int segments = segmentCount(count, n);
    std::vector<double> power(std::size_t(bins), 0.0);
    for (int seg = 0; seg < segments; ++seg) {
        const double* x = samples + std::ptrdiff_t(seg) * (n / 2);
        double mean = 0.0;
        for (int i = 0; i < n; ++i)
            mean += x[i];
        mean /= n;
        for (int i = 0; i < n; ++i)
            in[i] = (x[i] - mean) * window[std::size_t(i)];
        const double* out = fft.transform(n);
        for (int k = 0; k < bins; ++k)
            power[std::size_t(k)] += out[2 * k] * out[2 * k] + out[2 * k + 1] * out[2 * k + 1];
    }

    // One-sided density: twice the two-sided one, also at 0 Hz and Nyquist,
    // where the bins are half as wide, so that density times width adds up
    // to the variance everywhere.
    s.sampleRate = sampleRate;
    s.segmentLength = n;
    s.segments = segments;
    s.binWidth = sampleRate / n;
    const double scale = 2.0 / (sampleRate * windowPower * segments);
    s.frequency.resize(std::size_t(bins));
    s.density.resize(std::size_t(bins));
    s.cumulativeRms.resize(std::size_t(bins));
    double sum = 0.0;
    for (int k = 0; k < bins; ++k) {
        const std::size_t i = std::size_t(k);
        s.frequency[i] = k * s.binWidth;
        s.density[i] = power[i] * scale;
        const bool edge = k == 0 || k == bins - 1;
        sum += s.density[i] * s.binWidth * (edge ? 0.5 : 1.0);
        s.cumulativeRms[i] = std::sqrt(sum);
    }
    return s;
}

Spectrum welchOfField(const zevo::DisplayRecord* records, int count, int field, double factor,
                      double sampleRate, RealFft& fft)
{
    if (!records || count <= 0 || field < 0 ||
        field >= int(sizeof(zevo::DisplayRecord::value) / sizeof(double)))
        return {};
    std::vector<double> values(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        values[std::size_t(i)] = records[i].value[field] * factor;
    return welch(values.data(), count, sampleRate, fft);
}

double bandRms(const Spectrum& spectrum, double low, double high)
{
    if (!spectrum.valid())
        return 0.0;
    high = std::min(high, spectrum.nyquist());
    low = std::max(low, 0.0);
    double variance = 0.0;
    for (std::size_t k = 0; k < spectrum.density.size(); ++k) {
        double lower = 0.0, upper = 0.0;
        binSpan(spectrum, k, &lower, &upper);
        const double inside = std::min(upper, high) - std::max(lower, low);
        if (inside > 0)
            variance += spectrum.density[k] * inside;
    }
    return std::sqrt(variance);
}

std::vector<double> bandRms(const Spectrum& spectrum, const std::vector<double>& edges)
{
    std::vector<double> out;
    for (std::size_t b = 0; b < edges.size(); ++b) {
        const double high =
            b + 1 < edges.size() ? edges[b + 1] : std::numeric_limits<double>::infinity();
        out.push_back(bandRms(spectrum, edges[b], high));
    }
    return out;
}

std::vector<Line> strongestLines(const Spectrum& spectrum, int maxLines)
{
    std::vector<Line> lines;
    const std::vector<double>& d = spectrum.density;
    const int bins = int(d.size());
    if (bins < 3 || maxLines <= 0)
        return lines;

    // The density around each bin: the median of its block of bins (0 Hz
    // holds only what is left of the removed mean and is left out).
    std::vector<double> background(std::size_t((bins + kBackgroundBins - 1) / kBackgroundBins));
    for (std::size_t b = 0; b < background.size(); ++b) {
        const int from = std::max(1, int(b) * kBackgroundBins);
        const int to = std::min(bins, (int(b) + 1) * kBackgroundBins);
        background[b] =
            median(std::vector<double>(d.begin() + from, d.begin() + std::max(from, to)));
    }

    // Maxima that stand out of their surroundings.
    std::vector<int> peaks;
    for (int k = 1; k < bins; ++k) {
        const bool above = d[std::size_t(k)] > d[std::size_t(k - 1)];
        const bool notBelow = k + 1 >= bins || d[std::size_t(k)] >= d[std::size_t(k + 1)];
        if (above && notBelow &&
            d[std::size_t(k)] > kLineProminence * background[std::size_t(k / kBackgroundBins)])
            peaks.push_back(k);
    }

    // Maxima within kMergeBins of each other are one line; each line takes
    // the bins its window spreads it into, up to half-way to the next line.
    std::size_t first = 0;
    std::vector<std::pair<int, int>> groups; // first and last peak bin
    for (std::size_t i = 1; i <= peaks.size(); ++i) {
        if (i == peaks.size() || peaks[i] - peaks[i - 1] >= kMergeBins) {
            if (!peaks.empty())
                groups.emplace_back(peaks[first], peaks[i - 1]);
            first = i;
        }
    }
    for (std::size_t g = 0; g < groups.size(); ++g) {
        int from = std::max(1, groups[g].first - kLineHalfWidth);
        int to = std::min(bins - 1, groups[g].second + kLineHalfWidth);
        if (g > 0)
            from = std::max(from, (groups[g - 1].second + groups[g].first) / 2 + 1);
        if (g + 1 < groups.size())
            to = std::min(to, (groups[g].second + groups[g + 1].first) / 2);
        double variance = 0.0, moment = 0.0;
        for (int k = from; k <= to; ++k) {
            const double part = d[std::size_t(k)] * spectrum.binWidth * (k == bins - 1 ? 0.5 : 1.0);
            variance += part;
            moment += part * spectrum.frequency[std::size_t(k)];
        }
        if (variance > 0)
            lines.push_back({moment / variance, std::sqrt(variance)});
    }

    std::sort(lines.begin(), lines.end(),
              [](const Line& a, const Line& b) { return a.rms > b.rms; });
    if (int(lines.size()) > maxLines)
        lines.resize(std::size_t(maxLines));
    return lines;
}

} // namespace stability
