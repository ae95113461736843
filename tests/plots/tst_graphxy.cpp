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
        QCOMPARE(roi->bottomRight->coords(), QPointF(100, -50));
        QCOMPARE(roc->topLeft->coords(), QPointF(-150, 75));
        QCOMPARE(roc->bottomRight->coords(), QPointF(150, -75));

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

    void setpointDrawingFollowsModeAndSources_data()
    {
        QTest::addColumn<int>("bpm");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("sourceY");
        QTest::addColumn<QString>("shape");
        // Raw setpoints 3, -2; BPM1 scales 2, 4; BPM2 scales 5, 10; X source BPM1.
        QTest::newRow("X") << 0 << 0 << 0 << "line (6,-4) (6,4)";
        QTest::newRow("X+I0, other BPM") << 1 << 2 << 1 << "none";
        QTest::newRow("XY, both sources") << 0 << 1 << 0 << "cross (6,-8)";
        QTest::newRow("XY, X source only") << 0 << 1 << 1 << "line (6,-4) (6,4)";
        QTest::newRow("XY, Y source only") << 1 << 1 << 1 << "line (-5,-20) (5,-20)";
        QTest::newRow("Y+I0") << 1 << 4 << 1 << "line (-5,-20) (5,-20)";
        QTest::newRow("XY+I0") << 0 << 5 << 0 << "none";
    }

    void setpointDrawingFollowsModeAndSources()
    {
        QFETCH(int, bpm);
        QFETCH(int, mode);
        QFETCH(int, sourceY);
        QFETCH(QString, shape);
        f.controller.regulationMode = uint8_t(mode);
        pidSourceY = sourceY;
        WidgetGraphXY w(bpm);
        QCPGraph* setpoint = plotOf(w)->graph(1);
        QVERIFY(!setpoint->visible());
        setpoint->addData(1, 1); // a stale drawing must go
        w.updateGraphXY();
        QVERIFY(setpoint->visible());

        QStringList points;
        for (const QCPGraphData& d : *setpoint->data())
            points << QString("(%1,%2)").arg(d.key).arg(d.value);
        const bool cross = setpoint->scatterStyle().shape() == QCPScatterStyle::ssCross;
        const QString drawn =
            points.isEmpty() ? "none" : (cross ? "cross " : "line ") + points.join(' ');
        QCOMPARE(drawn, shape);
    }

    void clickOnRoiBoundaryIsSentInRawUnits_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("horizontal");
        QTest::newRow("X+I0") << int(zevo::MODE_X_I0) << true;
        QTest::newRow("Y") << int(zevo::MODE_Y) << false;
    }

    // Outside XY mode the setpoint is sent whichever BPM feeds the loop.
    void clickOnRoiBoundaryIsSentInRawUnits()
    {
        QFETCH(int, mode);
        QFETCH(bool, horizontal);
        f.controller.regulationMode = uint8_t(mode);
        pidSourceX = 1;
        pidSourceY = 1;
        BoxCatcher boxes;
        WidgetGraphXY w(0);
        show(w);
        QSignalSpy changed(&w, &WidgetGraphXY::XYchanged);

        // Put the ROI edge exactly where the click pixel lands.
        const QPoint pixel = horizontal ? pixelOf(w, 100, 30) : pixelOf(w, 60, 50);
        const double edge = horizontal ? plotOf(w)->xAxis->pixelToCoord(pixel.x())
                                       : plotOf(w)->yAxis->pixelToCoord(pixel.y());
        QVERIFY(f.config->setRocRoi(0, horizontal ? edge : 100, horizontal ? 50 : edge, 0, 0, 150));

        click(w, pixel);
        QCOMPARE(setpoints(), (Sent{{horizontal ? 0 : 1, horizontal ? edge / 2.0 : edge / 4.0}}));
        QCOMPARE(changed.count(), 1);
        QVERIFY(boxes.boxes.empty());

        // One pixel further, and beyond the opposite edge, is outside.
        f.driver.clearCalls();
        click(w, horizontal ? pixel + QPoint(1, 0) : pixel - QPoint(0, 1));
        click(w, horizontal ? pixelOf(w, -edge - 2, 30) : pixelOf(w, 60, -edge - 2));
        QVERIFY(f.sent(cmd::SetSetpoint).empty());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(int(boxes.boxes.size()), 2);
        QCOMPARE(boxes.boxes[0].text, QString("Setpoint was set outside Region of Interest.\n\n"));
        QVERIFY(!boxes.boxes[0].hasParent);
    }

    void modeXYWithSplitSourcesSendsOneCoordinatePerPlot()
    {
        f.controller.regulationMode = zevo::MODE_XY;
        pidSourceY = 1;
        BoxCatcher boxes;
        WidgetGraphXY bpm1(0), bpm2(1);
        show(bpm1);
        show(bpm2);

        const QPoint p1 = pixelOf(bpm1, 40, 20);
        click(bpm1, p1);
        const QPoint p2 = pixelOf(bpm2, -40, -20);
        click(bpm2, p2);
        const Sent both{{0, plotOf(bpm1)->xAxis->pixelToCoord(p1.x()) / 2.0},
                        {1, plotOf(bpm2)->yAxis->pixelToCoord(p2.y()) / 10.0}};
        QCOMPARE(setpoints(), both);
        // Each plot shows a line, not a cross.
        QCOMPARE(plotOf(bpm1)->graph(1)->data()->size(), 2);
        QCOMPARE(plotOf(bpm2)->graph(1)->data()->size(), 2);

        // Both coordinates must lie inside.
        click(bpm1, pixelOf(bpm1, 40, 60));
        QCOMPARE(setpoints(), both);
        QCOMPARE(int(boxes.boxes.size()), 1);
    }

    void clickIgnoredWithoutTargetOrLevel_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("target");
        QTest::addColumn<int>("effects");
        QTest::newRow("cruise") << 0 << true << 0;
        QTest::newRow("target off") << 2 << false << 0;
        QTest::newRow("user") << 1 << true << 1;
    }

    void clickIgnoredWithoutTargetOrLevel()
    {
        QFETCH(int, level);
        QFETCH(bool, target);
        QFETCH(int, effects);
        userLevel = level;
        BoxCatcher boxes;
        WidgetGraphXY w(0);
        show(w);
        w.findChild<QAbstractButton*>("tagetEnable")->setChecked(target);
        QSignalSpy changed(&w, &WidgetGraphXY::XYchanged);

        click(w, pixelOf(w, 10, 10));
        click(w, pixelOf(w, 140, 10)); // outside the ROI
        QCOMPARE(int(f.sent(cmd::SetSetpoint).size()), effects);
        QCOMPARE(changed.count(), effects);
        QCOMPARE(int(boxes.boxes.size()), effects);
    }

    void zeroScaleIsRefusedNotSentAsInfinity()
    {
        bpmScale.set(0, 0.0, 4.0);
        BoxCatcher boxes;
        WidgetGraphXY w(0);
        show(w);
        click(w, pixelOf(w, 10, 10));
        QVERIFY(f.sent(cmd::SetSetpoint).empty());
        QCOMPARE(int(boxes.boxes.size()), 1);

        f.controller.regulationMode = zevo::MODE_Y; // the Y loop does not need the X factor
        click(w, pixelOf(w, 10, 10));
        QCOMPARE(int(f.sent(cmd::SetSetpoint).size()), 1);
    }
};

QTEST_MAIN(TestGraphXY)
#include "tst_graphxy.moc"
