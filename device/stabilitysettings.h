#pragma once

// The [Stability] group: what the beam stability window judges the motion
// against. Beam sizes are RMS, in micrometres, 0 when unknown; a band whose
// RMS exceeds LimitPercent of the beam size is over the facility's limit.
// Bands holds the lower edges of the bands in hertz, the last band running
// up to the Nyquist frequency of the display.

#include <QString>

#include <vector>

struct StabilitySettings {
    double beamSizeX = 0.0;
    double beamSizeY = 0.0;
    double limitPercent = 10.0;
    std::vector<double> bandEdges = defaultBandEdges();

    // 0.1-1 Hz, 1-10 Hz, 10-100 Hz, 100 Hz to Nyquist.
    static std::vector<double> defaultBandEdges() { return {0.1, 1.0, 10.0, 100.0}; }

    // Band edges written as "0.1, 1, 10, 100": finite, positive, strictly
    // ascending, one to sixteen of them. False (and `edges` untouched)
    // otherwise.
    static bool parseBandEdges(const QString& text, std::vector<double>* edges);
    // The edges as parseBandEdges() reads them.
    static QString formatBandEdges(const std::vector<double>& edges);

    static constexpr int kMaxBands = 16;
};
