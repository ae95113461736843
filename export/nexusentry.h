#pragma once

// What every NeXus file of the program holds beside its data: the root's
// attributes, one NXentry per measurement with its title, times, program and
// controller versions, and the settings that produced the data in
// NXcollection groups of the entry's NXinstrument. Each measurement's writer
// adds its NXdata group and its own collections.
//
//   /                      NXroot  @default="entry" @file_name @file_time @creator
//   /entry                 NXentry @default="data"
//       title, start_time, end_time, program_name (@version)
//   /entry/data            NXdata  @signal @axes @<axis>_indices [@auxiliary_signals]
//   /entry/instrument      NXinstrument
//       controller         NXcollection: host and controller versions
//       bpm1, bpm2         NXcollection: scale factors and electrode channels
//       dac_assignment     NXcollection: the DAC output of each loop
//       pid_sources        NXcollection: the BPM that feeds each loop

#include "device/globals.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>

class NexusFile;

namespace nexus
{

// The program's name in every file.
extern const QString kProgramName;

// One measurement: the operator's comment or what was measured, and when.
struct Entry {
    QString title;
    QDateTime start;
    QDateTime end;
};

// The settings in force when the data were taken.
struct Settings {
    QString hostName;
    QString programVersion;
    ControllerVersions controller;
    BpmScaleFactors scale;
    // Per BPM the picoammeter channel of the top, right, bottom and left
    // electrode, as stored (0 = channel 1).
    std::array<std::array<int, 4>, 2> channels{{{0, 1, 2, 3}, {0, 1, 2, 3}}};
    // The DAC output driving X, Y and I0, as stored (0 = output 1).
    std::array<int, 3> dacs{{0, 1, 2}};
    // The BPM feeding the X, Y and I0 loops (0 = BPM 1).
    std::array<int, 3> pidSources{{0, 0, 0}};
};

// The settings as the program holds them now: the process-wide values and
// the configuration file (defaults where there is none).
Settings currentSettings(const QString& hostName, const QString& programVersion);

// ISO 8601 with milliseconds and the time's own UTC offset, as NeXus
// readers expect (2026-12-06T15:42:07.250+01:00).
QString isoTime(const QDateTime& time);

// Adds the next entry ("entry", then "entry2", ...) with everything above
// but the data, and returns its path ("/entry2"). The first entry of a file
// also writes the root's attributes; a later one only marks the file as
// updated and leaves the root's default plot where it was.
QString beginEntry(NexusFile& file, const Entry& entry, const Settings& settings);

// The entry's NXdata group "data" and the attributes that lead a viewer to
// its plot: `signal` is plotted against `axes` (one per dimension of the
// signal, axis k for dimension k); `auxiliary` signals have the signal's
// shape. The fields themselves are the caller's.
bool beginData(NexusFile& file, const QString& entryPath, const QString& signal,
               const QStringList& axes, const QStringList& auxiliary = QStringList());

// An NXcollection group named `name` under the entry's instrument; returns
// its path.
QString collection(NexusFile& file, const QString& entryPath, const QString& name);

} // namespace nexus
