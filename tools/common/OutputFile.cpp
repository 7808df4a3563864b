// Resolving a target to its held folder, writing the new file there, and replacing the old one
// relative to that folder, keeping it until the plan's commit is over.
#include "OutputFile.h"

#include "DeathCleanup.h"
#include "Failure.h"
#include "PathName.h"
#include "UnnamedFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
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
// Fresh hidden names tried before giving up (each is taken only by a rare collision).
constexpr int kNameTries = 100;
// The hidden names in the target's folder (the new file, the old one kept): fixed in length, so
// they fit wherever the target's name does.
const char kHiddenPrefix[] = ".vrn3-";
constexpr size_t kHiddenRandom = 6;

// Whether the link `link` is this process's descriptor 1 (/proc/self/fd/1, reached also from
// /dev/stdout and /dev/fd/1).
bool IsStandardOutputLink(const std::string& link)
{
    char* real = realpath(PathName::Folder(link).c_str(), nullptr);
    const bool ours = real != nullptr && std::string(real) == "/proc/" + std::to_string(getpid()) + "/fd";
    std::free(real);
    return ours && PathName::Base(link) == "1";
}

// The file a path names, with every symbolic link of its last component followed (it may not
// exist); empty, with errno set, for a loop of links. `standard` tells whether a link on the way
// was descriptor 1.
std::string Followed(std::string path, bool& standard)
{
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        standard = standard || IsStandardOutputLink(path);
        std::vector<char> link(PATH_MAX);
        const ssize_t length = readlink(path.c_str(), link.data(), link.size());
        if (length < 0)
            return path;
        const std::string to(link.data(), static_cast<size_t>(length));
        path = to[0] == '/' ? to : PathName::Folder(path) + "/" + to;
    }
    errno = ELOOP;
    return std::string();
}

std::string HiddenName()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937 random{std::random_device{}()};
    std::string name = kHiddenPrefix;
    for (size_t i = 0; i < kHiddenRandom; ++i)
        name += letters[random() % (sizeof letters - 1)];
    return name;
}

// An unnamed file is reached by name through /proc only.
bool ProcMounted()
{
    return access("/proc/self/fd", X_OK) == 0;
}

std::string ProcName(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace

OutputFile::OutputFile(const std::string& path) : mPath(path)
{
    struct stat named;
    const bool exists = !StandardStream::Named(path) && stat(path.c_str(), &named) == 0;
    Resolve(exists ? &named : nullptr);
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
    if (mFolder >= 0)
        close(mFolder);
}

// `named`: what the path names, links followed, when it exists.
void OutputFile::Resolve(const struct stat* named)
{
    const FileIdentity standard = FileIdentity::OfDescriptor(STDOUT_FILENO);
    const FileIdentity direct = named != nullptr ? FileIdentity::Of(*named) : FileIdentity();
    bool viaStandard = false;
    const bool givenStandard = StandardStream::Named(mPath);
    const std::string target = givenStandard ? "" : Followed(mPath, viaStandard);
    if (givenStandard || viaStandard || (named != nullptr && !direct.regular && !direct.null && direct == standard)) {
        mStandard = mDirect = true;
        mFd = STDOUT_FILENO;
        mKind = StandardStream::kOutputWords;
        mIdentity = standard;
        return;
    }
    if (named != nullptr && S_ISDIR(named->st_mode))
        Fail(EISDIR);
    mIdentity = direct;
    if (named != nullptr && !direct.regular) {
        mDirect = true;
        mKind = "device or FIFO";
        return;
    }
    if (target.empty())
        Fail(errno);
    HoldFolder(PathName::Folder(target));
    mName = PathName::Base(target);
    struct stat existing, folder;
    const bool there = fstatat(mFolder, mName.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (!there && errno != ENOENT)
        Fail(errno);
    if (named != nullptr && (!there || FileIdentity::Of(existing) != direct))
        throw Failure(kExitOutput, Name() + ": no name of its own to replace (a deleted file, or one reached "
                                            "through /proc); name the file itself");
    if (fstat(mFolder, &folder) != 0)
        Fail(errno);
    mIdentity = there ? FileIdentity::Of(existing) : FileIdentity::Unmade(folder, mName);
    CheckReplaceable(there ? &existing : nullptr, folder);
}

// A folder that cannot be read (only written and searched) is held without it, and is then not
// synced after the replacement.
void OutputFile::HoldFolder(const std::string& folder)
{
    mFolderPath = folder;
    mFolder = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    mFolderSyncable = mFolder >= 0;
    if (mFolder < 0 && errno == EACCES)
        mFolder = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (mFolder < 0)
        Fail(errno);
}

// Refuses, before the run, what would make the replacement fail or what the user may not do.
void OutputFile::CheckReplaceable(const struct stat* existing, const struct stat& folder) const
{
    const long longest = fpathconf(mFolder, _PC_NAME_MAX);
    if (mName.size() > static_cast<size_t>(longest > 0 ? longest : NAME_MAX))
        Fail(ENAMETOOLONG);
    if (faccessat(mFolder, ".", W_OK | X_OK, AT_EACCESS) != 0)
        Fail(errno);
    if (existing == nullptr)
        return;
    if (faccessat(mFolder, mName.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES)
        throw Failure(kExitOutput, Name() + ": write-protected; not replaced (make it writable to replace it)");
    const uid_t user = geteuid();
    // Only the file's or the folder's owner may replace a file in a sticky folder (root aside).
    if ((folder.st_mode & S_ISVTX) != 0 && user != 0 && existing->st_uid != user && folder.st_uid != user)
        throw Failure(kExitOutput, Name() + ": another user's file in a sticky folder; it cannot be replaced");
    const int fd = openat(mFolder, mName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    int flags = 0;
    const bool known = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (fd >= 0)
        close(fd);
    if (known && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0)
        Fail(EPERM);
}

void OutputFile::Open()
{
    if (mStandard)
        return;
    if (mDirect)
        OpenDirect();
    else
        OpenTemporary();
}

void OutputFile::OpenDirect()
{
    mFd = open(mPath.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (mFd < 0)
        Fail(errno);
    if (FileIdentity::OfDescriptor(mFd) != mIdentity)
        throw Failure(kExitOutput, Name() + ": is no longer the file it was when the run began");
}

void OutputFile::OpenTemporary()
{
    bool unsupported = !ProcMounted();
    mFd = unsupported ? -1 : UnnamedFile::Open(mFolder, ".", O_WRONLY, unsupported);
    mUnnamed = mFd >= 0;
    if (!mUnnamed && !unsupported)
        Fail(errno);
    if (!mUnnamed)
        mFd = OpenNamed();
    Adopt();
}

// A named temporary file, where the folder's file system has no unnamed ones; registered.
int OutputFile::OpenNamed()
{
    const DeathCleanup::Blocked blocked;
    for (int i = 0; i < kNameTries; ++i) {
        const std::string name = HiddenName();
        const int fd = openat(mFolder, name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            mTemp = name;
            mSlot = DeathCleanup::Register(mFolder, mTemp.c_str());
            return fd;
        }
        if (errno != EEXIST)
            Fail(errno);
    }
    Fail(EEXIST);
}

// The new file takes the replaced file's owner first, then its mode (a change of owner may
// clear set-id bits). Neither failing stops the run: the file is still written.
void OutputFile::Adopt()
{
    struct stat info;
    const bool known = mIdentity.name.empty() && fstatat(mFolder, mName.c_str(), &info, 0) == 0;
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

std::FILE* OutputFile::Stream()
{
    if (mStream == nullptr && mStandard)
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
    if (mStandard) {
        // A writer that opens by name starts the file anew: a file standard output appends to, or
        // is part way into, would lose what it holds.
        const int flags = fcntl(STDOUT_FILENO, F_GETFL);
        if (mIdentity.regular && (flags < 0 || (flags & O_APPEND) != 0 || lseek(STDOUT_FILENO, 0, SEEK_CUR) != 0))
            throw Failure(kExitOutput, "standard output: a file written from its middle or appended to, which this "
                                       "output would empty first; name the file instead");
        return "/dev/stdout";
    }
    if (ProcMounted())
        return ProcName(mFd);
    return mDirect ? mPath : mFolderPath + "/" + mTemp;
}

void OutputFile::Prepare()
{
    std::FILE* stream = mStream;
    mStream = nullptr;
    const bool standard = stream == stdout || mStandard;
    if (stream != nullptr && (standard ? std::fflush(stream) != 0 || std::ferror(stream) : std::fclose(stream) != 0))
        Fail(errno != 0 ? errno : EIO);
    if (mDirect)
        return;
    // On disk before it takes the target's place: a crash then leaves the old file or the new.
    if (fsync(mFd) != 0)
        Fail(errno);
    if (mUnnamed) {
        const DeathCleanup::Blocked blocked;
        std::string name = LinkHidden(AT_FDCWD, ProcName(mFd).c_str(), AT_SYMLINK_FOLLOW);
        if (name.empty() && errno == ENOENT) // no /proc any more: by descriptor, which needs a privilege
            name = LinkHidden(mFd, "", AT_EMPTY_PATH);
        if (name.empty())
            Fail(errno);
        mTemp = name;
        mUnnamed = false;
        mSlot = DeathCleanup::Register(mFolder, mTemp.c_str());
    }
    const int fd = mFd;
    mFd = -1;
    if (close(fd) != 0)
        Fail(errno); // the destructor removes the temporary name
}

std::string OutputFile::LinkHidden(int fd, const char* from, int flags) const
{
    for (int i = 0; i < kNameTries; ++i) {
        const std::string name = HiddenName();
        if (linkat(fd, from, mFolder, name.c_str(), flags) == 0)
            return name;
        if (errno != EEXIST)
            return std::string();
    }
    return std::string();
}

FileIdentity OutputFile::Current() const
{
    if (mDirect)
        return mIdentity;
    struct stat info;
    if (fstatat(mFolder, mName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
        return FileIdentity::Of(info);
    return fstat(mFolder, &info) == 0 ? FileIdentity::Unmade(info, mName) : FileIdentity();
}

// Called with the signals held (OutputPlan::Commit).
void OutputFile::Keep()
{
    struct stat info;
    if (mDirect || fstatat(mFolder, mName.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return; // nothing to keep: the target is not there
    mBackup = LinkHidden(mFolder, mName.c_str(), 0);
    if (mBackup.empty())
        Fail(errno);
}

// Called with the signals held.
void OutputFile::Replace()
{
    if (mDirect)
        return;
    if (renameat(mFolder, mTemp.c_str(), mFolder, mName.c_str()) != 0)
        Fail(errno);
    DeathCleanup::Forget(mSlot);
    mTemp.clear();
    mReplaced = true;
}

void OutputFile::Undo()
{
    if (mReplaced) {
        mReplaced = false;
        const bool back = mBackup.empty() ? unlinkat(mFolder, mName.c_str(), 0) == 0 // there was no file
                                          : renameat(mFolder, mBackup.c_str(), mFolder, mName.c_str()) == 0;
        if (!back)
            return; // the old file stays under its hidden name rather than be lost
        mBackup.clear();
    }
    if (!mBackup.empty())
        unlinkat(mFolder, mBackup.c_str(), 0);
    mBackup.clear();
}

void OutputFile::Finish()
{
    if (!mBackup.empty())
        unlinkat(mFolder, mBackup.c_str(), 0);
    mBackup.clear();
    if (mFolderSyncable)
        fsync(mFolder); // the new name on disk too
}

void OutputFile::Fail(int error) const
{
    throw Failure(kExitOutput, Name() + ": cannot write: " + std::strerror(error));
}
