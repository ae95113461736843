#include "export/stabilityfile.h"

#include "export/nexusfile.h"
#include "export/tablecsv.h"

namespace stabilityfile
{

namespace
{
const QString kDensityUnits = QStringLiteral("um2/Hz");
const QString kMicrometres = QStringLiteral("um");

// The reference is written only when it has the live spectrum's bins.
bool hasReference(const StabilityRecord& r)
{
    return r.referenceX.valid() && r.referenceY.valid() &&
           r.referenceX.frequency == r.x.frequency && r.referenceY.frequency == r.y.frequency;
}

void writeLines(NexusFile& file, const QString& entryPath, const QString& name,
                const std::vector<stability::Line>& lines)
{
    std::vector<double> hz, rms;
    for (const stability::Line& line : lines) {
        hz.push_back(line.frequency);
        rms.push_back(line.rms);
    }
    const QString c = nexus::collection(file, entryPath, name);
    file.values(c + QStringLiteral("/frequency"), hz, QStringLiteral("Hz"));
    file.values(c + QStringLiteral("/rms"), rms, kMicrometres);
}
} // namespace

QString title(const StabilityRecord& record)
{
    return QStringLiteral("Beam stability at BPM%1").arg(record.bpm + 1);
}

bool writeNexus(const QString& path, const StabilityRecord& r, QString* error)
{
    NexusFile file(path);
    const QString entryPath = nexus::beginEntry(file, {title(r), r.taken, r.taken}, r.settings);
    const QString data = entryPath + QStringLiteral("/data");
    const bool reference = hasReference(r);
    QStringList auxiliary{QStringLiteral("psd_y")};
    if (reference)
        auxiliary << QStringLiteral("reference_psd_x") << QStringLiteral("reference_psd_y");
    nexus::beginData(file, entryPath, QStringLiteral("psd_x"), {QStringLiteral("frequency")},
                     auxiliary);
    file.values(data + QStringLiteral("/frequency"), r.x.frequency, QStringLiteral("Hz"),
                QStringLiteral("frequency"));
    file.values(data + QStringLiteral("/psd_x"), r.x.density, kDensityUnits,
                QStringLiteral("power spectral density of X"));
    file.values(data + QStringLiteral("/psd_y"), r.y.density, kDensityUnits,
                QStringLiteral("power spectral density of Y"));
    if (reference) {
        file.values(data + QStringLiteral("/reference_psd_x"), r.referenceX.density, kDensityUnits,
                    QStringLiteral("reference power spectral density of X"));
        file.values(data + QStringLiteral("/reference_psd_y"), r.referenceY.density, kDensityUnits,
                    QStringLiteral("reference power spectral density of Y"));
    }
    file.values(data + QStringLiteral("/integrated_rms_x"), r.x.cumulativeRms, kMicrometres,
                QStringLiteral("integrated RMS of X"));
    file.values(data + QStringLiteral("/integrated_rms_y"), r.y.cumulativeRms, kMicrometres,
                QStringLiteral("integrated RMS of Y"));

    const QString s = nexus::collection(file, entryPath, QStringLiteral("stability"));
    file.integer(s + QStringLiteral("/bpm"), r.bpm + 1, QStringLiteral("BPM (1 or 2)"));
    file.number(s + QStringLiteral("/sample_rate"), r.x.sampleRate, QStringLiteral("Hz"));
    file.integer(s + QStringLiteral("/segment_length"), r.x.segmentLength,
                 QStringLiteral("records per segment (Hann window, half overlapping)"));
    file.integer(s + QStringLiteral("/segments"), r.x.segments);
    file.values(s + QStringLiteral("/band_edges"), r.bandEdges, QStringLiteral("Hz"),
                QStringLiteral("lower band edges; the last band runs to Nyquist"));
    file.values(s + QStringLiteral("/band_rms_x"), r.bandsX, kMicrometres);
    file.values(s + QStringLiteral("/band_rms_y"), r.bandsY, kMicrometres);
    file.values(s + QStringLiteral("/band_rms_i0"), r.bandsI0, QString(),
                QStringLiteral("RMS of I0 relative to its mean"));
    file.number(s + QStringLiteral("/total_rms_x"), r.x.totalRms(), kMicrometres);
    file.number(s + QStringLiteral("/total_rms_y"), r.y.totalRms(), kMicrometres);
    if (reference) {
        file.values(s + QStringLiteral("/reference_band_rms_x"), r.referenceBandsX, kMicrometres);
        file.values(s + QStringLiteral("/reference_band_rms_y"), r.referenceBandsY, kMicrometres);
    }
    file.number(s + QStringLiteral("/beam_size_x"), r.beamSizeX, kMicrometres,
                QStringLiteral("RMS beam size, 0 unknown"));
    file.number(s + QStringLiteral("/beam_size_y"), r.beamSizeY, kMicrometres,
                QStringLiteral("RMS beam size, 0 unknown"));
    file.number(s + QStringLiteral("/limit"), r.limitPercent, QStringLiteral("%"),
                QStringLiteral("band RMS allowed, of the beam size"));
    writeLines(file, entryPath, QStringLiteral("lines_x"), r.linesX);
    writeLines(file, entryPath, QStringLiteral("lines_y"), r.linesY);

    if (file.commit())
        return true;
    if (error)
        *error = file.error();
    return false;
}

QByteArray csv(const StabilityRecord& r, const QDateTime& now, const QString& hostName)
{
    std::vector<tablecsv::Column> columns{
        {QStringLiteral("frequency [Hz]"), &r.x.frequency},
        {QStringLiteral("PSD X [um2/Hz]"), &r.x.density},
        {QStringLiteral("PSD Y [um2/Hz]"), &r.y.density},
        {QStringLiteral("integrated RMS X [um]"), &r.x.cumulativeRms},
        {QStringLiteral("integrated RMS Y [um]"), &r.y.cumulativeRms}};
    if (hasReference(r)) {
        columns.push_back({QStringLiteral("reference PSD X [um2/Hz]"), &r.referenceX.density});
        columns.push_back({QStringLiteral("reference PSD Y [um2/Hz]"), &r.referenceY.density});
    }
    return tablecsv::table(title(r), now, hostName, columns);
}

bool writeCsv(const QString& path, const StabilityRecord& record, const QDateTime& now,
              const QString& hostName, QString* error)
{
    return tablecsv::write(path, csv(record, now, hostName), error);
}

} // namespace stabilityfile
