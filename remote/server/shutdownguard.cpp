#include "remote/server/shutdownguard.h"

#include <atomic>
#include <csignal>

#include <unistd.h>

namespace
{
std::atomic<bool> claimed{false};
ShutdownGuard* theGuard = nullptr;
} // namespace

ShutdownGuard::ShutdownGuard(std::string& name) : Tango::DeviceClass(name) {}

void ShutdownGuard::install()
{
    if (theGuard)
        return;
    std::string name = "ZevoShutdownGuard";
    theGuard = new ShutdownGuard(name);
    for (int signo : {SIGINT, SIGTERM, SIGQUIT})
        theGuard->register_signal(signo);
}

bool ShutdownGuard::claim()
{
    return !claimed.exchange(true);
}

void ShutdownGuard::signal_handler(long)
{
    if (claim())
        return; // the library goes on to shut the server down
    // Returning would shut the server down a second time. This thread only
    // waits for signals; the program is already ending.
    for (;;)
        ::pause();
}
