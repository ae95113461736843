#pragma once

// All process-wide state of the program, in one place.
//
// Values written by the mailbox poll thread and read by the GUI thread are
// atomics; everything else is touched on the GUI thread only.

#include <QString>

#include <atomic>

class ConfigStore;
class DialogLogin;
class Driver;
class MailboxComm;
class Updater;

// Display frequency in records per second. Exported by name in the dynamic
// symbol table: the acquisition library reads it.
extern "C" int SAMP_FREQ;

// Bytes of display buffer fetched per display cycle (records x 256).
extern int BUFFER_BYTES;

// Rate from which the PID loop dividers are computed; 5000 once an encoder
// interface has been seen. Written by the poll thread.
extern std::atomic<int> PID_BASE_FREQ;

// Which BPM (0 or 1) feeds the X, Y and I0 loops. Written by the poll thread
// when the device count changes, and by the beamline configuration.
extern std::atomic<int> pidSourceX;
extern std::atomic<int> pidSourceY;
extern std::atomic<int> pidSourceI0;

// Factors from raw controller positions to micrometres.
struct BpmScaleFactors
{
    double value[4] = {1.0, 1.0, 1.0, 1.0}; // BPM1 X, BPM1 Y, BPM2 X, BPM2 Y

    double x(int bpm) const { return value[bpm == 0 ? 0 : 2]; }
    double y(int bpm) const { return value[bpm == 0 ? 1 : 3]; }
    void set(int bpm, double sx, double sy)
    {
        value[bpm == 0 ? 0 : 2] = sx;
        value[bpm == 0 ? 1 : 3] = sy;
    }
};
extern BpmScaleFactors bpmScale;

// Controller versions, read once at start-up; empty when the read failed.
struct ControllerVersions
{
    QString hwTimestamp;
    QString swVersion;
    QString pidVersion;
};
extern ControllerVersions controllerVersions;

// 0 "cruise", 1 "user", 2 "admin".
extern int userLevel;

// Descriptor of the operator lock file, open for the life of the process.
extern int lockFileFd;

// The process-wide objects, created by the start-up sequence.
extern Driver* theDriver;
extern ConfigStore* theConfig;
extern Updater* theUpdater;
extern MailboxComm* theMailbox;
extern DialogLogin* theLogin;
