#pragma once

// The display samples of the save-data window as a NeXus file: the same
// ticked columns, values and relative times as the CSV block written from
// the same facts, one NXentry per save.
//
//   /entry/data   NXdata @signal = the first ticked column,
//                 @auxiliary_signals = the others, @axes = ["time"]
//       time          float64[n] s
//       bpm1_pos_x    float64[n] um  @long_name "BPM1 Pos X"   (and so on)
//   /entry/instrument/display  NXcollection: rate, samples, encoder flag
//
// Positions are in micrometres (raw values times the BPM scale factors),
// currents and intensities in amperes, DAC outputs in volts, encoder
// counts truncated toward zero as in the CSV. The entry's times span the
// saved samples: the newest record of the snapshot was taken at the moment
// of saving, the records before it one display period apart.

#include "export/displaycsv.h"
#include "export/nexusentry.h"

namespace displaynexus
{

// The field of a column in the file ("bpm1_pos_x", "encoder3").
QString fieldName(displaycsv::Column column, bool encoder);
// The units attribute of a column's field ("um", "A", "V", "counts").
QString units(displaycsv::Column column, bool encoder);

// Writes one save as an entry: Overwrite (or a missing file) makes a new
// file, Append adds the next entry to the existing one. The file at `path`
// changes only when everything was written; otherwise `error` is a sentence
// for the operator.
bool save(const QString& path, displaycsv::Mode mode, const displaycsv::Header& header,
          const displaycsv::Options& options, const zevo::DisplayRecord* records, int recordCount,
          const nexus::Settings& settings, QString* error = nullptr);

} // namespace displaynexus
