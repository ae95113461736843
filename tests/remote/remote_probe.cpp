// A second program for the exit tests: the whole program over the virtual
// controller in real time with the remote interface's server on, which ends
// itself once it stands, the way its first argument says: "exit" (File,
// Exit) or "close" (the main window closed). "screenshot" instead logs in as
// an administrator, opens Settings, Remote Access and saves its picture as
// FILE (for the documentation).
//
//   remote_probe exit|close PORT FOLDER
//   remote_probe screenshot PORT FOLDER FILE

#include "app/mainwindow.h"
#include "app/platform.h"
#include "app/startup.h"
#include "control/dialoglogin.h"
#include "device/configstore.h"
#include "remote/server/remoteserver.h"
#include "remote/windowremoteaccess.h"
#include "sim/firstrunconfig.h"
#include "sim/realtimeclock.h"
#include "sim/scenario.h"
#include "sim/simdriver.h"

#include <QAction>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace
{
void takePicture(MainWindow& window, const QString& file)
{
    window.findChild<QAction*>(QStringLiteral("action_Login"))->trigger();
    auto* login = window.findChild<DialogLogin*>();
    login->findChild<QLineEdit*>(QStringLiteral("usernameLineEdit"))->setText("admin");
    login->findChild<QLineEdit*>(QStringLiteral("passwordLineEdit"))->setText("KiteRiverSun");
    login->findChild<QPushButton*>(QStringLiteral("logIn"))->click();
    login->hide();
    window.findChild<QAction*>(QStringLiteral("action_Remote_Access"))->trigger();
    auto* dialog = window.findChild<WindowRemoteAccess*>();
    QCoreApplication::processEvents(); // lays the window out
    const bool saved = dialog->grab().save(file);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(file));
    QCoreApplication::exit(saved ? 0 : 1);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    const bool viaExit = std::strcmp(argv[1], "exit") == 0;
    const QString folder = QString::fromLocal8Bit(argv[3]);
    const QString picture = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();

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
    if (!picture.isEmpty()) // the window shows the settings the server runs with
        ConfigStore(platform.configPath).setRemoteServer(settings);
    RemoteServer remote(settings, argv[0]);
    platform.extendMainWindow = [&remote, viaExit, picture](MainWindow& window) {
        remote.start(window.remoteBridge());
        if (!picture.isEmpty()) {
            QTimer::singleShot(2000, &window, [&window, picture] { takePicture(window, picture); });
            return;
        }
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
