// The whole program, start-up to exit, on the virtual controller: it comes up
// with live data in its plots and the device catalogue it embeds, and ends cleanly
// with the event loop's result. (The hand-over of the operator lock between
// running programs is driven in tst_programinstances.)

#include "support/virtualprogram.h"

#include "beamline/windowsfpstatus.h"
#include "device/configstore.h"
#include "device/feedbackunits.h"
#include "device/mailboxcomm.h"
#include "plots/widgetgraphcurrents.h"
#include "plots/widgetgraphxy.h"

#include <QDomDocument>
#include <QImage>
#include <QMessageBox>

#include <qcustomplot.h>

#include <atomic>
#include <cmath>

namespace
{
// Every device of the embedded catalogue as the SFP window looks it up: a
// name, and a picture that loads (the power supply shows its name alone).
// Problems found, one line each.
QStringList catalogueProblems()
{
    QFile file(QStringLiteral(":/product_data/devices.xml"));
    QDomDocument document;
    if (!file.open(QIODevice::ReadOnly) || !document.setContent(&file))
        return {QStringLiteral("catalogue does not parse")};
    const QDomNodeList ids = document.elementsByTagName(QStringLiteral("id"));
    QStringList problems;
    for (int i = 0; i < ids.size(); ++i) {
        const QString id = ids.at(i).toElement().text();
        if (WindowSFPstatus::deviceName(id).isEmpty() ||
            (id != QLatin1String("1100") && QImage(WindowSFPstatus::deviceImagePath(id)).isNull()))
            problems << QStringLiteral("device ") + id;
    }
    if (ids.size() < 12)
        problems << QStringLiteral("only %1 devices").arg(ids.size());
    return problems;
}

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    // One run serves the embedded device catalogue too: the SFP window
    // finds every device in it, each with its picture.
    void exitAction_endsWithZeroAfterLiveCycles()
    {
        int xyPoints = -1, currentPoints = -1, cyclesSeen = 0;
        std::atomic<bool> workerLoopRuns{false};
        QStringList problems;
        const int result = VirtualProgram().run([&](MainWindow& window, int cycle) {
            cyclesSeen = cycle;
            // Runs only if the mailbox thread's event loop (and with it the
            // one-second poll) is alive.
            if (cycle == 1) {
                QTimer::singleShot(0, theMailbox, [&workerLoopRuns] { workerLoopRuns = true; });
                problems = catalogueProblems();
            }
            if (cycle < 2)
                return;
            xyPoints = window.graphXY(0)->graphData()->size();
            currentPoints = window.findChild<WidgetGraphCurrents*>()->graphData(0)->size();
            window.findChild<QAction*>(QStringLiteral("action_Exit"))->trigger();
        });
        QCOMPARE(result, 0);
        QCOMPARE(cyclesSeen, 2);
        QVERIFY(workerLoopRuns);
        QCOMPARE(problems, QStringList());
        // The beam holds still at this noise level, so some of the newest
        // 1000 positions share their X and show as one point.
        QVERIFY2(xyPoints > 100 && xyPoints <= 1000, qPrintable(QString::number(xyPoints)));
        QCOMPARE(currentPoints, 14336);
        // Everything the start-up created is gone again.
        QVERIFY(!theMailbox && !theUpdater && !theConfig);
    }

    // A settings file with unreadable lines is named to the operator once,
    // in a box that leaves the display cycles running; an intact one gives
    // no box. Closing the main window ends the program as File, Exit does.
    void damagedSettingsFile_namedWithoutStoppingTheProgram_closingEnds()
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
            const int result = program.run([&](MainWindow& window, int cycle) {
                if (cycle < 2)
                    return;
                for (QMessageBox* box : window.findChildren<QMessageBox*>())
                    texts << box->text();
                if (damaged)
                    window.findChild<QAction*>(QStringLiteral("action_Exit"))->trigger();
                else
                    window.close();
            });
            QCOMPARE(result, 0);
            QVERIFY(!theMailbox);
            QCOMPARE(texts.size(), damaged ? 1 : 0);
            if (damaged) {
                QVERIFY2(texts[0].contains('\n' + program.platform.configPath + "\n\n"),
                         qPrintable(texts[0]));
                QVERIFY(texts[0].contains('\n' + program.platform.configPath + ".damaged\n"));
            }
        }
    }

    // Scale factors that the file gives as no number, infinity or 0 make
    // their BPM work in raw units: no setpoint becomes undefined.
    void unusableScaleFactors_workInRawUnits()
    {
        VirtualProgram program;
        QVERIFY(program.useFirstRunConfiguration());
        ConfigStore file(program.platform.configPath);
        QVERIFY(file.setScaleX(0, NAN) && file.setScaleY(0, INFINITY) &&
                file.setScaleX(1, -INFINITY) && file.setScaleY(1, 0.0));
        QVERIFY(std::isnan(file.getScaleX(0)) && std::isinf(file.getScaleX(1)));
        QVector<double> seen;
        const int result = program.run([&](MainWindow& window, int) {
            seen = {bpmScale.value[0],
                    bpmScale.value[1],
                    bpmScale.value[2],
                    bpmScale.value[3],
                    feedbackunits::setpointXToRaw(50.0),
                    feedbackunits::setpointYToRaw(-2.0)};
            window.close();
        });
        QCOMPARE(result, 0);
        QCOMPARE(seen, QVector<double>({1, 1, 1, 1, 50, -2}));
    }
};

QTEST_APPLESS_MAIN(TestProgram)
#include "tst_program.moc"
