#include "device/picocurrents.h"

#include "device/driver.h"

int readPicoCurrents(Driver& driver, int fd, zevo::PicoCurrentsRecord& out)
{
    zevo::PicoCurrentsReply reply{};
    const int result = driver.ioctl(fd, zevo::AMM_IOC_READ_CURRENTS, &reply);
    if (result >= 0)
        out = reply.record;
    return result;
}
