#include "acquisition/updater.h"
#include "device/globals.h"
#include "support/recordingdriver.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <qcustomplot.h>

#include <fcntl.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>

using namespace zevo;
using Call = RecordingDriver::Call;

namespace
{

// A driver holding n records made by `fill` (zeros by default); the cycle asks for all of them.
std::unique_ptr<RecordingDriver>
driverWith(int n, const std::function<void(int, DisplayRecord&)>& fill = {})
{
    std::vector<DisplayRecord> records(std::size_t(n), DisplayRecord{});
    for (int i = 0; fill && i < n; ++i)
        fill(i, records[std::size_t(i)]);
    auto driver = std::make_unique<RecordingDriver>();
    driver->setDisplayRecords(std::move(records));
    BUFFER_BYTES = n * kDisplayRecordBytes;
    return driver;
}

SeriesPtr registered(Updater& u, int kind, int index = 0)
{
    const SeriesPtr s = SeriesPtr::create();
    u.setGraphData(kind, index, s);
    return s;
}

QCPGraphData point(const SeriesPtr& s, int i)
{
    return *(s->constBegin() + i);
}

// Sine of `bin` cycles per 1024 records: it falls exactly on one bin of a 1024-point transform.
double sine(int i, int bin)
{
    return std::sin(2.0 * M_PI * bin * i / 1024.0);
}

// Records the missing-driver path, and quits nothing.
class ObservedUpdater : public Updater
{
public:
    using Updater::Updater;
    QStringList events;

protected:
    void showMissingDriverMessage() override
    {
        Updater::showMissingDriverMessage();
        events << "message";
    }
    void requestQuit() override { events << "quit"; }
};

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        SAMP_FREQ = 1000;
        bpmScale = BpmScaleFactors{};
    }

    // Time series: single-precision keys, the newest records, the right value
    // per slot, scale factors on positions only and read afresh every cycle.
    void timeSeries_newestRecordsScaledPositions()
    {
        auto driver = driverWith(3000, [](int i, DisplayRecord& r) {
            for (int f = 0; f < 32; ++f)
                r.value[f] = f * 10000.0 + i;
        });
        BUFFER_BYTES = 2048 * kDisplayRecordBytes; // records 952 to 2999
        SAMP_FREQ = 3000;
        bpmScale.set(0, 2.0, -3.0);
        bpmScale.set(1, 0.5, 4.0);
        ObservedUpdater u(*driver);
        struct Expect {
            int kind, slot, field;
            double factor;
            SeriesPtr s;
        };
        std::vector<Expect> expect = {
            {Updater::KindCurrents1, 0, 24, 1, {}}, {Updater::KindCurrents1, 3, 27, 1, {}},
            {Updater::KindCurrents2, 0, 28, 1, {}}, {Updater::KindCurrents2, 3, 31, 1, {}},
            {Updater::KindPosition1, 0, 0, 2, {}},  {Updater::KindPosition1, 1, 1, -3, {}},
            {Updater::KindPosition1, 2, 2, 1, {}},  {Updater::KindPosition2, 0, 4, 0.5, {}},
            {Updater::KindPosition2, 1, 5, 4, {}},  {Updater::KindPosition2, 2, 6, 1, {}},
            {Updater::KindDac, 0, 8, 1, {}},        {Updater::KindDac, 2, 10, 1, {}},
        };
        for (Expect& e : expect)
            e.s = registered(u, e.kind, e.slot);
        u.updateGraphs();

        QVERIFY(double(1.0f / 3000.0f) != 1.0 / 3000.0); // the keys below tell the two apart
        for (const Expect& e : expect) {
            QCOMPARE(e.s->size(), 2048);
            for (int i : {0, 1, 777, 2047}) {
                QCOMPARE(point(e.s, i).key, double(float(i) / 3000.0f));
                QCOMPARE(point(e.s, i).value, e.factor * (e.field * 10000.0 + 952 + i));
            }
        }
        bpmScale.set(0, 7.0, 1.0);
        u.updateGraphs();
        QCOMPARE(point(expect[4].s, 0).value, 7.0 * 952);
    }

    // Nonsense from elsewhere: a display rate that is not positive must not
    // give equal or infinite keys; kinds and slots that do not exist are
    // ignored and disturb no real series.
    void nonsenseSettings_keysStillAscend_straySlotsIgnored()
    {
        auto driver = driverWith(1024);
        SAMP_FREQ = 0;
        ObservedUpdater u(*driver);
        const SeriesPtr dac = registered(u, Updater::KindDac),
                        fft = registered(u, Updater::KindFFT), xy = registered(u, Updater::KindXY1),
                        stray = SeriesPtr::create();
        const std::pair<int, int> straySlots[] = {{5, 0},
                                                  {6, 0},
                                                  {10, 0},
                                                  {-1, 0},
                                                  {Updater::KindXY1, 1},
                                                  {Updater::KindCurrents1, 4},
                                                  {Updater::KindDac, 3},
                                                  {Updater::KindPosition2, -1}};
        for (const auto& [kind, index] : straySlots)
            u.setGraphData(kind, index, stray);
        u.updateGraphs();
        QCOMPARE(dac->size(), 1024);
        QCOMPARE(fft->size(), 513);
        for (const SeriesPtr& s : {dac, fft})
            for (int i = 1; i < s->size(); ++i)
                QVERIFY(std::isfinite(point(s, i).key) && point(s, i).key > point(s, i - 1).key);
        QCOMPARE(xy->size(), 1); // all-zero records: one X
        QCOMPARE(stray->size(), 0);
    }

    // XY clouds: the newest 1000 records keyed by scaled X, the later of equal
    // X wins, no X (NaN) no point; BPM2 with its own values and scales.
    void xyCloud_newestRecordsKeyedByScaledX()
    {
        auto fill = [](int i, DisplayRecord& r) {
            r.value[disp::Bpm1X] = i == 1400 ? NAN : i == 480 ? 777.5 : (i * 37) % 500;
            r.value[disp::Bpm1Y] = i;
            r.value[disp::Bpm2X] = (i * 11) % 300;
            r.value[disp::Bpm2Y] = -i;
        };
        auto driver = driverWith(1500, fill);
        bpmScale.set(0, 2.0, 3.0);
        bpmScale.set(1, -1.0, 0.5);
        ObservedUpdater u(*driver);
        const SeriesPtr xy[2] = {registered(u, Updater::KindXY1), registered(u, Updater::KindXY2)};
        u.updateGraphs();

        for (int bpm : {0, 1}) {
            std::map<double, double> model; // an ordered map that replaces equal keys
            for (int i = 500; i < 1500; ++i) {
                DisplayRecord r{};
                fill(i, r);
                if (!std::isnan(r.value[disp::bpmX(bpm)]))
                    model[r.value[disp::bpmX(bpm)] * bpmScale.x(bpm)] =
                        r.value[disp::bpmY(bpm)] * bpmScale.y(bpm);
            }
            QCOMPARE(xy[bpm]->size(), int(model.size()));
            int i = 0;
            for (const auto& [x, y] : model) {
                QCOMPARE(point(xy[bpm], i).key, x);
                QCOMPARE(point(xy[bpm], i++).value, y);
            }
        }
        driver->setDisplayRecords(std::vector<DisplayRecord>(300, DisplayRecord{}));
        BUFFER_BYTES = 300 * kDisplayRecordBytes;
        u.updateGraphs();
        QCOMPARE(xy[0]->size(), 1); // fewer records than the cloud holds: all of them, here one X
    }

    void spectrum_data()
    {
        QTest::addColumn<int>("selector");
        QTest::addColumn<double>("factor");
        QTest::addColumn<bool>("removeDC");
        QTest::newRow("BPM1 X scaled") << 0 << 2.0 << false;
        QTest::newRow("BPM1 Y scaled, DC removed") << 1 << 3.0 << true;
        QTest::newRow("BPM1 I0 unscaled") << 2 << 1.0 << false;
        QTest::newRow("picoammeter channel unscaled, DC removed") << 25 << 1.0 << true;
    }

    // A sine on an exact bin over the newest 1024 records (older records carry
    // another frequency): A/2 at its bin, the offset at 0 Hz unless removed, nothing else.
    void spectrum()
    {
        QFETCH(int, selector);
        QFETCH(double, factor);
        QFETCH(bool, removeDC);
        const int n = kDisplayBufferRecords;
        auto driver = driverWith(n, [n](int i, DisplayRecord& r) {
            for (int f : {0, 1, 2, 25})
                r.value[f] = 5.0 + 4.0 * sine(i, i >= n - 1024 ? 100 : 40);
        });
        bpmScale.set(0, 2.0, 3.0);
        ObservedUpdater u(*driver);
        const SeriesPtr fft = registered(u, Updater::KindFFT);
        u.setFFTselector(selector);
        u.ChangeFFTremoveDC(removeDC);
        u.updateGraphs();

        QCOMPARE(fft->size(), 513);
        QCOMPARE(point(fft, 1).key, 0.9765625);
        QCOMPARE(point(fft, 512).key, 500.0);
        for (int k = 0; k < 513; ++k) {
            const double expected = k == 100              ? factor * 2.0
                                    : k == 0 && !removeDC ? factor * 5.0
                                                          : 0.0;
            QVERIFY2(std::abs(point(fft, k).value - expected) < 1e-9,
                     qPrintable(QString::number(k)));
        }
    }

    void spectrum_length_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("points");
        QTest::newRow("longer than a 1024-record buffer") << 1024 << 8192 << 513;
        QTest::newRow("8192 of the default buffer") << kDisplayBufferRecords << 8192 << 4097;
        QTest::newRow("not a power of two") << 2048 << 1000 << 501;
        QTest::newRow("one") << 1024 << 1 << 0;
        QTest::newRow("negative") << 1024 << -64 << 0;
    }

    // A length the buffer cannot supply uses only records that are there (the
    // sine keeps its true amplitude); nonsense lengths give no spectrum.
    void spectrum_length()
    {
        QFETCH(int, records);
        QFETCH(int, length);
        QFETCH(int, points);
        auto driver =
            driverWith(records, [](int i, DisplayRecord& r) { r.value[1] = 6.0 * sine(i, 64); });
        ObservedUpdater u(*driver);
        const SeriesPtr fft = registered(u, Updater::KindFFT);
        fft->add(QCPGraphData(1.0, 1.0));
        u.fftLength = length;
        u.updateGraphs();

        QCOMPARE(fft->size(), points);
        const int n = 2 * (points - 1);
        if (points > 0)
            QCOMPARE(point(fft, 1).key, 1000.0 / n);
        if (points > 0 && n % 1024 == 0)
            QVERIFY(std::abs(point(fft, 64 * n / 1024).value - 3.0) < 1e-9);
    }

    // The picoammeter records: both nodes opened read-only and closed again,
    // refreshed even while paused, when nothing else is; a missing second node
    // or a failing request keeps the last record and stops nothing else,
    // silently.
    void picoInfo_refreshedWhilePaused_missingNodeKeepsLast()
    {
        auto driver = driverWith(kDisplayBufferRecords);
        PicoInfoRecord info{};
        info.currentCh1 = 1e-6;
        driver->setPicoInfo(0, info);
        driver->setPicoInfo(1, info);
        ObservedUpdater u(*driver);
        const SeriesPtr dac = registered(u, Updater::KindDac);
        dac->add(QCPGraphData(1.0, 2.0));
        QSignalSpy replots(&u, &Updater::replotGraphs);

        u.paused = true;
        u.updateGraphs();
        QCOMPARE(double(u.picoInfo(1).currentCh1), 1e-6);
        for (const Call& c : driver->calls())
            QVERIFY(c.kind != Call::Open || c.flags == O_RDONLY);
        QCOMPARE(driver->countCalls(Call::Open), 2);
        QCOMPARE(driver->countCalls(Call::Close), 2);
        QCOMPARE(driver->countCalls(Call::GetBuffer), 0);
        QCOMPARE(replots.count(), 0);
        QCOMPARE(dac->size(), 1);

        info.currentCh1 = 2e-6;
        driver->setPicoInfo(0, info);
        driver->setPicoInfo(1, info);
        driver->setNodePresent(kPico1Node, false);
        u.paused = false;
        u.updateGraphs();
        QCOMPARE(double(u.picoInfo(0).currentCh1), 2e-6);
        QCOMPARE(double(u.picoInfo(1).currentCh1), 1e-6);
        QCOMPARE(u.events, QStringList());
        QCOMPARE(replots.count(), 1);
        QCOMPARE(dac->size(), kDisplayBufferRecords);

        // An open node whose request fails keeps its record too, and is closed.
        info.currentCh1 = 3e-6;
        driver->setPicoInfo(0, info);
        driver->setNodePresent(kPico1Node, true);
        driver->failRequest(AMM_IOC_GET_INFO);
        driver->clearCalls();
        u.updateGraphs();
        QCOMPARE(double(u.picoInfo(0).currentCh1), 2e-6);
        QCOMPARE(double(u.picoInfo(1).currentCh1), 1e-6);
        QCOMPARE(driver->countCalls(Call::Close), driver->countCalls(Call::Open));
        QCOMPARE(u.events, QStringList());
        QCOMPARE(replots.count(), 2);
    }

    void missingDriver_data()
    {
        QTest::addColumn<int>("heldRecords");
        QTest::addColumn<int>("result");
        QTest::newRow("library missing") << kDisplayBufferRecords << -1;
        QTest::newRow("short fetch") << 1000 << INT_MIN; // fewer records than asked for
    }

    // A failed fetch: one critical, parentless message box (a cycle fired by
    // the timer while it is open shows no second one), then quit; nothing
    // plotted, no further cycles.
    void missingDriver()
    {
        QFETCH(int, heldRecords);
        QFETCH(int, result);
        auto driver = driverWith(heldRecords);
        BUFFER_BYTES = kDisplayBufferBytes;
        driver->setGetBufferResult(result);
        ObservedUpdater u(*driver);
        const SeriesPtr dac = registered(u, Updater::KindDac);
        dac->add(QCPGraphData(1.0, 2.0));
        QSignalSpy replots(&u, &Updater::replotGraphs);
        QList<QMessageBox*> seen;
        QStringList shown;
        QTimer operatorHand; // reads a box on one tick, presses OK on the next
        connect(&operatorHand, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && seen.contains(box)) {
                box->button(QMessageBox::Ok)->click();
            } else if (box && (seen << box).size() == 1) {
                shown = QStringList{QString::number(box->icon()), box->windowTitle(), box->text(),
                                    QString::number(box->standardButtons()),
                                    QString::number(!box->parent())};
                // The display timer fires meanwhile.
                QTimer::singleShot(0, &u, &Updater::updateGraphs);
            }
        });
        operatorHand.start(10);
        for (int cycle = 0; cycle < 3; ++cycle)
            u.updateGraphs();

        QCOMPARE(seen.size(), 1);
        QCOMPARE(shown, QStringList({QString::number(QMessageBox::Critical), "Cannot open file",
                                     "System file /dev/zevo_dma_displ could not be opened.\n\n"
                                     "Please check if ZEVO driver is loaded.\nApplication will now "
                                     "quit.\n",
                                     QString::number(QMessageBox::Ok), "1"}));
        QCOMPARE(u.events, QStringList({"message", "quit"}));
        QCOMPARE(driver->countCalls(Call::GetBuffer), 1);
        QCOMPARE(replots.count(), 0);
        QCOMPARE(dac->size(), 1);
        QCOMPARE(u.recordCount(), 0);
    }
};

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
