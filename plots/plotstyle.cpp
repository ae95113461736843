#include "plots/plotstyle.h"

#include <QEvent>
#include <QLinearGradient>

#include <qcustomplot.h>

namespace
{

const QColor kGradientTop(100, 100, 100);
const QColor kGradientBottom(30, 30, 30);
const QColor kLegendBrush(10, 10, 10);
constexpr int kInitialGradientHeight = 200;

// Renews the gradient before the chart handles its own resize, so the
// replot that follows already uses the new height.
class GradientFollower : public QObject
{
public:
    explicit GradientFollower(QCustomPlot* plot) : QObject(plot), m_plot(plot) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_plot && event->type() == QEvent::Resize)
            plotstyle::updateGradient(m_plot, m_plot->height());
        return false;
    }

private:
    QCustomPlot* m_plot;
};

void styleAxis(QCPAxis* axis)
{
    const QPen white(Qt::white, 1);
    axis->setBasePen(white);
    axis->setTickPen(white);
    axis->setSubTickPen(white);
    axis->setTickLabelColor(Qt::white);
    axis->setLabelColor(Qt::white);
}

} // namespace

namespace plotstyle
{

void applyDarkStyle(QCustomPlot* plot)
{
    for (QCPAxis* axis : plot->axisRect()->axes())
        styleAxis(axis);

    plot->legend->setTextColor(Qt::white);
    plot->legend->setBrush(QBrush(kLegendBrush));

    plot->setNotAntialiasedElements(QCP::aePlottables | QCP::aeScatters);
    plot->setNoAntialiasingOnDrag(true);
    drawLinesFor(plot, 1.0);

    updateGradient(plot, kInitialGradientHeight);
    plot->installEventFilter(new GradientFollower(plot));
}

void updateGradient(QCustomPlot* plot, int height)
{
    QLinearGradient gradient(0, 0, 0, height);
    gradient.setColorAt(0, kGradientTop);
    gradient.setColorAt(1, kGradientBottom);
    // The whole chart, not only the axis rect: the white tick labels and
    // axis labels outside the rect need the dark ground as well.
    plot->setBackground(QBrush(gradient));
    plot->axisRect()->setBackground(QBrush(gradient));
}

void drawLinesFor(QCustomPlot* plot, double penWidth)
{
    plot->setPlottingHint(QCP::phFastPolylines, penWidth > 1.0);
}

QPen seriesPen(const QColor& colour, double width)
{
    return QPen(QBrush(colour), width, Qt::SolidLine);
}

} // namespace plotstyle
