// The step-response window over a scripted controller: the selector and the
// bias presets, what a run sends (feedback, display rate, output sets, the one
// read) and what it gives back afterwards, the results it shows, and every
// way a run is refused or stopped with a message.

#include "support/programfixture.h"

#include "measure/windowstepresponse.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>

#include <qcustomplot.h>

#include <cmath>
#include <cstring>
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

template <typename T> T* child(QWidget* w, const char* name)
{
    T* found = w->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no widget %s", name);
    return found;
}

QString text(QWidget* w, const char* label)
{
    return child<QLabel>(w, label)->text();
}

// A display buffer as the controller records it during a run: bias, 100 ms
// of step on `output` (0..2), bias again; BPM 1 X (field 0) follows with
// `gain` behind a dead time and a lag.
std::vector<DisplayRecord> recordedRun(int output, double bias, double step, double gain)
{
    std::vector<DisplayRecord> records(kDisplayBufferRecords);
    const auto rise = [](double since) { return since <= 0 ? 0.0 : 1.0 - std::exp(-since / kLag); };
    for (int i = 0; i < kDisplayBufferRecords; ++i) {
        const double t = double(i) / kRate;
        const double up = double(kStepUp) / kRate + kDead, down = double(kStepDown) / kRate + kDead;
        records[std::size_t(i)].value[disp::Dac1 + output] =
            i >= kStepUp && i < kStepDown ? bias + step : bias;
        records[std::size_t(i)].value[disp::Bpm1X] =
            0.3 + gain * step * (rise(t - up) - rise(t - down));
        records[std::size_t(i)].value[disp::Bpm2X] = 7.0; // must not be read for BPM 1
    }
    return records;
}

double numberIn(const QString& label)
{
    return label.section(QLatin1Char(' '), 0, 0).toDouble();
}
} // namespace

class TestWindowStepResponse : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProgramFixture> program;
    uint32_t m_divider = 100000; // the scripted controller's display divider
    bool m_filter = false;
    uint8_t m_pidStatus = PID_STATUS_OFF;
    bool m_takesRate = true;

    void pressRun(WindowStepResponse& w)
    {
        QTest::mouseClick(child<QDialogButtonBox>(&w, "buttonBox")->button(QDialogButtonBox::Apply),
                          Qt::LeftButton);
    }

    // The output sets sent: four volts and the enable word.
    using OutputSet = std::array<double, 5>;
    std::vector<OutputSet> outputSets() const
    {
        std::vector<OutputSet> sets;
        for (const auto& call : program->driver.calls()) {
            if (call.kind == RecordingDriver::Call::Ioctl && call.request == DAC_IOC_SET_OUTPUTS) {
                // The driver is handed the 36 bytes up to the enable word.
                DacOutputRecord r{};
                std::memcpy(&r, call.sent.constData(),
                            std::min(sizeof r, std::size_t(call.sent.size())));
                sets.push_back({r.volts[0], r.volts[1], r.volts[2], r.volts[3], double(r.enable)});
            }
        }
        return sets;
    }

    // Mailbox commands sent, without those of the once-a-second poll.
    std::vector<uint32_t> controllerCommands() const
    {
        std::vector<uint32_t> commands;
        for (const MailboxMessage& m : program->driver.transfers())
            if (m.command() != cmd::ReadSlot && m.command() != cmd::ReadPidStatus)
                commands.push_back(m.command());
        return commands;
    }

    // Every node the window opened is closed again (`absent` never opens).
    bool nodesClosed(const std::string& absent = {}) const
    {
        int opened = 0;
        for (const auto& call : program->driver.calls())
            if (call.kind == RecordingDriver::Call::Open && call.path != absent)
                ++opened;
        return opened == program->driver.countCalls(RecordingDriver::Call::Close);
    }

private slots:
    void init()
    {
        m_divider = 100000;
        m_filter = false;
        m_pidStatus = PID_STATUS_OFF;
        m_takesRate = true;
        program = std::make_unique<ProgramFixture>();
        program->driver.defaultReply = [this](MailboxMessage& m) {
            const uint32_t c = m.command();
            if (c == cmd::SetDisplayFrequency && m_takesRate) {
                m_divider = m.u32(8);
                m_filter = m.u8(4) != 0;
            }
            if (c == cmd::ReadDisplayFrequency) {
                m.setU32(8, m_divider);
                m.setU8(4, m_filter ? 1 : 0);
            }
            if (c == cmd::ReadPidStatus)
                m.setU8(4, m_pidStatus);
            m.setU32(0, c | kReplyAcknowledged);
        };
        program->setUp();
        theDriver = &program->driver;
        SAMP_FREQ = 1000;
    }
    void cleanup()
    {
        theDriver = nullptr;
        program->tearDown();
        program.reset();
    }

    // Choosing an axis gives its step box 0.1 and makes it the only enabled
    // one; the other steps go to 0.0 and the biases stay. Each opening presets
    // the biases from the stored PID output offsets (a negative one shows as
    // the box's lower end).
    void selectorAndOpening_stepOneAxis_biasesFromPidOffsets()
    {
        theConfig->setPidX(1000, 0, 0, 0, 0, 0, 0, 0, 0, 5.25);
        theConfig->setPidY(1000, 0, 0, 0, 0, 0, 0, 0, 0, -1.0);
        theConfig->setPidI0(1000, 0, 0, 0, 0, 0, 0, 0, 0, 7.5);
        Window w;
        QDoubleSpinBox* steps[] = {child<QDoubleSpinBox>(&w, "posXStepDoubleSpinBox"),
                                   child<QDoubleSpinBox>(&w, "posYStepDoubleSpinBox"),
                                   child<QDoubleSpinBox>(&w, "i0StepDoubleSpinBox")};
        QDoubleSpinBox* biases[] = {child<QDoubleSpinBox>(&w, "posXbiasDoubleSpinBox"),
                                    child<QDoubleSpinBox>(&w, "posYbiasDoubleSpinBox"),
                                    child<QDoubleSpinBox>(&w, "i0biasDoubleSpinBox")};
        const auto stepsAre = [&](double x, double y, double i0) {
            return steps[0]->value() == x && steps[1]->value() == y && steps[2]->value() == i0 &&
                   steps[0]->isEnabled() == (x != 0) && steps[1]->isEnabled() == (y != 0) &&
                   steps[2]->isEnabled() == (i0 != 0);
        };
        QVERIFY(stepsAre(0.1, 0.0, 0.0));
        w.showWindow();
        QCOMPARE(biases[0]->value(), 5.25);
        QCOMPARE(biases[1]->value(), 0.0);
        QCOMPARE(biases[2]->value(), 7.5);

        biases[0]->setValue(3.0);
        steps[0]->setValue(2.0);
        QTest::mouseClick(child<QRadioButton>(&w, "stepInYbutton"), Qt::LeftButton);
        QVERIFY(stepsAre(0.0, 0.1, 0.0));
        QCOMPARE(biases[0]->value(), 3.0);
        QTest::mouseClick(child<QRadioButton>(&w, "stepInI0button"), Qt::LeftButton);
        QVERIFY(stepsAre(0.0, 0.0, 0.1));
        w.hide();
        w.showWindow();
        QCOMPARE(biases[0]->value(), 5.25);
        QCOMPARE(child<QDialogButtonBox>(&w, "buttonBox")->button(QDialogButtonBox::Apply)->text(),
                 QStringLiteral("Run"));
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
        m_pidStatus = uint8_t(pidStatus);
        program->mailbox->readPidStatus();
        m_filter = true; // the operator's display runs filtered
        SAMP_FREQ = 2000;
        m_divider = 50000;
        QVERIFY(theConfig->setBeamlineDacs(2, 0, 1));
        program->driver.setDisplayRecords(recordedRun(2, 5.0, 0.5, gain));

        Window w;
        w.show();
        child<QDoubleSpinBox>(&w, "posXbiasDoubleSpinBox")->setValue(5.0);
        child<QDoubleSpinBox>(&w, "posYbiasDoubleSpinBox")->setValue(4.0);
        child<QDoubleSpinBox>(&w, "i0biasDoubleSpinBox")->setValue(6.0);
        child<QDoubleSpinBox>(&w, "posXStepDoubleSpinBox")->setValue(0.5);
        program->driver.clearCalls();
        BoxCatcher boxes;
        pressRun(w);
        QVERIFY(boxes.boxes.empty());

        // What went to the controller, in order.
        const std::vector<uint32_t> commands = controllerCommands();
        std::vector<uint32_t> expected;
        const bool wasOn = pidStatus != PID_STATUS_OFF;
        if (wasOn)
            expected.push_back(cmd::SetFeedbackEnabled);
        expected.insert(expected.end(), {cmd::ReadDisplayFrequency, cmd::SetDisplayFrequency,
                                         cmd::ReadDisplayFrequency, cmd::SetOutputsFromController,
                                         cmd::SetOutputsFromController});
        if (wasOn)
            expected.push_back(cmd::SetFeedbackEnabled);
        expected.insert(expected.end(), {cmd::SetDisplayFrequency, cmd::ReadDisplayFrequency});
        QCOMPARE(commands, expected);

        const auto rate = program->sent(cmd::SetDisplayFrequency);
        QCOMPARE(rate.front().u32(8), 2000u); // 100 MHz / 50 000
        QCOMPARE(rate.front().u8(4), uint8_t(1));
        QCOMPARE(rate.back().u32(8), 50000u); // back to 2000 records per second, filtered
        QCOMPARE(rate.back().u8(4), uint8_t(1));
        QCOMPARE(SAMP_FREQ, 2000);
        const auto outputs = program->sent(cmd::SetOutputsFromController);
        QCOMPARE(outputs.front().u8(4), uint8_t(0));
        QCOMPARE(outputs.back().u8(4), uint8_t(1));
        if (wasOn) {
            const auto feedback = program->sent(cmd::SetFeedbackEnabled);
            QCOMPARE(feedback.front().u8(4), uint8_t(0));
            QCOMPARE(feedback.back().u8(4), uint8_t(1));
        }

        // Output 3 steps; output 1 holds Y's bias, output 2 I0's; output 4,
        // assigned to nothing, stays at 0.
        const OutputSet biasSet{4.0, 6.0, 5.0, 0.0, 1}, stepSet{4.0, 6.0, 5.5, 0.0, 1};
        QCOMPARE(outputSets(), (std::vector<OutputSet>{biasSet, stepSet, biasSet}));
        QCOMPARE(w.waits, (std::vector<int>{100, 100, 120}));
        QCOMPARE(program->driver.countCalls(RecordingDriver::Call::Read), 1);
        for (const auto& call : program->driver.calls())
            if (call.kind == RecordingDriver::Call::Open)
                QCOMPARE(call.flags, call.path == kDacNode ? O_RDWR | O_SYNC : O_RDONLY);
        QVERIFY(nodesClosed());

        // Results: 4 significant digits, the times in milliseconds.
        QCOMPARE(text(&w, "dulabel"), QStringLiteral("0.5"));
        QCOMPARE(text(&w, "dclabel"), QStringLiteral("0.1"));
        QCOMPARE(text(&w, "Klabel"), QStringLiteral("0.2"));
        QCOMPARE(text(&w, "invertedLabel"),
                 gain < 0 ? QStringLiteral("Inverted display") : QString());
        QVERIFY(text(&w, "Tdeadlabel").endsWith(" ms") && text(&w, "Tsetlabel").endsWith(" ms"));
        const double oneSampleMs = 1000.0 / kRate;
        QVERIFY(std::fabs(numberIn(text(&w, "Tdeadlabel")) -
                          1e3 * (kDead + kLag * std::log(10.0 / 9.0))) <= oneSampleMs);
        QVERIFY(std::fabs(numberIn(text(&w, "Tsetlabel")) - 1e3 * kLag * std::log(9.0)) <=
                oneSampleMs);

        // The plot: both series over the evaluated records, the stimulus as
        // measured; the time axis frames the step's edge and the rise.
        auto* plot = child<QCustomPlot>(&w, "graph");
        QCOMPARE(plot->graph(0)->data()->size(), WindowStepResponse::kSamples);
        QCOMPARE(plot->graph(1)->data()->size(), WindowStepResponse::kSamples);
        QCOMPARE(plot->graph(0)->data()->at(kStepUp)->value, 5.5);
        const double edge = double(kStepUp) / kRate;
        QVERIFY(plot->xAxis->range().contains(edge) &&
                plot->xAxis->range().contains(edge + 6.5e-3));
        QVERIFY(plot->xAxis->range().size() < 0.02);
        QCOMPARE(plot->itemCount(), 7);
        for (int k = 0; k < plot->itemCount(); ++k)
            QVERIFY(plot->item(k)->visible());
    }

    // Refused before anything is opened or sent: a zero step, a DAC
    // assignment that names no output, and a stepped axis on output 4,
    // which the display data do not carry.
    void refusedInput_nothingOpenedNorSent_data()
    {
        QTest::addColumn<int>("dacX");
        QTest::addColumn<int>("dacY");
        QTest::addColumn<double>("step");
        QTest::addColumn<QString>("message");
        QTest::newRow("zero step") << 0 << 1 << 0.0 << "0.00 V";
        QTest::newRow("Y on output 9") << 0 << 9 << 0.1 << "Beamline/DAC_posY = 9";
        QTest::newRow("X on output -1") << -1 << 1 << 0.1 << "Beamline/DAC_posX = -1";
        QTest::newRow("stepped X on output 4") << 3 << 1 << 0.1 << "DAC output 4";
    }
    void refusedInput_nothingOpenedNorSent()
    {
        QFETCH(int, dacX);
        QFETCH(int, dacY);
        QFETCH(double, step);
        QFETCH(QString, message);
        QVERIFY(theConfig->setBeamlineDacs(dacX, dacY, 2));
        Window w;
        child<QDoubleSpinBox>(&w, "posXStepDoubleSpinBox")->setValue(step);
        program->driver.clearCalls();
        BoxCatcher boxes;
        w.stepRespProcedure();
        QCOMPARE(int(boxes.boxes.size()), 1);
        QVERIFY2(boxes.boxes[0].text.contains(message), qPrintable(boxes.boxes[0].text));
        QVERIFY(!boxes.boxes[0].hasParent);
        QCOMPARE(program->driver.countCalls(RecordingDriver::Call::Open), 0);
        QVERIFY(program->driver.transfers().empty());
        QCOMPARE(text(&w, "Klabel"), QString());
    }

    // Failures on the way: each is reported in a box without parent after
    // everything was given back (outputs to the controller, feedback on
    // again, the display rate as before, nodes closed); the previous results
    // stay. A missing display node is the missing driver: its message, then
    // the application is asked to quit. Feedback or display rate that the
    // controller did not take back join the run's box, or have one of their
    // own after a measured run.
    void failures_reportedAfterEverythingIsGivenBack_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("outputSets");
        QTest::newRow("DAC node missing") << "dac node"
                                          << "Cannot open file"
                                          << "/dev/zevo_ostrel0 could not be opened" << 0;
        QTest::newRow("display node missing") << "display node"
                                              << "Cannot open file"
                                              << "Application will now quit." << 0;
        QTest::newRow("rate not taken") << "rate"
                                        << "Step Response"
                                        << "50000 records" << 0;
        QTest::newRow("controller keeps a rate of its own") << "own rate"
                                                            << "Step Response"
                                                            << "50000 records" << 0;
        QTest::newRow("DAC request fails") << "dac request"
                                           << "Step Response"
                                           << "could not be set" << 1;
        QTest::newRow("short read") << "short read"
                                    << "Step Response"
                                    << "could not be read" << 3;
        // The run's mailbox requests with the feedback on: 7 switches it back
        // on, 8 sets the display rate back and 9 reads it.
        QTest::newRow("feedback not back on") << "transfer 7"
                                              << "Step Response"
                                              << "the feedback may still be off" << 3;
        QTest::newRow("display rate not back") << "transfer 8"
                                               << "Step Response"
                                               << "display rate of 1000 records" << 3;
        QTest::newRow("DAC request fails, feedback not back on")
            << "dac request, transfer 7"
            << "Step Response"
            << "could not be set.*\n\nThe controller did not switch the feedback back on" << 1;
    }
    void failures_reportedAfterEverythingIsGivenBack()
    {
        QFETCH(QString, failure);
        QFETCH(QString, title);
        QFETCH(QString, message);
        QFETCH(int, outputSets);
        m_pidStatus = PID_STATUS_ON;
        program->mailbox->readPidStatus();

        // A first run leaves results that a failed run must keep.
        program->driver.setDisplayRecords(recordedRun(0, 5.0, 0.1, 0.2));
        Window w;
        child<QDoubleSpinBox>(&w, "posXbiasDoubleSpinBox")->setValue(5.0);
        w.stepRespProcedure();
        QCOMPARE(text(&w, "Klabel"), QStringLiteral("0.2"));

        const std::string absent = failure == "dac node"       ? kDacNode
                                   : failure == "display node" ? kDisplayNode
                                                               : "";
        if (!absent.empty())
            program->driver.setNodePresent(absent, false);
        if (failure == "rate" || failure == "own rate")
            m_takesRate = false;
        if (failure == "own rate")
            m_divider = 10000; // 10 000 records per second, whatever the program asks
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
        QCOMPARE(boxes.boxes[0].title, title);
        QVERIFY2(boxes.boxes[0].text.contains(
                     QRegularExpression(message, QRegularExpression::DotMatchesEverythingOption)),
                 qPrintable(boxes.boxes[0].text));
        // Only what the controller did not take back is named.
        QCOMPARE(boxes.boxes[0].text.contains("may still be off"), failure.contains("transfer 7"));
        QCOMPARE(boxes.boxes[0].text.contains("return to the display rate"),
                 failure.contains("transfer 8"));
        QVERIFY(!boxes.boxes[0].hasParent);
        QCOMPARE(w.quits, failure == "display node" ? 1 : 0);
        QCOMPARE(int(this->outputSets().size()), outputSets);
        QCOMPARE(text(&w, "Klabel"), QStringLiteral("0.2"));
        QVERIFY(nodesClosed(absent));
        QCOMPARE(SAMP_FREQ, 1000);

        // Whatever the run switched, it switched back, in this order.
        const auto outputs = program->sent(cmd::SetOutputsFromController);
        const auto feedback = program->sent(cmd::SetFeedbackEnabled);
        const auto rate = program->sent(cmd::SetDisplayFrequency);
        const bool controllerTouched = failure != "dac node" && failure != "display node";
        QCOMPARE(feedback.size(), std::size_t(controllerTouched ? 2 : 0));
        QCOMPARE(rate.size(), std::size_t(controllerTouched ? 2 : 0));
        if (controllerTouched) {
            QCOMPARE(feedback.back().u8(4), uint8_t(1));
            QCOMPARE(rate.back().u32(8), 100000u);
            const std::vector<uint32_t> commands = controllerCommands();
            QCOMPARE(std::vector<uint32_t>(commands.end() - 3, commands.end()),
                     (std::vector<uint32_t>{cmd::SetFeedbackEnabled, cmd::SetDisplayFrequency,
                                            cmd::ReadDisplayFrequency}));
        }
        if (!outputs.empty())
            QCOMPARE(outputs.back().u8(4), uint8_t(1));
        QCOMPARE(outputs.size(),
                 std::size_t(failure.endsWith("rate") || !controllerTouched ? 0 : 2));
    }
};

QTEST_MAIN(TestWindowStepResponse)
#include "tst_windowstepresponse.moc"
