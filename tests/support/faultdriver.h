#pragma once

#include "device/driver.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>

// A driver that misbehaves on purpose. It passes every call on to another
// driver (the virtual controller's, in the program tests) and makes one kind
// of request go wrong: fail, come back short, bring back garbage, or lose its
// node, from its n-th call on or only at its n-th call. Safe to call from the
// mailbox poll thread and the GUI thread at once, like any driver.
class FaultDriver final : public Driver
{
public:
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

    explicit FaultDriver(Driver& inner, uint32_t seed = 1);

    // From now on, the `nth` call of `target` (1-based) misbehaves, and with
    // `once` false every later one too. For Vanish every call that reaches
    // the node counts. Replaces the fault set before.
    void inject(const Target& target, Fault fault, int nth = 1, bool once = false);
    // No fault any more; a vanished node is back (for new opens).
    void clear();
    // Calls that misbehaved since the last inject().
    int injections() const;
    // Every call made so far, by kind (mailbox transfers both by command and
    // by command and index).
    std::map<Target, int> calls() const;

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    ssize_t read(int fd, void* buffer, size_t bytes) override;
    int getBuffer(void* destination, int records) override;

private:
    // The fault that this call gets, if any (counts the call).
    bool strikes(const Target& target, Fault* fault);
    void count(const Target& call);
    // Whether a call on `node` finds it gone (counts the call for Vanish).
    bool nodeGone(const std::string& node);
    std::string nodeOf(int fd) const;
    void garble(Fault fault, void* bytes, std::size_t size);

    Driver& m_inner;
    mutable std::mutex m_mutex;
    std::mt19937 m_random;

    bool m_armed = false;
    Target m_target;
    Fault m_fault = Fault::Fail;
    int m_nth = 1;
    bool m_once = false;
    int m_calls = 0;
    int m_injections = 0;
    std::map<Target, int> m_made;

    std::map<int, std::string> m_open; // fd -> node
    std::set<int> m_dead;              // descriptors of a node that vanished
    std::string m_vanished;            // the node that is gone now, if any
};
