#include "plots/plotredraw.h"

#include <QEvent>

#include <qcustomplot.h>

#include <utility>

PlotRedraw::PlotRedraw(QCustomPlot* plot, std::function<void()> prepare)
    : QObject(plot), m_plot(plot), m_prepare(std::move(prepare))
{
    plot->installEventFilter(this);
}

void PlotRedraw::request()
{
    // The docks behind a raised tab stay "visible" but are moved outside
    // the window, so their region on screen is what tells.
    if (!m_plot->isVisible() || m_plot->visibleRegion().isEmpty()) {
        m_stale = true;
        return;
    }
    m_stale = false;
    prepare();
    // Requests of one pass merge into one replot.
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void PlotRedraw::prepare()
{
    if (m_prepare)
        m_prepare();
}

bool PlotRedraw::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_plot || !m_stale)
        return false;
    switch (event->type()) {
    case QEvent::Resize:
        // The chart redraws itself completely on a resize: let it draw the
        // newest state.
        m_stale = false;
        prepare();
        break;
    case QEvent::Paint:
        // Coming into view (a tab raised, a dock opened) paints the chart:
        // draw its buffers first, so the paint shows the newest data.
        m_stale = false;
        prepare();
        m_plot->replot(QCustomPlot::rpQueuedRefresh);
        break;
    default:
        break;
    }
    return false;
}
