#include "measure/windowpidtuning.h"

#include "control/dialoglogin.h"
#include "control/widgetpidparams.h"
#include "control/windowpidparams.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "device/protocol.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace
{
const char* const kLoopNames[3] = {"X", "Y", "I0"};

// What the PID window's boxes hold: gains 0 to 10000 and O gain -90 to
// 100000, each with 5 decimals. A proposal is rounded as they round it, so
// that the prediction is made with what Apply really sends.
constexpr double kGainMax = 10000.0;
constexpr double kOGainMin = -90.0;
constexpr double kOGainMax = 100000.0;
constexpr int kBoxDecimals = 5;
// Below this a gain keeps less than 1 % resolution in the boxes.
constexpr double kGainFloor = 1e-3;

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
const QString kWarningStyle = QStringLiteral("color: rgb(180, 60, 0);");

double asBox(double value)
{
    return QString::number(value, 'f', kBoxDecimals).toDouble();
}

QString boxText(double value)
{
    return QString::number(value, 'f', kBoxDecimals);
}

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

bool fitsBoxes(const PidLawParameters& p)
{
    const double largest = std::max({p.kp, p.ki, p.kd});
    double smallest = largest;
    for (double gain : {p.kp, p.ki, p.kd})
        if (gain > 0.0)
            smallest = std::min(smallest, gain);
    return p.kp >= 0.0 && p.ki >= 0.0 && p.kd >= 0.0 && largest <= kGainMax &&
           smallest >= kGainFloor && p.oGain >= kOGainMin && p.oGain <= kOGainMax;
}

// The controller's parameters for `pi` at `rate`, as the boxes can hold
// them. The boxes take no negative gains, so an inverted actuator gets a
// negative O gain. The present O gain is kept when the gains then fit;
// otherwise a power of ten carries their magnitude, chosen to leave the
// smallest gain as much resolution as the range allows.
bool boxParameters(const PiTuning& pi, double rate, const PidLawParameters& stored,
                   PidLawParameters* out, QString* problem)
{
    if (!std::isfinite(pi.kc) || pi.kc == 0.0 || !(rate > 0.0)) {
        *problem = QStringLiteral("The model gives no usable PI parameters.");
        return false;
    }
    const double sign = pi.kc < 0.0 ? -1.0 : 1.0;
    const auto convert = [&](double magnitude) {
        PidLawParameters base = stored;
        base.oGain = sign * magnitude;
        PidLawParameters p = controllerParameters(pi, rate, base);
        p.kp = asBox(p.kp);
        p.ki = asBox(p.ki);
        p.kd = asBox(p.kd);
        p.oGain = asBox(p.oGain);
        return p;
    };

    double present = std::fabs(stored.oGain);
    if (!(present > 0.0) || !std::isfinite(present))
        present = 1.0;
    PidLawParameters p = convert(present);
    if (fitsBoxes(p)) {
        *out = p;
        return true;
    }
    // Magnitude of the largest gain at an O gain of 1.
    const PidLawParameters unit = controllerParameters(pi, rate, [&] {
        PidLawParameters b = stored;
        b.oGain = sign;
        return b;
    }());
    const double largest = std::max({std::fabs(unit.kp), std::fabs(unit.ki), std::fabs(unit.kd)});
    const double top = std::floor(std::log10(largest));
    // From the largest gain between 1 and 10 up to between 1000 and 10000.
    for (int shift = 0; shift <= 3; ++shift) {
        p = convert(std::pow(10.0, top - shift));
        if (fitsBoxes(p)) {
            *out = p;
            return true;
        }
    }
    *problem = QStringLiteral("The proposed gains (Kp %1, Ki %2 at O gain %3) cannot be entered "
                              "in the PID boxes (gains 0 to 10000, O gain -90 to 100000, "
                              "5 decimals).")
                   .arg(number(std::fabs(unit.kp)), number(std::fabs(unit.ki)), number(sign));
    return false;
}

QLabel* valueLabel(const char* name)
{
    auto* label = new QLabel;
    label->setObjectName(QString::fromLatin1(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMinimumWidth(90);
    return label;
}

QLabel* warningLabel(const char* name)
{
    auto* label = new QLabel;
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    label->setStyleSheet(kWarningStyle);
    label->hide();
    return label;
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

WindowPidTuning::WindowPidTuning(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("PID Tuning Assistant"));
    build();
    if (theLogin)
        connect(theLogin, &DialogLogin::userLevelChanged, this, &WindowPidTuning::checkUserLevel);
    checkUserLevel();
}

WindowPidTuning::~WindowPidTuning() = default;

void WindowPidTuning::build()
{
    m_loopLabel = new QLabel;
    m_loopLabel->setObjectName(QStringLiteral("loopLabel"));
    m_sourceWarning = warningLabel("sourceWarningLabel");
    m_fitWarning = warningLabel("fitWarningLabel");

    // The model and the measurement it was fitted to.
    auto* modelBox = new QGroupBox(QStringLiteral("Model fitted to the measurement"));
    auto* modelGrid = new QGridLayout;
    m_gain = valueLabel("gainLabel");
    m_timeConstant = valueLabel("timeConstantLabel");
    m_deadTime = valueLabel("deadTimeLabel");
    m_fitRms = valueLabel("fitRmsLabel");
    modelGrid->addWidget(new QLabel(QStringLiteral("Gain K:")), 0, 0);
    modelGrid->addWidget(m_gain, 0, 1);
    modelGrid->addWidget(new QLabel(QStringLiteral("Time constant \u03c4:")), 0, 2);
    modelGrid->addWidget(m_timeConstant, 0, 3);
    modelGrid->addWidget(new QLabel(QStringLiteral("Dead time \u03b8:")), 1, 0);
    modelGrid->addWidget(m_deadTime, 1, 1);
    modelGrid->addWidget(new QLabel(QStringLiteral("Fit rms:")), 1, 2);
    modelGrid->addWidget(m_fitRms, 1, 3);
    m_fitPlot = new QCustomPlot;
    m_fitPlot->setObjectName(QStringLiteral("fitPlot"));
    setupPlot(m_fitPlot);
    QCPGraph* stimulus = m_fitPlot->addGraph(m_fitPlot->xAxis, m_fitPlot->yAxis2);
    stimulus->setName(QStringLiteral("Stimulus"));
    stimulus->setPen(QPen(kStimulusColour));
    QCPGraph* measured = m_fitPlot->addGraph();
    measured->setName(QStringLiteral("Measurement"));
    measured->setPen(QPen(kMeasurementColour));
    QCPGraph* model = m_fitPlot->addGraph();
    model->setName(QStringLiteral("Model"));
    model->setPen(QPen(kModelColour, 2));
    m_fitPlot->yAxis2->setVisible(true);
    m_fitPlot->yAxis2->setLabel(QStringLiteral("stimulus (V)"));
    auto* modelLayout = new QVBoxLayout;
    modelLayout->addLayout(modelGrid);
    modelLayout->addWidget(m_fitPlot, 1);
    modelBox->setLayout(modelLayout);

    auto* left = new QVBoxLayout;
    left->addWidget(m_loopLabel);
    left->addWidget(m_sourceWarning);
    left->addWidget(m_fitWarning);
    left->addWidget(modelBox, 1);

    // The closed loop: tauC, the rules' parameters, the controller's.
    auto* loopBox = new QGroupBox(QStringLiteral("Closed loop"));
    auto* loopGrid = new QGridLayout;
    m_slider = new QSlider(Qt::Horizontal);
    m_slider->setObjectName(QStringLiteral("tauCSlider"));
    m_slider->setRange(kTightPosition, kSmoothPosition);
    m_slider->setValue(kTightPosition);
    m_slider->setTickPosition(QSlider::TicksBelow);
    m_slider->setTickInterval(10);
    connect(m_slider, &QSlider::valueChanged, this, &WindowPidTuning::updateProposal);
    m_tauC = valueLabel("tauCLabel");
    auto* sliderRow = new QHBoxLayout;
    sliderRow->addWidget(new QLabel(QStringLiteral("tight")));
    sliderRow->addWidget(m_slider, 1);
    sliderRow->addWidget(new QLabel(QStringLiteral("smooth")));
    loopGrid->addWidget(new QLabel(QStringLiteral("Closed-loop time constant \u03c4c:")), 0, 0);
    loopGrid->addWidget(m_tauC, 0, 1);
    loopGrid->addLayout(sliderRow, 1, 0, 1, 3);

    m_kc = valueLabel("kcLabel");
    m_tauI = valueLabel("tauILabel");
    loopGrid->addWidget(new QLabel(QStringLiteral("SIMC PI: Kc")), 2, 0);
    loopGrid->addWidget(m_kc, 2, 1);
    loopGrid->addWidget(new QLabel(QStringLiteral("\u03c4I")), 3, 0);
    loopGrid->addWidget(m_tauI, 3, 1);
    m_loopRateLabel = valueLabel("loopRateLabel");
    loopGrid->addWidget(new QLabel(QStringLiteral("Loop rate:")), 4, 0);
    loopGrid->addWidget(m_loopRateLabel, 4, 1, 1, 2);

    auto* paramGrid = new QGridLayout;
    paramGrid->addWidget(new QLabel(QStringLiteral("Present")), 0, 1);
    paramGrid->addWidget(new QLabel(QStringLiteral("Proposed")), 0, 2);
    const char* names[4] = {"Kp:", "Ki:", "Kd:", "O gain:"};
    const char* presentNames[4] = {"presentKp", "presentKi", "presentKd", "presentOgain"};
    const char* proposedNames[4] = {"proposedKp", "proposedKi", "proposedKd", "proposedOgain"};
    for (int row = 0; row < 4; ++row) {
        m_present[row] = valueLabel(presentNames[row]);
        m_proposed[row] = valueLabel(proposedNames[row]);
        paramGrid->addWidget(new QLabel(QString::fromLatin1(names[row])), row + 1, 0);
        paramGrid->addWidget(m_present[row], row + 1, 1);
        paramGrid->addWidget(m_proposed[row], row + 1, 2);
    }
    paramGrid->setColumnStretch(3, 1);

    m_overshoot = valueLabel("overshootLabel");
    m_settling = valueLabel("settlingLabel");
    auto* figures = new QGridLayout;
    figures->addWidget(new QLabel(QStringLiteral("Predicted overshoot:")), 0, 0);
    figures->addWidget(m_overshoot, 0, 1);
    figures->addWidget(new QLabel(QStringLiteral("Settling time (5 %):")), 1, 0);
    figures->addWidget(m_settling, 1, 1);
    figures->setColumnStretch(2, 1);

    m_predictionPlot = new QCustomPlot;
    m_predictionPlot->setObjectName(QStringLiteral("predictionPlot"));
    setupPlot(m_predictionPlot);
    QCPGraph* setpoint = m_predictionPlot->addGraph();
    setpoint->setName(QStringLiteral("Setpoint"));
    setpoint->setPen(QPen(Qt::black, 1, Qt::DashLine));
    QCPGraph* present = m_predictionPlot->addGraph();
    present->setName(QStringLiteral("Present parameters"));
    present->setPen(QPen(kPresentColour, 2));
    QCPGraph* proposed = m_predictionPlot->addGraph();
    proposed->setName(QStringLiteral("Proposal"));
    proposed->setPen(QPen(kProposalColour, 2));

    auto* loopLayout = new QVBoxLayout;
    loopLayout->addLayout(loopGrid);
    loopLayout->addLayout(paramGrid);
    loopLayout->addLayout(figures);
    loopLayout->addWidget(m_predictionPlot, 1);
    loopBox->setLayout(loopLayout);

    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addWidget(loopBox, 1);

    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setWordWrap(true);
    m_buttons = new QDialogButtonBox;
    m_buttons->setObjectName(QStringLiteral("buttonBox"));
    m_apply = m_buttons->addButton(QDialogButtonBox::Apply);
    m_undo = m_buttons->addButton(QStringLiteral("Undo"), QDialogButtonBox::ActionRole);
    m_undo->setObjectName(QStringLiteral("undoButton"));
    m_buttons->addButton(QDialogButtonBox::Cancel);
    connect(m_apply, &QPushButton::clicked, this, &WindowPidTuning::apply);
    connect(m_undo, &QPushButton::clicked, this, &WindowPidTuning::undo);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addWidget(m_status);
    layout->addWidget(m_buttons);
    resize(1150, 680);
}

void WindowPidTuning::setupPlot(QCustomPlot* plot)
{
    plot->setMinimumSize(420, 260);
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
    return m_model.deadTime * m_slider->value() / double(kTightPosition);
}

WindowPidTuning::Stored WindowPidTuning::readStored() const
{
    Stored s;
    if (!theConfig)
        return s;
    using Getter = void (ConfigStore::*)(double*, double*, double*, double*, double*, double*,
                                         double*, double*, double*, double*) const;
    const Getter getters[3] = {&ConfigStore::getPidX, &ConfigStore::getPidY,
                               &ConfigStore::getPidI0};
    PidLawParameters& p = s.pid;
    (theConfig->*getters[std::clamp(m_run.loop, 0, 2)])(
        &s.freq, &p.kp, &p.ki, &p.kd, &p.eMin, &p.iMax, &p.oMin, &p.oMax, &p.oGain, &s.offset);
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
    m_loopRateLabel->setText(
        QStringLiteral("%1 Hz (%2 Hz / %3)")
            .arg(QString::number(double(float(base) / float(m_divider)), 'f', 2))
            .arg(base)
            .arg(m_divider));
    const PidLawParameters& p = m_stored.pid;
    const double present[4] = {p.kp, p.ki, p.kd, p.oGain};
    for (int row = 0; row < 4; ++row)
        m_present[row]->setText(boxText(present[row]));

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
    m_status->clear();

    const int loop = m_run.loop;
    const int source = (loop == zevo::kPidX   ? pidSourceX
                        : loop == zevo::kPidY ? pidSourceY
                                              : pidSourceI0)
                           .load();
    m_loopLabel->setText(QStringLiteral("Loop %1, measured at BPM %2 with a step of %3 V.")
                             .arg(QString::fromLatin1(kLoopNames[loop]))
                             .arg(m_run.bpm + 1)
                             .arg(number(m_run.step)));
    m_sourceWarning->setVisible(source != m_run.bpm);
    m_sourceWarning->setText(
        QStringLiteral("The %1 loop regulates on BPM %2, but this response was measured at BPM "
                       "%3: the gain differs between the two, so the proposal does not fit the "
                       "loop. Measure again with the response taken at BPM %2.")
            .arg(QString::fromLatin1(kLoopNames[loop]))
            .arg(source + 1)
            .arg(m_run.bpm + 1));

    m_model = fitFopdt(m_run.response, m_run.stimulus, m_run.sampleRate);
    readLoop();
    showFit();
    m_slider->blockSignals(true);
    m_slider->setValue(kTightPosition);
    m_slider->blockSignals(false);
    updateProposal();
}

void WindowPidTuning::showFit()
{
    const bool valid = m_model.valid;
    const QString none = QStringLiteral("-");
    const bool current = m_run.loop == zevo::kPidI0;
    const QString unit = current ? QStringLiteral(" A/V") : QStringLiteral(" /V");
    m_gain->setText(valid ? number(m_model.gain) + unit : none);
    m_timeConstant->setText(valid ? milliseconds(m_model.timeConstant) : none);
    m_deadTime->setText(valid ? milliseconds(m_model.deadTime) : none);
    m_fitRms->setText(valid ? number(m_model.residualRms) + (current ? QStringLiteral(" A") : "")
                            : none);
    m_fitWarning->setVisible(!valid);
    m_fitWarning->setText(QStringLiteral(
        "No usable step was found in this measurement, so there is no model and no proposal. "
        "Run the step response again, with a larger step if the response is lost in noise."));

    const std::size_t n = std::min(m_run.response.size(), m_run.stimulus.size());
    std::vector<double> time(n);
    for (std::size_t i = 0; i < n; ++i)
        time[i] = m_run.sampleRate > 0 ? double(i) / m_run.sampleRate : 0.0;
    setSeries(m_fitPlot->graph(0), time, m_run.stimulus, 1e3);
    setSeries(m_fitPlot->graph(1), time, m_run.response, 1e3);
    if (valid)
        setSeries(m_fitPlot->graph(2), time,
                  fopdtResponse(m_model, m_run.stimulus, m_run.sampleRate), 1e3);
    else
        m_fitPlot->graph(2)->data()->clear();
    m_fitPlot->yAxis->setLabel(
        QStringLiteral("BPM %1 %2%3")
            .arg(m_run.bpm + 1)
            .arg(QString::fromLatin1(kLoopNames[m_run.loop]))
            .arg(current ? QStringLiteral(" (A)") : QStringLiteral(" (raw units)")));
    m_fitPlot->rescaleAxes();
    m_fitPlot->yAxis->scaleRange(1.15);
    m_fitPlot->yAxis2->scaleRange(1.15);
    // The fit shows best on the edge where the step begins: dead time and
    // lag at a readable scale. Dragging and zooming reach the rest.
    std::size_t edge = 0;
    while (edge < n &&
           std::fabs(m_run.stimulus[edge] - m_run.stimulus[0]) <= 0.5 * std::fabs(m_run.step))
        ++edge;
    if (valid && edge < n && m_run.sampleRate > 0) {
        const double t = double(edge) / m_run.sampleRate;
        const double span = m_model.deadTime + m_model.timeConstant;
        m_fitPlot->xAxis->setRange(std::max(0.0, t - 2.0 * span) * 1e3,
                                   std::min(time.back(), t + 10.0 * span) * 1e3);
    }
    m_fitPlot->replot();
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
            boxParameters(m_pi, m_loopRate, m_stored.pid, &m_proposal, &m_proposalProblem);
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
    m_tauC->setText(fitted ? milliseconds(tauC()) : none);
    m_kc->setText(fitted ? number(m_pi.kc) : none);
    m_tauI->setText(fitted ? milliseconds(m_pi.tauI) : none);
    const double proposed[4] = {m_proposal.kp, m_proposal.ki, m_proposal.kd, m_proposal.oGain};
    for (int row = 0; row < 4; ++row)
        m_proposed[row]->setText(m_proposalValid ? boxText(proposed[row]) : none);

    const auto settling = [](const ClosedLoopStep& s) {
        return s.settled ? milliseconds(s.settlingTime)
                         : QStringLiteral("over ") + milliseconds(s.settlingTime);
    };
    if (m_proposalValid) {
        m_overshoot->setText(
            percent(m_prediction.overshoot) +
            QStringLiteral("   (present parameters: %1)").arg(percent(m_presentStep.overshoot)));
        m_settling->setText(
            settling(m_prediction) +
            QStringLiteral("   (present parameters: %1)").arg(settling(m_presentStep)));
    } else {
        m_overshoot->setText(none);
        m_settling->setText(none);
    }
    if (fitted && !m_proposalValid) {
        m_fitWarning->setText(m_proposalProblem);
        m_fitWarning->show();
    } else if (fitted) {
        m_fitWarning->hide();
    }

    // The prediction over the proposal's span; the present parameters' curve
    // is cut there, its figures come from its whole run.
    QCPGraph* setpoint = m_predictionPlot->graph(0);
    QCPGraph* present = m_predictionPlot->graph(1);
    QCPGraph* proposal = m_predictionPlot->graph(2);
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
        m_predictionPlot->xAxis->setRange(-0.05 * end * 1e3, end * 1e3);
        double top = m_predictionStep;
        for (double v : m_prediction.response)
            top = std::max(top, v);
        m_predictionPlot->yAxis->setRange(-0.1 * m_predictionStep, top + 0.1 * m_predictionStep);
    }
    m_predictionPlot->yAxis->setLabel(
        QStringLiteral("setpoint step, %1")
            .arg(m_run.loop == zevo::kPidI0 ? QStringLiteral("A") : QStringLiteral("raw units")));
    m_predictionPlot->replot();
}

void WindowPidTuning::checkUserLevel()
{
    const bool admin = userLevel == 2 && m_pidWindow;
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
    m_status->setText(sent ? done
                           : QStringLiteral("Nothing was sent: only an administrator (user "
                                            "level 2) changes the PID parameters."));
    // What is stored now is the present; its prediction follows.
    readLoop();
    updateProposal();
    return sent;
}
