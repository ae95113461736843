#pragma once

// The beam stability figures of one signal, widget-free: its power spectral
// density by Welch's method, the RMS integrated over frequency, the RMS in
// frequency bands and the strongest spectral lines.
//
// The density is one-sided and scaled so that its integral over frequency
// is the variance of the signal (its mean removed): units²/Hz, µm²/Hz for a
// position. Each segment has its mean removed and a Hann window applied;
// segments overlap by half. Bin k stands for the frequencies within half a
// bin of k * binWidth (the first and last bin only for the half inside 0 ..
// Nyquist), so that integrating means adding density times the width of
// each bin inside the range, splitting the bins an edge cuts through.

#include <limits>
#include <vector>

class RealFft;

namespace zevo
{
struct DisplayRecord;
}

namespace stability
{

struct Spectrum {
    double sampleRate = 0.0;       // samples per second
    int segmentLength = 0;         // samples per segment, a power of two
    int segments = 0;              // averaged
    double binWidth = 0.0;         // Hz
    std::vector<double> frequency; // Hz, bins 0 .. segmentLength / 2
    std::vector<double> density;   // units² / Hz
    // RMS of everything up to the upper edge of each bin, units.
    std::vector<double> cumulativeRms;

    bool valid() const { return !density.empty(); }
    double nyquist() const { return sampleRate / 2.0; }
    // RMS over the whole spectrum: the standard deviation of the samples
    // (the segments' means removed). 0 for an empty spectrum.
    double totalRms() const { return cumulativeRms.empty() ? 0.0 : cumulativeRms.back(); }
};

// The segment length Welch's method uses for `samples` samples: the longest
// power of two that still gives six half-overlapping segments to average,
// at least 16 samples; 0 when there are fewer than 16 samples.
int segmentLengthFor(int samples);

// The spectrum of `count` samples taken `sampleRate` times a second. A
// segmentLength of 0 chooses segmentLengthFor(count); a given one is cut to
// the largest power of two not above count. Empty (not valid) for fewer
// than 16 samples, a rate that is not positive, or a non-finite sample.
Spectrum welch(const double* samples, int count, double sampleRate, RealFft& fft,
               int segmentLength = 0);

// welch() of one value of `count` display records (oldest first), each
// multiplied by `factor`: a BPM position in micrometres with its scale factor.
Spectrum welchOfField(const zevo::DisplayRecord* records, int count, int field, double factor,
                      double sampleRate, RealFft& fft);

// RMS between `low` and `high` Hz (high is cut to Nyquist; an infinite high
// means up to Nyquist); 0 for an empty range.
double bandRms(const Spectrum& spectrum, double low, double high);

// RMS of each band between successive edges, the last band running from the
// last edge to Nyquist: n edges give n bands. Each frequency belongs to one
// band only.
std::vector<double> bandRms(const Spectrum& spectrum, const std::vector<double>& edges);

struct Line {
    double frequency = 0.0; // Hz, the density-weighted centre of the line
    double rms = 0.0;       // units
};

// The strongest spectral lines, strongest first, at most `maxLines`: local
// maxima of the density that stand well above the density around them,
// each with the RMS of the two bins on either side it spreads into under
// the Hann window. Maxima closer than three bins are one line.
std::vector<Line> strongestLines(const Spectrum& spectrum, int maxLines = 10);

} // namespace stability
