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
// show; and at every paint the points shown. Made before a chart's
// PlotRedraw, it sees each paint after that one has acted on it.
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
        plot->installEventFilter(this);
    }

    int replots = 0;
    int drawnPoints = -1;
    double drawnKeyEnd = 0.0;
    QVector<int> pointsAtPaint;

    // Painted at least once, and every time with `points` points.
    bool paintedOnly(int points) const
    {
        return !pointsAtPaint.isEmpty() && pointsAtPaint.count(points) == pointsAtPaint.size();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            pointsAtPaint.append(drawnPoints);
        return false;
    }

private:
    QCustomPlot* m_plot;
};

// 1, 2 ... n.
QVector<double> keysUpTo(int n)
{
    QVector<double> keys;
    for (int i = 1; i <= n; ++i)
        keys << i;
    return keys;
}

void setPoints(QCustomPlot* plot, int n)
{
    plot->graph(0)->setData(keysUpTo(n), keysUpTo(n), true);
}

void passEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// A bare chart in a dock of `window`, watched as a plot widget watches its charts.
struct DockedChart {
    QDockWidget* dock;
    QCustomPlot* plot;
    DrawLog* draws;
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
        const auto changeAll = [&](int points) {
            for (DockedChart* c : all) {
                c->draws->replots = 0;
                c->change(points);
            }
        };
        const auto replots = [&] {
            return QVector<int>{front.draws->replots, back.draws->replots, side.draws->replots};
        };
        changeAll(5);
        QCOMPARE(front.draws->replots, 0); // not before the next pass
        passEvents();
        QCOMPARE(replots(), (QVector<int>{1, 0, 0}));
        QCOMPARE(front.draws->drawnPoints, 5);
        QVERIFY(back.redraw->isStale() && side.redraw->isStale());

        // Raising the tab draws the new data before its first paint.
        back.draws->pointsAtPaint.clear();
        back.dock->raise();
        passEvents();
        QCOMPARE(back.draws->replots, 1);
        QVERIFY(back.draws->paintedOnly(5));
        QVERIFY(!back.redraw->isStale());

        // Now the other tab waits; the closed dock keeps only the newest data.
        changeAll(7);
        passEvents();
        QCOMPARE(replots(), (QVector<int>{0, 1, 0}));

        side.draws->pointsAtPaint.clear();
        side.dock->show();
        passEvents();
        QVERIFY(side.draws->replots >= 1);
        QVERIFY(side.draws->paintedOnly(7));
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
            for (const SeriesPtr& s : series)
                fill(s, keysUpTo(n), keysUpTo(n));
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
        // One field of every chart's log; the replot counts start again.
        const auto each = [&](auto field) {
            QVector<double> v;
            for (DrawLog* d : draws)
                v << double(d->*field);
            return v;
        };
        const auto restart = [&] {
            for (DrawLog* d : draws)
                d->replots = 0;
        };
        const auto all = [&](double value) { return QVector<double>(int(draws.size()), value); };

        // Never shown: a cycle draws nothing.
        refill(9);
        cycle();
        cycle();
        passEvents();
        QCOMPARE(each(&DrawLog::replots), all(0));

        // Shown: every chart draws the cycle's data.
        widget->resize(700, 600);
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
        passEvents();
        QVERIFY(!each(&DrawLog::replots).contains(0));
        QCOMPARE(each(&DrawLog::drawnPoints), all(9));

        // Visible: two cycles' requests in one pass give one replot per chart.
        restart();
        cycle();
        cycle();
        passEvents();
        QCOMPARE(each(&DrawLog::replots), all(1));

        // Hidden again: nothing is drawn...
        widget->hide();
        restart();
        refill(5);
        cycle();
        passEvents();
        QCOMPARE(each(&DrawLog::replots), all(0));

        // ...until it is shown, at the same size: then it draws the newest
        // data, with the axes fitted to them (the XY plot keeps its zoom).
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
        passEvents();
        QVERIFY(!each(&DrawLog::replots).contains(0));
        QCOMPARE(each(&DrawLog::drawnPoints), all(5));
        if (kind != XY)
            QCOMPARE(each(&DrawLog::drawnKeyEnd), all(5));
    }
};

QTEST_MAIN(TestPlotRedraw)
#include "tst_plotredraw.moc"
