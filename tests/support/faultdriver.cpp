#include "faultdriver.h"

#include "device/protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <tuple>
#include <vector>

using namespace zevo;

namespace
{
int fail(int error)
{
    errno = error;
    return -1;
}

// Every request: its name, and the bytes that the
// driver writes back (0: the request only takes data from the program).
struct Request {
    unsigned long code;
    const char* name;
    std::size_t reply;
};
const Request kRequests[] = {
    {MBOX_IOC_TRANSFER, "MBOX_IOC_TRANSFER", sizeof(MailboxMessage)},
    {MBOX_IOC_READ_STATUS, "MBOX_IOC_READ_STATUS", sizeof(MailboxStatusBlock)},
    {AMM_IOC_GET_INFO, "AMM_IOC_GET_INFO", sizeof(PicoInfoRecord)},
    // What every driver writes at least.
    {AMM_IOC_READ_CURRENTS, "AMM_IOC_READ_CURRENTS", sizeof(PicoCurrentsRecord)},
    {DAC_IOC_SET_OUTPUTS, "DAC_IOC_SET_OUTPUTS", 0}};

const Request& requestOf(unsigned long code)
{
    static const Request unknown{0, "ioctl", 0};
    for (const Request& r : kRequests)
        if (r.code == code)
            return r;
    return unknown;
}

bool garbage(FaultDriver::Fault f)
{
    return f >= FaultDriver::Fault::Random;
}
} // namespace

std::string FaultDriver::Target::name() const
{
    char text[64] = "";
    switch (kind) {
    case Open:
        return "open " + path.substr(path.find('_') + 1);
    case Ioctl:
        return requestOf(request).name;
    case Transfer:
        std::snprintf(text, sizeof text, index < 0 ? "mailbox 0x%08x" : "mailbox 0x%08x b4=%d",
                      command, index);
        return text;
    case Read:
        return "read dma_displ";
    case GetBuffer:
        return "getBuffer";
    }
    return text;
}

bool FaultDriver::Target::operator<(const Target& o) const
{
    return std::tie(kind, path, request, command, index) <
           std::tie(o.kind, o.path, o.request, o.command, o.index);
}

bool FaultDriver::Target::covers(const Target& call) const
{
    if (kind == Transfer && index >= 0)
        return *this == call;
    Target any = call;
    any.index = -1;
    return *this == any;
}

const char* FaultDriver::name(Fault fault)
{
    static const char* const names[kFaultCount] = {"fail",     "vanish", "short",  "empty",
                                                   "negative", "excess", "random", "0xFF",
                                                   "0x7F",     "0x80",   "inf"};
    return names[int(fault)];
}

bool FaultDriver::applies(Fault fault, const Target& target)
{
    switch (target.kind) {
    case Target::Open:
        return fault == Fault::Fail || fault == Fault::Vanish;
    case Target::Ioctl:
        if (requestOf(target.request).reply == 0)
            return fault == Fault::Fail;
        return fault == Fault::Fail || fault == Fault::Short || garbage(fault);
    case Target::Transfer:
        return fault == Fault::Fail || fault == Fault::Short || garbage(fault);
    case Target::Read:
        return fault == Fault::Fail || fault == Fault::Short || fault == Fault::Empty ||
               fault == Fault::Excess || garbage(fault);
    case Target::GetBuffer:
        return fault != Fault::Vanish;
    }
    return false;
}

// ---------------------------------------------------------------- scripting

FaultDriver::FaultDriver(Driver& inner, uint32_t seed) : m_inner(inner), m_random(seed) {}

void FaultDriver::inject(const Target& target, Fault fault, int nth, bool once)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_armed = true;
    m_target = target;
    m_fault = fault;
    m_nth = nth;
    m_once = once;
    m_calls = 0;
    m_injections = 0;
    m_vanished.clear();
}

void FaultDriver::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_armed = false;
    m_vanished.clear();
}

int FaultDriver::injections() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_injections;
}

std::map<FaultDriver::Target, int> FaultDriver::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_made;
}

void FaultDriver::count(const Target& call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_made[call];
    if (call.kind == Target::Transfer)
        ++m_made[Target::mailbox(call.command)];
}

bool FaultDriver::strikes(const Target& target, Fault* fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_armed || m_fault == Fault::Vanish || !m_target.covers(target))
        return false;
    ++m_calls;
    if (m_calls < m_nth || (m_once && m_calls > m_nth))
        return false;
    ++m_injections;
    *fault = m_fault;
    return true;
}

bool FaultDriver::nodeGone(const std::string& node)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_vanished.empty() && node == m_vanished) {
        ++m_injections;
        return true;
    }
    if (!m_armed || m_fault != Fault::Vanish || node != m_target.path)
        return false;
    if (++m_calls < m_nth)
        return false;
    // Gone: so are the descriptors that the program holds on it.
    m_vanished = node;
    for (const auto& [fd, path] : m_open)
        if (path == node)
            m_dead.insert(fd);
    ++m_injections;
    return true;
}

std::string FaultDriver::nodeOf(int fd) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_open.find(fd);
    return it == m_open.end() ? std::string() : it->second;
}

void FaultDriver::garble(Fault fault, void* bytes, std::size_t size)
{
    auto* out = static_cast<unsigned char*>(bytes);
    if (fault == Fault::Random) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (std::size_t k = 0; k < size; ++k)
            out[k] = static_cast<unsigned char>(m_random());
        return;
    }
    std::memset(out, fault == Fault::Huge ? 0x7F : fault == Fault::Negatives ? 0x80 : 0xFF, size);
    if (fault != Fault::Infinities)
        return;
    const double inf = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k + sizeof(double) <= size; k += sizeof(double)) {
        const double v = (k / sizeof(double)) % 2 ? -inf : inf;
        std::memcpy(out + k, &v, sizeof v);
    }
}

// ---------------------------------------------------------------- the calls

int FaultDriver::open(const char* path, int flags)
{
    const std::string node = path ? path : "";
    count(Target::opening(node));
    if (nodeGone(node))
        return fail(ENODEV);
    Fault fault;
    if (strikes(Target::opening(node), &fault))
        return fail(ENODEV);
    const int fd = m_inner.open(path, flags);
    if (fd >= 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open[fd] = node;
        m_dead.erase(fd);
    }
    return fd;
}

int FaultDriver::close(int fd)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open.erase(fd);
        m_dead.erase(fd);
    }
    return m_inner.close(fd);
}

int FaultDriver::ioctl(int fd, unsigned long request, void* arg)
{
    const std::string node = nodeOf(fd);
    {
        const bool gone = nodeGone(node);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (gone || m_dead.count(fd))
            return fail(ENODEV);
    }

    const std::size_t size = arg ? requestOf(request).reply : 0;
    Target target = Target::ioctl(request);
    if (request == MBOX_IOC_TRANSFER && arg) {
        const auto* message = static_cast<const MailboxMessage*>(arg);
        target = Target::mailbox(message->command(), message->u8(4));
    }
    count(target);

    Fault fault;
    if (!strikes(target, &fault))
        return m_inner.ioctl(fd, request, arg);
    if (fault == Fault::Fail || size == 0)
        return fail(EIO);

    std::vector<unsigned char> sent(size);
    std::memcpy(sent.data(), arg, size);
    const int result = m_inner.ioctl(fd, request, arg);
    if (result < 0)
        return result;
    if (fault == Fault::Short) {
        // Only the first half of the reply arrived; the rest is as the
        // program sent it.
        const std::size_t half = size / 2;
        std::memcpy(static_cast<unsigned char*>(arg) + half, sent.data() + half, size - half);
        return result;
    }
    garble(fault, arg, size);
    return result;
}

ssize_t FaultDriver::read(int fd, void* buffer, size_t bytes)
{
    const std::string node = nodeOf(fd);
    {
        const bool gone = nodeGone(node);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (gone || m_dead.count(fd))
            return fail(ENODEV);
    }
    count(Target::reading());
    Fault fault;
    if (!strikes(Target::reading(), &fault))
        return m_inner.read(fd, buffer, bytes);
    if (fault == Fault::Fail)
        return fail(EIO);
    if (fault == Fault::Empty)
        return 0;

    const ssize_t got = m_inner.read(fd, buffer, bytes);
    if (got <= 0)
        return got;
    if (fault == Fault::Excess)
        return got + kDisplayRecordBytes;
    if (fault == Fault::Short) {
        // Half of it and part of one more record; what lies beyond is not
        // data, and reads as such.
        const ssize_t returned =
            std::min<ssize_t>(got, (got / 2 / kDisplayRecordBytes) * kDisplayRecordBytes + 100);
        std::memset(static_cast<unsigned char*>(buffer) + returned, 0xFF,
                    std::size_t(got - returned));
        return returned;
    }
    garble(fault, buffer, std::size_t(got));
    return got;
}

int FaultDriver::getBuffer(void* destination, int records)
{
    count(Target::fetching());
    Fault fault;
    if (!strikes(Target::fetching(), &fault))
        return m_inner.getBuffer(destination, records);
    switch (fault) {
    case Fault::Fail:
        return -1;
    case Fault::Empty:
        return 0;
    case Fault::Negative:
        return -7;
    case Fault::Short:
        return m_inner.getBuffer(destination, records / 2);
    case Fault::Excess: {
        const int got = m_inner.getBuffer(destination, records);
        return got == records ? records + 1 : got;
    }
    default: {
        const int got = m_inner.getBuffer(destination, records);
        if (got > 0)
            garble(fault, destination, std::size_t(got) * kDisplayRecordBytes);
        return got;
    }
    }
}
