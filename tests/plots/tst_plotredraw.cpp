// Charts draw only what the operator can see: a chart behind a raised dock
// tab or in a closed dock is not drawn on a display cycle and draws the
// newest data as it comes into view; a visible chart draws once per pass of
// the event loop, however many changes met in it.

#include "support/programfixture.h"

#include "app/initresources.h"
#include "app/mainwindow.h"
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
    explicit DrawLog(QCustomPlot* plot) : QObject(plot)
    {
        connect(plot, &QCustomPlot::afterReplot, this, [this, plot] {
            ++replots;
            drawnPoints = plot->graph(0)->data()->size();
            drawnKeyEnd = plot->xAxis->range().upper;
        });
        plot->installEventFilter(this);
    }
    int replots = 0, drawnPoints = -1;
    double drawnKeyEnd = 0.0;
    QVector<int> pointsAtPaint;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            pointsAtPaint.append(drawnPoints);
        return false;
    }
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

} // namespace

class TestPlotRedraw : public QObject
{
    Q_OBJECT

    ProgramFixture f;

private slots:
    void initTestCase() { initResources(); }
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    // A chart behind a raised dock tab is "visible" to Qt, only moved out of
    // the window: it is not drawn on a display cycle, and draws the newest
    // data before its first paint as its tab is raised. (A hidden chart:
    // mainWindow_displayCycleDrawsOnlyTheChartsInSight.)
    void chartBehindATab_drawsNewestDataAsItIsRaised()
    {
        QMainWindow window;
        window.setDockOptions(window.dockOptions() & ~QMainWindow::AnimatedDocks);
        DockedChart front(window, "front", Qt::BottomDockWidgetArea);
        DockedChart back(window, "back", Qt::BottomDockWidgetArea);
        window.tabifyDockWidget(front.dock, back.dock);
        front.dock->raise();
        window.resize(700, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        passEvents();
        QVERIFY(back.plot->isVisible());
        for (int points : {5, 7}) {
            front.draws->replots = back.draws->replots = 0;
            (points == 5 ? back : front).draws->pointsAtPaint.clear();
            front.change(points);
            back.change(points);
            QCOMPARE(front.draws->replots + back.draws->replots, 0); // not before the next pass
            passEvents();
            DockedChart& seen = points == 5 ? front : back;
            DockedChart& behind = points == 5 ? back : front;
            QCOMPARE(seen.draws->drawnPoints, points);
            QVERIFY(behind.redraw->isStale() && behind.draws->drawnPoints != points);
            QCOMPARE(seen.draws->replots, 1);
            behind.dock->raise();
            passEvents();
            QVERIFY(!behind.redraw->isStale() && !behind.draws->pointsAtPaint.isEmpty());
            QCOMPARE(behind.draws->pointsAtPaint.count(points), behind.draws->pointsAtPaint.size());
            QCOMPARE(behind.draws->drawnPoints, points);
        }
    }

    // In the main window a display cycle draws the charts in sight once,
    // however often it asks: the raised bottom tab and the first XY plot;
    // not the tabs behind, nor the hidden second BPM's docks. A tab raised
    // later draws the newest data with its axes fitted to them.
    void mainWindow_displayCycleDrawsOnlyTheChartsInSight()
    {
        f.controller.plug({0x2101, 0x2200, 0, 0});
        f.mailbox->scanSlots();
        MainWindow main;
        main.resize(1400, 1000);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        passEvents(); // the replots every new chart queues for itself
        QMap<QString, QList<DrawLog*>> logs; // by dock
        for (QDockWidget* dock : main.findChildren<QDockWidget*>())
            for (QCustomPlot* plot : dock->findChildren<QCustomPlot*>())
                logs[dock->objectName()] << new DrawLog(plot);
        const QVector<double> keys = keysUpTo(5);
        for (auto* w : main.findChildren<WidgetGraphXY*>())
            fill(w->graphData(), keys, keys);
        for (auto* w : main.findChildren<WidgetGraphFFT*>())
            fill(w->graphData(), keys, keys);
        for (auto* w : main.findChildren<WidgetGraphCurrents*>())
            fill(w->graphData(0), keys, keys);
        for (auto* w : main.findChildren<WidgetGraphPos*>())
            for (int i = WidgetGraphPos::HorPos; i <= WidgetGraphPos::Intensity; ++i)
                fill(w->graphData(i), keys, keys);
        emit theUpdater->replotGraphs();
        emit theUpdater->replotGraphs();
        passEvents();
        QStringList replots;
        for (const QString& dock : logs.keys()) {
            QString line = dock + ":";
            for (DrawLog* d : logs[dock])
                line += " " + QString::number(std::exchange(d->replots, 0));
            replots << line;
        }
        QCOMPARE(replots, (QStringList{"dockCurrents1: 0", "dockCurrents2: 0", "dockDAC: 0",
                                       "dockFFT: 1", "dockPosition1: 0 0", "dockPosition2: 0 0",
                                       "dockXY1: 1", "dockXY2: 0"}));
        for (const char* dock : {"dockCurrents1", "dockPosition1"}) {
            main.findChild<QDockWidget*>(dock)->raise();
            passEvents();
            for (DrawLog* d : logs[dock])
                QCOMPARE(QString("%1 %2 %3").arg(d->replots > 0).arg(d->drawnPoints).arg(d->drawnKeyEnd),
                         QStringLiteral("1 5 5"));
        }
        // Now the spectrum's tab is behind.
        const int spectrumReplots = logs["dockFFT"][0]->replots;
        emit theUpdater->replotGraphs();
        passEvents();
        QCOMPARE(logs["dockFFT"][0]->replots, spectrumReplots);
    }
};

QTEST_MAIN(TestPlotRedraw)
#include "tst_plotredraw.moc"
