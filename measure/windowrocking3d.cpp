#include "measure/windowrocking3d.h"
#include "ui_windowrocking3d.h"

#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/version.h"
#include "export/gridcsv.h"
#include "export/gridnexus.h"
#include "export/nexusfile.h"
#include "measure/graph3d.h"
#include "measure/hostoutputs.h"
#include "measure/savefiledialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QHostInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

using surfacegrid::kPoints;
using surfacegrid::kSteps;

namespace
{
// Readings averaged per grid point.
constexpr int kReadsPerPoint = 10;
// Shortest time between two redraws of the view during a scan.
constexpr qint64 kPaintIntervalMs = 40;
const QString kTitle = QStringLiteral("3D Rocking Curve");
} // namespace

WindowRocking3D::WindowRocking3D(QWidget* parent) : QDialog(parent), ui(new Ui::WindowRocking3D)
{
    ui->setupUi(this);
    const QString playIcon = QStringLiteral("SP_Play");
    ui->goButton->setIcon(QIcon::hasThemeIcon(playIcon) ? QIcon::fromTheme(playIcon) : QIcon());

    // A QGLWidget without a context crashes, so the view is only created
    // where the display really gives one.
    QString why;
    if (Graph3D::openGLAvailable(&why)) {
        m_graph3D = new Graph3D(ui->viewArea);
        m_graph3D->setObjectName(QStringLiteral("graph3D"));
        ui->viewLayout->addWidget(m_graph3D);
    } else {
        auto* note = new QLabel(ui->viewArea);
        note->setObjectName(QStringLiteral("graph3DUnavailable"));
        note->setText(tr("The 3D view cannot be shown here.\n%1\n\n"
                         "Go, Stop and Save Data work without it.")
                          .arg(why));
        note->setAlignment(Qt::AlignCenter);
        note->setWordWrap(true);
        note->setMinimumSize(300, 200);
        note->setFrameShape(QFrame::StyledPanel);
        ui->viewLayout->addWidget(note);
    }

    connect(ui->goButton, &QPushButton::released, this, &WindowRocking3D::startMeasurement);
    connect(ui->stopButton, &QPushButton::released, this, &WindowRocking3D::stopMeasurement);
    connect(ui->saveButton, &QPushButton::released, this, &WindowRocking3D::saveData);
    connect(ui->buttonBox, &QDialogButtonBox::clicked, this, &WindowRocking3D::stopMeasurement);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &WindowRocking3D::reject);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &WindowRocking3D::accept);

    m_sleep = [](unsigned long microseconds) { QThread::usleep(microseconds); };

    // Until the first scan, a saved file carries the voltages the boxes show.
    m_xMin = ui->xMinBox->value();
    m_xSpan = ui->xMaxBox->value() - ui->xMinBox->value();
    m_yMin = ui->yMinBox->value();
    m_ySpan = ui->yMaxBox->value() - ui->yMinBox->value();

    showGrid();
}

WindowRocking3D::~WindowRocking3D() = default;

void WindowRocking3D::setSleeper(Sleeper sleeper)
{
    m_sleep = std::move(sleeper);
}

void WindowRocking3D::startMeasurement()
{
    // Go pressed again while a scan lets events through would start a
    // second scan inside the first.
    if (m_scanning)
        return;
    m_xMin = ui->xMinBox->value();
    m_xSpan = ui->xMaxBox->value() - ui->xMinBox->value();
    m_yMin = ui->yMinBox->value();
    m_ySpan = ui->yMaxBox->value() - ui->yMinBox->value();
    m_stepTimeMs = uint64_t(ui->timeBox->value());
    m_stop = false;
    measure();
}

void WindowRocking3D::measure()
{
    if (m_scanning)
        return;
    ScanEnd end;
    QString failure;
    {
        // Owns the nodes and the outputs for this scan: leaving this block,
        // by any path, hands the outputs back and closes the nodes.
        HostOutputs outputs(HostOutputs::DacAndPicoammeter);
        if (!outputs.open()) {
            QMessageBox::critical(nullptr, QStringLiteral("Cannot open file"), outputs.error());
            return;
        }
        m_raw.fill(0.0f);
        m_normalised.fill(0.0f);
        showGrid();

        if (theMailbox)
            theMailbox->setFeedbackEnabled(false);
        m_scanStarted = QDateTime::currentDateTime();
        m_scanEnded = QDateTime();
        // While the controller still drives the outputs, the output sets
        // would not reach the actuators and the grid would be meaningless.
        if (outputs.takeOutputs() < 0) {
            end = ScanEnd::Failed;
            failure = QStringLiteral("The controller did not hand the DAC outputs to the host "
                                     "(mailbox request failed).\n\nThe scan was not started.");
        } else {
            setScanning(true);
            end = runScan(outputs, failure);
            if (end != ScanEnd::WindowGone)
                m_scanEnded = QDateTime::currentDateTime();
            // The window was destroyed while events went through: nothing
            // of it may be touched any more.
            if (end == ScanEnd::WindowGone)
                return;
            showGrid(); // the last point, whenever the view was drawn before
        }
    }
    setScanning(false);
    if (end == ScanEnd::Failed)
        QMessageBox::warning(nullptr, kTitle, failure);
}

WindowRocking3D::ScanEnd WindowRocking3D::runScan(HostOutputs& outputs, QString& failure)
{
    const unsigned long stepUs = static_cast<unsigned long>(m_stepTimeMs * 1000);
    const unsigned long readUs = stepUs / kReadsPerPoint;
    const QPointer<WindowRocking3D> alive(this);

    const auto failed = [&failure](const QString& what, double x, double y) {
        failure = QStringLiteral("The scan stopped at X = %1 V, Y = %2 V: %3.\n\n"
                                 "The outputs were handed back to the controller; "
                                 "the grid holds the points measured so far.")
                      .arg(x)
                      .arg(y)
                      .arg(what);
        return ScanEnd::Failed;
    };

    for (int i = 0; i < kSteps; ++i) {
        for (int j = 0; j < kSteps; ++j) {
            const double x = surfacegrid::stepVolts(m_xMin, m_xSpan, i);
            const double y = surfacegrid::stepVolts(m_yMin, m_ySpan, j);
            // X on output 1, Y on output 2, the other two at 0 V.
            if (outputs.setOutputs({x, y, 0.0, 0.0}) < 0)
                return failed(QStringLiteral("the DAC module refused the output set (%1)")
                                  .arg(QString::fromLatin1(zevo::kDacNode)),
                              x, y);
            m_sleep(stepUs);

            float sum = 0.0f;
            for (int r = 0; r < kReadsPerPoint; ++r) {
                m_sleep(readUs);
                zevo::PicoCurrentsRecord currents{};
                if (outputs.readCurrents(currents) < 0)
                    return failed(QStringLiteral("the currents of the first picoammeter could "
                                                 "not be read (%1)")
                                      .arg(QString::fromLatin1(zevo::kPico0Node)),
                                  x, y);
                sum += float(currents.current[0] + currents.current[1] + currents.current[2] +
                             currents.current[3]);
            }
            m_raw[std::size_t(i * kSteps + j)] = sum / float(kReadsPerPoint);
            surfacegrid::normalise(m_raw.data(), m_normalised.data(), kPoints);
            showGrid(Repaint::Throttled);

            m_sleep(stepUs);
            QCoreApplication::processEvents();
            if (!alive)
                return ScanEnd::WindowGone;
            if (m_stop)
                return ScanEnd::Stopped;
        }
    }
    return ScanEnd::Finished;
}

void WindowRocking3D::stopMeasurement()
{
    m_stop = true;
}

void WindowRocking3D::saveData()
{
    const QString proposed =
        QStringLiteral("ZEVO_rock3D_") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")) +
        QStringLiteral(".csv");
    const QString path =
        savefiledialog::ask(this, QStringLiteral("DialogTitle"), proposed,
                            {QStringLiteral("CSV files (*.csv)"), NexusFile::kFileFilter});
    if (path.isEmpty())
        return;
    writeDataFile(path);
}

bool WindowRocking3D::writeDataFile(const QString& path)
{
    GridCsvScan scan;
    scan.raw = m_raw.data();
    scan.xMin = m_xMin;
    scan.xSpan = m_xSpan;
    scan.yMin = m_yMin;
    scan.ySpan = m_ySpan;
    QString error;
    const QDateTime now = QDateTime::currentDateTime();
    if (NexusFile::isNexusPath(path)) {
        // Before the first scan the file holds the zero grid, taken now.
        const nexus::Entry entry{kTitle, m_scanStarted.isValid() ? m_scanStarted : now,
                                 m_scanEnded.isValid() ? m_scanEnded : now};
        const nexus::Settings settings =
            nexus::currentSettings(QHostInfo::localHostName(), zevo::programVersion());
        if (writeGridNexus(path, scan, double(m_stepTimeMs), entry, settings, &error))
            return true;
        QMessageBox::warning(nullptr, kTitle, error);
        return false;
    }
    if (writeGridCsv(path, scan, now, QHostInfo::localHostName(), &error))
        return true;
    QMessageBox::warning(
        nullptr, kTitle,
        tr("The data could not be saved to\n%1\n\n%2").arg(QDir::toNativeSeparators(path), error));
    return false;
}

void WindowRocking3D::reject()
{
    // Close ends a running scan after its current point.
    m_stop = true;
    QDialog::reject();
}

void WindowRocking3D::closeEvent(QCloseEvent* event)
{
    m_stop = true;
    QDialog::closeEvent(event);
}

void WindowRocking3D::showGrid(Repaint when)
{
    if (!m_graph3D)
        return;
    m_graph3D->setData(m_normalised.data(), kSteps, kSteps);
    // Drawing the surface without a graphics card (software OpenGL) takes
    // longer than a short grid point: during a scan the view is redrawn at
    // most 25 times a second, and once more when the scan ends.
    if (when == Repaint::Throttled && m_lastPaint.isValid() &&
        !m_lastPaint.hasExpired(kPaintIntervalMs))
        return;
    m_graph3D->updateGL();
    m_lastPaint.start();
}

void WindowRocking3D::setScanning(bool scanning)
{
    m_scanning = scanning;
    ui->goButton->setEnabled(!scanning);
}
