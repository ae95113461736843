#pragma once

// A measurement's columns as a plain CSV file for a spreadsheet: the header
// block of the program's other CSV files (system, time and date, host,
// comment), one line naming the columns, then one line per row; fields
// separated by commas, numbers as %g with 6 significant digits whatever the
// locale, every line ending in CR LF.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

namespace tablecsv
{

struct Column {
    QString name; // with its unit, "Output voltage [V]"
    const std::vector<double>* values = nullptr;
};

// The whole file. Rows run to the end of the shortest column.
QByteArray table(const QString& comment, const QDateTime& now, const QString& hostName,
                 const std::vector<Column>& columns);

// Writes `bytes` to `path`, replacing the file only once all of them are
// written; false (and `error` a sentence for the operator) otherwise.
bool write(const QString& path, const QByteArray& bytes, QString* error = nullptr);

} // namespace tablecsv
