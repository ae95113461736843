#include "app/mainwindow.h"
#include "app/platform.h"
#include "app/startup.h"
#include "device/configstore.h"
#include "device/hardwaredriver.h"
#include "remote/server/remoteserver.h"

// The production program: the kernel driver's nodes, the acquisition
// library, the controller computer's settings file and operator lock.
int main(int argc, char** argv)
{
    HardwareDriver driver;
    Platform platform;
    platform.driver = &driver;
    platform.configPath = QString::fromLatin1(ConfigStore::kProductionPath);
    platform.lockPath = QStringLiteral("/var/lock/zevo_lock");
    // The remote interface's server starts before the application object and
    // before any thread: it sets the signal mask every thread inherits.
    RemoteServer remote(ConfigStore(platform.configPath).getRemote(), argv[0]);
    platform.extendMainWindow = [&remote](MainWindow& window) {
        remote.start(window.remoteBridge());
    };
    return runProgram(argc, argv, platform);
}
