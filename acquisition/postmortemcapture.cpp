#include "acquisition/postmortemcapture.h"

#include "acquisition/updater.h"
#include "analysis/recordjoin.h"
#include "device/configstore.h"
#include "device/feedbackunits.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/version.h"
#include "export/displaycsv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostInfo>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{
constexpr int kWorkerNice = 10;
// The display cycle has drawn its charts well within this time.
constexpr int kHandOverDelayMs = 100;

// The poll reads the status once a second and the display cycle comes once a
// second: the trip lies at most this long before the end of the first read.
constexpr double kSearchSeconds = 3.0;

QString limitName(int bpm, int axis)
{
    return QStringLiteral("BPM%1 %2")
        .arg(bpm + 1)
        .arg(axis == 0 ? QLatin1Char('X') : QLatin1Char('Y'));
}

// The event at record i of the first read, whose newest record came at
// detection: the event time moves back by the records in between.
void markEvent(PostMortemRecord& r, int i)
{
    r.eventIndex = i;
    r.eventFromData = true;
    const double back = double(r.firstReadRecords - 1 - i) / std::max(1, r.sampFreq);
    r.eventTime = r.eventTime.addMSecs(-std::llround(1000.0 * back));
}

// The first record of the last seconds of the first read in which a limit
// in force is crossed as the cause says; sets the record's event.
void locateEvent(PostMortemRecord& r)
{
    using namespace displaycsv;
    const int end = r.firstReadRecords;
    r.eventIndex = std::max(0, end - 1);
    const int begin = std::max(0, end - int(kSearchSeconds * std::max(1, r.sampFreq)));
    const bool roc = r.cause == feedbackunits::stateText(zevo::PID_STATUS_FAULT_ROC);
    const bool beam = r.cause == feedbackunits::stateText(zevo::PID_STATUS_BEAM_OFF);
    const Column positions[2][2] = {{Bpm1PosX, Bpm1PosY}, {Bpm2PosX, Bpm2PosY}};
    const Column intensities[2] = {Bpm1I0, Bpm2I0};
    for (int i = begin; i < end && (roc || beam); ++i) {
        const zevo::DisplayRecord& record = r.records[std::size_t(i)];
        for (int bpm = 0; bpm < 2; ++bpm) {
            if (beam && r.rocEnabled[std::size_t(zevo::rocIndex(bpm, 2))] &&
                columnValue(record, intensities[bpm], r.settings.scale) <
                    r.beamOffLimitA[std::size_t(bpm)]) {
                r.location = QStringLiteral("BPM%1 I0").arg(bpm + 1);
                return markEvent(r, i);
            }
            for (int axis = 0; roc && axis < 2; ++axis) {
                const double limit = r.rocLimitUm[std::size_t(2 * bpm + axis)];
                if (r.rocEnabled[std::size_t(zevo::rocIndex(bpm, axis))] && limit > 0 &&
                    std::abs(columnValue(record, positions[bpm][axis], r.settings.scale)) > limit) {
                    r.location = limitName(bpm, axis);
                    return markEvent(r, i);
                }
            }
        }
    }
}

// Removes the oldest capture files beyond `keep`.
void prune(const QString& folder, int keep)
{
    QDir dir(folder);
    const QStringList files = dir.entryList({QStringLiteral("postmortem_*.nxs")}, QDir::Files,
                                            QDir::Name | QDir::Reversed);
    for (int i = keep; i < files.size(); ++i)
        dir.remove(files[i]);
}
} // namespace

namespace postmortem
{
PostMortemEvent write(PostMortemRecord& r, const std::vector<zevo::DisplayRecord>& first,
                      const std::vector<zevo::DisplayRecord>& second, const QString& folder,
                      int keep)
{
    r.firstReadRecords = int(first.size());
    r.secondReadRecords = int(second.size());
    const int expected = int(std::lround(r.postTriggerSeconds * std::max(1, r.sampFreq)));
    recordjoin::Joined joined = recordjoin::join(first.data(), int(first.size()), second.data(),
                                                 int(second.size()), expected);
    r.records = std::move(joined.records);
    r.shift = joined.shift;
    r.secondSegment = joined.secondSegment;
    locateEvent(r);

    PostMortemEvent event;
    event.time = r.eventTime;
    event.cause = r.cause;
    event.location = r.location;
    event.path = QDir(folder).filePath(postmortemfile::fileName(r.eventTime));
    if (!QDir().mkpath(folder)) {
        event.reason = QStringLiteral("the folder %1 cannot be created").arg(folder);
        return event;
    }
    event.saved = postmortemfile::write(event.path, r, &event.reason);
    if (event.saved)
        prune(folder, keep);
    return event;
}
} // namespace postmortem

const QString PostMortemCapture::kCauseOperator = QStringLiteral("Capture now");

struct PostMortemCapture::Pending {
    PostMortemRecord record;
    Buffer first;
    double due = 0.0;
    bool waitedOneCycle = false;
    QString folder;
    int keep = 200;
};

PostMortemCapture::PostMortemCapture(QObject* parent)
    : QObject(parent), m_thread(new QThread(this)), m_worker(new QObject)
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    m_clock = [timer] { return double(timer->nsecsElapsed()) * 1e-9; };
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    // The files are written at a lower priority than the display cycle; on a
    // loaded two-core machine the cycle keeps its core.
    connect(m_thread, &QThread::started, m_worker,
            [] { setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), kWorkerNice); });
    m_thread->start();
    // Buffers for one capture's two reads, their pages touched now: memory
    // fresh from the system would cost the display cycle more than the copy.
    const int records = std::clamp(BUFFER_BYTES / zevo::kDisplayRecordBytes, 1,
                                   int(Updater::kBufferCapacityRecords));
    for (int k = 0; k < 2; ++k) {
        auto buffer = std::make_shared<std::vector<zevo::DisplayRecord>>(std::size_t(records));
        buffer->clear(); // keeps its memory
        m_spare.push_back(buffer);
    }
    if (theUpdater)
        connect(theUpdater, &Updater::replotGraphs, this, &PostMortemCapture::displayCycle);
}

PostMortemSettings PostMortemCapture::settingsInForce()
{
    return theConfig ? theConfig->getPostMortem() : PostMortemSettings();
}

PostMortemCapture::~PostMortemCapture()
{
    m_thread->quit();
    m_thread->wait();
    // Nothing captured is lost at the end: what waits for its second read
    // takes it now, and what the worker has not written yet is written here.
    if (theUpdater) {
        for (std::unique_ptr<Pending>& p : m_waiting)
            m_handing.push_back({std::shared_ptr<Pending>(p.release()), takeBuffer()});
    }
    {
        const std::lock_guard<std::mutex> lock(m_queueMutex);
        m_jobs.insert(m_jobs.end(), m_handing.begin(), m_handing.end());
    }
    runJobs();
}

void PostMortemCapture::displayCycle()
{
    if (!theMailbox || !theUpdater)
        return;
    const int status = theMailbox->pidStatus();
    if (m_lastStatus == zevo::PID_STATUS_ON &&
        (status == zevo::PID_STATUS_FAULT_ROC || status == zevo::PID_STATUS_BEAM_OFF) &&
        settingsInForce().enabled)
        start(feedbackunits::stateText(status), m_lastStatus, status);
    m_lastStatus = status;

    const double now = m_clock();
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        Pending& p = **it;
        if (!p.waitedOneCycle || now < p.due) {
            p.waitedOneCycle = true;
            ++it;
            continue;
        }
        const Buffer second = takeBuffer();
        std::shared_ptr<Pending> job(it->release());
        it = m_waiting.erase(it);
        ++m_writing;
        // Handed over once this cycle has drawn: the worker thread waking
        // while the charts draw could take the core from them for a time
        // slice.
        m_handing.push_back({job, second});
        QTimer::singleShot(kHandOverDelayMs, this, &PostMortemCapture::handOver);
    }
}

void PostMortemCapture::handOver()
{
    if (m_handing.empty())
        return;
    {
        const std::lock_guard<std::mutex> lock(m_queueMutex);
        m_jobs.push_back(std::move(m_handing.front()));
    }
    m_handing.pop_front();
    QMetaObject::invokeMethod(m_worker, [this] { runJobs(); });
}

void PostMortemCapture::runJobs()
{
    for (;;) {
        Job job;
        {
            const std::lock_guard<std::mutex> lock(m_queueMutex);
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        Pending& p = *job.pending;
        const PostMortemEvent event =
            postmortem::write(p.record, *p.first, *job.second, p.folder, p.keep);
        p.record.records = {}; // the joined series, freed here
        {
            const std::lock_guard<std::mutex> lock(m_queueMutex);
            m_done.push_back({event, p.first, job.second});
        }
        job = {};
        // Queued also when the destructor writes the last captures itself:
        // by then nobody listens.
        QMetaObject::invokeMethod(
            this, [this] { collectDone(); }, Qt::QueuedConnection);
    }
}

void PostMortemCapture::collectDone()
{
    std::deque<Done> done;
    {
        const std::lock_guard<std::mutex> lock(m_queueMutex);
        done.swap(m_done);
    }
    for (Done& d : done) {
        m_spare.push_back(std::move(d.first));
        m_spare.push_back(std::move(d.second));
        finish(d.event);
    }
}

void PostMortemCapture::captureNow()
{
    const int status = theMailbox ? theMailbox->pidStatus() : zevo::PID_STATUS_OFF;
    start(kCauseOperator, status, status);
}

void PostMortemCapture::start(const QString& cause, int statusBefore, int statusAfter)
{
    if (!theUpdater)
        return;
    const PostMortemSettings settings = settingsInForce();
    auto p = std::make_unique<Pending>();
    p->folder = settings.folder;
    p->keep = settings.keep;
    p->due = m_clock() + settings.postTriggerSeconds;
    PostMortemRecord& r = p->record;
    r.eventTime = QDateTime::currentDateTimeUtc();
    r.cause = cause;
    r.statusBefore = statusBefore;
    r.statusAfter = statusAfter;
    p->first = takeBuffer();
    r.sampFreq = SAMP_FREQ;
    r.postTriggerSeconds = settings.postTriggerSeconds;
    r.settings = nexus::currentSettings(QHostInfo::localHostName(), zevo::programVersion());
    if (theMailbox) {
        r.encoder = theMailbox->pavunPresent();
        r.regulationMode = theMailbox->regulationModeCopy();
        // As sent: X and Y in controller units of the BPM feeding each loop.
        r.setpoints = {feedbackunits::setpointXFromRaw(theMailbox->setpointCopyX()),
                       feedbackunits::setpointYFromRaw(theMailbox->setpointCopyY()),
                       theMailbox->setpointCopyI0()};
        r.statistics = theMailbox->statusBlock();
        bool on[6] = {};
        theMailbox->readRocEnables(&on[0], &on[1], &on[2], &on[3], &on[4], &on[5]);
        std::copy(std::begin(on), std::end(on), r.rocEnabled.begin());
    }
    if (theConfig) {
        for (int bpm = 0; bpm < 2; ++bpm) {
            double roiX = 0, roiY = 0, i0Min = 0, i0Max = 0, roc = 0, threshold = 0;
            theConfig->getRocRoi(&roiX, &roiY, &i0Min, &i0Max, &roc, bpm);
            r.rocLimitUm[std::size_t(2 * bpm)] = roiX * roc / 100.0;
            r.rocLimitUm[std::size_t(2 * bpm + 1)] = roiY * roc / 100.0;
            theConfig->getBeamThreshold(&threshold, bpm);
            r.beamOffLimitA[std::size_t(bpm)] = threshold * 1e-6;
        }
    }
    m_waiting.push_back(std::move(p));
}

PostMortemCapture::Buffer PostMortemCapture::takeBuffer()
{
    Buffer buffer;
    if (m_spare.empty()) {
        buffer = std::make_shared<std::vector<zevo::DisplayRecord>>();
    } else {
        buffer = m_spare.back();
        m_spare.pop_back();
    }
    buffer->assign(theUpdater->records(), theUpdater->records() + theUpdater->recordCount());
    return buffer;
}

void PostMortemCapture::finish(const PostMortemEvent& event)
{
    --m_writing;
    ++m_sinceStart;
    m_lastText = event.time.toUTC().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + event.cause;
    m_runEvents.insert(m_runEvents.begin(), event);
    emit captured(event);
}

std::vector<PostMortemEvent> PostMortemCapture::events()
{
    const QString folder = settingsInForce().folder;
    if (folder != m_folderRead) {
        m_folderRead = folder;
        m_folderEvents.clear();
        QDir dir(folder);
        const QStringList files = dir.entryList({QStringLiteral("postmortem_*.nxs")}, QDir::Files,
                                                QDir::Name | QDir::Reversed);
        for (const QString& name : files) {
            const PostMortemSummary s = postmortemfile::readSummary(dir.filePath(name));
            if (!s.valid)
                continue;
            PostMortemEvent e;
            e.time = s.eventTime;
            e.cause = s.cause;
            e.location = s.location;
            e.path = s.path;
            e.saved = true;
            m_folderEvents.push_back(e);
        }
    }
    // Files beyond Keep go as captures are written.
    const auto gone = [](const PostMortemEvent& e) {
        return e.saved && !QFileInfo::exists(e.path);
    };
    m_folderEvents.erase(std::remove_if(m_folderEvents.begin(), m_folderEvents.end(), gone),
                         m_folderEvents.end());
    std::vector<PostMortemEvent> all = m_runEvents;
    all.erase(std::remove_if(all.begin(), all.end(), gone), all.end());
    for (const PostMortemEvent& e : m_folderEvents) {
        const bool listed = std::any_of(all.begin(), all.end(), [&e](const PostMortemEvent& r) {
            return r.saved && r.path == e.path;
        });
        if (!listed)
            all.push_back(e);
    }
    std::stable_sort(
        all.begin(), all.end(),
        [](const PostMortemEvent& a, const PostMortemEvent& b) { return a.time > b.time; });
    return all;
}
