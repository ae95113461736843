#include "measure/windowrockingcurve.h"
#include "ui_windowrockingcurve.h"

#include "analysis/rockingscan.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"
#include "device/version.h"
#include "export/nexusfile.h"
#include "measure/hostoutputs.h"
#include "measure/savefiledialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

namespace
{
const QString kTitle = QStringLiteral("Rocking Curve");

// Shortest time between two redraws of the plot during a scan.
constexpr qint64 kRedrawMs = 40;
// How long the beam is given to reach the first point of a scan.
constexpr unsigned long kSettleUs = 100000;

// Colour of each picoammeter channel (0 to 3), as the live current plots
// show them, so an electrode looks the same everywhere.
QColor channelColour(int channel)
{
    static const int rgb[4][3] = {
        {255, 255, 135}, {255, 130, 255}, {130, 255, 130}, {130, 210, 250}};
    return QColor(rgb[channel][0], rgb[channel][1], rgb[channel][2]);
}

bool isChannel(int channel)
{
    return channel >= 0 && channel < 4;
}

QString badChannelText(const QString& key, int value)
{
    return QStringLiteral("The BPM1 electrode map gives %1 = %2, which names no picoammeter "
                          "channel (channels 1 to 4 are stored as 0 to 3).\nCorrect it in the "
                          "beamline configuration; the measurement was not started.")
        .arg(key)
        .arg(value);
}

QString stoppedText(int taken, int total, const QString& what)
{
    return QStringLiteral("The scan stopped after %1 of %2 points: %3.\nThe controller has been "
                          "asked to take the DAC outputs back.")
        .arg(taken)
        .arg(total)
        .arg(what);
}
} // namespace

WindowRockingCurve::WindowRockingCurve(QWidget* parent)
    : QDialog(parent), ui(new Ui::WindowRockingCurve),
      m_wait([](unsigned long microseconds) { QThread::usleep(microseconds); })
{
    ui->setupUi(this);

    connect(ui->boxStart, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &WindowRockingCurve::minMaxChanged);
    connect(ui->boxStop, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &WindowRockingCurve::minMaxChanged);
    connect(ui->buttonStart, &QPushButton::released, this, &WindowRockingCurve::startMeasurement);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // An addition beside the designed buttons: nothing to save before a scan.
    m_saveButton =
        ui->buttonBox->addButton(QStringLiteral("Save\u2026"), QDialogButtonBox::ActionRole);
    m_saveButton->setObjectName(QStringLiteral("saveResultButton"));
    m_saveButton->setEnabled(false);
    connect(m_saveButton, &QPushButton::clicked, this, &WindowRockingCurve::saveResult);

    QCustomPlot* plot = ui->graph;
    for (int k = 0; k < 3; ++k)
        plot->addGraph(plot->xAxis, plot->yAxis);
    plot->xAxis->setRange(4, 6);
    plot->yAxis->setRange(-0.00015, 0.00015);
    plot->xAxis->setLabel(QStringLiteral(" Output voltage [V] "));
    plot->yAxis->setLabel(QStringLiteral(" Input current [A] "));
    plot->setBackground(QBrush(Qt::darkGray, Qt::SolidPattern));
    plot->graph(0)->setPen(QPen(QColor(250, 250, 135, 240), 2));
    plot->graph(1)->setPen(QPen(QColor(255, 120, 255, 240), 2));
    plot->graph(2)->setPen(QPen(QColor(240, 240, 240, 240), 3));
    plot->legend->setVisible(true);
    plot->legend->setTextColor(Qt::white);
    plot->legend->setBrush(QBrush(QColor(10, 10, 10)));
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
}

WindowRockingCurve::~WindowRockingCurve() = default;

void WindowRockingCurve::setWaitFunction(WaitFunction wait)
{
    if (wait)
        m_wait = std::move(wait);
}

double WindowRockingCurve::pidOffset(bool x) const
{
    return theConfig ? theConfig->pidLoop(x ? zevo::kPidX : zevo::kPidY).offset : 0.0;
}

void WindowRockingCurve::minMaxChanged()
{
    ui->graph->xAxis->setRange(ui->boxStart->value(), ui->boxStop->value());
    ui->graph->replot();
}

void WindowRockingCurve::clearGraph()
{
    for (int k = 0; k < 3; ++k)
        ui->graph->graph(k)->data()->clear();
    ui->graph->replot();
}

void WindowRockingCurve::done(int result)
{
    // OK, Cancel, Escape and the title bar's close button all end here: a
    // running scan stops after its present point.
    m_stopRequested = true;
    QDialog::done(result);
}

void WindowRockingCurve::closeEvent(QCloseEvent* event)
{
    // A hidden window is closed without passing through done().
    m_stopRequested = true;
    QDialog::closeEvent(event);
}

void WindowRockingCurve::startMeasurement()
{
    // A press of Start while the points of a scan let events through would
    // otherwise start a second scan inside the first.
    if (m_scanning)
        return;
    m_scanning = true;
    m_stopRequested = false;
    ui->buttonStart->setEnabled(false);
    m_saveButton->setEnabled(false);

    QPointer<WindowRockingCurve> self(this);
    const Report report = runScan();
    // The outputs are back with the controller and the nodes closed by now;
    // the window itself may have been deleted while the scan let events through.
    if (self) {
        m_scanning = false;
        ui->buttonStart->setEnabled(true);
        m_curve.ended = QDateTime::currentDateTime();
        m_saveButton->setEnabled(!m_curve.volts.empty());
    }
    if (report.kind == Report::Critical)
        QMessageBox::critical(nullptr, report.title, report.text);
    else if (report.kind == Report::Warning)
        QMessageBox::warning(nullptr, report.title, report.text);
}

WindowRockingCurve::Report WindowRockingCurve::runScan()
{
    clearGraph();
    m_curve = RockingCurve();
    ui->progressBar->setValue(0);

    const bool scanX = ui->chSel->currentIndex() == 0;

    // Everything the scan needs from the configuration is checked before the
    // controller is touched: an output or channel number outside 0 to 3
    // would index past the output set or the current record.
    int dacX = 0, dacY = 1, dacI0 = 2;
    int top = 0, right = 0, bottom = 0, left = 0;
    if (theConfig) {
        theConfig->getBeamlineDacs(&dacX, &dacY, &dacI0);
        theConfig->getBpmChannels(&top, &right, &bottom, &left, 0);
    }
    const int scanOutput = scanX ? dacX : dacY;
    const int heldOutput = scanX ? dacY : dacX;
    if (!HostOutputs::isOutput(dacX))
        return {Report::Warning, kTitle,
                HostOutputs::badAssignmentText(ConfigStore::beamlineDacKey(0), dacX)};
    if (!HostOutputs::isOutput(dacY))
        return {Report::Warning, kTitle,
                HostOutputs::badAssignmentText(ConfigStore::beamlineDacKey(1), dacY)};
    // Electrodes 0 top, 1 right, 2 bottom, 3 left.
    const int first = scanX ? left : top;
    const int second = scanX ? right : bottom;
    if (!isChannel(first))
        return {Report::Warning, kTitle,
                badChannelText(ConfigStore::bpmChannelKey(0, scanX ? 3 : 0), first)};
    if (!isChannel(second))
        return {Report::Warning, kTitle,
                badChannelText(ConfigStore::bpmChannelKey(0, scanX ? 1 : 2), second)};
    const double held = pidOffset(!scanX);

    // Declared before anything is taken from the controller, so that every
    // way out of this function below hands the outputs back.
    HostOutputs outputs(HostOutputs::DacAndPicoammeter);
    if (!outputs.open())
        return {Report::Critical, QStringLiteral("Cannot open file"), outputs.error()};
    if (theMailbox)
        theMailbox->setFeedbackEnabled(false);
    // Without the outputs every point would show the controller's outputs,
    // not the scan's: a flat curve that looks like a measurement.
    if (outputs.takeOutputs() < 0)
        return {Report::Warning, kTitle,
                QStringLiteral("The controller could not be asked to hand the DAC outputs over "
                               "(the mailbox request failed); the scan was not started.")};

    nameGraphs(scanX, first, second);
    m_curve.scanX = scanX;
    m_curve.firstChannel = first;
    m_curve.secondChannel = second;
    m_curve.start = ui->boxStart->value();
    m_curve.stop = ui->boxStop->value();
    m_curve.points = ui->boxN->value();
    m_curve.pointTimeMs = ui->boxTimePoint->value();
    m_curve.scanOutput = scanOutput;
    m_curve.heldOutput = heldOutput;
    m_curve.heldVolts = held;
    m_curve.started = QDateTime::currentDateTime();
    m_curve.settings = nexus::currentSettings(QHostInfo::localHostName(), zevo::programVersion());

    // The outputs come from wherever the controller held them: the first
    // point's output set goes out once ahead of the scan, and the beam gets
    // kSettleUs to follow before anything is read. Otherwise the first point
    // shows the beam where it was, not at the scan's first voltage.
    if (ui->boxN->value() > 0) {
        const double volts =
            rocking::pointVolts(ui->boxStart->value(), ui->boxStop->value(), 0, ui->boxN->value());
        if (outputs.setOutputs(rocking::outputSet(scanOutput, volts, heldOutput, held)) >= 0)
            m_wait(kSettleUs);
    }

    QPointer<WindowRockingCurve> self(this);
    QCustomPlot* plot = ui->graph;
    QElapsedTimer sinceRedraw;
    Report report;
    // N, start and stop are read again at every point: the operator may
    // change them while the scan runs.
    for (int i = 0; i < ui->boxN->value(); ++i) {
        const int n = ui->boxN->value();
        const double volts = rocking::pointVolts(ui->boxStart->value(), ui->boxStop->value(), i, n);
        if (outputs.setOutputs(rocking::outputSet(scanOutput, volts, heldOutput, held)) < 0) {
            report = {Report::Warning, kTitle,
                      stoppedText(i, n,
                                  QStringLiteral("the DAC module refused the output set (%1)")
                                      .arg(QString::fromLatin1(zevo::kDacNode)))};
            break;
        }

        const auto tPoint = static_cast<unsigned long>(ui->boxTimePoint->value() * 1000.0);
        m_wait(tPoint);

        // A point whose currents could not be read is not plotted: the record
        // holds no currents of its own.
        zevo::PicoCurrentsRecord currents{};
        if (outputs.readCurrents(currents) < 0) {
            report = {Report::Warning, kTitle,
                      stoppedText(i, n,
                                  QStringLiteral("the currents of the first picoammeter "
                                                 "could not be read (%1)")
                                      .arg(QString::fromLatin1(zevo::kPico0Node)))};
            break;
        }
        const double a = zevo::channelCurrent(currents, first);
        const double b = zevo::channelCurrent(currents, second);

        plot->graph(0)->addData(volts, a);
        plot->graph(1)->addData(volts, b);
        plot->graph(2)->addData(volts, a + b);
        m_curve.volts.push_back(volts);
        m_curve.first.push_back(a);
        m_curve.second.push_back(b);
        plot->rescaleAxes();
        // Drawn at most every kRedrawMs: a redraw per point would stretch the
        // time between points far beyond Tpoint on long scans, and the eye
        // sees no more than this anyway. The last points are drawn below.
        if (!sinceRedraw.isValid() || sinceRedraw.elapsed() >= kRedrawMs) {
            plot->replot();
            sinceRedraw.start();
        }
        ui->progressBar->setValue(rocking::percentDone(i, n));

        m_wait(tPoint);
        QCoreApplication::processEvents();
        // The events may have closed the window, or deleted it: then nothing
        // of it may be touched any more.
        if (!self)
            return {};
        if (m_stopRequested)
            break;
    }
    plot->replot();
    return report;
}

void WindowRockingCurve::nameGraphs(bool scanX, int firstChannel, int secondChannel)
{
    QCustomPlot* plot = ui->graph;
    // The files name the curves as the legend does.
    const QStringList names = rockingcurvefile::curveNames(scanX, firstChannel, secondChannel);
    for (int k = 0; k < 3; ++k)
        plot->graph(k)->setName(names[k]);
    plot->graph(0)->setPen(
        QPen(channelColour(firstChannel), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    plot->graph(1)->setPen(
        QPen(channelColour(secondChannel), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
}

void WindowRockingCurve::saveResult()
{
    const QString proposed =
        QStringLiteral("ZEVO_rock_") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")) +
        QStringLiteral(".nxs");
    QPointer<WindowRockingCurve> alive(this);
    const QString path =
        savefiledialog::ask(this, QStringLiteral("Save rocking curve"), proposed,
                            {NexusFile::kFileFilter, QStringLiteral("CSV files (*.csv)")});
    if (alive && !path.isEmpty())
        writeResultFile(path);
}

bool WindowRockingCurve::writeResultFile(const QString& path)
{
    QString error;
    const bool written =
        NexusFile::isNexusPath(path)
            ? rockingcurvefile::writeNexus(path, m_curve, &error)
            : rockingcurvefile::writeCsv(path, m_curve, QDateTime::currentDateTime(),
                                         QHostInfo::localHostName(), &error);
    if (!written)
        QMessageBox::warning(nullptr, kTitle, error);
    return written;
}
