// The XY plot: regions, setpoint drawing by regulation mode, and setpoints
// sent by clicking, checked in the bytes that reach the controller.

#include "support/programfixture.h"

#include "plots/widgetgraphxy.h"

#include <QSignalSpy>

namespace cmd = zevo::cmd;

class TestGraphXY : public QObject
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
    void init()
    {
        f.setUp();
        f.controller.setpoints[0] = 3.0;
        f.controller.setpoints[1] = -2.0;
        QVERIFY(f.config->setRocRoi(0, 100, 50, 0, 0, 150));
        QVERIFY(f.config->setRocRoi(1, 100, 50, 0, 0, 150));
        bpmScale.set(0, 2.0, 4.0);
        bpmScale.set(1, 5.0, 10.0);
        pidSourceX = 0;
        pidSourceY = 0;
        userLevel = 2;
        f.controller.regulationMode = zevo::MODE_X;
    }

    void cleanup() { f.tearDown(); }

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
        const std::tuple<int, int, int, const char*> rows[] = {
            // bpm, mode, Y source, drawn
            {0, 0, 0, "line (6,-4) (6,4)"},     {1, 2, 1, "none"},
            {0, 1, 0, "cross (6,-8)"},          {0, 1, 1, "line (6,-4) (6,4)"},
            {1, 1, 1, "line (-5,-20) (5,-20)"}, {1, 4, 1, "line (-5,-20) (5,-20)"},
            {0, 5, 0, "none"}};
        for (const auto& [bpm, mode, sourceY, shape] : rows) {
            f.controller.regulationMode = uint8_t(mode);
            pidSourceY = sourceY;
            WidgetGraphXY w(bpm);
            QCPGraph* setpoint = plotOf(w)->graph(1);
            QVERIFY(!setpoint->visible());
            setpoint->addData(1, 1);
            w.updateGraphXY();
            QString drawn = setpoint->scatterStyle().shape() == QCPScatterStyle::ssCross ? "cross"
                                                                                       : "line";
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
    void clickOnRoiBoundaryIsSentInRawUnits()
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
            QVERIFY(f.config->setRocRoi(0, horizontal ? edge : 100, horizontal ? 50 : edge, 0, 0,
                                        150));
            click(w, pixel);
            click(w, horizontal ? pixel + QPoint(1, 0) : pixel - QPoint(0, 1));
            click(w, horizontal ? pixelOf(w, -edge - 2, 30) : pixelOf(w, 60, -edge - 2));
            QCOMPARE(setpoints(), (Sent{{horizontal ? 0 : 1, horizontal ? edge / 2.0 : edge / 4.0}}));
            QCOMPARE(QString("%1 %2").arg(changed.count()).arg(boxes.boxes.size()), "1 2");
        }
    }

    // In XY mode each plot sends the coordinate of the loop its BPM feeds,
    // and only when both coordinates lie inside.
    void modeXYWithSplitSourcesSendsOneCoordinatePerPlot()
    {
        f.controller.regulationMode = zevo::MODE_XY;
        pidSourceY = 1;
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
    // level 1; a refusal outside the ROI or where the loop's scale factor is
    // 0 (never an infinite setpoint); a loop that does not need the zero
    // factor still takes its setpoint.
    void clickSendsOrRefuses()
    {
        const std::tuple<int, bool, int, double, double, const char*> rows[] = {
            // level, target, mode, X scale, x clicked, the loop sent ("X", "Y"), "box" or none
            {0, true, 0, 2, 10, ""},  {2, false, 0, 2, 10, ""}, {1, true, 0, 2, 10, "X"},
            {1, true, 0, 2, 140, "box"}, {2, true, 0, 0, 10, "box"}, {2, true, 3, 0, 10, "Y"}};
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
            const double x = plotOf(w)->xAxis->pixelToCoord(pixel.x()) / scaleX;
            const double y = plotOf(w)->yAxis->pixelToCoord(pixel.y()) / 4.0;
            const QString o = outcome;
            const Sent sent = o == "X" ? Sent{{0, x}} : o == "Y" ? Sent{{1, y}} : Sent{};
            QCOMPARE(setpoints(), sent);
            QCOMPARE(QString("%1: %2 %3").arg(o).arg(changed.count()).arg(boxes.boxes.size()),
                     QString("%1: %2 %3").arg(o).arg(!sent.isEmpty()).arg(o == "box"));
        }
    }
};

QTEST_MAIN(TestGraphXY)
#include "tst_graphxy.moc"
