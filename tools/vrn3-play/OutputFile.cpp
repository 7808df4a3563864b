// Opening, writing and finishing the output: straight into a device, a FIFO or standard
// output; through a temporary file renamed over a regular file.
#include "OutputFile.h"

#include "Failure.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The open temporary file, for the signal handler: its path, and whether it exists. Both change
// only with the cleanup signals blocked.
char gTempPath[PATH_MAX];
volatile sig_atomic_t gTemporary = 0;

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
// Links followed before giving up with ELOOP, as the kernel does for a path.
constexpr int kMaxLinks = 40;

void OnSignal(int signal)
{
    OutputFile::RemoveTemporary();
    raise(signal); // the handler was reset: the default action ends the program
}

sigset_t BlockCleanupSignals()
{
    sigset_t block, old;
    sigemptyset(&block);
    for (int signal : kCleanupSignals)
        sigaddset(&block, signal);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    return old;
}

void Restore(const sigset_t& old)
{
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

std::string Folder(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The path with every symbolic link of its last component followed; it may not exist.
std::string FollowLinks(std::string path)
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

} // namespace

OutputFile::OutputFile(const std::string& path) : mPath(path)
{
    if (IsStandardOutput()) {
        mFd = STDOUT_FILENO;
        mKind = "standard output";
        return;
    }
    mTarget = FollowLinks(path);
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
    if (mTemporary) {
        const sigset_t old = BlockCleanupSignals();
        RemoveTemporary();
        Restore(old);
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
}

// The temporary file takes the replaced file's owner first, then its mode (a change of owner
// may clear set-id bits). Neither failing stops the run: the file is still written.
void OutputFile::OpenTemporary(const std::string& target, bool replacing)
{
    const std::string temp = Folder(target) + "/.vrn3-XXXXXX";
    if (temp.size() >= sizeof gTempPath)
        Fail(ENAMETOOLONG);
    const sigset_t old = BlockCleanupSignals();
    std::memcpy(gTempPath, temp.c_str(), temp.size() + 1);
    mFd = mkostemp(gTempPath, O_CLOEXEC);
    const int error = errno;
    mTemporary = mFd >= 0;
    gTemporary = mTemporary;
    Restore(old);
    if (mFd < 0)
        Fail(error);
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

void OutputFile::Commit()
{
    if (IsStandardOutput())
        return;
    const int fd = mFd;
    mFd = -1;
    if (close(fd) != 0)
        Fail(errno);
    if (!mTemporary)
        return;
    const sigset_t old = BlockCleanupSignals();
    const bool renamed = std::rename(gTempPath, mTarget.c_str()) == 0;
    const int error = errno;
    mTemporary = !renamed;
    gTemporary = mTemporary;
    Restore(old);
    if (!renamed)
        Fail(error);
}

void OutputFile::RemoveTemporary()
{
    if (gTemporary)
        unlink(gTempPath);
    gTemporary = 0;
}

void OutputFile::InstallSignalCleanup()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : kCleanupSignals)
        sigaction(signal, &action, nullptr);
}

void OutputFile::Fail(int error) const
{
    throw Failure(kExitOutput, mPath + ": cannot write: " + std::strerror(error));
}
