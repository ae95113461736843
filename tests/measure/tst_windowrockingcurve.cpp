// The rocking curve over the virtual controller on a manual clock: where the
// points lie and what reaches the DAC module at each, in which order outputs
// are set and currents read, which electrodes are read, and what becomes of
// the outputs when a scan is refused, fails, is started twice or is cut
// short by closing the window. The 3D rocking curve over the recording
// driver where the display gives no OpenGL: what a scan sends and reads and
// in which order, how it waits, how Stop, Close and a destroyed window end
// it, refused and failing scans, and what Save Data hands to the grid file.

#include "measure/windowrocking3d.h"
#include "measure/windowrockingcurve.h"

#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/screenshot.h"
#include "support/simfixture.h"
#include "support/widgets.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QRegularExpression>
#include <QSpinBox>

#include <fcntl.h>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace zevo;
using Call = RecordingDriver::Call;
using Volts = std::array<double, 4>;

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
    // The outputs were taken once and handed back, every node is closed.
    void verifyHandedBack()
    {
        QCOMPARE(hexOf(driver.sent(cmd::SetOutputsFromController)),
                 goldenHex({"00070001 00", "00070001 01"}));
        QVERIFY(settings().outputsFromController);
        QCOMPARE(driver.stillOpen(), 0);
    }
};

struct Failure {
    QString what, title, said;
    int points, sets;     // sets sent, the failing one included
    bool surface = false; // in the 3D rocking curve
};
} // namespace

Q_DECLARE_METATYPE(Failure)

class TestWindowRockingCurve : public QObject
{
    Q_OBJECT

    // The rocking curve's plot: graphs 0 and 1 the two electrodes, 2 their
    // sum; point i of graph g at x volts, y amperes.
    static QCustomPlot* plot(QWidget* w) { return child<QCustomPlot>(w, "graph"); }
    static double x(QWidget* w, int g, int i) { return plot(w)->graph(g)->data()->at(i)->key; }
    static double y(QWidget* w, int g, int i) { return plot(w)->graph(g)->data()->at(i)->value; }
    static int points(QWidget* w) { return plot(w)->graph(2)->data()->size(); }

    static constexpr int kWaitsPerPoint = 12;

    std::unique_ptr<ProgramFixture> m_program;
    QPointer<WindowRocking3D> m_window;
    std::vector<unsigned long> m_waits;
    // Called when a point is complete, before its events are let through:
    // whatever it queues reaches the window at that point.
    std::function<void(int point)> m_onPoint;

    void makeWindow(QWidget* parent = nullptr)
    {
        m_window = new WindowRocking3D(parent);
        m_window->setSleeper([this](unsigned long us) {
            m_waits.push_back(us);
            if (m_waits.size() % kWaitsPerPoint == 0 && m_onPoint)
                m_onPoint(int(m_waits.size() / kWaitsPerPoint) - 1);
        });
        m_window->show();
    }
    template <typename T = QPushButton> T* part(const char* name) const
    {
        return child<T>(m_window.data(), name);
    }
    // Clicks a button from the event loop, as the operator does.
    static void queueClick(QAbstractButton* button)
    {
        QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
    }
    void pressGo()
    {
        queueClick(part("goButton"));
        QCoreApplication::processEvents(); // the whole scan runs in here
    }
    std::vector<Volts> outputSets() const
    {
        std::vector<Volts> out;
        for (const DacOutputRecord& r : m_program->driver.outputSets())
            out.push_back({r.volts[0], r.volts[1], r.volts[2], r.volts[3]});
        return out;
    }
    // The outputs taken once and given back, both nodes closed.
    void verifyHandedBackAndClosed() const
    {
        QCOMPARE(hexOf(m_program->sent(cmd::SetOutputsFromController)),
                 goldenHex({"00070001 00", "00070001 01"}));
        QCOMPARE(m_program->driver.countCalls(Call::Close), 2);
    }
    void setCurrents(double total)
    {
        const double c[4] = {0.1 * total, 0.2 * total, 0.3 * total, 0.4 * total};
        m_program->driver.setPicoCurrentsReply(QByteArray(reinterpret_cast<const char*>(c), 32));
    }

private slots:
    // The defaults over a quiet beamline: 1000 points from 4.000 to 5.998 V,
    // each output set with the held Y value, then a wait of Tpoint, the
    // read and another wait; the feedback off and the outputs back at the
    // end, and the last points drawn.
    void defaultScan_pointsOutputsAndOrder()
    {
        Rig rig;
        rig.setPidOffsets(5.1, 5.2);
        WindowRockingCurve window;
        QString order; // S output set, W wait, R read of the currents
        window.setWaitFunction([&](unsigned long us) {
            order += 'W';
            rig.clock.advanceNs(int64_t(us) * 1000);
        });
        rig.driver.onCall = [&](const RecordingDriver::Call& c) {
            if (c.request == DAC_IOC_SET_OUTPUTS || c.request == AMM_IOC_READ_CURRENTS)
                order += c.request == DAC_IOC_SET_OUTPUTS ? 'S' : 'R';
        };
        int drawnPoints = -1;
        connect(plot(&window), &QCustomPlot::afterReplot,
                [&] { drawnPoints = plot(&window)->graph(2)->dataCount(); });
        const int64_t t0 = rig.clock.nowNs();
        click(&window, "buttonStart");
        QCOMPARE(drawnPoints, 1000);
        QCOMPARE(points(&window), 1000);

        // The first point's set goes out once ahead of the scan, for the
        // beam to settle there: 100 ms, then two waits of Tpoint per point.
        QCOMPARE(order, "SW" + QString("SWRW").repeated(1000));
        QCOMPARE(rig.clock.nowNs() - t0, int64_t(100) * 1000000 + int64_t(1000) * 2 * 1000000);
        const std::vector<DacOutputRecord> sets = rig.driver.outputSets();
        QCOMPARE(sets[0].volts[0], 4.0);
        for (int i = 0; i < 1000; ++i) {
            const double* v = sets[std::size_t(1 + i)].volts;
            QVERIFY2(std::fabs(x(&window, 2, i) - (4.0 + 0.002 * i)) < 1e-9 &&
                         v[0] == x(&window, 2, i) && v[1] == 5.2 &&
                         y(&window, 2, i) == y(&window, 0, i) + y(&window, 1, i),
                     qPrintable(QString::number(i)));
        }
        QCOMPARE(hexOf(rig.driver.transfers()),
                 goldenHex({"00050001 00", "00070001 00", "00070001 01"}));
        rig.verifyHandedBack();
        for (const RecordingDriver::Call& c : rig.driver.calls())
            QVERIFY(c.kind != RecordingDriver::Call::Open || c.flags == (O_RDWR | O_SYNC));

        // N = 0 only takes the outputs and gives them back.
        rig.driver.clearCalls();
        child<QSpinBox>(&window, "boxN")->setValue(0);
        click(&window, "buttonStart");
        QVERIFY(rig.driver.outputSets().empty() && points(&window) == 0);
        rig.verifyHandedBack();

        if (screenshotsWanted()) {
            window.resize(900, 560);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(saveScreenshot(window, QStringLiteral("rocking-curve.png")));
        }
    }

    // Which current-record elements the two electrodes are (map top 1,
    // right 2, bottom 3, left 0); which output is scanned and which held.
    void electrodeMap_elementsAndOutputs_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("firstElement");
        QTest::addColumn<int>("secondElement");
        QTest::newRow("posX") << 0 << 3 << 1; // left, right
        QTest::newRow("posY") << 1 << 2 << 0; // top, bottom
    }
    void electrodeMap_elementsAndOutputs()
    {
        QFETCH(int, direction);
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

        std::vector<PicoCurrentsRecord> currents; // every read, as the driver gave it
        for (const RecordingDriver::Call& c : rig.driver.calls())
            if (c.request == AMM_IOC_READ_CURRENTS && c.result >= 0) {
                currents.emplace_back();
                std::memcpy(&currents.back(), c.received.constData(), sizeof(PicoCurrentsRecord));
            }
        // The scanned output steps from Start, the other holds its PID offset.
        const std::vector<DacOutputRecord> sets = rig.driver.outputSets();
        QCOMPARE(std::make_pair(int(currents.size()), int(sets.size())),
                 std::make_pair(40, 1 + 40));
        for (std::size_t i = 0; i < 40; ++i)
            QCOMPARE((std::array<double, 4>{y(&window, 0, int(i)), y(&window, 1, int(i)),
                                            sets[1 + i].volts[direction],
                                            sets[1 + i].volts[1 - direction]}),
                     (std::array<double, 4>{currents[i].current[firstElement],
                                            currents[i].current[secondElement],
                                            x(&window, 2, int(i)), direction == 0 ? 5.3 : 5.1}));
        QVERIFY(std::fabs(x(&window, 2, 39) - (4.5 + 1.4 * 39 / 40)) < 1e-12);
        // Past the detector's centre the beam falls more on the right (X) or
        // the top (Y) electrode: a pair read the wrong way round shows here.
        QCOMPARE(y(&window, 1, 39) > y(&window, 0, 39), direction == 0);
    }

    // Refused (a missing node, a configuration that names no output or
    // channel): a message, and neither the controller nor the outputs are
    // touched. A request that fails ends the scan there, says so, and leaves
    // no point without currents of its own; the outputs go back. The same
    // for the 3D rocking curve, whose scan ends at its first failed read.
    void refusedOrFailed_data()
    {
        QTest::addColumn<Failure>("f");
        const QString open = "Cannot open file", rocking = "Rocking Curve";
        QTest::newRow("picoammeter node") << Failure{"pico", open, kPico0Node, 0, 0};
        QTest::newRow("DAC_posX 4") << Failure{"dacX", rocking, "Beamline/DAC_posX = 4", 0, 0};
        QTest::newRow("DAC_posY -1") << Failure{"dacY", rocking, "Beamline/DAC_posY = -1", 0, 0};
        QTest::newRow("Left 7") << Failure{"left", rocking, "BPM1/Left = 7", 0, 0};
        // The first output set is the settling one ahead of the scan.
        QTest::newRow("currents fail")
            << Failure{"read", rocking, "after 5 of 20 points: the currents", 5, 7};
        // Feedback off goes through, the hand-over of the outputs does not.
        QTest::newRow("outputs not handed over")
            << Failure{"handover", rocking, "the scan was not started", 0, 0};
        const QString surface = "3D Rocking Curve";
        QTest::newRow("3D: picoammeter node") << Failure{"pico", open, kPico0Node, 0, 0, true};
        QTest::newRow("3D: currents fail")
            << Failure{"read", surface, "X = 4 V, Y = 4 V: the currents", 0, 1, true};
        QTest::newRow("3D: outputs not handed over")
            << Failure{"handover", surface, "did not hand the DAC", 0, 0, true};
    }
    void refusedOrFailed()
    {
        QFETCH(Failure, f);
        const QString& what = f.what;
        Rig rig;
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
        if (what == "read")
            rig.faults.inject(Target::ioctl(AMM_IOC_READ_CURRENTS), FaultDriver::Fault::Fail, 6);
        if (what == "handover")
            rig.faults.inject(Target::mailbox(cmd::SetOutputsFromController),
                              FaultDriver::Fault::Fail);
        rig.driver.clearCalls();
        WindowRockingCurve window;
        rig.prepare(&window, 4.0, 6.0, 20);
        BoxCatcher catcher;
        int measured = 0;
        if (f.surface) {
            makeWindow();
            pressGo();
            measured = int(std::count_if(m_window->rawGrid().begin(), m_window->rawGrid().end(),
                                         [](float v) { return v != 0.0f; }));
            QVERIFY(part("goButton")->isEnabled() && !m_window->isScanning());
        } else {
            click(&window, "buttonStart");
            measured = points(&window);
        }

        QCOMPARE(int(catcher.boxes.size()), 1);
        QCOMPARE(catcher.boxes[0].title, f.title);
        QVERIFY2(catcher.boxes[0].text.contains(f.said), qPrintable(catcher.boxes[0].text));
        QVERIFY(!catcher.boxes[0].hasParent);
        QCOMPARE(std::make_pair(measured, int(rig.driver.outputSets().size())),
                 std::make_pair(f.points, f.sets));
        QCOMPARE(rig.driver.transfers().empty(), f.sets == 0 && what != "handover"); // refused
        QVERIFY(rig.settings().outputsFromController);
        QCOMPARE(rig.driver.stillOpen(), 0);
        QVERIFY(child<QPushButton>(&window, "buttonStart")->isEnabled() && !window.isScanning());
    }

    // While the points let events through: Start pressed or the slot called
    // again is ignored; closing the window by its title bar, Cancel or by
    // deleting it ends the scan after the present point, the outputs go back
    // to the controller and the nodes are closed; nothing of the window is
    // touched once it is gone.
    void duringScan_data()
    {
        QTest::addColumn<QString>("how");
        for (const char* how : {"start", "close", "cancel", "delete"})
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
        rig.driver.onCall = [&](const RecordingDriver::Call& c) {
            if (c.request != DAC_IOC_SET_OUTPUTS || rig.driver.outputSets().size() != 10)
                return;
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
                    QTest::mouseClick(standardButton(window, QDialogButtonBox::Cancel),
                                      Qt::LeftButton);
                }
            });
        };
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

    void init()
    {
        m_program = std::make_unique<ProgramFixture>();
        m_program->setUp();
        m_waits.clear();
        m_onPoint = nullptr;
    }
    void cleanup()
    {
        delete m_window;
        m_program->tearDown();
    }

    // Without OpenGL the window says so where the view would be, and a whole
    // scan still runs: nodes, feedback off, outputs taken, X outer and Y
    // inner from end to end of both ranges with outputs 3 and 4 at 0, ten
    // reads and the waits of each point, outputs back, nodes closed. Go or
    // a start while the scan runs starts nothing more.
    void fullScan_withoutOpenGL_thenStopAndSave()
    {
        setCurrents(1e-5);
        makeWindow();
        QVERIFY(!m_window->graph3D());
        m_onPoint = [this](int point) {
            if (point == 5) {
                QVERIFY(!part("goButton")->isEnabled());
                queueClick(part("goButton"));
                QMetaObject::invokeMethod(m_window, "startMeasurement", Qt::QueuedConnection);
            }
        };
        pressGo();

        QCOMPARE(hexOf({m_program->driver.transfers()[0]}), goldenHex({"00050001 00"}));
        verifyHandedBackAndClosed();

        const auto sets = outputSets();
        QCOMPARE(int(sets.size()), 4096);
        const double step = 2.0 / 63.0;
        QCOMPARE((std::vector<Volts>{sets[1], sets[63], sets[64], sets[4095]}),
                 (std::vector<Volts>{{4.0, 4.0 + step, 0, 0},
                                     {4.0, 6.0, 0, 0},
                                     {4.0 + step, 4.0, 0, 0},
                                     {6.0, 6.0, 0, 0}}));
        QCOMPARE(m_program->driver.countCalls(Call::Ioctl) - m_program->driver.transfers().size(),
                 std::size_t(4096 * 11));
        QCOMPARE(m_waits.size(), std::size_t(4096 * kWaitsPerPoint));
        QCOMPARE(std::vector<unsigned long>(m_waits.begin(), m_waits.begin() + kWaitsPerPoint),
                 (std::vector<unsigned long>{10000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000,
                                             1000, 1000, 10000}));
        // The same current everywhere: a flat surface, not 0 / 0.
        for (std::size_t i = 0; i < m_window->rawGrid().size(); ++i)
            QVERIFY(qFuzzyCompare(m_window->rawGrid()[i], 1e-5f) &&
                    m_window->normalisedGrid()[i] == 0.0f);
        QVERIFY(part("goButton")->isEnabled());

        // Stop ends the scan after the point it reaches, which starts from a
        // cleared grid. The step time counts in whole milliseconds, its tenth
        // in whole microseconds. Save Data then proposes a dated name and
        // hands the grid as scanned (zeros where the scan did not get) and
        // the ranges the boxes show to the CSV file (the NeXus file is
        // tst_nexuswindows'); a file that cannot be written is reported.
        m_program->driver.clearCalls();
        m_waits.clear();
        setCurrents(1e-6);
        part<QDoubleSpinBox>("xMinBox")->setValue(5.25);
        part<QDoubleSpinBox>("xMaxBox")->setValue(5.25);
        part<QDoubleSpinBox>("timeBox")->setValue(7);
        m_onPoint = [this](int point) {
            if (point == 99)
                queueClick(part("stopButton"));
        };
        pressGo();
        QCOMPARE(std::make_tuple(int(outputSets().size()), m_waits[0], m_waits[1]),
                 std::make_tuple(100, 7000ul, 700ul));
        verifyHandedBackAndClosed();
        QVERIFY(m_window->rawGrid()[99] > 0.0f && m_window->rawGrid()[100] == 0.0f);

        QTemporaryDir dir;
        BoxCatcher answer;
        answer.file = dir.filePath("chosen.csv");
        QTest::mouseClick(part("saveButton"), Qt::LeftButton);
        const QString proposed = answer.dialogs[0].proposedName;
        QVERIFY2(QRegularExpression("^ZEVO_rock3D_\\d{4}(-\\d\\d){2}_\\d\\d(-\\d\\d){2}\\.csv$")
                     .match(proposed)
                     .hasMatch(),
                 qPrintable(proposed));
        // The grid as scanned and the ranges the boxes show reach the file.
        const QList<QByteArray> lines = fileText(answer.file).split('\n');
        QCOMPARE((QList<QByteArray>{lines[6 + 99], lines[6 + 100]}),
                 (QList<QByteArray>{"5.25,5.11111,1e-06\r", "5.25,5.14286,0\r"}));
        QVERIFY(!m_window->writeDataFile(dir.filePath("chosen.csv/not-a-folder.csv")));
        QCOMPARE(int(answer.boxes.size()), 1);
        QVERIFY(!answer.boxes[0].hasParent);
    }

    // Closing the window or destroying it (its parent going) during a scan
    // ends the scan; the outputs go back and the nodes close.
    void windowGone_midScan_data()
    {
        QTest::addColumn<bool>("byClose");
        QTest::newRow("Close") << true;
        QTest::newRow("parent destroyed") << false;
    }
    void windowGone_midScan()
    {
        QFETCH(bool, byClose);
        auto* parent = new QWidget;
        makeWindow(byClose ? nullptr : parent);
        m_window->setAttribute(Qt::WA_DeleteOnClose);
        m_onPoint = [this, byClose, parent](int point) {
            if (point != 10)
                return;
            if (byClose)
                queueClick(part<QDialogButtonBox>("buttonBox")->button(QDialogButtonBox::Close));
            else
                QMetaObject::invokeMethod(
                    parent, [parent] { delete parent; }, Qt::QueuedConnection);
        };
        pressGo();
        QTRY_VERIFY(!m_window);
        QCOMPARE(int(outputSets().size()), 11);
        verifyHandedBackAndClosed();
        if (byClose)
            delete parent;
    }
};

// Tested where the display gives no OpenGL: the offscreen platform without
// its GLX variant, even when an X display is at hand.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QPA_OFFSCREEN_NO_GLX", "1");
    QApplication app(argc, argv);
    TestWindowRockingCurve test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowrockingcurve.moc"
