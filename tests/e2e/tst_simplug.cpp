// Devices plugged and unplugged in the Simulation window reach the running
// program through its own one-second poll: the slot records, the encoder
// flag and the main window's picoammeter entry follow within two seconds,
// and the SFP and picoammeter windows show the new hardware.

#include "support/virtualprogram.h"

#include "acquisition/updater.h"
#include "app/mainwindow.h"
#include "beamline/widgetpico.h"
#include "beamline/windowbeamlineconf.h"
#include "beamline/windowpico.h"
#include "beamline/windowsfpstatus.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "sim/simulationwindow.h"

#include <QAction>
#include <QComboBox>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QTableWidget>
#include <QtTest>

#include <functional>
#include <vector>

namespace
{
constexpr qint64 kWithinMs = 2000;
constexpr int kGiveUpMs = 30000;

QAction* action(MainWindow& w, const char* name)
{
    return w.findChild<QAction*>(QLatin1String(name));
}

// Chooses `device` in the Simulation window's box of `slot` (0 = A).
void plug(SimulationWindow& sim, int slot, Scenario::Device device)
{
    auto* box = sim.findChild<QComboBox*>(QStringLiteral("slot%1ComboBox").arg(QChar('A' + slot)));
    QVERIFY(box);
    box->setCurrentIndex(box->findData(int(device)));
}

QTableWidgetItem* sfpItem(MainWindow& w, int row, int slot)
{
    return w.findChild<WindowSFPstatus*>()->findChild<QTableWidget*>()->item(row, slot);
}

QString sfpName(MainWindow& w, int slot)
{
    QTableWidgetItem* item = sfpItem(w, WindowSFPstatus::RowName, slot);
    return item ? item->text() : QString();
}

// One step of the scenario: what to do, and what must then become true.
struct Step {
    std::function<void(MainWindow&, SimulationWindow&)> act;
    std::function<bool(MainWindow&)> reached;
    qint64 tookMs = -1;
};
} // namespace

// The beamline window's encoder variant: positions without intensity, so no
// beam-off thresholds.
bool beamlineInEncoderVariant(MainWindow& w)
{
    return w.beamlineConf()->findChild<QWidget*>(QStringLiteral("beamOffTh"))->isHidden();
}

class TestSimPlug : public QObject
{
    Q_OBJECT

    // Runs the program on the virtual controller with its Simulation menu;
    // from the first display cycle on, performs each step once the one
    // before it has been reached, timing each, and exits after the last.
    void run(std::vector<Step>& steps)
    {
        VirtualProgram program;
        SimDriver& driver = program.driver;
        const auto extend = [&](MainWindow& window) {
            SimulationWindow::addToMenuBar(window, driver);
            auto* check = new QTimer(&window);
            auto* giveUp = new QTimer(&window);
            auto next = std::make_shared<std::size_t>(0);
            auto since = std::make_shared<QElapsedTimer>();
            QObject::connect(check, &QTimer::timeout, &window, [&, check, next, since] {
                Step& step = steps[*next];
                if (!since->isValid()) {
                    action(window, "actionSimulation")->trigger();
                    step.act(window, *window.findChild<SimulationWindow*>());
                    since->start();
                    return;
                }
                if (!step.reached(window))
                    return;
                step.tookMs = since->elapsed();
                since->invalidate();
                if (++*next == steps.size()) {
                    check->stop();
                    action(window, "action_Exit")->trigger();
                }
            });
            QObject::connect(giveUp, &QTimer::timeout, &window,
                             [&window] { action(window, "action_Exit")->trigger(); });
            // Once the program runs its display cycles.
            QObject::connect(theUpdater, &Updater::replotGraphs, &window, [check, giveUp] {
                if (!check->isActive()) {
                    check->start(10);
                    giveUp->start(kGiveUpMs);
                }
            });
        };
        QCOMPARE(program.run({}, extend), 0);
    }

private slots:
    void encoderInterface_reachesMainAndBeamlineWindowsWithinTwoSeconds()
    {
        bool startedWithPicoEntry = false;
        std::vector<Step> steps;
        // The default beamline: two picoammeters, the DAC module, slot D
        // empty. The second picoammeter goes, an encoder interface comes.
        steps.push_back({[&](MainWindow& w, SimulationWindow& sim) {
                             startedWithPicoEntry = action(w, "actionPico_Amp")->isVisible() &&
                                                    !theMailbox->pavunPresent() &&
                                                    !beamlineInEncoderVariant(w);
                             action(w, "actionSFP_info")->trigger();
                             plug(sim, 1, Scenario::Device::Empty);
                             plug(sim, 3, Scenario::Device::EncoderInterface);
                         },
                         [](MainWindow& w) {
                             return theMailbox->slotRecords()[3].deviceId == 0x2300 &&
                                    theMailbox->slotRecords()[1].deviceId == 0 &&
                                    theMailbox->pavunPresent() && PID_BASE_FREQ == 5000 &&
                                    !action(w, "actionPico_Amp")->isVisible() &&
                                    beamlineInEncoderVariant(w);
                         }});
        // The SFP window, open meanwhile, shows it at its next refresh.
        steps.push_back({[](MainWindow&, SimulationWindow&) {},
                         [](MainWindow& w) {
                             return sfpName(w, 3) == QLatin1String("Pavun") &&
                                    sfpName(w, 1).isEmpty();
                         }});
        // Unplugged again, with a power supply and an unknown device in
        // slots B and D: one picoammeter, no encoder interface.
        steps.push_back({[](MainWindow&, SimulationWindow& sim) {
                             plug(sim, 3, Scenario::Device::Unknown);
                             plug(sim, 1, Scenario::Device::PowerSupply);
                         },
                         [](MainWindow& w) {
                             return !theMailbox->pavunPresent() && theMailbox->deviceCount() == 1 &&
                                    action(w, "actionPico_Amp")->isVisible() &&
                                    w.findChild<QDockWidget*>("dockXY2")->isHidden() &&
                                    !beamlineInEncoderVariant(w);
                         }});
        steps.push_back(
            {[](MainWindow& w, SimulationWindow&) { action(w, "actionPico_Amp")->trigger(); },
             [](MainWindow& w) {
                 auto* pico = w.findChild<WindowPico*>();
                 return sfpName(w, 1) == QLatin1String("Kavrel") && sfpName(w, 3).isEmpty() &&
                        sfpItem(w, WindowSFPstatus::RowSerial, 3) && pico->isVisible() &&
                        !pico->panel(1)->isVisibleTo(pico);
             }});
        run(steps);
        qInfo("steps took %lld, %lld, %lld and %lld ms", steps[0].tookMs, steps[1].tookMs,
              steps[2].tookMs, steps[3].tookMs);

        QVERIFY(startedWithPicoEntry);
        QVERIFY2(steps[0].tookMs >= 0 && steps[0].tookMs < kWithinMs,
                 qPrintable(QString::number(steps[0].tookMs)));
        QVERIFY2(steps[1].tookMs >= 0, "the SFP window did not show the encoder interface");
        QVERIFY2(steps[2].tookMs >= 0 && steps[2].tookMs < kWithinMs,
                 qPrintable(QString::number(steps[2].tookMs)));
        QVERIFY2(steps[3].tookMs >= 0, "the SFP and picoammeter windows did not follow");
    }
};

QTEST_APPLESS_MAIN(TestSimPlug)
#include "tst_simplug.moc"
