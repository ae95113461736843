#include "measure/windowstepresponse.h"
#include "ui_windowstepresponse.h"

#include "analysis/stepresponse.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "device/version.h"
#include "export/nexusfile.h"
#include "export/stepresponsefile.h"
#include "measure/savefiledialog.h"
#include "measure/windowpidtuning.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHostInfo>
#include <QMessageBox>
#include <QPushButton>

#include <qcustomplot.h>

#include <cmath>

namespace
{
const QString kTitle = QStringLiteral("Step Response");

const QColor kRiseColour(50, 200, 50);
const QColor kDeadColour(200, 50, 50);
const QColor kSettleColour(220, 69, 0);
const QColor kDcColour(0, 50, 200);

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

WindowStepResponse::WindowStepResponse(QWidget* parent)
    : QDialog(parent), ui(new Ui::WindowStepResponse), m_stimulus(new QCPGraphDataContainer),
      m_response(new QCPGraphDataContainer)
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
    m_procedure.setWaitFunction(std::move(wait));
}

void WindowStepResponse::showWindow()
{
    // An axis is the PID loop of the same number.
    if (theConfig) {
        for (int axis = 0; axis < 3; ++axis)
            m_bias[axis]->setValue(theConfig->pidLoop(axis).offset);
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

StepResponseProcedure::Settings WindowStepResponse::formSettings() const
{
    StepResponseProcedure::Settings settings;
    settings.axis = chosenAxis();
    settings.bpm2 = ui->useBPM2checkbox->isChecked();
    for (int k = 0; k < 3; ++k) {
        settings.bias[std::size_t(k)] = m_bias[k]->value();
        settings.step[std::size_t(k)] = m_step[k]->value();
    }
    return settings;
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
    const Run run = m_procedure.run(formSettings());
    m_running = false;
    // A run that measured shows what the controller did not take back in a
    // box after its results.
    const QString title = run.title.isEmpty() ? kTitle : run.title;

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
            QMessageBox::critical(nullptr, title, run.text);
        break;
    }
    case Run::Refused:
        QMessageBox::warning(nullptr, title, run.text);
        break;
    case Run::Failed:
        QMessageBox::critical(nullptr, title, run.text);
        break;
    case Run::DisplayMissing:
        QMessageBox::critical(nullptr, title, run.text);
        requestQuit();
        break;
    }
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
    kept->settings = nexus::currentSettings(QHostInfo::localHostName(), zevo::programVersion());
    kept->stimulusOutput = kept->settings.dacs[std::size_t(kept->axis)];
    if (theConfig)
        kept->pid = theConfig->pidLoop(kept->axis);
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
