// Taking a file's identity from what stat says of it.
#include "FileIdentity.h"

#include <sys/sysmacros.h>

namespace {

// The null device's numbers: any number of outputs may go there.
constexpr unsigned kNullMajor = 1, kNullMinor = 3;

} // namespace

FileIdentity FileIdentity::Of(const struct stat& info)
{
    FileIdentity identity;
    identity.known = true;
    identity.regular = S_ISREG(info.st_mode);
    identity.null = S_ISCHR(info.st_mode) && major(info.st_rdev) == kNullMajor && minor(info.st_rdev) == kNullMinor;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    return identity;
}

FileIdentity FileIdentity::OfDescriptor(int fd)
{
    struct stat info;
    return fstat(fd, &info) == 0 ? Of(info) : FileIdentity();
}

FileIdentity FileIdentity::Unmade(const struct stat& folder, const std::string& name)
{
    FileIdentity identity = Of(folder);
    identity.regular = false;
    identity.name = name;
    return identity;
}
