#include "plots/widgetgraphpos.h"

#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "plots/plotredraw.h"
#include "plots/plotstyle.h"

#include "ui_widgetgraphpos.h"

#include <qcustomplot.h>

namespace
{

const QColor kHorColour(204, 0, 204);
const QColor kVertColour(0, 204, 204);
const QColor kIntensityColour(240, 240, 240);
constexpr double kInitialYLimit = 5e-5;
constexpr double kInitialPositionSpan = 14.8;
constexpr double kIntensitySpanRecords = 14800;

QCPGraph* addSeries(QCPAxis* keyAxis, QCPAxis* valueAxis, const QColor& colour,
                    const SeriesPtr& data)
{
    QCPGraph* graph = keyAxis->parentPlot()->addGraph(keyAxis, valueAxis);
    graph->setPen(plotstyle::seriesPen(colour));
    graph->setData(data);
    return graph;
}

} // namespace

WidgetGraphPos::WidgetGraphPos(QWidget* parent) : QWidget(parent), ui(new Ui::WidgetGraphPos)
{
    ui->setupUi(this);
    for (SeriesPtr& s : m_series)
        s.reset(new QCPGraphDataContainer);

    QCustomPlot* position = ui->position;
    plotstyle::applyDarkStyle(position);
    m_positionRedraw = new PlotRedraw(position, [this] { fitPositions(); });
    position->yAxis2->setVisible(true);
    m_graphs[HorPos] = addSeries(position->xAxis, position->yAxis, kHorColour, m_series[HorPos]);
    m_graphs[HorPos]->setName(QStringLiteral("Hor Pos"));
    m_graphs[VertPos] =
        addSeries(position->xAxis, position->yAxis2, kVertColour, m_series[VertPos]);
    m_graphs[VertPos]->setName(QStringLiteral("Vert Pos"));
    position->xAxis->setLabel(QStringLiteral("Time [s]"));
    position->yAxis->setLabel(QStringLiteral("Hor Pos [um]"));
    position->yAxis2->setLabel(QStringLiteral("Vert Pos [um]"));
    for (QCPAxis* axis : {position->yAxis, position->yAxis2}) {
        axis->setNumberFormat(QStringLiteral("f"));
        axis->setNumberPrecision(2);
    }
    position->legend->setVisible(true);
    position->yAxis->setRange(-kInitialYLimit, kInitialYLimit);
    position->xAxis->setRange(0, kInitialPositionSpan);
    // Dragging and zooming move the right axis too, for the vertical series.
    position->axisRect()->setRangeDragAxes({position->xAxis}, {position->yAxis, position->yAxis2});
    position->axisRect()->setRangeZoomAxes({position->xAxis}, {position->yAxis, position->yAxis2});

    QCustomPlot* intens = ui->intens;
    plotstyle::applyDarkStyle(intens);
    m_intensRedraw = new PlotRedraw(intens, [this] { fitIntensity(); });
    m_graphs[Intensity] =
        addSeries(intens->xAxis, intens->yAxis, kIntensityColour, m_series[Intensity]);
    intens->xAxis->setLabel(QStringLiteral("Time [s]"));
    intens->yAxis->setLabel(QStringLiteral("Intensity [A]"));
    intens->yAxis->setNumberFormat(QStringLiteral("e"));
    intens->yAxis->setNumberPrecision(3);
    intens->yAxis->setRange(-kInitialYLimit, kInitialYLimit);
    intens->xAxis->setRange(0, SAMP_FREQ > 0 ? kIntensitySpanRecords / SAMP_FREQ
                                             : kInitialPositionSpan);

    for (QCustomPlot* plot : {position, intens})
        plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectAxes);

    // Encoder counts replace the picoammeter, so there is no intensity.
    if (theMailbox && theMailbox->pavunPresent())
        intens->hide();
}

WidgetGraphPos::~WidgetGraphPos() = default;

SeriesPtr WidgetGraphPos::graphData(int index) const
{
    return index >= HorPos && index <= Intensity ? m_series[index] : SeriesPtr();
}

void WidgetGraphPos::replot()
{
    m_positionRedraw->request();
    m_intensRedraw->request();
}

void WidgetGraphPos::fitPositions()
{
    QCustomPlot* position = ui->position;
    m_graphs[HorPos]->setVisible(ui->horPosCheckbox->isChecked());
    m_graphs[VertPos]->setVisible(ui->vertPosCheckbox->isChecked());
    // An axis without a visible series keeps its last range.
    position->yAxis->rescale(true);
    position->yAxis2->rescale(true);
    position->xAxis->rescale(false);
}

void WidgetGraphPos::fitIntensity()
{
    QCustomPlot* intens = ui->intens;
    intens->yAxis->rescale(false);
    intens->xAxis->rescale(true);
}
