// A second program for the exit tests: the whole program over the virtual
// controller in real time with the remote interface's server on, which ends
// itself once it stands, the way its first argument says: "exit" (File,
// Exit) or "close" (the main window closed).
//
//   remote_probe exit|close PORT FOLDER

#include "app/mainwindow.h"
#include "app/platform.h"
#include "app/startup.h"
#include "remote/server/remoteserver.h"
#include "sim/firstrunconfig.h"
#include "sim/realtimeclock.h"
#include "sim/scenario.h"
#include "sim/simdriver.h"

#include <QAction>
#include <QTimer>
#include <cstdlib>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    const bool viaExit = std::strcmp(argv[1], "exit") == 0;
    const QString folder = QString::fromLocal8Bit(argv[3]);

    Scenario scenario;
    RealTimeClock clock;
    SimDriver driver(scenario, &clock);
    driver.prefill(2.0);
    Platform platform;
    platform.driver = &driver;
    platform.configPath = folder + QStringLiteral("/probe.ini");
    platform.lockPath = folder + QStringLiteral("/probe.lock");
    writeFirstRunConfiguration(platform.configPath, scenario);

    RemoteSettings settings;
    settings.enabled = true;
    settings.port = std::atoi(argv[2]);
    RemoteServer remote(settings, argv[0]);
    platform.extendMainWindow = [&remote, viaExit](MainWindow& window) {
        remote.start(window.remoteBridge());
        // Time for a client to connect and start reading.
        QTimer::singleShot(3000, &window, [&window, viaExit] {
            std::printf("ending\n");
            std::fflush(stdout);
            if (viaExit)
                window.findChild<QAction*>(QStringLiteral("action_Exit"))->trigger();
            else
                window.close();
        });
    };
    int programArgc = 1;
    return runProgram(programArgc, argv, platform);
}
