#include "sim/simdriver.h"

#include "device/protocol.h"
#include "sim/realtimeclock.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>

namespace
{
constexpr int64_t kTickNs = 1000000000 / BeamlineModel::kTicksPerSecond;
constexpr int64_t kMaxCatchUpTicks =
    int64_t(SimDriver::kMaxCatchUpSeconds * BeamlineModel::kTicksPerSecond);

int fail(int error)
{
    errno = error;
    return -1;
}

bool writable(int flags)
{
    const int mode = flags & O_ACCMODE;
    return mode == O_WRONLY || mode == O_RDWR;
}

bool readable(int flags)
{
    const int mode = flags & O_ACCMODE;
    return mode == O_RDONLY || mode == O_RDWR;
}
} // namespace

SimDriver::SimDriver(const Scenario& scenario, SimClock* clock)
    : m_ownClock(clock ? nullptr : new RealTimeClock), m_clock(clock ? clock : m_ownClock.get()),
      m_controller(scenario), m_lastNs(m_clock->nowNs())
{
}

SimDriver::~SimDriver() = default;

bool SimDriver::nodeOf(const char* path, Node* node)
{
    if (!path)
        return false;
    static const std::pair<const char*, Node> nodes[] = {
        {zevo::kMailboxNode, Node::Mailbox}, {zevo::kPico0Node, Node::Pico0},
        {zevo::kPico1Node, Node::Pico1},     {zevo::kDacNode, Node::Dac},
        {zevo::kDisplayNode, Node::Display},
    };
    for (const auto& [name, n] : nodes) {
        if (std::strcmp(path, name) == 0) {
            *node = n;
            return true;
        }
    }
    return false;
}

bool SimDriver::nodePresentLocked(Node node) const
{
    switch (node) {
    case Node::Pico0:
        return m_controller.picoPlugged(0);
    case Node::Pico1:
        return m_controller.picoPlugged(1);
    case Node::Dac:
        return m_controller.dacPlugged();
    case Node::Mailbox:
    case Node::Display:
        return true;
    }
    return false;
}

void SimDriver::catchUpLocked()
{
    const int64_t now = m_clock->nowNs();
    if (now > m_lastNs)
        m_pendingNs += now - m_lastNs;
    m_lastNs = now;
    int64_t ticks = m_pendingNs / kTickNs;
    m_pendingNs -= ticks * kTickNs;
    if (ticks > kMaxCatchUpTicks)
        ticks = kMaxCatchUpTicks;
    m_controller.run(ticks);
}

void SimDriver::sync()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    catchUpLocked();
}

void SimDriver::prefill(double seconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    catchUpLocked();
    m_controller.run(std::llround(std::max(0.0, seconds) * BeamlineModel::kTicksPerSecond));
}

int SimDriver::open(const char* path, int flags)
{
    Node node;
    if (!nodeOf(path, &node))
        return fail(ENOENT);
    std::lock_guard<std::mutex> lock(m_mutex);
    catchUpLocked();
    // The kernel driver creates no usable node for a device that is not
    // plugged in.
    if (!nodePresentLocked(node))
        return fail(ENODEV);
    const int fd = m_nextFd++;
    m_open[fd] = OpenNode{node, flags};
    return fd;
}

int SimDriver::close(int fd)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open.erase(fd) ? 0 : fail(EBADF);
}

int SimDriver::ioctl(int fd, unsigned long request, void* arg)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_open.find(fd);
    if (it == m_open.end())
        return fail(EBADF);
    const OpenNode open = it->second;
    catchUpLocked();
    if (!nodePresentLocked(open.node))
        return fail(ENODEV); // unplugged while open

    switch (open.node) {
    case Node::Mailbox:
        if (request == zevo::MBOX_IOC_TRANSFER) {
            if (!arg)
                return fail(EFAULT);
            if (!writable(open.flags))
                return fail(EBADF);
            m_controller.transfer(*static_cast<zevo::MailboxMessage*>(arg));
            return 0;
        }
        if (request == zevo::MBOX_IOC_READ_STATUS) {
            if (!arg)
                return fail(EFAULT);
            m_controller.readStatus(*static_cast<zevo::MailboxStatusBlock*>(arg));
            return 0;
        }
        break;
    case Node::Pico0:
    case Node::Pico1: {
        const int pico = open.node == Node::Pico0 ? 0 : 1;
        if (request == zevo::AMM_IOC_GET_INFO) {
            if (!arg)
                return fail(EFAULT);
            m_controller.picoInfo(pico, *static_cast<zevo::PicoInfoRecord*>(arg));
            return 0;
        }
        if (request == zevo::AMM_IOC_READ_CURRENTS) {
            if (!arg)
                return fail(EFAULT);
            m_controller.picoCurrents(pico, *static_cast<zevo::PicoCurrentsRecord*>(arg));
            return 0;
        }
        break;
    }
    case Node::Dac:
        if (request == zevo::DAC_IOC_SET_OUTPUTS) {
            if (!arg)
                return fail(EFAULT);
            if (!writable(open.flags))
                return fail(EBADF);
            const auto* record = static_cast<const zevo::DacOutputRecord*>(arg);
            // An output set whose enable word is clear changes nothing.
            if (record->enable != 0)
                m_controller.setHostOutputs(record->volts);
            return 0;
        }
        break;
    case Node::Display:
        break;
    }
    return fail(ENOTTY);
}

ssize_t SimDriver::read(int fd, void* buffer, size_t bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_open.find(fd);
    if (it == m_open.end() || !readable(it->second.flags))
        return fail(EBADF);
    if (it->second.node != Node::Display)
        return fail(EINVAL);
    if (!buffer)
        return fail(EFAULT);
    catchUpLocked();
    const std::size_t wanted = std::min<std::size_t>(
        bytes / zevo::kDisplayRecordBytes, std::size_t(VirtualController::kDisplayRingRecords));
    const int records =
        m_controller.copyNewest(static_cast<zevo::DisplayRecord*>(buffer), int(wanted));
    return ssize_t(records) * zevo::kDisplayRecordBytes;
}

int SimDriver::getBuffer(void* destination, int records)
{
    if (!destination || records < 0)
        return -1;
    std::lock_guard<std::mutex> lock(m_mutex);
    catchUpLocked();
    return m_controller.copyNewest(static_cast<zevo::DisplayRecord*>(destination), records);
}

Scenario SimDriver::scenario() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_controller.scenario();
}

void SimDriver::setScenario(const Scenario& scenario)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    catchUpLocked();
    m_controller.setScenario(scenario);
}

void SimDriver::changeScenario(const std::function<void(Scenario&)>& change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    catchUpLocked();
    Scenario s = m_controller.scenario();
    change(s);
    m_controller.setScenario(s);
}

void SimDriver::inspect(const std::function<void(const VirtualController&)>& inspect)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    catchUpLocked();
    inspect(m_controller);
}
