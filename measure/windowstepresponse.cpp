#include "measure/windowstepresponse.h"
#include "ui_windowstepresponse.h"

#include "analysis/stepresponse.h"
#include "beamline/about.h"
#include "device/configstore.h"
#include "device/driver.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"
#include "export/nexusfile.h"
#include "export/stepresponsefile.h"
#include "measure/hostoutputs.h"
#include "measure/savefiledialog.h"
#include "measure/windowpidtuning.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHostInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <qcustomplot.h>

#include <array>
#include <cmath>

#include <fcntl.h>

namespace
{
const QString kTitle = QStringLiteral("Step Response");
const char* const kAssignmentKeys[3] = {"Beamline/DAC_posX", "Beamline/DAC_posY",
                                        "Beamline/DAC_I0"};
constexpr int kFourthOutput = 3; // not carried by the display record

const QColor kRiseColour(50, 200, 50);
const QColor kDeadColour(200, 50, 50);
const QColor kSettleColour(220, 69, 0);
const QColor kDcColour(0, 50, 200);

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

QString number(double value)
{
    return QString::number(value, 'g', 4);
}

void placeOnResponseAxes(QCustomPlot* plot, std::initializer_list<QCPItemPosition*> positions)
{
    for (QCPItemPosition* p : positions)
        p->setAxes(plot->xAxis, plot->yAxis2);
}

QPen itemPen(const QColor& colour)
{
    return QPen(colour, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}
} // namespace

struct WindowStepResponse::Run {
    enum Outcome { Measured, Refused, Failed, DisplayMissing } outcome = Failed;
    QString title = kTitle;
    QString text;
    double bias = 0.0;
    double step = 0.0;
    std::vector<double> response;
    std::vector<double> stimulus;

    static Run refused(const QString& text) { return {Refused, kTitle, text, 0, 0, {}, {}}; }
    static Run failed(const QString& text) { return {Failed, kTitle, text, 0, 0, {}, {}}; }
};

WindowStepResponse::WindowStepResponse(QWidget* parent)
    : QDialog(parent), ui(new Ui::WindowStepResponse), m_stimulus(new QCPGraphDataContainer),
      m_response(new QCPGraphDataContainer), m_wait([](int ms) { QThread::msleep(ulong(ms)); })
{
    ui->setupUi(this);
    m_bias[AxisX] = ui->posXbiasDoubleSpinBox;
    m_bias[AxisY] = ui->posYbiasDoubleSpinBox;
    m_bias[AxisI0] = ui->i0biasDoubleSpinBox;
    m_step[AxisX] = ui->posXStepDoubleSpinBox;
    m_step[AxisY] = ui->posYStepDoubleSpinBox;
    m_step[AxisI0] = ui->i0StepDoubleSpinBox;

    QPushButton* run = ui->buttonBox->button(QDialogButtonBox::Apply);
    run->setText(QStringLiteral("Run"));
    connect(run, &QPushButton::released, this, &WindowStepResponse::stepRespProcedure);
    // An addition beside the designed buttons: usable once a run has a result.
    m_suggest =
        ui->buttonBox->addButton(QStringLiteral("Suggest PID\u2026"), QDialogButtonBox::ActionRole);
    m_suggest->setObjectName(QStringLiteral("suggestPidButton"));
    m_suggest->setEnabled(false);
    connect(m_suggest, &QPushButton::clicked, this, &WindowStepResponse::suggestPid);
    // Also an addition: saves the last measured run, once there is one.
    m_save = ui->buttonBox->addButton(QStringLiteral("Save\u2026"), QDialogButtonBox::ActionRole);
    m_save->setObjectName(QStringLiteral("saveResultButton"));
    m_save->setEnabled(false);
    connect(m_save, &QPushButton::clicked, this, &WindowStepResponse::saveResult);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (QRadioButton* b : {ui->stepInXbutton, ui->stepInYbutton, ui->stepInI0button}) {
        connect(b, &QRadioButton::clicked, this, &WindowStepResponse::selector_radioButton_changed);
        // The added buttons widen the column; the selectors keep their own
        // width, so that a click anywhere on one of them lands on it.
        b->setSizePolicy(QSizePolicy::Maximum, b->sizePolicy().verticalPolicy());
    }

    setupPlot();
    ui->stepInXbutton->setChecked(true);
    selector_radioButton_changed();
}

WindowStepResponse::~WindowStepResponse() = default;

void WindowStepResponse::setupPlot()
{
    QCustomPlot* plot = ui->graph;
    QLinearGradient background(0, 0, 0, 500);
    background.setColorAt(0, QColor(250, 250, 250));
    background.setColorAt(1, QColor(220, 220, 220));
    plot->setBackground(QBrush(background));

    QCPGraph* stimulus = plot->addGraph(plot->xAxis, plot->yAxis);
    stimulus->setName(QStringLiteral("Stimulus"));
    stimulus->setData(m_stimulus);
    plot->yAxis2->setVisible(true);
    QCPGraph* response = plot->addGraph(plot->xAxis, plot->yAxis2);
    response->setName(QStringLiteral("Response"));
    response->setPen(QPen(QColor(200, 0, 0)));
    response->setData(m_response);

    plot->xAxis->setLabel(QStringLiteral("time (s)"));
    plot->yAxis->setLabel(QStringLiteral("stimulus (V)"));
    plot->yAxis2->setLabel(QStringLiteral("response"));

    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectAxes);
    // Dragging and zooming move the response with the stimulus.
    const QList<QCPAxis*> axes{plot->xAxis, plot->yAxis, plot->yAxis2};
    plot->axisRect()->setRangeDragAxes(axes);
    plot->axisRect()->setRangeZoomAxes(axes);
    plot->legend->setVisible(true);
    plot->legend->setTextColor(QColor(10, 10, 10));
    plot->legend->setBrush(QBrush(QColor(222, 222, 222)));

    const QCPLineEnding arrow(QCPLineEnding::esSpikeArrow, 8, 10);
    auto line = [&](const QColor& colour, bool arrows) {
        auto* item = new QCPItemLine(plot);
        item->setPen(itemPen(colour));
        if (arrows) {
            item->setHead(arrow);
            item->setTail(arrow);
        }
        placeOnResponseAxes(plot, {item->start, item->end});
        item->setVisible(false); // nothing to mark before the first run
        return item;
    };
    auto label = [&](const QString& text, const QColor& colour, Qt::Alignment anchor) {
        auto* item = new QCPItemText(plot);
        item->setText(text);
        item->setColor(colour);
        item->setPositionAlignment(anchor);
        placeOnResponseAxes(plot, {item->position});
        item->setVisible(false);
        return item;
    };
    m_riseLine = line(kRiseColour, false);
    m_deadArrow = line(kDeadColour, true);
    m_deadLabel = label(QStringLiteral("Tdead"), kDeadColour, Qt::AlignTop | Qt::AlignHCenter);
    m_settleArrow = line(kSettleColour, true);
    m_settleLabel =
        label(QStringLiteral("Tsettle"), kSettleColour, Qt::AlignTop | Qt::AlignHCenter);
    m_dcArrow = line(kDcColour, true);
    m_dcLabel = label(QStringLiteral("dy"), kDcColour, Qt::AlignTop | Qt::AlignLeft);
}

void WindowStepResponse::setWaitFunction(WaitFunction wait)
{
    if (wait)
        m_wait = std::move(wait);
}

void WindowStepResponse::showWindow()
{
    if (theConfig) {
        double offset[3];
        double freq, kp, ki, kd, eMin, iMax, oMin, oMax, oGain;
        theConfig->getPidX(&freq, &kp, &ki, &kd, &eMin, &iMax, &oMin, &oMax, &oGain, &offset[0]);
        theConfig->getPidY(&freq, &kp, &ki, &kd, &eMin, &iMax, &oMin, &oMax, &oGain, &offset[1]);
        theConfig->getPidI0(&freq, &kp, &ki, &kd, &eMin, &iMax, &oMin, &oMax, &oGain, &offset[2]);
        for (int axis = 0; axis < 3; ++axis)
            m_bias[axis]->setValue(offset[axis]);
    }
    show();
    raise();
    activateWindow();
}

int WindowStepResponse::chosenAxis() const
{
    if (ui->stepInYbutton->isChecked())
        return AxisY;
    if (ui->stepInI0button->isChecked())
        return AxisI0;
    return AxisX;
}

// Only the chosen axis steps; the biases of all three are applied.
void WindowStepResponse::selector_radioButton_changed()
{
    const int chosen = chosenAxis();
    for (int axis = 0; axis < 3; ++axis) {
        m_step[axis]->setEnabled(axis == chosen);
        m_step[axis]->setValue(axis == chosen ? 0.1 : 0.0);
    }
}

void WindowStepResponse::setPidWindow(WindowPIDparams* window)
{
    m_pidWindow = window;
    if (m_tuning)
        m_tuning->setPidWindow(window);
}

void WindowStepResponse::suggestPid()
{
    if (!m_lastRun)
        return;
    if (!m_tuning) {
        m_tuning = new WindowPidTuning(this);
        m_tuning->setPidWindow(m_pidWindow);
    }
    m_tuning->setRecording(*m_lastRun);
    m_tuning->showWindow();
}

void WindowStepResponse::requestQuit()
{
    QCoreApplication::quit();
}

void WindowStepResponse::stepRespProcedure()
{
    if (m_running)
        return;
    m_running = true;
    const QDateTime started = QDateTime::currentDateTime();
    QString notGivenBack;
    Run run = measure(notGivenBack);
    m_running = false;
    // What the controller did not take back joins the run's message; a run
    // that measured shows it in a box after its results.
    if (!notGivenBack.isEmpty())
        run.text =
            run.text.isEmpty() ? notGivenBack : run.text + QStringLiteral("\n\n") + notGivenBack;

    switch (run.outcome) {
    case Run::Measured: {
        const StepResponse result =
            evaluateStepResponse(run.response, run.stimulus, run.bias, run.step, kRunSampleRate);
        showResult(result, run.stimulus, run.bias, run.step);
        keepForSaving(run, result, started);
        // A response that moved is worth a model; a failed or refused run
        // keeps the previous one, as it keeps the previous results.
        if (std::isfinite(result.gain) && result.dc > 0.0) {
            m_lastRun = std::make_unique<StepRecording>();
            m_lastRun->response = run.response;
            m_lastRun->stimulus = run.stimulus;
            m_lastRun->sampleRate = kRunSampleRate;
            m_lastRun->loop = chosenAxis();
            m_lastRun->bpm = ui->useBPM2checkbox->isChecked() ? 1 : 0;
            m_lastRun->step = run.step;
            m_suggest->setEnabled(true);
        }
        if (!run.text.isEmpty())
            QMessageBox::critical(nullptr, run.title, run.text);
        break;
    }
    case Run::Refused:
        QMessageBox::warning(nullptr, run.title, run.text);
        break;
    case Run::Failed:
        QMessageBox::critical(nullptr, run.title, run.text);
        break;
    case Run::DisplayMissing:
        QMessageBox::critical(nullptr, run.title, run.text);
        requestQuit();
        break;
    }
}

WindowStepResponse::Run WindowStepResponse::measure(QString& notGivenBack)
{
    const int axis = chosenAxis();
    double bias[3], step[3];
    for (int k = 0; k < 3; ++k) {
        bias[k] = m_bias[k]->value();
        step[k] = m_step[k]->value();
    }
    if (step[axis] == 0.0)
        return Run::refused(QStringLiteral("The step of the chosen axis is 0.00 V: there is no "
                                           "step to measure.\nEnter a step and press Run again."));

    // The assignment comes from a file that may have been edited by hand:
    // only an existing output may index the output set.
    int dac[3] = {0, 1, 2};
    if (theConfig)
        theConfig->getBeamlineDacs(&dac[0], &dac[1], &dac[2]);
    for (int k = 0; k < 3; ++k)
        if (!HostOutputs::isOutput(dac[k]))
            return Run::refused(
                HostOutputs::badAssignmentText(QString::fromLatin1(kAssignmentKeys[k]), dac[k]));
    if (dac[axis] == kFourthOutput)
        return Run::refused(
            QStringLiteral("The DAC assignment %1 = %2 puts the stepped axis on DAC output 4, "
                           "which the display data do not carry (they hold outputs 1 to 3), so "
                           "the step could not be timed.\nAssign the axis to output 1, 2 or 3 in "
                           "the beamline configuration; the measurement was not started.")
                .arg(QString::fromLatin1(kAssignmentKeys[axis]))
                .arg(dac[axis]));

    // Both nodes open before anything on the controller changes. Undone in
    // reverse order of declaration: the display node closes, the outputs go
    // back to the controller and the DAC node closes, then the feedback and
    // the display rate are restored.
    RunRestore restore(notGivenBack);
    HostOutputs outputs(HostOutputs::DacOnly);
    if (!outputs.open()) {
        Run r = Run::failed(outputs.error());
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
        return Run::failed(QStringLiteral("The controller cannot be reached."));

    if (theMailbox->pidStatus() != zevo::PID_STATUS_OFF) {
        // Marked first: even a request that failed on its way back leaves
        // the feedback as the operator had it.
        restore.feedbackSwitchedOff();
        if (theMailbox->setFeedbackEnabled(false) < 0)
            return Run::failed(QStringLiteral("The controller did not switch the feedback off "
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
        return Run::failed(QStringLiteral("The controller did not take the display rate of "
                                          "%1 records per second that the measurement needs.\n\n"
                                          "The measurement was not started.")
                               .arg(kRunSampleRate));

    if (outputs.takeOutputs() < 0)
        return Run::failed(QStringLiteral("The controller did not hand the DAC outputs to the "
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
        return Run::failed(setFailed);
    m_wait(kBiasWaitMs);
    if (outputs.setOutputs(stepSet) < 0)
        return Run::failed(setFailed);
    m_wait(kStepWaitMs);
    if (outputs.setOutputs(biasSet) < 0)
        return Run::failed(setFailed);
    m_wait(kSettleWaitMs);

    std::vector<zevo::DisplayRecord> records;
    if (!display.readBuffer(records))
        return Run::failed(QStringLiteral(
            "The display data could not be read from /dev/zevo_dma_displ.\n\n"
            "The measurement was stopped and the outputs were handed back to the controller; "
            "the results of the previous run are kept."));

    Run r;
    r.outcome = Run::Measured;
    r.bias = bias[axis];
    r.step = step[axis];
    const int responseField = axis + (ui->useBPM2checkbox->isChecked() ? 4 : 0);
    const int stimulusField = zevo::disp::Dac1 + dac[axis];
    r.response.resize(kSamples);
    r.stimulus.resize(kSamples);
    for (int i = 0; i < kSamples; ++i) {
        r.response[std::size_t(i)] = records[std::size_t(i)].value[responseField];
        r.stimulus[std::size_t(i)] = records[std::size_t(i)].value[stimulusField];
    }
    return r;
}

void WindowStepResponse::showResult(const StepResponse& r,
                                    const std::vector<double>& stimulusSamples, double bias,
                                    double step)
{
    ui->invertedLabel->setText(r.inverted ? QStringLiteral("Inverted display") : QString());

    QVector<QCPGraphData> response, stimulus;
    response.reserve(r.samples);
    stimulus.reserve(r.samples);
    for (int i = 0; i < r.samples; ++i) {
        // One record per sample, so the keys rise strictly.
        const double t = stepSampleTime(i, kRunSampleRate);
        response.append(QCPGraphData(t, r.response[std::size_t(i)]));
        stimulus.append(QCPGraphData(t, stimulusSamples[std::size_t(i)]));
    }
    m_response->set(response, true);
    m_stimulus->set(stimulus, true);

    ui->dulabel->setText(number(r.du));
    ui->dclabel->setText(number(r.dc));
    ui->Klabel->setText(number(r.gain));
    ui->Tdeadlabel->setText(number(r.deadTime * 1000.0) + QStringLiteral(" ms"));
    ui->Tsetlabel->setText(number(r.settleTime * 1000.0) + QStringLiteral(" ms"));

    const StepResponseView v = stepResponseView(r, bias, step);
    const double y0 = v.markerLevel;
    m_riseLine->start->setCoords(r.t10, r.low);
    m_riseLine->end->setCoords(r.t90, r.high);
    m_deadArrow->start->setCoords(r.ts, y0);
    m_deadArrow->end->setCoords(r.t10, y0);
    m_deadLabel->position->setCoords(0.5 * (r.ts + r.t10), y0);
    m_settleArrow->start->setCoords(r.t10, y0);
    m_settleArrow->end->setCoords(r.t90, y0);
    m_settleLabel->position->setCoords(0.5 * (r.t10 + r.t90), y0);
    m_dcArrow->start->setCoords(v.dcArrowTime, r.low);
    m_dcArrow->end->setCoords(v.dcArrowTime, r.high);
    m_dcLabel->position->setCoords(v.dcArrowTime, 0.5 * (r.low + r.high));
    for (QCPAbstractItem* item : std::initializer_list<QCPAbstractItem*>{
             m_riseLine, m_deadArrow, m_deadLabel, m_settleArrow, m_settleLabel, m_dcArrow,
             m_dcLabel})
        item->setVisible(true);

    QCustomPlot* plot = ui->graph;
    plot->xAxis->setRange(v.timeLower, v.timeUpper);
    plot->yAxis->setRange(v.stimulusLower, v.stimulusUpper);
    plot->yAxis2->setRange(v.responseLower, v.responseUpper);
    plot->replot();
}

void WindowStepResponse::keepForSaving(const Run& run, const StepResponse& result,
                                       const QDateTime& started)
{
    auto kept = std::make_unique<StepResponseRun>();
    kept->axis = chosenAxis();
    kept->bpm2 = ui->useBPM2checkbox->isChecked();
    kept->sampleRate = kRunSampleRate;
    for (int k = 0; k < 3; ++k) {
        kept->bias[std::size_t(k)] = m_bias[k]->value();
        kept->step[std::size_t(k)] = m_step[k]->value();
    }
    kept->started = started;
    kept->ended = QDateTime::currentDateTime();
    kept->stimulus = run.stimulus;
    kept->response = run.response;
    kept->evaluation = result;
    kept->settings = nexus::currentSettings(QHostInfo::localHostName(), about::kVersion);
    kept->stimulusOutput = kept->settings.dacs[std::size_t(kept->axis)];
    if (theConfig) {
        using Getter = void (ConfigStore::*)(double*, double*, double*, double*, double*, double*,
                                             double*, double*, double*, double*) const;
        const Getter stored[3] = {&ConfigStore::getPidX, &ConfigStore::getPidY,
                                  &ConfigStore::getPidI0};
        StepResponseRun::Loop& p = kept->pid;
        (theConfig->*stored[kept->axis])(&p.frequency, &p.kp, &p.ki, &p.kd, &p.eMin, &p.iMax,
                                         &p.oMin, &p.oMax, &p.oGain, &p.offset);
    }
    m_savable = std::move(kept);
    m_save->setEnabled(true);
}

void WindowStepResponse::saveResult()
{
    if (!m_savable)
        return;
    const QString proposed =
        QStringLiteral("ZEVO_step_") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")) +
        QStringLiteral(".nxs");
    const QString path =
        savefiledialog::ask(this, QStringLiteral("Save step response"), proposed,
                            {NexusFile::kFileFilter, QStringLiteral("CSV files (*.csv)")});
    if (!path.isEmpty())
        writeResultFile(path);
}

bool WindowStepResponse::writeResultFile(const QString& path)
{
    if (!m_savable)
        return false;
    QString error;
    const bool written =
        NexusFile::isNexusPath(path)
            ? stepresponsefile::writeNexus(path, *m_savable, &error)
            : stepresponsefile::writeCsv(path, *m_savable, QDateTime::currentDateTime(),
                                         QHostInfo::localHostName(), &error);
    if (!written)
        QMessageBox::warning(nullptr, kTitle, error);
    return written;
}
