#pragma once

#include "app/globals.h"
#include "device/mailboxcomm.h"
#include "device/protocol.h"
#include "sim/manualclock.h"
#include "sim/simdriver.h"

#include <fcntl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

// A virtual beamline on a manual clock, with the program's own mailbox
// communicator talking to it, and the host-side requests the measurement
// windows make.
struct SimRig {
    ManualClock clock;
    SimDriver driver;
    MailboxComm mailbox;
    int dacFd = -1;

    explicit SimRig(const Scenario& scenario = quiet()) : driver(scenario, &clock), mailbox(driver)
    {
        mailbox.doSetupOnNewThread(); // opens the node and scans the slots, on this thread
    }
    ~SimRig()
    {
        if (dacFd >= 0)
            driver.close(dacFd);
    }

    // No noise and no drift: the model is exactly predictable.
    static Scenario quiet()
    {
        Scenario s;
        s.noiseLevel = 0.0;
        s.driftLevel = 0.0;
        return s;
    }

    // Lets controller time pass, in steps the driver catches up with in full.
    void advance(double seconds)
    {
        int64_t ns = std::llround(seconds * 1e9);
        while (ns > 0) {
            const int64_t step = std::min<int64_t>(ns, 500000000);
            clock.advanceNs(step);
            driver.sync();
            ns -= step;
        }
    }

    std::vector<zevo::DisplayRecord> newest(int records)
    {
        std::vector<zevo::DisplayRecord> v(std::size_t(std::max(records, 0)));
        driver.getBuffer(v.data(), records);
        return v;
    }

    void setDisplayRate(int rate, bool filter)
    {
        SAMP_FREQ = rate;
        mailbox.setDisplayFrequency(filter);
    }

    void hostOutputs(double out1, double out2, double out3, double out4 = 0.0)
    {
        if (dacFd < 0)
            dacFd = driver.open(zevo::kDacNode, O_RDWR | O_SYNC);
        zevo::DacOutputRecord r{{out1, out2, out3, out4}, 1};
        driver.ioctl(dacFd, zevo::DAC_IOC_SET_OUTPUTS, &r);
    }

    zevo::PicoCurrentsRecord currents(int pico = 0)
    {
        zevo::PicoCurrentsRecord r{};
        const int fd = driver.open(zevo::picoNode(pico), O_RDWR | O_SYNC);
        driver.ioctl(fd, zevo::AMM_IOC_READ_CURRENTS, &r);
        driver.close(fd);
        return r;
    }

    zevo::PicoInfoRecord info(int pico = 0)
    {
        zevo::PicoInfoRecord r{};
        const int fd = driver.open(zevo::picoNode(pico), O_RDONLY);
        driver.ioctl(fd, zevo::AMM_IOC_GET_INFO, &r);
        driver.close(fd);
        return r;
    }

    zevo::MailboxMessage transfer(zevo::MailboxMessage m)
    {
        const int fd = driver.open(zevo::kMailboxNode, O_RDWR);
        driver.ioctl(fd, zevo::MBOX_IOC_TRANSFER, &m);
        driver.close(fd);
        return m;
    }

    zevo::BpmStatistics statistics(int bpm = 0)
    {
        mailbox.refreshData();
        return mailbox.statusBlock().bpm[bpm];
    }

    FirmwareSettings settings()
    {
        FirmwareSettings s;
        driver.inspect([&](const VirtualController& c) { s = c.settings(); });
        return s;
    }

    uint64_t recordsProduced()
    {
        uint64_t n = 0;
        driver.inspect([&](const VirtualController& c) { n = c.recordsProduced(); });
        return n;
    }
};

inline double meanOf(const std::vector<zevo::DisplayRecord>& records, int field, std::size_t from,
                     std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += records[i].value[field];
    return sum / double(to - from);
}
