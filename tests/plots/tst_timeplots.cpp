// The plots: what the FFT, currents and position plots hand to the display
// updater and how their axes follow the data between display cycles; the
// display settings dialog that sets the display rate and buffer; which
// charts a display cycle draws (only what the operator can see: not a chart
// behind a raised dock tab or in a closed dock, which draws the newest data
// as it comes into view; a visible chart once per pass of the event loop,
// however many changes met in it); and the XY plot: regions, setpoint
// drawing by regulation mode, and setpoints sent by clicking, checked in the
// bytes that reach the controller. (The intensity chart with an encoder
// interface: tst_windowbeamlineconf.)

#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include "app/initresources.h"
#include "app/mainwindow.h"
#include "plots/plotredraw.h"
#include "plots/widgetgraphcurrents.h"
#include "plots/widgetgraphfft.h"
#include "plots/widgetgraphpos.h"
#include "plots/widgetgraphxy.h"
#include "plots/windowdisplaysettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QMainWindow>
#include <QSignalSpy>

#include <memory>

namespace cmd = zevo::cmd;

namespace
{

bool hasLogTicker(const QCPAxis* axis)
{
    return axis->scaleType() == QCPAxis::stLogarithmic &&
           !axis->ticker().dynamicCast<QCPAxisTickerLog>().isNull();
}

// The key and value axes' ranges.
QString ranges(const QCustomPlot* p, const QCPAxis* value = nullptr)
{
    const QCPRange x = p->xAxis->range(), y = (value ? value : p->yAxis)->range();
    return QString("%1 .. %2 | %3 .. %4").arg(x.lower).arg(x.upper).arg(y.lower).arg(y.upper);
}

// A chart fits its axes only while it can be seen.
bool showOnScreen(QWidget& w)
{
    w.resize(700, 600);
    w.show();
    return QTest::qWaitForWindowExposed(&w);
}

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

class TestPlots : public QObject
{
    Q_OBJECT

    ProgramFixture f;

    static QCustomPlot* plotOf(WidgetGraphXY& w) { return w.findChild<QCustomPlot*>("graph"); }

    // Shown, laid out, zoomed to the region of control (±150 × ±75), target on.
    static void show(WidgetGraphXY& w)
    {
        w.resize(520, 440);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.resetZoom();
        plotOf(w)->replot();
        w.findChild<QAbstractButton*>("tagetEnable")->setChecked(true);
    }

    static QPoint pixelOf(WidgetGraphXY& w, double x, double y)
    {
        QCustomPlot* p = plotOf(w);
        return QPoint(qRound(p->xAxis->coordToPixel(x)), qRound(p->yAxis->coordToPixel(y)));
    }

    static void click(WidgetGraphXY& w, QPoint pixel)
    {
        QTest::mouseClick(plotOf(w), Qt::LeftButton, Qt::NoModifier, pixel);
    }

    // The setpoints sent, as (selector, raw value).
    QList<QPair<int, double>> setpoints() const
    {
        QList<QPair<int, double>> out;
        for (const zevo::MailboxMessage& m : f.sent(cmd::SetSetpoint))
            out << qMakePair(int(m.u8(4)), m.f64(8));
        return out;
    }
    using Sent = QList<QPair<int, double>>;

private slots:
    void initTestCase() { initResources(); }

    void init()
    {
        f.setUp();
        f.controller.setpoints[0] = 3.0;
        f.controller.setpoints[1] = -2.0;
        QVERIFY(f.config->setRocRoi(0, 100, 50, 0, 0, 150));
        QVERIFY(f.config->setRocRoi(1, 100, 50, 0, 0, 150));
        bpmScale.set(0, 2.0, 4.0);
        bpmScale.set(1, 5.0, 10.0);
        pidSourceX = pidSourceY = 0;
        userLevel = 2;
        f.controller.regulationMode = zevo::MODE_X;
    }

    void cleanup()
    {
        f.tearDown();
        bpmScale = BpmScaleFactors{};
        userLevel = 0;
    }

    // The spectrum's signal, length and DC removal reach the updater, the
    // form's choices from the start; an unknown signal is the first one. The
    // 0 Hz bin and zero amplitudes cannot be shown on log axes; they must
    // neither be drawn off the chart nor be lost for a linear axis.
    void fft_controlsDriveTheUpdater_logAxesLeaveOutNonPositivePoints()
    {
        f.updater->fftLength = 77;
        WidgetGraphFFT w;
        QCustomPlot* p = child<QCustomPlot>(w, "graph");
        QString seen = QString("%1 %2, ").arg(f.updater->fftSelector()).arg(f.updater->fftLength);
        QVERIFY(hasLogTicker(p->xAxis) && hasLogTicker(p->yAxis));
        child<QComboBox>(w, "selectorComboBox")->setCurrentText("BPM1, PosY");
        seen += QString::number(f.updater->fftSelector());
        w.fftSelectorChanged("no such signal");
        seen += QString::number(f.updater->fftSelector());
        child<QComboBox>(w, "fFTLengthComboBox")->setCurrentText("8192");
        child<QCheckBox>(w, "removeDCCheckBox")->setChecked(true);
        seen += QString(" %1 %2").arg(f.updater->fftLength).arg(f.updater->removeDC);
        QCOMPARE(seen, QStringLiteral("24 1024, 10 8192 1"));

        QVERIFY(showOnScreen(w));
        fill(w.graphData(), {0, 1, 2, 3, 4}, {5, 0, 3, -1, 20});
        w.replot();
        const auto shown = p->graph(0)->data();
        QCOMPARE(shown->size(), 4);
        QCOMPARE(shown->at(0)->key, 1.0);
        QVERIFY(qIsNaN(shown->at(0)->value) && qIsNaN(shown->at(2)->value));
        QCOMPARE(ranges(p), QStringLiteral("2 .. 4 | 3 .. 20"));
        child<QComboBox>(w, "xAxisComboBox")->setCurrentText("Lin");
        child<QComboBox>(w, "yAxisComboBox")->setCurrentText("Lin");
        QVERIFY(p->yAxis->ticker().dynamicCast<QCPAxisTickerLog>().isNull());
        QCOMPARE(p->graph(0)->data()->size(), 5);
        QCOMPARE(ranges(p), QStringLiteral("0 .. 4 | -1 .. 20"));
    }

    void currentsAutoscaleFollowsVisibleSeriesOnly_positionCheckBoxesActAtNextReplot()
    {
        WidgetGraphCurrents w(nullptr, 3);
        QVERIFY(showOnScreen(w));
        QCustomPlot* p = child<QCustomPlot>(w, "graph");
        QCOMPARE(p->xAxis->range(), QCPRange(0, 14));
        fill(w.graphData(0), {0, 1, 2}, {1, 2, 3});
        fill(w.graphData(1), {0, 5}, {-100, 100});
        fill(w.graphData(2), {0, 2}, {2, 4});
        child<QCheckBox>(w, "CheckCh2")->setChecked(false);
        w.replot();
        QCOMPARE(ranges(p), QStringLiteral("0 .. 2 | 1 .. 4"));

        // Without autoscale a dragged view stays while the data change.
        child<QCheckBox>(w, "buttonAutoscale")->setChecked(false);
        p->xAxis->setRange(0.5, 1.5);
        fill(w.graphData(0), {0, 10}, {-7, 7});
        w.replot();
        QCOMPARE(ranges(p), QStringLiteral("0.5 .. 1.5 | 1 .. 4"));
        // The initial span survives a display frequency of 0.
        SAMP_FREQ = 0;
        const QCPRange r =
            child<QCustomPlot>(WidgetGraphCurrents(nullptr, 2), "graph")->xAxis->range();
        QVERIFY(std::isfinite(r.upper) && r.upper > 0 && r.lower == 0);

        // The position checkboxes act at the next replot.
        WidgetGraphPos g;
        QVERIFY(showOnScreen(g));
        QCustomPlot* pos = child<QCustomPlot>(g, "position");
        QCustomPlot* intens = child<QCustomPlot>(g, "intens");
        QVERIFY(!intens->isHidden());
        fill(g.graphData(WidgetGraphPos::HorPos), {0, 1}, {-3, 3});
        fill(g.graphData(WidgetGraphPos::VertPos), {0, 4}, {10, 20});
        fill(g.graphData(WidgetGraphPos::Intensity), {0, 2}, {1e-6, 2e-6});
        g.replot();
        QCOMPARE(pos->yAxis->range(), QCPRange(-3, 3));
        QCOMPARE(pos->yAxis2->range(), QCPRange(10, 20));
        QCOMPARE(intens->yAxis->range(), QCPRange(1e-6, 2e-6));

        child<QCheckBox>(g, "horPosCheckbox")->setChecked(false);
        QVERIFY(pos->graph(0)->visible());
        fill(g.graphData(WidgetGraphPos::HorPos), {0, 9}, {-50, 50});
        fill(g.graphData(WidgetGraphPos::VertPos), {0, 4}, {11, 12});
        g.replot();
        QVERIFY(!pos->graph(0)->visible());
        QCOMPARE(pos->yAxis->range(), QCPRange(-3, 3)); // the left axis keeps its range
        QCOMPARE(pos->yAxis2->range(), QCPRange(11, 12));
        QCOMPARE(pos->xAxis->range(), QCPRange(0, 9)); // time spans every series
    }

    // The display settings dialog: Cancel changes nothing but the pause,
    // which acts at once; shown again, it tells what is in force (the filter
    // as the controller has it). OK applies what it shows: rate, filter and
    // buffer; below 1 Hz is 1 Hz, never 0.
    void displaySettings_okAppliesCancelKeepsAllButThePause()
    {
        f.controller.displayFilter = true;
        f.controller.displayDivider = 100000;
        WindowDisplaySettings w;
        w.showWindow();
        auto* frequency = child<QDoubleSpinBox>(w, "dispFreqBox");
        auto* filter = child<QCheckBox>(w, "enableFilterCheckBox");
        auto* buffer = child<QComboBox>(w, "bufferSamplesComboBox");
        auto* pause = child<QCheckBox>(w, "pauseCheckBox");
        auto press = [&](QDialogButtonBox::StandardButton which) {
            f.driver.clearCalls();
            standardButton(&w, which)->click();
            return QString("%1 %2 ").arg(SAMP_FREQ).arg(BUFFER_BYTES / 256) +
                   hexOf(f.sent(zevo::cmd::SetDisplayFrequency)).join(' ');
        };
        frequency->setValue(3000);
        filter->setChecked(false);
        buffer->setCurrentText("2048");
        pause->setChecked(true);
        QVERIFY(f.updater->paused);
        QCOMPARE(press(QDialogButtonBox::Cancel),
                 QString("1000 %1 ").arg(zevo::kDisplayBufferBytes / 256));
        QVERIFY(f.updater->paused);
        f.updater->paused = false;
        SAMP_FREQ = 2000;
        BUFFER_BYTES = 4096 * 256;
        w.showWindow();
        QCOMPARE(QString("%1 %2 %3 %4")
                     .arg(frequency->value())
                     .arg(buffer->currentText())
                     .arg(pause->isChecked())
                     .arg(filter->isChecked()),
                 QStringLiteral("2000 4096 0 1"));
        for (const auto& [hz, expected] : {std::pair{500.0, "500 1024 "
                                                            "00090001"
                                                            "00000000"
                                                            "400d0300"},
                                           {0.4, "1 1024 "
                                                 "00090001"
                                                 "00000000"
                                                 "00e1f505"}}) {
            w.showWindow();
            frequency->setValue(hz);
            filter->setChecked(false);
            buffer->setCurrentText("1024");
            QCOMPARE(press(QDialogButtonBox::Ok), QString(expected) + QString(40, '0'));
            QVERIFY(!w.isVisible());
        }
    }

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
        passEvents();                        // the replots every new chart queues for itself
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
                QCOMPARE(
                    QString("%1 %2 %3").arg(d->replots > 0).arg(d->drawnPoints).arg(d->drawnKeyEnd),
                    QStringLiteral("1 5 5"));
        }
        // Now the spectrum's tab is behind.
        const int spectrumReplots = logs["dockFFT"][0]->replots;
        emit theUpdater->replotGraphs();
        passEvents();
        QCOMPARE(logs["dockFFT"][0]->replots, spectrumReplots);
    }

    void regionsFromConfigurationAndResetZoom()
    {
        WidgetGraphXY w(0);
        QCustomPlot* p = plotOf(w);
        auto* roi = qobject_cast<QCPItemRect*>(p->item(0));
        auto* roc = qobject_cast<QCPItemRect*>(p->item(1));
        QCOMPARE((QList<QPointF>{roi->bottomRight->coords(), roc->topLeft->coords(),
                                 roc->bottomRight->coords()}),
                 (QList<QPointF>{{100, -50}, {-150, 75}, {150, -75}}));
        p->xAxis->setRange(-1, 1);
        QTest::mouseClick(w.findChild<QPushButton*>("resetZoomButton"), Qt::LeftButton);
        QCOMPARE(p->xAxis->range(), QCPRange(-150, 150));
        QCOMPARE(p->yAxis->range(), QCPRange(-75, 75));

        // An unset region keeps the last zoom rather than collapsing it...
        w.setRegions(0, 0, 0);
        w.resetZoom();
        QCOMPARE(p->xAxis->range(), QCPRange(-150, 150));

        // ...until there are positions: then it shows the beam.
        fill(w.graphData(), {3.0, 5.0}, {-2.0, 2.0});
        w.resetZoom();
        const QCPRange x = p->xAxis->range(), y = p->yAxis->range();
        QVERIFY(x.lower < 3.0 && x.upper > 5.0 && x.size() < 10.0 && y.lower < -2.0 &&
                y.upper > 2.0);
    }

    // The setpoint drawn where the loops this plot's BPM feeds regulate:
    // a line per loop, a cross for both; a stale drawing goes.
    void setpointDrawingFollowsModeAndSources()
    {
        // Raw setpoints 3, -2; BPM1 scales 2, 4; BPM2 scales 5, 10; X source BPM1.
        const std::tuple<int, int, int, const char*> rows[] = {// bpm, mode, Y source, drawn
                                                               {0, 0, 0, "line (6,-4) (6,4)"},
                                                               {1, 2, 1, "none"},
                                                               {0, 1, 0, "cross (6,-8)"},
                                                               {0, 1, 1, "line (6,-4) (6,4)"},
                                                               {1, 1, 1, "line (-5,-20) (5,-20)"},
                                                               {1, 4, 1, "line (-5,-20) (5,-20)"},
                                                               {0, 5, 0, "none"}};
        for (const auto& [bpm, mode, sourceY, shape] : rows) {
            f.controller.regulationMode = uint8_t(mode);
            pidSourceY = sourceY;
            WidgetGraphXY w(bpm);
            QCPGraph* setpoint = plotOf(w)->graph(1);
            QVERIFY(!setpoint->visible());
            setpoint->addData(1, 1);
            w.updateGraphXY();
            QString drawn =
                setpoint->scatterStyle().shape() == QCPScatterStyle::ssCross ? "cross" : "line";
            for (const QCPGraphData& d : *setpoint->data())
                drawn += QString(" (%1,%2)").arg(d.key).arg(d.value);
            QCOMPARE(QString("%1 %2: ").arg(bpm).arg(mode) + (drawn.contains('(') ? drawn : "none"),
                     QString("%1 %2: ").arg(bpm).arg(mode) + shape);
            QVERIFY(setpoint->visible());
        }
    }

    // A click exactly on the ROI edge is sent in raw units, outside XY mode
    // whichever BPM feeds the loop; one pixel further, or beyond the
    // opposite edge, is refused.
    void clickOnRoiBoundaryIsSentInRawUnits_modeXYSendsOneCoordinatePerPlot()
    {
        pidSourceX = 1;
        pidSourceY = 1;
        for (const bool horizontal : {true, false}) {
            f.driver.clearCalls();
            f.controller.regulationMode = horizontal ? zevo::MODE_X_I0 : zevo::MODE_Y;
            BoxCatcher boxes;
            WidgetGraphXY w(0);
            show(w);
            QSignalSpy changed(&w, &WidgetGraphXY::XYchanged);
            // Put the ROI edge exactly where the click pixel lands.
            const QPoint pixel = horizontal ? pixelOf(w, 100, 30) : pixelOf(w, 60, 50);
            const double edge = horizontal ? plotOf(w)->xAxis->pixelToCoord(pixel.x())
                                           : plotOf(w)->yAxis->pixelToCoord(pixel.y());
            QVERIFY(
                f.config->setRocRoi(0, horizontal ? edge : 100, horizontal ? 50 : edge, 0, 0, 150));
            click(w, pixel);
            click(w, horizontal ? pixel + QPoint(1, 0) : pixel - QPoint(0, 1));
            click(w, horizontal ? pixelOf(w, -edge - 2, 30) : pixelOf(w, 60, -edge - 2));
            QCOMPARE(setpoints(),
                     (Sent{{horizontal ? 0 : 1, horizontal ? edge / 2.0 : edge / 4.0}}));
            QCOMPARE(QString("%1 %2").arg(changed.count()).arg(boxes.boxes.size()), "1 2");
        }

        // In XY mode each plot sends the coordinate of the loop its BPM feeds,
        // and only when both coordinates lie inside.
        f.controller.regulationMode = zevo::MODE_XY;
        pidSourceX = 0;
        f.driver.clearCalls();
        BoxCatcher boxes;
        WidgetGraphXY bpm1(0), bpm2(1);
        show(bpm1);
        show(bpm2);
        const QPoint p1 = pixelOf(bpm1, 40, 20);
        const QPoint p2 = pixelOf(bpm2, -40, -20);
        click(bpm1, p1);
        click(bpm2, p2);
        click(bpm1, pixelOf(bpm1, 40, 60));
        QCOMPARE(setpoints(), (Sent{{0, plotOf(bpm1)->xAxis->pixelToCoord(p1.x()) / 2.0},
                                    {1, plotOf(bpm2)->yAxis->pixelToCoord(p2.y()) / 10.0}}));
        QCOMPARE(int(boxes.boxes.size()), 1);
    }

    // Who may click a setpoint: nothing without the target switch or below
    // level 1; a refusal outside the ROI; a scale factor of 0 works in raw
    // units (never an infinite setpoint).
    void clickSendsOrRefuses()
    {
        const std::tuple<int, bool, int, double, double, const char*> rows[] = {
            // level, target, mode, X scale, x clicked, the loop sent ("X", "Y"), "box" or none
            {0, true, 0, 2, 10, ""},     {2, false, 0, 2, 10, ""}, {1, true, 0, 2, 10, "X"},
            {1, true, 0, 2, 140, "box"}, {2, true, 0, 0, 10, "X"}, {2, true, 3, 0, 10, "Y"}};
        for (const auto& [level, target, mode, scaleX, atX, outcome] : rows) {
            userLevel = level;
            f.controller.regulationMode = uint8_t(mode);
            bpmScale.set(0, scaleX, 4.0);
            f.driver.clearCalls();
            BoxCatcher boxes;
            WidgetGraphXY w(0);
            show(w);
            w.findChild<QAbstractButton*>("tagetEnable")->setChecked(target);
            QSignalSpy changed(&w, &WidgetGraphXY::XYchanged);
            const QPoint pixel = pixelOf(w, atX, 10);
            click(w, pixel);
            const double x = plotOf(w)->xAxis->pixelToCoord(pixel.x()) / (scaleX ? scaleX : 1);
            const double y = plotOf(w)->yAxis->pixelToCoord(pixel.y()) / 4.0;
            const QString o = outcome;
            const Sent sent = o == "X" ? Sent{{0, x}} : o == "Y" ? Sent{{1, y}} : Sent{};
            QCOMPARE(setpoints(), sent);
            QCOMPARE(QString("%1: %2 %3").arg(o).arg(changed.count()).arg(boxes.boxes.size()),
                     QString("%1: %2 %3").arg(o).arg(!sent.isEmpty()).arg(o == "box"));
        }
    }
};

QTEST_MAIN(TestPlots)
#include "tst_timeplots.moc"
