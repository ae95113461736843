#pragma once

#include "device/driver.h"
#include "device/protocol.h"

#include <QByteArray>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// A fake driver for host-side tests: keeps the bytes of every request as it
// was sent, lets a test script each mailbox reply, fail any request, unplug
// nodes and provide the display buffer. Over another driver it only keeps
// what passes, in both directions, and scripts nothing.
class RecordingDriver : public Driver
{
public:
    struct Call
    {
        enum Kind { Open, Close, Ioctl, Read, GetBuffer } kind = Open;
        std::string path;       // Open
        int flags = 0;          // Open
        int fd = -1;            // Close, Ioctl, Read
        unsigned long request = 0; // Ioctl
        QByteArray sent;        // argument bytes as handed to the driver (Ioctl)
        QByteArray received;    // argument bytes as the driver left them (Ioctl)
        int count = 0;          // GetBuffer records, Read bytes
        int result = 0;
    };

    // A scripted mailbox reply: the 32 bytes written back and the call result.
    struct Reply
    {
        zevo::MailboxMessage message;
        int result = 0;
    };

    RecordingDriver();
    explicit RecordingDriver(Driver* inner);

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    ssize_t read(int fd, void* buffer, size_t bytes) override;
    int getBuffer(void* destination, int records) override;

    // --- scripting

    // Nodes that open successfully (all five by default).
    void setNodePresent(const std::string& path, bool present);
    // The next mailbox transfer gets this reply (queued in order).
    void queueReply(const zevo::MailboxMessage& reply, int result = 0);
    // Mailbox transfer number n (1-based, counted from now) fails with -1
    // and leaves the message as it was sent.
    void failTransfer(int n);
    // Every ioctl with this request fails with -1 (0 clears).
    void failRequest(unsigned long request);
    // Replies when no reply is queued: by default the message comes back
    // unchanged with the acknowledge bit set in its command word.
    std::function<void(zevo::MailboxMessage&)> defaultReply;
    // Called after every call, with the call as kept.
    std::function<void(const Call&)> onCall;

    void setStatusBlock(const zevo::MailboxStatusBlock& block);
    void setPicoInfo(int pico, const zevo::PicoInfoRecord& record);
    // What AMM_IOC_READ_CURRENTS writes, byte for byte (a real driver may
    // write more than the four currents).
    void setPicoCurrentsReply(const QByteArray& bytes);
    // Records the display buffer holds, oldest first; getBuffer hands out the newest.
    void setDisplayRecords(std::vector<zevo::DisplayRecord> records);
    // Overrides getBuffer's result (e.g. -1 for a missing library); INT_MIN clears.
    void setGetBufferResult(int result);

    // --- inspection

    std::vector<Call> calls() const;
    // The mailbox messages as sent, in order.
    std::vector<zevo::MailboxMessage> transfers() const;
    // The mailbox messages with this command word, as sent.
    std::vector<zevo::MailboxMessage> sent(uint32_t command) const;
    // The DAC output sets as sent, in order.
    std::vector<zevo::DacOutputRecord> outputSets() const;
    // Nodes opened and not closed again.
    int stillOpen() const;
    int countCalls(Call::Kind kind) const;
    void clearCalls();

private:
    int scripted(int fd, unsigned long request, void* arg);
    int record(Call call, int result);

    Driver* m_inner = nullptr;
    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
    std::set<std::string> m_absent;
    std::map<int, std::string> m_open; // fd -> path
    int m_nextFd = 3;
    std::deque<Reply> m_replies;
    std::set<int> m_failTransfers;
    int m_transferCount = 0;
    unsigned long m_failRequest = 0;
    zevo::MailboxStatusBlock m_status{};
    zevo::PicoInfoRecord m_picoInfo[2]{};
    QByteArray m_currentsReply;
    std::vector<zevo::DisplayRecord> m_display;
    int m_getBufferResult;
};
