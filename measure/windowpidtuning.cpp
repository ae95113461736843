#include "measure/windowpidtuning.h"
#include "ui_windowpidtuning.h"

#include "analysis/pidboxes.h"
#include "control/dialoglogin.h"
#include "control/widgetpidparams.h"
#include "control/windowpidparams.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "device/protocol.h"
#include "device/userlevel.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace
{
const char* const kLoopNames[3] = {"X", "Y", "I0"};

// The closed loop is simulated for this many (tauC + theta): several times
// the settling time of any slider position.
constexpr double kPredictionSpans = 20.0;
// The present parameters may be far slower than the proposal: their figures
// come from a run of this many loop periods.
constexpr double kPresentPeriods = 5000.0;
// The plant of a prediction moves in 10 us ticks: a very slow loop is
// followed for this long at most, and said to settle later if it does.
constexpr double kMaxPredictionSeconds = 10.0;

const QColor kMeasurementColour(120, 120, 120);
const QColor kModelColour(200, 0, 0);
const QColor kStimulusColour(60, 110, 200);
const QColor kProposalColour(0, 90, 200);
const QColor kPresentColour(150, 150, 150);

QString number(double value)
{
    return QString::number(value, 'g', 4);
}

QString milliseconds(double seconds)
{
    return QString::number(seconds * 1e3, 'g', 4) + QStringLiteral(" ms");
}

QString percent(double fraction)
{
    return QString::number(fraction * 100.0, 'f', 1) + QStringLiteral(" %");
}

void setSeries(QCPGraph* graph, const std::vector<double>& time, const std::vector<double>& value,
               double timeScale)
{
    QVector<QCPGraphData> points;
    const std::size_t n = std::min(time.size(), value.size());
    points.reserve(int(n));
    for (std::size_t i = 0; i < n; ++i)
        points.append(QCPGraphData(time[i] * timeScale, value[i]));
    graph->data()->set(points, true);
}
} // namespace

WindowPidTuning::WindowPidTuning(QWidget* parent) : QDialog(parent), ui(new Ui::WindowPidTuning)
{
    ui->setupUi(this);
    // Shown only when there is something to warn of.
    ui->sourceWarningLabel->hide();
    ui->fitWarningLabel->hide();
    ui->tauCSlider->setRange(kTightPosition, kSmoothPosition);
    ui->tauCSlider->setValue(kTightPosition);
    connect(ui->tauCSlider, &QSlider::valueChanged, this, &WindowPidTuning::updateProposal);
    setupPlots();

    m_apply = ui->buttonBox->button(QDialogButtonBox::Apply);
    // Beside the designed buttons: sends back what the first Apply replaced.
    m_undo = ui->buttonBox->addButton(QStringLiteral("Undo"), QDialogButtonBox::ActionRole);
    m_undo->setObjectName(QStringLiteral("undoButton"));
    connect(m_apply, &QPushButton::clicked, this, &WindowPidTuning::apply);
    connect(m_undo, &QPushButton::clicked, this, &WindowPidTuning::undo);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    if (theLogin)
        connect(theLogin, &DialogLogin::userLevelChanged, this, &WindowPidTuning::checkUserLevel);
    checkUserLevel();
}

WindowPidTuning::~WindowPidTuning() = default;

void WindowPidTuning::setupPlots()
{
    QCustomPlot* fit = ui->fitPlot;
    setupPlot(fit);
    QCPGraph* stimulus = fit->addGraph(fit->xAxis, fit->yAxis2);
    stimulus->setName(QStringLiteral("Stimulus"));
    stimulus->setPen(QPen(kStimulusColour));
    QCPGraph* measured = fit->addGraph();
    measured->setName(QStringLiteral("Measurement"));
    measured->setPen(QPen(kMeasurementColour));
    QCPGraph* model = fit->addGraph();
    model->setName(QStringLiteral("Model"));
    model->setPen(QPen(kModelColour, 2));
    fit->yAxis2->setVisible(true);
    fit->yAxis2->setLabel(QStringLiteral("stimulus (V)"));

    QCustomPlot* prediction = ui->predictionPlot;
    setupPlot(prediction);
    QCPGraph* setpoint = prediction->addGraph();
    setpoint->setName(QStringLiteral("Setpoint"));
    setpoint->setPen(QPen(Qt::black, 1, Qt::DashLine));
    QCPGraph* present = prediction->addGraph();
    present->setName(QStringLiteral("Present parameters"));
    present->setPen(QPen(kPresentColour, 2));
    QCPGraph* proposed = prediction->addGraph();
    proposed->setName(QStringLiteral("Proposal"));
    proposed->setPen(QPen(kProposalColour, 2));
}

void WindowPidTuning::setupPlot(QCustomPlot* plot)
{
    plot->xAxis->setLabel(QStringLiteral("time (ms)"));
    plot->legend->setVisible(true);
    plot->legend->setBrush(QBrush(QColor(255, 255, 255, 200)));
    plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignBottom | Qt::AlignRight);
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
}

void WindowPidTuning::setPidWindow(WindowPIDparams* window)
{
    m_pidWindow = window;
    checkUserLevel();
}

double WindowPidTuning::tauC() const
{
    return m_model.deadTime * ui->tauCSlider->value() / double(kTightPosition);
}

WindowPidTuning::Stored WindowPidTuning::readStored() const
{
    Stored s;
    if (!theConfig)
        return s;
    const PidLoopSettings loop = theConfig->pidLoop(std::clamp(m_run.loop, 0, 2));
    s.freq = loop.frequency;
    s.offset = loop.offset;
    s.pid = {loop.kp, loop.ki, loop.kd, loop.eMin, loop.iMax, loop.oMin, loop.oMax, loop.oGain};
    return s;
}

// The loop's stored parameters, and the rate the controller runs it at:
// the divider the PID window sends for the stored frequency.
void WindowPidTuning::readLoop()
{
    m_stored = readStored();
    const int base = PID_BASE_FREQ.load();
    m_divider = WidgetPIDparams::loopDivider(base, m_stored.freq);
    m_loopRate = double(base) / m_divider;
    ui->loopRateLabel->setText(
        QStringLiteral("%1 Hz (%2 Hz / %3)")
            .arg(QString::number(double(float(base) / float(m_divider)), 'f', 2))
            .arg(base)
            .arg(m_divider));
    const PidLawParameters& p = m_stored.pid;
    const double present[4] = {p.kp, p.ki, p.kd, p.oGain};
    QLabel* const presentLabels[4] = {ui->presentKp, ui->presentKi, ui->presentKd,
                                      ui->presentOgain};
    for (int row = 0; row < 4; ++row)
        presentLabels[row]->setText(pidboxes::text(present[row]));

    // The present parameters' step, once per model and stored parameters:
    // long enough for the slowest slider position and for slow gains.
    m_presentStep = ClosedLoopStep();
    m_predictionStep = 1.0;
    if (!m_model.valid || !(m_loopRate > 0.0))
        return;
    // A setpoint step as large as the response the measurement saw.
    const double seen = std::fabs(m_model.gain * m_run.step);
    if (seen > 0.0 && std::isfinite(seen))
        m_predictionStep = seen;
    const double smoothest = m_model.deadTime * kSmoothPosition / double(kTightPosition);
    m_presentStep =
        simulateClosedLoop(m_model, p, m_loopRate, m_stored.offset, m_predictionStep,
                           std::min(kMaxPredictionSeconds, std::max(kPresentPeriods / m_loopRate,
                                                                    predictionSeconds(smoothest))));
}

double WindowPidTuning::predictionSeconds(double tauC) const
{
    const double span = tauC + m_model.deadTime + 0.5 / m_loopRate;
    return std::min(kMaxPredictionSeconds, std::max(kPredictionSpans * span, 50.0 / m_loopRate));
}

void WindowPidTuning::setRecording(const StepRecording& run)
{
    m_run = run;
    m_run.loop = std::clamp(run.loop, 0, 2);
    if (m_run.loop != m_undoLoop)
        m_hasUndo = false;
    ui->statusLabel->clear();

    const int loop = m_run.loop;
    const int source = (loop == zevo::kPidX   ? pidSourceX
                        : loop == zevo::kPidY ? pidSourceY
                                              : pidSourceI0)
                           .load();
    ui->loopLabel->setText(QStringLiteral("Loop %1, measured at BPM %2 with a step of %3 V.")
                               .arg(QString::fromLatin1(kLoopNames[loop]))
                               .arg(m_run.bpm + 1)
                               .arg(number(m_run.step)));
    ui->sourceWarningLabel->setVisible(source != m_run.bpm);
    ui->sourceWarningLabel->setText(
        QStringLiteral("The %1 loop regulates on BPM %2, but this response was measured at BPM "
                       "%3: the gain differs between the two, so the proposal does not fit the "
                       "loop. Measure again with the response taken at BPM %2.")
            .arg(QString::fromLatin1(kLoopNames[loop]))
            .arg(source + 1)
            .arg(m_run.bpm + 1));

    m_model = fitFopdt(m_run.response, m_run.stimulus, m_run.sampleRate);
    readLoop();
    showFit();
    ui->tauCSlider->blockSignals(true);
    ui->tauCSlider->setValue(kTightPosition);
    ui->tauCSlider->blockSignals(false);
    updateProposal();
}

void WindowPidTuning::showFit()
{
    const bool valid = m_model.valid;
    const QString none = QStringLiteral("-");
    const bool current = m_run.loop == zevo::kPidI0;
    const QString unit = current ? QStringLiteral(" A/V") : QStringLiteral(" /V");
    ui->gainLabel->setText(valid ? number(m_model.gain) + unit : none);
    ui->timeConstantLabel->setText(valid ? milliseconds(m_model.timeConstant) : none);
    ui->deadTimeLabel->setText(valid ? milliseconds(m_model.deadTime) : none);
    ui->fitRmsLabel->setText(
        valid ? number(m_model.residualRms) + (current ? QStringLiteral(" A") : "") : none);
    ui->fitWarningLabel->setVisible(!valid);
    ui->fitWarningLabel->setText(QStringLiteral(
        "No usable step was found in this measurement, so there is no model and no proposal. "
        "Run the step response again, with a larger step if the response is lost in noise."));

    const std::size_t n = std::min(m_run.response.size(), m_run.stimulus.size());
    std::vector<double> time(n);
    for (std::size_t i = 0; i < n; ++i)
        time[i] = m_run.sampleRate > 0 ? double(i) / m_run.sampleRate : 0.0;
    setSeries(ui->fitPlot->graph(0), time, m_run.stimulus, 1e3);
    setSeries(ui->fitPlot->graph(1), time, m_run.response, 1e3);
    if (valid)
        setSeries(ui->fitPlot->graph(2), time,
                  fopdtResponse(m_model, m_run.stimulus, m_run.sampleRate), 1e3);
    else
        ui->fitPlot->graph(2)->data()->clear();
    ui->fitPlot->yAxis->setLabel(
        QStringLiteral("BPM %1 %2%3")
            .arg(m_run.bpm + 1)
            .arg(QString::fromLatin1(kLoopNames[m_run.loop]))
            .arg(current ? QStringLiteral(" (A)") : QStringLiteral(" (raw units)")));
    ui->fitPlot->rescaleAxes();
    ui->fitPlot->yAxis->scaleRange(1.15);
    ui->fitPlot->yAxis2->scaleRange(1.15);
    // The fit shows best on the edge where the step begins: dead time and
    // lag at a readable scale. Dragging and zooming reach the rest.
    std::size_t edge = 0;
    while (edge < n &&
           std::fabs(m_run.stimulus[edge] - m_run.stimulus[0]) <= 0.5 * std::fabs(m_run.step))
        ++edge;
    if (valid && edge < n && m_run.sampleRate > 0) {
        const double t = double(edge) / m_run.sampleRate;
        const double span = m_model.deadTime + m_model.timeConstant;
        ui->fitPlot->xAxis->setRange(std::max(0.0, t - 2.0 * span) * 1e3,
                                     std::min(time.back(), t + 10.0 * span) * 1e3);
    }
    ui->fitPlot->replot();
}

void WindowPidTuning::updateProposal()
{
    m_proposalValid = false;
    m_proposalProblem.clear();
    m_prediction = ClosedLoopStep();
    const bool fitted = m_model.valid && m_loopRate > 0.0;
    if (fitted) {
        m_pi = simcTuning(m_model, tauC(), m_loopRate);
        m_proposalValid =
            pidboxes::propose(m_pi, m_loopRate, m_stored.pid, &m_proposal, &m_proposalProblem);
        if (m_proposalValid)
            m_prediction = simulateClosedLoop(m_model, m_proposal, m_loopRate, m_stored.offset,
                                              m_predictionStep, predictionSeconds(tauC()));
    }
    showProposal();
    checkUserLevel();
}

void WindowPidTuning::showProposal()
{
    const bool fitted = m_model.valid && m_loopRate > 0.0;
    const QString none = QStringLiteral("-");
    ui->tauCLabel->setText(fitted ? milliseconds(tauC()) : none);
    ui->kcLabel->setText(fitted ? number(m_pi.kc) : none);
    ui->tauILabel->setText(fitted ? milliseconds(m_pi.tauI) : none);
    const double proposed[4] = {m_proposal.kp, m_proposal.ki, m_proposal.kd, m_proposal.oGain};
    QLabel* const proposedLabels[4] = {ui->proposedKp, ui->proposedKi, ui->proposedKd,
                                       ui->proposedOgain};
    for (int row = 0; row < 4; ++row)
        proposedLabels[row]->setText(m_proposalValid ? pidboxes::text(proposed[row]) : none);

    const auto settling = [](const ClosedLoopStep& s) {
        return s.settled ? milliseconds(s.settlingTime)
                         : QStringLiteral("over ") + milliseconds(s.settlingTime);
    };
    if (m_proposalValid) {
        ui->overshootLabel->setText(
            percent(m_prediction.overshoot) +
            QStringLiteral("   (present parameters: %1)").arg(percent(m_presentStep.overshoot)));
        ui->settlingLabel->setText(
            settling(m_prediction) +
            QStringLiteral("   (present parameters: %1)").arg(settling(m_presentStep)));
    } else {
        ui->overshootLabel->setText(none);
        ui->settlingLabel->setText(none);
    }
    if (fitted && !m_proposalValid) {
        ui->fitWarningLabel->setText(m_proposalProblem);
        ui->fitWarningLabel->show();
    } else if (fitted) {
        ui->fitWarningLabel->hide();
    }

    // The prediction over the proposal's span; the present parameters' curve
    // is cut there, its figures come from its whole run.
    QCPGraph* setpoint = ui->predictionPlot->graph(0);
    QCPGraph* present = ui->predictionPlot->graph(1);
    QCPGraph* proposal = ui->predictionPlot->graph(2);
    const double end = m_prediction.time.empty() ? 0.0 : m_prediction.time.back();
    setpoint->data()->clear();
    present->data()->clear();
    proposal->data()->clear();
    if (m_proposalValid) {
        setSeries(proposal, m_prediction.time, m_prediction.response, 1e3);
        std::vector<double> t, y;
        for (std::size_t i = 0; i < m_presentStep.time.size() && m_presentStep.time[i] <= end;
             ++i) {
            t.push_back(m_presentStep.time[i]);
            y.push_back(m_presentStep.response[i]);
        }
        setSeries(present, t, y, 1e3);
        setSeries(setpoint, {0.0, 0.0, end}, {0.0, m_predictionStep, m_predictionStep}, 1e3);
        ui->predictionPlot->xAxis->setRange(-0.05 * end * 1e3, end * 1e3);
        double top = m_predictionStep;
        for (double v : m_prediction.response)
            top = std::max(top, v);
        ui->predictionPlot->yAxis->setRange(-0.1 * m_predictionStep, top + 0.1 * m_predictionStep);
    }
    ui->predictionPlot->yAxis->setLabel(
        QStringLiteral("setpoint step, %1")
            .arg(m_run.loop == zevo::kPidI0 ? QStringLiteral("A") : QStringLiteral("raw units")));
    ui->predictionPlot->replot();
}

void WindowPidTuning::checkUserLevel()
{
    const bool admin = userLevel == zevo::LevelAdmin && m_pidWindow;
    m_apply->setEnabled(admin && m_proposalValid);
    m_undo->setEnabled(admin && m_hasUndo);
}

void WindowPidTuning::showWindow()
{
    readLoop();
    updateProposal();
    show();
    raise();
    activateWindow();
}

void WindowPidTuning::apply()
{
    if (!m_proposalValid)
        return;
    const PidLawParameters before = readStored().pid;
    if (sendGains(m_proposal, QStringLiteral("The proposal was stored and sent to the %1 loop.")
                                  .arg(QString::fromLatin1(kLoopNames[m_run.loop]))) &&
        !m_hasUndo) {
        m_beforeApply = before;
        m_undoLoop = m_run.loop;
        m_hasUndo = true;
    }
    checkUserLevel();
}

void WindowPidTuning::undo()
{
    if (!m_hasUndo)
        return;
    if (sendGains(m_beforeApply,
                  QStringLiteral("The previous gains were stored and sent to the %1 loop again.")
                      .arg(QString::fromLatin1(kLoopNames[m_run.loop]))))
        m_hasUndo = false;
    checkUserLevel();
}

bool WindowPidTuning::sendGains(const PidLawParameters& gains, const QString& done)
{
    const bool sent = m_pidWindow && m_pidWindow->applyLoopGains(m_run.loop, gains.kp, gains.ki,
                                                                 gains.kd, gains.oGain);
    ui->statusLabel->setText(sent ? done
                                  : QStringLiteral("Nothing was sent: only an administrator (user "
                                                   "level 2) changes the PID parameters."));
    // What is stored now is the present; its prediction follows.
    readLoop();
    updateProposal();
    return sent;
}
