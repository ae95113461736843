#pragma once

// The simulator build (or another program) as a real process: home,
// configuration and runtime folders of its own (never the user's), its output
// collected as it comes.

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <csignal>

class SimProcess
{
public:
    // `configLines` are written into the simulator's configuration file
    // before it starts; the simulator then skips its first-run configuration
    // (the beamline as set up before), so the program's defaults fill in the
    // rest. Copies
    // given one `runtimeDir` share it, and with it the operator lock.
    explicit SimProcess(const QByteArray& configLines = QByteArray(),
                        const QString& runtimeDir = QString())
    {
        QDir(m_home.path()).mkpath(QStringLiteral("config/zevo"));
        QFile file(m_home.filePath(QStringLiteral("config/zevo/zevo-lui-sim.ini")));
        if (!configLines.isEmpty() && file.open(QIODevice::WriteOnly))
            file.write(configLines);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        env.remove(QStringLiteral("XDG_CACHE_HOME"));
        // Mode 0700, as a runtime folder must be.
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.isEmpty() ? home() : runtimeDir);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C")); // the perror texts
        m_process.setProcessEnvironment(env);
    }

    // Ended as an operator would end it, so that it removes its local
    // socket; killed only when it does not end.
    ~SimProcess()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(pid()), SIGTERM);
        if (!m_process.waitForFinished(15000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    // A port nobody listens on now.
    static int freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    void start(const QString& program, const QStringList& arguments)
    {
        m_process.start(program, arguments);
        m_process.waitForStarted(5000);
    }

    // Collects output until `needle` shows on standard output or error.
    bool waitFor(const QString& needle, int timeoutMs = 15000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!output().contains(needle) && !errors().contains(needle)) {
            if (clock.elapsed() > timeoutMs || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(50);
        }
        return true;
    }

    QString output() { return QString::fromLocal8Bit(m_out += m_process.readAllStandardOutput()); }
    QString errors() { return QString::fromLocal8Bit(m_err += m_process.readAllStandardError()); }

    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }
    QProcess& process() { return m_process; }
    QString home() const { return m_home.path(); }

    // Milliseconds from the signal (none for 0) to the end of the process;
    // -1 when it has not ended within limitMs.
    int endWith(int signal, int limitMs)
    {
        QElapsedTimer clock;
        clock.start();
        if (signal != 0)
            ::kill(pid_t(pid()), signal);
        return m_process.waitForFinished(limitMs) ? int(clock.elapsed()) : -1;
    }

private:
    QTemporaryDir m_home;
    QProcess m_process;
    QByteArray m_out, m_err;
};
