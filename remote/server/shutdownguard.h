#pragma once

// Lets the server be shut down once. The library ends the server on SIGINT,
// SIGTERM and SIGQUIT from its own signal thread, and does so again for
// every further signal; a second shutdown crashes inside the library. The
// library tells the handlers registered for a signal before it shuts down,
// so the guard hears of every such signal first. The first shutdown, by a
// signal or by the program ending, claims the guard; a signal after that
// parks the library's signal thread for the rest of the process, and the
// shutdown under way ends the program as one signal would.
//
// The guard is registered like a device class but serves no device, so the
// library never deletes it; it lives as long as the process.

#include <tango.h>

class ShutdownGuard : public Tango::DeviceClass
{
public:
    // Registers the guard for the signals; after the library is initialised.
    static void install();
    // True for the first caller only, who then shuts the server down.
    static bool claim();

    void signal_handler(long signo) override;
    void command_factory() override {}
    void device_factory(const Tango::DevVarStringArray*) override {}

private:
    explicit ShutdownGuard(std::string& name);
};
