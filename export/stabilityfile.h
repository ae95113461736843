#pragma once

// The beam stability of one display buffer and the two files it can be
// saved as: a NeXus file with the densities on a frequency axis, and a plain
// CSV file of the same columns.
//
//   /entry/data    NXdata @signal="psd_x" @auxiliary_signals=["psd_y", ...]
//                  @axes=["frequency"]
//       frequency          float64[n] Hz
//       psd_x, psd_y       float64[n] um2/Hz
//       reference_psd_x/y  float64[n] um2/Hz   (when a reference is held)
//       integrated_rms_x/y float64[n] um       (not plotted: other units)
//   /entry/instrument
//       stability  NXcollection: BPM, rate, segments, band edges, band RMS of
//                  X, Y and I0 (and of the reference), beam sizes, limit
//       lines_x, lines_y  NXcollection: frequency and RMS of the lines

#include "analysis/stabilityanalysis.h"
#include "export/nexusentry.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

struct StabilityRecord {
    int bpm = 0; // 0 = BPM 1
    QDateTime taken;
    std::vector<double> bandEdges; // Hz; the last band runs to Nyquist
    double beamSizeX = 0.0;        // um RMS, 0 unknown
    double beamSizeY = 0.0;
    double limitPercent = 0.0;
    stability::Spectrum x, y; // um
    stability::Spectrum i0;   // relative to the mean intensity
    std::vector<double> bandsX, bandsY, bandsI0;
    std::vector<stability::Line> linesX, linesY;
    // The held reference; not valid when there is none.
    stability::Spectrum referenceX, referenceY;
    std::vector<double> referenceBandsX, referenceBandsY;
    nexus::Settings settings;
};

namespace stabilityfile
{

QString title(const StabilityRecord& record);

bool writeNexus(const QString& path, const StabilityRecord& record, QString* error = nullptr);

QByteArray csv(const StabilityRecord& record, const QDateTime& now, const QString& hostName);
bool writeCsv(const QString& path, const StabilityRecord& record, const QDateTime& now,
              const QString& hostName, QString* error = nullptr);

} // namespace stabilityfile
