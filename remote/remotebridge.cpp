#include "remote/remotebridge.h"

#include "acquisition/postmortemcapture.h"
#include "acquisition/updater.h"
#include "analysis/realfft.h"
#include "analysis/stabilityanalysis.h"
#include "device/configstore.h"
#include "device/feedbackunits.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"

#include <QMetaObject>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>

const QString RemoteBridge::kRefusedText =
    QStringLiteral("Remote control is disabled on this controller");

namespace
{
RemoteBridge::Reply done()
{
    return {RemoteBridge::Outcome::Done, QString()};
}

RemoteBridge::Reply controllerFailed()
{
    return {RemoteBridge::Outcome::Failed,
            QStringLiteral("The controller did not take the request")};
}
} // namespace

// One request handed to the GUI thread. Exactly one side moves it out of
// Waiting: the GUI thread to Running (it will be carried out), or the waiting
// request thread or close() to Finished (it never will be).
struct RemoteBridge::Pending {
    enum class State { Waiting, Running, Finished };
    std::mutex mutex;
    std::condition_variable finished;
    State state = State::Waiting;
    Reply reply{Outcome::Closed, QString()};

    void finish(const Reply& r)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            state = State::Finished;
            reply = r;
        }
        finished.notify_all();
    }
};

RemoteBridge::RemoteBridge(DeviceNamer namer, QObject* parent)
    : QObject(parent), m_namer(std::move(namer)), m_timer(new QTimer(this)),
      m_fft(std::make_unique<RealFft>())
{
    connect(m_timer, &QTimer::timeout, this, &RemoteBridge::refresh);
}

RemoteBridge::~RemoteBridge()
{
    close();
}

RemoteSnapshot RemoteBridge::snapshot() const
{
    const std::lock_guard<std::mutex> lock(m_snapshotMutex);
    return m_snapshot;
}

void RemoteBridge::setControlAllowed(bool allowed)
{
    if (m_controlAllowed.exchange(allowed) == allowed)
        return;
    refresh();
    emit controlAllowedChanged(allowed);
}

void RemoteBridge::startSnapshots()
{
    refresh();
    m_timer->start(kSnapshotIntervalMs);
}

void RemoteBridge::setServerState(ServerState state, const QString& detail)
{
    m_serverState = state;
    m_serverDetail = detail;
    emit serverStateChanged();
}

QString RemoteBridge::modeName(int mode)
{
    if (!zevo::isRegulationMode(mode))
        return QString();
    // The loops that regulate, in the order X, Y, I0.
    const zevo::LoopSet loops = zevo::loopsOfMode(mode);
    QStringList names;
    if (loops.x)
        names << QStringLiteral("X");
    if (loops.y)
        names << QStringLiteral("Y");
    if (loops.i0)
        names << QStringLiteral("I0");
    return names.join(QLatin1Char(' '));
}

QString RemoteBridge::describe(const Request& request)
{
    switch (request.operation) {
    case Operation::FeedbackOn:
        return QStringLiteral("FeedbackOn");
    case Operation::FeedbackOff:
        return QStringLiteral("FeedbackOff");
    case Operation::ResetPid:
        return QStringLiteral("ResetPID");
    case Operation::SetpointX:
        return QStringLiteral("SetpointX = %1 um").arg(request.value);
    case Operation::SetpointY:
        return QStringLiteral("SetpointY = %1 um").arg(request.value);
    case Operation::SetpointI0:
        return QStringLiteral("SetpointI0 = %1 A").arg(request.value);
    case Operation::RegulationMode:
        return QStringLiteral("RegulationMode = %1 (%2)")
            .arg(int(request.value))
            .arg(modeName(int(request.value)));
    }
    return QString();
}

QString RemoteBridge::checkValue(const Request& request)
{
    const double v = request.value;
    switch (request.operation) {
    case Operation::SetpointX:
    case Operation::SetpointY:
        if (!std::isfinite(v) || std::fabs(v) > kSetpointLimitUm)
            return QStringLiteral("Position setpoints lie between -%1 and %1 um")
                .arg(kSetpointLimitUm);
        break;
    case Operation::SetpointI0:
        if (!std::isfinite(v) || v < 0.0 || v > kSetpointI0MaxA)
            return QStringLiteral("The I0 setpoint lies between 0 and %1 A").arg(kSetpointI0MaxA);
        break;
    case Operation::RegulationMode:
        if (!(v >= zevo::MODE_X && v <= zevo::MODE_I0) || v != std::floor(v))
            return QStringLiteral("The regulation mode is a number from 0 to 6");
        break;
    default:
        break;
    }
    return QString();
}

RemoteBridge::Reply RemoteBridge::perform(const Request& request, const QString& client,
                                          int timeoutMs)
{
    // Refused before anything is queued: nothing reaches the GUI thread or
    // the controller.
    if (!controlAllowed())
        return {Outcome::Refused, kRefusedText};
    const QString problem = checkValue(request);
    if (!problem.isEmpty())
        return {Outcome::Invalid, problem};

    auto pending = std::make_shared<Pending>();
    {
        const std::lock_guard<std::mutex> lock(m_pendingMutex);
        if (m_closed)
            return {Outcome::Closed, QStringLiteral("The program is shutting down")};
        m_pending.push_back(pending);
    }
    // The bridge is the context: if it is gone, the call is dropped with it.
    QMetaObject::invokeMethod(
        this, [this, pending, request, client] { run(pending, request, client); },
        Qt::QueuedConnection);

    Reply reply;
    {
        std::unique_lock<std::mutex> lock(pending->mutex);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        const auto isFinished = [&] { return pending->state == Pending::State::Finished; };
        if (!pending->finished.wait_until(lock, deadline, isFinished)) {
            if (pending->state == Pending::State::Waiting) {
                // Never carried out: the GUI thread will find it finished.
                pending->state = Pending::State::Finished;
                pending->reply = {Outcome::Busy,
                                  QStringLiteral("The program is busy (a measurement may be "
                                                 "running); the request was not carried out")};
            } else {
                // Being carried out: a mailbox operation takes milliseconds,
                // and close() cannot run meanwhile (both are on the GUI thread).
                pending->finished.wait(lock, isFinished);
            }
        }
        reply = pending->reply;
    }
    const std::lock_guard<std::mutex> lock(m_pendingMutex);
    m_pending.erase(std::remove(m_pending.begin(), m_pending.end(), pending), m_pending.end());
    return reply;
}

void RemoteBridge::close()
{
    const std::lock_guard<std::mutex> lock(m_pendingMutex);
    m_closed = true;
    for (const auto& pending : m_pending) {
        const std::lock_guard<std::mutex> pendingLock(pending->mutex);
        if (pending->state == Pending::State::Waiting) {
            pending->state = Pending::State::Finished;
            pending->reply = {Outcome::Closed, QStringLiteral("The program is shutting down")};
            pending->finished.notify_all();
        }
    }
}

void RemoteBridge::run(const std::shared_ptr<Pending>& pending, const Request& request,
                       const QString& client)
{
    {
        const std::lock_guard<std::mutex> lock(pending->mutex);
        if (pending->state != Pending::State::Waiting)
            return; // given up by its client or by close()
        pending->state = Pending::State::Running;
    }
    // The operator may have switched control off while the request waited.
    const Reply reply = controlAllowed() ? execute(request) : Reply{Outcome::Refused, kRefusedText};
    if (reply.outcome == Outcome::Done) {
        const QString text =
            QStringLiteral("Remote write from %1: %2").arg(client, describe(request));
        std::printf("%s\n", qPrintable(text));
        std::fflush(stdout);
        emit writeAccepted(text);
        refresh();
    }
    pending->finish(reply);
}

RemoteBridge::Reply RemoteBridge::execute(const Request& request)
{
    if (!theMailbox || !theMailbox->isOpen())
        return {Outcome::Failed, QStringLiteral("There is no controller: the mailbox is not open")};

    switch (request.operation) {
    case Operation::FeedbackOn:
    case Operation::FeedbackOff:
        if (theMailbox->setFeedbackEnabled(request.operation == Operation::FeedbackOn) < 0)
            return controllerFailed();
        // The panel's lamp and button show the new state without waiting
        // for the next poll.
        theMailbox->readPidStatus();
        emit feedbackSwitched();
        return done();
    case Operation::ResetPid:
        return theMailbox->resetPidController() < 0 ? controllerFailed() : done();
    case Operation::SetpointX:
    case Operation::SetpointY:
    case Operation::SetpointI0: {
        // The controller takes all three setpoints at once, as from the
        // panel; the loops not written keep what the controller holds.
        double x = theMailbox->setpointCopyX();
        double y = theMailbox->setpointCopyY();
        double i0 = theMailbox->setpointCopyI0();
        theMailbox->readSetpoints(&x, &y, &i0);
        if (request.operation == Operation::SetpointX)
            x = feedbackunits::setpointXToRaw(request.value);
        else if (request.operation == Operation::SetpointY)
            y = feedbackunits::setpointYToRaw(request.value);
        else
            i0 = request.value;
        if (theMailbox->setSetpoints(x, y, i0) < 0)
            return controllerFailed();
        emit setpointsChanged();
        return done();
    }
    case Operation::RegulationMode: {
        const int mode = int(request.value);
        theMailbox->setRegulationMode(mode);
        emit regulationModeChanged(mode);
        return done();
    }
    }
    return controllerFailed();
}

void RemoteBridge::refresh()
{
    const RemoteSnapshot fresh = collect();
    const std::lock_guard<std::mutex> lock(m_snapshotMutex);
    m_snapshot = fresh;
}

RemoteSnapshot RemoteBridge::collect()
{
    RemoteSnapshot s;
    s.userLevel = userLevel;
    s.controlAllowed = controlAllowed();
    s.hwTimestamp = controllerVersions.hwTimestamp;
    s.swVersion = controllerVersions.swVersion;
    s.pidVersion = controllerVersions.pidVersion;

    const bool encoder = theMailbox && theMailbox->pavunPresent();
    if (theMailbox && theMailbox->isOpen()) {
        s.controllerPresent = true;
        const zevo::MailboxStatusBlock block = theMailbox->statusBlock();
        const bool secondBpm = theMailbox->deviceCount() == 2 && !encoder;
        for (int b = 0; b < 2; ++b) {
            const zevo::BpmStatistics& in = block.bpm[b];
            RemoteSnapshot::Bpm& out = s.bpm[std::size_t(b)];
            out.present = b == 0 || secondBpm;
            out.intensity = !encoder;
            out.x = feedbackunits::xMicrometres(in.xMean, b);
            out.xStdDev = feedbackunits::xMicrometres(in.xStd, b);
            out.y = feedbackunits::yMicrometres(in.yMean, b);
            out.yStdDev = feedbackunits::yMicrometres(in.yStd, b);
            out.i0 = in.i0Mean;
            out.i0StdDev = in.i0Std;
        }
        s.pidStatus = theMailbox->pidStatus();

        double x = 0.0, y = 0.0, i0 = 0.0;
        if (theMailbox->readSetpoints(&x, &y, &i0) >= 0) {
            s.setpointsKnown = true;
            s.setpointX = feedbackunits::setpointXFromRaw(x);
            s.setpointY = feedbackunits::setpointYFromRaw(y);
            s.setpointI0 = i0;
        }
        const int mode = theMailbox->readRegulationMode();
        s.regulationMode = zevo::isRegulationMode(mode) ? mode : -1;

        const auto records = theMailbox->slotRecords();
        for (std::size_t slot = 0; slot < records.size(); ++slot) {
            const uint16_t id = records[slot].deviceId;
            if (id != m_namedIds[slot]) {
                // The catalogue is looked up only when a slot's device changes.
                m_namedIds[slot] = id;
                m_names[slot] = id != 0 && m_namer ? m_namer(id) : QString();
            }
            s.slotIds[slot] = id;
            s.slotNames[slot] = m_names[slot];
        }
    }

    if (theUpdater && theUpdater->recordCount() > 0) {
        const zevo::DisplayRecord& newest = theUpdater->records()[theUpdater->recordCount() - 1];
        // An encoder interface uses the third output's field for itself.
        s.dacCount = encoder ? 2 : 3;
        for (int k = 0; k < s.dacCount; ++k)
            s.dac[std::size_t(k)] = newest.value[zevo::disp::Dac1 + k];
        collectStability(s);
    }
    if (m_postMortem) {
        s.postMortemLast = m_postMortem->lastEventText();
        s.postMortemCount = m_postMortem->eventsSinceStart();
    }
    return s;
}

void RemoteBridge::collectStability(RemoteSnapshot& s)
{
    const int bpmX = pidSourceX, bpmY = pidSourceY;
    const zevo::DisplayRecord* records = theUpdater->records();
    const int n = theUpdater->recordCount();
    s.stabilityBandEdges =
        theConfig ? theConfig->getStability().bandEdges : StabilitySettings::defaultBandEdges();
    s.stabilityBandRmsX =
        stability::bandRms(stability::welchOfField(records, n, zevo::disp::bpmX(bpmX),
                                                   bpmScale.x(bpmX), SAMP_FREQ, *m_fft),
                           s.stabilityBandEdges);
    s.stabilityBandRmsY =
        stability::bandRms(stability::welchOfField(records, n, zevo::disp::bpmY(bpmY),
                                                   bpmScale.y(bpmY), SAMP_FREQ, *m_fft),
                           s.stabilityBandEdges);
}
