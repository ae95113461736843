#pragma once

// What the remote interface shows to the control system, taken in one piece
// on the GUI thread and copied by the server's request threads. Positions in
// micrometres, intensities in amperes, DAC outputs in volts: the units of the
// feedback panel.

#include <QString>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

struct RemoteSnapshot {
    struct Bpm {
        // False when the BPM is absent (one picoammeter, or an encoder
        // interface in its place).
        bool present = false;
        // False with an encoder interface, which measures no intensity.
        bool intensity = false;
        double x = NAN, xStdDev = NAN;
        double y = NAN, yStdDev = NAN;
        double i0 = NAN, i0StdDev = NAN;
    };

    // The mailbox node is open: there is a controller to ask.
    bool controllerPresent = false;
    std::array<Bpm, 2> bpm{};
    // PID_Status_Type, -1 before the first poll.
    int pidStatus = -1;
    // Regulation mode 0 to 6, -1 when unknown.
    int regulationMode = -1;
    // Setpoints as the controller holds them; false when they could not be read.
    bool setpointsKnown = false;
    double setpointX = NAN, setpointY = NAN, setpointI0 = NAN;
    // DAC outputs 1 to 3 from the newest display record; dacCount of them
    // are meaningful (none before the first display cycle, two with an
    // encoder interface).
    int dacCount = 0;
    std::array<double, 3> dac{{NAN, NAN, NAN}};
    // SFP slots A to D: device identifier (0 empty) and catalogue name.
    std::array<uint16_t, 4> slotIds{};
    std::array<QString, 4> slotNames{};
    QString hwTimestamp, swVersion, pidVersion;
    int userLevel = 0;
    bool controlAllowed = false;
    // Beam stability of the newest display buffer: the RMS of X at the BPM
    // that feeds the X loop and of Y at the one that feeds the Y loop, in
    // micrometres, per band of the [Stability] group (lower edges in hertz,
    // the last band up to the Nyquist frequency). Empty before the first
    // display cycle.
    std::vector<double> stabilityBandEdges;
    std::vector<double> stabilityBandRmsX, stabilityBandRmsY;
    // The last post-mortem capture ("2026-12-07T16:35:12.250Z FAULT: Out of
    // ROC", time in UTC; empty before the first) and the captures since start.
    QString postMortemLast;
    int postMortemCount = 0;
};
