#include "export/nexusentry.h"

#include "device/configstore.h"
#include "export/nexusfile.h"

#include <QFileInfo>

#include <cstdlib>

#include <hdf5.h>

namespace nexus
{

const QString kProgramName = QStringLiteral("ZEVO Local User Interface");

Settings currentSettings(const QString& hostName, const QString& programVersion)
{
    Settings s;
    s.hostName = hostName;
    s.programVersion = programVersion;
    s.controller = controllerVersions;
    s.scale = bpmScale;
    const PidSourceSet sources = pidSources.load();
    s.pidSources = {sources.x, sources.y, sources.i0};
    if (theConfig) {
        for (int bpm = 0; bpm < 2; ++bpm) {
            auto& c = s.channels[std::size_t(bpm)];
            theConfig->getBpmChannels(&c[0], &c[1], &c[2], &c[3], bpm);
        }
        theConfig->getBeamlineDacs(&s.dacs[0], &s.dacs[1], &s.dacs[2]);
    }
    return s;
}

QString isoTime(const QDateTime& time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QLatin1Char(offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

namespace
{
const QString kRoot = QStringLiteral("/");

// Electrode channels and DAC outputs are stored from 0; the files, like the
// windows, count them from 1.
int fromOne(int stored)
{
    return stored + 1;
}

void writeRoot(NexusFile& file, const QString& entryName)
{
    unsigned major = 0, minor = 0, release = 0;
    H5get_libversion(&major, &minor, &release);
    file.attribute(kRoot, QStringLiteral("NX_class"), QStringLiteral("NXroot"));
    file.attribute(kRoot, QStringLiteral("default"), entryName);
    file.attribute(kRoot, QStringLiteral("file_name"), QFileInfo(file.path()).absoluteFilePath());
    file.attribute(kRoot, QStringLiteral("file_time"), isoTime(QDateTime::currentDateTime()));
    file.attribute(kRoot, QStringLiteral("creator"), kProgramName);
    file.attribute(kRoot, QStringLiteral("HDF5_Version"),
                   QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(release));
}

void writeSettings(NexusFile& file, const QString& entryPath, const Settings& s)
{
    const QString controller = collection(file, entryPath, QStringLiteral("controller"));
    file.text(controller + QStringLiteral("/host_name"), s.hostName);
    file.text(controller + QStringLiteral("/hardware_timestamp"), s.controller.hwTimestamp);
    file.text(controller + QStringLiteral("/software_version"), s.controller.swVersion);
    file.text(controller + QStringLiteral("/pid_version"), s.controller.pidVersion);

    const QString channelName = QStringLiteral("picoammeter channel (1 to 4)");
    const char* electrodes[4] = {"top", "right", "bottom", "left"};
    for (int bpm = 0; bpm < 2; ++bpm) {
        const QString g = collection(file, entryPath, QStringLiteral("bpm%1").arg(bpm + 1));
        const QString perUnit = QStringLiteral("micrometres per raw position unit");
        file.number(g + QStringLiteral("/scale_x"), s.scale.x(bpm), QString(), perUnit);
        file.number(g + QStringLiteral("/scale_y"), s.scale.y(bpm), QString(), perUnit);
        for (int e = 0; e < 4; ++e)
            file.integer(g + QStringLiteral("/channel_") + QLatin1String(electrodes[e]),
                         fromOne(s.channels[std::size_t(bpm)][std::size_t(e)]), channelName);
    }

    const char* loops[3] = {"x", "y", "i0"};
    const QString dacs = collection(file, entryPath, QStringLiteral("dac_assignment"));
    const QString sources = collection(file, entryPath, QStringLiteral("pid_sources"));
    for (int k = 0; k < 3; ++k) {
        const QString loop = QLatin1Char('/') + QLatin1String(loops[k]);
        file.integer(dacs + loop, fromOne(s.dacs[std::size_t(k)]),
                     QStringLiteral("DAC output (1 to 4)"));
        file.integer(sources + loop, fromOne(s.pidSources[std::size_t(k)]),
                     QStringLiteral("BPM (1 or 2)"));
    }
}
} // namespace

QString beginEntry(NexusFile& file, const Entry& entry, const Settings& settings)
{
    const QString name = file.nextEntryName();
    if (name == QStringLiteral("entry"))
        writeRoot(file, name);
    else
        file.attribute(kRoot, QStringLiteral("file_update_time"),
                       isoTime(QDateTime::currentDateTime()));

    const QString path = kRoot + name;
    file.group(path, QStringLiteral("NXentry"));
    file.attribute(path, QStringLiteral("default"), QStringLiteral("data"));
    file.text(path + QStringLiteral("/title"), entry.title);
    file.text(path + QStringLiteral("/start_time"), isoTime(entry.start));
    file.text(path + QStringLiteral("/end_time"), isoTime(entry.end));
    file.text(path + QStringLiteral("/program_name"), kProgramName);
    file.attribute(path + QStringLiteral("/program_name"), QStringLiteral("version"),
                   settings.programVersion);

    file.group(path + QStringLiteral("/instrument"), QStringLiteral("NXinstrument"));
    file.text(path + QStringLiteral("/instrument/name"), QStringLiteral("ZEVO"));
    writeSettings(file, path, settings);
    return path;
}

bool beginData(NexusFile& file, const QString& entryPath, const QString& signal,
               const QStringList& axes, const QStringList& auxiliary)
{
    const QString data = entryPath + QStringLiteral("/data");
    file.group(data, QStringLiteral("NXdata"));
    file.attribute(data, QStringLiteral("signal"), signal);
    if (!axes.isEmpty())
        file.attribute(data, QStringLiteral("axes"), axes);
    for (int k = 0; k < axes.size(); ++k)
        if (axes[k] != QStringLiteral("."))
            file.attribute(data, axes[k] + QStringLiteral("_indices"), int64_t(k));
    if (!auxiliary.isEmpty())
        file.attribute(data, QStringLiteral("auxiliary_signals"), auxiliary);
    return file.ok();
}

QString collection(NexusFile& file, const QString& entryPath, const QString& name)
{
    const QString path = entryPath + QStringLiteral("/instrument/") + name;
    file.group(path, QStringLiteral("NXcollection"));
    return path;
}

} // namespace nexus
