// Making an unnamed temporary file, and telling a file system without them from a failure.
#include "UnnamedFile.h"

#include <cerrno>
#include <fcntl.h>

int UnnamedFile::Open(int folder, const char* path, int access, bool& unsupported)
{
    const int fd = openat(folder, path, O_TMPFILE | access | O_CLOEXEC, 0600);
    unsupported = fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL);
    return fd;
}
