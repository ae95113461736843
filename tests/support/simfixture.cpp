#include "simfixture.h"

#include "device/globals.h"
#include "sim/firstrunconfig.h"

#include <QTimer>

namespace
{
QString firstRunConfiguration(const QTemporaryDir& dir, const Scenario& scenario)
{
    const QString path = dir.filePath(QStringLiteral("config.ini"));
    writeFirstRunConfiguration(path, scenario);
    return path;
}
} // namespace

SimFixture::SimFixture(const Scenario& scenario)
    : sim(scenario, &clock), config(firstRunConfiguration(dir, scenario))
{
    sim.prefill(1.0);
    mailbox.doSetupOnNewThread();
    for (QTimer* poll : mailbox.findChildren<QTimer*>())
        poll->stop();
    theDriver = &driver;
    theMailbox = &mailbox;
    theUpdater = &updater;
    theConfig = &config;
    SAMP_FREQ = int(mailbox.readDisplayFrequency());
    driver.clearCalls();
}

SimFixture::~SimFixture()
{
    theDriver = nullptr;
    theMailbox = nullptr;
    theUpdater = nullptr;
    theConfig = nullptr;
    SAMP_FREQ = 1000;
}
