// A library to preload into vrn3-play that makes one call of one I/O function fail, for the
// exit-code rule: with VRN3_FAIL=<function>:<n>:<errno> the n-th call of <function> made through
// the program's own calls fails with <errno>; every other call goes to the C library. With
// VRN3_SIGNAL_AFTER_RENAME=<signal>, the program sends itself that signal right after each rename
// that succeeded: a signal that arrives while the outputs are being put in place. With
// VRN3_NO_TMPFILE=<errno>, every openat of an unnamed file (O_TMPFILE) fails with <errno>, as on a
// file system that has none (EOPNOTSUPP, or EISDIR from an older kernel); VRN3_FAIL counts openat
// calls (by either name) too.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdarg>
#include <dlfcn.h>
#include <linux/fcntl.h>
#include <stdio_ext.h>
#include <sys/types.h>

namespace {

// Whether call number `call` of `name` is the one to fail; sets errno when it is.
bool Fails(const char* name, unsigned call)
{
    const char* request = std::getenv("VRN3_FAIL");
    char want[16];
    unsigned n = 0;
    int error = 0;
    if (request == nullptr || std::sscanf(request, "%15[^:]:%u:%d", want, &n, &error) != 3)
        return false;
    if (std::strcmp(want, name) != 0 || call != n)
        return false;
    errno = error;
    return true;
}

} // namespace

// Each wrapper counts its calls, fails the chosen one, and passes the others on.
#define VRN3_FAILING(result, name, failed, params, args)                                                               \
    extern "C" __attribute__((visibility("default"))) result name params                                               \
    {                                                                                                                  \
        static std::atomic<unsigned> calls{0};                                                                         \
        if (Fails(#name, ++calls))                                                                                     \
            return failed;                                                                                             \
        static const auto next = reinterpret_cast<result(*) params>(dlsym(RTLD_NEXT, #name));                          \
        return next args;                                                                                              \
    }

VRN3_FAILING(ssize_t, write, -1, (int fd, const void* data, size_t size), (fd, data, size))
VRN3_FAILING(int, close, -1, (int fd), (fd))
VRN3_FAILING(int, fsync, -1, (int fd), (fd))
VRN3_FAILING(int, linkat, -1, (int fromDir, const char* from, int toDir, const char* to, int flags),
             (fromDir, from, toDir, to, flags))
VRN3_FAILING(size_t, fwrite, 0, (const void* data, size_t size, size_t n, FILE* file), (data, size, n, file))
VRN3_FAILING(size_t, fread, 0, (void* data, size_t size, size_t n, FILE* file), (data, size, n, file))
VRN3_FAILING(int, fflush, EOF, (FILE * file), (file))
VRN3_FAILING(int, fseeko64, -1, (FILE * file, off64_t offset, int whence), (file, offset, whence))

// A failing fclose closes the stream all the same, as the C library's does when the last write
// fails (a full disk): what was still in the stream's buffer is lost, and the stream is gone.
extern "C" __attribute__((visibility("default"))) int fclose(FILE* file)
{
    static std::atomic<unsigned> calls{0};
    const bool fails = Fails("fclose", ++calls);
    const int error = errno;
    static const auto next = reinterpret_cast<int (*)(FILE*)>(dlsym(RTLD_NEXT, "fclose"));
    if (fails)
        __fpurge(file);
    const int done = next(file);
    errno = fails ? error : errno;
    return fails ? EOF : done;
}

extern "C" __attribute__((visibility("default"))) int renameat(int fromDir, const char* from, int toDir, const char* to)
{
    static std::atomic<unsigned> calls{0};
    if (Fails("renameat", ++calls))
        return -1;
    static const auto next =
        reinterpret_cast<int (*)(int, const char*, int, const char*)>(dlsym(RTLD_NEXT, "renameat"));
    const int done = next(fromDir, from, toDir, to);
    const char* signal = std::getenv("VRN3_SIGNAL_AFTER_RENAME");
    if (done == 0 && signal != nullptr)
        std::raise(std::atoi(signal));
    return done;
}

// Both names of openat (openat64 is the one a program built with 64-bit offsets calls), counted
// together as openat.
namespace {
std::atomic<unsigned> gOpenAtCalls{0};
}

#define VRN3_NO_TMPFILE(name)                                                                                          \
    extern "C" __attribute__((visibility("default"))) int name(int dir, const char* path, int flags, ...)              \
    {                                                                                                                  \
        va_list args;                                                                                                  \
        va_start(args, flags);                                                                                         \
        const bool modeGiven = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;                             \
        const unsigned mode = modeGiven ? va_arg(args, unsigned) : 0;                                                  \
        va_end(args);                                                                                                  \
        if (Fails("openat", ++gOpenAtCalls))                                                                           \
            return -1;                                                                                                 \
        const char* error = std::getenv("VRN3_NO_TMPFILE");                                                            \
        if (error != nullptr && (flags & O_TMPFILE) == O_TMPFILE) {                                                    \
            errno = std::atoi(error);                                                                                  \
            return -1;                                                                                                 \
        }                                                                                                              \
        static const auto next = reinterpret_cast<int (*)(int, const char*, int, ...)>(dlsym(RTLD_NEXT, #name));       \
        return next(dir, path, flags, mode);                                                                           \
    }

VRN3_NO_TMPFILE(openat)
VRN3_NO_TMPFILE(openat64)
