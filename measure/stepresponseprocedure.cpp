#include "measure/stepresponseprocedure.h"

#include "device/configstore.h"
#include "device/driver.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"
#include "measure/hostoutputs.h"

#include <QThread>

#include <cmath>

#include <fcntl.h>

namespace
{
using Run = StepResponseProcedure::Run;

constexpr int kFourthOutput = 3; // not carried by the display record

Run refused(const QString& text)
{
    Run r;
    r.outcome = Run::Refused;
    r.text = text;
    return r;
}

Run failed(const QString& text)
{
    Run r;
    r.outcome = Run::Failed;
    r.text = text;
    return r;
}

// The display node for one run, closed however the run ends.
class DisplayNode
{
public:
    DisplayNode() = default;
    DisplayNode(const DisplayNode&) = delete;
    DisplayNode& operator=(const DisplayNode&) = delete;
    ~DisplayNode()
    {
        if (m_fd >= 0)
            m_driver->close(m_fd);
    }

    bool open()
    {
        m_driver = theDriver;
        if (m_driver)
            m_fd = m_driver->open(zevo::kDisplayNode, O_RDONLY);
        return m_fd >= 0;
    }
    // One read of the whole display buffer; false unless all of it came.
    bool readBuffer(std::vector<zevo::DisplayRecord>& records)
    {
        records.assign(std::size_t(zevo::kDisplayBufferRecords), zevo::DisplayRecord{});
        return m_driver->read(m_fd, records.data(), std::size_t(zevo::kDisplayBufferBytes)) ==
               ssize_t(zevo::kDisplayBufferBytes);
    }

private:
    Driver* m_driver = nullptr;
    int m_fd = -1;
};

// Gives the controller back the feedback and the display rate that the run
// changed. Declared before the run's HostOutputs, so it acts after the
// outputs are the controller's again: the loops resume on their own outputs.
// What it could not give back is added to `problems`, for the run's message.
class RunRestore
{
public:
    explicit RunRestore(QString& problems) : m_problems(problems) {}
    RunRestore(const RunRestore&) = delete;
    RunRestore& operator=(const RunRestore&) = delete;
    ~RunRestore()
    {
        if (!theMailbox)
            return;
        if (m_feedbackOff && theMailbox->setFeedbackEnabled(true) < 0)
            add(QStringLiteral("The controller did not switch the feedback back on (mailbox "
                               "request failed): the feedback may still be off.\n"
                               "Switch it on in the Feedback Control panel."));
        if (m_rateChanged) {
            SAMP_FREQ = m_rate;
            theMailbox->setDisplayFrequency(m_filter);
            // The rate request gives no result: the controller is asked what
            // it streams at now. The rate of the program or the one it had
            // before the run (a controller with a rate of its own) will do.
            bool filter = false;
            const double now = theMailbox->readDisplayFrequency(&filter);
            if ((std::lround(now) != m_rate && now != m_reportedRate) || filter != m_filter)
                add(QStringLiteral("The controller did not return to the display rate of %1 "
                                   "records per second: the plots may show a wrong time "
                                   "scale.\nSet the display rate again in Settings \u2192 "
                                   "Display Settings.")
                        .arg(m_rate));
        }
    }

    void feedbackSwitchedOff() { m_feedbackOff = true; }
    // `reportedRate`: what the controller reported before the run.
    void rateChanged(int previousRate, bool previousFilter, double reportedRate)
    {
        m_rateChanged = true;
        m_rate = previousRate;
        m_filter = previousFilter;
        m_reportedRate = reportedRate;
    }

private:
    void add(const QString& problem)
    {
        if (!m_problems.isEmpty())
            m_problems += QStringLiteral("\n\n");
        m_problems += problem;
    }

    QString& m_problems;
    bool m_feedbackOff = false;
    bool m_rateChanged = false;
    int m_rate = 0;
    bool m_filter = false;
    double m_reportedRate = 0.0;
};
} // namespace

StepResponseProcedure::StepResponseProcedure() : m_wait([](int ms) { QThread::msleep(ulong(ms)); })
{
}

void StepResponseProcedure::setWaitFunction(WaitFunction wait)
{
    if (wait)
        m_wait = std::move(wait);
}

StepResponseProcedure::Run StepResponseProcedure::run(const Settings& settings) const
{
    QString notGivenBack;
    Run run = measure(settings, notGivenBack);
    // What the controller did not take back joins the run's message.
    if (!notGivenBack.isEmpty())
        run.text =
            run.text.isEmpty() ? notGivenBack : run.text + QStringLiteral("\n\n") + notGivenBack;
    return run;
}

StepResponseProcedure::Run StepResponseProcedure::measure(const Settings& settings,
                                                          QString& notGivenBack) const
{
    const int axis = settings.axis;
    const std::array<double, 3>& bias = settings.bias;
    const std::array<double, 3>& step = settings.step;
    if (step[axis] == 0.0)
        return refused(QStringLiteral("The step of the chosen axis is 0.00 V: there is no "
                                      "step to measure.\nEnter a step and press Run again."));

    // The assignment comes from a file that may have been edited by hand:
    // only an existing output may index the output set.
    int dac[3] = {0, 1, 2};
    if (theConfig)
        theConfig->getBeamlineDacs(&dac[0], &dac[1], &dac[2]);
    for (int k = 0; k < 3; ++k)
        if (!HostOutputs::isOutput(dac[k]))
            return refused(HostOutputs::badAssignmentText(ConfigStore::beamlineDacKey(k), dac[k]));
    if (dac[axis] == kFourthOutput)
        return refused(
            QStringLiteral("The DAC assignment %1 = %2 puts the stepped axis on DAC output 4, "
                           "which the display data do not carry (they hold outputs 1 to 3), so "
                           "the step could not be timed.\nAssign the axis to output 1, 2 or 3 in "
                           "the beamline configuration; the measurement was not started.")
                .arg(ConfigStore::beamlineDacKey(axis))
                .arg(dac[axis]));

    // Both nodes open before anything on the controller changes. Undone in
    // reverse order of declaration: the display node closes, the outputs go
    // back to the controller and the DAC node closes, then the feedback and
    // the display rate are restored.
    RunRestore restore(notGivenBack);
    HostOutputs outputs(HostOutputs::DacOnly);
    if (!outputs.open()) {
        Run r = failed(outputs.error());
        r.title = QStringLiteral("Cannot open file");
        return r;
    }
    DisplayNode display;
    if (!display.open()) {
        Run r;
        r.outcome = Run::DisplayMissing;
        r.title = QStringLiteral("Cannot open file");
        r.text = QStringLiteral("System file /dev/zevo_dma_displ could not be opened.\n\n"
                                "Please check if ZEVO driver is loaded.\n"
                                "Application will now quit.\n");
        return r;
    }
    if (!theMailbox)
        return failed(QStringLiteral("The controller cannot be reached."));

    if (theMailbox->pidStatus() != zevo::PID_STATUS_OFF) {
        // Marked first: even a request that failed on its way back leaves
        // the feedback as the operator had it.
        restore.feedbackSwitchedOff();
        if (theMailbox->setFeedbackEnabled(false) < 0)
            return failed(QStringLiteral("The controller did not switch the feedback off "
                                         "(mailbox request failed).\n\n"
                                         "The measurement was not started."));
    }

    bool filter = false;
    const double reportedRate = theMailbox->readDisplayFrequency(&filter);
    restore.rateChanged(SAMP_FREQ, filter, reportedRate);
    SAMP_FREQ = kRunSampleRate;
    theMailbox->setDisplayFrequency(true);
    // The evaluation times every sample at this rate; a controller that
    // streams at another (a firmware with a fixed display rate) would give
    // times off by the ratio.
    if (std::lround(theMailbox->readDisplayFrequency()) != kRunSampleRate)
        return failed(QStringLiteral("The controller did not take the display rate of "
                                     "%1 records per second that the measurement needs.\n\n"
                                     "The measurement was not started.")
                          .arg(kRunSampleRate));

    if (outputs.takeOutputs() < 0)
        return failed(QStringLiteral("The controller did not hand the DAC outputs to the "
                                     "host (mailbox request failed).\n\n"
                                     "The measurement was stopped."));

    // The stepped axis is written last, so that its step reaches its output
    // even when another axis is assigned to the same one.
    std::array<double, 4> biasSet{0.0, 0.0, 0.0, 0.0};
    for (int k = 0; k < 3; ++k)
        if (k != axis)
            biasSet[std::size_t(dac[k])] = bias[k];
    std::array<double, 4> stepSet = biasSet;
    biasSet[std::size_t(dac[axis])] = bias[axis];
    stepSet[std::size_t(dac[axis])] = bias[axis] + step[axis];

    const QString setFailed = QStringLiteral(
        "The DAC outputs could not be set through /dev/zevo_ostrel0.\n\n"
        "The measurement was stopped and the outputs were handed back to the controller.");
    if (outputs.setOutputs(biasSet) < 0)
        return failed(setFailed);
    m_wait(kBiasWaitMs);
    if (outputs.setOutputs(stepSet) < 0)
        return failed(setFailed);
    m_wait(kStepWaitMs);
    if (outputs.setOutputs(biasSet) < 0)
        return failed(setFailed);
    m_wait(kSettleWaitMs);

    std::vector<zevo::DisplayRecord> records;
    if (!display.readBuffer(records))
        return failed(QStringLiteral(
            "The display data could not be read from /dev/zevo_dma_displ.\n\n"
            "The measurement was stopped and the outputs were handed back to the controller; "
            "the results of the previous run are kept."));

    Run r;
    r.outcome = Run::Measured;
    r.bias = bias[axis];
    r.step = step[axis];
    const int responseField = axis + (settings.bpm2 ? 4 : 0);
    const int stimulusField = zevo::disp::Dac1 + dac[axis];
    r.response.resize(kSamples);
    r.stimulus.resize(kSamples);
    for (int i = 0; i < kSamples; ++i) {
        r.response[std::size_t(i)] = records[std::size_t(i)].value[responseField];
        r.stimulus[std::size_t(i)] = records[std::size_t(i)].value[stimulusField];
    }
    return r;
}
