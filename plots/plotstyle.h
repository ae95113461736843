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
// tens of thousands of points), draws lines for one-pixel pens and keeps the
// background gradient spanning the chart's height whenever the chart is
// resized.
void applyDarkStyle(QCustomPlot* plot);

// Lays the background gradient (chart and axis rect) over `height` pixels of
// the chart, top to bottom; applyDarkStyle() calls it on every resize with the chart's height.
void updateGradient(QCustomPlot* plot, int height);

// Hands the line series of `plot` to the painter in the way fastest for
// pens of `penWidth` pixels (applyDarkStyle() chooses one-pixel pens). Pens
// wider than a pixel draw fastest segment by segment: a whole polyline is
// stroked as one polygon, four to six times slower on a dense spectrum.
// One-pixel pens draw fastest as whole polylines: segment by segment, the
// long time series take about a fifth longer. The pixels are the same.
void drawLinesFor(QCustomPlot* plot, double penWidth);

// Solid pen of a data series.
QPen seriesPen(const QColor& colour, double width = 1.0);

} // namespace plotstyle
