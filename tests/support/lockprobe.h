#pragma once

// Who holds the operator lock, for the tests of the lock hand-over.

#include <fcntl.h>
#include <sys/types.h>

// Holder of a write lock on the file as an open-file-description query sees
// it, which includes this process's own record locks; 0 when free, -1 when
// the query fails. Keep probeFd open while this process holds the lock:
// closing any descriptor of the file drops it.
inline pid_t lockHolder(int probeFd)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(probeFd, F_OFD_GETLK, &lock) != 0)
        return -1;
    return lock.l_type == F_UNLCK ? 0 : lock.l_pid;
}
