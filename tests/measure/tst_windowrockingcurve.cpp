// The rocking curve over the virtual controller on a manual clock: where the
// points lie and what reaches the DAC module at each, which electrodes are
// read and how the plot names them, where the model's peak shows, and what
// becomes of the outputs when a scan is refused, fails, is started twice or
// is cut short by closing the window.

#include "measure/windowrockingcurve.h"

#include "sim/beamlinemodel.h"
#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/screenshot.h"
#include "support/simfixture.h"
#include "support/widgets.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QProgressBar>
#include <QSpinBox>

#include <fcntl.h>

#include <cmath>

using namespace zevo;

namespace
{
// The virtual controller, quiet, with the rocking curve's waits passing as
// its time.
struct Rig : SimFixture {
    explicit Rig(const Scenario& scenario = quiet()) : SimFixture(scenario) {}

    void setPidOffsets(double x, double y)
    {
        config.setPidX(0, 0, 0, 0, 0, 0, 0, 0, 0, x);
        config.setPidY(0, 0, 0, 0, 0, 0, 0, 0, 0, y);
    }
    // A window set to scan [from, to] in n points along X (0) or Y (1).
    void prepare(WindowRockingCurve* w, double from, double to, int n, int direction = 0)
    {
        w->setWaitFunction(waitUs());
        child<QDoubleSpinBox>(w, "boxStart")->setValue(from);
        child<QDoubleSpinBox>(w, "boxStop")->setValue(to);
        child<QSpinBox>(w, "boxN")->setValue(n);
        child<QComboBox>(w, "chSel")->setCurrentIndex(direction);
    }
    // Calls `then` after the n-th output set.
    void afterOutputSet(std::size_t n, const std::function<void()>& then)
    {
        driver.onCall = [this, n, then](const RecordingDriver::Call& c) {
            if (c.request == DAC_IOC_SET_OUTPUTS && driver.outputSets().size() == n)
                then();
        };
    }
    // The outputs were taken once and handed back, every node is closed.
    void verifyHandedBack()
    {
        QStringList handOver;
        for (const MailboxMessage& m : driver.sent(cmd::SetOutputsFromController))
            handOver << QString::number(m.u8(4));
        QCOMPARE(handOver, QStringList({"0", "1"}));
        QVERIFY(settings().outputsFromController);
        QCOMPARE(driver.stillOpen(), 0);
    }
};

// Where the sum of two electrodes of the model's first detector peaks when
// one actuator goes over [from, to) and the other is held: the model's own
// answer, without the dynamics of a scan.
double modelPeak(bool scanX, double held, int firstChannel, int secondChannel, double from,
                 double to)
{
    BeamlineModel model(1);
    model.setScenario(SimFixture::quiet());
    double best = from, bestSum = -1.0;
    for (double v = from; v < to; v += 0.0005) {
        const double dac[4] = {scanX ? v : held, scanX ? held : v, 0.0, 0.0};
        model.settle(dac);
        model.step(dac);
        const double sum = model.channels(0)[firstChannel] + model.channels(0)[secondChannel];
        if (sum > bestSum) {
            bestSum = sum;
            best = v;
        }
    }
    return best;
}

QCustomPlot* plot(QWidget* w) { return child<QCustomPlot>(w, "graph"); }
double valueAt(QWidget* w, int graph, int i) { return (plot(w)->graph(graph)->data()->constBegin() + i)->value; }
double keyAt(QWidget* w, int graph, int i) { return (plot(w)->graph(graph)->data()->constBegin() + i)->key; }
int points(QWidget* w) { return plot(w)->graph(2)->data()->size(); }
} // namespace

class TestWindowRockingCurve : public QObject
{
    Q_OBJECT

private slots:
    // The defaults over a quiet beamline: 1000 points from 4.000 to 5.998 V,
    // each output set with the held Y value, two waits of Tpoint per point,
    // the feedback off and the outputs back at the end, and the sum peaking
    // where the model's rocking curve does.
    void defaultScan_pointsOutputsAndPeak()
    {
        Rig rig;
        rig.config.setBpmChannels(0, 1, 2, 3, 0); // as the virtual detector is wired
        rig.setPidOffsets(5.1, 5.2);
        WindowRockingCurve window;
        window.setWaitFunction(rig.waitUs());
        QCustomPlot* p = plot(&window);
        int drawnPoints = -1;
        connect(p, &QCustomPlot::afterReplot, [&] { drawnPoints = p->graph(2)->dataCount(); });
        const int64_t t0 = rig.clock.nowNs();
        click(&window, "buttonStart");
        QCOMPARE(drawnPoints, 1000); // the last points are drawn too
        QCOMPARE(points(&window), 1000);

        // The first point's set goes out once ahead of the scan, for the
        // beam to settle there.
        const std::vector<DacOutputRecord> sets = rig.driver.outputSets();
        QCOMPARE(int(sets.size()), 1 + 1000);
        QCOMPARE(sets[0].volts[0], 4.0);
        for (int i = 0; i < 1000; ++i) {
            const double key = keyAt(&window, 2, i);
            QVERIFY2(std::fabs(key - (4.0 + 0.002 * i)) < 1e-9, qPrintable(QString::number(i)));
            const DacOutputRecord& set = sets[std::size_t(1 + i)];
            QCOMPARE(std::vector<double>(set.volts, set.volts + 4),
                     (std::vector<double>{key, 5.2, 0.0, 0.0}));
            QCOMPARE(set.enable, 1u);
            QCOMPARE(valueAt(&window, 2, i), valueAt(&window, 0, i) + valueAt(&window, 1, i));
        }
        // 100 ms for the beam to settle at the first point, then two waits of
        // Tpoint per point.
        QCOMPARE(rig.clock.nowNs() - t0, int64_t(100) * 1000000 + int64_t(1000) * 2 * 1000000);
        QCOMPARE(child<QProgressBar>(&window, "progressBar")->value(), 100);

        // Feedback off, outputs to the host, and back to the controller.
        QCOMPARE(hexOf(rig.driver.transfers()),
                 goldenHex({"00050001 00", "00070001 00", "00070001 01"}));
        rig.verifyHandedBack();
        for (const RecordingDriver::Call& c : rig.driver.calls())
            QVERIFY(c.kind != RecordingDriver::Call::Open || c.flags == (O_RDWR | O_SYNC));

        // left = channel 3, right = channel 1 of the virtual detector. Every
        // point counts: the beam has settled at the first one before it is read.
        const double expected = modelPeak(true, 5.2, 3, 1, 4.0, 6.0);
        QVERIFY2(expected > 4.3 && expected < 5.7, qPrintable(QString::number(expected)));
        int top = 0;
        for (int i = 1; i < 1000; ++i)
            if (valueAt(&window, 2, i) > valueAt(&window, 2, top))
                top = i;
        QVERIFY2(std::fabs(keyAt(&window, 2, top) - expected) < 0.01,
                 qPrintable(QStringLiteral("%1 vs %2").arg(keyAt(&window, 2, top)).arg(expected)));
        // The axes follow the data.
        QCOMPARE(p->xAxis->range().lower, 4.0);
        QVERIFY(std::fabs(p->xAxis->range().upper - 5.998) < 1e-9);

        if (screenshotsWanted()) {
            window.resize(900, 560);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(saveScreenshot(window, QStringLiteral("rocking-curve.png")));
        }
    }

    // Names and current-record elements of the two electrodes (map top 1,
    // right 2, bottom 3, left 0).
    void electrodeMap_namesAndElements_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("firstElement");
        QTest::addColumn<int>("secondElement");
        QTest::newRow("posX") << 0 << QStringList{"left (ch 1)", "right (ch 3)", "sum (left+right)"}
                              << 3 << 1;
        QTest::newRow("posY") << 1 << QStringList{"top (ch 2)", "bottom (ch 4)", "sum (top+bottom)"}
                              << 2 << 0;
    }
    void electrodeMap_namesAndElements()
    {
        QFETCH(int, direction);
        QFETCH(QStringList, names);
        QFETCH(int, firstElement);
        QFETCH(int, secondElement);
        Scenario wired = Rig::quiet();
        wired.wiring[0].channel = {1, 2, 3, 0}; // top, right, bottom, left
        Rig rig(wired);
        rig.config.setBpmChannels(1, 2, 3, 0, 0);
        rig.setPidOffsets(5.1, 5.3);
        WindowRockingCurve window;
        rig.prepare(&window, 4.5, 5.9, 40, direction);
        click(&window, "buttonStart");

        QCOMPARE((QStringList{plot(&window)->graph(0)->name(), plot(&window)->graph(1)->name(),
                              plot(&window)->graph(2)->name()}),
                 names);
        // The currents of every read, as the driver gave them.
        std::vector<PicoCurrentsRecord> currents;
        for (const RecordingDriver::Call& c : rig.driver.calls())
            if (c.request == AMM_IOC_READ_CURRENTS && c.result >= 0) {
                currents.emplace_back();
                std::memcpy(&currents.back(), c.received.constData(), sizeof(PicoCurrentsRecord));
            }
        QCOMPARE(int(currents.size()), 40);
        for (int i = 0; i < 40; ++i) {
            QCOMPARE(valueAt(&window, 0, i), currents[std::size_t(i)].current[firstElement]);
            QCOMPARE(valueAt(&window, 1, i), currents[std::size_t(i)].current[secondElement]);
        }
        // Past the detector's centre the beam falls more on the right (X) or
        // the top (Y) electrode: a pair read the wrong way round shows here.
        QCOMPARE(valueAt(&window, 1, 39) > valueAt(&window, 0, 39), direction == 0);
    }

    // With X on output 3 and Y on output 4, the scanned output steps from
    // Start in N points and the other one holds its PID offset; the bar
    // rises to 100 at the last point. N = 0 only takes the outputs and gives
    // them back.
    void assignmentAndProgress_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("direction");
        QTest::newRow("0") << 0 << 0;
        QTest::newRow("1, posY") << 1 << 1;
        QTest::newRow("7, posX") << 7 << 0;
        QTest::newRow("10, posY") << 10 << 1;
        QTest::newRow("10000, posX") << 10000 << 0;
    }
    void assignmentAndProgress()
    {
        QFETCH(int, n);
        QFETCH(int, direction);
        Rig rig;
        rig.config.setBeamlineDacs(2, 3, 1);
        rig.setPidOffsets(5.1, 5.3);
        WindowRockingCurve window;
        rig.prepare(&window, 4.0, 6.0, n, direction);
        auto* bar = child<QProgressBar>(&window, "progressBar");
        std::vector<int> shown;
        connect(bar, &QProgressBar::valueChanged, [&](int v) { shown.push_back(v); });
        click(&window, "buttonStart");
        QCOMPARE(bar->value(), n > 0 ? 100 : 0);
        QVERIFY(std::is_sorted(shown.begin(), shown.end()));
        QCOMPARE(points(&window), n);

        const std::vector<DacOutputRecord> sets = rig.driver.outputSets();
        QCOMPARE(int(sets.size()), n > 0 ? 1 + n : 0);
        const int scanned = direction == 0 ? 2 : 3, held = 5 - scanned;
        for (int i = 0; i < n; ++i) {
            const DacOutputRecord& set = sets[std::size_t(1 + i)];
            QCOMPARE(set.volts[0] + set.volts[1], 0.0);
            QVERIFY(std::fabs(set.volts[scanned] - (4.0 + 2.0 * i / n)) < 1e-12);
            QCOMPARE(set.volts[held], direction == 0 ? 5.3 : 5.1);
        }
        QCOMPARE(int(rig.driver.sent(cmd::SetFeedbackEnabled).size()), 1);
        rig.verifyHandedBack();
    }

    // Refused (a missing node, a configuration that names no output or
    // channel): a message, and neither the controller nor the outputs are
    // touched. A request that fails ends the scan there, says so, and leaves
    // no point without currents of its own; the outputs go back.
    void refusedOrFailed_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("points");
        QTest::addColumn<int>("sets"); // sent, the failing one included
        const QString open = "Cannot open file", rocking = "Rocking Curve";
        QTest::newRow("DAC node") << "dac" << open << kDacNode << 0 << 0;
        QTest::newRow("picoammeter node") << "pico" << open << kPico0Node << 0 << 0;
        QTest::newRow("DAC_posX 4") << "dacX" << rocking << "Beamline/DAC_posX = 4" << 0 << 0;
        QTest::newRow("DAC_posY -1") << "dacY" << rocking << "Beamline/DAC_posY = -1" << 0 << 0;
        QTest::newRow("Left 7") << "left" << rocking << "BPM1/Left = 7" << 0 << 0;
        // The first output set is the settling one ahead of the scan.
        QTest::newRow("output set fails")
            << "set" << rocking << "after 5 of 20 points: the DAC module" << 5 << 7;
        QTest::newRow("currents fail")
            << "read" << rocking << "after 5 of 20 points: the currents" << 5 << 7;
        // Feedback off goes through, the hand-over of the outputs does not.
        QTest::newRow("outputs not handed over")
            << "handover" << rocking << "the scan was not started" << 0 << 0;
    }
    void refusedOrFailed()
    {
        QFETCH(QString, what);
        QFETCH(QString, title);
        QFETCH(QString, said);
        QFETCH(int, points);
        QFETCH(int, sets);
        Rig rig;
        if (what == "dac")
            rig.sim.changeScenario([](Scenario& s) { s.setDacPlugged(false); });
        if (what == "pico")
            rig.sim.changeScenario([](Scenario& s) { // the driver numbers the picoammeters
                s.setFirstPicoPlugged(false);
                s.setSecondPicoPlugged(false);
            });
        if (what == "dacX")
            rig.config.setBeamlineDacs(4, 1, 2);
        if (what == "dacY")
            rig.config.setBeamlineDacs(0, -1, 2);
        if (what == "left")
            rig.config.setBpmChannels(0, 1, 2, 7, 0);
        using Target = FaultDriver::Target;
        if (what == "set" || what == "read")
            rig.faults.inject(Target::ioctl(what == "set" ? DAC_IOC_SET_OUTPUTS : AMM_IOC_READ_CURRENTS),
                              FaultDriver::Fault::Fail, what == "set" ? 7 : 6);
        if (what == "handover")
            rig.faults.inject(Target::mailbox(cmd::SetOutputsFromController), FaultDriver::Fault::Fail);
        rig.driver.clearCalls();
        WindowRockingCurve window;
        rig.prepare(&window, 4.0, 6.0, 20);
        int drawnPoints = 0;
        connect(plot(&window), &QCustomPlot::afterReplot,
                [&] { drawnPoints = plot(&window)->graph(2)->dataCount(); });
        BoxCatcher catcher;
        click(&window, "buttonStart");

        QCOMPARE(int(catcher.boxes.size()), 1);
        QCOMPARE(catcher.boxes[0].title, title);
        QVERIFY2(catcher.boxes[0].text.contains(said), qPrintable(catcher.boxes[0].text));
        QVERIFY(!catcher.boxes[0].hasParent);
        QCOMPARE(::points(&window), points);
        QCOMPARE(drawnPoints, points);
        QCOMPARE(int(rig.driver.outputSets().size()), sets);
        QCOMPARE(rig.driver.transfers().empty(), points == 0 && what != "handover"); // refused
        QVERIFY(rig.settings().outputsFromController);
        QCOMPARE(rig.driver.stillOpen(), 0);
        QVERIFY(child<QPushButton>(&window, "buttonStart")->isEnabled());
        QVERIFY(!window.isScanning());
    }

    // While the points let events through: Start pressed or the slot called
    // again is ignored; closing the window by its title bar, Cancel, OK or
    // by deleting it ends the scan after the present point, the outputs go
    // back to the controller and the nodes are closed; nothing of the window
    // is touched once it is gone.
    void duringScan_data()
    {
        QTest::addColumn<QString>("how");
        for (const char* how : {"start", "close", "cancel", "ok", "delete"})
            QTest::newRow(how) << how;
    }
    void duringScan()
    {
        QFETCH(QString, how);
        Rig rig;
        QObject context;
        QPointer<WindowRockingCurve> window = new WindowRockingCurve;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        rig.prepare(window, 4.0, 6.0, 12);
        auto* start = child<QPushButton>(window, "buttonStart");
        bool enabledDuringScan = true;
        rig.afterOutputSet(10, [&] {
            enabledDuringScan = start->isEnabled();
            QTimer::singleShot(0, &context, [&] {
                if (how == "start") {
                    QTest::mouseClick(start, Qt::LeftButton);
                    window->startMeasurement();
                } else if (how == "close") {
                    window->close();
                } else if (how == "delete") {
                    delete window.data();
                } else {
                    QTest::mouseClick(standardButton(window, how == "ok" ? QDialogButtonBox::Ok
                                                                       : QDialogButtonBox::Cancel),
                                      Qt::LeftButton);
                }
            });
        });
        click(window, "buttonStart");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        QVERIFY(!enabledDuringScan);
        QCOMPARE(window.isNull(), how != "start");
        QCOMPARE(int(rig.driver.outputSets().size()), how == "start" ? 1 + 12 : 10);
        QCOMPARE(int(rig.driver.sent(cmd::SetFeedbackEnabled).size()), 1);
        rig.verifyHandedBack();
        if (window) {
            QVERIFY(start->isEnabled());
            QCOMPARE(points(window), 12);
            delete window.data();
        }
    }

    // Start and Stop move the voltage axis at once, without a scan.
    void startStop_setTheVoltageAxis()
    {
        WindowRockingCurve window;
        QCustomPlot* p = plot(&window);
        QCOMPARE(p->xAxis->range(), QCPRange(4, 6));
        child<QDoubleSpinBox>(&window, "boxStart")->setValue(-2.5);
        QCOMPARE(p->xAxis->range(), QCPRange(-2.5, 6));
        child<QDoubleSpinBox>(&window, "boxStop")->setValue(12.25);
        QCOMPARE(p->xAxis->range(), QCPRange(-2.5, 12.25));
    }
};

QTEST_MAIN(TestWindowRockingCurve)
#include "tst_windowrockingcurve.moc"
