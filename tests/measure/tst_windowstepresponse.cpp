// The step-response window over a scripted controller: what a run sends
// (feedback, display rate, output sets from the preset biases, the one read)
// and what it gives back afterwards, the results it shows, and every
// way a run is refused or stopped with a message. Then runs measuring the
// virtual beamline (a manual clock advanced by the window's own waits, the
// simulator's first-start configuration): the gain, dead time and rise time
// reported are the beamline model's.

#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include "measure/windowstepresponse.h"
#include "sim/beamlinemodel.h"
#include "support/simfixture.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QRadioButton>
#include <QRegularExpression>

#include <cmath>
#include <fcntl.h>

using namespace zevo;

namespace
{
constexpr int kRate = WindowStepResponse::kRunSampleRate;
constexpr int kStepUp = 3333; // first record of the step in the synthetic buffer
constexpr int kStepDown = kStepUp + 5000;
constexpr double kDead = 1.0e-3;
constexpr double kLag = 2.5e-3;

class Window : public WindowStepResponse
{
public:
    int quits = 0;
    std::vector<int> waits;
    Window()
    {
        setWaitFunction([this](int ms) { waits.push_back(ms); });
    }

protected:
    void requestQuit() override { ++quits; }
};

// A display buffer as the controller records it during a run: bias, 100 ms
// of step on `output` (0..2), bias again; BPM 1 X (field 0) follows with
// `gain` behind a dead time and a lag.
std::vector<DisplayRecord> recordedRun(int output, double bias, double step, double gain)
{
    std::vector<DisplayRecord> records(kDisplayBufferRecords);
    const auto rise = [](double since) { return since <= 0 ? 0.0 : 1.0 - std::exp(-since / kLag); };
    const double up = double(kStepUp) / kRate + kDead, down = double(kStepDown) / kRate + kDead;
    for (int i = 0; i < kDisplayBufferRecords; ++i) {
        const double t = double(i) / kRate;
        DisplayRecord& r = records[std::size_t(i)];
        r.value[disp::Dac1 + output] = i >= kStepUp && i < kStepDown ? bias + step : bias;
        r.value[disp::Bpm1X] = 0.3 + gain * step * (rise(t - up) - rise(t - down));
        r.value[disp::Bpm2X] = 7.0; // must not be read for BPM 1
    }
    return records;
}

// The DAC output sets as they left through the driver, in hex: four volts
// (doubles) and the enable word.
QStringList outputSets(const RecordingDriver& driver)
{
    QStringList sets;
    for (const RecordingDriver::Call& c : driver.calls())
        if (c.request == DAC_IOC_SET_OUTPUTS)
            sets << QString::fromLatin1(c.sent.toHex());
    return sets;
}
struct Run {
    int axis;
    bool bpm2;
    double noise;
    bool swapped;
    double step, bias; // bias in volts; negative: as preset from the PID offset
};
} // namespace

Q_DECLARE_METATYPE(Run)

class TestWindowStepResponse : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProgramFixture> program;
    bool m_takesRate = true; // the controller takes the display rate it is sent

    static QString text(QWidget* w, const char* label) { return child<QLabel>(w, label)->text(); }
    static QDoubleSpinBox* box(QWidget* w, const char* n) { return child<QDoubleSpinBox>(w, n); }
    // The number a result label shows ("1.263 ms" gives 1.263).
    static double shown(QWidget* w, const char* l)
    {
        return text(w, l).section(' ', 0, 0).toDouble();
    }
    static bool within10Percent(double v, double e)
    {
        return std::fabs(v - e) <= 0.1 * std::fabs(e);
    }

    // Mailbox messages sent in hex, without those of the once-a-second poll.
    QStringList controllerMessages() const
    {
        std::vector<MailboxMessage> out;
        for (const MailboxMessage& m : program->driver.transfers())
            if (m.command() != cmd::ReadSlot && m.command() != cmd::ReadPidStatus)
                out.push_back(m);
        return hexOf(out);
    }
    void setPidStatus(uint8_t status)
    {
        program->controller.pidStatus = status;
        program->mailbox->readPidStatus();
    }

private slots:
    void init()
    {
        m_takesRate = true;
        program = std::make_unique<ProgramFixture>();
        ScriptedController& c = program->controller;
        c.displayDivider = 100000;
        c.onTransfer = [this, &c](const MailboxMessage& m) {
            if (m.command() == cmd::SetDisplayFrequency && m_takesRate) {
                c.displayDivider = m.u32(8);
                c.displayFilter = m.u8(4) != 0;
            }
        };
        program->setUp();
        SAMP_FREQ = 1000;
    }
    void cleanup()
    {
        program->tearDown();
        program.reset();
    }

    // A run with X on output 3 and Y on output 1: feedback off when it was
    // on, 50 000 records per second with the filter, outputs to the host,
    // bias / step / bias with 100, 100 and 120 ms between, one read of the
    // whole buffer; then the outputs, the feedback and the display rate go
    // back as they were. The results show the synthetic response's gain and
    // times, a falling one negated under "Inverted display".
    void run_measuresThenGivesEverythingBack_data()
    {
        QTest::addColumn<int>("pidStatus");
        QTest::addColumn<double>("gain");
        QTest::newRow("feedback off, rising") << int(PID_STATUS_OFF) << 0.2;
        QTest::newRow("feedback on, falling") << int(PID_STATUS_ON) << -0.2;
        QTest::newRow("beam off, rising") << int(PID_STATUS_BEAM_OFF) << 0.2;
    }
    void run_measuresThenGivesEverythingBack()
    {
        QFETCH(int, pidStatus);
        QFETCH(double, gain);
        setPidStatus(uint8_t(pidStatus));
        program->controller.displayFilter = true; // the operator's display runs filtered
        program->controller.displayDivider = 50000;
        SAMP_FREQ = 2000;
        QVERIFY(theConfig->setBeamlineDacs(2, 0, 1));
        program->driver.setDisplayRecords(recordedRun(2, 5.0, 0.5, gain));

        // Opening the window presets the biases from the stored PID offsets.
        theConfig->setPidX(1000, 0, 0, 0, 0, 0, 0, 0, 0, 5.0);
        theConfig->setPidY(1000, 0, 0, 0, 0, 0, 0, 0, 0, 4.0);
        theConfig->setPidI0(1000, 0, 0, 0, 0, 0, 0, 0, 0, 6.0);
        Window w;
        w.showWindow();
        box(&w, "posXStepDoubleSpinBox")->setValue(0.5);
        program->driver.clearCalls();
        BoxCatcher boxes;
        QTest::mouseClick(standardButton(&w, QDialogButtonBox::Apply), Qt::LeftButton);
        QVERIFY(boxes.boxes.empty());

        // Display rate 100 MHz / 2000 filtered during the run, back to the
        // operator's 50 000 afterwards.
        const bool wasOn = pidStatus != PID_STATUS_OFF;
        std::vector<const char*> expected;
        if (wasOn)
            expected.push_back("00050001 00");
        expected.insert(expected.end(), {"01090001", "00090001 01000000 d0070000", "01090001",
                                         "00070001 00", "00070001 01"});
        if (wasOn)
            expected.push_back("00050001 01");
        expected.insert(expected.end(), {"00090001 01000000 50c30000", "01090001"});
        QCOMPARE(controllerMessages(), goldenHex(expected));
        QCOMPARE(SAMP_FREQ, 2000);

        // Output 3 steps; output 1 holds Y's bias, output 2 I0's; output 4,
        // assigned to nothing, stays at 0.
        const auto set = [](const char* output3) { // 4 V, 6 V, output 3, 0 V; enabled
            return "00000000000010400000000000001840" + QString(output3) +
                   "000000000000000001000000";
        };
        const QString bias = set("0000000000001440"); // 5 V
        QCOMPARE(outputSets(program->driver),
                 (QStringList{bias, set("0000000000001640"), bias})); // 5.5 V
        QCOMPARE(w.waits, (std::vector<int>{100, 100, 120}));
        QCOMPARE(program->driver.countCalls(RecordingDriver::Call::Read), 1);
        for (const auto& call : program->driver.calls())
            if (call.kind == RecordingDriver::Call::Open)
                QCOMPARE(call.flags, call.path == kDacNode ? O_RDWR | O_SYNC : O_RDONLY);
        QCOMPARE(program->driver.stillOpen(), 0);

        // Results: 4 significant digits, the times in milliseconds.
        QCOMPARE(QStringList({text(&w, "dulabel"), text(&w, "dclabel"), text(&w, "Klabel"),
                              text(&w, "invertedLabel")}),
                 QStringList({"0.5", "0.1", "0.2", gain < 0 ? "Inverted display" : ""}));
        // The stimulus plotted as measured.
        QCOMPARE(child<QCustomPlot>(&w, "graph")->graph(0)->data()->at(kStepUp)->value, 5.5);
    }

    // Refused before anything is opened or sent: a zero step, a DAC
    // assignment that names no output, and a stepped axis on output 4, which
    // the display data do not carry. Failures on the way: each is reported in
    // a box without parent after everything was given back (outputs to the controller, feedback on
    // again, the display rate as before, nodes closed); the previous results
    // stay. A missing display node is the missing driver: its message, then
    // the application is asked to quit. Feedback or display rate that the
    // controller did not take back join the run's box, or have one of their
    // own after a measured run.
    void failures_reportedAfterEverythingIsGivenBack_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("outputSets");
        QTest::newRow("zero step") << "step 0"
                                   << "0.00 V" << 0;
        QTest::newRow("Y on output 9") << "dacs 0 9"
                                       << "Beamline/DAC_posY = 9" << 0;
        QTest::newRow("stepped X on output 4") << "dacs 3 1"
                                               << "DAC output 4" << 0;
        QTest::newRow("DAC node missing") << "dac node"
                                          << "zevo_ostrel0 could not be opened" << 0;
        QTest::newRow("display node missing") << "display node"
                                              << "will now quit." << 0;
        QTest::newRow("rate not taken") << "rate"
                                        << "50000 records" << 0;
        QTest::newRow("DAC request fails") << "dac request"
                                           << "could not be set" << 1;
        QTest::newRow("short read") << "short read"
                                    << "could not be read" << 3;
        // The run's mailbox requests with the feedback on: 7 switches it back
        // on, 8 sets the display rate back and 9 reads it.
        QTest::newRow("feedback not back on") << "transfer 7"
                                              << "feedback may still be off" << 3;
        QTest::newRow("display rate not back") << "transfer 8"
                                               << "rate of 1000 records" << 3;
        QTest::newRow("DAC request fails, feedback not back on")
            << "dac request, transfer 7"
            << "could not be set.*\n\nThe controller did not switch the feedback back on" << 1;
    }
    void failures_reportedAfterEverythingIsGivenBack()
    {
        QFETCH(QString, failure);
        QFETCH(QString, message);
        QFETCH(int, outputSets);
        setPidStatus(PID_STATUS_ON);

        // A first run leaves results that a failed run must keep.
        program->driver.setDisplayRecords(recordedRun(0, 5.0, 0.1, 0.2));
        Window w;
        box(&w, "posXbiasDoubleSpinBox")->setValue(5.0);
        w.stepRespProcedure();
        QCOMPARE(text(&w, "Klabel"), QStringLiteral("0.2"));

        const std::string absent = failure == "dac node"       ? kDacNode
                                   : failure == "display node" ? kDisplayNode
                                                               : "";
        if (!absent.empty())
            program->driver.setNodePresent(absent, false);
        const bool refused = failure.startsWith("step") || failure.startsWith("dacs");
        if (failure.startsWith("step"))
            box(&w, "posXStepDoubleSpinBox")->setValue(0.0);
        if (failure.startsWith("dacs"))
            QVERIFY(theConfig->setBeamlineDacs(failure.section(' ', 1, 1).toInt(),
                                               failure.section(' ', 2, 2).toInt(), 2));
        m_takesRate = !failure.endsWith("rate");
        if (failure.startsWith("dac request"))
            program->driver.failRequest(DAC_IOC_SET_OUTPUTS);
        if (failure == "short read")
            program->driver.setDisplayRecords(std::vector<DisplayRecord>(100));
        program->driver.clearCalls();
        if (failure.contains("transfer"))
            program->driver.failTransfer(failure.section(' ', -1).toInt());
        BoxCatcher boxes;
        w.stepRespProcedure();

        QCOMPARE(int(boxes.boxes.size()), 1);
        const BoxCatcher::Box& shown = boxes.boxes[0];
        QCOMPARE(shown.title, failure.endsWith("node") ? "Cannot open file" : "Step Response");
        QVERIFY2(shown.text.contains(
                     QRegularExpression(message, QRegularExpression::DotMatchesEverythingOption)),
                 qPrintable(shown.text));
        // Only what the controller did not take back is named; the previous
        // results stay, nodes are closed, the display rate is as before.
        QCOMPARE(
            (std::make_tuple(shown.text.contains("may still be off"),
                             shown.text.contains("return to the display rate"), shown.hasParent,
                             w.quits, int(program->driver.outputSets().size()), text(&w, "Klabel"),
                             program->driver.stillOpen(), SAMP_FREQ)),
            (std::make_tuple(failure.contains("transfer 7"), failure.contains("transfer 8"), false,
                             failure == "display node" ? 1 : 0, outputSets, QString("0.2"), 0,
                             1000)));
        if (refused)
            QCOMPARE(program->driver.calls().size(), std::size_t(0));

        // Whatever the run switched, it switched back, in this order: the
        // outputs (when taken), the feedback, the display rate.
        const QStringList sent = controllerMessages();
        const bool controllerTouched = absent.empty() && !refused;
        const bool outputsTaken = controllerTouched && !failure.endsWith("rate");
        QCOMPARE(sent.filter(QRegularExpression("^00070001")),
                 outputsTaken ? goldenHex({"00070001 00", "00070001 01"}) : QStringList());
        QCOMPARE(sent.filter(QRegularExpression("^00050001|^00090001")).size(),
                 controllerTouched ? 4 : 0);
        if (controllerTouched)
            QCOMPARE(sent.mid(sent.size() - 3),
                     goldenHex({"00050001 01", "00090001 00000000 a0860100", "01090001"}));
    }

    // K, Tdead and Tset within 10 % of what the model's constants give: the
    // position gain per volt at that BPM, and for a lag behind a dead time
    // Tdead = dead time + lag ln(10/9) (to the 10 % level) and Tset = lag ln 9
    // (10 % to 90 %). On the quiet beamline with the default 0.1 V step, on
    // the noisy, drifting one, and with the detector's left and right
    // electrodes swapped in the channel map, which turns the response upside
    // down.
    void run_reportsTheModelsGainAndTimes_data()
    {
        QTest::addColumn<Run>("run");
        QTest::newRow("Y at BPM 2, quiet") << Run{1, true, 0.0, false, 0.1, -1.0};
        QTest::newRow("X at BPM 1, swapped") << Run{0, false, 1.0, true, 0.5, -1.0};
        QTest::newRow("I0 at BPM 1, noisy") << Run{2, false, 1.0, false, 1.0, 3.5};
    }
    void run_reportsTheModelsGainAndTimes()
    {
        QFETCH(Run, run);
        const auto [axis, bpm2, noise, swapped, step, bias] = run;
        Scenario scenario;
        scenario.noiseLevel = scenario.driftLevel = noise;
        SimFixture rig(scenario);
        if (swapped)
            rig.mailbox.setBpmChannelMap(0, 3, 2, 1, 0); // right on channel 4, left on 2
        rig.advance(0.5);
        // One run as the operator makes it: open the window (biases from the
        // PID offsets), choose the axis and BPM, set the step, press Run.
        WindowStepResponse w;
        w.setWaitFunction(rig.waitMs());
        w.showWindow();
        const char* buttons[] = {"stepInXbutton", "stepInYbutton", "stepInI0button"};
        const char* steps[] = {"posXStepDoubleSpinBox", "posYStepDoubleSpinBox",
                               "i0StepDoubleSpinBox"};
        QTest::mouseClick(child<QRadioButton>(&w, buttons[axis]), Qt::LeftButton);
        child<QDoubleSpinBox>(&w, steps[axis])->setValue(step);
        if (bias >= 0.0)
            child<QDoubleSpinBox>(&w, "i0biasDoubleSpinBox")->setValue(bias); // the I0 row only
        child<QCheckBox>(&w, "useBPM2checkbox")->setChecked(bpm2);
        QTest::mouseClick(standardButton(&w, QDialogButtonBox::Apply), Qt::LeftButton);

        const double dead = BeamlineModel::deadTimeSeconds(axis);
        const double lag = BeamlineModel::lagSeconds(axis);
        const QString seen =
            QStringLiteral("K %1, Tdead %2, Tset %3")
                .arg(text(&w, "Klabel"), text(&w, "Tdeadlabel"), text(&w, "Tsetlabel"));
        // The intensity's gain depends on where the beam sits: only its sign.
        QVERIFY2((axis == 2 ? shown(&w, "Klabel") > 0
                            : within10Percent(shown(&w, "Klabel"),
                                              BeamlineModel::positionGain(bpm2 ? 1 : 0, axis))) &&
                     within10Percent(shown(&w, "Tdeadlabel"),
                                     1e3 * (dead + lag * std::log(10.0 / 9.0))) &&
                     within10Percent(shown(&w, "Tsetlabel"), 1e3 * lag * std::log(9.0)),
                 qPrintable(seen));
        QCOMPARE(text(&w, "invertedLabel"),
                 swapped ? QStringLiteral("Inverted display") : QString());
    }
};

QTEST_MAIN(TestWindowStepResponse)
#include "tst_windowstepresponse.moc"
