// Two operators at two running copies of the simulator build: the operator
// lock moves between real processes, and the one that lost it falls back to
// level 0 with its gated actions disabled. Each copy has its own home and
// configuration folders; they share the runtime folder (which this test
// owns) and with it the lock file.

#include "app/operatorlock.h"
#include "support/lockprobe.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace
{

const QString kUserPassword = QStringLiteral("StoneHarbour");
const QString kAdminPassword = QStringLiteral("KiteRiverSun");

// The menu actions that level 0 disables, in menu order.
const QStringList kGated = {"action_Rocking_Curve", "actionRocking_Curve_3D", "actionStep_Response",
                            "actionManual_Output_Control"};

const QStringList kRefusal = {".", "Error getting lock",
                              "fcntl(): Resource temporarily unavailable"};
const QStringList kTaken = {".", "Got lock"};

// What one copy reports about its user level.
struct LevelState {
    int level = -1;
    QString shown;
    QStringList disabled;
};

bool parseState(const QString& line, LevelState* state)
{
    static const QRegularExpression pattern(
        QStringLiteral("^test-console: level (-?\\d+) shown \"(.*)\" disabled (\\S+)$"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch())
        return false;
    state->level = match.captured(1).toInt();
    state->shown = match.captured(2);
    state->disabled = match.captured(3) == QLatin1String("-")
                          ? QStringList()
                          : match.captured(3).split(QLatin1Char(','));
    return true;
}

// The operator lock's diagnostics among everything else a copy prints.
QStringList lockLines(const QStringList& lines)
{
    QStringList out;
    for (const QString& line : lines)
        if (line == QLatin1String(".") || line == QLatin1String("Got lock") ||
            line == QLatin1String("Error getting lock") ||
            line.startsWith(QLatin1String("fcntl()")) ||
            line.startsWith(QLatin1String("Sending signal to PID")))
            out << line;
    return out;
}

// One running copy of the simulator build, driven through its test console.
class SimInstance
{
public:
    explicit SimInstance(const QString& runtimeDir)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C")); // the perror texts
        m_process.setProcessEnvironment(env);
        // Standard error carries the perror lines between the lock messages.
        m_process.setProcessChannelMode(QProcess::MergedChannels);
    }

    // The end of its input ends a copy the normal way, so that a sanitized
    // build checks it for leaks on the way out.
    ~SimInstance()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool start()
    {
        m_process.start(QStringLiteral(ZEVO_SIM_PROGRAM), {QStringLiteral("--test-console")});
        return waitFor(QStringLiteral("test-console: ready ")) >= 0;
    }

    void send(const QString& command) { m_process.write(command.toUtf8() + '\n'); }

    // Index of the first line at or after `from` that starts with `prefix`,
    // waiting for it up to `timeoutMs`; -1 if it did not come.
    int waitFor(const QString& prefix, int from = 0, int timeoutMs = 30000)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            collect();
            for (int i = from; i < m_lines.size(); ++i)
                if (m_lines.at(i).startsWith(prefix))
                    return i;
            if (clock.elapsed() > timeoutMs || m_process.state() == QProcess::NotRunning)
                return -1;
            m_process.waitForReadyRead(20);
        }
    }

    // The next state line from `from` on.
    LevelState waitForState(int from, int* at = nullptr)
    {
        LevelState state;
        const int i = waitFor(QStringLiteral("test-console: level "), from);
        if (i >= 0)
            parseState(m_lines.at(i), &state);
        if (at)
            *at = i;
        return state;
    }

    // The first state line from `from` on that shows `level`.
    LevelState waitForLevel(int level, int from)
    {
        for (int i = from;; ++i) {
            int at = -1;
            const LevelState state = waitForState(i, &at);
            if (at < 0 || state.level == level)
                return state;
            i = at;
        }
    }

    // Asks for the state now and returns it.
    LevelState state()
    {
        const int from = lineCount();
        send(QStringLiteral("state"));
        return waitForState(from);
    }

    int lineCount()
    {
        collect();
        return m_lines.size();
    }
    QStringList linesFrom(int from)
    {
        collect();
        return m_lines.mid(from);
    }
    pid_t pid() const { return pid_t(m_process.processId()); }
    QProcess& process() { return m_process; }

private:
    void collect()
    {
        m_partial += m_process.readAll();
        int end;
        while ((end = m_partial.indexOf('\n')) >= 0) {
            m_lines << QString::fromLocal8Bit(m_partial.left(end));
            m_partial.remove(0, end + 1);
        }
    }

    QTemporaryDir m_home;
    QProcess m_process;
    QByteArray m_partial;
    QStringList m_lines;
};

} // namespace

class TestProgramInstances : public QObject
{
    Q_OBJECT

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
    // with its gated actions disabled, and keeps running.
    void secondLogin_takesLockOver_firstFallsBackToLevel0()
    {
        SimInstance first(m_runtime->path()), second(m_runtime->path());
        QVERIFY(first.start());
        QVERIFY(second.start());

        int mark = first.lineCount();
        first.send(QStringLiteral("login user ") + kUserPassword);
        LevelState firstState = first.waitForLevel(1, mark);
        QCOMPARE(firstState.shown, QStringLiteral("user"));
        QCOMPARE(firstState.disabled, kGated.mid(0, 3)); // manual output only
        QCOMPARE(lockLines(first.linesFrom(mark)), kTaken);
        QCOMPARE(lockHolder(m_probe), first.pid());

        const int firstMark = first.lineCount();
        mark = second.lineCount();
        QElapsedTimer clock;
        clock.start();
        second.send(QStringLiteral("login admin ") + kAdminPassword);
        const LevelState secondState = second.waitForLevel(2, mark);
        const qint64 handOverMs = clock.elapsed();
        QCOMPARE(secondState.shown, QStringLiteral("admin"));
        QCOMPARE(secondState.disabled, QStringList());
        // Well within the bound: the first copy let go at once.
        QVERIFY2(handOverMs < kOperatorLockTimeoutMs, qPrintable(QString::number(handOverMs)));
        QCOMPARE(lockHolder(m_probe), second.pid());

        // ".", the refusal, the request to the first copy; then refusals,
        // each perhaps followed by a repeated request, until the first copy
        // has let go; then ".", "Got lock".
        const QStringList lines = lockLines(second.linesFrom(mark));
        const QString sending = QStringLiteral("Sending signal to PID %1").arg(first.pid());
        QCOMPARE(lines.mid(0, 4), kRefusal + QStringList{sending});
        QCOMPARE(lines.mid(lines.size() - 2), kTaken);
        int i = 4;
        while (i < lines.size() - 2) {
            QCOMPARE(lines.mid(i, kRefusal.size()), kRefusal);
            i += kRefusal.size();
            if (lines.value(i) == sending)
                ++i;
        }
        QCOMPARE(i, lines.size() - 2);

        firstState = first.waitForLevel(0, firstMark);
        QCOMPARE(firstState.shown, QStringLiteral("cruise"));
        QCOMPARE(firstState.disabled, kGated);
        QVERIFY(lockLines(first.linesFrom(firstMark)).isEmpty());
        // Still answering, still at level 0, and it ends cleanly without
        // taking the second copy's lock along.
        firstState = first.state();
        QCOMPARE(firstState.level, 0);
        first.process().closeWriteChannel();
        QVERIFY(first.process().waitForFinished(10000));
        QCOMPARE(first.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.process().exitCode(), 0);
        QCOMPARE(lockHolder(m_probe), second.pid());
    }

    // A holder that ignores the request keeps the lock: after the bounded
    // wait the operator is told who holds it, the level is not raised, and
    // the program goes on.
    void holderIgnoringRequest_boundedWaitMessageLevelKept()
    {
        QProcess holder;
        holder.setProcessChannelMode(QProcess::MergedChannels);
        holder.start(QStringLiteral(LOCK_PEER),
                     {m_lockPath, QStringLiteral("--ignore-signal"), QStringLiteral("--hold-ms"),
                      QStringLiteral("60000")});
        QElapsedTimer wait;
        wait.start();
        while (!holder.peek(holder.bytesAvailable()).contains("Got lock") &&
               wait.elapsed() < 5000 && holder.state() != QProcess::NotRunning)
            holder.waitForReadyRead(50);
        const pid_t holderPid = pid_t(holder.processId());
        QCOMPARE(lockHolder(m_probe), holderPid);

        SimInstance sim(m_runtime->path());
        QVERIFY(sim.start());
        const int mark = sim.lineCount();
        QElapsedTimer clock;
        clock.start();
        sim.send(QStringLiteral("login admin ") + kAdminPassword);
        const int boxAt = sim.waitFor(QStringLiteral("test-console: message-box "), mark);
        const qint64 waitedMs = clock.elapsed();
        QVERIFY(boxAt >= 0);
        QVERIFY2(waitedMs >= kOperatorLockTimeoutMs && waitedMs < kOperatorLockTimeoutMs + 5000,
                 qPrintable(QString::number(waitedMs)));
        QString text = OperatorLock::heldElsewhereMessage(holderPid);
        text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        QCOMPARE(sim.linesFrom(boxAt).first(),
                 QStringLiteral("test-console: message-box \"Operator lock\" \"%1\"").arg(text));

        const QStringList lines = lockLines(sim.linesFrom(mark));
        QCOMPARE(lines.mid(0, 4),
                 kRefusal + QStringList{QStringLiteral("Sending signal to PID %1").arg(holderPid)});
        QVERIFY(!lines.contains(QStringLiteral("Got lock")));

        // The login ends once the box is closed; only then is its outcome
        // final.
        sim.send(QStringLiteral("close-message"));
        QVERIFY(sim.waitFor(QStringLiteral("test-console: done login"), mark) > boxAt);
        const LevelState state = sim.state();
        QCOMPARE(state.level, 0);
        QCOMPARE(state.shown, QStringLiteral("cruise"));
        QCOMPARE(state.disabled, kGated);
        for (const QString& line : sim.linesFrom(mark))
            QVERIFY2(!line.startsWith(QLatin1String("test-console: level 2")), qPrintable(line));
        QCOMPARE(lockHolder(m_probe), holderPid);
        QCOMPARE(holder.state(), QProcess::Running);

        holder.kill();
        holder.waitForFinished(2000);
    }

    // A copy that dies holding the lock leaves it free at once, and the next
    // login takes it without asking anybody.
    void killedHolder_lockFreeAtOnce()
    {
        SimInstance first(m_runtime->path()), second(m_runtime->path());
        QVERIFY(first.start());
        QVERIFY(second.start());
        first.send(QStringLiteral("login user ") + kUserPassword);
        QCOMPARE(first.waitForLevel(1, 0).level, 1);
        QCOMPARE(lockHolder(m_probe), first.pid());

        first.process().kill();
        QVERIFY(first.process().waitForFinished(5000));
        QCOMPARE(lockHolder(m_probe), pid_t(0));

        // Taken on the first attempt: no refusal, nobody asked.
        const int mark = second.lineCount();
        second.send(QStringLiteral("login admin ") + kAdminPassword);
        QCOMPARE(second.waitForLevel(2, mark).level, 2);
        QCOMPARE(lockLines(second.linesFrom(mark)), kTaken);
        QCOMPARE(lockHolder(m_probe), second.pid());
    }

private:
    std::unique_ptr<QTemporaryDir> m_runtime;
    QString m_lockPath;
    int m_probe = -1;
};

QTEST_GUILESS_MAIN(TestProgramInstances)
#include "tst_programinstances.moc"
