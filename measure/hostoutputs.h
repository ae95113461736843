#pragma once

#include "device/protocol.h"

#include <QString>

#include <array>

// The host's hold on the DAC outputs for one measurement.
//
// open() opens the DAC node (and, for scans that read currents, the first
// picoammeter node) before anything on the controller is touched, so that a
// missing node ends the measurement with a message instead of half-way.
// takeOutputs() has the host drive the outputs; from then on, whatever ends
// the measurement (its last point, a stop, a closed window, an early return)
// hands the outputs back to the controller when this object goes away, and
// closes the nodes. A hand-back that fails after the outputs were handed
// over is reported there, in a message box: the operator must know that the
// feedback has no outputs.
class HostOutputs
{
public:
    enum Nodes { DacOnly, DacAndPicoammeter };

    explicit HostOutputs(Nodes nodes);
    ~HostOutputs();
    HostOutputs(const HostOutputs&) = delete;
    HostOutputs& operator=(const HostOutputs&) = delete;

    // Opens the nodes; false with error() naming the node that failed.
    bool open();
    QString error() const { return m_error; }

    // setOutputsFromController(false): the host drives the outputs. Returns
    // the request's result (negative: the controller may still drive them);
    // the outputs are handed back at the end either way.
    int takeOutputs();

    // Sends one output set (volts for outputs 1 to 4, enable word 1).
    int setOutputs(const std::array<double, 4>& volts);
    // The first picoammeter's latest currents; `out` is unchanged on failure.
    int readCurrents(zevo::PicoCurrentsRecord& out);

    // DAC output numbers (0 = output 1) that exist on the module; anything
    // else read from the configuration must not index the output set.
    static bool isOutput(int output) { return output >= 0 && output < 4; }
    // Text for a refused assignment, naming the configuration key.
    static QString badAssignmentText(const QString& key, int value);

private:
    const Nodes m_nodes;
    int m_dacFd = -1;
    int m_picoFd = -1;
    bool m_taken = false;
    bool m_hostHolds = false; // the controller handed the outputs over
    QString m_error;
};
