// The operator lock: its file, taking it again in the same process, a holder
// that ignores the hand-over request, and a late request after the file is
// closed. And the style sheet step of the start-up: a sheet that is there is
// applied up to its first NUL byte; one that is missing leaves the program
// unstyled, without a message box.

#include "app/operatorlock.h"
#include "app/startup.h"
#include "support/lockprobe.h"
#include "support/programfixture.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Runs body with standard output and error going to a file (the lock
// diagnostics use both, in order) and returns the lines written.
template <typename Body> QStringList captureOutput(Body body)
{
    std::fflush(stdout);
    std::FILE* file = std::tmpfile();
    const int savedOut = dup(STDOUT_FILENO), savedErr = dup(STDERR_FILENO);
    dup2(fileno(file), STDOUT_FILENO);
    dup2(fileno(file), STDERR_FILENO);
    body();
    std::fflush(stdout);
    dup2(savedOut, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    close(savedOut);
    close(savedErr);
    std::rewind(file);
    QFile in;
    in.open(file, QIODevice::ReadOnly);
    const QStringList lines = QString::fromLocal8Bit(in.readAll()).split('\n', Qt::SkipEmptyParts);
    std::fclose(file);
    return lines;
}

const QStringList kRefusal = {".", "Error getting lock",
                              "fcntl(): Resource temporarily unavailable"};
const QStringList kTaken = {".", "Got lock"};

} // namespace

class TestOperatorLock : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The perror texts are compared in the C locale.
        std::setlocale(LC_ALL, "C");
        QVERIFY(m_dir.isValid());
    }

    void cleanup()
    {
        for (QProcess* peer : qAsConst(m_peers)) {
            peer->kill();
            peer->waitForFinished(2000);
        }
        qDeleteAll(m_peers);
        m_peers.clear();
    }

    // The lock file is open to every user whatever the umask; one that cannot
    // be created fails at once, and the login does not wait on it.
    void lockFile_sharedByAllUsers_brokenOneFailsAtOnce_closedOneLeftAlone()
    {
        const mode_t oldMask = umask(077);
        const int fd = openOperatorLockFile(m_dir.filePath(QStringLiteral("shared_lock")));
        umask(oldMask);
        QVERIFY(fd >= 0);
        struct stat info = {};
        QCOMPARE(fstat(fd, &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0666));
        close(fd);

        const int broken = openOperatorLockFile(m_dir.filePath(QStringLiteral("missing/lock")));
        QCOMPARE(broken, -1);
        int result = 0, error = 0;
        QElapsedTimer clock;
        clock.start();
        const QStringList lines = captureOutput([&] {
            result = acquireOperatorLock(broken);
            error = errno;
        });
        QVERIFY(clock.elapsed() < 500);
        QCOMPARE(std::make_pair(result, error), std::make_pair(kOperatorLockError, EBADF));
        QCOMPARE(lines, QStringList({".", "Error getting lock", "fcntl(): Bad file descriptor"}));

        // Once the lock file is closed, its descriptor number may name another
        // file; a hand-over request arriving afterwards must not unlock that one.
        const int closed = openOperatorLockFile(m_dir.filePath(QStringLiteral("closed_lock")));
        QVERIFY(closed >= 0);
        QVERIFY(installOperatorLockHandler(closed));
        closeOperatorLockFile(closed);

        const QString otherPath = m_dir.filePath(QStringLiteral("other_file"));
        int other = ::open(QFile::encodeName(otherPath), O_RDWR | O_CREAT, 0600);
        QVERIFY(other >= 0);
        if (other != closed) { // make sure the number is reused, whatever else is open
            QCOMPARE(dup2(other, closed), closed);
            close(other);
            other = closed;
        }
        const int probe = ::open(QFile::encodeName(otherPath), O_RDWR);
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        QCOMPARE(fcntl(other, F_SETLK, &lock), 0);
        QCOMPARE(lockHolder(probe), getpid());

        raise(SIGUSR1);
        QCOMPARE(lockHolder(probe), getpid());

        installOperatorLockHandler(-1);
        close(probe);
        close(other);
    }

    // A login in the process that holds the lock takes it again at once; a
    // hand-over request drops it before the handler returns, and requests in
    // a row reach the program as one.
    void sameProcess_getsLockAgainAtOnce_signalReleasesIt()
    {
        const QString path = m_dir.filePath(QStringLiteral("own_lock"));
        const int fd = openOperatorLockFile(path);
        const int probe = ::open(QFile::encodeName(path), O_RDWR);
        QVERIFY(installOperatorLockHandler(fd));
        OperatorLock lock;
        QVERIFY(lock.isActive());
        QSignalSpy lost(&lock, &OperatorLock::lockLost);
        QCOMPARE(lockHolder(probe), pid_t(0));

        for (int login = 0; login < 2; ++login) {
            int result = -99;
            QElapsedTimer clock;
            clock.start();
            const QStringList lines = captureOutput([&] { result = acquireOperatorLock(fd); });
            QVERIFY(clock.elapsed() < 500);
            QCOMPARE(result, kOperatorLockTaken);
            QCOMPARE(lines, kTaken);
            QCOMPARE(lockHolder(probe), getpid());
        }
        raise(SIGUSR1); // runs the handler before it returns
        QCOMPARE(lockHolder(probe), pid_t(0));
        QCOMPARE(lost.count(), 0);
        raise(SIGUSR1);
        raise(SIGUSR1);
        QVERIFY(lost.wait(2000));
        QTest::qWait(100);
        QCOMPARE(lost.count(), 1);

        installOperatorLockHandler(-1);
        close(probe);
        close(fd);
    }

    // Another instance that ignores the request keeps the lock: the wait is
    // bounded, the holder reported, and the request repeated a few times
    // over the wait, not on every attempt.
    void holderIgnoringSignal_givesUpAfterBound_withoutLock()
    {
        const QString path = m_dir.filePath(QStringLiteral("stubborn_lock"));
        QProcess* holder = startPeer(path, {QStringLiteral("--ignore-signal")});
        QCOMPARE(holder->state(), QProcess::Running);
        const pid_t holderPid = static_cast<pid_t>(holder->processId());

        const int fd = openOperatorLockFile(path);
        const int probe = ::open(QFile::encodeName(path), O_RDWR);
        constexpr int kBoundMs = 500;
        int result = 0, error = 0, reported = 0;
        QElapsedTimer clock;
        clock.start();
        const QStringList lines = captureOutput([&] {
            result = acquireOperatorLock(fd, kBoundMs, &reported);
            error = errno;
        });
        const qint64 elapsed = clock.elapsed();

        QCOMPARE(std::make_tuple(result, error, reported),
                 std::make_tuple(kOperatorLockHeldElsewhere, EAGAIN, int(holderPid)));
        QVERIFY2(elapsed >= kBoundMs && elapsed < 3000, qPrintable(QString::number(elapsed)));
        QCOMPARE(lockHolder(probe), holderPid);
        const QString sending = QStringLiteral("Sending signal to PID %1").arg(holderPid);
        QCOMPARE(lines.mid(0, 4), kRefusal + QStringList{sending});
        QVERIFY(!lines.contains(QStringLiteral("Got lock")));
        const int requests = lines.count(sending);
        QVERIFY2(requests >= 2 && requests <= 4, qPrintable(QString::number(requests)));
        QCOMPARE(holder->state(), QProcess::Running);
        close(probe);
        close(fd);
    }

    void styleSheet_appliedUpToNul_missingOneLeavesTheProgramUnstyled()
    {
        const QString sheet = m_dir.filePath(QStringLiteral("style.qss"));
        QFile file(sheet);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("QLabel { color: red; }\0junk", 27));
        file.close();
        // path, the sheet applied
        const std::pair<QString, QString> rows[] = {
            {QStringLiteral(":/qss/missing.qss"), QString()},
            {m_dir.filePath(QStringLiteral("none.qss")), QString()},
            {sheet, QStringLiteral("QLabel { color: red; }")}};
        for (const auto& [path, expected] : rows) {
            qApp->setStyleSheet(QString());
            BoxCatcher boxes;
            applyStyleSheet(*qApp, path);
            QCoreApplication::processEvents();
            QCOMPARE(qApp->styleSheet(), expected);
            QVERIFY(boxes.boxes.empty() && QApplication::topLevelWidgets().isEmpty());
        }
    }

private:
    // Starts another instance that takes the lock on the file, and waits
    // until it holds it.
    QProcess* startPeer(const QString& lockPath, const QStringList& options)
    {
        auto* peer = new QProcess;
        m_peers << peer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        peer->setProcessEnvironment(env);
        peer->setProcessChannelMode(QProcess::MergedChannels);
        peer->start(QStringLiteral(LOCK_PEER), QStringList{lockPath} + options);
        QByteArray seen;
        QElapsedTimer clock;
        clock.start();
        while (!seen.contains("Got lock\n") && clock.elapsed() < 5000 &&
               peer->state() != QProcess::NotRunning) {
            peer->waitForReadyRead(100);
            seen = peer->peek(peer->bytesAvailable());
        }
        return peer;
    }

    QTemporaryDir m_dir;
    QList<QProcess*> m_peers;
};

QTEST_MAIN(TestOperatorLock)

#include "tst_operatorlock.moc"
