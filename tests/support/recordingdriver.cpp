#include "recordingdriver.h"

#include <climits>
#include <cstring>
#include <errno.h>

using namespace zevo;

namespace {
std::size_t argumentSize(unsigned long request)
{
    switch (request) {
    case MBOX_IOC_TRANSFER: return sizeof(MailboxMessage);
    case MBOX_IOC_READ_STATUS: return sizeof(MailboxStatusBlock);
    case AMM_IOC_GET_INFO: return sizeof(PicoInfoRecord);
    case AMM_IOC_READ_CURRENTS: return sizeof(PicoCurrentsRecord);
    case DAC_IOC_SET_OUTPUTS: return offsetof(DacOutputRecord, enable) + sizeof(uint32_t);
    default: return 0;
    }
}
} // namespace

RecordingDriver::RecordingDriver() : m_getBufferResult(INT_MIN)
{
    defaultReply = [](MailboxMessage& m) { m.setU32(0, m.command() | kReplyAcknowledged); };
}

RecordingDriver::RecordingDriver(Driver* inner) : m_inner(inner), m_getBufferResult(INT_MIN) {}

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
    Call c;
    c.kind = Call::Open;
    c.path = path;
    c.flags = flags;
    if (m_inner)
        return record(c, m_inner->open(path, flags));
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_absent.count(path)) {
        lock.unlock();
        errno = ENOENT;
        return record(c, -1);
    }
    const int fd = m_nextFd++;
    m_open[fd] = path;
    lock.unlock();
    return record(c, fd);
}

int RecordingDriver::close(int fd)
{
    Call c;
    c.kind = Call::Close;
    c.fd = fd;
    if (m_inner)
        return record(c, m_inner->close(fd));
    std::unique_lock<std::mutex> lock(m_mutex);
    const int result = m_open.erase(fd) ? 0 : -1;
    lock.unlock();
    return record(c, result);
}

int RecordingDriver::ioctl(int fd, unsigned long request, void* arg)
{
    Call c;
    c.kind = Call::Ioctl;
    c.fd = fd;
    c.request = request;
    const std::size_t size = arg ? argumentSize(request) : 0;
    if (size)
        c.sent = QByteArray(static_cast<const char*>(arg), int(size));
    const int result = m_inner ? m_inner->ioctl(fd, request, arg) : scripted(fd, request, arg);
    if (size)
        c.received = QByteArray(static_cast<const char*>(arg), int(size));
    return record(c, result);
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
    Call c;
    c.kind = Call::Read;
    c.fd = fd;
    c.count = int(bytes);
    if (m_inner)
        return record(c, int(m_inner->read(fd, buffer, bytes)));
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_open.count(fd)) {
        lock.unlock();
        return record(c, -1);
    }
    const std::size_t have = m_display.size() * sizeof(DisplayRecord);
    const std::size_t n = std::min(have, bytes);
    if (n)
        std::memcpy(buffer, reinterpret_cast<const char*>(m_display.data()) + (have - n), n);
    lock.unlock();
    return record(c, int(n));
}

int RecordingDriver::getBuffer(void* destination, int records)
{
    Call c;
    c.kind = Call::GetBuffer;
    c.count = records;
    if (m_inner)
        return record(c, m_inner->getBuffer(destination, records));
    std::unique_lock<std::mutex> lock(m_mutex);
    int n = m_getBufferResult;
    if (n == INT_MIN) {
        n = std::min<int>(records, int(m_display.size()));
        if (n > 0)
            std::memcpy(destination, m_display.data() + (m_display.size() - std::size_t(n)),
                        std::size_t(n) * sizeof(DisplayRecord));
    }
    lock.unlock();
    return record(c, n);
}

void RecordingDriver::setNodePresent(const std::string& path, bool present)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (present)
        m_absent.erase(path);
    else
        m_absent.insert(path);
}

void RecordingDriver::queueReply(const MailboxMessage& reply, int result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies.push_back({reply, result});
}

void RecordingDriver::failTransfer(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failTransfers.insert(m_transferCount + n);
}

void RecordingDriver::failRequest(unsigned long request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failRequest = request;
}

void RecordingDriver::setStatusBlock(const MailboxStatusBlock& block)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = block;
}

void RecordingDriver::setPicoInfo(int pico, const PicoInfoRecord& record)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_picoInfo[pico == 0 ? 0 : 1] = record;
}

void RecordingDriver::setPicoCurrentsReply(const QByteArray& bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_currentsReply = bytes;
}

void RecordingDriver::setDisplayRecords(std::vector<DisplayRecord> records)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_display = std::move(records);
}

void RecordingDriver::setGetBufferResult(int result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_getBufferResult = result;
}

std::vector<RecordingDriver::Call> RecordingDriver::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

std::vector<MailboxMessage> RecordingDriver::transfers() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<MailboxMessage> out;
    for (const Call& c : m_calls) {
        if (c.kind == Call::Ioctl && c.request == MBOX_IOC_TRANSFER && c.sent.size() == 32) {
            MailboxMessage m;
            std::memcpy(m.bytes, c.sent.constData(), 32);
            out.push_back(m);
        }
    }
    return out;
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

std::vector<DacOutputRecord> RecordingDriver::outputSets() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<DacOutputRecord> out;
    for (const Call& c : m_calls)
        if (c.kind == Call::Ioctl && c.request == DAC_IOC_SET_OUTPUTS) {
            DacOutputRecord r{};
            std::memcpy(&r, c.sent.constData(), std::min(sizeof r, std::size_t(c.sent.size())));
            out.push_back(r);
        }
    return out;
}

int RecordingDriver::countCalls(Call::Kind kind) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const Call& c : m_calls)
        n += c.kind == kind;
    return n;
}

void RecordingDriver::clearCalls()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
}
