#pragma once

#include "device/protocol.h"

#include <QObject>
#include <QSemaphore>
#include <QString>

#include <array>
#include <atomic>
#include <mutex>

class Driver;
class QThread;
class QTimer;

// Talks to the feedback controller through the mailbox node.
//
// One instance per process. It lives on a worker thread of its own, where it
// opens the node and polls the controller once a second (SFP slots, status
// block, PID status). Every other operation is called directly from the GUI
// thread on the same descriptor; each message is one driver call with its own
// buffer, so the two threads never share a message.
//
// What the poll writes (slot records, status block, device count, encoder
// flag, PID status) is published for the GUI thread as atomics or as copies
// taken under a short mutex. The mutexes are the standard library's: the
// thread checker of the test suite sees their ordering, which it cannot see
// inside Qt's own locks.
class MailboxComm : public QObject
{
    Q_OBJECT

public:
    explicit MailboxComm(Driver& driver, QObject* parent = nullptr);
    ~MailboxComm() override;

    // Connects the worker thread's start to the first poll and this object's
    // finished() to the thread's quit() and to deleteLater().
    void setupThread(QThread* thread);

    // Blocks the caller until doSetupOnNewThread() has opened the node and
    // scanned the slots once, or until the timeout passes; true when the
    // node is open.
    bool waitUntilOpen(int timeoutMs);
    bool isOpen() const { return m_fd.load() >= 0; }

    // Versions and BPM scale
    int readVersions(QString* hwTimestamp, QString* swVersion, QString* pidVersion);
    void setBpmScale(int bpm, double scaleX, double scaleY);

    // BPM front end, outputs, display rate, PID sources
    void setPidDivider(int channel, int divider);
    void setBpmChannelMap(int top, int right, int bottom, int left, int bpm);
    void setBpmOrientation(int orientation, int bpm);
    int setFeedbackEnabled(bool on);
    int setOutputsFromController(bool on);
    unsigned readOutputsFromController();
    void setDisplayFrequency(bool filterEnabled);
    double readDisplayFrequency(bool* filterEnabled = nullptr);
    int setBpmOffsets(int bpm, double offsetX, double offsetY);
    bool setPidSources(int xBpm, int yBpm, int i0Bpm);
    // Unacknowledged: all three outputs 0 and false. A source that names no
    // BPM (not 0 or 1) leaves its output as it was and gives false.
    bool readPidSources(int* xBpm, int* yBpm, int* i0Bpm);

    // PID controller
    int setPidParams(int channel, double kp, double ki, double kd, double eMin, double iMax,
                     double oMin, double oMax, double oGain);
    void setSetpointX(double x);
    void setSetpointY(double y);
    int setSetpoints(double x, double y, double i0);
    int readSetpoints(double* x, double* y, double* i0);
    void setRegulationMode(int mode);
    // A reply outside the modes 0 to 6 keeps the last known mode.
    int readRegulationMode();
    int setPidOffsets(double offX, double offY, double offI0);
    void setRocLimit(int index, double low, double high);
    // A reply outside the states 0 to 3 keeps the last known state.
    int readPidStatus();
    void applyPidParams(int channel);
    int resetPidController();
    void setDacAssignment(int dacX, int dacY, int dacI0);
    int setRocEnables(bool x1, bool y1, bool beamOff1, bool x2, bool y2, bool beamOff2);
    void readRocEnables(bool* x1, bool* y1, bool* beamOff1, bool* x2, bool* y2, bool* beamOff2);

    // SFP slots and picoammeter settings
    void scanSlots();
    int setHvEnabled(bool on, int pico);
    int setHvVoltage(int pico, float volts);
    void setPicoRange(int rangeIndex, int pico);

    // Values published by the poll, safe to read from any thread.
    std::array<zevo::SlotRecord, zevo::kSlotCount> slotRecords() const;
    zevo::MailboxStatusBlock statusBlock() const;
    int deviceCount() const { return m_deviceCount.load(); }
    bool pavunPresent() const { return m_pavunPresent.load() != 0; }
    int pidStatus() const { return m_pidStatus.load(); }

    // Last values sent or read back (GUI thread).
    double setpointCopyX() const { return m_setpointX; }
    double setpointCopyY() const { return m_setpointY; }
    double setpointCopyI0() const { return m_setpointI0; }
    int regulationModeCopy() const { return m_regulationMode; }

    // Emits nrDorvishsChanged() with the current device count.
    void announceDeviceCount();

    // Text of a controller version word: its bytes as decimals, lowest first,
    // "b0.b1.b2b3" (0x02000001 reads "1.0.02").
    static QString versionText(uint32_t word);

signals:
    void finished();
    void nrDorvishsChanged(int count);

public slots:
    void doSetupOnNewThread();
    void refreshData();

private:
    // One driver call: the message goes out and the reply comes back in it.
    int transfer(zevo::MailboxMessage& message);
    int sendToEachChannel(uint32_t command, const std::array<double, 3>& values);

    Driver& m_driver;
    QThread* m_thread = nullptr;
    QTimer* m_pollTimer = nullptr;
    std::atomic<int> m_fd{-1};
    QSemaphore m_opened;

    std::mutex m_scanMutex;            // one slot scan at a time
    mutable std::mutex m_publishMutex; // guards m_slots and m_status
    // Set by the worker thread as it ends; the destructor reads it, so that
    // the worker's last use of this object is ordered before its
    // destruction by more than Qt's own locks inside QThread::wait().
    std::atomic<bool> m_workerEnded{false};
    std::array<zevo::SlotRecord, zevo::kSlotCount> m_slots{};
    zevo::MailboxStatusBlock m_status{};

    std::atomic<int> m_deviceCount{0};
    std::atomic<int> m_pavunPresent{0};
    std::atomic<int> m_pidStatus{0};

    double m_setpointX = 0.0;
    double m_setpointY = 0.0;
    double m_setpointI0 = 0.0;
    int m_regulationMode = 0;
};
