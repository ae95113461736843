#pragma once

#include "remote/remotesnapshot.h"

class PostMortemCapture;

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QTimer;
class RealFft;

// The GUI-thread side of the remote interface, free of the control system's
// libraries. It publishes what remote clients may read as one snapshot,
// renewed at the mailbox poll rate and after every remote write, and it
// carries out their writes and commands on the GUI thread with the feedback
// panel's operations and units, so that the local windows show them at once.
//
// The server's request threads call snapshot(), controlAllowed() and
// perform(); everything else belongs to the GUI thread. perform() never
// blocks the GUI thread and never waits without a limit: a request that the
// GUI thread cannot take in time (a measurement holds it) is dropped, not
// carried out late.
class RemoteBridge : public QObject
{
    Q_OBJECT

public:
    enum class Operation {
        FeedbackOn,
        FeedbackOff,
        ResetPid,
        SetpointX,     // micrometres
        SetpointY,     // micrometres
        SetpointI0,    // amperes
        RegulationMode // 0 to 6
    };
    struct Request {
        Operation operation;
        double value = 0.0;
    };

    enum class Outcome {
        Done,
        Refused, // remote control is not allowed
        Invalid, // the value is out of range
        Failed,  // the controller did not take it
        Busy,    // the GUI thread did not take it in time; nothing was done
        Closed,  // the program is ending; nothing was done
    };
    struct Reply {
        Outcome outcome;
        QString message; // for the client; empty when done
    };

    // The answer to every write and command while control is not allowed.
    static const QString kRefusedText;
    static constexpr int kRequestTimeoutMs = 2000;
    static constexpr int kSnapshotIntervalMs = 1000;
    // Limits of the entries, the same as the feedback panel's fields.
    static constexpr double kSetpointLimitUm = 10000.0;
    static constexpr double kSetpointI0MaxA = 1.0;

    enum class ServerState { Off, Running, Failed };

    // Name of the device with this identifier in an SFP slot.
    using DeviceNamer = std::function<QString(uint16_t id)>;

    explicit RemoteBridge(DeviceNamer namer = {}, QObject* parent = nullptr);

    // Where the snapshot takes the last post-mortem capture from.
    void setPostMortem(const PostMortemCapture* capture) { m_postMortem = capture; }
    ~RemoteBridge() override;

    // Any thread.
    RemoteSnapshot snapshot() const;
    bool controlAllowed() const { return m_controlAllowed.load(); }
    // Any thread but the GUI thread: hands the request to the GUI thread and
    // waits for its outcome at most timeoutMs. `client` names the caller in
    // the log.
    Reply perform(const Request& request, const QString& client, int timeoutMs = kRequestTimeoutMs);

    // GUI thread.
    void setControlAllowed(bool allowed);
    // Renews the snapshot now and then at the poll rate.
    void startSnapshots();
    // Ends every wait at once; later requests are answered Closed. Called
    // before the server stops, so that no request thread waits for a GUI
    // thread that waits for the server.
    void close();
    void setServerState(ServerState state, const QString& detail);
    ServerState serverState() const { return m_serverState; }
    // The server's address while it runs, why it does not run otherwise.
    QString serverDetail() const { return m_serverDetail; }

    // The loops that regulate in a mode, "X Y I0" for 5; empty for no mode.
    static QString modeName(int mode);
    // "SetpointX = 12.5 um": how a request is logged.
    static QString describe(const Request& request);
    // Empty when the request's value is acceptable, else why not.
    static QString checkValue(const Request& request);

public slots:
    void refresh();

signals:
    // An accepted remote write, described for the operator.
    void writeAccepted(const QString& text);
    void feedbackSwitched();
    void setpointsChanged();
    void regulationModeChanged(int mode);
    void controlAllowedChanged(bool allowed);
    void serverStateChanged();

private:
    struct Pending;
    void run(const std::shared_ptr<Pending>& pending, const Request& request,
             const QString& client);
    Reply execute(const Request& request);
    RemoteSnapshot collect();
    void collectStability(RemoteSnapshot& s);

    DeviceNamer m_namer;
    const PostMortemCapture* m_postMortem = nullptr;
    QTimer* m_timer;
    std::atomic<bool> m_controlAllowed{false};

    mutable std::mutex m_snapshotMutex;
    RemoteSnapshot m_snapshot;

    std::mutex m_pendingMutex; // guards m_pending and m_closed
    std::vector<std::shared_ptr<Pending>> m_pending;
    bool m_closed = false;

    ServerState m_serverState = ServerState::Off;
    QString m_serverDetail;
    // Slot names looked up for these identifiers.
    std::array<uint16_t, 4> m_namedIds{};
    std::array<QString, 4> m_names{};
    // For the stability bands; used on the GUI thread only.
    std::unique_ptr<RealFft> m_fft;
};
