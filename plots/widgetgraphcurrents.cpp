#include "plots/widgetgraphcurrents.h"

#include "device/globals.h"
#include "device/protocol.h"
#include "plots/plotredraw.h"
#include "plots/plotstyle.h"

#include "ui_widgetgraphcurrents.h"

#include <qcustomplot.h>

#include <algorithm>

namespace
{

const QColor kSeriesColours[] = {
    QColor(255, 255, 135),
    QColor(255, 130, 255),
    QColor(130, 255, 130),
    QColor(130, 210, 250),
};
constexpr int kMinSeries = 2;
constexpr int kMaxSeries = 4;
constexpr double kInitialYLimit = 5e-5;
constexpr int kDefaultFrequency = 1000;

// Whole seconds that the display buffer spans. Falls back to the default
// display frequency when none is set, and to fractions of a second when the
// buffer spans less than one.
double initialTimeSpan()
{
    const int records = BUFFER_BYTES / zevo::kDisplayRecordBytes;
    const int frequency = SAMP_FREQ > 0 ? SAMP_FREQ : kDefaultFrequency;
    const int seconds = records / frequency;
    return seconds > 0 ? seconds : double(records) / frequency;
}

} // namespace

WidgetGraphCurrents::WidgetGraphCurrents(QWidget* parent, int series)
    : QWidget(parent), ui(new Ui::WidgetGraphCurrents)
{
    ui->setupUi(this);
    const int count = std::clamp(series, kMinSeries, kMaxSeries);
    ui->CheckCh3->setVisible(count > 2);
    ui->CheckCh4->setVisible(count > 3);

    QCustomPlot* plot = ui->graph;
    plotstyle::applyDarkStyle(plot);
    m_redraw = new PlotRedraw(plot, [this] { autoscale(); });
    for (int i = 0; i < count; ++i) {
        QCPGraph* graph = plot->addGraph(plot->xAxis, plot->yAxis);
        graph->setPen(plotstyle::seriesPen(kSeriesColours[i]));
        SeriesPtr data(new QCPGraphDataContainer);
        graph->setData(data);
        m_graphs.append(graph);
        m_series.append(data);
    }
    plot->legend->setVisible(true);
    plot->yAxis->setNumberFormat(QStringLiteral("e"));
    plot->yAxis->setNumberPrecision(5);
    plot->yAxis->setRange(-kInitialYLimit, kInitialYLimit);
    plot->xAxis->setRange(0, initialTimeSpan());
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectPlottables |
                          QCP::iSelectAxes | QCP::iSelectLegend);

    for (QCheckBox* box : {ui->CheckCh1, ui->CheckCh2, ui->CheckCh3, ui->CheckCh4})
        connect(box, &QCheckBox::toggled, this, &WidgetGraphCurrents::chEnablesChanged);
}

WidgetGraphCurrents::~WidgetGraphCurrents() = default;

SeriesPtr WidgetGraphCurrents::graphData(int index) const
{
    return index >= 0 && index < m_series.size() ? m_series[index] : SeriesPtr();
}

void WidgetGraphCurrents::setLabels(const QString& xLabel, const QString& yLabel,
                                    const QStringList& names)
{
    ui->graph->xAxis->setLabel(xLabel);
    ui->graph->yAxis->setLabel(yLabel);
    for (int i = 0; i < names.size() && i < m_graphs.size(); ++i)
        m_graphs[i]->setName(names[i]);
}

void WidgetGraphCurrents::setYNumberFormat(const QString& format, int precision)
{
    ui->graph->yAxis->setNumberFormat(format);
    ui->graph->yAxis->setNumberPrecision(precision);
}

void WidgetGraphCurrents::replot()
{
    m_redraw->request();
}

void WidgetGraphCurrents::autoscale()
{
    QCustomPlot* plot = ui->graph;
    if (ui->buttonAutoscale->isChecked()) {
        plot->yAxis->rescale(true);
        plot->xAxis->rescale(true);
    }
}

void WidgetGraphCurrents::chEnablesChanged()
{
    const QCheckBox* boxes[] = {ui->CheckCh1, ui->CheckCh2, ui->CheckCh3, ui->CheckCh4};
    for (int i = 0; i < m_graphs.size(); ++i)
        m_graphs[i]->setVisible(boxes[i]->isChecked());
}
