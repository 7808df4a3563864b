// Opening, writing and finishing an output: straight into a device, a FIFO or standard output;
// through an unnamed (or, lacking those, a named) temporary file put over a regular file.
#include "OutputFile.h"

#include "DeathCleanup.h"
#include "Failure.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <random>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Links followed before giving up with ELOOP, as the kernel does for a path.
constexpr int kMaxLinks = 40;
// Fresh temporary names tried before giving up (each is taken only by a rare collision).
constexpr int kNameTries = 100;
// The temporary name in the target's folder: a hidden, fixed-length name.
const char kTempPrefix[] = "/.vrn3-";
constexpr size_t kTempRandom = 6;

std::string Folder(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

std::string OutputFile::Target(std::string path)
{
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        std::vector<char> link(PATH_MAX);
        const ssize_t length = readlink(path.c_str(), link.data(), link.size());
        if (length < 0)
            return path;
        const std::string to(link.data(), static_cast<size_t>(length));
        path = to[0] == '/' ? to : Folder(path) + "/" + to;
    }
    errno = ELOOP;
    return std::string();
}

namespace {

// Why a rename onto `target` in `folder` would fail, checked before the run: 0, or an errno.
int CannotReplace(const std::string& folder, const std::string& target, bool exists)
{
    const long longest = pathconf(folder.c_str(), _PC_NAME_MAX);
    const size_t slash = target.find_last_of('/');
    const size_t length = target.size() - (slash == std::string::npos ? 0 : slash + 1);
    if (length > static_cast<size_t>(longest > 0 ? longest : NAME_MAX))
        return ENAMETOOLONG;
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return errno;
    const int fd = exists ? open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC) : -1;
    int flags = 0;
    const bool known = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (fd >= 0)
        close(fd);
    return known && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0 ? EPERM : 0;
}

std::string TempName(const std::string& folder)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937 random{std::random_device{}()};
    std::string name = folder + kTempPrefix;
    for (size_t i = 0; i < kTempRandom; ++i)
        name += letters[random() % (sizeof letters - 1)];
    return name;
}

// Links the open unnamed file `fd` in as `name`: through /proc, or by descriptor where /proc is
// missing (which needs a privilege).
bool LinkAs(int fd, const std::string& name)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    return errno == ENOENT && linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
}

} // namespace

OutputFile::OutputFile(const std::string& path) : mPath(path)
{
    if (IsStandardOutput()) {
        mFd = STDOUT_FILENO;
        mKind = "standard output";
        mDirect = true;
        return;
    }
    mTarget = Target(path);
    if (mTarget.empty())
        Fail(errno);
    struct stat info;
    const bool exists = stat(mTarget.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode))
        OpenDirect(mTarget);
    else
        OpenTemporary(mTarget, exists);
}

OutputFile::~OutputFile()
{
    if (mStream != nullptr && mStream != stdout)
        std::fclose(mStream);
    if (!mTemp.empty()) {
        const DeathCleanup::Blocked blocked;
        DeathCleanup::Remove(mSlot);
    }
    if (mFd > STDERR_FILENO)
        close(mFd);
}

void OutputFile::OpenDirect(const std::string& target)
{
    mFd = open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (mFd < 0)
        Fail(errno);
    mKind = "device or FIFO";
    mDirect = true;
}

void OutputFile::OpenTemporary(const std::string& target, bool replacing)
{
    const std::string folder = Folder(target);
    if (folder.size() + sizeof kTempPrefix + kTempRandom >= PATH_MAX)
        Fail(ENAMETOOLONG);
    if (const int error = CannotReplace(folder, target, replacing))
        Fail(error);
    // An unnamed file is reached by name through /proc only.
    const bool reopenable = access("/proc/self/fd", X_OK) == 0;
    mFd = reopenable ? open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1;
    mUnnamed = mFd >= 0;
    const bool unsupported = !reopenable || errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
    if (!mUnnamed && !unsupported)
        Fail(errno);
    if (!mUnnamed)
        mFd = OpenNamed(folder);
    Adopt(target, replacing);
}

int OutputFile::OpenNamed(const std::string& folder)
{
    std::string name = folder + kTempPrefix + std::string(kTempRandom, 'X');
    const DeathCleanup::Blocked blocked;
    const int fd = mkostemp(&name[0], O_CLOEXEC);
    if (fd < 0)
        Fail(errno);
    mTemp = name;
    mSlot = DeathCleanup::Register(mTemp.c_str());
    return fd;
}

// The new file takes the replaced file's owner first, then its mode (a change of owner may
// clear set-id bits). Neither failing stops the run: the file is still written.
void OutputFile::Adopt(const std::string& target, bool replacing)
{
    struct stat info;
    const bool known = replacing && stat(target.c_str(), &info) == 0;
    const mode_t mask = umask(0);
    umask(mask);
    if (known && fchown(mFd, info.st_uid, info.st_gid) != 0 && fchown(mFd, static_cast<uid_t>(-1), info.st_gid) != 0)
        errno = 0; // not allowed: the new file keeps this user's ownership
    if (fchmod(mFd, known ? info.st_mode & 07777 : 0666 & ~mask) != 0)
        errno = 0;
    mKind = known ? "replaced file" : "new file";
}

void OutputFile::Write(const uint8_t* data, size_t size)
{
    for (size_t done = 0; done < size;) {
        const ssize_t n = write(mFd, data + done, size - done);
        if (n < 0 && errno != EINTR)
            Fail(errno);
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
}

void OutputFile::LinkUnnamed()
{
    const DeathCleanup::Blocked blocked;
    for (int i = 0; i < kNameTries; ++i) {
        const std::string name = TempName(Folder(mTarget));
        if (LinkAs(mFd, name)) {
            mTemp = name;
            mUnnamed = false;
            mSlot = DeathCleanup::Register(mTemp.c_str());
            return;
        }
        if (errno != EEXIST)
            Fail(errno);
    }
    Fail(EEXIST);
}

std::FILE* OutputFile::Stream()
{
    if (mStream == nullptr && IsStandardOutput())
        mStream = stdout;
    if (mStream != nullptr)
        return mStream;
    const int fd = dup(mFd);
    mStream = fd < 0 ? nullptr : fdopen(fd, "w");
    if (mStream == nullptr) {
        const int error = errno;
        if (fd >= 0)
            close(fd);
        Fail(error);
    }
    return mStream;
}

std::string OutputFile::Path() const
{
    if (IsStandardOutput())
        return "/dev/stdout";
    return mUnnamed ? "/proc/self/fd/" + std::to_string(mFd) : !mTemp.empty() ? mTemp : mTarget;
}

void OutputFile::Prepare()
{
    std::FILE* stream = mStream;
    mStream = nullptr;
    const bool standard = stream == stdout || IsStandardOutput();
    if (stream != nullptr && (standard ? std::fflush(stream) != 0 || std::ferror(stream) : std::fclose(stream) != 0))
        Fail(errno != 0 ? errno : EIO);
    if (standard)
        return;
    if (mUnnamed)
        LinkUnnamed();
    const int fd = mFd;
    mFd = -1;
    if (close(fd) != 0)
        Fail(errno); // the destructor removes the temporary name
}

// Called with the signals held (OutputPlan::Commit).
void OutputFile::Commit()
{
    if (mTemp.empty())
        return; // standard output, a device or a FIFO
    if (std::rename(mTemp.c_str(), mTarget.c_str()) != 0)
        Fail(errno);
    DeathCleanup::Forget(mSlot);
    mTemp.clear();
}

void OutputFile::Fail(int error) const
{
    throw Failure(kExitOutput, Name() + ": cannot write: " + std::strerror(error));
}
