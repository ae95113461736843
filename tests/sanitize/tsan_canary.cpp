// A data race of ours that the race checker must report under the options
// `make check-thread` runs with; tests/sanitize/expect-race runs each mode.
// Without it a run with no reports would not tell a clean program from a
// checker that misses races, or from options and suppressions that hide
// them.
//
//   plain       two threads of the standard library write one counter
//   event-loop  a functor posted to an object on a QThread writes the counter
//               while the GUI thread writes it too: the accesses come from
//               Qt's event loop, whose memory the run leaves unchecked, and
//               the functor is posted through the suppressed Qt function
//   poll-timer  a timer on a QThread writes the counter while the GUI thread
//               writes it, as the mailbox poll would without its mutex

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <thread>

// Outside the anonymous namespace, so that the compiler cannot drop the
// writes to a variable that nothing reads.
int raceCounter = 0;

namespace
{
// Named in the report; the test looks for this frame.
__attribute__((noinline)) void racyWrite(int value)
{
    raceCounter = value;
}

// Runs `work` on a QThread's event loop while this thread writes the counter,
// then ends the thread.
template <typename Start> int raceWithQThread(Start start)
{
    QThread worker;
    QObject context;
    context.moveToThread(&worker);
    worker.start();
    start(&context);
    // Both sides write for a while, so that the two writes overlap in time
    // whatever the scheduling; the checker reports them even when they do not.
    for (int i = 0; i < 200; ++i) {
        racyWrite(i);
        QThread::usleep(500);
    }
    worker.quit();
    worker.wait();
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const char* mode = argc > 1 ? argv[1] : "";

    if (std::strcmp(mode, "plain") == 0) {
        std::thread other([] { racyWrite(1); });
        racyWrite(2);
        other.join();
        return 0;
    }
    if (std::strcmp(mode, "event-loop") == 0) {
        return raceWithQThread([](QObject* context) {
            for (int i = 0; i < 50; ++i)
                QMetaObject::invokeMethod(
                    context, [i] { racyWrite(-i); }, Qt::QueuedConnection);
        });
    }
    if (std::strcmp(mode, "poll-timer") == 0) {
        return raceWithQThread([](QObject* context) {
            QMetaObject::invokeMethod(
                context,
                [] {
                    // Ends with its thread, on that thread.
                    auto* poll = new QTimer;
                    QObject::connect(poll, &QTimer::timeout, [] { racyWrite(-1); });
                    QObject::connect(QThread::currentThread(), &QThread::finished, poll,
                                     &QObject::deleteLater, Qt::DirectConnection);
                    poll->start(1);
                },
                Qt::QueuedConnection);
        });
    }
    std::fprintf(stderr, "usage: %s plain|event-loop|poll-timer\n", argv[0]);
    return 2;
}
