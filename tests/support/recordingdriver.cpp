#include "recordingdriver.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <errno.h>
#include <limits>
#include <tuple>

using namespace zevo;

using Fault = RecordingDriver::Fault;
using Target = RecordingDriver::Target;

namespace
{
int fail(int error)
{
    errno = error;
    return -1;
}

// Every request: its name, the argument bytes the program hands over, and
// the bytes that the driver writes back (0: the request only takes data).
struct Request {
    unsigned long code;
    const char* name;
    std::size_t size, reply;
};
const Request kRequests[] = {
    {MBOX_IOC_TRANSFER, "MBOX_IOC_TRANSFER", sizeof(MailboxMessage), sizeof(MailboxMessage)},
    {MBOX_IOC_READ_STATUS, "MBOX_IOC_READ_STATUS", sizeof(MailboxStatusBlock),
     sizeof(MailboxStatusBlock)},
    {AMM_IOC_GET_INFO, "AMM_IOC_GET_INFO", sizeof(PicoInfoRecord), sizeof(PicoInfoRecord)},
    // What every driver writes at least.
    {AMM_IOC_READ_CURRENTS, "AMM_IOC_READ_CURRENTS", sizeof(PicoCurrentsRecord),
     sizeof(PicoCurrentsRecord)},
    {DAC_IOC_SET_OUTPUTS, "DAC_IOC_SET_OUTPUTS",
     offsetof(DacOutputRecord, enable) + sizeof(uint32_t), 0}};

const Request& requestOf(unsigned long code)
{
    static const Request unknown{0, "ioctl", 0, 0};
    for (const Request& r : kRequests)
        if (r.code == code)
            return r;
    return unknown;
}

bool garbage(Fault f)
{
    return f >= Fault::Random;
}

// The argument of every ioctl `request` among `calls`, as sent, in order.
template <typename T>
std::vector<T> arguments(const std::vector<RecordingDriver::Call>& calls, unsigned long request)
{
    std::vector<T> out;
    for (const RecordingDriver::Call& c : calls)
        if (c.kind == RecordingDriver::Call::Ioctl && c.request == request && !c.sent.isEmpty()) {
            T r{};
            std::memcpy(&r, c.sent.constData(), std::min(sizeof r, std::size_t(c.sent.size())));
            out.push_back(r);
        }
    return out;
}
} // namespace

// ---------------------------------------------------------------- faults

std::string Target::name() const
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

bool Target::operator<(const Target& o) const
{
    return std::tie(kind, path, request, command, index) <
           std::tie(o.kind, o.path, o.request, o.command, o.index);
}

bool Target::covers(const Target& call) const
{
    if (kind == Transfer && index >= 0)
        return *this == call;
    Target any = call;
    any.index = -1;
    return *this == any;
}

const char* RecordingDriver::name(Fault fault)
{
    static const char* const names[kFaultCount] = {"fail",     "vanish", "short",  "empty",
                                                   "negative", "excess", "random", "0xFF",
                                                   "0x7F",     "0x80",   "inf"};
    return names[int(fault)];
}

bool RecordingDriver::applies(Fault fault, const Target& target)
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

void RecordingDriver::inject(const Target& target, Fault fault, int nth, bool once)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_armed = true;
    m_target = target;
    m_fault = fault;
    m_nth = nth;
    m_once = once;
    m_targetCalls = 0;
    m_injections = 0;
    m_vanished.clear();
}

void RecordingDriver::count(const Target& call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_made[call];
    if (call.kind == Target::Transfer)
        ++m_made[Target::mailbox(call.command)];
}

bool RecordingDriver::strikes(const Target& target, Fault* fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_armed || m_fault == Fault::Vanish || !m_target.covers(target))
        return false;
    ++m_targetCalls;
    if (m_targetCalls < m_nth || (m_once && m_targetCalls > m_nth))
        return false;
    ++m_injections;
    *fault = m_fault;
    return true;
}

bool RecordingDriver::nodeGone(const std::string& node)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_vanished.empty() && node == m_vanished) {
        ++m_injections;
        return true;
    }
    if (!m_armed || m_fault != Fault::Vanish || node != m_target.path)
        return false;
    if (++m_targetCalls < m_nth)
        return false;
    // Gone: so are the descriptors that the program holds on it.
    m_vanished = node;
    for (const auto& [fd, path] : m_open)
        if (path == node)
            m_dead.insert(fd);
    ++m_injections;
    return true;
}

bool RecordingDriver::gone(int fd)
{
    std::string node;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_open.find(fd);
        if (it != m_open.end())
            node = it->second;
    }
    const bool vanished = nodeGone(node);
    std::lock_guard<std::mutex> lock(m_mutex);
    return vanished || m_dead.count(fd);
}

void RecordingDriver::garble(Fault fault, void* bytes, std::size_t size)
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

RecordingDriver::RecordingDriver() : m_getBufferResult(INT_MIN)
{
    defaultReply = [](MailboxMessage& m) { m.setU32(0, m.command() | kReplyAcknowledged); };
}

RecordingDriver::RecordingDriver(Driver* inner, uint32_t seed)
    : m_inner(inner), m_getBufferResult(INT_MIN), m_random(seed)
{
}

int RecordingDriver::record(Call call, int result)
{
    const int error = errno;
    call.result = result;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(call);
    }
    if (onCall)
        onCall(call);
    errno = error;
    return result;
}

int RecordingDriver::open(const char* path, int flags)
{
    Call c{Call::Open, path, flags, -1, 0, {}, {}, 0, 0};
    count(Target::opening(path));
    Fault fault;
    if (nodeGone(path) || strikes(Target::opening(path), &fault))
        return record(c, fail(ENODEV));
    int fd;
    if (m_inner) {
        fd = m_inner->open(path, flags);
    } else {
        std::lock_guard<std::mutex> lock(m_mutex);
        fd = m_absent.count(path) ? fail(ENOENT) : m_nextFd++;
    }
    if (fd >= 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open[fd] = path;
        m_dead.erase(fd);
    }
    return record(c, fd);
}

int RecordingDriver::close(int fd)
{
    Call c{Call::Close, {}, 0, fd, 0, {}, {}, 0, 0};
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool known = m_open.erase(fd) > 0;
    m_dead.erase(fd);
    lock.unlock();
    return record(c, m_inner ? m_inner->close(fd) : known ? 0 : -1);
}

int RecordingDriver::ioctl(int fd, unsigned long request, void* arg)
{
    Call c{Call::Ioctl, {}, 0, fd, request, {}, {}, 0, 0};
    const std::size_t size = arg ? requestOf(request).size : 0;
    if (size)
        c.sent = QByteArray(static_cast<const char*>(arg), int(size));
    const int result = faultyIoctl(fd, request, arg);
    if (size)
        c.received = QByteArray(static_cast<const char*>(arg), int(size));
    return record(c, result);
}

int RecordingDriver::faultyIoctl(int fd, unsigned long request, void* arg)
{
    if (gone(fd))
        return fail(ENODEV);
    const std::size_t size = arg ? requestOf(request).reply : 0;
    Target target = Target::ioctl(request);
    if (request == MBOX_IOC_TRANSFER && arg) {
        const auto* message = static_cast<const MailboxMessage*>(arg);
        target = Target::mailbox(message->command(), message->u8(4));
    }
    count(target);
    const auto pass = [&] {
        return m_inner ? m_inner->ioctl(fd, request, arg) : scripted(fd, request, arg);
    };
    Fault fault;
    if (!strikes(target, &fault))
        return pass();
    if (fault == Fault::Fail || size == 0)
        return fail(EIO);

    std::vector<unsigned char> sent(size);
    std::memcpy(sent.data(), arg, size);
    const int result = pass();
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

int RecordingDriver::scripted(int fd, unsigned long request, void* arg)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_open.count(fd) || !arg) {
        errno = EBADF;
        return -1;
    }
    if (m_failRequest && request == m_failRequest)
        return -1;

    switch (request) {
    case MBOX_IOC_TRANSFER: {
        ++m_transferCount;
        if (m_failTransfers.count(m_transferCount))
            return -1;
        auto* message = static_cast<MailboxMessage*>(arg);
        if (!m_replies.empty()) {
            const Reply reply = m_replies.front();
            m_replies.pop_front();
            *message = reply.message;
            return reply.result;
        }
        const auto reply = defaultReply;
        lock.unlock(); // a reply may look at the driver
        if (reply)
            reply(*message);
        return 0;
    }
    case MBOX_IOC_READ_STATUS:
        std::memcpy(arg, &m_status, sizeof m_status);
        return 0;
    case AMM_IOC_GET_INFO: {
        const int pico = m_open[fd] == kPico1Node ? 1 : 0;
        std::memcpy(arg, &m_picoInfo[pico], sizeof(PicoInfoRecord));
        return 0;
    }
    case AMM_IOC_READ_CURRENTS:
        std::memcpy(arg, m_currentsReply.constData(), std::size_t(m_currentsReply.size()));
        return 0;
    default:
        return 0;
    }
}

ssize_t RecordingDriver::read(int fd, void* buffer, size_t bytes)
{
    return record({Call::Read, {}, 0, fd, 0, {}, {}, int(bytes), 0},
                  int(faultyRead(fd, buffer, bytes)));
}

ssize_t RecordingDriver::faultyRead(int fd, void* buffer, size_t bytes)
{
    if (gone(fd))
        return fail(ENODEV);
    count(Target::reading());
    Fault fault;
    if (!strikes(Target::reading(), &fault))
        return passRead(fd, buffer, bytes);
    if (fault == Fault::Fail)
        return fail(EIO);
    if (fault == Fault::Empty)
        return 0;

    const ssize_t got = passRead(fd, buffer, bytes);
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

ssize_t RecordingDriver::passRead(int fd, void* buffer, size_t bytes)
{
    if (m_inner)
        return m_inner->read(fd, buffer, bytes);
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open.count(fd) ? ssize_t(newest(buffer, bytes)) : -1;
}

std::size_t RecordingDriver::newest(void* destination, std::size_t bytes) const
{
    const std::size_t have = m_display.size() * sizeof(DisplayRecord);
    const std::size_t n = std::min(have, bytes);
    if (n)
        std::memcpy(destination, reinterpret_cast<const char*>(m_display.data()) + (have - n), n);
    return n;
}

int RecordingDriver::getBuffer(void* destination, int records)
{
    return record({Call::GetBuffer, {}, 0, -1, 0, {}, {}, records, 0},
                  faultyGetBuffer(destination, records));
}

int RecordingDriver::faultyGetBuffer(void* destination, int records)
{
    count(Target::fetching());
    Fault fault;
    if (!strikes(Target::fetching(), &fault))
        return passGetBuffer(destination, records);
    switch (fault) {
    case Fault::Fail:
        return -1;
    case Fault::Empty:
        return 0;
    case Fault::Negative:
        return -7;
    case Fault::Short:
        return passGetBuffer(destination, records / 2);
    case Fault::Excess: {
        const int got = passGetBuffer(destination, records);
        return got == records ? records + 1 : got;
    }
    default: {
        const int got = passGetBuffer(destination, records);
        if (got > 0)
            garble(fault, destination, std::size_t(got) * kDisplayRecordBytes);
        return got;
    }
    }
}

int RecordingDriver::passGetBuffer(void* destination, int records)
{
    if (m_inner)
        return m_inner->getBuffer(destination, records);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_getBufferResult != INT_MIN)
        return m_getBufferResult;
    const std::size_t bytes = std::size_t(std::max(records, 0)) * sizeof(DisplayRecord);
    return records <= 0 ? records : int(newest(destination, bytes) / sizeof(DisplayRecord));
}

// ---------------------------------------------------------------- inspection

std::vector<MailboxMessage> RecordingDriver::transfers() const
{
    return arguments<MailboxMessage>(calls(), MBOX_IOC_TRANSFER);
}

std::vector<DacOutputRecord> RecordingDriver::outputSets() const
{
    return arguments<DacOutputRecord>(calls(), DAC_IOC_SET_OUTPUTS);
}

std::vector<MailboxMessage> RecordingDriver::sent(uint32_t command) const
{
    std::vector<MailboxMessage> out;
    for (const MailboxMessage& m : transfers())
        if (m.command() == command)
            out.push_back(m);
    return out;
}

int RecordingDriver::stillOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const Call& c : m_calls)
        n += c.kind == Call::Open && c.result >= 0 ? 1 : c.kind == Call::Close ? -1 : 0;
    return n;
}
