#pragma once

// The 3D rocking-curve grid as a NeXus file: the raw grid the CSV file holds
// (average total current of the first picoammeter, amperes) as a 64 x 64
// signal over the X and Y output voltages.
//
//   /entry/data   NXdata @signal="intensity" @axes=["v1","v2"]
//       intensity  float64[64][64] A   element [i][j] at X step i, Y step j
//       v1         float64[64]     V   X voltages (DAC output 1)
//       v2         float64[64]     V   Y voltages (DAC output 2)
//   /entry/instrument/scan  NXcollection: ranges and step time

#include "export/gridcsv.h"
#include "export/nexusentry.h"

// Writes `scan` to a new file at `path`; the file there changes only when
// everything was written, otherwise `error` is a sentence for the operator.
bool writeGridNexus(const QString& path, const GridCsvScan& scan, double stepTimeMs,
                    const nexus::Entry& entry, const nexus::Settings& settings,
                    QString* error = nullptr);
