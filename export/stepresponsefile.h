#pragma once

// One step-response run and the two files it can be saved as: a NeXus file
// with the samples, the evaluation and the settings of the stepped loop, and
// a plain CSV file of the samples (time, stimulus, response).
//
//   /entry/data   NXdata @signal="response" @auxiliary_signals=["stimulus"]
//                 @axes=["time"]
//       time      float64[n] s
//       stimulus  float64[n] V   the stepped DAC output
//       response  float64[n]     as recorded: raw position units, or A for I0
//   /entry/instrument
//       step      NXcollection: axis, BPM, rate, the biases and steps
//       pid_x     NXcollection: the PID parameters of the stepped loop
//       results   NXcollection: du, dc, K, dead time, settle time, inverted

#include "analysis/stepresponse.h"
#include "device/pidloopsettings.h"
#include "export/nexusentry.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <vector>

struct StepResponseRun {
    int axis = 0;      // 0 X, 1 Y, 2 I0
    bool bpm2 = false; // the response of BPM 2 rather than BPM 1
    double sampleRate = 50000.0;
    std::array<double, 3> bias{{0.0, 0.0, 0.0}}; // volts, X, Y, I0
    std::array<double, 3> step{{0.0, 0.0, 0.0}};
    int stimulusOutput = 0; // the stepped DAC output (0 = output 1)
    QDateTime started, ended;
    // The samples as recorded, oldest first; the window shows the response
    // negated when it found it inverted.
    std::vector<double> stimulus, response;
    StepResponse evaluation;
    nexus::Settings settings; // in force during the run

    // The stored parameters of the stepped loop.
    PidLoopSettings pid;
};

namespace stepresponsefile
{

QString title(const StepResponseRun& run);

bool writeNexus(const QString& path, const StepResponseRun& run, QString* error = nullptr);

QByteArray csv(const StepResponseRun& run, const QDateTime& now, const QString& hostName);
bool writeCsv(const QString& path, const StepResponseRun& run, const QDateTime& now,
              const QString& hostName, QString* error = nullptr);

} // namespace stepresponsefile
