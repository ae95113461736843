#pragma once

#include "device/driver.h"
#include "device/protocol.h"

#include <QByteArray>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

// A fake driver for host-side tests: keeps the bytes of every request as it
// was sent, lets a test script each mailbox reply, fail any request, unplug
// nodes and provide the display buffer. Over another driver (the virtual
// controller's) it keeps what passes, in both directions, and scripts
// nothing; there it misbehaves on purpose when told to: one kind of request
// fails, comes back short, brings back garbage or loses its node, from its
// n-th call on or only at its n-th call. Safe to call from the mailbox poll
// thread and the GUI thread at once, like any driver.
class RecordingDriver : public Driver
{
public:
    struct Call {
        enum Kind { Open, Close, Ioctl, Read, GetBuffer } kind = Open;
        std::string path;          // Open
        int flags = 0;             // Open
        int fd = -1;               // Close, Ioctl, Read
        unsigned long request = 0; // Ioctl
        QByteArray sent;           // argument bytes as handed to the driver (Ioctl)
        QByteArray received;       // argument bytes as the driver left them (Ioctl)
        int count = 0;             // GetBuffer records, Read bytes
        int result = 0;
    };

    // A scripted mailbox reply: the 32 bytes written back and the call result.
    struct Reply {
        zevo::MailboxMessage message;
        int result = 0;
    };

    // The kind of request a fault applies to.
    struct Target {
        enum Kind { Open, Ioctl, Transfer, Read, GetBuffer } kind = Open;
        std::string path;          // Open: the node
        unsigned long request = 0; // Ioctl: the request code (never MBOX_IOC_TRANSFER)
        uint32_t command = 0;      // Transfer: the mailbox command word sent
        int index = -1;            // Transfer: byte 4 of the message sent, -1 for any

        static Target opening(const std::string& node) { return {Open, node, 0, 0, -1}; }
        static Target ioctl(unsigned long request) { return {Ioctl, {}, request, 0, -1}; }
        static Target mailbox(uint32_t command, int index = -1)
        {
            return {Transfer, {}, 0, command, index};
        }
        static Target reading() { return {Read, {}, 0, 0, -1}; } // read() of the display node
        static Target fetching() { return {GetBuffer, {}, 0, 0, -1}; }

        std::string name() const;
        bool operator<(const Target& o) const;
        bool operator==(const Target& o) const { return !(*this < o) && !(o < *this); }
        // Whether a call made as `call` is one of this kind.
        bool covers(const Target& call) const;
    };

    enum class Fault {
        Fail,       // result -1 with errno EIO; nothing written
        Vanish,     // the node goes away: this and every later call on it, opens included, fail
                    // with ENODEV; descriptors opened before stay dead even once it is back
        Short,      // read: half the bytes asked for, not a whole number of records; getBuffer:
                    // half the records; ioctl: only the first half of the reply arrives
        Empty,      // read, getBuffer: 0
        Negative,   // getBuffer: -7
        Excess,     // read, getBuffer: one record more reported than asked for (none more
                    // written)
        Random,     // every reply byte random (seeded); result success
        Ones,       // every reply byte 0xFF: not-a-number floats, largest unsigned, -1 signed
        Huge,       // every reply byte 0x7F: doubles near 1e306, floats near 3e38, 127
        Negatives,  // every reply byte 0x80: tiny negative doubles, -128
        Infinities, // every 8-byte word of the reply +inf or -inf, in turn
    };
    static constexpr int kFaultCount = int(Fault::Infinities) + 1;
    static const char* name(Fault fault);
    // Whether `fault` means anything for `target` (a write request brings
    // nothing back to garble, an open only fails or loses its node).
    static bool applies(Fault fault, const Target& target);

    RecordingDriver();
    explicit RecordingDriver(Driver* inner, uint32_t seed = 1);

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    ssize_t read(int fd, void* buffer, size_t bytes) override;
    int getBuffer(void* destination, int records) override;

    // --- scripting

    // Nodes that open successfully (all five by default).
    void setNodePresent(const std::string& path, bool present)
    {
        locked([&] { present ? void(m_absent.erase(path)) : void(m_absent.insert(path)); });
    }
    // The next mailbox transfer gets this reply (queued in order).
    void queueReply(const zevo::MailboxMessage& reply, int result = 0)
    {
        locked([&] { m_replies.push_back({reply, result}); });
    }
    // Mailbox transfer number n (1-based, counted from now) fails with -1
    // and leaves the message as it was sent.
    void failTransfer(int n)
    {
        locked([&] { m_failTransfers.insert(m_transferCount + n); });
    }
    // Every ioctl with this request fails with -1 (0 clears).
    void failRequest(unsigned long request)
    {
        locked([&] { m_failRequest = request; });
    }
    // Replies when no reply is queued: by default the message comes back
    // unchanged with the acknowledge bit set in its command word.
    std::function<void(zevo::MailboxMessage&)> defaultReply;
    // Called after every call, with the call as kept.
    std::function<void(const Call&)> onCall;

    void setStatusBlock(const zevo::MailboxStatusBlock& block)
    {
        locked([&] { m_status = block; });
    }
    void setPicoInfo(int pico, const zevo::PicoInfoRecord& record)
    {
        locked([&] { m_picoInfo[pico == 0 ? 0 : 1] = record; });
    }
    // What AMM_IOC_READ_CURRENTS writes, byte for byte (a real driver may
    // write more than the four currents).
    void setPicoCurrentsReply(const QByteArray& bytes)
    {
        locked([&] { m_currentsReply = bytes; });
    }
    // Records the display buffer holds, oldest first; getBuffer hands out the newest.
    void setDisplayRecords(std::vector<zevo::DisplayRecord> records)
    {
        locked([&] { m_display = std::move(records); });
    }
    // Overrides getBuffer's result (e.g. -1 for a missing library); INT_MIN clears.
    void setGetBufferResult(int result)
    {
        locked([&] { m_getBufferResult = result; });
    }

    // From now on, the `nth` call of `target` (1-based) misbehaves, and with
    // `once` false every later one too. For Vanish every call that reaches
    // the node counts. Replaces the fault set before.
    void inject(const Target& target, Fault fault, int nth = 1, bool once = false);
    // No fault any more; a vanished node is back (for new opens).
    void clear()
    {
        locked([&] {
            m_armed = false;
            m_vanished.clear();
        });
    }

    // --- inspection

    std::vector<Call> calls() const
    {
        return locked([&] { return m_calls; });
    }
    // The mailbox messages as sent, in order.
    std::vector<zevo::MailboxMessage> transfers() const;
    // The mailbox messages with this command word, as sent.
    std::vector<zevo::MailboxMessage> sent(uint32_t command) const;
    // The DAC output sets as sent, in order.
    std::vector<zevo::DacOutputRecord> outputSets() const;
    // Nodes opened and not closed again.
    int stillOpen() const;
    int countCalls(Call::Kind kind) const
    {
        return locked([&] {
            return int(std::count_if(m_calls.begin(), m_calls.end(),
                                     [kind](const Call& c) { return c.kind == kind; }));
        });
    }
    void clearCalls()
    {
        locked([&] { m_calls.clear(); });
    }
    // Calls that misbehaved since the last inject().
    int injections() const
    {
        return locked([&] { return m_injections; });
    }
    // Every call made so far, by kind (mailbox transfers both by command and
    // by command and index).
    std::map<Target, int> counts() const
    {
        return locked([&] { return m_made; });
    }

private:
    template <typename F> auto locked(F f) const -> decltype(f())
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f();
    }
    int record(Call call, int result);
    int faultyIoctl(int fd, unsigned long request, void* arg);
    int scripted(int fd, unsigned long request, void* arg);
    ssize_t faultyRead(int fd, void* buffer, size_t bytes);
    ssize_t passRead(int fd, void* buffer, size_t bytes);
    int faultyGetBuffer(void* destination, int records);
    int passGetBuffer(void* destination, int records);
    // Copies the newest display records, at most `bytes` of them; the bytes copied.
    std::size_t newest(void* destination, std::size_t bytes) const;

    // The fault that this call gets, if any (counts the call).
    bool strikes(const Target& target, Fault* fault);
    void count(const Target& call);
    // Whether a call on `node` finds it gone (counts the call for Vanish).
    bool nodeGone(const std::string& node);
    // Whether the node of `fd` is gone, or was while `fd` was open.
    bool gone(int fd);
    void garble(Fault fault, void* bytes, std::size_t size);

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

    std::mt19937 m_random;
    bool m_armed = false;
    Target m_target;
    Fault m_fault = Fault::Fail;
    int m_nth = 1;
    bool m_once = false;
    int m_targetCalls = 0;
    int m_injections = 0;
    std::map<Target, int> m_made;
    std::set<int> m_dead;   // descriptors of a node that vanished
    std::string m_vanished; // the node that is gone now, if any
};
