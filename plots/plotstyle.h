#pragma once

#include <QColor>
#include <QPen>

class QCustomPlot;

// The look shared by every live chart: a grey gradient over the chart that
// follows its height, white axes, ticks and labels, a dark legend.
namespace plotstyle
{

// Applies the shared look to every axis and the legend of `plot`, switches
// off antialiasing of the series (the charts redraw every second with up to
// tens of thousands of points) and keeps the background gradient spanning
// the chart's height whenever the chart is resized.
void applyDarkStyle(QCustomPlot* plot);

// Lays the background gradient (chart and axis rect) over `height` pixels of
// the chart, top to bottom; applyDarkStyle() calls it on every resize with the chart's height.
void updateGradient(QCustomPlot* plot, int height);

// Solid pen of a data series.
QPen seriesPen(const QColor& colour, double width = 1.0);

} // namespace plotstyle
