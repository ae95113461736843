#pragma once

// For tests that create OpenGL contexts under the leak checker.

#include <dlfcn.h>
#include <link.h>

#include <cstring>

// The OpenGL driver (Mesa's *_dri.so) is unloaded when the X connection
// closes at exit. The leak checker runs after that: it can no longer name the
// driver in the stacks of what the driver keeps for the display, so those
// cannot be told from our own. One more reference keeps the driver loaded
// to the end. Call after the first context was created.
inline void keepOpenGLDriverLoaded()
{
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            if (info->dlpi_name && std::strstr(info->dlpi_name, "_dri.so"))
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD);
            return 0;
        },
        nullptr);
}
