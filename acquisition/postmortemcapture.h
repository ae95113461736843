#pragma once

// Captures what the beam did around a trip of the feedback: when the polled
// PID status goes from "Feedback ON" to "FAULT: Out of ROC" or "Beam OFF"
// (or the operator asks), the display buffer of that cycle is kept; the
// post-trigger delay later it is read again, and a worker thread joins the
// two reads (analysis/recordjoin), finds the event in the data and writes
// one NeXus file (export/postmortemfile) into the [PostMortem] folder,
// removing the oldest files beyond Keep.
//
// The display cycle only copies the buffer (two copies per capture, into
// buffers kept from capture to capture); the join and the file happen on
// the worker, at a lower priority. Captures wait in order: a second
// trip while one is written is queued, never dropped. A file that cannot be
// written still gives an event, "not saved" with the reason.

#include "device/postmortemsettings.h"
#include "export/postmortemfile.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

class QThread;

struct PostMortemEvent {
    QDateTime time;
    QString cause;
    QString location; // "BPM1 X" where a limit was crossed
    QString path;     // the file, or where it would have gone
    bool saved = false;
    QString reason; // why it was not saved
};

class PostMortemCapture : public QObject
{
    Q_OBJECT

public:
    static const QString kCauseOperator; // "Capture now"

    explicit PostMortemCapture(QObject* parent = nullptr);

    // The [PostMortem] group as stored now; the defaults without a store.
    static PostMortemSettings settingsInForce();
    ~PostMortemCapture() override;

    // Seconds on the clock that times the post-trigger delay; the monotonic
    // clock unless a test sets another.
    void setClock(std::function<double()> clock) { m_clock = std::move(clock); }

    // Events since start and those whose files are in the folder, newest
    // first, each listed once; files removed since are left out.
    std::vector<PostMortemEvent> events();
    int eventsSinceStart() const { return m_sinceStart; }
    // "<UTC time> <cause>" of the newest capture since start; empty before.
    const QString& lastEventText() const { return m_lastText; }
    // Captures waiting for their second read or being written.
    int pending() const { return int(m_waiting.size()) + m_writing; }

public slots:
    // Checks the PID status and takes the second reads that are due; called
    // after every display cycle.
    void displayCycle();
    void captureNow();

signals:
    void captured(const PostMortemEvent& event);

private:
    struct Pending;
    using Buffer = std::shared_ptr<std::vector<zevo::DisplayRecord>>;

    // A copy of the display updater's last fetch, in a spare buffer if any.
    Buffer takeBuffer();
    // Gives the oldest capture with both reads to the worker thread.
    void handOver();
    // Worker thread: writes the captures handed over, in order.
    void runJobs();
    // GUI thread: the captures written.
    void collectDone();
    void start(const QString& cause, int statusBefore, int statusAfter);
    void finish(const PostMortemEvent& event);

    std::function<double()> m_clock;
    QThread* m_thread;
    QObject* m_worker; // lives on m_thread
    std::list<std::unique_ptr<Pending>> m_waiting;
    std::vector<Buffer> m_spare; // of captures written, for the next reads

    // Between the GUI thread and the worker, under a lock of the standard
    // library that the thread checker of the test suite can see.
    struct Job {
        std::shared_ptr<Pending> pending;
        Buffer second;
    };
    struct Done {
        PostMortemEvent event;
        Buffer first, second;
    };
    std::deque<Job> m_handing; // both reads taken, not yet handed over
    std::mutex m_queueMutex;
    std::deque<Job> m_jobs;
    std::deque<Done> m_done;
    int m_writing = 0;
    int m_lastStatus = -1;
    int m_sinceStart = 0;
    QString m_lastText;
    std::vector<PostMortemEvent> m_runEvents; // this run's, newest first
    // The events whose files were in the folder `m_folderRead` when it was
    // first listed; read again when the settings name another folder.
    QString m_folderRead;
    std::vector<PostMortemEvent> m_folderEvents;
};

namespace postmortem
{
// Joins the two reads of a capture into its record's series, finds the
// event and writes the file into `folder`, keeping at most `keep` files.
// Runs on the worker thread; exposed for the tests.
PostMortemEvent write(PostMortemRecord& record, const std::vector<zevo::DisplayRecord>& first,
                      const std::vector<zevo::DisplayRecord>& second, const QString& folder,
                      int keep);
} // namespace postmortem
