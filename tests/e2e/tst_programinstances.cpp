// Two operators at two running copies of the simulator build: the operator
// lock moves between real processes, and the one that lost it falls back to
// level 0 with its gated actions disabled. Each copy has its own home and
// configuration folders; they share the runtime folder (which this test
// owns) and with it the lock file.

#include "app/operatorlock.h"
#include "support/lockprobe.h"
#include "support/simprocess.h"

#include <QtTest>

#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace
{
const QString kUserPassword = QStringLiteral("StoneHarbour");
const QString kAdminPassword = QStringLiteral("KiteRiverSun");

// The state lines a copy prints: level, name shown, the menu actions disabled.
const QString kGated =
    QStringLiteral("action_Rocking_Curve,actionRocking_Curve_3D,actionStep_Response");
const QString kUserState = QStringLiteral("level 1 shown \"user\" disabled ") + kGated;
const QString kAdminState = QStringLiteral("level 2 shown \"admin\" disabled -");
const QString kCruiseState =
    QStringLiteral("level 0 shown \"cruise\" disabled ") + kGated + ",actionManual_Output_Control";

const QStringList kRefusal = {".", "Error getting lock",
                              "fcntl(): Resource temporarily unavailable"};
const QStringList kTaken = {".", "Got lock"};

// The operator lock's diagnostics among everything else a copy prints.
QStringList lockLines(const QStringList& lines)
{
    QStringList out;
    for (const QString& line : lines)
        if (line == "." || line == "Got lock" || line == "Error getting lock" ||
            line.startsWith("fcntl()") || line.startsWith("Sending signal to PID"))
            out << line;
    return out;
}

// One running copy of the simulator build, driven through its test console.
class SimInstance : public SimProcess
{
public:
    explicit SimInstance(const QString& runtimeDir) : SimProcess({}, runtimeDir)
    {
        // Standard error carries the perror lines between the lock messages.
        process().setProcessChannelMode(QProcess::MergedChannels);
    }

    // The end of its input ends a copy the normal way, so that a sanitized
    // build checks it for leaks on the way out.
    ~SimInstance()
    {
        process().closeWriteChannel();
        process().waitForFinished(10000);
    }

    bool start()
    {
        SimProcess::start(QStringLiteral(ZEVO_SIM_PROGRAM), {QStringLiteral("--test-console")});
        return waitFor(QStringLiteral("test-console: ready ")) >= 0;
    }

    void send(const QString& command) { process().write(command.toUtf8() + '\n'); }

    // Index of the first line at or after `from` that starts with `prefix`,
    // waiting for it up to 30 s; -1 if it did not come.
    int waitFor(const QString& prefix, int from = 0)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            const QStringList lines = linesFrom(0);
            for (int i = from; i < lines.size(); ++i)
                if (lines.at(i).startsWith(prefix))
                    return i;
            if (clock.elapsed() > 30000 || !running())
                return -1;
            process().waitForReadyRead(20);
        }
    }

    // The first state line from `from` on that starts `state` (its prefix
    // taken off); empty if none came.
    QString waitForState(const QString& state, int from)
    {
        const int i = waitFor(QStringLiteral("test-console: ") + state, from);
        return i < 0 ? QString() : linesFrom(i).first().mid(14);
    }

    int lineCount() { return linesFrom(0).size(); }
    QStringList linesFrom(int from)
    {
        QStringList lines = output().split('\n');
        lines.removeLast(); // a line not yet ended
        return lines.mid(from);
    }
    pid_t pid() const { return pid_t(SimProcess::pid()); }
};
} // namespace

class TestProgramInstances : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_runtime;
    QString m_lockPath;
    int m_probe = -1;

private slots:
    void init()
    {
        m_runtime = std::make_unique<QTemporaryDir>(); // mode 0700, as a runtime folder must be
        QVERIFY(m_runtime->isValid());
        m_lockPath = m_runtime->filePath(QStringLiteral("zevo-lui-sim.lock"));
        m_probe = ::open(QFile::encodeName(m_lockPath), O_RDWR | O_CREAT, 0600);
        QVERIFY(m_probe >= 0);
    }

    void cleanup()
    {
        ::close(m_probe);
        m_runtime.reset();
    }

    // The first copy logs in at level 1, the second at level 2: the second
    // asks the first to let go, takes the lock, and the first shows "cruise"
    // with its gated actions disabled, keeps running and ends cleanly
    // without taking the lock along.
    void secondLogin_takesLockOver_firstFallsBackToLevel0()
    {
        SimInstance first(m_runtime->path()), second(m_runtime->path());
        QVERIFY(first.start());
        QVERIFY(second.start());

        int mark = first.lineCount();
        first.send("login user " + kUserPassword);
        QCOMPARE(first.waitForState("level 1 ", mark), kUserState);
        QCOMPARE(lockLines(first.linesFrom(mark)), kTaken);
        QCOMPARE(lockHolder(m_probe), first.pid());

        const int firstMark = first.lineCount();
        mark = second.lineCount();
        QElapsedTimer clock;
        clock.start();
        second.send("login admin " + kAdminPassword);
        QCOMPARE(second.waitForState("level 2 ", mark), kAdminState);
        // Well within the bound: the first copy let go at once.
        QVERIFY2(clock.elapsed() < kOperatorLockTimeoutMs,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(lockHolder(m_probe), second.pid());

        // ".", the refusal, the request to the first copy; refusals until the
        // first copy has let go (their form is checked in tst_operatorlock);
        // then ".", "Got lock".
        const QStringList lines = lockLines(second.linesFrom(mark));
        QCOMPARE(lines.mid(0, 4),
                 kRefusal +
                     QStringList{QStringLiteral("Sending signal to PID %1").arg(first.pid())});
        QCOMPARE(lines.mid(lines.size() - 2), kTaken);

        QCOMPARE(first.waitForState("level 0 ", firstMark), kCruiseState);
        QVERIFY(lockLines(first.linesFrom(firstMark)).isEmpty());
        mark = first.lineCount();
        first.send(QStringLiteral("state"));
        QCOMPARE(first.waitForState("level ", mark), kCruiseState);
        first.process().closeWriteChannel();
        QVERIFY(first.process().waitForFinished(10000));
        QCOMPARE(first.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.process().exitCode(), 0);
        QCOMPARE(lockHolder(m_probe), second.pid());
    }

    // A holder that ignores the request keeps the lock: after the bounded
    // wait the operator is told who holds it, the level is not raised, and
    // the program goes on. (The diagnostics of the attempts are checked in
    // tst_operatorlock.)
    void holderIgnoringRequest_boundedWaitMessageLevelKept()
    {
        SimProcess holder; // a process that takes the lock and ignores requests
        holder.start(QStringLiteral(LOCK_PEER),
                     {m_lockPath, "--ignore-signal", "--hold-ms", "60000"});
        holder.waitFor(QStringLiteral("Got lock"), 5000);
        const pid_t holderPid = pid_t(holder.pid());
        QCOMPARE(lockHolder(m_probe), holderPid);

        SimInstance sim(m_runtime->path());
        QVERIFY(sim.start());
        const int mark = sim.lineCount();
        QElapsedTimer clock;
        clock.start();
        sim.send("login admin " + kAdminPassword);
        const int boxAt = sim.waitFor(QStringLiteral("test-console: message-box "), mark);
        const qint64 waitedMs = clock.elapsed();
        QVERIFY(boxAt >= 0);
        QVERIFY2(waitedMs >= kOperatorLockTimeoutMs && waitedMs < kOperatorLockTimeoutMs + 5000,
                 qPrintable(QString::number(waitedMs)));
        const QString text = OperatorLock::heldElsewhereMessage(holderPid).replace('\n', "\\n");
        QCOMPARE(sim.linesFrom(boxAt).first(),
                 QStringLiteral("test-console: message-box \"Operator lock\" \"%1\"").arg(text));
        QVERIFY(!lockLines(sim.linesFrom(mark)).contains(QStringLiteral("Got lock")));

        // The login ends once the box is closed; only then is its outcome final.
        sim.send(QStringLiteral("close-message"));
        QVERIFY(sim.waitFor(QStringLiteral("test-console: done login"), mark) > boxAt);
        const int stateAt = sim.lineCount();
        sim.send(QStringLiteral("state"));
        QCOMPARE(sim.waitForState("level ", stateAt), kCruiseState);
        QVERIFY(!sim.linesFrom(mark).join('\n').contains("test-console: level 2"));
        QCOMPARE(lockHolder(m_probe), holderPid);
        QVERIFY(holder.running());
        holder.process().kill();
    }
};

QTEST_GUILESS_MAIN(TestProgramInstances)
#include "tst_programinstances.moc"
