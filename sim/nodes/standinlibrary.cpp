// The acquisition library as the production program finds it, for tests on
// the emulated driver nodes: getBuffer() delivers the newest display records
// of the controller behind /dev/zevo_dma_displ. Like the library on a
// controller computer it needs the display rate from the program, SAMP_FREQ,
// looked up by name in the process's global scope: a program that does not
// export it gets no records, and one line on standard error says why.

#include "device/protocol.h"

#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace
{
std::mutex displayMutex;
int displayFd = -1;
} // namespace

extern "C" __attribute__((visibility("default"))) int getBuffer(void* destination, int records)
{
    static const int* const rate = static_cast<const int*>(dlsym(RTLD_DEFAULT, "SAMP_FREQ"));
    if (!rate) {
        static std::once_flag told;
        std::call_once(told,
                       [] { std::fputs("libzevo: the program exports no SAMP_FREQ\n", stderr); });
        return -1;
    }
    if (!destination || records < 0 || *rate <= 0)
        return -1;
    std::lock_guard<std::mutex> lock(displayMutex);
    if (displayFd < 0)
        displayFd = ::open(zevo::kDisplayNode, O_RDONLY | O_CLOEXEC);
    if (displayFd < 0)
        return -1;
    const ssize_t got =
        ::read(displayFd, destination, std::size_t(records) * zevo::kDisplayRecordBytes);
    return got < 0 ? -1 : int(got / zevo::kDisplayRecordBytes);
}
