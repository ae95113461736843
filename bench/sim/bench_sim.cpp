// How much faster than real time the virtual controller runs under the
// heaviest load the program puts on it: the display stream at 50 000
// records per second, all three PID loops at the 100 kHz base rate, feedback
// on, and one display buffer fetched per simulated second.

#include "device/protocol.h"
#include "sim/manualclock.h"
#include "sim/simdriver.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <vector>

namespace
{
double cpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

void send(SimDriver& driver, int fd, zevo::MailboxMessage m)
{
    driver.ioctl(fd, zevo::MBOX_IOC_TRANSFER, &m);
}

double run(double simulatedSeconds)
{
    ManualClock clock;
    SimDriver driver(Scenario(), &clock);
    const int fd = driver.open(zevo::kMailboxNode, O_RDWR);

    zevo::MailboxMessage display(zevo::cmd::SetDisplayFrequency);
    display.setU32(8, zevo::kDisplayClockHz / 50000);
    send(driver, fd, display);
    for (int channel = 0; channel < 3; ++channel) {
        zevo::MailboxMessage divider(zevo::cmd::SetPidDivider);
        divider.setU32(4, 1);
        divider.setU8(8, uint8_t(channel));
        send(driver, fd, divider);
    }
    zevo::MailboxMessage mode(zevo::cmd::SetRegulationMode);
    mode.setU8(4, zevo::MODE_XY_I0);
    send(driver, fd, mode);
    zevo::MailboxMessage feedback(zevo::cmd::SetFeedbackEnabled);
    feedback.setU8(4, 1);
    send(driver, fd, feedback);

    std::vector<zevo::DisplayRecord> buffer(zevo::kDisplayBufferRecords);
    const double start = cpuSeconds();
    for (int s = 0; s < int(simulatedSeconds); ++s) {
        clock.advanceSeconds(1.0);
        driver.getBuffer(buffer.data(), zevo::kDisplayBufferRecords);
    }
    const double used = cpuSeconds() - start;
    driver.close(fd);
    return simulatedSeconds / std::max(used, 1e-9);
}
} // namespace

int main()
{
    std::vector<double> speeds;
    for (int i = 0; i < 5; ++i)
        speeds.push_back(run(4.0));
    std::sort(speeds.begin(), speeds.end());
    std::printf("sim_speed_vs_realtime: %.1f x\n", speeds[speeds.size() / 2]);
    return 0;
}
