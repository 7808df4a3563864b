// OutputFile: one file a run writes (a WAV, a capture, digests, a trace), handled as other media
// tools handle a target.
//
// "-" is standard output. An existing target that is not a regular file (a device such as
// /dev/null, a FIFO) is opened and written as it is, never replaced: what reaches it stays
// whatever becomes of the run (Direct). Otherwise the file is written as an unnamed file
// (O_TMPFILE) in the folder of the file the path names (symbolic links followed, so the link
// stays and the file it names is replaced), which no death of the process can leave behind;
// Prepare links it in under a temporary name and Commit renames that over the target in one
// step, so readers see the old file or the whole new one. Where the file system has no unnamed
// files (or /proc, through which a writer reopens one by name), a named temporary file takes its
// place for the whole run. Either name is registered with DeathCleanup while it exists. A
// replaced file's mode, and its owner where the user may set it, pass to the new one. The
// temporary name is short and fixed in length, so it fits wherever the target's name does.
//
// What would make Commit fail is checked when the file is opened, before the run does any work:
// a name longer than its folder allows, a folder that cannot be written, a target that is
// immutable or append-only.
//
// Life: opened before the play; written through Write, Stream or a writer that opens Path();
// Prepare, then Commit, once everything else the run owes is written (OutputPlan does both for
// all of a run's outputs). Nothing of the new file stays when the OutputFile goes without
// Commit. Not shared between threads: Stream's lines are written by whoever holds its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class OutputFile {
public:
    // Throws Failure(kExitOutput).
    explicit OutputFile(const std::string& path);
    ~OutputFile();

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Writes all of `data`. Throws Failure(kExitOutput).
    void Write(const uint8_t* data, size_t size);
    // A buffered stream on the file, made on the first call and owned by the OutputFile; what is
    // written to it is checked in Prepare.
    std::FILE* Stream();
    // A name by which a writer that opens files by name reaches the new file itself.
    std::string Path() const;
    // Finishes the file: flushes and closes it and gives an unnamed one a temporary name. Throws
    // Failure(kExitOutput); nothing of the new file then stays.
    void Prepare();
    // Puts the prepared file in the target's place. Throws Failure(kExitOutput); the target is
    // then as it was.
    void Commit();

    // The file a path names, with every symbolic link of its last component followed (it may
    // not exist); empty, with errno set, for a loop of links.
    static std::string Target(std::string path);

    bool IsStandardOutput() const { return mPath == "-"; }
    // Written straight into its target (standard output, a device, a FIFO): what the run wrote
    // there stays even when the run fails.
    bool Direct() const { return mDirect; }
    // The name as given, or "standard output".
    std::string Name() const { return IsStandardOutput() ? "standard output" : mPath; }
    // How the target is written, for a summary: "new file", "replaced file", "device or FIFO",
    // "standard output".
    const char* Kind() const { return mKind; }

private:
    void OpenDirect(const std::string& target);
    void OpenTemporary(const std::string& target, bool replacing);
    // A named temporary file, where the folder's file system has no unnamed ones.
    int OpenNamed(const std::string& folder);
    // Gives the unnamed file a fresh temporary name in its folder; the name is registered.
    void LinkUnnamed();
    void Adopt(const std::string& target, bool replacing);
    [[noreturn]] void Fail(int error) const;

    std::string mPath;   // as given
    std::string mTarget; // the file a temporary file replaces, links followed
    std::string mTemp;   // the temporary name while one exists
    int mSlot = -1;      // mTemp's DeathCleanup slot
    int mFd = -1;
    std::FILE* mStream = nullptr;
    bool mUnnamed = false;
    bool mDirect = false;
    const char* mKind = "";
};
