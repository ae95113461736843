#pragma once

#include <QString>

#include <array>
#include <functional>
#include <vector>

// One step-response run on the controller, for the step-response window.
//
// A run holds the three actuator outputs at their biases, steps the chosen
// one (X, Y or I0) for 100 ms, returns to the bias, then reads the display
// buffer recorded at 50 000 records per second: the chosen BPM's response and
// the stepped output as the controller saw it. Both nodes are opened before
// anything on the controller changes; the feedback is switched off for the
// run when it was on. Whatever ends the run, the display node is closed, the
// outputs go back to the controller and the DAC node is closed, then the
// feedback and the display rate are restored, before run() returns.
class StepResponseProcedure
{
public:
    static constexpr int kRunSampleRate = 50000; // display records per second during a run
    static constexpr int kSamples = 14335;       // records 0 .. 14334 of the buffer are evaluated
    static constexpr int kBiasWaitMs = 100;
    static constexpr int kStepWaitMs = 100;
    static constexpr int kSettleWaitMs = 120;

    // Pauses the run between its output steps.
    using WaitFunction = std::function<void(int milliseconds)>;

    // What the operator asked for.
    struct Settings {
        int axis = 0;                                // the stepped axis: 0 X, 1 Y, 2 I0
        bool bpm2 = false;                           // the response of BPM 2 rather than BPM 1
        std::array<double, 3> bias{{0.0, 0.0, 0.0}}; // volts, X, Y, I0
        std::array<double, 3> step{{0.0, 0.0, 0.0}};
    };

    // How a run ended and what the operator is told.
    struct Run {
        enum Outcome { Measured, Refused, Failed, DisplayMissing } outcome = Failed;
        // The message box title; empty for the window's own.
        QString title;
        // Why the run was refused or stopped, followed by what the controller
        // did not take back. A measured run has a text only for the latter.
        QString text;
        double bias = 0.0; // volts, of the stepped axis
        double step = 0.0;
        // The kSamples records read: the chosen BPM's field for the stepped
        // axis, and the stepped DAC output.
        std::vector<double> response;
        std::vector<double> stimulus;
    };

    // The default wait sleeps.
    StepResponseProcedure();

    void setWaitFunction(WaitFunction wait);

    Run run(const Settings& settings) const;

private:
    // The run up to the read of the display buffer; what the controller did
    // not take back afterwards is described in `notGivenBack`.
    Run measure(const Settings& settings, QString& notGivenBack) const;

    WaitFunction m_wait;
};
