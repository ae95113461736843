#pragma once

// One rocking-curve scan and the two files it can be saved as: a NeXus file
// and a plain CSV file of the same columns (output voltage, the currents of
// the two electrodes, their sum).
//
//   /entry/data   NXdata @signal="sum" @auxiliary_signals=["left","right"]
//                 (or "top","bottom") @axes=["voltage"]
//       voltage   float64[n] V
//       left      float64[n] A  @long_name "left (ch 1)"   ... sum likewise
//   /entry/instrument/scan  NXcollection: direction, range, points, outputs

#include "export/nexusentry.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

struct RockingCurve {
    bool scanX = true;     // "posX"; false: "posY"
    int firstChannel = 0;  // picoammeter channel (0-3) of the left or top electrode
    int secondChannel = 0; // of the right or bottom electrode
    double start = 0.0;    // volts, as set when the scan started
    double stop = 0.0;
    int points = 0;           // N asked for
    double pointTimeMs = 0.0; // Tpoint
    int scanOutput = 0;       // DAC output of the scanned direction (0 = output 1)
    int heldOutput = 0;       // of the held direction
    double heldVolts = 0.0;
    QDateTime started, ended;
    // One element per point taken, in the order taken.
    std::vector<double> volts, first, second;
    nexus::Settings settings; // in force during the scan
};

namespace rockingcurvefile
{

// The names of the three curves as the plot's legend shows them: "left
// (ch 1)", "right (ch 3)", "sum (left+right)" (top and bottom for posY).
QStringList curveNames(bool scanX, int firstChannel, int secondChannel);

QString title(const RockingCurve& curve);

bool writeNexus(const QString& path, const RockingCurve& curve, QString* error = nullptr);

QByteArray csv(const RockingCurve& curve, const QDateTime& now, const QString& hostName);
bool writeCsv(const QString& path, const RockingCurve& curve, const QDateTime& now,
              const QString& hostName, QString* error = nullptr);

} // namespace rockingcurvefile
