#pragma once

#include "device/protocol.h"

class Driver;

// Reads a picoammeter's latest currents (AMM_IOC_READ_CURRENTS) on an open
// node. The driver may write more than the four currents, so the reply lands
// in a buffer with room to spare. Returns the driver's result; on failure
// `out` is left as it was.
int readPicoCurrents(Driver& driver, int fd, zevo::PicoCurrentsRecord& out);
