#include "bench/soak/cyclemeter.h"

#include "acquisition/updater.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include <unistd.h>

namespace
{

double wallS()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double threadCpuS()
{
    timespec t = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The value below which the fraction `q` of the samples lies.
template <typename Field>
double quantile(const std::vector<CycleMeter::Sample>& samples, Field field, double q)
{
    if (samples.empty())
        return 0;
    std::vector<double> values;
    for (const CycleMeter::Sample& s : samples)
        values.push_back(field(s));
    const auto at = values.begin() + std::ptrdiff_t(double(values.size() - 1) * q + 0.5);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

} // namespace

CycleMeter::CycleMeter(Updater& updater, QObject* parent) : QObject(parent), m_startS(wallS())
{
    connect(&updater, &Updater::replotGraphs, this, &CycleMeter::cycleRefilled);
    QCoreApplication::instance()->installEventFilter(this);
}

CycleMeter::~CycleMeter()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

double CycleMeter::residentMiB()
{
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (!file)
        return 0;
    unsigned long size = 0, resident = 0;
    const int read = std::fscanf(file, "%lu %lu", &size, &resident);
    std::fclose(file);
    if (read != 2)
        return 0;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

CycleMeter::Summary CycleMeter::summarize(int first, int count) const
{
    Summary summary;
    first = std::max(0, first);
    const int last = std::min(int(m_samples.size()), first + count);
    if (last <= first)
        return summary;
    const std::vector<Sample> window(m_samples.begin() + first, m_samples.begin() + last);
    summary.cycles = last - first;
    const auto wall = [](const Sample& s) { return s.wallMs; };
    const auto cpu = [](const Sample& s) { return s.cpuMs; };
    const auto rss = [](const Sample& s) { return s.rssMiB; };
    summary.wallMs = quantile(window, wall, 0.5);
    summary.cpuMs = quantile(window, cpu, 0.5);
    summary.cpuMsLowQuartile = quantile(window, cpu, 0.25);
    summary.rssMiB = quantile(window, rss, 0.5);
    return summary;
}

bool CycleMeter::eventFilter(QObject* watched, QEvent* event)
{
    // The display timer is the one whose event is being handled when the
    // updater announces a refill; until then every timer is a candidate.
    if (event->type() == QEvent::Timer && qobject_cast<QTimer*>(watched) &&
        (!m_displayTimer || watched == m_displayTimer)) {
        m_timerInDelivery = watched;
        m_wallStart = wallS();
        m_cpuStart = threadCpuS();
    }
    return false;
}

void CycleMeter::cycleRefilled()
{
    if (!m_timerInDelivery || m_cycleOpen)
        return;
    m_displayTimer = m_timerInDelivery;
    m_cycleOpen = true;
    // The charts redraw from events posted during the refill; after them,
    // the repaints they requested are posted at low priority. A low-priority
    // event posted once the redraws have run comes after both.
    QMetaObject::invokeMethod(
        this,
        [this] {
            QCoreApplication::postEvent(this, new QEvent(QEvent::User), Qt::LowEventPriority);
        },
        Qt::QueuedConnection);
}

bool CycleMeter::event(QEvent* event)
{
    if (event->type() != QEvent::User)
        return QObject::event(event);
    if (m_cycleOpen) {
        m_cycleOpen = false;
        const double now = wallS();
        m_samples.push_back({(now - m_wallStart) * 1e3, (threadCpuS() - m_cpuStart) * 1e3,
                             residentMiB(), now - m_startS});
        emit cycleMeasured(int(m_samples.size()) - 1);
    }
    return true;
}
