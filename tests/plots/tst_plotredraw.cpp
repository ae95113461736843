// Charts draw only what the operator can see: a chart behind a raised dock
// tab or in a closed dock is not drawn on a display cycle and draws the
// newest data as it comes into view; a visible chart draws once per pass of
// the event loop, however many changes met in it.

#include "support/programfixture.h"

#include "plots/plotredraw.h"
#include "plots/widgetgraphcurrents.h"
#include "plots/widgetgraphfft.h"
#include "plots/widgetgraphpos.h"
#include "plots/widgetgraphxy.h"

#include <QDockWidget>
#include <QMainWindow>

#include <memory>

namespace
{

// Counts the replots of a chart and notes how many points its first graph
// held at the last one and where its key axis ended, i.e. what its buffers
// show.
class DrawLog : public QObject
{
public:
    explicit DrawLog(QCustomPlot* plot) : QObject(plot), m_plot(plot)
    {
        connect(plot, &QCustomPlot::afterReplot, this, [this] {
            ++replots;
            drawnPoints = m_plot->graph(0)->data()->size();
            drawnKeyEnd = m_plot->xAxis->range().upper;
        });
    }

    int replots = 0;
    int drawnPoints = -1;
    double drawnKeyEnd = 0.0;

private:
    QCustomPlot* m_plot;
};

// Notes, at every paint of a chart, the points its buffers show. Installed
// before the chart's PlotRedraw, so it sees each paint after that one.
class PaintLog : public QObject
{
public:
    PaintLog(QCustomPlot* plot, const DrawLog& draws) : QObject(plot), m_draws(draws)
    {
        plot->installEventFilter(this);
    }

    QVector<int> pointsAtPaint;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            pointsAtPaint.append(m_draws.drawnPoints);
        return false;
    }

private:
    const DrawLog& m_draws;
};

void setPoints(QCustomPlot* plot, int n)
{
    QVector<double> keys, values;
    for (int i = 1; i <= n; ++i) {
        keys << i;
        values << i * i;
    }
    plot->graph(0)->setData(keys, values, true);
}

void passEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// A bare chart in a dock of `window`, watched as a plot widget watches its charts.
struct DockedChart
{
    QDockWidget* dock;
    QCustomPlot* plot;
    DrawLog* draws;
    PaintLog* paints;
    PlotRedraw* redraw;

    DockedChart(QMainWindow& window, const QString& name, Qt::DockWidgetArea area)
        : dock(new QDockWidget(name, &window)), plot(new QCustomPlot)
    {
        dock->setObjectName(name);
        plot->addGraph();
        setPoints(plot, 2);
        dock->setWidget(plot);
        window.addDockWidget(area, dock);
        draws = new DrawLog(plot);
        paints = new PaintLog(plot, *draws);
        redraw = new PlotRedraw(plot);
    }

    // One display cycle's worth of changes: new data and several requests.
    void change(int points)
    {
        setPoints(plot, points);
        redraw->request();
        redraw->request();
    }
};

enum Widget { XY, FFT, Currents, Position };

} // namespace

Q_DECLARE_METATYPE(Widget)

class TestPlotRedraw : public QObject
{
    Q_OBJECT

    ProgramFixture f;

private slots:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void chartsOutOfSight_drawNewestDataAsTheyComeIntoView()
    {
        QMainWindow window;
        window.setDockOptions(window.dockOptions() & ~QMainWindow::AnimatedDocks);
        DockedChart front(window, "front", Qt::BottomDockWidgetArea);
        DockedChart back(window, "back", Qt::BottomDockWidgetArea);
        DockedChart side(window, "side", Qt::RightDockWidgetArea);
        window.tabifyDockWidget(front.dock, back.dock);
        front.dock->raise();
        window.resize(700, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        side.dock->close();
        passEvents();
        // The tab behind stays "visible" to Qt, only moved out of the window.
        QVERIFY(back.plot->isVisible());

        DockedChart* all[] = {&front, &back, &side};
        for (DockedChart* c : all) {
            c->draws->replots = 0;
            c->change(5);
        }
        QCOMPARE(front.draws->replots, 0); // not before the next pass
        passEvents();
        QCOMPARE(front.draws->replots, 1);
        QCOMPARE(front.draws->drawnPoints, 5);
        QCOMPARE(back.draws->replots, 0);
        QCOMPARE(side.draws->replots, 0);
        QVERIFY(back.redraw->isStale() && side.redraw->isStale());

        // Raising the tab draws the new data before its first paint.
        back.paints->pointsAtPaint.clear();
        back.dock->raise();
        passEvents();
        QCOMPARE(back.draws->replots, 1);
        QVERIFY(!back.paints->pointsAtPaint.isEmpty());
        for (int points : back.paints->pointsAtPaint)
            QCOMPARE(points, 5);
        QVERIFY(!back.redraw->isStale());

        // Now the other tab waits; the closed dock keeps only the newest data.
        for (DockedChart* c : all) {
            c->draws->replots = 0;
            c->change(7);
        }
        passEvents();
        QCOMPARE(back.draws->replots, 1);
        QCOMPARE(front.draws->replots, 0);
        QCOMPARE(side.draws->replots, 0);

        side.paints->pointsAtPaint.clear();
        side.dock->show();
        passEvents();
        QVERIFY(side.draws->replots >= 1);
        QVERIFY(!side.paints->pointsAtPaint.isEmpty());
        for (int points : side.paints->pointsAtPaint)
            QCOMPARE(points, 7);
    }

    void plotWidgets_drawOnlyWhileVisible_data()
    {
        QTest::addColumn<Widget>("kind");
        QTest::newRow("XY") << XY;
        QTest::newRow("FFT") << FFT;
        QTest::newRow("currents") << Currents;
        QTest::newRow("position") << Position;
    }

    void plotWidgets_drawOnlyWhileVisible()
    {
        QFETCH(Widget, kind);
        std::unique_ptr<QWidget> widget;
        QVector<SeriesPtr> series;
        switch (kind) {
        case XY:
            widget = std::make_unique<WidgetGraphXY>(0);
            series << static_cast<WidgetGraphXY*>(widget.get())->graphData();
            break;
        case FFT:
            widget = std::make_unique<WidgetGraphFFT>();
            series << static_cast<WidgetGraphFFT*>(widget.get())->graphData();
            break;
        case Currents:
            widget = std::make_unique<WidgetGraphCurrents>(nullptr, 4);
            for (int i = 0; i < 4; ++i)
                series << static_cast<WidgetGraphCurrents*>(widget.get())->graphData(i);
            break;
        case Position:
            widget = std::make_unique<WidgetGraphPos>();
            for (int i = WidgetGraphPos::HorPos; i <= WidgetGraphPos::Intensity; ++i)
                series << static_cast<WidgetGraphPos*>(widget.get())->graphData(i);
            break;
        }
        // New data in every series, keys 1 .. n.
        auto refill = [&](int n) {
            QVector<double> keys, values;
            for (int i = 1; i <= n; ++i) {
                keys << i;
                values << 0.5 * i;
            }
            for (const SeriesPtr& s : series)
                fill(s, keys, values);
        };
        // What one display cycle calls on the widget; the XY plot's setpoint
        // and positions change in the same cycle.
        auto cycle = [&] {
            if (kind == XY)
                static_cast<WidgetGraphXY*>(widget.get())->updateGraphXY();
            QVERIFY(QMetaObject::invokeMethod(widget.get(), "replot"));
        };

        passEvents(); // the replot every new chart queues for itself
        std::vector<DrawLog*> draws;
        for (QCustomPlot* plot : widget->findChildren<QCustomPlot*>())
            draws.push_back(new DrawLog(plot));
        QVERIFY(!draws.empty());
        auto replots = [&] {
            QVector<int> n;
            for (DrawLog* d : draws)
                n << d->replots;
            return n;
        };
        const QVector<int> none(int(draws.size()), 0);
        const QVector<int> once(int(draws.size()), 1);

        // Never shown: a cycle draws nothing.
        refill(9);
        cycle();
        cycle();
        passEvents();
        QCOMPARE(replots(), none);

        // Shown: every chart draws the cycle's data.
        widget->resize(700, 600);
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
        passEvents();
        for (DrawLog* d : draws) {
            QVERIFY(d->replots >= 1);
            QCOMPARE(d->drawnPoints, 9);
            d->replots = 0;
        }

        // Visible: two cycles' requests in one pass give one replot per chart.
        cycle();
        cycle();
        passEvents();
        QCOMPARE(replots(), once);

        // Hidden again: nothing is drawn...
        widget->hide();
        for (DrawLog* d : draws)
            d->replots = 0;
        refill(5);
        cycle();
        passEvents();
        QCOMPARE(replots(), none);

        // ...until it is shown, at the same size: then it draws the newest
        // data, with the axes fitted to them (the XY plot keeps its zoom).
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
        passEvents();
        for (DrawLog* d : draws) {
            QVERIFY(d->replots >= 1);
            QCOMPARE(d->drawnPoints, 5);
            if (kind != XY)
                QCOMPARE(d->drawnKeyEnd, 5.0);
        }
    }
};

QTEST_MAIN(TestPlotRedraw)
#include "tst_plotredraw.moc"
