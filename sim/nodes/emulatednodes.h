#pragma once

#include "sim/simdriver.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

// The kernel driver's /dev/zevo_* nodes for a production program started
// under umockdev's preload library (environment()), served by the virtual
// controller of this process: every ioctl() and read() on a node reaches a
// SimDriver, byte for byte, on umockdev's worker thread. Only the nodes of
// plugged devices exist, as with the kernel driver. What arrives is kept for
// the test.
class EmulatedNodes
{
public:
    explicit EmulatedNodes(const Scenario& scenario = Scenario());
    ~EmulatedNodes();
    EmulatedNodes(const EmulatedNodes&) = delete;
    EmulatedNodes& operator=(const EmulatedNodes&) = delete;

    // UMOCKDEV_DIR for the program.
    QString root() const;
    SimDriver& controller() { return m_driver; }

    // From now on every request on `node` fails with `error`; EACCES locks
    // the node's file instead, so that open() fails as for an operator
    // outside the device group (a process without DAC override).
    void fail(const char* node, int error);

    // Requests seen on `node` (read() counts as request 0), and the command
    // words that reached the mailbox, in order.
    int requests(const char* node, unsigned long request) const;
    std::vector<uint32_t> mailboxCommands() const;

private:
    static int onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, EmulatedNodes* self);
    static int onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, EmulatedNodes* self);
    int serve(UMockdevIoctlClient* client, bool read);

    SimDriver m_driver;
    UMockdevTestbed* m_testbed;
    UMockdevIoctlBase* m_handler;
    std::map<std::string, int> m_fds; // node -> SimDriver descriptor
    mutable std::mutex m_mutex;
    std::map<std::string, int> m_failing;
    std::map<std::pair<std::string, unsigned long>, int> m_counts;
    std::vector<uint32_t> m_commands;
};
