// The whole program, start-up to exit, on the virtual controller: it comes up
// with live data in its plots and ends cleanly with the event loop's result.

#include "acquisition/updater.h"
#include "device/globals.h"
#include "support/lockprobe.h"
#include "support/virtualprogram.h"

#include "app/mainwindow.h"
#include "control/dialoglogin.h"
#include "device/mailboxcomm.h"
#include "plots/widgetgraphcurrents.h"
#include "plots/widgetgraphxy.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <qcustomplot.h>

#include <atomic>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

class TestProgram : public QObject
{
    Q_OBJECT

    // The program over a virtual beamline whose history is already recorded;
    // `onCycle` is called after every display cycle.
    int runOnVirtualController(const std::function<void(MainWindow&, int cycle)>& onCycle)
    {
        VirtualProgram program;
        return program.run(onCycle);
    }

private slots:
    void exitAction_endsWithZeroAfterLiveCycles()
    {
        int xyPoints = -1;
        int currentPoints = -1;
        int cyclesSeen = 0;
        std::atomic<bool> workerLoopRuns{false};
        const int result = runOnVirtualController([&](MainWindow& window, int cycle) {
            cyclesSeen = cycle;
            if (cycle == 1) {
                // Runs only if the mailbox thread's event loop (and with it
                // the one-second poll) is alive.
                QTimer::singleShot(0, theMailbox, [&workerLoopRuns] { workerLoopRuns = true; });
            }
            if (cycle < 2)
                return;
            xyPoints = window.graphXY(0)->graphData()->size();
            auto* currents = window.findChild<WidgetGraphCurrents*>();
            currentPoints = currents ? currents->graphData(0)->size() : -1;
            window.findChild<QAction*>(QStringLiteral("action_Exit"))->trigger();
        });

        QCOMPARE(result, 0);
        QCOMPARE(cyclesSeen, 2);
        QVERIFY(workerLoopRuns);
        // The beam holds still at this noise level, so some of the newest
        // 1000 positions share their X and show as one point.
        QVERIFY2(xyPoints > 100 && xyPoints <= 1000, qPrintable(QString::number(xyPoints)));
        QCOMPARE(currentPoints, 14336);
        // Everything the start-up created is gone again.
        QVERIFY(!theMailbox);
        QVERIFY(!theUpdater);
        QVERIFY(!theConfig);
    }

    // An operator logs in at level 2 through the login dialog; another
    // instance's hand-over request (SIGUSR1) then reaches the running program
    // through its own start-up wiring: the lock is let go, the dialog shows
    // "cruise" and the main window's gated actions are disabled.
    void handOverRequest_dropsRunningProgramToLevel0()
    {
        const QStringList gated = {"action_Rocking_Curve", "actionRocking_Curve_3D",
                                   "actionStep_Response", "actionManual_Output_Control"};
        auto enabled = [&](MainWindow& window) {
            QStringList on;
            for (const QString& name : gated)
                if (window.findChild<QAction*>(name)->isEnabled())
                    on << name;
            return on;
        };
        auto holder = [] { return lockHolder(lockFileFd); };
        QStringList enabledAtLevel2, enabledAfterRequest;
        QString shownAtLevel2, shownAfterRequest;
        int levelAfterRequest = -1;
        pid_t holderAtLevel2 = -1, holderAfterRequest = -1;
        const int result = runOnVirtualController([&](MainWindow& window, int cycle) {
            auto* login = window.findChild<DialogLogin*>();
            auto* shown = login->findChild<QLabel*>(QStringLiteral("currentLevel"));
            if (cycle == 1) {
                window.findChild<QAction*>(QStringLiteral("action_Login"))->trigger();
                login->findChild<QLineEdit*>(QStringLiteral("usernameLineEdit"))
                    ->setText(QStringLiteral("admin"));
                login->findChild<QLineEdit*>(QStringLiteral("passwordLineEdit"))
                    ->setText(QStringLiteral("KiteRiverSun"));
                QTest::mouseClick(login->findChild<QPushButton*>(QStringLiteral("logIn")),
                                  Qt::LeftButton);
                enabledAtLevel2 = enabled(window);
                shownAtLevel2 = shown->text();
                holderAtLevel2 = holder();
                raise(SIGUSR1);
                return;
            }
            levelAfterRequest = userLevel;
            enabledAfterRequest = enabled(window);
            shownAfterRequest = shown->text();
            holderAfterRequest = holder();
            window.findChild<QAction*>(QStringLiteral("action_Exit"))->trigger();
        });
        QCOMPARE(result, 0);
        QCOMPARE(holderAtLevel2, getpid());
        QCOMPARE(enabledAtLevel2, gated);
        QCOMPARE(shownAtLevel2, QStringLiteral("admin"));
        QCOMPARE(levelAfterRequest, 0);
        QCOMPARE(enabledAfterRequest, QStringList());
        QCOMPARE(shownAfterRequest, QStringLiteral("cruise"));
        QCOMPARE(holderAfterRequest, pid_t(0));
        QVERIFY(!theLogin);
    }

    void closingTheWindow_endsTheProgram()
    {
        const int result = runOnVirtualController([](MainWindow& window, int) { window.close(); });
        QCOMPARE(result, 0);
        QVERIFY(!theMailbox);
    }
};

QTEST_APPLESS_MAIN(TestProgram)
#include "tst_program.moc"
