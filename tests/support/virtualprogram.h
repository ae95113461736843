#pragma once

// The whole program, from its real start-up sequence to its exit, running
// over the virtual controller under a manual clock, with its configuration
// file and operator lock in a temporary folder.

#include "acquisition/updater.h"
#include "app/mainwindow.h"
#include "app/platform.h"
#include "app/startup.h"
#include "control/dialoglogin.h"
#include "device/globals.h"
#include "sim/firstrunconfig.h"
#include "sim/manualclock.h"
#include "sim/scenario.h"
#include "sim/simdriver.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

class VirtualProgram
{
public:
    // The virtual beamline has `recordedSeconds` of history before start-up,
    // so the first display cycle already shows a full buffer.
    explicit VirtualProgram(double recordedSeconds = 15.0, const Scenario& scenario = Scenario())
        : driver(scenario, &clock)
    {
        driver.prefill(recordedSeconds);
        platform.driver = &driver;
        platform.configPath = dir.filePath(QStringLiteral("config.ini"));
        platform.lockPath = dir.filePath(QStringLiteral("lock"));
    }

    // Starts from the configuration the simulator writes on its first start.
    bool useFirstRunConfiguration()
    {
        return writeFirstRunConfiguration(platform.configPath, driver.scenario());
    }

    // Runs the program; `extend` is called once the main window stands and
    // `onCycle` after every display cycle. Returns the event loop's result.
    int run(const std::function<void(MainWindow&, int cycle)>& onCycle,
            const std::function<void(MainWindow&)>& extend = {})
    {
        platform.extendMainWindow = [&](MainWindow& window) {
            if (extend)
                extend(window);
            if (!onCycle)
                return;
            auto cycles = std::make_shared<int>(0);
            QObject::connect(theUpdater, &Updater::replotGraphs, &window,
                             [&window, cycles, onCycle] { onCycle(window, ++*cycles); });
        };
        int argc = 1;
        char name[] = "zevo-lui-test";
        char* argv[] = {name, nullptr};
        return runProgram(argc, argv, platform);
    }

    // Lets controller time pass, in quarter-second steps the driver catches
    // up with in full.
    void advance(double seconds)
    {
        for (double done = 0; done < seconds; done += 0.25) {
            clock.advanceSeconds(0.25);
            driver.sync();
        }
    }

    ManualClock clock;
    SimDriver driver;
    QTemporaryDir dir;
    Platform platform;
};

// An operator logs in through the main window's login dialog, then closes it.
inline void logIn(MainWindow& window, const QString& user, const QString& password)
{
    window.findChild<QAction*>(QStringLiteral("action_Login"))->trigger();
    auto* login = window.findChild<DialogLogin*>();
    login->findChild<QLineEdit*>(QStringLiteral("usernameLineEdit"))->setText(user);
    login->findChild<QLineEdit*>(QStringLiteral("passwordLineEdit"))->setText(password);
    QTest::mouseClick(login->findChild<QPushButton*>(QStringLiteral("logIn")), Qt::LeftButton);
    login->hide();
}
