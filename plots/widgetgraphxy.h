#pragma once

#include "acquisition/updater.h"

#include <QWidget>

#include <memory>

class QCPGraph;
class QCPItemRect;
class QMouseEvent;
class PlotRedraw;

namespace Ui
{
class WidgetGraphXY;
}

// One BPM's beam position in the X/Y plane: the newest positions as a cloud
// of crosses, the region of interest (green) and the region of control (red)
// centred on the origin, and the controller's setpoint. With "Target Enable"
// pressed and a user level of 1 or 2, a click sends a new setpoint.
//
// Everything is shown in micrometres: raw controller values are multiplied
// by the BPM's scale factors, setpoints sent are divided by them.
class WidgetGraphXY : public QWidget
{
    Q_OBJECT

public:
    explicit WidgetGraphXY(int bpm, QWidget* parent = nullptr);
    ~WidgetGraphXY() override;

    // The position cloud's series, refilled by the display updater.
    SeriesPtr graphData();

    // ROI from (-x, -y) to (x, y); ROC the same scaled by `factor`. Redraws
    // (on the next pass of the event loop, once the plot is visible).
    void setRegions(double x, double y, double factor);

    int bpm() const { return m_bpm; }

signals:
    // A click has sent a new setpoint.
    void XYchanged();

public slots:
    void replot();
    // Reads the setpoints and the regulation mode and draws the setpoint.
    void updateGraphXY();
    // Shows exactly the region of control (no redraw of its own).
    void resetZoom();
    void graphClicked(QMouseEvent* event);

private:
    std::unique_ptr<Ui::WidgetGraphXY> ui;
    const int m_bpm;
    SeriesPtr m_series;
    QCPGraph* m_positions = nullptr;
    QCPGraph* m_setpoint = nullptr;
    QCPItemRect* m_roi = nullptr;
    QCPItemRect* m_roc = nullptr;
    PlotRedraw* m_redraw = nullptr;
    double m_roiX = 0.0;
    double m_roiY = 0.0;
    double m_rocFactor = 0.0;
};
