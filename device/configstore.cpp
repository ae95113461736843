#include "device/configstore.h"

#include "device/protocol.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSettings>
#include <QTemporaryDir>
#include <QVariant>

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <iterator>
#include <utility>

#include <sys/stat.h>

// Every group name, key and default of the configuration file is written
// here once; the methods below only name them. Getters skip null outputs.
namespace
{

QString bpmGroup(int bpm)
{
    return bpm == 0 ? QStringLiteral("BPM1") : QStringLiteral("BPM2");
}
QString rocRoiGroup(int bpm)
{
    return bpm == 0 ? QStringLiteral("ROCandROI") : QStringLiteral("ROCandROI2");
}
const QString kBeamlineGroup = QStringLiteral("Beamline");
// Empty for a channel that is no PID loop.
QString pidGroup(int channel)
{
    switch (channel) {
    case zevo::kPidX:
        return QStringLiteral("PID_X");
    case zevo::kPidY:
        return QStringLiteral("PID_Y");
    case zevo::kPidI0:
        return QStringLiteral("PID_I0");
    }
    return QString();
}

QString beamThresholdKey(int bpm)
{
    return bpm == 0 ? QStringLiteral("BeamThreshold") : QStringLiteral("BeamThreshold2");
}
constexpr double kBeamThresholdDefault = 1e-9;

const char* const kOrientKey = "Orient";
const char* const kScaleXKey = "Scale_X";
const char* const kScaleYKey = "Scale_Y";
const char* const kOffsetXKey = "Offset_X";
const char* const kOffsetYKey = "Offset_Y";
const char* const kChannelKeys[4] = {"Top", "Right", "Bottom", "Left"};
const char* const kDacKeys[3] = {"DAC_posX", "DAC_posY", "DAC_I0"};
constexpr int kDacDefaults[3] = {0, 1, 2};
const char* const kRocRoiKeys[5] = {"RoiX", "RoiY", "RoiI0min", "RoiI0max", "Roc"};
// The keys of a PID loop's group, in the order they are written and in the
// order of the value-by-value setters' and getters' arguments.
struct PidKey {
    const char* key;
    double PidLoopSettings::*value;
};
const PidKey kPidKeys[10] = {
    {"Freq", &PidLoopSettings::frequency}, {"Kp", &PidLoopSettings::kp},
    {"Ki", &PidLoopSettings::ki},          {"Kd", &PidLoopSettings::kd},
    {"emin", &PidLoopSettings::eMin},      {"Imax", &PidLoopSettings::iMax},
    {"Omin", &PidLoopSettings::oMin},      {"Omax", &PidLoopSettings::oMax},
    {"Ogain", &PidLoopSettings::oGain},    {"Offset", &PidLoopSettings::offset}};

const QString kStabilityGroup = QStringLiteral("Stability");
const char* const kBeamSizeXKey = "BeamSizeX";
const char* const kBeamSizeYKey = "BeamSizeY";
const char* const kLimitPercentKey = "LimitPercent";
const char* const kBandsKey = "Bands";

const QString kPostMortemGroup = QStringLiteral("PostMortem");
const char* const kPostMortemEnabledKey = "Enabled";
const char* const kPostMortemFolderKey = "Folder";
const char* const kPostTriggerKey = "PostTriggerSeconds";
const char* const kKeepKey = "Keep";

const QString kRemoteGroup = QStringLiteral("Remote");
const char* const kRemoteEnabledKey = "Enabled";
const char* const kRemoteAddressKey = "Address";
const char* const kRemotePortKey = "Port";
const char* const kRemoteDeviceNameKey = "DeviceName";
const char* const kRemoteControlAllowedKey = "ControlAllowed";
const char* const kRemoteDatabaseKey = "Database";
const char* const kRemoteServerInstanceKey = "ServerInstance";

using Entry = std::pair<QString, QVariant>;

// On a controller computer the configuration folder belongs to the
// operators' group and is setgid, so that every file in it belongs to that
// group. A file that a save creates gets only what the umask leaves (0644 as
// a rule), which would lock the other operators out of their settings: in
// such a folder it is made readable and writable by the group, and never
// writable by everyone. A file that already existed keeps its mode: each
// save writes a new file with the old file's mode and renames it into place.
void shareNewFileWithFolderGroup(const QString& path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const QByteArray file = QFile::encodeName(path);
    struct stat folderStat, fileStat;
    if (::stat(folder.constData(), &folderStat) != 0 || !(folderStat.st_mode & S_ISGID))
        return;
    if (::stat(file.constData(), &fileStat) != 0 || !S_ISREG(fileStat.st_mode))
        return;
    const mode_t mode = fileStat.st_mode & 07777;
    const mode_t shared = (mode | S_IRGRP | S_IWGRP) & ~mode_t(S_IWOTH);
    // The values are saved either way; a mode that cannot be changed only
    // leaves the file as the umask made it.
    if (shared != mode)
        ::chmod(file.constData(), shared);
}

// The configuration file as Qt's INI reader sees it, with every group parsed.
//
// Qt parses a group only when a key of it is first asked for, and looks for
// that group among the group names sorted just before the key. A damaged
// header such as "[Remote\0x" (the group "Remote/0x", no closing bracket)
// sorts between "Remote/" and "Remote/Port", so a lone read of "Remote/Port"
// never parses [Remote] and gives the default, while a save parses every
// group and writes back what [Remote] holds. Parsing the whole file before
// the first read makes every read give what a save keeps.
class ParsedFile
{
public:
    explicit ParsedFile(const QString& path) : m_settings(path, QSettings::IniFormat)
    {
        m_settings.allKeys();
    }

    QVariant value(const QString& group, const QString& key,
                   const QVariant& fallback = QVariant()) const
    {
        return m_settings.value(group + QLatin1Char('/') + key, fallback);
    }

private:
    QSettings m_settings;
};

// Whether the file exists and some line of it cannot be read: a group header
// without its closing bracket, or a line that is neither a comment nor
// "key=value".
//
// Qt reports a format error only while it parses, and it keeps every file it
// parsed for the next QSettings object of the same path, taking a file of the
// same size and modification time (to the millisecond) as unchanged. So the
// bytes are parsed afresh in a scratch file of this process, which gets a
// modification time of its own on every check.
bool isDamagedFile(const QString& path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();

    static QMutex mutex;
    const QMutexLocker lock(&mutex);
    static const QTemporaryDir scratchFolder;
    static qint64 checks = 0;
    QFile scratch(scratchFolder.filePath(QStringLiteral("check.ini")));
    if (!scratchFolder.isValid() || !scratch.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        scratch.write(bytes) != bytes.size() || !scratch.flush() ||
        !scratch.setFileTime(QDateTime::fromSecsSinceEpoch(++checks),
                             QFileDevice::FileModificationTime)) {
        qWarning("Cannot check the settings file %s: no scratch file", qPrintable(path));
        return false;
    }
    scratch.close();
    QSettings settings(scratch.fileName(), QSettings::IniFormat);
    settings.allKeys();
    return settings.status() == QSettings::FormatError;
}

// A save rewrites the whole file from what Qt could parse, so the lines of a
// damaged file that it could not read would be gone: such a file is kept
// first, under the first free name beside it.
QString freeCopyPath(const QString& path)
{
    const QString base = path + QStringLiteral(".damaged");
    QString candidate = base;
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = base + QLatin1Char('.') + QString::number(n);
    return candidate;
}

// Writes the keys of one group in the order given. The directory is created
// when missing; false when the file could not be written, or when it was
// damaged and no copy of it could be kept.
bool writeEntries(const QString& path, const QString& group, const Entry* begin, const Entry* end)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const bool existed = QFileInfo::exists(path);
    if (existed && isDamagedFile(path) && !QFile::copy(path, freeCopyPath(path)))
        return false;
    QSettings settings(path, QSettings::IniFormat);
    if (!settings.isWritable())
        return false;
    settings.beginGroup(group);
    for (const Entry* entry = begin; entry != end; ++entry)
        settings.setValue(entry->first, entry->second);
    settings.endGroup();
    settings.sync();
    // A FormatError only says that the file read before the write was damaged;
    // the keys were still written. Only an AccessError means they were not.
    if (settings.status() == QSettings::AccessError)
        return false;
    if (!existed)
        shareNewFileWithFolderGroup(path);
    return true;
}

bool writeGroup(const QString& path, const QString& group, std::initializer_list<Entry> entries)
{
    return writeEntries(path, group, entries.begin(), entries.end());
}

double readDouble(const QString& path, const QString& group, const QString& key)
{
    return ParsedFile(path).value(group, key).toDouble();
}

// Switches that open the program to the outside are on only when the file
// says so plainly.
bool readSwitch(const ParsedFile& file, const QString& group, const QString& key, bool fallback)
{
    const QVariant value = file.value(group, key);
    if (!value.isValid())
        return fallback;
    const QString text = value.toString().trimmed().toLower();
    return text == QLatin1String("true") || text == QLatin1String("1");
}

template <std::size_t N>
bool writeDoubles(const QString& path, const QString& group, const char* const (&keys)[N],
                  const double (&values)[N])
{
    std::array<Entry, N> entries;
    for (std::size_t i = 0; i < N; ++i)
        entries[i] = {QLatin1String(keys[i]), values[i]};
    return writeEntries(path, group, entries.data(), entries.data() + N);
}

void copyPidLoop(const PidLoopSettings& loop, double* const (&outputs)[std::size(kPidKeys)])
{
    for (std::size_t i = 0; i < std::size(kPidKeys); ++i) {
        if (outputs[i])
            *outputs[i] = loop.*kPidKeys[i].value;
    }
}

template <std::size_t N>
void readDoubles(const QString& path, const QString& group, const char* const (&keys)[N],
                 double* const (&outputs)[N])
{
    const ParsedFile file(path);
    for (std::size_t i = 0; i < N; ++i) {
        if (outputs[i])
            *outputs[i] = file.value(group, QLatin1String(keys[i])).toDouble();
    }
}

} // namespace

ConfigStore::ConfigStore(const QString& filePath) : m_path(filePath) {}

bool ConfigStore::isDamaged() const
{
    return isDamagedFile(m_path);
}

QString ConfigStore::damagedCopyPath() const
{
    return freeCopyPath(m_path);
}

// ---------------------------------------------------------------- BPM geometry

bool ConfigStore::setOrient(int orientation, int bpm)
{
    return writeGroup(m_path, bpmGroup(bpm), {{kOrientKey, orientation}});
}

int ConfigStore::getOrient(int bpm) const
{
    return ParsedFile(m_path).value(bpmGroup(bpm), kOrientKey).toInt();
}

bool ConfigStore::setScaleX(int bpm, double scale)
{
    return writeGroup(m_path, bpmGroup(bpm), {{kScaleXKey, scale}});
}

double ConfigStore::getScaleX(int bpm) const
{
    return readDouble(m_path, bpmGroup(bpm), kScaleXKey);
}

bool ConfigStore::setScaleY(int bpm, double scale)
{
    return writeGroup(m_path, bpmGroup(bpm), {{kScaleYKey, scale}});
}

double ConfigStore::getScaleY(int bpm) const
{
    return readDouble(m_path, bpmGroup(bpm), kScaleYKey);
}

bool ConfigStore::setOffsetX(int bpm, double offset)
{
    return writeGroup(m_path, bpmGroup(bpm), {{kOffsetXKey, offset}});
}

double ConfigStore::getOffsetX(int bpm) const
{
    return readDouble(m_path, bpmGroup(bpm), kOffsetXKey);
}

bool ConfigStore::setOffsetY(int bpm, double offset)
{
    return writeGroup(m_path, bpmGroup(bpm), {{kOffsetYKey, offset}});
}

double ConfigStore::getOffsetY(int bpm) const
{
    return readDouble(m_path, bpmGroup(bpm), kOffsetYKey);
}

bool ConfigStore::setBpmChannels(int top, int right, int bottom, int left, int bpm)
{
    return writeGroup(m_path, bpmGroup(bpm),
                      {{kChannelKeys[0], top},
                       {kChannelKeys[1], right},
                       {kChannelKeys[2], bottom},
                       {kChannelKeys[3], left}});
}

void ConfigStore::getBpmChannels(int* top, int* right, int* bottom, int* left, int bpm) const
{
    const ParsedFile file(m_path);
    int* const outputs[4] = {top, right, bottom, left};
    for (int i = 0; i < 4; ++i) {
        if (outputs[i])
            *outputs[i] = file.value(bpmGroup(bpm), kChannelKeys[i]).toInt();
    }
}

QString ConfigStore::bpmChannelKey(int bpm, int electrode)
{
    return bpmGroup(bpm) + QLatin1Char('/') +
           QLatin1String(kChannelKeys[std::clamp(electrode, 0, 3)]);
}

// ---------------------------------------------------------------- beamline

bool ConfigStore::setBeamThreshold(int bpm, double microamperes)
{
    return writeGroup(m_path, kBeamlineGroup, {{beamThresholdKey(bpm), microamperes}});
}

void ConfigStore::getBeamThreshold(double* microamperes, int bpm) const
{
    if (!microamperes)
        return;
    *microamperes = ParsedFile(m_path)
                        .value(kBeamlineGroup, beamThresholdKey(bpm), kBeamThresholdDefault)
                        .toDouble();
}

bool ConfigStore::setBeamlineDacs(int dacX, int dacY, int dacI0)
{
    return writeGroup(m_path, kBeamlineGroup,
                      {{kDacKeys[0], dacX}, {kDacKeys[1], dacY}, {kDacKeys[2], dacI0}});
}

void ConfigStore::getBeamlineDacs(int* dacX, int* dacY, int* dacI0) const
{
    const ParsedFile file(m_path);
    int* const outputs[3] = {dacX, dacY, dacI0};
    for (int i = 0; i < 3; ++i) {
        if (outputs[i])
            *outputs[i] = file.value(kBeamlineGroup, kDacKeys[i], kDacDefaults[i]).toInt();
    }
}

QString ConfigStore::beamlineDacKey(int loop)
{
    return kBeamlineGroup + QLatin1Char('/') + QLatin1String(kDacKeys[std::clamp(loop, 0, 2)]);
}

// ---------------------------------------------------------------- ROC / ROI

bool ConfigStore::setRocRoi(int bpm, double roiX, double roiY, double i0Min, double i0Max,
                            double roc)
{
    return writeDoubles(m_path, rocRoiGroup(bpm), kRocRoiKeys, {roiX, roiY, i0Min, i0Max, roc});
}

void ConfigStore::getRocRoi(double* roiX, double* roiY, double* i0Min, double* i0Max, double* roc,
                            int bpm) const
{
    readDoubles(m_path, rocRoiGroup(bpm), kRocRoiKeys, {roiX, roiY, i0Min, i0Max, roc});
}

// ---------------------------------------------------------------- PID loops

PidLoopSettings ConfigStore::pidLoop(int channel) const
{
    PidLoopSettings loop;
    const QString group = pidGroup(channel);
    if (group.isEmpty())
        return loop;
    const ParsedFile file(m_path);
    for (const PidKey& k : kPidKeys)
        loop.*k.value = file.value(group, QLatin1String(k.key)).toDouble();
    return loop;
}

bool ConfigStore::setPidLoop(int channel, const PidLoopSettings& loop)
{
    const QString group = pidGroup(channel);
    if (group.isEmpty())
        return false;
    std::array<Entry, std::size(kPidKeys)> entries;
    for (std::size_t i = 0; i < entries.size(); ++i)
        entries[i] = {QLatin1String(kPidKeys[i].key), loop.*kPidKeys[i].value};
    return writeEntries(m_path, group, entries.data(), entries.data() + entries.size());
}

bool ConfigStore::setPidX(double freq, double kp, double ki, double kd, double eMin, double iMax,
                          double oMin, double oMax, double oGain, double offset)
{
    return setPidLoop(zevo::kPidX, {freq, kp, ki, kd, eMin, iMax, oMin, oMax, oGain, offset});
}

bool ConfigStore::setPidY(double freq, double kp, double ki, double kd, double eMin, double iMax,
                          double oMin, double oMax, double oGain, double offset)
{
    return setPidLoop(zevo::kPidY, {freq, kp, ki, kd, eMin, iMax, oMin, oMax, oGain, offset});
}

bool ConfigStore::setPidI0(double freq, double kp, double ki, double kd, double eMin, double iMax,
                           double oMin, double oMax, double oGain, double offset)
{
    return setPidLoop(zevo::kPidI0, {freq, kp, ki, kd, eMin, iMax, oMin, oMax, oGain, offset});
}

void ConfigStore::getPidX(double* freq, double* kp, double* ki, double* kd, double* eMin,
                          double* iMax, double* oMin, double* oMax, double* oGain,
                          double* offset) const
{
    copyPidLoop(pidLoop(zevo::kPidX), {freq, kp, ki, kd, eMin, iMax, oMin, oMax, oGain, offset});
}

void ConfigStore::getPidY(double* freq, double* kp, double* ki, double* kd, double* eMin,
                          double* iMax, double* oMin, double* oMax, double* oGain,
                          double* offset) const
{
    copyPidLoop(pidLoop(zevo::kPidY), {freq, kp, ki, kd, eMin, iMax, oMin, oMax, oGain, offset});
}

void ConfigStore::getPidI0(double* freq, double* kp, double* ki, double* kd, double* eMin,
                           double* iMax, double* oMin, double* oMax, double* oGain,
                           double* offset) const
{
    copyPidLoop(pidLoop(zevo::kPidI0), {freq, kp, ki, kd, eMin, iMax, oMin, oMax, oGain, offset});
}

// ---------------------------------------------------------------- beam stability

StabilitySettings ConfigStore::getStability() const
{
    StabilitySettings stability;
    const ParsedFile file(m_path);
    auto size = [&](const char* key, double fallback) {
        bool ok = false;
        const double value = file.value(kStabilityGroup, key, fallback).toDouble(&ok);
        return ok && std::isfinite(value) && value >= 0 ? value : fallback;
    };
    stability.beamSizeX = size(kBeamSizeXKey, stability.beamSizeX);
    stability.beamSizeY = size(kBeamSizeYKey, stability.beamSizeY);
    stability.limitPercent = size(kLimitPercentKey, stability.limitPercent);
    // The edges are one comma-separated value, which the INI format reads
    // back as a list unless it was quoted.
    const QVariant bands = file.value(kStabilityGroup, kBandsKey);
    const QString text = bands.type() == QVariant::StringList
                             ? bands.toStringList().join(QLatin1Char(','))
                             : bands.toString();
    StabilitySettings::parseBandEdges(text, &stability.bandEdges);
    return stability;
}

bool ConfigStore::setStability(const StabilitySettings& stability)
{
    return writeGroup(m_path, kStabilityGroup,
                      {{kBeamSizeXKey, stability.beamSizeX},
                       {kBeamSizeYKey, stability.beamSizeY},
                       {kLimitPercentKey, stability.limitPercent},
                       {kBandsKey, StabilitySettings::formatBandEdges(stability.bandEdges)}});
}

// ---------------------------------------------------------------- post-mortem capture

PostMortemSettings ConfigStore::getPostMortem() const
{
    PostMortemSettings postMortem;
    const ParsedFile file(m_path);
    const QString enabled =
        file.value(kPostMortemGroup, kPostMortemEnabledKey).toString().trimmed().toLower();
    postMortem.enabled = !(enabled == QLatin1String("false") || enabled == QLatin1String("0"));
    const QString folder = file.value(kPostMortemGroup, kPostMortemFolderKey).toString().trimmed();
    if (!folder.isEmpty())
        postMortem.folder = folder;
    bool ok = false;
    const double delay = file.value(kPostMortemGroup, kPostTriggerKey).toDouble(&ok);
    if (ok && delay >= 0 && delay <= PostMortemSettings::kMaxPostTriggerSeconds)
        postMortem.postTriggerSeconds = delay;
    const int keep = file.value(kPostMortemGroup, kKeepKey).toInt(&ok);
    if (ok && keep >= 1)
        postMortem.keep = keep;
    return postMortem;
}

bool ConfigStore::setPostMortem(const PostMortemSettings& postMortem)
{
    // The default folder is written as empty, so that it follows the user's
    // data location rather than pinning today's path.
    const bool defaultFolder = postMortem.folder == PostMortemSettings::defaultFolder();
    return writeGroup(m_path, kPostMortemGroup,
                      {{kPostMortemEnabledKey, postMortem.enabled},
                       {kPostMortemFolderKey, defaultFolder ? QString() : postMortem.folder},
                       {kPostTriggerKey, postMortem.postTriggerSeconds},
                       {kKeepKey, postMortem.keep}});
}

// ---------------------------------------------------------------- remote access

RemoteSettings ConfigStore::getRemote() const
{
    const RemoteSettings defaults;
    RemoteSettings remote;
    const ParsedFile file(m_path);
    remote.enabled = readSwitch(file, kRemoteGroup, kRemoteEnabledKey, defaults.enabled);
    remote.address =
        file.value(kRemoteGroup, kRemoteAddressKey, defaults.address).toString().trimmed();
    bool ok = false;
    const int port = file.value(kRemoteGroup, kRemotePortKey, defaults.port).toInt(&ok);
    // Not a number: 0, which the server refuses with a message naming the key.
    remote.port = ok ? port : 0;
    remote.deviceName =
        file.value(kRemoteGroup, kRemoteDeviceNameKey, defaults.deviceName).toString().trimmed();
    remote.controlAllowed =
        readSwitch(file, kRemoteGroup, kRemoteControlAllowedKey, defaults.controlAllowed);
    remote.database =
        file.value(kRemoteGroup, kRemoteDatabaseKey, defaults.database).toString().trimmed();
    remote.serverInstance =
        file.value(kRemoteGroup, kRemoteServerInstanceKey, defaults.serverInstance)
            .toString()
            .trimmed();
    return remote;
}

bool ConfigStore::setRemoteServer(const RemoteSettings& remote)
{
    return writeGroup(m_path, kRemoteGroup,
                      {{kRemoteEnabledKey, remote.enabled},
                       {kRemoteAddressKey, remote.address},
                       {kRemotePortKey, remote.port},
                       {kRemoteDeviceNameKey, remote.deviceName},
                       {kRemoteDatabaseKey, remote.database},
                       {kRemoteServerInstanceKey, remote.serverInstance}});
}

bool ConfigStore::setRemoteControlAllowed(bool allowed)
{
    return writeGroup(m_path, kRemoteGroup, {{kRemoteControlAllowedKey, allowed}});
}
