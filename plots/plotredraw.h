#pragma once

#include <QObject>

#include <functional>

class QCustomPlot;
class QEvent;

// Redraws a chart only while the operator can see it.
//
// A chart that cannot be seen (its dock tab is not raised, its dock is
// closed, it lies outside its window) is neither prepared nor drawn; it is
// marked stale and brought up to date as it comes into view, before it
// paints, so raising a tab never shows old data. A visible chart is prepared
// at once and drawn on the next pass of the event loop, so that the changes
// of one display cycle (the positions and the setpoint of the XY plot, say)
// give a single redraw.
//
// The plot widget that owns the chart attaches one (a child of the chart).
// `prepare` is the widget's work that only matters for the picture (fitting
// the axes to the data, the series as drawn); it runs before each drawing
// this object asks for, and never for a chart out of sight.
class PlotRedraw : public QObject
{
public:
    explicit PlotRedraw(QCustomPlot* plot, std::function<void()> prepare = {});

    // If any of the chart can be seen: prepares it and draws it on the next
    // pass of the event loop. Otherwise marks it stale.
    void request();

    // A redraw was skipped while the chart could not be seen and is still owed.
    bool isStale() const { return m_stale; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void prepare();

    QCustomPlot* m_plot;
    std::function<void()> m_prepare;
    bool m_stale = false;
};
