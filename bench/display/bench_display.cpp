// Times the display cycle as the operator's screen sees it: one
// Updater::updateGraphs() over a full synthetic display buffer, followed by
// the redraw of the charts it causes, in the real main window shown offscreen
// at its designed size with two picoammeters plugged in. A cycle ends when
// every visible chart has drawn (the charts redraw on the next pass of the
// event loop) and the events they left are handled.
//
// Two layouts: the window as it opens (both XY plots, the spectrum tab
// raised, the other bottom tabs behind it), and every bottom dock floated
// beside it so that every chart is visible.
//
// And the cost of the beam stability window: the same default cycle with
// the window open beside the main window, against the cycles without it
// just before and after; and the cost of the cycles in which it analyses
// the buffer and redraws its chart and tables (one in three at 1000
// records per second).
//
// And the display cycle while post-mortem captures are taken and written.
//
// Also compares the series refill against keyed point-by-point insertion into
// an ordered map, the way the charts' series were once filled.
//
// Prints one `name: value unit` line per figure on standard output.

#include "acquisition/postmortemcapture.h"
#include "acquisition/updater.h"
#include "app/initresources.h"
#include "app/mainwindow.h"
#include "device/configstore.h"
#include "device/driver.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"
#include "measure/windowbeamstability.h"

#include <QApplication>
#include <QDockWidget>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <qcustomplot.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <vector>

using namespace zevo;

namespace
{

constexpr int kCycles = 30;
constexpr int kWarmUpCycles = 3;
constexpr int kStabilityRounds = 5;
constexpr uint16_t kPicoammeterId = 0x2101; // family 0x21 in the high byte
constexpr int kPicoammeters = 2;

// A controller that always has the same noisy display buffer ready, with
// picoammeters in the first two SFP slots; every other mailbox request is
// acknowledged with zeros.
class SyntheticDriver : public Driver
{
public:
    explicit SyntheticDriver(std::vector<DisplayRecord> records) : m_records(std::move(records)) {}

    int open(const char*, int) override { return 3; }
    int close(int) override { return 0; }
    int ioctl(int, unsigned long request, void* arg) override
    {
        if (request == MBOX_IOC_TRANSFER && arg) {
            auto* m = static_cast<MailboxMessage*>(arg);
            const uint32_t command = m->command();
            const uint8_t slot = m->u8(4);
            *m = MailboxMessage(command | kReplyAcknowledged);
            if (command == cmd::ReadSlot && slot < kPicoammeters)
                m->put<uint16_t>(kSlotReplyOffset, kPicoammeterId);
        }
        return 0;
    }
    ssize_t read(int, void*, size_t) override { return 0; }
    int getBuffer(void* destination, int records) override
    {
        const int n = std::min(records, int(m_records.size()));
        std::memcpy(destination, m_records.data() + (m_records.size() - std::size_t(n)),
                    std::size_t(n) * sizeof(DisplayRecord));
        return n;
    }

private:
    std::vector<DisplayRecord> m_records;
};

// Beam positions with a vibration line and mains pick-up, intensities and
// currents around their working points, DAC outputs drifting slowly; all noisy.
std::vector<DisplayRecord> syntheticBuffer(int n)
{
    std::mt19937 random(12345);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<DisplayRecord> records(std::size_t(n), DisplayRecord{});
    for (int i = 0; i < n; ++i) {
        const double t = i / 1000.0;
        const double vibration = std::sin(2 * M_PI * 23.0 * t);
        const double mains = std::sin(2 * M_PI * 50.0 * t);
        DisplayRecord& r = records[std::size_t(i)];
        for (int bpm : {0, 1}) {
            r.value[disp::bpmX(bpm)] = 0.02 * vibration + 0.005 * mains + 0.01 * noise(random);
            r.value[disp::bpmY(bpm)] = 0.01 * vibration + 0.01 * noise(random);
            r.value[disp::bpmI0(bpm)] = 1e-6 * (1.0 + 0.01 * noise(random));
        }
        for (int out = 0; out < 3; ++out)
            r.value[disp::Dac1 + out] = 5.0 + 0.2 * std::sin(0.1 * t + out) + 0.001 * noise(random);
        for (int ch = 0; ch < 8; ++ch)
            r.value[disp::Pico1Ch1 + ch] = 2.5e-7 * (1.0 + 0.02 * mains + 0.01 * noise(random));
    }
    return records;
}

double median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

double medianMs(const std::function<void()>& step)
{
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < kWarmUpCycles; ++i)
        step();
    std::vector<double> ms;
    for (int i = 0; i < kCycles; ++i) {
        const auto start = Clock::now();
        step();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::nth_element(ms.begin(), ms.begin() + kCycles / 2, ms.end());
    return ms[kCycles / 2];
}

// The program's style sheet, as the start-up applies it: dock titles and
// separators take their room from the charts.
void applyStyleSheet(QApplication& app)
{
    QFile file(QStringLiteral(":/qss/style.qss"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    QByteArray bytes = file.readAll();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    app.setStyleSheet(QString::fromLatin1(bytes));
}

// Lets the window finish laying out and drawing after a change of layout.
void settle()
{
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
}

// One display cycle in the main window, up to the last visible chart drawn.
class WindowCycle
{
public:
    WindowCycle(Updater& updater, MainWindow& window) : m_updater(updater)
    {
        m_charts = window.findChildren<QCustomPlot*>();
        for (QCustomPlot* chart : m_charts)
            QObject::connect(chart, &QCustomPlot::afterReplot, [this] { ++m_drawn; });
    }

    void operator()()
    {
        const int visible = visibleCharts();
        m_drawn = 0;
        m_updater.updateGraphs();
        // The visible charts draw on the next passes of the event loop.
        for (int pass = 0; m_drawn < visible && pass < 1000; ++pass)
            QCoreApplication::processEvents();
        QCoreApplication::processEvents(); // whatever the drawing left queued
        m_lastDrawn = m_drawn;
    }

    // Charts of which the operator sees something (the docks behind a
    // raised tab are moved outside the window, not hidden).
    int visibleCharts() const
    {
        return int(std::count_if(m_charts.begin(), m_charts.end(), [](const QCustomPlot* c) {
            return c->isVisible() && !c->visibleRegion().isEmpty();
        }));
    }
    int chartCount() const { return m_charts.size(); }
    int lastDrawn() const { return m_lastDrawn; }

private:
    Updater& m_updater;
    QList<QCustomPlot*> m_charts;
    int m_drawn = 0;
    int m_lastDrawn = 0;
};

// Floats every bottom dock as a window of the size its tab had, so that
// every chart is visible at once.
void floatBottomDocks(MainWindow& window)
{
    auto* fft = window.findChild<QDockWidget*>(QStringLiteral("dockFFT"));
    const QSize size = fft->size();
    QList<QDockWidget*> docks = window.tabifiedDockWidgets(fft);
    docks.prepend(fft);
    int offset = 0;
    for (QDockWidget* dock : docks) {
        dock->setFloating(true);
        dock->resize(size);
        dock->move(window.geometry().topRight() + QPoint(20, offset));
        dock->show();
        offset += 30;
    }
    settle();
}

void describeLayout(const char* name, const WindowCycle& cycle, const MainWindow& window)
{
    std::fprintf(stderr,
                 "# %s: window %dx%d, %d of %d charts visible, %d drawn in the last cycle\n", name,
                 window.width(), window.height(), cycle.visibleCharts(), cycle.chartCount(),
                 cycle.lastDrawn());
}

// Registers a bare series in every time and XY slot (no spectrum, no charts),
// so a cycle does only the fetch and the refill.
std::vector<SeriesPtr> registerBareSeries(Updater& updater)
{
    std::vector<SeriesPtr> all;
    auto add = [&](int kind, int count) {
        for (int slot = 0; slot < count; ++slot) {
            all.push_back(SeriesPtr::create());
            updater.setGraphData(kind, slot, all.back());
        }
    };
    add(Updater::KindXY1, 1);
    add(Updater::KindXY2, 1);
    add(Updater::KindCurrents1, 4);
    add(Updater::KindCurrents2, 4);
    add(Updater::KindDac, 3);
    add(Updater::KindPosition1, 3);
    add(Updater::KindPosition2, 3);
    return all;
}

// The same fetch and the same points, each inserted by key into an ordered
// map (equal keys replace), the series of old.
class MapSeriesFill
{
public:
    explicit MapSeriesFill(Driver& driver)
        : driver(driver), buffer(std::size_t(kDisplayBufferRecords))
    {
    }

    void operator()()
    {
        const int n = driver.getBuffer(buffer.data(), BUFFER_BYTES / kDisplayRecordBytes);
        auto fill = [&](Series& s, int field, double factor) {
            s.clear();
            for (int i = 0; i < n; ++i) {
                const double key = double(float(i) / float(SAMP_FREQ));
                s.insert_or_assign(
                    key, std::make_pair(key, buffer[std::size_t(i)].value[field] * factor));
            }
        };
        for (int ch = 0; ch < 8; ++ch)
            fill(currents[ch], disp::Pico1Ch1 + ch, 1.0);
        for (int out = 0; out < 3; ++out)
            fill(dac[out], disp::Dac1 + out, 1.0);
        for (int bpm : {0, 1}) {
            fill(positions[3 * bpm], disp::bpmX(bpm), bpmScale.x(bpm));
            fill(positions[3 * bpm + 1], disp::bpmY(bpm), bpmScale.y(bpm));
            fill(positions[3 * bpm + 2], disp::bpmI0(bpm), 1.0);
            xy[bpm].clear();
            for (int i = n - Updater::kXYPoints; i < n; ++i) {
                const double x = buffer[std::size_t(i)].value[disp::bpmX(bpm)] * bpmScale.x(bpm);
                xy[bpm].insert_or_assign(
                    x, std::make_pair(x, buffer[std::size_t(i)].value[disp::bpmY(bpm)] *
                                             bpmScale.y(bpm)));
            }
        }
    }

private:
    using Series = std::map<double, std::pair<double, double>>;

    Driver& driver;
    std::vector<DisplayRecord> buffer;
    Series currents[8], dac[3], positions[6], xy[2];
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    initResources();
    SyntheticDriver driver(syntheticBuffer(kDisplayBufferRecords));
    BUFFER_BYTES = kDisplayBufferBytes;
    SAMP_FREQ = 1000;
    bpmScale.set(0, 1000.0, 1000.0);
    bpmScale.set(1, 1000.0, 1000.0);

    QApplication app(argc, argv);
    QTemporaryDir dir;
    ConfigStore config(dir.filePath(QStringLiteral("config.ini")));
    MailboxComm mailbox(driver);
    mailbox.doSetupOnNewThread(); // opens the node and finds the two picoammeters
    if (auto* poll = mailbox.findChild<QTimer*>())
        poll->stop(); // the once-a-second poll is no part of the display cycle
    Updater updater(driver);
    theDriver = &driver;
    theConfig = &config;
    theMailbox = &mailbox;
    theUpdater = &updater;

    double cycleDefault = 0.0, cycleFft8192 = 0.0, cycleAllVisible = 0.0, stabilityExtra = 0.0,
           stabilityRefresh = 0.0, cycleDuringCapture = 0.0, cycleBesideCapture = 0.0;
    {
        MainWindow window;
        window.show();
        applyStyleSheet(app);
        settle();
        WindowCycle cycle(updater, window);

        updater.fftLength = 1024;
        cycleDefault = medianMs(std::ref(cycle));
        describeLayout("default layout", cycle, window);
        updater.fftLength = 8192;
        cycleFft8192 = medianMs(std::ref(cycle));
        updater.fftLength = 1024;

        // The stability window opened from the menu, beside the main window,
        // then closed and opened again: in each round the cycles with it open
        // against those without it, so that the load of the machine changing
        // between rounds does not count.
        window.showBeamStability();
        auto* stability = window.findChild<WindowBeamStability*>();
        stability->move(window.geometry().topRight() + QPoint(20, 0));
        settle();
        WindowCycle withStability(updater, window);
        describeLayout("stability window open", withStability, window);
        std::vector<double> extra, refreshExtra;
        for (int round = 0; round < kStabilityRounds; ++round) {
            stability->hide();
            settle();
            const double without = medianMs(std::ref(cycle));
            stability->show();
            settle();
            // Its chart draws only in the cycles in which it refreshes (one
            // in three here), in the same pass of the event loop as the main
            // window's charts: the main window's cycle waits for those and
            // handles what is left.
            extra.push_back(medianMs(std::ref(cycle)) - without);
            // The cycles in which it analyses and redraws.
            const auto every = QObject::connect(&updater, &Updater::replotGraphs, stability,
                                                &WindowBeamStability::refresh);
            refreshExtra.push_back(medianMs(std::ref(withStability)) - without);
            QObject::disconnect(every);
        }
        stability->hide();
        settle();
        stabilityExtra = median(extra);
        stabilityRefresh = median(refreshExtra);

        // Post-mortem captures one after the other, so that every cycle
        // measured is one during a capture: the cycle of the trip copies the
        // buffer, the next ones wait out the post-trigger delay (0 here), copy
        // it again and run while the worker joins and writes the file; when
        // the file is written the next cycle trips again. Against the default
        // cycle in the same rounds.
        config.setPostMortem([&dir] {
            PostMortemSettings s;
            s.folder = dir.filePath(QStringLiteral("postmortem"));
            s.postTriggerSeconds = 0.0;
            s.keep = 5;
            return s;
        }());
        PostMortemCapture* capture = window.postMortem();
        const auto capturing = [&] {
            if (capture->pending() == 0)
                capture->captureNow();
            cycle();
        };
        std::vector<double> during, plain;
        for (int round = 0; round < kStabilityRounds; ++round) {
            plain.push_back(medianMs(std::ref(cycle)));
            during.push_back(medianMs(capturing));
            while (capture->pending() > 0) { // the files of the round written
                QThread::msleep(5);
                cycle();
            }
        }
        cycleDuringCapture = median(during);
        cycleBesideCapture = median(plain);
        // What the capture itself costs the GUI thread (its processor time,
        // which the machine's load does not change): the trip, and the
        // second read with its hand-over.
        std::vector<double> tripMs, secondReadMs;
        const auto threadMs = [](const std::function<void()>& step) {
            timespec a{}, b{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
            step();
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
            return double(b.tv_sec - a.tv_sec) * 1e3 + double(b.tv_nsec - a.tv_nsec) * 1e-6;
        };
        for (int sample = 0; sample < kCycles; ++sample) {
            tripMs.push_back(threadMs([&] { capture->captureNow(); }));
            cycle(); // the post-trigger delay, 0 here, runs out
            secondReadMs.push_back(threadMs([&] { capture->displayCycle(); }));
            while (capture->pending() > 0) {
                QThread::msleep(5);
                cycle();
            }
        }
        std::fprintf(stderr, "# the capture on the GUI thread: trip %.3f ms, second read %.3f ms\n",
                     median(tripMs), median(secondReadMs));

        updater.fftLength = 1024;
        floatBottomDocks(window);
        cycleAllVisible = medianMs(std::ref(cycle));
        describeLayout("every dock shown", cycle, window);
    }
    theUpdater = nullptr;
    theMailbox = nullptr;
    theConfig = nullptr;
    theDriver = nullptr;

    Updater fillOnly(driver);
    const std::vector<SeriesPtr> bare = registerBareSeries(fillOnly);
    const double fill = medianMs([&] { fillOnly.updateGraphs(); });
    MapSeriesFill mapFill(driver);
    const double mapInsert = medianMs(std::ref(mapFill));

    std::fprintf(stderr,
                 "# refill only %.2f ms, ordered-map insertion %.2f ms (both include the fetch)\n",
                 fill, mapInsert);
    std::printf("display_cycle_default_ms_median: %.2f ms\n", cycleDefault);
    std::printf("display_cycle_all_visible_ms_median: %.2f ms\n", cycleAllVisible);
    std::printf("display_cycle_fft8192_ms_median: %.2f ms\n", cycleFft8192);
    std::printf("display_cycle_stability_extra_ms_median: %.2f ms\n", stabilityExtra);
    std::printf("display_cycle_stability_refresh_extra_ms_median: %.2f ms\n", stabilityRefresh);
    std::fprintf(stderr, "# default cycle in the capture rounds %.2f ms\n", cycleBesideCapture);
    std::printf("display_cycle_during_capture_ms_median: %.2f ms\n", cycleDuringCapture);
    std::printf("display_cycle_speedup_vs_map_insert: %.1f x\n", mapInsert / fill);
    return 0;
}
