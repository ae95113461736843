#pragma once

#include "device/globals.h"
#include "device/protocol.h"
#include "support/simfixture.h"

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
    int dacFd = -1; // opened on first use, as the measurement windows keep it

    explicit SimRig(const Scenario& scenario = SimFixture::quiet())
        : driver(scenario, &clock), mailbox(driver)
    {
        mailbox.doSetupOnNewThread(); // opens the node and scans the slots, on this thread
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
    zevo::DisplayRecord last() { return newest(1)[0]; }

    void setDisplayRate(int rate, bool filter)
    {
        SAMP_FREQ = rate;
        mailbox.setDisplayFrequency(filter);
    }

    // The host takes the outputs over, feedback off, as the measurement
    // windows do, and sets them.
    void hostOutputs(double out1, double out2, double out3, double out4 = 0.0)
    {
        if (dacFd < 0) {
            mailbox.setFeedbackEnabled(false);
            mailbox.setOutputsFromController(false);
            dacFd = driver.open(zevo::kDacNode, O_RDWR | O_SYNC);
        }
        zevo::DacOutputRecord r{{out1, out2, out3, out4}, 1};
        driver.ioctl(dacFd, zevo::DAC_IOC_SET_OUTPUTS, &r);
    }

    // One request on a node opened for it alone, as the windows make them.
    template <typename Record>
    Record request(const char* node, int flags, unsigned long code, Record r = {})
    {
        const int fd = driver.open(node, flags);
        driver.ioctl(fd, code, &r);
        driver.close(fd);
        return r;
    }
    zevo::PicoCurrentsRecord currents(int pico = 0)
    {
        return request<zevo::PicoCurrentsRecord>(zevo::picoNode(pico), O_RDWR | O_SYNC,
                                                 zevo::AMM_IOC_READ_CURRENTS);
    }
    zevo::PicoInfoRecord info(int pico = 0)
    {
        return request<zevo::PicoInfoRecord>(zevo::picoNode(pico), O_RDONLY,
                                             zevo::AMM_IOC_GET_INFO);
    }
    zevo::MailboxMessage transfer(zevo::MailboxMessage m)
    {
        return request(zevo::kMailboxNode, O_RDWR, zevo::MBOX_IOC_TRANSFER, m);
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

// |actual - expected| < tolerance, naming the value when it is not.
#define QVERIFY_NEAR(actual, expected, tolerance)                                                  \
    QVERIFY2(std::fabs((actual) - (expected)) < (tolerance), qPrintable(QString::number(actual)))

inline double meanOf(const std::vector<zevo::DisplayRecord>& records, int field, std::size_t from,
                     std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += records[i].value[field];
    return sum / double(to - from);
}
