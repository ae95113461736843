#include "export/postmortemfile.h"

#include "export/displaycsv.h"
#include "export/displaynexus.h"
#include "export/nexusfile.h"

#include "device/feedbackunits.h"

#include <QFile>

#include <hdf5.h>

#include <cmath>

namespace postmortemfile
{

namespace
{
const QString kMicrometres = QStringLiteral("um");
const QString kAmperes = QStringLiteral("A");
const char* const kAxisNames[2] = {"x", "y"};

void writeStatistics(NexusFile& file, const QString& entryPath, const PostMortemRecord& r)
{
    const QString c = nexus::collection(file, entryPath, QStringLiteral("statistics"));
    for (int bpm = 0; bpm < 2; ++bpm) {
        const zevo::BpmStatistics& s = r.statistics.bpm[bpm];
        const QString p = c + QStringLiteral("/bpm%1_").arg(bpm + 1);
        // The scale factors of the capture, not the present ones.
        const auto xMicrometres = [&r](double raw, int b) { return raw * r.settings.scale.x(b); };
        const auto yMicrometres = [&r](double raw, int b) { return raw * r.settings.scale.y(b); };
        file.number(p + QStringLiteral("x_mean"), xMicrometres(s.xMean, bpm), kMicrometres);
        file.number(p + QStringLiteral("x_std"), xMicrometres(s.xStd, bpm), kMicrometres);
        file.number(p + QStringLiteral("x_std_1khz"), xMicrometres(s.xStd1kHz, bpm), kMicrometres);
        file.number(p + QStringLiteral("y_mean"), yMicrometres(s.yMean, bpm), kMicrometres);
        file.number(p + QStringLiteral("y_std"), yMicrometres(s.yStd, bpm), kMicrometres);
        file.number(p + QStringLiteral("y_std_1khz"), yMicrometres(s.yStd1kHz, bpm), kMicrometres);
        file.number(p + QStringLiteral("i0_mean"), s.i0Mean, kAmperes);
        file.number(p + QStringLiteral("i0_std"), s.i0Std, kAmperes);
        file.number(p + QStringLiteral("i0_std_1khz"), s.i0Std1kHz, kAmperes);
    }
}

void writeRoc(NexusFile& file, const QString& entryPath, const PostMortemRecord& r)
{
    const QString c = nexus::collection(file, entryPath, QStringLiteral("roc"));
    for (int bpm = 0; bpm < 2; ++bpm) {
        const QString p = c + QStringLiteral("/bpm%1_").arg(bpm + 1);
        for (int axis = 0; axis < 2; ++axis) {
            const QString a = QString::fromLatin1(kAxisNames[axis]);
            file.number(p + QStringLiteral("limit_") + a, r.rocLimitUm[std::size_t(2 * bpm + axis)],
                        kMicrometres, QStringLiteral("region of control, either side of 0"));
            file.integer(p + QStringLiteral("enabled_") + a,
                         r.rocEnabled[std::size_t(zevo::rocIndex(bpm, axis))] ? 1 : 0);
        }
        file.number(p + QStringLiteral("beam_off_limit"), r.beamOffLimitA[std::size_t(bpm)],
                    kAmperes);
        file.integer(p + QStringLiteral("enabled_beam_off"),
                     r.rocEnabled[std::size_t(zevo::rocIndex(bpm, 2))] ? 1 : 0);
    }
}

void writeCapture(NexusFile& file, const QString& entryPath, const PostMortemRecord& r)
{
    const QString c = nexus::collection(file, entryPath, QStringLiteral("postmortem"));
    file.integer(c + QStringLiteral("/pid_status_before"), r.statusBefore,
                 feedbackunits::stateText(r.statusBefore));
    file.integer(c + QStringLiteral("/pid_status_after"), r.statusAfter,
                 feedbackunits::stateText(r.statusAfter));
    file.number(c + QStringLiteral("/frequency"), r.sampFreq, QStringLiteral("Hz"),
                QStringLiteral("display records per second"));
    file.number(c + QStringLiteral("/post_trigger_delay"), r.postTriggerSeconds,
                QStringLiteral("s"));
    file.integer(c + QStringLiteral("/first_read_records"), r.firstReadRecords);
    file.integer(c + QStringLiteral("/second_read_records"), r.secondReadRecords);
    file.integer(c + QStringLiteral("/records_between_reads"), r.shift,
                 QStringLiteral("-1: the reads did not overlap"));
    file.integer(c + QStringLiteral("/segments"), r.secondSegment < 0 ? 1 : 2);
    file.text(c + QStringLiteral("/join"),
              r.secondSegment < 0
                  ? QStringLiteral("one series: the second read joined where it repeats the first")
                  : QStringLiteral("two segments: the second read does not overlap the first; "
                                   "its times assume the post-trigger delay"));
    file.integer(c + QStringLiteral("/event_index"), r.eventIndex);
    file.text(c + QStringLiteral("/event_located_by"),
              r.eventFromData ? QStringLiteral("first record beyond a limit in force")
                              : QStringLiteral("detection of the status change"));
    file.integer(c + QStringLiteral("/regulation_mode"), r.regulationMode);
    file.number(c + QStringLiteral("/setpoint_x"), r.setpoints[0], kMicrometres);
    file.number(c + QStringLiteral("/setpoint_y"), r.setpoints[1], kMicrometres);
    file.number(c + QStringLiteral("/setpoint_i0"), r.setpoints[2], kAmperes);
    file.integer(c + QStringLiteral("/encoder_interface"), r.encoder ? 1 : 0);
}

// Time of each record, 0 at the event. Two segments: the second read ends
// the post-trigger delay after the first.
std::vector<double> times(const PostMortemRecord& r)
{
    const double rate = r.sampFreq > 0 ? double(r.sampFreq) : 1.0;
    const int n = int(r.records.size());
    std::vector<double> t(std::size_t(n), 0.0);
    const int firstEnd = r.secondSegment < 0 ? n : r.secondSegment;
    for (int i = 0; i < firstEnd; ++i)
        t[std::size_t(i)] = (i - r.eventIndex) / rate;
    if (r.secondSegment >= 0) {
        const double lastOfFirst = (firstEnd - 1 - r.eventIndex) / rate;
        for (int i = firstEnd; i < n; ++i)
            t[std::size_t(i)] = lastOfFirst + r.postTriggerSeconds - (n - 1 - i) / rate;
    }
    return t;
}

// HDF5 reading: a string or the first float64 of a field, empty / NaN when missing.
QString readText(hid_t file, const char* path)
{
    if (H5Lexists(file, path, H5P_DEFAULT) <= 0)
        return QString();
    const hid_t set = H5Dopen2(file, path, H5P_DEFAULT);
    if (set < 0)
        return QString();
    QString out;
    const hid_t type = H5Dget_type(set);
    if (H5Tget_class(type) == H5T_STRING && H5Tis_variable_str(type) > 0) {
        char* text = nullptr;
        const hid_t memType = H5Tcopy(H5T_C_S1);
        H5Tset_size(memType, H5T_VARIABLE);
        H5Tset_cset(memType, H5T_CSET_UTF8);
        if (H5Dread(set, memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, &text) >= 0 && text) {
            out = QString::fromUtf8(text);
            H5free_memory(text);
        }
        H5Tclose(memType);
    } else if (H5Tget_class(type) == H5T_STRING) {
        const std::size_t size = H5Tget_size(type);
        QByteArray bytes(int(size), '\0');
        if (H5Dread(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, bytes.data()) >= 0)
            out = QString::fromUtf8(bytes.constData());
    }
    H5Tclose(type);
    H5Dclose(set);
    return out;
}

std::vector<double> readValues(hid_t file, const QString& path)
{
    const QByteArray name = path.toUtf8();
    std::vector<double> out;
    if (H5Lexists(file, name.constData(), H5P_DEFAULT) <= 0)
        return out;
    const hid_t set = H5Dopen2(file, name.constData(), H5P_DEFAULT);
    if (set < 0)
        return out;
    const hid_t space = H5Dget_space(set);
    const hssize_t n = H5Sget_simple_extent_npoints(space);
    if (n > 0) {
        out.resize(std::size_t(n));
        if (H5Dread(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, out.data()) < 0)
            out.clear();
    }
    H5Sclose(space);
    H5Dclose(set);
    return out;
}

hid_t openForReading(const QString& path)
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    return H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
}
} // namespace

QString fileName(const QDateTime& eventTime)
{
    return QStringLiteral("postmortem_") +
           eventTime.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'")) +
           QStringLiteral(".nxs");
}

bool write(const QString& path, const PostMortemRecord& r, QString* error)
{
    using namespace displaycsv;
    NexusFile file(path);
    const std::vector<double> t = times(r);
    nexus::Entry entry;
    entry.title = QStringLiteral("Post-mortem: ") + r.cause;
    entry.start = r.eventTime.addMSecs(t.empty() ? 0 : std::llround(1000.0 * t.front()));
    entry.end = r.eventTime.addMSecs(t.empty() ? 0 : std::llround(1000.0 * t.back()));
    const QString entryPath = nexus::beginEntry(file, entry, r.settings);
    file.text(entryPath + QStringLiteral("/event_time"), nexus::isoTime(r.eventTime));
    file.text(entryPath + QStringLiteral("/cause"), r.cause);
    file.text(entryPath + QStringLiteral("/location"), r.location);

    QStringList names;
    for (int c = 0; c < ColumnCount; ++c)
        names << displaynexus::fieldName(Column(c), r.encoder);
    const QString signal = displaynexus::fieldName(Bpm1PosX, r.encoder);
    names.removeAll(signal);
    names << QStringLiteral("segment");
    nexus::beginData(file, entryPath, signal, {QStringLiteral("time")}, names);
    const QString data = entryPath + QStringLiteral("/data");
    file.values(data + QStringLiteral("/time"), t, QStringLiteral("s"),
                QStringLiteral("Time from the event"));
    file.attribute(data + QStringLiteral("/time"), QStringLiteral("start"),
                   nexus::isoTime(r.eventTime));
    const std::size_t n = r.records.size();
    std::vector<double> values(n, 0.0);
    for (int c = 0; c < ColumnCount; ++c) {
        const Column column = Column(c);
        const bool count = r.encoder && isPicoColumn(column);
        for (std::size_t i = 0; i < n; ++i) {
            const double v = columnValue(r.records[i], column, r.settings.scale);
            values[i] = count ? std::trunc(v) : v;
        }
        file.values(data + QLatin1Char('/') + displaynexus::fieldName(column, r.encoder), values,
                    displaynexus::units(column, r.encoder), columnName(column, r.encoder));
    }
    for (std::size_t i = 0; i < n; ++i)
        values[i] = r.secondSegment >= 0 && int(i) >= r.secondSegment ? 2.0 : 1.0;
    file.values(data + QStringLiteral("/segment"), values, QString(),
                QStringLiteral("Read of the display buffer"));

    writeCapture(file, entryPath, r);
    writeStatistics(file, entryPath, r);
    writeRoc(file, entryPath, r);
    if (file.commit())
        return true;
    if (error)
        *error = file.error();
    return false;
}

PostMortemSummary readSummary(const QString& path)
{
    PostMortemSummary s;
    s.path = path;
    const hid_t file = openForReading(path);
    if (file < 0)
        return s;
    s.eventTime =
        QDateTime::fromString(readText(file, "/entry/event_time"), Qt::ISODateWithMs).toUTC();
    s.cause = readText(file, "/entry/cause");
    s.location = readText(file, "/entry/location");
    s.valid = s.eventTime.isValid() && !s.cause.isEmpty();
    H5Fclose(file);
    return s;
}

PostMortemSeries readSeries(const QString& path, const QStringList& fields)
{
    PostMortemSeries s;
    const hid_t file = openForReading(path);
    if (file < 0)
        return s;
    s.time = readValues(file, QStringLiteral("/entry/data/time"));
    s.valid = !s.time.empty();
    for (const QString& field : fields) {
        s.values.push_back(readValues(file, QStringLiteral("/entry/data/") + field));
        if (s.values.back().size() != s.time.size())
            s.values.back().clear();
    }
    for (int bpm = 0; bpm < 2; ++bpm)
        for (int axis = 0; axis < 2; ++axis) {
            const std::vector<double> v =
                readValues(file, QStringLiteral("/entry/instrument/roc/bpm%1_limit_%2")
                                     .arg(bpm + 1)
                                     .arg(QString::fromLatin1(kAxisNames[axis])));
            s.rocLimitUm[std::size_t(2 * bpm + axis)] = v.empty() ? 0.0 : v.front();
        }
    H5Fclose(file);
    return s;
}

} // namespace postmortemfile
