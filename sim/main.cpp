#include "app/mainwindow.h"
#include "app/platform.h"
#include "app/startup.h"
#include "device/configstore.h"
#include "remote/server/remoteserver.h"
#include "sim/firstrunconfig.h"
#include "sim/realtimeclock.h"
#include "sim/scenario.h"
#include "sim/scenariooptions.h"
#include "sim/simdriver.h"
#include "sim/simulationwindow.h"
#include "sim/testconsole.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace
{
// Enough controller history for the largest display buffer at the start-up
// display rate, so that the plots are full from the first cycle.
constexpr double kPrefillSeconds = 15.0;

QString configPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/zevo/zevo-lui-sim.ini");
}

// Removes "--screenshot FILE" from the arguments; returns FILE or "".
QString takeScreenshotOption(int& argc, char** argv)
{
    QString file;
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc)
            file = QString::fromLocal8Bit(argv[++i]);
        else
            argv[out++] = argv[i];
    }
    argc = out;
    argv[argc] = nullptr;
    return file;
}

// Shows the window for a few display cycles so that every plot holds live
// data, saves its picture and ends the program.
constexpr int kScreenshotDelayMs = 4500;

void scheduleScreenshot(MainWindow& window, const QString& file)
{
    QTimer::singleShot(kScreenshotDelayMs, &window, [&window, file] {
        const bool saved = window.grab().save(file);
        std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "saved" : "could not save",
                     qPrintable(file));
        QCoreApplication::exit(saved ? 0 : 1);
    });
}

// Takes "--remote PORT" (also --remote=PORT) and "--remote-control" out of
// the arguments: the remote interface's server on PORT of this computer, and
// remote control allowed, for this run only. False with `error` set when the
// port is no port number.
bool takeRemoteOptions(int& argc, char** argv, RemoteSettings* remote, QString* error)
{
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--remote-control") {
            remote->controlAllowed = true;
            continue;
        }
        QByteArray port;
        if (arg == "--remote")
            port = i + 1 < argc ? QByteArray(argv[++i]) : QByteArray();
        else if (arg.startsWith("--remote="))
            port = arg.mid(int(std::strlen("--remote=")));
        else {
            argv[out++] = argv[i];
            continue;
        }
        bool ok = false;
        remote->port = port.toInt(&ok);
        if (!ok || remote->port < 1 || remote->port > 65535) {
            *error = QStringLiteral("--remote needs a port number from 1 to 65535\n");
            return false;
        }
        remote->enabled = true;
    }
    argc = out;
    argv[argc] = nullptr;
    return true;
}

QString lockPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/zevo-lui-sim.lock");
}
} // namespace

// The simulator build: the whole program over the virtual controller, with
// its own settings file and operator lock in the user's directories, so that
// it never touches the production ones.
int main(int argc, char** argv)
{
    const QString screenshot = takeScreenshotOption(argc, argv);
    const bool testConsole = TestConsole::takeOption(argc, argv);
    RemoteSettings remoteOptions;
    QString remoteError;
    if (!takeRemoteOptions(argc, argv, &remoteOptions, &remoteError)) {
        std::fputs(qPrintable(remoteError), stderr);
        return 2;
    }
    Scenario scenario;
    QString message;
    switch (ScenarioOptions::parse(argc, argv, &scenario, &message)) {
    case ScenarioOptions::Outcome::Help:
        std::fputs(qPrintable(message), stdout);
        return 0;
    case ScenarioOptions::Outcome::Error:
        std::fputs(qPrintable(message), stderr);
        return 2;
    case ScenarioOptions::Outcome::Run:
        break;
    }

    RealTimeClock clock;
    SimDriver driver(scenario, &clock);
    driver.prefill(kPrefillSeconds);

    Platform platform;
    platform.driver = &driver;
    platform.configPath = configPath();
    platform.lockPath = lockPath();
    writeFirstRunConfiguration(platform.configPath, scenario);

    // The remote interface's server, as configured or as the options ask for
    // this run; before the application object and any thread exist.
    RemoteSettings remoteSettings = ConfigStore(platform.configPath).getRemote();
    if (remoteOptions.enabled) {
        remoteSettings.enabled = true;
        remoteSettings.port = remoteOptions.port;
    }
    remoteSettings.controlAllowed = remoteSettings.controlAllowed || remoteOptions.controlAllowed;
    RemoteServer remote(remoteSettings, argv[0]);

    platform.extendMainWindow = [&driver, &remote, screenshot, testConsole](MainWindow& window) {
        if (!screenshot.isEmpty()) {
            window.resize(1500, 950);
            scheduleScreenshot(window, screenshot);
        }
        SimulationWindow::addToMenuBar(window, driver);
        remote.start(window.remoteBridge());
        if (testConsole)
            new TestConsole(window);
    };
    return runProgram(argc, argv, platform);
}
