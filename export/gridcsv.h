#pragma once

// The 3D rocking-curve grid as a CSV file: a header naming the system, the
// time and the host, the column line, then one line per grid point with its
// X and Y voltages and its average total current.

#include <QByteArray>
#include <QDateTime>
#include <QString>

struct GridCsvScan {
    // 64 x 64 average currents in amperes, element 64 i + j for X step i and
    // Y step j.
    const float* raw = nullptr;
    double xMin = 0.0, xSpan = 0.0; // volts
    double yMin = 0.0, ySpan = 0.0;
};

// The whole file, CR LF line ends, numbers as %g with 6 significant digits
// whatever the program's locale is.
QByteArray gridCsv(const GridCsvScan& scan, const QDateTime& now, const QString& hostName);

// Writes gridCsv() to `path`, replacing the file; false (and `error` says why)
// when the file could not be written completely. A failed write leaves an
// existing file as it was.
bool writeGridCsv(const QString& path, const GridCsvScan& scan, const QDateTime& now,
                  const QString& hostName, QString* error = nullptr);
