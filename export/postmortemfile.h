#pragma once

// One trip of the feedback as a NeXus file: the display records around the
// event, with the event at time 0, and what the controller held when it
// tripped.
//
//   /entry                NXentry  title "Post-mortem: <cause>"
//       event_time        ISO 8601, when the trip was detected
//       cause             "FAULT: Out of ROC", "Beam OFF" or "Capture now"
//       location          "BPM1 X" ... where a limit was crossed, or empty
//   /entry/data           NXdata @signal="bpm1_pos_x" @axes=["time"]
//                         @auxiliary_signals = every other column
//       time              float64[n] s, 0 at the event
//       segment           float64[n] 1, or 2 for the second read when the
//                         two reads did not overlap
//       bpm1_pos_x ...    the columns of the data saving (um, A, V, counts)
//   /entry/instrument
//       postmortem        NXcollection: PID status before and after, rate,
//                         the two reads and how they were joined, where the
//                         event was found, regulation mode and setpoints
//       statistics        NXcollection: the controller's statistics of both
//                         BPMs at the trip (um, A)
//       roc               NXcollection: the regions of control in force
//                         (um), their enables, the beam-off thresholds (A)
//
// The file names sort by time: postmortem_20261207T163512.250Z.nxs.

#include "export/nexusentry.h"

#include "device/protocol.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>

struct PostMortemRecord {
    QDateTime eventTime; // detection, UTC
    QString cause;
    QString location;
    int statusBefore = zevo::PID_STATUS_ON;
    int statusAfter = zevo::PID_STATUS_ON;

    std::vector<zevo::DisplayRecord> records; // oldest first
    int eventIndex = 0;                       // the record at time 0
    bool eventFromData = false; // found where a limit was crossed (else: at detection)
    int secondSegment = -1;     // first record of the second read; -1 when joined
    int firstReadRecords = 0;
    int secondReadRecords = 0;
    int shift = -1; // records streamed between the reads; -1 when unknown
    int sampFreq = 1000;
    double postTriggerSeconds = 2.0;
    bool encoder = false;

    int regulationMode = 0;
    std::array<double, 3> setpoints{}; // X, Y (um), I0 (A)
    zevo::MailboxStatusBlock statistics{};
    std::array<bool, 6> rocEnabled{};      // per BPM: X, Y, beam off
    std::array<double, 4> rocLimitUm{};    // BPM1 X, Y, BPM2 X, Y
    std::array<double, 2> beamOffLimitA{}; // per BPM
    nexus::Settings settings;
};

// What the event list shows of a file, read back from it.
struct PostMortemSummary {
    QString path;
    QDateTime eventTime;
    QString cause;
    QString location;
    bool valid = false;
};

// The series of a file for the plot: time and the named fields of /entry/data.
struct PostMortemSeries {
    std::vector<double> time;
    std::vector<std::vector<double>> values; // in the order asked for
    std::array<double, 4> rocLimitUm{};
    bool valid = false;
};

namespace postmortemfile
{

QString fileName(const QDateTime& eventTime);

bool write(const QString& path, const PostMortemRecord& record, QString* error = nullptr);

PostMortemSummary readSummary(const QString& path);
PostMortemSeries readSeries(const QString& path, const QStringList& fields);

} // namespace postmortemfile
