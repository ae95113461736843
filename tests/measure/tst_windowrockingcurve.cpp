// The rocking curve over the virtual controller on a manual clock: where the
// points lie and what reaches the DAC module at each, which electrodes are
// read and how the plot names and colours them, where the model's peak shows,
// and what becomes of the outputs when a scan is refused, fails, is started
// twice or is cut short by closing the window.

#include "measure/windowrockingcurve.h"

#include "sim/beamlinemodel.h"
#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/screenshot.h"
#include "support/simfixture.h"
#include "support/widgets.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QProgressBar>
#include <QSpinBox>

#include <fcntl.h>

#include <cmath>
#include <memory>

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
    // The currents of every read that succeeded, as the driver gave them.
    std::vector<PicoCurrentsRecord> currents() const
    {
        std::vector<PicoCurrentsRecord> out;
        for (const RecordingDriver::Call& c : driver.calls())
            if (c.request == AMM_IOC_READ_CURRENTS && c.result >= 0) {
                out.emplace_back();
                std::memcpy(&out.back(), c.received.constData(), sizeof(PicoCurrentsRecord));
            }
        return out;
    }
    // Calls `then` after the n-th output set.
    void afterOutputSet(std::size_t n, const std::function<void()>& then)
    {
        driver.onCall = [this, n, then](const RecordingDriver::Call& c) {
            if (c.request == DAC_IOC_SET_OUTPUTS && driver.outputSets().size() == n)
                then();
        };
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

double keyOfMaximum(const QCPGraph* graph)
{
    double key = 0, value = -1e300;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        if (it->value > value) {
            value = it->value;
            key = it->key;
        }
    return key;
}
} // namespace

class TestWindowRockingCurve : public QObject
{
    Q_OBJECT

    static QCustomPlot* plot(QWidget* w) { return child<QCustomPlot>(w, "graph"); }
    static void setScan(QWidget* w, double from, double to, int n, int direction = 0)
    {
        child<QDoubleSpinBox>(w, "boxStart")->setValue(from);
        child<QDoubleSpinBox>(w, "boxStop")->setValue(to);
        child<QSpinBox>(w, "boxN")->setValue(n);
        child<QComboBox>(w, "chSel")->setCurrentIndex(direction);
    }

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

        const auto sum = p->graph(2)->data();
        QCOMPARE(sum->size(), 1000);
        // The first point's set goes out once ahead of the scan, for the
        // beam to settle there.
        const std::vector<DacOutputRecord> sets = rig.driver.outputSets();
        QCOMPARE(int(sets.size()), 1 + 1000);
        QCOMPARE(sets[0].volts[0], 4.0);
        for (int i = 0; i < 1000; ++i) {
            const double key = (sum->constBegin() + i)->key;
            QVERIFY2(std::fabs(key - (4.0 + 0.002 * i)) < 1e-9, qPrintable(QString::number(i)));
            const DacOutputRecord& set = sets[std::size_t(1 + i)];
            QCOMPARE(std::vector<double>(set.volts, set.volts + 4),
                     (std::vector<double>{key, 5.2, 0.0, 0.0}));
            QCOMPARE(set.enable, 1u);
            const double a = (p->graph(0)->data()->constBegin() + i)->value;
            const double b = (p->graph(1)->data()->constBegin() + i)->value;
            QCOMPARE((sum->constBegin() + i)->value, a + b);
        }
        QVERIFY(std::fabs((sum->constEnd() - 1)->key - 5.998) < 1e-9);
        // 100 ms for the beam to settle at the first point, then two waits of
        // Tpoint per point.
        QCOMPARE(rig.clock.nowNs() - t0, int64_t(100) * 1000000 + int64_t(1000) * 2 * 1000000);
        QCOMPARE(child<QProgressBar>(&window, "progressBar")->value(), 100);

        // Feedback off, outputs to the host, and back to the controller.
        QCOMPARE(hexOf(rig.driver.transfers()),
                 goldenHex({"00050001 00", "00070001 00", "00070001 01"}));
        QVERIFY(rig.settings().outputsFromController);
        for (const RecordingDriver::Call& c : rig.driver.calls())
            QVERIFY(c.kind != RecordingDriver::Call::Open || c.flags == (O_RDWR | O_SYNC));
        QCOMPARE(rig.driver.stillOpen(), 0);

        // left = channel 3, right = channel 1 of the virtual detector.
        const double expected = modelPeak(true, 5.2, 3, 1, 4.0, 6.0);
        QVERIFY2(expected > 4.3 && expected < 5.7, qPrintable(QString::number(expected)));
        // Every point counts: the beam has settled at the first one before
        // it is read.
        const double found = keyOfMaximum(p->graph(2));
        QVERIFY2(std::fabs(found - expected) < 0.01,
                 qPrintable(QStringLiteral("%1 vs %2").arg(found).arg(expected)));
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

    // Names, colours and current-record elements of the two electrodes.
    void electrodeMap_namesColoursAndElements_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QColor>("firstColour");
        QTest::addColumn<QColor>("secondColour");
        QTest::addColumn<int>("firstElement");
        QTest::addColumn<int>("secondElement");
        // Map top 1, right 2, bottom 3, left 0.
        QTest::newRow("posX") << 0 << QStringList{"left (ch 1)", "right (ch 3)", "sum (left+right)"}
                              << QColor(255, 255, 135) << QColor(130, 255, 130) << 3 << 1;
        QTest::newRow("posY") << 1 << QStringList{"top (ch 2)", "bottom (ch 4)", "sum (top+bottom)"}
                              << QColor(255, 130, 255) << QColor(130, 210, 250) << 2 << 0;
    }
    void electrodeMap_namesColoursAndElements()
    {
        QFETCH(int, direction);
        QFETCH(QStringList, names);
        QFETCH(QColor, firstColour);
        QFETCH(QColor, secondColour);
        QFETCH(int, firstElement);
        QFETCH(int, secondElement);

        Scenario wired = Rig::quiet();
        wired.wiring[0].channel = {1, 2, 3, 0}; // top, right, bottom, left
        Rig rig(wired);
        rig.config.setBpmChannels(1, 2, 3, 0, 0);
        rig.setPidOffsets(5.1, 5.3);
        WindowRockingCurve window;
        window.setWaitFunction(rig.waitUs());
        setScan(&window, 4.5, 5.9, 40, direction);
        click(&window, "buttonStart");

        QCustomPlot* p = plot(&window);
        for (int k = 0; k < 3; ++k)
            QCOMPARE(p->graph(k)->name(), names[k]);
        QCOMPARE(p->graph(0)->pen().color(), firstColour);
        QCOMPARE(p->graph(1)->pen().color(), secondColour);
        QCOMPARE(p->graph(2)->pen(), QPen(QColor(240, 240, 240, 240), 3));

        const std::vector<PicoCurrentsRecord> currents = rig.currents();
        QCOMPARE(int(currents.size()), 40);
        for (int i = 0; i < 40; ++i) {
            const PicoCurrentsRecord& r = currents[std::size_t(i)];
            QCOMPARE((p->graph(0)->data()->constBegin() + i)->value, r.current[firstElement]);
            QCOMPARE((p->graph(1)->data()->constBegin() + i)->value, r.current[secondElement]);
        }
        // Past the detector's centre the beam falls more on the right (X) or
        // the top (Y) electrode: a pair read the wrong way round shows here.
        const auto last = [&](int k) { return (p->graph(k)->data()->constEnd() - 1)->value; };
        if (direction == 0)
            QVERIFY(last(1) > last(0));
        else
            QVERIFY(last(0) > last(1));
    }

    // The held value and the assignment: X on output 3, Y on output 4.
    void assignment_scanAndHeldOutputs_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("scanOutput");
        QTest::addColumn<int>("heldOutput");
        QTest::addColumn<double>("held");
        QTest::newRow("posX holds Y") << 0 << 2 << 3 << 5.3;
        QTest::newRow("posY holds X") << 1 << 3 << 2 << 5.1;
    }
    void assignment_scanAndHeldOutputs()
    {
        QFETCH(int, direction);
        QFETCH(int, scanOutput);
        QFETCH(int, heldOutput);
        QFETCH(double, held);
        Rig rig;
        rig.config.setBeamlineDacs(2, 3, 1);
        rig.setPidOffsets(5.1, 5.3);
        WindowRockingCurve window;
        window.setWaitFunction(rig.waitUs());
        setScan(&window, 4.0, 6.0, 10, direction);
        click(&window, "buttonStart");

        const std::vector<DacOutputRecord> sets = rig.driver.outputSets();
        QCOMPARE(int(sets.size()), 1 + 10);
        for (int i = 0; i < 10; ++i) {
            const DacOutputRecord& set = sets[std::size_t(1 + i)];
            QCOMPARE(set.volts[0], 0.0);
            QCOMPARE(set.volts[1], 0.0);
            QVERIFY(std::fabs(set.volts[scanOutput] - (4.0 + 0.2 * i)) < 1e-12);
            QCOMPARE(set.volts[heldOutput], held);
        }
        QCOMPARE(int(rig.driver.sent(cmd::SetOutputsFromController).size()), 2);
    }

    // The bar reaches 100 at the last point; N = 0 only takes the outputs
    // and gives them back.
    void progress_reaches100_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("percent");
        QTest::newRow("0") << 0 << 0;
        QTest::newRow("1") << 1 << 100;
        QTest::newRow("7") << 7 << 100;
        QTest::newRow("10000") << 10000 << 100;
    }
    void progress_reaches100()
    {
        QFETCH(int, n);
        QFETCH(int, percent);
        Rig rig;
        WindowRockingCurve window;
        window.setWaitFunction(rig.waitUs());
        setScan(&window, 4.0, 6.0, n);
        auto* bar = child<QProgressBar>(&window, "progressBar");
        std::vector<int> shown;
        connect(bar, &QProgressBar::valueChanged, [&](int v) { shown.push_back(v); });
        click(&window, "buttonStart");
        QCOMPARE(bar->value(), percent);
        QVERIFY(std::is_sorted(shown.begin(), shown.end()));
        QCOMPARE(int(rig.driver.outputSets().size()), n > 0 ? 1 + n : 0);
        QCOMPARE(plot(&window)->graph(2)->data()->size(), n);
        QCOMPARE(int(rig.driver.sent(cmd::SetFeedbackEnabled).size()), 1);
        QCOMPARE(int(rig.driver.sent(cmd::SetOutputsFromController).size()), 2);
    }

    // A missing node or a configuration that names no output or channel:
    // a message, and neither the controller nor the outputs are touched.
    void refusedScan_touchesNothing_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("named");
        QTest::newRow("DAC node") << "dac"
                                  << "Cannot open file" << kDacNode;
        QTest::newRow("picoammeter node") << "pico"
                                          << "Cannot open file" << kPico0Node;
        QTest::newRow("DAC_posX 4") << "dacX"
                                    << "Rocking Curve"
                                    << "Beamline/DAC_posX = 4";
        QTest::newRow("DAC_posY -1") << "dacY"
                                     << "Rocking Curve"
                                     << "Beamline/DAC_posY = -1";
        QTest::newRow("Left 7") << "left"
                                << "Rocking Curve"
                                << "BPM1/Left = 7";
    }
    void refusedScan_touchesNothing()
    {
        QFETCH(QString, what);
        QFETCH(QString, title);
        QFETCH(QString, named);
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
        rig.driver.clearCalls();

        WindowRockingCurve window;
        window.setWaitFunction(rig.waitUs());
        setScan(&window, 4.0, 6.0, 20);
        BoxCatcher catcher;
        click(&window, "buttonStart");

        QCOMPARE(int(catcher.boxes.size()), 1);
        QCOMPARE(catcher.boxes[0].title, title);
        QVERIFY2(catcher.boxes[0].text.contains(named), qPrintable(catcher.boxes[0].text));
        QVERIFY(!catcher.boxes[0].hasParent);
        QVERIFY(rig.driver.transfers().empty());
        QVERIFY(rig.driver.outputSets().empty());
        QCOMPARE(rig.driver.stillOpen(), 0);
        QCOMPARE(plot(&window)->graph(2)->data()->size(), 0);
        QVERIFY(child<QPushButton>(&window, "buttonStart")->isEnabled());
        QVERIFY(!window.isScanning());
    }

    // A request that fails ends the scan there, says so, and leaves no point
    // without currents of its own; the outputs go back to the controller.
    void failingRequest_stopsTheScan_data()
    {
        QTest::addColumn<qulonglong>("request"); // 0: the hand-over of the outputs
        QTest::addColumn<int>("failFrom");
        QTest::addColumn<int>("points");
        QTest::addColumn<int>("sets"); // sent, the failing one included
        QTest::addColumn<QString>("said");
        // The first output set is the settling one ahead of the scan.
        QTest::newRow("output set") << qulonglong(DAC_IOC_SET_OUTPUTS) << 7 << 5 << 7
                                    << "after 5 of 20 points: the DAC module";
        QTest::newRow("currents") << qulonglong(AMM_IOC_READ_CURRENTS) << 6 << 5 << 7
                                  << "after 5 of 20 points: the currents";
        // Feedback off goes through, the hand-over of the outputs does not.
        QTest::newRow("outputs not handed over")
            << 0ull << 1 << 0 << 0 << "the scan was not started";
    }
    void failingRequest_stopsTheScan()
    {
        QFETCH(qulonglong, request);
        QFETCH(int, failFrom);
        QFETCH(int, points);
        QFETCH(int, sets);
        QFETCH(QString, said);
        Rig rig;
        rig.faults.inject(request ? FaultDriver::Target::ioctl(request)
                                  : FaultDriver::Target::mailbox(cmd::SetOutputsFromController),
                          FaultDriver::Fault::Fail, failFrom);
        WindowRockingCurve window;
        window.setWaitFunction(rig.waitUs());
        setScan(&window, 4.0, 6.0, 20);
        int drawnPoints = -1;
        connect(plot(&window), &QCustomPlot::afterReplot,
                [&] { drawnPoints = plot(&window)->graph(2)->dataCount(); });
        BoxCatcher catcher;
        click(&window, "buttonStart");

        QCOMPARE(int(catcher.boxes.size()), 1);
        QCOMPARE(catcher.boxes[0].title, QStringLiteral("Rocking Curve"));
        QVERIFY2(catcher.boxes[0].text.contains(said), qPrintable(catcher.boxes[0].text));
        QCOMPARE(plot(&window)->graph(2)->data()->size(), points);
        if (points > 0)
            QCOMPARE(drawnPoints, points);
        QCOMPARE(int(rig.driver.outputSets().size()), sets);
        QVERIFY(rig.settings().outputsFromController);
        QCOMPARE(rig.driver.stillOpen(), 0);
        QVERIFY(child<QPushButton>(&window, "buttonStart")->isEnabled());
    }

    // Start pressed, or the slot called, while the points let events through.
    void startDuringScan_isIgnored()
    {
        Rig rig;
        WindowRockingCurve window;
        window.setWaitFunction(rig.waitUs());
        window.show();
        setScan(&window, 4.0, 6.0, 12);
        auto* button = child<QPushButton>(&window, "buttonStart");
        bool enabledDuringScan = true;
        rig.afterOutputSet(3, [&] {
            enabledDuringScan = button->isEnabled();
            QTimer::singleShot(0, button, [&] {
                QTest::mouseClick(button, Qt::LeftButton);
                window.startMeasurement();
            });
        });
        click(&window, "buttonStart");
        QVERIFY(!enabledDuringScan);
        QVERIFY(button->isEnabled());
        QCOMPARE(int(rig.driver.outputSets().size()), 1 + 12);
        QCOMPARE(int(rig.driver.sent(cmd::SetFeedbackEnabled).size()), 1);
        QCOMPARE(int(rig.driver.sent(cmd::SetOutputsFromController).size()), 2);
        QCOMPARE(plot(&window)->graph(2)->data()->size(), 12);
    }

    // Closing the window mid-scan, by its title bar, Cancel, OK or by
    // deleting it: the scan ends after the present point, the outputs go back
    // to the controller and the nodes are closed; nothing of the window is
    // touched once it is gone.
    void closingMidScan_handsTheOutputsBack_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("close") << "close";
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("OK") << "ok";
        QTest::newRow("deleted") << "delete";
    }
    void closingMidScan_handsTheOutputsBack()
    {
        QFETCH(QString, how);
        Rig rig;
        QObject context;
        QPointer<WindowRockingCurve> window = new WindowRockingCurve;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWaitFunction(rig.waitUs());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        setScan(window, 4.0, 6.0, 1000);
        auto* buttons = child<QDialogButtonBox>(window, "buttonBox");
        rig.afterOutputSet(10, [&] {
            QTimer::singleShot(0, &context, [&] {
                if (how == "close")
                    window->close();
                else if (how == "cancel")
                    QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
                else if (how == "ok")
                    QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
                else
                    delete window.data();
            });
        });
        click(window, "buttonStart");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        QVERIFY(window.isNull());
        QCOMPARE(int(rig.driver.outputSets().size()), 10);
        const auto handOver = rig.driver.sent(cmd::SetOutputsFromController);
        QCOMPARE(int(handOver.size()), 2);
        QCOMPARE(handOver.back().u8(4), uint8_t(1));
        QVERIFY(rig.settings().outputsFromController);
        QCOMPARE(rig.driver.stillOpen(), 0);
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
