#include "export/gridcsv.h"

#include "analysis/surfacegrid.h"

#include <QSaveFile>

namespace
{
// %g of the C locale: QString::asprintf formats numbers without the locale,
// so a decimal comma never splits a column.
QByteArray number(double v)
{
    return QString::asprintf("%g", v).toLatin1();
}
} // namespace

QByteArray gridCsv(const GridCsvScan& scan, const QDateTime& now, const QString& hostName)
{
    const QByteArray eol("\r\n");
    QByteArray out;
    out += "Quorvex ZEVO" + eol;
    out += "ZEVO" + eol;
    out += eol;
    out += "Time and Date: " + now.toString(QStringLiteral("hh:mm:ss dd.MM.yyyy")).toLatin1() + eol;
    out += "Host Name: " + hostName.toUtf8() + eol;
    out += "ch0,ch1,I0" + eol;
    if (!scan.raw)
        return out;

    using surfacegrid::kSteps;
    out.reserve(out.size() + surfacegrid::kPoints * 32);
    for (int i = 0; i < kSteps; ++i) {
        const QByteArray x = number(surfacegrid::stepVolts(scan.xMin, scan.xSpan, i)) + ',';
        for (int j = 0; j < kSteps; ++j) {
            out += x;
            out += number(surfacegrid::stepVolts(scan.yMin, scan.ySpan, j));
            out += ',';
            out += number(double(scan.raw[i * kSteps + j]));
            out += eol;
        }
    }
    return out;
}

bool writeGridCsv(const QString& path, const GridCsvScan& scan, const QDateTime& now,
                  const QString& hostName, QString* error)
{
    QSaveFile file(path);
    // A folder that allows writing the file but not a temporary beside it
    // still gets the file.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = gridCsv(scan, now, hostName);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}
