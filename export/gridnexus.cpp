#include "export/gridnexus.h"

#include "analysis/surfacegrid.h"
#include "export/nexusfile.h"

bool writeGridNexus(const QString& path, const GridCsvScan& scan, double stepTimeMs,
                    const nexus::Entry& entry, const nexus::Settings& settings, QString* error)
{
    using surfacegrid::kPoints;
    using surfacegrid::kSteps;

    NexusFile file(path);
    const QString entryPath = nexus::beginEntry(file, entry, settings);
    const QString data = entryPath + QStringLiteral("/data");
    nexus::beginData(file, entryPath, QStringLiteral("intensity"),
                     {QStringLiteral("v1"), QStringLiteral("v2")});

    std::vector<double> grid(std::size_t(kPoints), 0.0);
    if (scan.raw)
        for (int k = 0; k < kPoints; ++k)
            grid[std::size_t(k)] = double(scan.raw[k]);
    std::vector<double> v1(static_cast<std::size_t>(kSteps));
    std::vector<double> v2(static_cast<std::size_t>(kSteps));
    for (int i = 0; i < kSteps; ++i) {
        v1[std::size_t(i)] = surfacegrid::stepVolts(scan.xMin, scan.xSpan, i);
        v2[std::size_t(i)] = surfacegrid::stepVolts(scan.yMin, scan.ySpan, i);
    }
    file.grid(data + QStringLiteral("/intensity"), grid, kSteps, kSteps, QStringLiteral("A"),
              QStringLiteral("average total current of the first picoammeter"));
    file.values(data + QStringLiteral("/v1"), v1, QStringLiteral("V"),
                QStringLiteral("X output voltage (DAC output 1)"));
    file.values(data + QStringLiteral("/v2"), v2, QStringLiteral("V"),
                QStringLiteral("Y output voltage (DAC output 2)"));

    const QString s = nexus::collection(file, entryPath, QStringLiteral("scan"));
    const QString volts = QStringLiteral("V");
    file.number(s + QStringLiteral("/x_min"), scan.xMin, volts);
    file.number(s + QStringLiteral("/x_max"), scan.xMin + scan.xSpan, volts);
    file.number(s + QStringLiteral("/y_min"), scan.yMin, volts);
    file.number(s + QStringLiteral("/y_max"), scan.yMin + scan.ySpan, volts);
    file.integer(s + QStringLiteral("/steps"), kSteps, QStringLiteral("steps per axis"));
    file.number(s + QStringLiteral("/step_time"), stepTimeMs, QStringLiteral("ms"));

    if (file.commit())
        return true;
    if (error)
        *error = file.error();
    return false;
}
