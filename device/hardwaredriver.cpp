#include "device/hardwaredriver.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

HardwareDriver::HardwareDriver(const char* library) : m_libraryName(library) {}

HardwareDriver::~HardwareDriver()
{
    if (m_library)
        dlclose(m_library);
}

int HardwareDriver::open(const char* path, int flags)
{
    return ::open(path, flags);
}

int HardwareDriver::close(int fd)
{
    return ::close(fd);
}

int HardwareDriver::ioctl(int fd, unsigned long request, void* arg)
{
    return ::ioctl(fd, request, arg);
}

ssize_t HardwareDriver::read(int fd, void* buffer, size_t bytes)
{
    return ::read(fd, buffer, bytes);
}

HardwareDriver::GetBufferFn HardwareDriver::resolveGetBuffer()
{
    std::call_once(m_resolveOnce, [this] {
        // RTLD_GLOBAL: the library looks up SAMP_FREQ in the executable.
        m_library = dlopen(m_libraryName.c_str(), RTLD_NOW | RTLD_GLOBAL);
        if (m_library)
            m_getBuffer = reinterpret_cast<GetBufferFn>(dlsym(m_library, "getBuffer"));
    });
    return m_getBuffer;
}

int HardwareDriver::getBuffer(void* destination, int records)
{
    GetBufferFn fn = resolveGetBuffer();
    return fn ? fn(destination, records) : -1;
}
