#include "measure/windowbeamstability.h"
#include "ui_windowbeamstability.h"

#include "acquisition/updater.h"
#include "control/dialoglogin.h"
#include "device/configstore.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"
#include "device/userlevel.h"
#include "device/version.h"
#include "export/nexusfile.h"
#include "measure/savefiledialog.h"
#include "plots/plotredraw.h"
#include "plots/plotstyle.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QHostInfo>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QStandardItemModel>

#include <qcustomplot.h>

#include <cmath>

namespace
{
const QString kTitle = QStringLiteral("Beam Stability");
const QColor kColour[2] = {QColor(30, 90, 200), QColor(200, 40, 40)};
const QColor kIntegratedColour[2] = {QColor(0, 30, 110), QColor(120, 0, 0)};
const QColor kReferenceColour[2] = {QColor(140, 170, 230), QColor(235, 150, 150)};
const QBrush kOverLimit(QColor(255, 200, 200));
const char* const kAxisName[2] = {"X", "Y"};
const QString kNone = QStringLiteral("\u2014");
constexpr double kLegendRoomDecades = 100.0;
constexpr double kDisplayCycleSeconds = 1.0;
constexpr double kLegendRoomLinear = 1.4;

enum BandColumn { ColBand, ColX, ColY, ColI0, ColRatioX, ColRatioY, BandColumns };

QString micrometres(double value)
{
    return QString::number(value, 'g', 3) + QStringLiteral(" µm");
}

QString hertz(double value)
{
    return QString::number(value, 'g', 4);
}

// Intensity samples relative to their mean; empty without a positive mean.
std::vector<double> relative(const zevo::DisplayRecord* records, int n, int field)
{
    std::vector<double> values(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        values[std::size_t(i)] = records[i].value[field];
    double mean = 0.0;
    for (double v : values)
        mean += v / double(values.size());
    if (!(mean > 0) || !std::isfinite(mean))
        return {};
    for (double& v : values)
        v /= mean;
    return values;
}

void setCell(QTableWidget* table, int row, int column, const QString& text,
             const QBrush& background = QBrush())
{
    QTableWidgetItem* item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table->setItem(row, column, item);
    }
    if (item->text() != text)
        item->setText(text);
    if (item->background() != background)
        item->setBackground(background);
}
} // namespace

WindowBeamStability::WindowBeamStability(QWidget* parent)
    : QDialog(parent), ui(new Ui::WindowBeamStability)
{
    ui->setupUi(this);
    setupPlot();
    setupTables();

    connect(ui->bpmComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &WindowBeamStability::refresh);
    connect(ui->holdReferenceButton, &QPushButton::clicked, this,
            &WindowBeamStability::holdReference);
    connect(ui->clearReferenceButton, &QPushButton::clicked, this,
            &WindowBeamStability::clearReference);
    connect(ui->saveButton, &QPushButton::clicked, this, &WindowBeamStability::save);
    connect(ui->applySettingsButton, &QPushButton::clicked, this,
            &WindowBeamStability::applySettings);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ui->holdReferenceButton->setEnabled(false);
    ui->clearReferenceButton->setEnabled(false);
    ui->saveButton->setEnabled(false);

    if (theUpdater)
        connect(theUpdater, &Updater::replotGraphs, this, &WindowBeamStability::displayCycle);
    if (theLogin)
        connect(theLogin, &DialogLogin::userLevelChanged, this,
                &WindowBeamStability::checkUserLevel);
    loadSettings();
    checkUserLevel();
}

WindowBeamStability::~WindowBeamStability() = default;

void WindowBeamStability::setupPlot()
{
    QCustomPlot* plot = ui->psdPlot;
    plot->xAxis->setLabel(QStringLiteral("frequency (Hz)"));
    plot->yAxis->setLabel(QStringLiteral("PSD (µm²/Hz)"));
    plot->yAxis2->setLabel(QStringLiteral("integrated RMS (µm)"));
    plot->yAxis2->setVisible(true);
    for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) {
        axis->setScaleType(QCPAxis::stLogarithmic);
        axis->setTicker(QSharedPointer<QCPAxisTickerLog>::create());
        axis->setNumberFormat(QStringLiteral("eb"));
        axis->setNumberPrecision(0);
    }
    plot->xAxis->grid()->setSubGridVisible(true);
    // Drawn from the back: the reference under the live spectra, the
    // integrated RMS on top.
    for (int a = 0; a < 2; ++a) {
        m_referencePsd[a] = plot->addGraph();
        m_referencePsd[a]->setPen(plotstyle::seriesPen(kReferenceColour[a]));
        m_referencePsd[a]->setName(QStringLiteral("%1 reference").arg(kAxisName[a]));
    }
    for (int a = 0; a < 2; ++a) {
        m_psd[a] = plot->addGraph();
        m_psd[a]->setPen(plotstyle::seriesPen(kColour[a]));
        m_psd[a]->setName(QStringLiteral("PSD %1").arg(kAxisName[a]));
    }
    for (int a = 0; a < 2; ++a) {
        m_integrated[a] = plot->addGraph(plot->xAxis, plot->yAxis2);
        m_integrated[a]->setPen(plotstyle::seriesPen(kIntegratedColour[a]));
        m_integrated[a]->setName(QStringLiteral("integrated RMS %1").arg(kAxisName[a]));
    }
    // Two columns (X, Y) in the room the axes leave above the curves.
    plot->legend->setVisible(true);
    plot->legend->setBrush(QBrush(QColor(255, 255, 255, 200)));
    plot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    plot->legend->setWrap(2);
    plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // Thin pens without antialiasing: the chart redraws every second.
    plot->setNotAntialiasedElements(QCP::aePlottables);
    plotstyle::drawLinesFor(plot, 1.0);
    if (QCPLayer* overlay = plot->layer(QStringLiteral("overlay")))
        overlay->setMode(QCPLayer::lmLogical);
    m_redraw = new PlotRedraw(plot, [this] { showPlot(); });
}

void WindowBeamStability::setupTables()
{
    QTableWidget* bands = ui->bandTable;
    bands->setColumnCount(BandColumns);
    bands->setHorizontalHeaderLabels({QStringLiteral("Band (Hz)"), QStringLiteral("X"),
                                      QStringLiteral("Y"), QStringLiteral("I0"),
                                      QStringLiteral("X / ref"), QStringLiteral("Y / ref")});
    bands->verticalHeader()->hide();
    bands->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    bands->horizontalHeader()->setStretchLastSection(true);

    QTableWidget* lines = ui->linesTable;
    lines->setColumnCount(3);
    lines->setHorizontalHeaderLabels(
        {QStringLiteral("Signal"), QStringLiteral("Frequency (Hz)"), QStringLiteral("RMS")});
    lines->verticalHeader()->hide();
    lines->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
}

void WindowBeamStability::showWindow()
{
    loadSettings();
    checkUserLevel();
    show();
    raise();
    activateWindow();
    refresh();
}

void WindowBeamStability::checkUserLevel()
{
    ui->settingsGroupBox->setEnabled(userLevel == zevo::LevelAdmin);
}

void WindowBeamStability::loadSettings()
{
    if (theConfig)
        m_settings = theConfig->getStability();
    ui->beamSizeXSpinBox->setValue(m_settings.beamSizeX);
    ui->beamSizeYSpinBox->setValue(m_settings.beamSizeY);
    ui->limitSpinBox->setValue(m_settings.limitPercent);
    ui->bandsLineEdit->setText(StabilitySettings::formatBandEdges(m_settings.bandEdges));
}

void WindowBeamStability::applySettings()
{
    if (userLevel != zevo::LevelAdmin)
        return;
    StabilitySettings edited = m_settings;
    if (!StabilitySettings::parseBandEdges(ui->bandsLineEdit->text(), &edited.bandEdges)) {
        QMessageBox::warning(nullptr, kTitle,
                             QStringLiteral("The band edges must be one to %1 positive numbers "
                                            "in ascending order, separated by commas "
                                            "(for example 0.1, 1, 10, 100).")
                                 .arg(StabilitySettings::kMaxBands));
        return;
    }
    edited.beamSizeX = ui->beamSizeXSpinBox->value();
    edited.beamSizeY = ui->beamSizeYSpinBox->value();
    edited.limitPercent = ui->limitSpinBox->value();
    if (theConfig && !theConfig->setStability(edited)) {
        QMessageBox::warning(nullptr, kTitle,
                             QStringLiteral("The settings could not be saved in %1; they apply "
                                            "until the program ends.")
                                 .arg(theConfig->filePath()));
    }
    m_settings = edited;
    ui->bandsLineEdit->setText(StabilitySettings::formatBandEdges(m_settings.bandEdges));
    refresh();
}

void WindowBeamStability::refresh()
{
    if (!isVisible())
        return;
    m_cyclesSinceRefresh = 0;
    offerPresentBpms();
    analyse();
    showBands();
    showLines();
    m_redraw->request();
}

// BPM 2 is there only with a second picoammeter: without one its records
// hold zeros, which would read as a perfectly still beam.
void WindowBeamStability::offerPresentBpms()
{
    const bool second =
        !theMailbox || (theMailbox->deviceCount() == 2 && !theMailbox->pavunPresent());
    auto* model = qobject_cast<QStandardItemModel*>(ui->bpmComboBox->model());
    if (QStandardItem* item = model ? model->item(1) : nullptr)
        item->setEnabled(second);
    if (!second && ui->bpmComboBox->currentIndex() == 1) {
        const QSignalBlocker quiet(ui->bpmComboBox);
        ui->bpmComboBox->setCurrentIndex(0);
    }
}

void WindowBeamStability::displayCycle()
{
    if (!isVisible())
        return;
    // Consecutive segments of the estimate start half a segment apart: a
    // buffer with fewer new records than that changes the figures little,
    // and redrawing the whole window for it every second would cost the
    // display cycle more than the spectrum dock does.
    ++m_cyclesSinceRefresh;
    const int segment = m_live.x.valid() ? m_live.x.segmentLength : 0;
    if (double(m_cyclesSinceRefresh) * SAMP_FREQ * kDisplayCycleSeconds >= segment / 2)
        refresh();
}

void WindowBeamStability::analyse()
{
    const int n = theUpdater ? theUpdater->recordCount() : 0;
    const int bpm = ui->bpmComboBox->currentIndex() == 1 ? 1 : 0;
    const double rate = SAMP_FREQ;
    StabilityRecord r;
    r.bpm = bpm;
    r.taken = QDateTime::currentDateTime();
    r.bandEdges = m_settings.bandEdges;
    r.beamSizeX = m_settings.beamSizeX;
    r.beamSizeY = m_settings.beamSizeY;
    r.limitPercent = m_settings.limitPercent;
    if (n > 0) {
        const zevo::DisplayRecord* records = theUpdater->records();
        r.x = stability::welchOfField(records, n, zevo::disp::bpmX(bpm), bpmScale.x(bpm), rate,
                                      m_fft);
        r.y = stability::welchOfField(records, n, zevo::disp::bpmY(bpm), bpmScale.y(bpm), rate,
                                      m_fft);
        const std::vector<double> i0 = relative(records, n, zevo::disp::bpmI0(bpm));
        r.i0 = stability::welch(i0.data(), int(i0.size()), rate, m_fft);
    }
    r.bandsX = stability::bandRms(r.x, r.bandEdges);
    r.bandsY = stability::bandRms(r.y, r.bandEdges);
    r.bandsI0 = stability::bandRms(r.i0, r.bandEdges);
    r.linesX = stability::strongestLines(r.x);
    r.linesY = stability::strongestLines(r.y);
    if (referenceComparable()) {
        r.referenceX = m_reference.x;
        r.referenceY = m_reference.y;
        r.referenceBandsX = stability::bandRms(m_reference.x, r.bandEdges);
        r.referenceBandsY = stability::bandRms(m_reference.y, r.bandEdges);
    }
    m_live = std::move(r);

    const stability::Spectrum& s = m_live.x;
    ui->resolutionLabel->setText(s.valid() ? QStringLiteral("%1 segments of %2 records, %3 Hz bins")
                                                 .arg(s.segments)
                                                 .arg(s.segmentLength)
                                                 .arg(QString::number(s.binWidth, 'g', 3))
                                           : QStringLiteral("No display data to analyse"));
    ui->holdReferenceButton->setEnabled(m_live.x.valid() && m_live.y.valid());
    ui->saveButton->setEnabled(m_live.x.valid() && m_live.y.valid());
}

bool WindowBeamStability::referenceComparable() const
{
    return referenceHeld() && m_reference.bpm == (ui->bpmComboBox->currentIndex() == 1 ? 1 : 0);
}

void WindowBeamStability::holdReference()
{
    if (!m_live.x.valid() || !m_live.y.valid())
        return;
    m_reference = m_live;
    m_reference.referenceX = {};
    m_reference.referenceY = {};
    ui->clearReferenceButton->setEnabled(true);
    ui->holdReferenceButton->setText(QStringLiteral("Hold again"));
    refresh();
}

void WindowBeamStability::clearReference()
{
    m_reference = {};
    ui->clearReferenceButton->setEnabled(false);
    ui->holdReferenceButton->setText(QStringLiteral("Hold as reference"));
    refresh();
}

void WindowBeamStability::showPlot()
{
    // A logarithmic frequency axis has no place for 0 Hz, a logarithmic
    // density none for 0.
    auto fill = [](QCPGraph* graph, const stability::Spectrum& s, const std::vector<double>& values,
                   bool logarithmic) {
        QVector<QCPGraphData> points;
        points.reserve(int(values.size()));
        for (std::size_t k = 1; k < values.size() && k < s.frequency.size(); ++k) {
            const double v = values[k];
            points.append(QCPGraphData(s.frequency[k], logarithmic && !(v > 0) ? qQNaN() : v));
        }
        graph->data()->set(points, true);
    };
    const stability::Spectrum* live[2] = {&m_live.x, &m_live.y};
    const stability::Spectrum* reference[2] = {&m_live.referenceX, &m_live.referenceY};
    for (int a = 0; a < 2; ++a) {
        fill(m_psd[a], *live[a], live[a]->density, true);
        fill(m_integrated[a], *live[a], live[a]->cumulativeRms, false);
        fill(m_referencePsd[a], *reference[a], reference[a]->density, true);
        m_referencePsd[a]->setVisible(reference[a]->valid());
        m_referencePsd[a]->removeFromLegend();
        if (reference[a]->valid())
            m_referencePsd[a]->addToLegend();
    }
    QCustomPlot* plot = ui->psdPlot;
    plot->xAxis->rescale();
    plot->yAxis->rescale();
    plot->yAxis2->rescale();
    // Headroom for the legend above the curves.
    plot->yAxis->setRangeUpper(plot->yAxis->range().upper * kLegendRoomDecades);
    plot->yAxis2->setRange(0.0, plot->yAxis2->range().upper * kLegendRoomLinear);
}

void WindowBeamStability::showBands()
{
    QTableWidget* table = ui->bandTable;
    const StabilityRecord& r = m_live;
    const int bands = int(r.bandEdges.size());
    table->setRowCount(bands + 1);
    const double nyquist = r.x.valid() ? r.x.nyquist() : SAMP_FREQ / 2.0;
    const double limit = m_settings.limitPercent / 100.0;
    const bool ratios = r.referenceX.valid();

    // Position cell: micrometres, and the share of the beam size when one is
    // set; marked over the limit.
    auto position = [&](int row, int column, double rms, double size) {
        if (!r.x.valid())
            return setCell(table, row, column, kNone);
        QString text = micrometres(rms);
        QBrush mark;
        if (size > 0) {
            text += QStringLiteral(" (%1 %)").arg(QString::number(100.0 * rms / size, 'f', 1));
            if (rms > limit * size)
                mark = kOverLimit;
        }
        setCell(table, row, column, text, mark);
    };
    auto ratio = [&](int row, int column, double live, double reference) {
        setCell(table, row, column,
                ratios && reference > 0 ? QString::number(live / reference, 'f', 3) : kNone);
    };
    for (int b = 0; b <= bands; ++b) {
        const bool total = b == bands;
        const std::size_t i = std::size_t(b);
        const double high = b + 1 < bands ? r.bandEdges[i + 1] : nyquist;
        setCell(table, b, ColBand,
                total ? QStringLiteral("Total")
                      : QStringLiteral("%1 \u2013 %2").arg(hertz(r.bandEdges[i]), hertz(high)));
        const double x = total ? r.x.totalRms() : r.bandsX.at(i);
        const double y = total ? r.y.totalRms() : r.bandsY.at(i);
        position(b, ColX, x, m_settings.beamSizeX);
        position(b, ColY, y, m_settings.beamSizeY);
        const double i0 = total ? r.i0.totalRms() : r.bandsI0.at(i);
        setCell(table, b, ColI0,
                r.i0.valid() ? QString::number(100.0 * i0, 'g', 3) + QStringLiteral(" %") : kNone);
        const double refX =
            total ? r.referenceX.totalRms() : (ratios ? r.referenceBandsX.at(i) : 0.0);
        const double refY =
            total ? r.referenceY.totalRms() : (ratios ? r.referenceBandsY.at(i) : 0.0);
        ratio(b, ColRatioX, x, refX);
        ratio(b, ColRatioY, y, refY);
    }
    table->setColumnHidden(ColRatioX, !ratios);
    table->setColumnHidden(ColRatioY, !ratios);
}

void WindowBeamStability::showLines()
{
    QTableWidget* table = ui->linesTable;
    const std::vector<stability::Line>* lines[2] = {&m_live.linesX, &m_live.linesY};
    table->setRowCount(int(lines[0]->size() + lines[1]->size()));
    int row = 0;
    for (int a = 0; a < 2; ++a) {
        for (const stability::Line& line : *lines[a]) {
            setCell(table, row, 0, QLatin1String(kAxisName[a]));
            setCell(table, row, 1, QString::number(line.frequency, 'f', 2));
            setCell(table, row, 2, micrometres(line.rms));
            ++row;
        }
    }
}

void WindowBeamStability::save()
{
    const QString proposed =
        QStringLiteral("ZEVO_stability_") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")) +
        QStringLiteral(".nxs");
    const QString path =
        savefiledialog::ask(this, QStringLiteral("Save beam stability"), proposed,
                            {NexusFile::kFileFilter, QStringLiteral("CSV files (*.csv)")});
    if (!path.isEmpty())
        writeFile(path);
}

bool WindowBeamStability::writeFile(const QString& path)
{
    if (!m_live.x.valid() || !m_live.y.valid())
        return false;
    StabilityRecord record = m_live;
    record.settings = nexus::currentSettings(QHostInfo::localHostName(), zevo::programVersion());
    QString error;
    const bool written = NexusFile::isNexusPath(path)
                             ? stabilityfile::writeNexus(path, record, &error)
                             : stabilityfile::writeCsv(path, record, QDateTime::currentDateTime(),
                                                       QHostInfo::localHostName(), &error);
    if (!written)
        QMessageBox::warning(nullptr, kTitle, error);
    return written;
}
