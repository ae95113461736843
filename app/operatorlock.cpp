#include "app/operatorlock.h"

#include <QFile>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The signal handler reads these, so they must be lock-free atomics.
static_assert(std::atomic<int>::is_always_lock_free, "the SIGUSR1 handler needs lock-free ints");

// Descriptor of the lock file the handler releases.
std::atomic<int> g_lockFd{-1};

// Self-pipe from the handler to the GUI thread. Created once and kept for the
// life of the process, so the handler can never write to a closed or reused
// descriptor.
std::mutex g_pipeMutex;
int g_wakeReadFd = -1;
std::atomic<int> g_wakeWriteFd{-1};

// Pause between two attempts, and how often a holder that has not let go yet
// is asked again (a signal per attempt would flood it).
constexpr useconds_t kRetryPauseUs = 1000;
constexpr std::chrono::milliseconds kResendInterval{200};

struct flock wholeFile(short type)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

void printLine(const char* text)
{
    std::printf("%s\n", text);
    std::fflush(stdout);
}

bool ensureWakeupPipe()
{
    std::lock_guard<std::mutex> guard(g_pipeMutex);
    if (g_wakeReadFd < 0) {
        int fds[2];
        if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
            return false;
        g_wakeReadFd = fds[0];
        g_wakeWriteFd.store(fds[1]);
    }
    return true;
}

} // namespace

int openOperatorLockFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_SYNC, 0666);
    if (fd < 0)
        return -1;
    // The umask would otherwise keep other users' instances from locking it.
    fchmod(fd, 0666);
    return fd;
}

void closeOperatorLockFile(int fd)
{
    if (fd < 0)
        return;
    int handled = fd;
    g_lockFd.compare_exchange_strong(handled, -1);
    ::close(fd);
}

int acquireOperatorLock(int fd, int timeoutMs, int* holderPid)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point lastRequest;
    pid_t asked = 0;
    if (holderPid)
        *holderPid = 0;

    for (;;) {
        printLine(".");
        struct flock lock = wholeFile(F_WRLCK);
        if (fcntl(fd, F_SETLK, &lock) == 0)
            break;

        const int error = errno;
        printLine("Error getting lock");
        errno = error;
        std::perror("fcntl()");
        // Linux reports a holder as EAGAIN, other systems may say EACCES.
        if (error != EAGAIN && error != EACCES) {
            errno = error;
            return kOperatorLockError;
        }

        struct flock holder = wholeFile(F_WRLCK);
        // A holder outside our PID namespace shows as 0: never kill(0) or
        // kill(-1), which would signal whole process groups.
        if (fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK && holder.l_pid > 0) {
            if (holderPid)
                *holderPid = holder.l_pid;
            const Clock::time_point now = Clock::now();
            if (holder.l_pid != asked || now - lastRequest >= kResendInterval) {
                std::printf("Sending signal to PID %d\n", static_cast<int>(holder.l_pid));
                std::fflush(stdout);
                kill(holder.l_pid, SIGUSR1);
                asked = holder.l_pid;
                lastRequest = now;
            }
        }

        if (Clock::now() - start >= std::chrono::milliseconds(timeoutMs)) {
            errno = EAGAIN;
            return kOperatorLockHeldElsewhere;
        }
        usleep(kRetryPauseUs);
    }

    printLine("Got lock");
    return kOperatorLockTaken;
}

int releaseOperatorLock(int fd)
{
    struct flock lock = wholeFile(F_UNLCK);
    return fcntl(fd, F_SETLK, &lock);
}

void lock_sigaction(int, siginfo_t*, void*)
{
    // Only async-signal-safe calls here; the level change happens on the GUI
    // thread once it reads the byte.
    const int savedErrno = errno;
    const int fd = g_lockFd.load();
    if (fd >= 0)
        releaseOperatorLock(fd);
    const int wake = g_wakeWriteFd.load();
    if (wake >= 0) {
        const char byte = 1;
        // A full pipe already holds a pending wake-up.
        const ssize_t written = write(wake, &byte, 1);
        (void)written;
    }
    errno = savedErrno;
}

bool installOperatorLockHandler(int fd)
{
    // The pipe exists before the handler, so a request that comes before the
    // OperatorLock is created still reaches it.
    const bool piped = ensureWakeupPipe();
    g_lockFd.store(fd);

    struct sigaction action = {};
    action.sa_sigaction = lock_sigaction;
    sigemptyset(&action.sa_mask);
    // SA_RESTART: the signal may land on any thread, e.g. in the middle of a
    // driver read on the mailbox thread, which must not fail with EINTR.
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    return sigaction(SIGUSR1, &action, nullptr) == 0 && piped;
}

OperatorLock::OperatorLock(QObject* parent) : QObject(parent)
{
    if (!ensureWakeupPipe())
        return;
    m_notifier = new QSocketNotifier(g_wakeReadFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &OperatorLock::drainWakeups);
}

OperatorLock::~OperatorLock() = default;

QString OperatorLock::heldElsewhereMessage(int holderPid)
{
    if (holderPid > 0)
        return tr("The operator lock is held by another instance (PID %1) that does not release "
                  "it.\nThe user level was not changed.")
            .arg(holderPid);
    return tr("The operator lock is held by another instance that does not release it.\n"
              "The user level was not changed.");
}

void OperatorLock::drainWakeups()
{
    // Read everything, or the notifier fires again and again.
    bool woken = false;
    char buffer[64];
    for (;;) {
        const ssize_t n = read(g_wakeReadFd, buffer, sizeof buffer);
        if (n > 0) {
            woken = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (woken)
        emit lockLost();
}
