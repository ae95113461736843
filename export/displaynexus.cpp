#include "export/displaynexus.h"

#include "export/nexusfile.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace displaynexus
{

QString fieldName(displaycsv::Column column, bool encoder)
{
    using namespace displaycsv;
    if (isPicoColumn(column)) {
        const int n = column - Pico1Ch1; // 0..7
        if (encoder)
            return QStringLiteral("encoder%1").arg(n + 1);
        return QStringLiteral("dorvish%1_ch%2").arg(n / 4 + 1).arg(n % 4 + 1);
    }
    switch (column) {
    case Bpm1PosX:
        return QStringLiteral("bpm1_pos_x");
    case Bpm1PosY:
        return QStringLiteral("bpm1_pos_y");
    case Bpm1I0:
        return QStringLiteral("bpm1_i0");
    case Bpm2PosX:
        return QStringLiteral("bpm2_pos_x");
    case Bpm2PosY:
        return QStringLiteral("bpm2_pos_y");
    case Bpm2I0:
        return QStringLiteral("bpm2_i0");
    case Dac1:
        return QStringLiteral("ostrel_ch1");
    case Dac2:
        return QStringLiteral("ostrel_ch2");
    case Dac3:
        return QStringLiteral("ostrel_ch3");
    default:
        return QString();
    }
}

QString units(displaycsv::Column column, bool encoder)
{
    using namespace displaycsv;
    if (isPicoColumn(column))
        return encoder ? QStringLiteral("counts") : QStringLiteral("A");
    switch (column) {
    case Bpm1PosX:
    case Bpm1PosY:
    case Bpm2PosX:
    case Bpm2PosY:
        return QStringLiteral("um");
    case Dac1:
    case Dac2:
    case Dac3:
        return QStringLiteral("V");
    default:
        return QStringLiteral("A");
    }
}

namespace
{
QDateTime recordTime(const QDateTime& newest, int recordsBefore, int sampFreq)
{
    if (sampFreq <= 0)
        return newest;
    return newest.addMSecs(-std::llround(1000.0 * recordsBefore / sampFreq));
}
} // namespace

bool save(const QString& path, displaycsv::Mode mode, const displaycsv::Header& header,
          const displaycsv::Options& options, const zevo::DisplayRecord* records, int recordCount,
          const nexus::Settings& settings, QString* error)
{
    using namespace displaycsv;
    // As many samples as the CSV block holds.
    const int samples = records ? std::max(0, std::min(options.samples, recordCount)) : 0;

    // Append, as for the CSV file, creates a file that is not there yet.
    const bool append = mode == Mode::Append && QFileInfo::exists(path);
    NexusFile file(path, append ? NexusFile::Mode::Append : NexusFile::Mode::Create);

    nexus::Entry entry;
    entry.title = header.comment;
    entry.start = recordTime(header.time, std::max(0, recordCount - 1), options.sampFreq);
    entry.end = recordTime(header.time, std::max(0, recordCount - samples), options.sampFreq);
    const QString entryPath = nexus::beginEntry(file, entry, settings);

    QStringList signalNames;
    for (int c = 0; c < ColumnCount; ++c)
        if (options.columns[c])
            signalNames << fieldName(Column(c), options.encoder);
    const QString data = entryPath + QStringLiteral("/data");
    if (signalNames.isEmpty()) {
        // Nothing ticked: the CSV holds only the times, and so does the plot.
        nexus::beginData(file, entryPath, QStringLiteral("time"), QStringList());
    } else {
        const QString signal = signalNames.takeFirst();
        nexus::beginData(file, entryPath, signal, {QStringLiteral("time")}, signalNames);
    }

    std::vector<double> values(std::size_t(samples), 0.0);
    for (int i = 0; i < samples; ++i)
        values[std::size_t(i)] = sampleTime(i, options.sampFreq);
    file.values(data + QStringLiteral("/time"), values, QStringLiteral("s"),
                QStringLiteral("Rel. time"));
    for (int c = 0; c < ColumnCount; ++c) {
        if (!options.columns[c])
            continue;
        const Column column = Column(c);
        const bool count = options.encoder && isPicoColumn(column);
        for (int i = 0; i < samples; ++i) {
            const double v = columnValue(records[i], column, options.scale);
            // Encoder counts are whole numbers, as the CSV prints them.
            values[std::size_t(i)] = count ? std::trunc(v) : v;
        }
        file.values(data + QLatin1Char('/') + fieldName(column, options.encoder), values,
                    units(column, options.encoder), columnName(column, options.encoder));
    }

    const QString display = nexus::collection(file, entryPath, QStringLiteral("display"));
    file.number(display + QStringLiteral("/frequency"), options.sampFreq, QStringLiteral("Hz"),
                QStringLiteral("display records per second"));
    file.integer(display + QStringLiteral("/samples"), samples);
    file.integer(display + QStringLiteral("/snapshot_records"), recordCount,
                 QStringLiteral("records of the display buffer read at the save"));
    file.integer(display + QStringLiteral("/encoder_interface"), options.encoder ? 1 : 0,
                 QStringLiteral("1: the picoammeter columns hold encoder counts"));
    file.text(display + QStringLiteral("/saved_at"), nexus::isoTime(header.time));

    if (file.commit())
        return true;
    if (error)
        *error = file.error();
    return false;
}

} // namespace displaynexus
