#include "app/platform.h"
#include "app/startup.h"
#include "device/configstore.h"
#include "device/hardwaredriver.h"

// The production program: the kernel driver's nodes, the acquisition
// library, the controller computer's settings file and operator lock.
int main(int argc, char** argv)
{
    HardwareDriver driver;
    Platform platform;
    platform.driver = &driver;
    platform.configPath = QString::fromLatin1(ConfigStore::kProductionPath);
    platform.lockPath = QStringLiteral("/var/lock/zevo_lock");
    return runProgram(argc, argv, platform);
}
