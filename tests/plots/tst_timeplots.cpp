// The FFT, currents and position plots: what they hand to the display
// updater, and how their axes follow the data between display cycles; and
// the display settings dialog that sets the display rate and buffer. (The
// intensity chart with an encoder interface: tst_windowbeamlineconf.)

#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include "plots/widgetgraphcurrents.h"
#include "plots/widgetgraphfft.h"
#include "plots/widgetgraphpos.h"
#include "plots/windowdisplaysettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>

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

} // namespace

class TestTimePlots : public QObject
{
    Q_OBJECT

    ProgramFixture f;

private slots:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    // The spectrum's signal, length and DC removal reach the updater, the
    // form's choices from the start; an unknown signal is the first one.
    void fftControlsDriveTheUpdater()
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
        QCOMPARE(ranges(p), QStringLiteral("2 .. 4 | 3 .. 20"));

        child<QComboBox>(w, "xAxisComboBox")->setCurrentText("Lin");
        child<QComboBox>(w, "yAxisComboBox")->setCurrentText("Lin");
        QVERIFY(p->yAxis->ticker().dynamicCast<QCPAxisTickerLog>().isNull());
        QCOMPARE(p->graph(0)->data()->size(), 5);
        QCOMPARE(ranges(p), QStringLiteral("0 .. 4 | -1 .. 20"));
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
        for (const auto& [hz, expected] :
             {std::pair{500.0, "500 1024 " "00090001" "00000000" "400d0300"},
              {0.4, "1 1024 " "00090001" "00000000" "00e1f505"}}) {
            w.showWindow();
            frequency->setValue(hz);
            filter->setChecked(false);
            buffer->setCurrentText("1024");
            QCOMPARE(press(QDialogButtonBox::Ok), QString(expected) + QString(40, '0'));
            QVERIFY(!w.isVisible());
        }
    }
};

QTEST_MAIN(TestTimePlots)
#include "tst_timeplots.moc"
