#pragma once

#include "support/faultdriver.h"

#include "acquisition/updater.h"
#include "device/configstore.h"
#include "device/mailboxcomm.h"
#include "sim/manualclock.h"
#include "sim/simdriver.h"

#include <QTemporaryDir>

#include <functional>

// The virtual controller on a manual clock with the program's own objects
// over it, reachable through the process-wide pointers as the windows reach
// them: the mailbox communicator (its poll stopped: a test decides when the
// controller is read), a display updater, and the configuration the
// simulator writes on its first start. Between them and the controller a
// recording driver that keeps what passes and misbehaves when told to.
class SimFixture
{
public:
    explicit SimFixture(const Scenario& scenario = Scenario());
    ~SimFixture();
    SimFixture(const SimFixture&) = delete;
    SimFixture& operator=(const SimFixture&) = delete;

    // No noise and no drift: the model is exactly predictable.
    static Scenario quiet()
    {
        Scenario s;
        s.noiseLevel = s.driftLevel = 0.0;
        return s;
    }

    // Controller time passes, and the controller catches up with it.
    void advance(double seconds)
    {
        clock.advanceSeconds(seconds);
        sim.sync();
    }
    // Waits of the measurement windows, passed as controller time.
    std::function<void(unsigned long us)> waitUs()
    {
        return [this](unsigned long us) { clock.advanceNs(int64_t(us) * 1000); };
    }
    std::function<void(int ms)> waitMs()
    {
        return [this](int ms) { clock.advanceMs(ms); };
    }
    FirmwareSettings settings()
    {
        FirmwareSettings s;
        sim.inspect([&](const VirtualController& c) { s = c.settings(); });
        return s;
    }

    ManualClock clock;
    SimDriver sim;
    RecordingDriver driver{&sim};
    RecordingDriver& faults = driver;
    QTemporaryDir dir;
    MailboxComm mailbox{driver};
    Updater updater{driver};
    ConfigStore config;
};
