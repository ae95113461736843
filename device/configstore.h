#pragma once

#include "device/pidloopsettings.h"
#include "device/postmortemsettings.h"
#include "device/stabilitysettings.h"

#include <QString>

// The [Remote] group: the device server that makes the feedback visible to
// the beamline's control system. Off, read-only and on loopback unless an
// administrator changes it.
struct RemoteSettings {
    bool enabled = false;
    QString address = QStringLiteral("127.0.0.1");
    int port = 10000;
    QString deviceName = QStringLiteral("zevo/feedback/1");
    // Remote clients may switch the feedback and change setpoints and mode.
    bool controlAllowed = false;
    // The Tango database the server registers in: empty for none (clients
    // name the host and port), "host:port", or "environment" for the
    // TANGO_HOST the program was started with.
    QString database;
    // The server's instance name in the database; empty: the computer's name.
    QString serverInstance;
};

// The program's memory of every setting that must survive a restart: one
// INI file, read and written through a fresh QSettings object on every call,
// so that the store keeps no state of its own.
//
// Every read parses the whole file, so that a getter gives what a save of
// any other key keeps, however damaged the file.
//
// Setters return false when the file could not be written (its directory is
// created when missing); the values are then not stored. A save rewrites the
// whole file from what could be parsed: a damaged file is first copied to
// damagedCopyPath(), and the save fails when that copy cannot be made. A file that a setter
// creates in a setgid folder (shared by the operators' group) is made
// writable by that group; an existing file keeps its mode.
class ConfigStore
{
public:
    static constexpr const char* kProductionPath = "/opt/Quorvex/ZEVO/config.ini";

    explicit ConfigStore(const QString& filePath);

    const QString& filePath() const { return m_path; }

    // The file exists and has lines that cannot be read: a group header
    // without its closing bracket, or a line that is not "key=value".
    bool isDamaged() const;
    // Where the next save keeps the damaged file: config.ini.damaged, or
    // config.ini.damaged.2 and so on when that name is taken.
    QString damagedCopyPath() const;

    bool setOrient(int orientation, int bpm);
    int getOrient(int bpm) const;

    bool setScaleX(int bpm, double scale);
    double getScaleX(int bpm) const;
    bool setScaleY(int bpm, double scale);
    double getScaleY(int bpm) const;

    bool setOffsetX(int bpm, double offset);
    double getOffsetX(int bpm) const;
    bool setOffsetY(int bpm, double offset);
    double getOffsetY(int bpm) const;

    bool setBpmChannels(int top, int right, int bottom, int left, int bpm);
    void getBpmChannels(int* top, int* right, int* bottom, int* left, int bpm) const;
    // "BPM1/Top": where the electrode `electrode` (0 top, 1 right, 2 bottom,
    // 3 left) of BPM `bpm` is mapped, for messages that name the entry.
    static QString bpmChannelKey(int bpm, int electrode);

    bool setBeamThreshold(int bpm, double microamperes);
    void getBeamThreshold(double* microamperes, int bpm) const;

    bool setBeamlineDacs(int dacX, int dacY, int dacI0);
    void getBeamlineDacs(int* dacX, int* dacY, int* dacI0) const;
    // "Beamline/DAC_posX": the DAC output assigned to loop `loop` (0 X,
    // 1 Y, 2 I0), for messages that name the entry.
    static QString beamlineDacKey(int loop);

    bool setRocRoi(int bpm, double roiX, double roiY, double i0Min, double i0Max, double roc);
    void getRocRoi(double* roiX, double* roiY, double* i0Min, double* i0Max, double* roc,
                   int bpm) const;

    // One PID loop's group; `channel` is zevo::kPidX, kPidY or kPidI0. Any
    // other channel reads as all 0 and is not written (false).
    PidLoopSettings pidLoop(int channel) const;
    bool setPidLoop(int channel, const PidLoopSettings& loop);

    // The same groups value by value, the values in the order of PidLoopSettings.
    bool setPidX(double freq, double kp, double ki, double kd, double eMin, double iMax,
                 double oMin, double oMax, double oGain, double offset);
    bool setPidY(double freq, double kp, double ki, double kd, double eMin, double iMax,
                 double oMin, double oMax, double oGain, double offset);
    bool setPidI0(double freq, double kp, double ki, double kd, double eMin, double iMax,
                  double oMin, double oMax, double oGain, double offset);
    void getPidX(double* freq, double* kp, double* ki, double* kd, double* eMin, double* iMax,
                 double* oMin, double* oMax, double* oGain, double* offset) const;
    void getPidY(double* freq, double* kp, double* ki, double* kd, double* eMin, double* iMax,
                 double* oMin, double* oMax, double* oGain, double* offset) const;
    void getPidI0(double* freq, double* kp, double* ki, double* kd, double* eMin, double* iMax,
                  double* oMin, double* oMax, double* oGain, double* offset) const;

    // The [Stability] group. Missing keys read as the defaults of
    // StabilitySettings, and so do values that cannot be read (a beam size
    // or limit that is not a number or negative, band edges that are not
    // ascending positive numbers).
    StabilitySettings getStability() const;
    bool setStability(const StabilitySettings& stability);

    // The [PostMortem] group. Missing keys, and values that cannot be read
    // (a delay that is not a number or outside 0 to 10 s, a count below 1),
    // read as the defaults of PostMortemSettings; only "false" or "0"
    // switch the capture off.
    PostMortemSettings getPostMortem() const;
    bool setPostMortem(const PostMortemSettings& postMortem);

    // Missing keys read as the defaults of RemoteSettings. Only "true" or
    // "1" switch Enabled and ControlAllowed on: a mistyped value must never
    // open the controller to remote control.
    RemoteSettings getRemote() const;
    // Enabled, Address, Port, DeviceName, Database and ServerInstance: what
    // the next start uses.
    bool setRemoteServer(const RemoteSettings& remote);
    // ControlAllowed alone: it takes effect at once, apart from the rest.
    bool setRemoteControlAllowed(bool allowed);

private:
    QString m_path;
};
