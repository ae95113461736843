#pragma once

// The display-sample CSV file: a snapshot of display records written as
// text, one block per save. A block is the eight header lines, the column
// header line and one line per sample. Every line ends with CR LF on every
// platform, every field is followed by ", " (the last one too), doubles are
// printed like %g with six significant digits whatever the locale.
//
// Widget-free: the save-data window gathers the facts (records, ticked
// channels, time, host name, comment) and hands them over.

#include "device/globals.h"
#include "device/protocol.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>

class QIODevice;

namespace displaycsv
{

// The optional columns, in the order they stand in every line whatever the
// order of the check boxes on screen: picoammeter (or encoder) channels,
// then the BPMs, then the DAC outputs.
enum Column {
    Pico1Ch1,
    Pico1Ch2,
    Pico1Ch3,
    Pico1Ch4,
    Pico2Ch1,
    Pico2Ch2,
    Pico2Ch3,
    Pico2Ch4,
    Bpm1PosX,
    Bpm1PosY,
    Bpm1I0,
    Bpm2PosX,
    Bpm2PosY,
    Bpm2I0,
    Dac1,
    Dac2,
    Dac3,
    ColumnCount
};
using Selection = std::array<bool, ColumnCount>;

// The six BPM columns, as the window starts.
Selection defaultSelection();

// True for the eight picoammeter/encoder columns.
bool isPicoColumn(Column column);

// Name of a column in the column header line. With an encoder interface the
// eight picoammeter columns carry encoder counts and are named "Encoder 1"
// to "Encoder 8" in column order.
QString columnName(Column column, bool encoder);

// What goes into the header block.
struct Header {
    QDateTime time;
    QString hostName;
    QString comment; // as typed; inner line breaks stay single LF
};

struct Options {
    Selection columns{};
    int samples = 0;       // lines written, at most the records handed over
    int sampFreq = 1000;   // records per second, for the relative time
    BpmScaleFactors scale; // raw positions to micrometres
    bool encoder = false;  // picoammeter columns hold encoder counts (integers)
};

// A double like printf's %g with precision 6, independent of the locale
// (0.001, 12.3457, 1.23457e-07).
QByteArray formatDouble(double value);
// An encoder count: truncated toward zero, in plain decimal. Counts are
// whole numbers well inside 32 bits; a larger value is still written in
// full rather than wrapped, and a value that is no number at all (nan,
// inf) is written as such instead of as a made-up count.
QByteArray formatCount(double value);

// The relative time of sample i in seconds: i / sampFreq in single
// precision, as the plots compute it.
double sampleTime(int sample, int sampFreq);
// The value a column carries for one record: positions scaled to
// micrometres, everything else as recorded.
double columnValue(const zevo::DisplayRecord& record, Column column, const BpmScaleFactors& scale);

QByteArray headerBlock(const Header& header);
QByteArray columnHeaderLine(const Options& options);
QByteArray dataLine(int sample, const zevo::DisplayRecord& record, const Options& options);

// Streams one whole block to `out`. False as soon as a write is refused or
// comes up short (a full disk); the error says what failed.
bool writeBlock(QIODevice& out, const Header& header, const Options& options,
                const zevo::DisplayRecord* records, int recordCount, QString* error = nullptr);

enum class Mode { Append, Overwrite };

// Opens `path` (appending, which creates a missing file, or truncating),
// writes one block and closes it. False when the file cannot be opened or
// any byte of the block did not reach it, including a failed final flush or
// close; the error is a sentence for the operator.
bool saveBlock(const QString& path, Mode mode, const Header& header, const Options& options,
               const zevo::DisplayRecord* records, int recordCount, QString* error = nullptr);

} // namespace displaycsv
