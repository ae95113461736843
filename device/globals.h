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

// Which BPM (0 or 1) feeds the X, Y and I0 loops.
struct PidSourceSet {
    int x = 0;
    int y = 0;
    int i0 = 0;

    // The source of one loop (zevo::kPidX, kPidY or kPidI0).
    int of(int loop) const;
    bool operator==(const PidSourceSet& o) const { return x == o.x && y == o.y && i0 == o.i0; }
};

// The three sources, published as one word: the poll thread (when the
// device count changes) and the beamline configuration each write them as a
// set, and a reader that takes the set with load() never sees half of one
// write and half of another.
class PidSources
{
public:
    PidSourceSet load() const;
    void store(const PidSourceSet& sources);
    // Changes one loop's source and keeps the other two.
    void storeOne(int loop, int bpm);

private:
    std::atomic<unsigned> m_word{0};
};
extern PidSources pidSources;

// One loop's source, by its own name, for code that needs only that one.
class PidSource
{
public:
    explicit constexpr PidSource(int loop) : m_loop(loop) {}
    int load() const { return pidSources.load().of(m_loop); }
    operator int() const { return load(); }
    int operator=(int bpm) const
    {
        pidSources.storeOne(m_loop, bpm);
        return bpm;
    }

private:
    int m_loop;
};
extern const PidSource pidSourceX;
extern const PidSource pidSourceY;
extern const PidSource pidSourceI0;

// Factors from raw controller positions to micrometres.
struct BpmScaleFactors {
    double value[4] = {1.0, 1.0, 1.0, 1.0}; // BPM1 X, BPM1 Y, BPM2 X, BPM2 Y

    // A factor of 0 (never configured, or typed), infinity or no number has
    // no conversion between micrometres and raw units: such a BPM works in
    // raw units (factor 1), so that no setpoint, offset or plotted position
    // becomes infinite or undefined.
    static double usable(double scale);

    double x(int bpm) const { return value[bpm == 0 ? 0 : 2]; }
    double y(int bpm) const { return value[bpm == 0 ? 1 : 3]; }
    // Keeps the usable factors of sx and sy.
    void set(int bpm, double sx, double sy);
};
extern BpmScaleFactors bpmScale;

// Controller versions, read once at start-up; empty when the read failed.
struct ControllerVersions {
    QString hwTimestamp;
    QString swVersion;
    QString pidVersion;
};
extern ControllerVersions controllerVersions;

// The level in force, one of zevo::UserLevel (device/userlevel.h).
extern int userLevel;

// Descriptor of the operator lock file, open for the life of the process.
extern int lockFileFd;

// The process-wide objects, created by the start-up sequence.
extern Driver* theDriver;
extern ConfigStore* theConfig;
extern Updater* theUpdater;
extern MailboxComm* theMailbox;
extern DialogLogin* theLogin;
