#pragma once

// The operator lock: a write lock on one lock file shared by every running
// instance. The instance that holds it is the one logged in at level 1 or 2.
// An instance that logs in at such a level asks the holder to let go with
// SIGUSR1; the holder's handler drops the lock at once and wakes the GUI
// thread, where OperatorLock::lockLost() brings the user level back to 0.
//
// Start-up order: openOperatorLockFile(), installOperatorLockHandler(fd),
// then one OperatorLock on the GUI thread whose lockLost() applies level 0.

#include <QObject>
#include <QString>

#include <csignal>

class QSocketNotifier;

// How long acquireOperatorLock() keeps asking a holder to let go.
constexpr int kOperatorLockTimeoutMs = 3000;

// Results of acquireOperatorLock().
constexpr int kOperatorLockTaken = 0;
// The lock could not be set for another reason than a holder (no lock file,
// bad descriptor, no locks on that file system). The login goes on without
// the lock: an operator must not be kept out because the lock file is broken.
constexpr int kOperatorLockError = -1;
// Another process holds the lock and did not let go in time. The caller must
// not raise the user level (errno is EAGAIN).
constexpr int kOperatorLockHeldElsewhere = -2;

// Opens (creating it if needed) the lock file read-write and makes it usable
// by the instances of every user. Returns the descriptor or -1; the
// descriptor stays open for the life of the process. Never close another
// descriptor of the same file in this process: that would drop the lock.
int openOperatorLockFile(const QString& path);

// Closes the lock file descriptor, which drops any lock this process holds.
// The SIGUSR1 handler forgets the descriptor first, so that a late request
// can never unlock whatever file later reuses the same descriptor number.
void closeOperatorLockFile(int fd);

// Takes the write lock over the whole file, asking its holder to let go.
// Prints its progress on standard output. Returns kOperatorLockTaken at once
// if this process already holds it. On kOperatorLockHeldElsewhere,
// *holderPid (if given) is the process that kept it, 0 if unknown.
// Blocks the calling thread for up to timeoutMs.
int acquireOperatorLock(int fd, int timeoutMs = kOperatorLockTimeoutMs, int* holderPid = nullptr);

// Drops this process's lock over the whole file. Async-signal-safe.
int releaseOperatorLock(int fd);

// SIGUSR1 handler: drops the lock on the descriptor given to
// installOperatorLockHandler() and wakes OperatorLock. Async-signal-safe.
void lock_sigaction(int signal, siginfo_t* info, void* context);

// Installs lock_sigaction() for SIGUSR1, acting on fd. Returns false if the
// handler or its wake-up channel could not be set up.
bool installOperatorLockHandler(int fd);

// The GUI-thread side of the hand-over: emits lockLost() on the thread it
// lives in after another instance has taken the lock away. One per process.
class OperatorLock : public QObject
{
    Q_OBJECT

public:
    explicit OperatorLock(QObject* parent = nullptr);
    ~OperatorLock() override;

    // False when the wake-up channel could not be created; lockLost() will
    // then never be emitted.
    bool isActive() const { return m_notifier != nullptr; }

    // What to tell the operator when acquireOperatorLock() returned
    // kOperatorLockHeldElsewhere.
    static QString heldElsewhereMessage(int holderPid);

signals:
    // The lock has already been released when this arrives; several
    // hand-over requests in a row arrive as one.
    void lockLost();

private:
    void drainWakeups();

    QSocketNotifier* m_notifier = nullptr;
};
