#pragma once

#include "acquisition/updater.h"

#include <QWidget>

#include <memory>

class QCPGraph;

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
    // Applies the check boxes, fits the axes and redraws both charts.
    void replot();

private:
    std::unique_ptr<Ui::WidgetGraphPos> ui;
    QCPGraph* m_graphs[3] = {};
    SeriesPtr m_series[3];
};
