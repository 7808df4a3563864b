// DeathCleanup: what the program does when a signal ends it, so that no named temporary file
// outlives the process.
//
// The output and the spool are unnamed files (O_TMPFILE) wherever the file system allows, and
// those vanish with the process however it dies, SIGKILL included. A name exists only where a
// file system lacks unnamed files, and for the few system calls that link the finished outputs
// into place; those names (one an output, each in the folder its output holds open) are registered here, and every signal whose default
// action ends the process removes them and then dies of the signal as it would have. SIGXFSZ is ignored instead,
// so a write beyond the file size limit fails with EFBIG and is reported like any full disk.
// The calls that create or retire the name run inside a Blocked scope, so no handler sees a
// half-made name. The final commit of a run's outputs holds the signals back for good
// (HoldForGood): a signal that comes while the outputs take their targets' places waits, and the
// program then exits 0 without meeting it, so a non-zero exit never comes with a replaced target.
// Everything here is process-wide; the handler is async-signal-safe.
#pragma once

#include <csignal>

class DeathCleanup {
public:
    // Installs the handlers; called once, first thing in main.
    static void Install();
    // Opens /dev/null on each of descriptors 0 to 2 that is closed, reading for 0 and writing
    // for 1 and 2 denied, so no file the program opens takes their place and a write there fails.
    static void MakeStandardDescriptorsValid();

    // Names registered at once at the most: one for each output a run writes.
    static constexpr int kMaxNames = 8;

    // Registers `name` in the open folder `folder` to remove on death (the name copied, at most
    // PATH_MAX bytes; the folder held open by the caller while registered); returns its slot, -1
    // when every slot is taken (the name then stays on a death). Call inside Blocked.
    static int Register(int folder, const char* name);
    // Forgets the name in `slot` without removing it; call inside Blocked.
    static void Forget(int slot);
    // Removes the name in `slot` and forgets it; call inside Blocked.
    static void Remove(int slot);
    // Removes every registered name and forgets them; async-signal-safe.
    static void RemoveNow();
    // Holds the handled signals back on the calling thread until the process ends.
    static void HoldForGood();

    // Holds the handled signals back for its lifetime (on the calling thread).
    class Blocked {
    public:
        Blocked();
        ~Blocked();
        Blocked(const Blocked&) = delete;
        Blocked& operator=(const Blocked&) = delete;

    private:
        sigset_t mOld;
    };
};
