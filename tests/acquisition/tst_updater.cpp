// The display cycle: time series, XY clouds and spectra from the newest
// display records, the picoammeter records, and a fetch that fails.

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
#include <tuple>

using namespace zevo;
using Call = RecordingDriver::Call;

namespace
{

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

// A driver holding n records made by `fill` (zeros by default), the cycle
// asking for all of them, and an updater over it.
struct Rig {
    RecordingDriver driver;
    std::unique_ptr<ObservedUpdater> u;
    explicit Rig(int n, const std::function<void(int, DisplayRecord&)>& fill = {})
    {
        std::vector<DisplayRecord> records(std::size_t(n), DisplayRecord{});
        for (int i = 0; fill && i < n; ++i)
            fill(i, records[std::size_t(i)]);
        driver.setDisplayRecords(std::move(records));
        BUFFER_BYTES = n * kDisplayRecordBytes;
        u = std::make_unique<ObservedUpdater>(driver);
    }
    // A series registered for (kind, index), holding `old` points.
    SeriesPtr series(int kind, int index = 0, int old = 0)
    {
        const SeriesPtr s = SeriesPtr::create();
        for (int i = 0; i < old; ++i)
            s->add(QCPGraphData(1.0 + i, 2.0));
        u->setGraphData(kind, index, s);
        return s;
    }
};

const auto point = [](const SeriesPtr& s, int i) { return *(s->constBegin() + i); };
// Sine of `bin` cycles per 1024 records: it falls exactly on one bin of a 1024-point transform.
const auto sine = [](int i, int bin) { return std::sin(2.0 * M_PI * bin * i / 1024.0); };

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
    // Nonsense from elsewhere: kinds and slots that do not exist are ignored
    // and disturb no real series; a display rate that is not positive must
    // not give equal or infinite keys.
    void timeSeries_newestRecordsScaledPositions_nonsenseIgnored()
    {
        Rig rig(3000, [](int i, DisplayRecord& r) {
            for (int f = 0; f < 32; ++f)
                r.value[f] = f * 10000.0 + i;
        });
        BUFFER_BYTES = 2048 * kDisplayRecordBytes; // records 952 to 2999
        SAMP_FREQ = 3000;
        bpmScale.set(0, 2.0, -3.0);
        bpmScale.set(1, 0.5, 4.0);
        // Kind, slot, record field, factor.
        const std::tuple<int, int, int, double> expect[] = {
            {Updater::KindCurrents1, 0, 24, 1}, {Updater::KindCurrents1, 3, 27, 1},
            {Updater::KindCurrents2, 0, 28, 1}, {Updater::KindCurrents2, 3, 31, 1},
            {Updater::KindPosition1, 0, 0, 2},  {Updater::KindPosition1, 1, 1, -3},
            {Updater::KindPosition1, 2, 2, 1},  {Updater::KindPosition2, 0, 4, 0.5},
            {Updater::KindPosition2, 1, 5, 4},  {Updater::KindPosition2, 2, 6, 1},
            {Updater::KindDac, 0, 8, 1},        {Updater::KindDac, 1, 9, 1},
            {Updater::KindDac, 2, 10, 1}};
        std::vector<SeriesPtr> s;
        for (const auto& [kind, slot, field, factor] : expect)
            s.push_back(rig.series(kind, slot));
        const SeriesPtr fft = rig.series(Updater::KindFFT), stray = SeriesPtr::create();
        // clang-format off
        const std::pair<int, int> straySlots[] = {{5, 0}, {6, 0}, {10, 0}, {-1, 0},
            {Updater::KindXY1, 1}, {Updater::KindCurrents1, 4}, {Updater::KindDac, 3},
            {Updater::KindPosition2, -1}};
        // clang-format on
        for (const auto& [kind, index] : straySlots)
            rig.u->setGraphData(kind, index, stray);
        rig.u->updateGraphs();

        QVERIFY(double(1.0f / 3000.0f) != 1.0 / 3000.0); // the keys below tell the two apart
        for (std::size_t k = 0; k < s.size(); ++k) {
            QCOMPARE(s[k]->size(), 2048);
            for (int i : {0, 1, 777, 2047}) {
                QCOMPARE(point(s[k], i).key, double(float(i) / 3000.0f));
                QCOMPARE(point(s[k], i).value,
                         std::get<3>(expect[k]) * (std::get<2>(expect[k]) * 10000.0 + 952 + i));
            }
        }
        QCOMPARE(stray->size(), 0);
        bpmScale.set(0, 7.0, 1.0);
        SAMP_FREQ = 0;
        rig.u->updateGraphs();
        QCOMPARE(point(s[4], 0).value, 7.0 * 952);
        for (const SeriesPtr& t : {s[0], fft})
            for (int i = 1; i < t->size(); ++i)
                QVERIFY(std::isfinite(point(t, i).key) && point(t, i).key > point(t, i - 1).key);
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
        Rig rig(1500, fill);
        bpmScale.set(0, 2.0, 3.0);
        bpmScale.set(1, -1.0, 0.5);
        const SeriesPtr xy[2] = {rig.series(Updater::KindXY1), rig.series(Updater::KindXY2)};
        rig.u->updateGraphs();

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
        rig.driver.setDisplayRecords(std::vector<DisplayRecord>(300, DisplayRecord{}));
        BUFFER_BYTES = 300 * kDisplayRecordBytes;
        rig.u->updateGraphs();
        QCOMPARE(xy[0]->size(), 1); // fewer records than the cloud holds: all of them, here one X
    }

    void spectrum_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("fresh"); // newest records with the sine; the older carry another
        QTest::addColumn<int>("selector");
        QTest::addColumn<double>("factor");
        QTest::addColumn<bool>("removeDC");
        QTest::addColumn<int>("points");
        const int all = kDisplayBufferRecords;
        // clang-format off
        QTest::newRow("BPM1 X scaled") << all << 1024 << 1024 << 0 << 2.0 << false << 513;
        QTest::newRow("BPM1 Y scaled, no DC") << all << 1024 << 1024 << 1 << 3.0 << true << 513;
        QTest::newRow("BPM1 I0 unscaled") << all << 1024 << 1024 << 2 << 1.0 << false << 513;
        QTest::newRow("beyond a 1024 buffer") << 1024 << 8192 << 1024 << 1 << 3.0 << true << 513;
        QTest::newRow("8192 of the buffer") << all << 8192 << all << 0 << 2.0 << false << 4097;
        QTest::newRow("not a power of two") << 2048 << 1000 << 2048 << 1 << 3.0 << true << 501;
        QTest::newRow("one") << 1024 << 1 << 1024 << 1 << 3.0 << true << 0;
        // clang-format on
    }

    // A sine on an exact bin over the newest records: A/2 at its bin, the
    // offset at 0 Hz unless removed, nothing else. A length the buffer cannot
    // supply uses only records that are there (the sine keeps its true
    // amplitude); nonsense lengths give no spectrum.
    void spectrum()
    {
        QFETCH(int, records);
        QFETCH(int, length);
        QFETCH(int, fresh);
        QFETCH(int, selector);
        QFETCH(double, factor);
        QFETCH(bool, removeDC);
        QFETCH(int, points);
        Rig rig(records, [&](int i, DisplayRecord& r) {
            for (int f : {0, 1, 2})
                r.value[f] = 5.0 + 4.0 * sine(i, i >= records - fresh ? 100 : 40);
        });
        bpmScale.set(0, 2.0, 3.0);
        const SeriesPtr fft = rig.series(Updater::KindFFT, 0, 1);
        rig.u->setFFTselector(selector);
        rig.u->ChangeFFTremoveDC(removeDC);
        rig.u->fftLength = length;
        rig.u->updateGraphs();

        QCOMPARE(fft->size(), points);
        const int n = 2 * (points - 1);
        if (points > 0) {
            QCOMPARE(point(fft, 1).key, 1000.0 / n);
            QCOMPARE(point(fft, points - 1).key, 500.0);
        }
        for (int k = 0; n % 1024 == 0 && k < points; ++k) {
            const double expected = k == 100 * n / 1024   ? factor * 2.0
                                    : k == 0 && !removeDC ? factor * 5.0
                                                          : 0;
            QVERIFY2(std::abs(point(fft, k).value - expected) < 1e-9,
                     qPrintable(QString::number(k)));
        }

        // Another length in between: each length keeps its plan, and the
        // spectrum comes out bit for bit the same.
        const QVector<QCPGraphData> first(fft->constBegin(), fft->constEnd());
        rig.u->fftLength = 256;
        rig.u->updateGraphs();
        rig.u->fftLength = length;
        rig.u->updateGraphs();
        const QVector<QCPGraphData> again(fft->constBegin(), fft->constEnd());
        QCOMPARE(again.size(), first.size());
        for (int k = 0; k < first.size(); ++k)
            QVERIFY(again[k].key == first[k].key && again[k].value == first[k].value);
    }

    // The picoammeter records: both nodes opened read-only and closed again,
    // refreshed even while paused, when nothing else is; a missing second node
    // or a failing request keeps the last record and stops nothing else,
    // silently.
    void picoInfo_refreshedWhilePaused_missingNodeKeepsLast()
    {
        Rig rig(kDisplayBufferRecords);
        RecordingDriver& driver = rig.driver;
        const auto give = [&](double current) {
            PicoInfoRecord info{};
            info.currentCh1 = current;
            driver.setPicoInfo(0, info);
            driver.setPicoInfo(1, info);
        };
        const auto held = [&] {
            return QVector<double>({rig.u->picoInfo(0).currentCh1, rig.u->picoInfo(1).currentCh1});
        };
        // Opens, closes, fetches, replots, points plotted.
        const auto counts = [&](const QSignalSpy& replots, int points) {
            return QVector<int>({driver.countCalls(Call::Open), driver.countCalls(Call::Close),
                                 driver.countCalls(Call::GetBuffer), replots.count(), points});
        };
        give(1e-6);
        const SeriesPtr dac = rig.series(Updater::KindDac, 0, 1);
        QSignalSpy replots(rig.u.get(), &Updater::replotGraphs);

        rig.u->paused = true;
        rig.u->updateGraphs();
        QCOMPARE(held(), QVector<double>({1e-6, 1e-6}));
        for (const Call& c : driver.calls())
            QVERIFY(c.kind != Call::Open || c.flags == O_RDONLY);
        QCOMPARE(counts(replots, dac->size()), QVector<int>({2, 2, 0, 0, 1}));

        give(2e-6);
        driver.setNodePresent(kPico1Node, false);
        rig.u->paused = false;
        driver.clearCalls();
        rig.u->updateGraphs();
        QCOMPARE(held(), QVector<double>({2e-6, 1e-6}));
        QCOMPARE(counts(replots, dac->size()), QVector<int>({2, 1, 1, 1, kDisplayBufferRecords}));

        // An open node whose request fails keeps its record too, and is closed.
        give(3e-6);
        driver.setNodePresent(kPico1Node, true);
        driver.failRequest(AMM_IOC_GET_INFO);
        driver.clearCalls();
        rig.u->updateGraphs();
        QCOMPARE(held(), QVector<double>({2e-6, 1e-6}));
        QCOMPARE(counts(replots, dac->size()), QVector<int>({2, 2, 1, 2, kDisplayBufferRecords}));
        QCOMPARE(rig.u->events, QStringList());
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
        Rig rig(heldRecords);
        BUFFER_BYTES = kDisplayBufferBytes;
        rig.driver.setGetBufferResult(result);
        const SeriesPtr dac = rig.series(Updater::KindDac, 0, 1);
        QSignalSpy replots(rig.u.get(), &Updater::replotGraphs);
        QList<QMessageBox*> seen;
        QStringList shown;
        QTimer operatorHand; // reads a box on one tick, presses OK on the next
        connect(&operatorHand, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && seen.contains(box)) {
                box->button(QMessageBox::Ok)->click();
            } else if (box && (seen << box).size() == 1) {
                shown = QStringList{QString::number(box->icon()), box->text().section('\n', 0, 0),
                                    QString::number(!box->parent())};
                QTimer::singleShot(0, rig.u.get(), &Updater::updateGraphs); // the display timer
            }
        });
        operatorHand.start(10);
        for (int cycle = 0; cycle < 3; ++cycle)
            rig.u->updateGraphs();

        QCOMPARE(seen.size(), 1);
        QCOMPARE(shown, QStringList({QString::number(QMessageBox::Critical),
                                     "System file /dev/zevo_dma_displ could not be opened.", "1"}));
        QCOMPARE(rig.u->events, QStringList({"message", "quit"}));
        QCOMPARE(QVector<int>({rig.driver.countCalls(Call::GetBuffer), replots.count(), dac->size(),
                               rig.u->recordCount()}),
                 QVector<int>({1, 0, 1, 0}));
    }
};

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
