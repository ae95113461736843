#pragma once

#include "device/driver.h"

#include <mutex>
#include <string>

// Driver of the production build: plain system calls on the kernel driver's
// nodes, and getBuffer() from libzevo.so.1, resolved on first use. Without
// the library or its getBuffer symbol every fetch gives -1 and writes
// nothing.
class HardwareDriver final : public Driver
{
public:
    static constexpr const char* kAcquisitionLibrary = "libzevo.so.1";

    // `library`: the acquisition library's name as dlopen() looks it up.
    explicit HardwareDriver(const char* library = kAcquisitionLibrary);
    ~HardwareDriver() override;

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    ssize_t read(int fd, void* buffer, size_t bytes) override;
    int getBuffer(void* destination, int records) override;

private:
    using GetBufferFn = int (*)(void*, int);

    GetBufferFn resolveGetBuffer();

    const std::string m_libraryName;
    std::once_flag m_resolveOnce;
    void* m_library = nullptr;
    GetBufferFn m_getBuffer = nullptr;
};
