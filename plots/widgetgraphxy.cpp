#include "plots/widgetgraphxy.h"

#include "device/configstore.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"
#include "device/userlevel.h"
#include "plots/plotredraw.h"
#include "plots/plotstyle.h"

#include "ui_widgetgraphxy.h"

#include <QMessageBox>
#include <QMouseEvent>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace
{

const QColor kPositionColour(250, 250, 200, 240);
const QColor kSetpointColour(0, 191, 250);
const QColor kRoiColour(50, 250, 50, 240);
const QColor kRocColour(250, 70, 70, 240);
constexpr double kRegionPenWidth = 1.5;
constexpr double kPenWidth = 2; // positions and setpoint
constexpr double kSetpointMarkerSize = 6;

QCPItemRect* makeRegion(QCustomPlot* plot, const QColor& colour)
{
    auto* rect = new QCPItemRect(plot);
    rect->setPen(QPen(QBrush(colour), kRegionPenWidth));
    rect->setBrush(Qt::NoBrush);
    return rect;
}

void placeRegion(QCPItemRect* rect, double x, double y)
{
    rect->topLeft->setCoords(-x, y);
    rect->bottomRight->setCoords(x, -y);
}

// The position loops whose setpoints the plot shows and takes from a click:
// those of the regulation mode, except that the plot takes no part while all
// three loops regulate.
zevo::LoopSet plottedLoops(int mode)
{
    const zevo::LoopSet loops = zevo::loopsOfMode(mode);
    if (loops.x && loops.y && loops.i0)
        return {};
    return loops;
}

} // namespace

WidgetGraphXY::WidgetGraphXY(int bpm, QWidget* parent)
    : QWidget(parent), ui(new Ui::WidgetGraphXY), m_bpm(bpm), m_series(new QCPGraphDataContainer)
{
    ui->setupUi(this);
    QCustomPlot* plot = ui->graph;
    plotstyle::applyDarkStyle(plot);
    m_redraw = new PlotRedraw(plot);

    m_positions = plot->addGraph();
    m_positions->setLineStyle(QCPGraph::lsNone);
    m_positions->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCross, 2));
    m_positions->setPen(plotstyle::seriesPen(kPositionColour, kPenWidth));
    m_positions->setData(m_series);

    m_setpoint = plot->addGraph();
    m_setpoint->setLineStyle(QCPGraph::lsLine);
    m_setpoint->setPen(plotstyle::seriesPen(kSetpointColour, kPenWidth));
    plotstyle::drawLinesFor(plot, kPenWidth);
    m_setpoint->setVisible(false);

    m_roi = makeRegion(plot, kRoiColour);
    m_roc = makeRegion(plot, kRocColour);

    plot->xAxis->setLabel(QStringLiteral("Horizontal position [um]"));
    plot->yAxis->setLabel(QStringLiteral("Vertical position [um]"));
    plot->setInteractions(QCP::iRangeZoom);

    connect(plot, &QCustomPlot::mousePress, this, &WidgetGraphXY::graphClicked);
    connect(ui->resetZoomButton, &QPushButton::released, this, &WidgetGraphXY::resetZoom);

    double roiX = 0.0, roiY = 0.0, i0Min = 0.0, i0Max = 0.0, roc = 0.0;
    if (theConfig)
        theConfig->getRocRoi(&roiX, &roiY, &i0Min, &i0Max, &roc, m_bpm);
    setRegions(roiX, roiY, roc / 100.0);
}

WidgetGraphXY::~WidgetGraphXY() = default;

SeriesPtr WidgetGraphXY::graphData()
{
    return m_series;
}

namespace
{
// Sets `axis` to the positions' extent with a margin; a cloud of one point
// gets a small window around it.
template <typename RangeOf> void fitAxisToBeam(QCPAxis* axis, RangeOf rangeOf)
{
    bool found = false;
    const QCPRange range = rangeOf(&found);
    if (!found)
        return;
    const double margin = std::max(range.size() * 0.25, 1e-9 + std::abs(range.center()) * 0.01);
    axis->setRange(range.lower - margin, range.upper + margin);
}
} // namespace

void WidgetGraphXY::setRegions(double x, double y, double factor)
{
    m_roiX = x;
    m_roiY = y;
    m_rocFactor = factor;
    placeRegion(m_roi, x, y);
    placeRegion(m_roc, x * factor, y * factor);
    m_redraw->request();
}

void WidgetGraphXY::replot()
{
    m_redraw->request();
}

void WidgetGraphXY::resetZoom()
{
    // A region that was never configured (ROI or ROC of 0) has no extent to
    // show: that axis fits the beam's positions instead, so that the operator
    // still finds the beam. Without positions the present range stays.
    const double spanX = std::abs(m_roiX * m_rocFactor);
    const double spanY = std::abs(m_roiY * m_rocFactor);
    QCPGraph* positions = ui->graph->graph(0);
    if (spanX > 0)
        ui->graph->xAxis->setRange(-spanX, spanX);
    else
        fitAxisToBeam(ui->graph->xAxis,
                      [&](bool* found) { return positions->getKeyRange(*found); });
    if (spanY > 0)
        ui->graph->yAxis->setRange(-spanY, spanY);
    else
        fitAxisToBeam(ui->graph->yAxis,
                      [&](bool* found) { return positions->getValueRange(*found); });
}

void WidgetGraphXY::updateGraphXY()
{
    using namespace zevo;

    // A failed read leaves the outputs alone: show the last known setpoint.
    double rawX = theMailbox ? theMailbox->setpointCopyX() : 0.0;
    double rawY = theMailbox ? theMailbox->setpointCopyY() : 0.0;
    int mode = -1;
    if (theMailbox) {
        theMailbox->readSetpoints(&rawX, &rawY, nullptr);
        mode = theMailbox->readRegulationMode();
    }

    const double scaleX = bpmScale.x(m_bpm);
    const double scaleY = bpmScale.y(m_bpm);
    const double sx = rawX * scaleX;
    const double sy = rawY * scaleY;
    const bool xSource = pidSourceX.load() == m_bpm;
    const bool ySource = pidSourceY.load() == m_bpm;

    m_setpoint->setVisible(true);
    m_setpoint->data()->clear();

    // The lines span the raw range -1 .. +1 of the other coordinate. Points
    // go in in key order (a scale factor may be negative).
    const auto verticalLine = [&] {
        m_setpoint->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone, kSetpointMarkerSize));
        m_setpoint->addData({sx, sx}, {-scaleY, scaleY}, true);
    };
    const auto horizontalLine = [&] {
        m_setpoint->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone, kSetpointMarkerSize));
        const double edge = std::abs(scaleX);
        m_setpoint->addData({-edge, edge}, {sy, sy}, true);
    };

    const LoopSet loops = plottedLoops(mode);
    if (loops.x && loops.y) {
        if (xSource && ySource) {
            m_setpoint->setScatterStyle(
                QCPScatterStyle(QCPScatterStyle::ssCross, kSetpointMarkerSize));
            m_setpoint->addData(sx, sy);
        } else if (xSource) {
            verticalLine();
        } else if (ySource) {
            horizontalLine();
        }
    } else if (loops.x) {
        if (xSource)
            verticalLine();
    } else if (loops.y) {
        if (ySource)
            horizontalLine();
    }

    m_setpoint->setLineStyle(QCPGraph::lsLine);
    // Merges with the display cycle's redraw when both come in one pass.
    m_redraw->request();
}

void WidgetGraphXY::graphClicked(QMouseEvent* event)
{
    using namespace zevo;

    if (!event)
        return;
    const QPoint pixel = event->pos(); // whole pixels
    const double x = ui->graph->xAxis->pixelToCoord(pixel.x());
    const double y = ui->graph->yAxis->pixelToCoord(pixel.y());

    if (!ui->tagetEnable->isChecked() || !zevo::operatesFeedback(userLevel))
        return;
    if (!theMailbox)
        return;

    double roiX = m_roiX, roiY = m_roiY;
    if (theConfig) {
        double i0Min = 0.0, i0Max = 0.0, roc = 0.0;
        theConfig->getRocRoi(&roiX, &roiY, &i0Min, &i0Max, &roc, m_bpm);
    }
    const int mode = theMailbox->readRegulationMode();

    const bool insideX = std::abs(x) <= roiX;
    const bool insideY = std::abs(y) <= roiY;
    bool accepted = true;
    bool sendX = false;
    bool sendY = false;
    const LoopSet loops = plottedLoops(mode);
    if (loops.x && loops.y) {
        accepted = insideX && insideY;
        sendX = pidSourceX.load() == m_bpm;
        sendY = pidSourceY.load() == m_bpm;
    } else if (loops.x) {
        accepted = insideX;
        sendX = true;
    } else if (loops.y) {
        accepted = insideY;
        sendY = true;
    }

    if (!accepted) {
        QMessageBox::information(
            nullptr, QStringLiteral("Invalid setpoint"),
            QStringLiteral("Setpoint was set outside Region of Interest.\n\n"));
        return;
    }

    // The scale factors are always usable ones (BpmScaleFactors::set); should
    // a quotient still not be a number, the controller is never handed it.
    const double setpointX = x / bpmScale.x(m_bpm);
    const double setpointY = y / bpmScale.y(m_bpm);
    if ((sendX && !std::isfinite(setpointX)) || (sendY && !std::isfinite(setpointY))) {
        QMessageBox::information(
            nullptr, QStringLiteral("Invalid setpoint"),
            QStringLiteral("The BPM's scale factor gives this point no setpoint in the "
                           "controller's units.\n\n"));
        return;
    }

    if (sendX)
        theMailbox->setSetpointX(setpointX);
    if (sendY)
        theMailbox->setSetpointY(setpointY);
    updateGraphXY();
    emit XYchanged();
}
