// Runs the production program on the virtual controller, as it would run on
// the controller computer: the kernel driver's nodes emulated by umockdev and
// served by the virtual controller in this process, the stand-in acquisition
// library first on the library path. For a service engineer who checks an
// installation (its settings file, operator lock and desktop) before the
// hardware arrives:
//
//   zevo-on-virtual-controller [PROGRAM [ARGUMENTS...]]   (/usr/bin/zevo-lui)
//
// Ends with the program's exit status.

#include "sim/nodes/emulatednodes.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    EmulatedNodes nodes; // its requests are served on umockdev's own thread
    char program[] = "/usr/bin/zevo-lui";
    char* defaultCommand[] = {program, nullptr};
    char** command = argc > 1 ? argv + 1 : defaultCommand;
    // For the program only: this process is already running.
    setenv("UMOCKDEV_DIR", qPrintable(nodes.root()), 1);
    setenv("LD_PRELOAD", "libumockdev-preload.so.0", 1);
    setenv("LD_LIBRARY_PATH", ZEVO_STANDIN_DIR, 1);
    const pid_t child = fork();
    if (child == 0) {
        execvp(command[0], command);
        std::perror(command[0]);
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) < 0)
        return 127;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
