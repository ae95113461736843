// The long run: the whole program, its real start-up sequence over the
// virtual controller keeping pace with the wall clock, runs for a given time
// with every chart drawn on every cycle while a script opens and closes every
// window and cycles the display settings (soakscript.h). It compares the
// resident memory and the display cycle's time of a window of cycles near
// the start with a window near the end, both taken under the same settings
// with no window open, and fails on growth or slowdown beyond noise.
//
//   zevo-soak [--minutes M]      (default 10)
//
// Figures go to standard output as `name: value unit` lines, progress to
// standard error. Exit status 0: no growth, no slowdown; 1: the verdict
// failed; 2: bad arguments; 3: the program stopped cycling or never ended.

#include "bench/soak/cyclemeter.h"
#include "bench/soak/soakscript.h"

#include "app/mainwindow.h"
#include "app/platform.h"
#include "app/startup.h"
#include "device/globals.h"
#include "sim/firstrunconfig.h"
#include "sim/realtimeclock.h"
#include "sim/scenario.h"
#include "sim/simdriver.h"
#include "sim/simulationwindow.h"

#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace
{

constexpr double kDefaultMinutes = 10.0;
constexpr double kPrefillSeconds = 15.0;

// Memory: the end window's median resident size may exceed the start
// window's by this much. A display cycle at the default settings refills
// about 4 MB of series, and the allocator does not return every freed block
// to the system at once: runs without a leak end within about 2 MiB of
// where they started. A leak of 25 kB per window opened, or per display
// cycle, exceeds it in the ten-minute run.
constexpr double kRssSlackMiB = 8.0;
// Time: the end window's GUI-thread CPU time per cycle (lower quartile) may
// exceed the start window's by this factor plus this much. CPU time, not
// elapsed time, and the faster cycles: compiling on the same two cores
// lengthens both without the program doing more (up to a third in the
// one-minute run's ten-cycle windows). A series that keeps growing, or a
// redraw left running, doubles it.
constexpr double kCpuSlackFactor = 1.3;
constexpr double kCpuSlackMs = 2.0;
// The watchdog: the longest time without a measured display cycle (a pause
// step lasts half a second), and how long after the planned end the run may
// still go on.
constexpr int kStallLimitS = 60;
constexpr int kOverrunLimitS = 120;

double nowS()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool parseMinutes(int argc, char** argv, double* minutes)
{
    for (int i = 1; i < argc; ++i) {
        const char* value = nullptr;
        if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc)
            value = argv[++i];
        else if (std::strncmp(argv[i], "--minutes=", 10) == 0)
            value = argv[i] + 10;
        else
            return false;
        char* end = nullptr;
        *minutes = std::strtod(value, &end);
        if (end == value || *end != '\0' || !(*minutes > 0))
            return false;
    }
    return true;
}

// Ends the process if the display cycle stops or the run never ends: a hang
// is a failure of the run, not a reason to wait forever.
class Watchdog
{
public:
    explicit Watchdog(double plannedS) : m_deadline(nowS() + plannedS + kOverrunLimitS)
    {
        m_lastCycle = nowS();
        m_thread = std::thread([this] { watch(); });
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    void cycled() { m_lastCycle = nowS(); }

private:
    void watch()
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        while (!m_wake.wait_for(guard, std::chrono::seconds(1), [this] { return m_stop; })) {
            const double now = nowS();
            if (now - m_lastCycle > kStallLimitS || now > m_deadline) {
                std::fprintf(stderr, "soak: FAILED, %s\n",
                             now > m_deadline ? "the run did not end"
                                              : "no display cycle for a minute");
                std::fflush(stdout);
                std::_Exit(3);
            }
        }
    }

    const double m_deadline;
    std::atomic<double> m_lastCycle{0};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

// The offscreen platform says so each time a window is raised or resized to
// its contents, which the script does hundreds of times; it changes nothing.
QtMessageHandler g_standardHandler = nullptr;

void dropPlatformNotes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    if (g_standardHandler)
        g_standardHandler(type, context, message);
}

void printWindow(const char* name, const CycleMeter::Summary& s)
{
    std::printf("%s_cycles: %d\n", name, s.cycles);
    std::printf("%s_rss: %.1f MiB\n", name, s.rssMiB);
    std::printf("%s_cycle_cpu_median: %.1f ms\n", name, s.cpuMs);
    std::printf("%s_cycle_cpu_low_quartile: %.1f ms\n", name, s.cpuMsLowQuartile);
    std::printf("%s_cycle_wall_median: %.1f ms\n", name, s.wallMs);
}

} // namespace

int main(int argc, char** argv)
{
    double minutes = kDefaultMinutes;
    if (!parseMinutes(argc, argv, &minutes)) {
        std::fprintf(stderr, "usage: zevo-soak [--minutes M]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    g_standardHandler = qInstallMessageHandler(dropPlatformNotes);
    const double seconds = minutes * 60.0;

    // The simulator build's set-up, with its files in a folder of its own.
    QTemporaryDir dir;
    Scenario scenario; // two picoammeters: every dock is in use
    RealTimeClock clock;
    SimDriver driver(scenario, &clock);
    driver.prefill(kPrefillSeconds);
    Platform platform;
    platform.driver = &driver;
    platform.configPath = dir.filePath(QStringLiteral("zevo-lui-sim.ini"));
    platform.lockPath = dir.filePath(QStringLiteral("zevo-lui-sim.lock"));
    writeFirstRunConfiguration(platform.configPath, scenario);

    SoakScript::Result result;
    Watchdog watchdog(seconds);
    platform.extendMainWindow = [&](MainWindow& window) {
        SimulationWindow::addToMenuBar(window, driver);
        auto* meter = new CycleMeter(*theUpdater, &window);
        QObject::connect(meter, &CycleMeter::cycleMeasured, [&watchdog] { watchdog.cycled(); });
        new SoakScript(window, *meter, seconds, result);
    };
    int fakeArgc = 1;
    char name[] = "zevo-soak";
    char* fakeArgv[] = {name, nullptr};
    const int exitCode = runProgram(fakeArgc, fakeArgv, platform);

    std::printf("soak_minutes: %.1f\n", minutes);
    std::printf("display_cycles: %d\n", result.cycles);
    std::printf("window_openings: %d\n", result.windowOpenings);
    std::printf("display_settings_changes: %d\n", result.settingsChanges);
    std::printf("message_boxes: %d\n", int(result.messageBoxes.size()));
    printWindow("after_start_up", result.afterStartUp);
    printWindow("start", result.start);
    printWindow("end", result.end);
    std::printf("peak_rss: %.1f MiB\n", result.peakRssMiB);

    const double rssGrowth = result.end.rssMiB - result.start.rssMiB;
    const double cpuLimit = result.start.cpuMsLowQuartile * kCpuSlackFactor + kCpuSlackMs;
    std::printf("rss_growth: %+.1f MiB (limit %.1f)\n", rssGrowth, kRssSlackMiB);
    std::printf("cycle_cpu_low_quartile_end_vs_start: %.2f x (limit %.1f ms)\n",
                result.start.cpuMsLowQuartile > 0
                    ? result.end.cpuMsLowQuartile / result.start.cpuMsLowQuartile
                    : 0.0,
                cpuLimit);

    QStringList failures;
    if (exitCode != 0)
        failures << QStringLiteral("the event loop ended with %1").arg(exitCode);
    if (!result.completed)
        failures << QStringLiteral("the run ended before the end window was measured");
    if (!result.messageBoxes.isEmpty())
        failures << QStringLiteral("message boxes: ") +
                        result.messageBoxes.join(QLatin1String("; "));
    if (rssGrowth > kRssSlackMiB)
        failures << QStringLiteral("resident memory grew by %1 MiB").arg(rssGrowth, 0, 'f', 1);
    if (result.end.cpuMsLowQuartile > cpuLimit)
        failures << QStringLiteral("the display cycle slowed from %1 to %2 ms")
                        .arg(result.start.cpuMsLowQuartile, 0, 'f', 1)
                        .arg(result.end.cpuMsLowQuartile, 0, 'f', 1);
    if (failures.isEmpty()) {
        std::printf("soak: PASSED\n");
        return 0;
    }
    for (const QString& failure : failures)
        std::printf("soak: FAILED, %s\n", qPrintable(failure));
    return 1;
}
