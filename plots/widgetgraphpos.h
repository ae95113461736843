#pragma once

#include "acquisition/updater.h"

#include <QWidget>

#include <memory>

class QCPGraph;
class PlotRedraw;

namespace Ui
{
class WidgetGraphPos;
}

// One BPM's horizontal and vertical position against time in one chart (on
// the left and right axes) and its intensity in a second chart below. The
// intensity chart is hidden when an encoder interface is connected.
class WidgetGraphPos : public QWidget
{
    Q_OBJECT

public:
    enum SeriesIndex { HorPos = 0, VertPos = 1, Intensity = 2 };

    explicit WidgetGraphPos(QWidget* parent = nullptr);
    ~WidgetGraphPos() override;

    // Series `index` (SeriesIndex), refilled by the display updater; null
    // outside the range.
    SeriesPtr graphData(int index) const;

public slots:
    // Applies the check boxes, fits the axes and redraws both charts (those
    // visible; the others as they are shown).
    void replot();

private:
    // Applies the check boxes and fits the position chart's axes.
    void fitPositions();
    // Fits the intensity chart's axes.
    void fitIntensity();

    std::unique_ptr<Ui::WidgetGraphPos> ui;
    QCPGraph* m_graphs[3] = {};
    SeriesPtr m_series[3];
    PlotRedraw* m_positionRedraw = nullptr;
    PlotRedraw* m_intensRedraw = nullptr;
};
