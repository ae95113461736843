#pragma once

#include "support/faultdriver.h"
#include "support/recordingdriver.h"

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
// fault driver that misbehaves when told to, and a recording driver that
// keeps what passes.
class SimFixture
{
public:
    explicit SimFixture(const Scenario& scenario = Scenario());
    ~SimFixture();
    SimFixture(const SimFixture&) = delete;
    SimFixture& operator=(const SimFixture&) = delete;

    // No noise and no drift: the model is exactly predictable.
    static Scenario quiet();

    // Controller time passes, and the controller catches up with it.
    void advance(double seconds);
    // Waits of the measurement windows, passed as controller time.
    std::function<void(unsigned long us)> waitUs();
    std::function<void(int ms)> waitMs();
    FirmwareSettings settings();

    ManualClock clock;
    SimDriver sim;
    FaultDriver faults{sim};
    RecordingDriver driver{&faults};
    QTemporaryDir dir;
    MailboxComm mailbox{driver};
    Updater updater{driver};
    ConfigStore config;
};
