// The whole program, start-up to exit, on the virtual controller: it comes up
// with live data in its plots and ends cleanly with the event loop's result.
// (The hand-over of the operator lock between running programs is driven in
// tst_programinstances.)

#include "acquisition/updater.h"
#include "device/globals.h"
#include "support/virtualprogram.h"

#include "app/mainwindow.h"
#include "device/mailboxcomm.h"
#include "plots/widgetgraphcurrents.h"
#include "plots/widgetgraphxy.h"

#include <QMessageBox>

#include <qcustomplot.h>

#include <atomic>

class TestProgram : public QObject
{
    Q_OBJECT

    // The program over a virtual beamline whose history is already recorded;
    // `onCycle` is called after every display cycle.
    static int runOnVirtualController(const std::function<void(MainWindow&, int cycle)>& onCycle)
    {
        return VirtualProgram().run(onCycle);
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

    // A settings file with unreadable lines is named to the operator once,
    // in a box that leaves the display cycles running; an intact one gives
    // no box.
    void damagedSettingsFile_namedWithoutStoppingTheProgram()
    {
        for (const bool damaged : {false, true}) {
            VirtualProgram program;
            QVERIFY(program.useFirstRunConfiguration());
            if (damaged) {
                QFile file(program.platform.configPath);
                QVERIFY(file.open(QIODevice::Append));
                file.write("[Remote\\0x\n");
            }
            QStringList texts;
            const int result = program.run([&texts](MainWindow& window, int cycle) {
                if (cycle < 2)
                    return;
                for (QMessageBox* box : window.findChildren<QMessageBox*>())
                    texts << box->text();
                window.findChild<QAction*>(QStringLiteral("action_Exit"))->trigger();
            });
            QCOMPARE(result, 0);
            QCOMPARE(texts.size(), damaged ? 1 : 0);
            if (damaged) {
                QVERIFY2(texts[0].contains('\n' + program.platform.configPath + "\n\n"),
                         qPrintable(texts[0]));
                QVERIFY(texts[0].contains('\n' + program.platform.configPath + ".damaged\n"));
            }
        }
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
