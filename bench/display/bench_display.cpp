// Times the display cycle as the operator's screen sees it: one
// Updater::updateGraphs() over a full synthetic display buffer, including the
// redraw of every chart the main window docks (offscreen, realistic sizes).
// Also compares the series refill against keyed point-by-point insertion into
// an ordered map, the way the charts' series were once filled.
//
// Prints one `name: value unit` line per figure on standard output.

#include "acquisition/updater.h"
#include "device/globals.h"
#include "device/driver.h"
#include "device/protocol.h"
#include "plots/widgetgraphcurrents.h"
#include "plots/widgetgraphfft.h"
#include "plots/widgetgraphpos.h"
#include "plots/widgetgraphxy.h"

#include <QApplication>

#include <qcustomplot.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <vector>

using namespace zevo;

namespace {

constexpr int kCycles = 30;
constexpr int kWarmUpCycles = 3;

// A controller that always has the same noisy display buffer ready.
class SyntheticDriver : public Driver
{
public:
    explicit SyntheticDriver(std::vector<DisplayRecord> records) : m_records(std::move(records)) {}

    int open(const char*, int) override { return 3; }
    int close(int) override { return 0; }
    int ioctl(int, unsigned long, void*) override { return 0; }
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

// The charts the main window docks, registered and connected as it does.
struct Charts
{
    WidgetGraphXY xy1{0};
    WidgetGraphXY xy2{1};
    WidgetGraphFFT fft;
    WidgetGraphCurrents currents1{nullptr, 4};
    WidgetGraphCurrents currents2{nullptr, 4};
    WidgetGraphCurrents dac{nullptr, 3};
    WidgetGraphPos pos1;
    WidgetGraphPos pos2;

    explicit Charts(Updater& updater)
    {
        updater.setGraphData(Updater::KindXY1, 0, xy1.graphData());
        updater.setGraphData(Updater::KindXY2, 0, xy2.graphData());
        updater.setGraphData(Updater::KindFFT, 0, fft.graphData());
        for (int slot = 0; slot < 4; ++slot) {
            updater.setGraphData(Updater::KindCurrents1, slot, currents1.graphData(slot));
            updater.setGraphData(Updater::KindCurrents2, slot, currents2.graphData(slot));
        }
        for (int slot = 0; slot < 3; ++slot) {
            updater.setGraphData(Updater::KindDac, slot, dac.graphData(slot));
            updater.setGraphData(Updater::KindPosition1, slot, pos1.graphData(slot));
            updater.setGraphData(Updater::KindPosition2, slot, pos2.graphData(slot));
        }
        QObject::connect(&updater, &Updater::replotGraphs, &xy1, &WidgetGraphXY::replot);
        QObject::connect(&updater, &Updater::replotGraphs, &xy2, &WidgetGraphXY::replot);
        QObject::connect(&updater, &Updater::replotGraphs, &fft, &WidgetGraphFFT::replot);
        for (WidgetGraphCurrents* w : {&currents1, &currents2, &dac})
            QObject::connect(&updater, &Updater::replotGraphs, w, &WidgetGraphCurrents::replot);
        for (WidgetGraphPos* w : {&pos1, &pos2})
            QObject::connect(&updater, &Updater::replotGraphs, w, &WidgetGraphPos::replot);

        for (QWidget* w : std::initializer_list<QWidget*>{&xy1, &xy2, &fft, &currents1, &currents2, &dac, &pos1, &pos2}) {
            w->resize(w == &xy1 || w == &xy2 ? QSize(500, 500) : QSize(800, 300));
            w->show();
        }
    }
};

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
    explicit MapSeriesFill(Driver& driver) : driver(driver), buffer(std::size_t(kDisplayBufferRecords)) {}

    void operator()()
    {
        const int n = driver.getBuffer(buffer.data(), BUFFER_BYTES / kDisplayRecordBytes);
        auto fill = [&](Series& s, int field, double factor) {
            s.clear();
            for (int i = 0; i < n; ++i) {
                const double key = double(float(i) / float(SAMP_FREQ));
                s.insert_or_assign(key, std::make_pair(key, buffer[std::size_t(i)].value[field] * factor));
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
                xy[bpm].insert_or_assign(x, std::make_pair(x, buffer[std::size_t(i)].value[disp::bpmY(bpm)] * bpmScale.y(bpm)));
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
    QApplication app(argc, argv);

    SyntheticDriver driver(syntheticBuffer(kDisplayBufferRecords));
    BUFFER_BYTES = kDisplayBufferBytes;
    SAMP_FREQ = 1000;
    bpmScale.set(0, 1000.0, 1000.0);
    bpmScale.set(1, 1000.0, 1000.0);

    Updater updater(driver);
    Charts charts(updater);
    updater.fftLength = 1024;
    auto cycle = [&] {
        updater.updateGraphs();
        QCoreApplication::processEvents(); // whatever the redraw left queued
    };
    const double cycleDefault = medianMs(cycle);
    updater.fftLength = 8192;
    const double cycleFft8192 = medianMs(cycle);

    Updater fillOnly(driver);
    const std::vector<SeriesPtr> bare = registerBareSeries(fillOnly);
    const double fill = medianMs([&] { fillOnly.updateGraphs(); });
    MapSeriesFill mapFill(driver);
    const double mapInsert = medianMs(std::ref(mapFill));

    std::fprintf(stderr, "# refill only %.2f ms, ordered-map insertion %.2f ms (both include the fetch)\n",
                 fill, mapInsert);
    std::printf("display_cycle_default_ms_median: %.2f ms\n", cycleDefault);
    std::printf("display_cycle_fft8192_ms_median: %.2f ms\n", cycleFft8192);
    std::printf("display_cycle_speedup_vs_map_insert: %.1f x\n", mapInsert / fill);
    return 0;
}
