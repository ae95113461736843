// The FFT, currents and position plots: what they hand to the display
// updater, and how their axes follow the data between display cycles.

#include "support/programfixture.h"
#include "support/widgets.h"

#include "plots/widgetgraphcurrents.h"
#include "plots/widgetgraphfft.h"
#include "plots/widgetgraphpos.h"

#include <QCheckBox>
#include <QComboBox>

namespace
{

bool hasLogTicker(const QCPAxis* axis)
{
    return axis->scaleType() == QCPAxis::stLogarithmic &&
           !axis->ticker().dynamicCast<QCPAxisTickerLog>().isNull();
}

// A chart fits its axes only while it can be seen.
bool showOnScreen(QWidget& w)
{
    w.resize(700, 600);
    w.show();
    return QTest::qWaitForWindowExposed(&w);
}

} // namespace

class TestTimePlots : public QObject
{
    Q_OBJECT

    ProgramFixture f;

private slots:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void fftControlsDriveTheUpdater()
    {
        f.updater->fftLength = 77;
        WidgetGraphFFT w;
        QCustomPlot* p = child<QCustomPlot>(w, "graph");
        QCOMPARE(f.updater->fftSelector(), 24);
        QCOMPARE(f.updater->fftLength, 1024);
        QCOMPARE(p->graph(0)->pen(), QPen(QBrush(QColor(221, 221, 0)), 2));
        QVERIFY(hasLogTicker(p->xAxis) && hasLogTicker(p->yAxis));

        child<QComboBox>(w, "selectorComboBox")->setCurrentText("BPM1, PosY");
        QCOMPARE(f.updater->fftSelector(), 1);
        QCOMPARE(p->graph(0)->pen().color(), QColor(0, 204, 204));
        w.fftSelectorChanged("no such signal");
        QCOMPARE(f.updater->fftSelector(), 0);
        QCOMPARE(p->graph(0)->pen().color(), QColor(255, 255, 255));

        child<QComboBox>(w, "fFTLengthComboBox")->setCurrentText("8192");
        QCOMPARE(f.updater->fftLength, 8192);
        child<QCheckBox>(w, "removeDCCheckBox")->setChecked(true);
        QVERIFY(f.updater->removeDC);
    }

    // The 0 Hz bin and zero amplitudes cannot be shown on log axes; they
    // must neither be drawn off the chart nor be lost for a linear axis.
    void fftLogAxesLeaveOutNonPositivePoints()
    {
        WidgetGraphFFT w;
        QVERIFY(showOnScreen(w));
        QCustomPlot* p = child<QCustomPlot>(w, "graph");
        fill(w.graphData(), {0, 1, 2, 3, 4}, {5, 0, 3, -1, 20});
        w.replot();
        const auto shown = p->graph(0)->data();
        QCOMPARE(shown->size(), 4);
        QCOMPARE(shown->at(0)->key, 1.0);
        QVERIFY(qIsNaN(shown->at(0)->value) && qIsNaN(shown->at(2)->value));
        QCOMPARE(p->xAxis->range(), QCPRange(2, 4)); // a gap does not count
        QCOMPARE(p->yAxis->range(), QCPRange(3, 20));

        child<QComboBox>(w, "xAxisComboBox")->setCurrentText("Lin");
        child<QComboBox>(w, "yAxisComboBox")->setCurrentText("Lin");
        QVERIFY(p->yAxis->ticker().dynamicCast<QCPAxisTickerLog>().isNull());
        QCOMPARE(p->graph(0)->data()->size(), 5);
        QCOMPARE(p->xAxis->range(), QCPRange(0, 4));
        QCOMPARE(p->yAxis->range(), QCPRange(-1, 20));
    }

    void currentsAutoscaleFollowsVisibleSeriesOnly()
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
        QCOMPARE(p->xAxis->range(), QCPRange(0, 2));
        QCOMPARE(p->yAxis->range(), QCPRange(1, 4));

        // Without autoscale a dragged view stays while the data change.
        child<QCheckBox>(w, "buttonAutoscale")->setChecked(false);
        p->xAxis->setRange(0.5, 1.5);
        fill(w.graphData(0), {0, 10}, {-7, 7});
        w.replot();
        QCOMPARE(p->xAxis->range(), QCPRange(0.5, 1.5));
        QCOMPARE(p->yAxis->range(), QCPRange(1, 4));
        // The initial span survives a display frequency of 0.
        SAMP_FREQ = 0;
        const QCPRange r =
            child<QCustomPlot>(WidgetGraphCurrents(nullptr, 2), "graph")->xAxis->range();
        QVERIFY(std::isfinite(r.upper) && r.upper > 0 && r.lower == 0);
    }

    void positionCheckBoxesActAtTheNextReplot()
    {
        WidgetGraphPos w;
        QVERIFY(showOnScreen(w));
        QCustomPlot* pos = child<QCustomPlot>(w, "position");
        QCustomPlot* intens = child<QCustomPlot>(w, "intens");
        QVERIFY(!intens->isHidden());
        fill(w.graphData(WidgetGraphPos::HorPos), {0, 1}, {-3, 3});
        fill(w.graphData(WidgetGraphPos::VertPos), {0, 4}, {10, 20});
        fill(w.graphData(WidgetGraphPos::Intensity), {0, 2}, {1e-6, 2e-6});
        w.replot();
        QCOMPARE(pos->yAxis->range(), QCPRange(-3, 3));
        QCOMPARE(pos->yAxis2->range(), QCPRange(10, 20));
        QCOMPARE(intens->yAxis->range(), QCPRange(1e-6, 2e-6));

        child<QCheckBox>(w, "horPosCheckbox")->setChecked(false);
        QVERIFY(pos->graph(0)->visible());
        fill(w.graphData(WidgetGraphPos::HorPos), {0, 9}, {-50, 50});
        fill(w.graphData(WidgetGraphPos::VertPos), {0, 4}, {11, 12});
        w.replot();
        QVERIFY(!pos->graph(0)->visible());
        QCOMPARE(pos->yAxis->range(), QCPRange(-3, 3)); // the left axis keeps its range
        QCOMPARE(pos->yAxis2->range(), QCPRange(11, 12));
        QCOMPARE(pos->xAxis->range(), QCPRange(0, 9)); // time spans every series
    }

    void backgroundGradientFollowsChartHeight()
    {
        WidgetGraphPos w;
        w.resize(600, 700);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (const char* name : {"position", "intens"}) {
            QCustomPlot* p = child<QCustomPlot>(w, name);
            const QGradient* g = p->axisRect()->backgroundBrush().gradient();
            QVERIFY(g && g->type() == QGradient::LinearGradient);
            QCOMPARE(static_cast<const QLinearGradient*>(g)->finalStop().y(), qreal(p->height()));
            QVERIFY(p->height() != 200); // not the initial extent
        }
    }

    void positionHidesIntensityWithEncoderInterface()
    {
        f.controller.slotContents[1].deviceId = uint16_t(zevo::kFamilyPavun << 8 | 1);
        f.mailbox->scanSlots();
        WidgetGraphPos w;
        QVERIFY(child<QCustomPlot>(w, "intens")->isHidden() &&
                !child<QCustomPlot>(w, "position")->isHidden());
    }
};

QTEST_MAIN(TestTimePlots)
#include "tst_timeplots.moc"
