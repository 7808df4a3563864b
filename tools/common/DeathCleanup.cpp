// Signal handlers that remove the registered temporary name, and valid standard descriptors.
#include "DeathCleanup.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

// The registered names, their folders and whether each slot holds one; they change only with the
// signals held back.
char gPaths[DeathCleanup::kMaxNames][PATH_MAX];
int gFolders[DeathCleanup::kMaxNames];
volatile sig_atomic_t gRegistered[DeathCleanup::kMaxNames] = {};

// Every signal whose default action ends the process, but SIGXFSZ (ignored) and the two that
// cannot be caught; the real-time signals are added to these.
constexpr int kDeadlySignals[] = {SIGHUP,    SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                                  SIGFPE,    SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                                  SIGSTKFLT, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};

sigset_t DeadlySignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kDeadlySignals)
        sigaddset(&set, signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        sigaddset(&set, signal);
    return set;
}

// GCOVR_EXCL_START: runs only as the process dies of the signal, which writes no coverage counters
void OnDeadlySignal(int signal)
{
    DeathCleanup::RemoveNow();
    raise(signal); // the handler was reset: once this returns, the default action ends the program
}
// GCOVR_EXCL_STOP

} // namespace

void DeathCleanup::Install()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnDeadlySignal;
    action.sa_flags = SA_RESETHAND;
    action.sa_mask = DeadlySignals();
    const sigset_t set = action.sa_mask;
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction old;
        // A signal ignored by whoever started the program stays ignored, as shells expect, and
        // one a runtime already handles (a sanitizer's fault report) stays with it.
        if (sigismember(&set, signal) == 1 && sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_DFL &&
            (old.sa_flags & SA_SIGINFO) == 0)
            sigaction(signal, &action, nullptr); // an emulator may keep a few for itself: those fail
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

void DeathCleanup::MakeStandardDescriptorsValid()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (opened != fd) // the lowest free descriptor is this one, unless /dev/null is missing
            _exit(127);
    }
}

int DeathCleanup::Register(int folder, const char* name)
{
    for (int slot = 0; slot < kMaxNames; ++slot) {
        if (gRegistered[slot])
            continue;
        std::strncpy(gPaths[slot], name, PATH_MAX - 1);
        gFolders[slot] = folder;
        gRegistered[slot] = 1;
        return slot;
    }
    return -1;
}

void DeathCleanup::Forget(int slot)
{
    if (slot >= 0)
        gRegistered[slot] = 0;
}

void DeathCleanup::Remove(int slot)
{
    if (slot >= 0 && gRegistered[slot])
        unlinkat(gFolders[slot], gPaths[slot], 0);
    Forget(slot);
}

// GCOVR_EXCL_START: runs only before a death by signal or vrn3-play's _exit: neither writes counters
void DeathCleanup::RemoveNow()
{
    for (int slot = 0; slot < kMaxNames; ++slot)
        Remove(slot);
}
// GCOVR_EXCL_STOP

void DeathCleanup::HoldForGood()
{
    const sigset_t set = DeadlySignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

DeathCleanup::Blocked::Blocked()
{
    const sigset_t set = DeadlySignals();
    pthread_sigmask(SIG_BLOCK, &set, &mOld);
}

DeathCleanup::Blocked::~Blocked()
{
    pthread_sigmask(SIG_SETMASK, &mOld, nullptr);
}
