// What the remote interface costs: the read round trip a client sees, the
// time the server adds to the program's start, and the resident memory of
// the simulator build with and without the server.
//
// The round trip and the memory are measured on zevo-lui-sim started as a
// child process (offscreen, in a folder of its own); the start cost inside
// fresh copies of this program, since the server starts once per process.

#include "remote/remotebridge.h"
#include "remote/server/remoteserver.h"

// The control system's client library: the round trip without a script
// language's overhead.
#include <tango.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

namespace
{
int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

// The simulator build in a folder of its own.
struct Simulator {
    QTemporaryDir home;
    QProcess process;

    explicit Simulator(const QStringList& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(ZEVO_SIM_PROGRAM), arguments);
        process.waitForStarted();
    }
    ~Simulator()
    {
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(5000))
            process.kill();
    }
    bool waitForOutput(const char* text)
    {
        QByteArray out;
        while (!out.contains(text))
            if (!process.waitForReadyRead(10000))
                return false;
            else
                out += process.readAllStandardOutput();
        return true;
    }
    // Resident set of the process, MB.
    double residentMb()
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
        status.open(QIODevice::ReadOnly);
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
        return 0.0;
    }
};

void readLatency()
{
    const int port = freePort();
    Simulator sim({"--remote", QString::number(port)});
    if (!sim.waitForOutput("Remote access: ")) {
        std::printf("remote_read: the simulator did not serve\n");
        return;
    }
    std::string url =
        QStringLiteral("tango://127.0.0.1:%1/zevo/feedback/1#dbase=no").arg(port).toStdString();
    Tango::DeviceProxy device(url);
    for (const char* name : {"Bpm1X", "State"}) {
        std::vector<double> us;
        for (int i = 0; i < 3000; ++i) {
            QElapsedTimer clock;
            clock.start();
            Tango::DeviceAttribute value = device.read_attribute(name);
            if (i >= 200) // the first reads set up the connection
                us.push_back(clock.nsecsElapsed() / 1000.0);
        }
        // Bpm1X is read from the device on each request, State (polled)
        // from the server's cache.
        const char* label = std::strcmp(name, "State") == 0 ? "polled_state" : "attribute";
        std::printf("remote_read_%s_us_median: %.1f us\n", label, percentile(us, 0.5));
        std::printf("remote_read_%s_us_p90: %.1f us\n", label, percentile(us, 0.9));
    }
    std::vector<std::string>* names = device.get_attribute_list();
    std::vector<double> all;
    for (int i = 0; i < 300; ++i) {
        QElapsedTimer clock;
        clock.start();
        std::vector<Tango::DeviceAttribute>* values = device.read_attributes(*names);
        delete values;
        all.push_back(clock.nsecsElapsed() / 1000.0);
    }
    delete names;
    std::printf("remote_read_all_attributes_us_median: %.1f us\n", percentile(all, 0.5));
}

void residentMemory()
{
    for (const bool withServer : {false, true}) {
        QStringList arguments;
        if (withServer)
            arguments << "--remote" << QString::number(freePort());
        Simulator sim(arguments);
        // A few display cycles: every plot and buffer holds its data.
        QThread::sleep(6);
        std::printf("resident_%s_server_mb: %.1f MB\n", withServer ? "with" : "without",
                    sim.residentMb());
    }
}

// One start of the server in this process: the library's initialisation
// (before the application object) and the export of the device.
int startOnce(const char* program)
{
    RemoteSettings settings;
    settings.enabled = true;
    settings.port = freePort();
    QElapsedTimer clock;
    clock.start();
    RemoteServer server(settings, program);
    const qint64 initNs = clock.nsecsElapsed();
    int argc = 1;
    char* argv[] = {const_cast<char*>(program), nullptr};
    QCoreApplication app(argc, argv);
    RemoteBridge bridge;
    clock.restart();
    server.start(&bridge);
    const qint64 startNs = clock.nsecsElapsed();
    server.stop();
    std::printf("%.3f %.3f\n", initNs / 1e6, startNs / 1e6);
    return server.problem().isEmpty() ? 0 : 1;
}

void startupCost(const char* self)
{
    std::vector<double> init, start, total;
    for (int i = 0; i < 7; ++i) {
        QProcess child;
        child.start(QString::fromLocal8Bit(self), {"--start-once"});
        child.waitForFinished(20000);
        const QList<QByteArray> f =
            child.readAllStandardOutput().trimmed().split('\n').last().split(' ');
        if (child.exitCode() != 0 || f.size() != 2)
            continue;
        init.push_back(f[0].toDouble());
        start.push_back(f[1].toDouble());
        total.push_back(init.back() + start.back());
    }
    if (total.empty()) {
        std::printf("remote_startup: the server did not start\n");
        return;
    }
    std::printf("remote_startup_init_ms_median: %.2f ms\n", percentile(init, 0.5));
    std::printf("remote_startup_export_ms_median: %.2f ms\n", percentile(start, 0.5));
    std::printf("remote_startup_ms_median: %.2f ms\n", percentile(total, 0.5));
}
} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--start-once") == 0)
        return startOnce(argv[0]);
    QCoreApplication app(argc, argv);
    startupCost(argv[0]);
    readLatency();
    residentMemory();
    return 0;
}
