#pragma once

#include <sys/types.h>

// The one boundary between the program and the feedback hardware.
//
// Every access to a /dev/zevo_* node and to the acquisition library goes
// through this interface. The production build talks to the kernel driver
// (HardwareDriver); the simulator build talks to the virtual controller;
// tests use a recording fake. Implementations must be callable from the
// mailbox poll thread and the GUI thread at the same time.
class Driver
{
public:
    virtual ~Driver() = default;

    // POSIX-like calls: negative results are failures, as with the system calls.
    virtual int open(const char* path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual ssize_t read(int fd, void* buffer, size_t bytes) = 0;

    // Copies the newest `records` display records (256 bytes each, oldest
    // first) to `destination`; returns the number of records written, or -1
    // when the acquisition library is not available.
    virtual int getBuffer(void* destination, int records) = 0;

protected:
    Driver() = default;
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;
};
