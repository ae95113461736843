#include "plots/widgetgraphfft.h"

#include "device/globals.h"
#include "device/protocol.h"
#include "plots/plotredraw.h"
#include "plots/plotstyle.h"

#include "ui_widgetgraphfft.h"

#include <qcustomplot.h>

namespace
{

struct SignalChoice {
    const char* text;
    int field; // display record value
    QColor colour;
};

const SignalChoice kSignals[] = {
    {"Dorvish 1, Ch 1", zevo::disp::Pico1Ch1, QColor(221, 221, 0)},
    {"Dorvish 1, Ch 2", zevo::disp::Pico1Ch1 + 1, QColor(255, 0, 94)},
    {"Dorvish 1, Ch 3", zevo::disp::Pico1Ch1 + 2, QColor(0, 255, 77)},
    {"Dorvish 1, Ch 4", zevo::disp::Pico1Ch1 + 3, QColor(0, 213, 255)},
    {"BPM1, PosX", zevo::disp::Bpm1X, QColor(204, 0, 204)},
    {"BPM1, PosY", zevo::disp::Bpm1Y, QColor(0, 204, 204)},
    {"BPM1, I0", zevo::disp::Bpm1I0, QColor(240, 240, 240)},
};
const SignalChoice kUnknownSignal = {"", zevo::disp::Bpm1X, QColor(255, 255, 255)};

const QColor kInitialPen(250, 250, 135, 240);
constexpr double kPenWidth = 2;
// A logarithmic axis cannot start at 0; this is where 0 .. 1000 begins.
const QCPRange kInitialYRange(1e-3, 1000);
const QCPRange kInitialXRange(10, 1000);
constexpr int kLogSubTicks = 8;

bool isLog(const QCPAxis* axis)
{
    return axis->scaleType() == QCPAxis::stLogarithmic;
}

} // namespace

WidgetGraphFFT::WidgetGraphFFT(QWidget* parent)
    : QWidget(parent), ui(new Ui::WidgetGraphFFT), m_series(new QCPGraphDataContainer)
{
    ui->setupUi(this);
    QCustomPlot* plot = ui->graph;
    plotstyle::applyDarkStyle(plot);

    m_spectrum = plot->addGraph();
    m_spectrum->setPen(plotstyle::seriesPen(kInitialPen, kPenWidth));
    plotstyle::drawLinesFor(plot, kPenWidth);
    m_redraw = new PlotRedraw(plot, [this] { showSpectrum(); });

    plot->xAxis->grid()->setSubGridVisible(true);
    setScale(plot->xAxis, true);
    setScale(plot->yAxis, true);
    plot->xAxis->setRange(kInitialXRange);
    plot->yAxis->setRange(kInitialYRange);

    fftSelectorChanged(ui->selectorComboBox->currentText());
    fftLengthChanged(ui->fFTLengthComboBox->currentText());

    connect(ui->xAxisComboBox, &QComboBox::currentTextChanged, this, &WidgetGraphFFT::xAxesChanged);
    connect(ui->yAxisComboBox, &QComboBox::currentTextChanged, this, &WidgetGraphFFT::yAxesChanged);
    connect(ui->fFTLengthComboBox, &QComboBox::currentTextChanged, this,
            &WidgetGraphFFT::fftLengthChanged);
    connect(ui->selectorComboBox, &QComboBox::currentTextChanged, this,
            &WidgetGraphFFT::fftSelectorChanged);
    if (theUpdater)
        connect(ui->removeDCCheckBox, &QCheckBox::toggled, theUpdater, &Updater::ChangeFFTremoveDC);
}

WidgetGraphFFT::~WidgetGraphFFT() = default;

SeriesPtr WidgetGraphFFT::graphData()
{
    return m_series;
}

void WidgetGraphFFT::replot()
{
    m_redraw->request();
}

void WidgetGraphFFT::showSpectrum()
{
    QCustomPlot* plot = ui->graph;
    const bool logKeys = isLog(plot->xAxis);
    const bool logValues = isLog(plot->yAxis);

    // Points at or below 0 would be drawn far outside a logarithmic axis:
    // the 0 Hz bin is left out, non-positive amplitudes become gaps.
    QVector<QCPGraphData> shown;
    shown.reserve(m_series->size());
    for (const QCPGraphData& point : *m_series) {
        if (logKeys && !(point.key > 0))
            continue;
        shown.append(
            QCPGraphData(point.key, logValues && !(point.value > 0) ? qQNaN() : point.value));
    }
    m_spectrum->data()->set(shown, true);

    plot->yAxis->rescale();
    plot->xAxis->rescale();
}

void WidgetGraphFFT::xAxesChanged(const QString& text)
{
    setScale(ui->graph->xAxis, text == QLatin1String("Log"));
    replot();
}

void WidgetGraphFFT::yAxesChanged(const QString& text)
{
    setScale(ui->graph->yAxis, text == QLatin1String("Log"));
    replot();
}

void WidgetGraphFFT::fftLengthChanged(const QString& text)
{
    bool ok = false;
    const uint length = text.toUInt(&ok);
    if (theUpdater && ok && length > 0)
        theUpdater->fftLength = int(length);
}

void WidgetGraphFFT::fftSelectorChanged(const QString& selector)
{
    const SignalChoice* choice = &kUnknownSignal;
    for (const SignalChoice& s : kSignals) {
        if (selector == QLatin1String(s.text))
            choice = &s;
    }
    if (theUpdater)
        theUpdater->setFFTselector(choice->field);
    m_spectrum->setPen(plotstyle::seriesPen(choice->colour, kPenWidth));
}

void WidgetGraphFFT::setScale(QCPAxis* axis, bool logarithmic)
{
    if (logarithmic) {
        // Set the type first: it also moves a range that touches 0 into the
        // positive domain.
        axis->setScaleType(QCPAxis::stLogarithmic);
        auto ticker = QSharedPointer<QCPAxisTickerLog>::create();
        ticker->setSubTickCount(kLogSubTicks);
        axis->setTicker(ticker);
    } else {
        axis->setScaleType(QCPAxis::stLinear);
        axis->setTicker(QSharedPointer<QCPAxisTicker>::create());
    }
}
