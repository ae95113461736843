#pragma once

#include "acquisition/updater.h"

#include <QStringList>
#include <QVector>
#include <QWidget>

#include <memory>

class QCPGraph;
class PlotRedraw;

namespace Ui
{
class WidgetGraphCurrents;
}

// A strip chart of two to four display signals against time (picoammeter
// currents, encoder counts, DAC outputs), with a check box per series and an
// autoscale switch.
class WidgetGraphCurrents : public QWidget
{
    Q_OBJECT

public:
    // `series` is 2, 3 or 4 (other counts are clamped to that range).
    WidgetGraphCurrents(QWidget* parent, int series);
    ~WidgetGraphCurrents() override;

    // Series `index`, refilled by the display updater; null outside the range.
    SeriesPtr graphData(int index) const;

    // Axis labels and, by index, the legend names of the series.
    void setLabels(const QString& xLabel, const QString& yLabel, const QStringList& names);
    void setYNumberFormat(const QString& format, int precision);

public slots:
    // With "Autoscale" checked, fits both axes to the visible series; redraws
    // (once visible).
    void replot();
    // Shows the series whose check box is checked.
    void chEnablesChanged();

private:
    // With "Autoscale" checked, fits both axes to the visible series.
    void autoscale();

    std::unique_ptr<Ui::WidgetGraphCurrents> ui;
    QVector<QCPGraph*> m_graphs;
    QVector<SeriesPtr> m_series;
    PlotRedraw* m_redraw = nullptr;
};
