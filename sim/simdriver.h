#pragma once

#include "device/driver.h"
#include "sim/scenario.h"
#include "sim/virtualcontroller.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class SimClock;

// The driver of the simulator build: the kernel driver's nodes and the
// acquisition library, emulated over the virtual controller.
//
// The controller does not run on a thread of its own. Each call first lets
// it catch up, in one go, with the time that has passed on the clock since
// the previous call; after a stall (a blocked GUI thread, a debugger) it
// simulates at most the last kMaxCatchUpSeconds and skips the rest, as a
// display buffer that was not read in time would. One mutex serialises the
// poll thread and the GUI thread.
class SimDriver final : public Driver
{
public:
    static constexpr double kMaxCatchUpSeconds = 2.0;

    // Without a clock the driver follows the system's monotonic clock.
    explicit SimDriver(const Scenario& scenario = Scenario(), SimClock* clock = nullptr);
    ~SimDriver() override;

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    ssize_t read(int fd, void* buffer, size_t bytes) override;
    int getBuffer(void* destination, int records) override;

    // Runs the controller for `seconds` of its own time before the clock's
    // present, so that the display buffer holds a history at start-up.
    void prefill(double seconds);

    // Brings the controller up to the clock's present.
    void sync();

    // The scenario, read and changed from any thread. A change takes effect
    // at the present: what has passed until now ran under the old one.
    Scenario scenario() const;
    void setScenario(const Scenario& scenario);
    // Applies `change` to the present scenario under the lock.
    void changeScenario(const std::function<void(Scenario&)>& change);

    // Runs `inspect` on the controller, caught up to the present, under the
    // lock (for the Simulation window and for tests).
    void inspect(const std::function<void(const VirtualController&)>& inspect);

private:
    enum class Node { Mailbox, Pico0, Pico1, Dac, Display };
    struct OpenNode {
        Node node;
        int flags;
    };

    void catchUpLocked();
    bool nodePresentLocked(Node node) const;
    static bool nodeOf(const char* path, Node* node);

    mutable std::mutex m_mutex;
    std::unique_ptr<SimClock> m_ownClock;
    SimClock* m_clock;
    VirtualController m_controller;
    int64_t m_lastNs;
    int64_t m_pendingNs = 0;
    std::map<int, OpenNode> m_open;
    int m_nextFd = 100;
};
