#include "export/rockingcurvefile.h"

#include "export/nexusfile.h"
#include "export/tablecsv.h"

#include <algorithm>

namespace rockingcurvefile
{

namespace
{
// The sum curve, point by point.
std::vector<double> sumOf(const RockingCurve& c)
{
    std::vector<double> sum(std::min(c.first.size(), c.second.size()));
    for (std::size_t i = 0; i < sum.size(); ++i)
        sum[i] = c.first[i] + c.second[i];
    return sum;
}

// Field names of the two electrodes.
QStringList electrodes(bool scanX)
{
    return scanX ? QStringList{QStringLiteral("left"), QStringLiteral("right")}
                 : QStringList{QStringLiteral("top"), QStringLiteral("bottom")};
}
} // namespace

QStringList curveNames(bool scanX, int firstChannel, int secondChannel)
{
    const QStringList e = electrodes(scanX);
    return {QStringLiteral("%1 (ch %2)").arg(e[0]).arg(firstChannel + 1),
            QStringLiteral("%1 (ch %2)").arg(e[1]).arg(secondChannel + 1),
            QStringLiteral("sum (%1+%2)").arg(e[0], e[1])};
}

QString title(const RockingCurve& curve)
{
    return QStringLiteral("Rocking curve %1")
        .arg(curve.scanX ? QStringLiteral("posX") : QStringLiteral("posY"));
}

bool writeNexus(const QString& path, const RockingCurve& curve, QString* error)
{
    NexusFile file(path);
    const QString entryPath =
        nexus::beginEntry(file, {title(curve), curve.started, curve.ended}, curve.settings);
    const QString data = entryPath + QStringLiteral("/data");
    const QStringList e = electrodes(curve.scanX);
    const QStringList names = curveNames(curve.scanX, curve.firstChannel, curve.secondChannel);
    nexus::beginData(file, entryPath, QStringLiteral("sum"), {QStringLiteral("voltage")}, e);

    const QString amperes = QStringLiteral("A");
    file.values(data + QStringLiteral("/voltage"), curve.volts, QStringLiteral("V"),
                QStringLiteral("Output voltage"));
    file.values(data + QLatin1Char('/') + e[0], curve.first, amperes, names[0]);
    file.values(data + QLatin1Char('/') + e[1], curve.second, amperes, names[1]);
    file.values(data + QStringLiteral("/sum"), sumOf(curve), amperes, names[2]);

    const QString s = nexus::collection(file, entryPath, QStringLiteral("scan"));
    const QString volts = QStringLiteral("V");
    const QString output = QStringLiteral("DAC output (1 to 4)");
    file.text(s + QStringLiteral("/direction"),
              curve.scanX ? QStringLiteral("posX") : QStringLiteral("posY"));
    file.number(s + QStringLiteral("/start"), curve.start, volts);
    file.number(s + QStringLiteral("/stop"), curve.stop, volts);
    file.integer(s + QStringLiteral("/points"), curve.points, QStringLiteral("points asked for"));
    file.integer(s + QStringLiteral("/points_taken"), int64_t(curve.volts.size()));
    file.number(s + QStringLiteral("/point_time"), curve.pointTimeMs, QStringLiteral("ms"));
    file.integer(s + QStringLiteral("/scan_output"), curve.scanOutput + 1, output);
    file.integer(s + QStringLiteral("/held_output"), curve.heldOutput + 1, output);
    file.number(s + QStringLiteral("/held_voltage"), curve.heldVolts, volts);

    if (file.commit())
        return true;
    if (error)
        *error = file.error();
    return false;
}

QByteArray csv(const RockingCurve& curve, const QDateTime& now, const QString& hostName)
{
    const QStringList names = curveNames(curve.scanX, curve.firstChannel, curve.secondChannel);
    const std::vector<double> sum = sumOf(curve);
    return tablecsv::table(title(curve), now, hostName,
                           {{QStringLiteral("Output voltage [V]"), &curve.volts},
                            {names[0] + QStringLiteral(" [A]"), &curve.first},
                            {names[1] + QStringLiteral(" [A]"), &curve.second},
                            {names[2] + QStringLiteral(" [A]"), &sum}});
}

bool writeCsv(const QString& path, const RockingCurve& curve, const QDateTime& now,
              const QString& hostName, QString* error)
{
    return tablecsv::write(path, csv(curve, now, hostName), error);
}

} // namespace rockingcurvefile
