// OutputFile: one file a run writes (a WAV, a capture, digests, a trace), known by what it is
// and replaced as coreutils' install or rsync replace a target.
//
// Standard output is "-", and also any name that reaches descriptor 1 (/dev/stdout, /dev/fd/1,
// /proc/self/fd/1) or that is the FIFO, pipe or device standard output is: those are written
// through descriptor 1 (IsStandardOutput says so, the one place that decides it). Another name of
// an existing target that is not a regular file (a device such as /dev/null, a FIFO) is opened
// and written as it is, never replaced: what reaches it stays whatever becomes of the run
// (Direct). Otherwise the target is the file the path names, symbolic links of its last
// component followed (the link stays and the file it names is replaced). Its folder is opened
// when the OutputFile is made and held to the end: the new file is made in it (an unnamed
// O_TMPFILE, which no death of the process leaves behind, or, where the file system has none, a
// hidden named one registered with DeathCleanup) and put in place relative to it, so that a
// folder renamed, swapped for a link or mounted over during the run changes nothing. A replaced
// file's mode, and its owner where the user may set it, pass to the new one.
//
// Made at the plan, the OutputFile refuses (Failure(kExitOutput)) what would make the
// replacement fail or that the user may not do: a name longer than its folder allows, a folder
// that cannot be written, a target write-protected against the user, one in a sticky folder that
// belongs to someone else, an immutable or append-only one, a name that no longer names the file
// it reaches (/proc/self/fd/N of a deleted file). Identity() is what the target is, for the plan
// to compare with every file the run reads and every other output; Current() is the same taken
// again just before the replacement.
//
// Life: made by the plan; Open before the play; written through Write, Stream or a writer that
// opens Path(); Prepare (flushed, synced to disk, named), then Keep, Replace and Finish (or Undo)
// run by OutputPlan::Commit with the signals held. Nothing of the new file stays when the
// OutputFile goes without Replace. Not shared between threads: Stream's lines are written by
// whoever holds its lock.
#pragma once

#include "FileIdentity.h"
#include "StandardStream.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class OutputFile {
public:
    // Resolves the target and holds its folder. Throws Failure(kExitOutput).
    explicit OutputFile(const std::string& path);
    ~OutputFile();

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens the direct target, or makes the new file in the held folder. Throws Failure(kExitOutput).
    void Open();
    // Writes all of `data`. Throws Failure(kExitOutput).
    void Write(const uint8_t* data, size_t size);
    // A buffered stream on the file, made on the first call and owned by the OutputFile; what is
    // written to it is checked in Prepare.
    std::FILE* Stream();
    // A name by which a writer that opens files by name (and empties them) reaches the new file
    // itself (or the direct target's open descriptor). Throws Failure(kExitOutput) for standard
    // output on a regular file it appends to or is part way into.
    std::string Path() const;
    // Finishes the file: flushes it, syncs it to disk, closes it and gives an unnamed one a
    // temporary name. Throws Failure(kExitOutput); nothing of the new file then stays.
    void Prepare();

    // What the target was at the plan, and what it is now (taken in the held folder).
    const FileIdentity& Identity() const { return mIdentity; }
    FileIdentity Current() const;
    // Keeps the old target (if there is one) under a hidden name in its folder. Throws
    // Failure(kExitOutput); nothing is then changed.
    void Keep();
    // Puts the prepared file in the target's place. Throws Failure(kExitOutput); the target is
    // then as it was.
    void Replace();
    // Puts the kept old target back (or removes the new file where there was none); never throws.
    void Undo();
    // Drops the kept old target and syncs the folder; never throws.
    void Finish();

    bool IsStandardOutput() const { return mStandard; }
    // Written straight into its target (standard output, a device, a FIFO): what the run wrote
    // there stays even when the run fails.
    bool Direct() const { return mDirect; }
    // The name as given, or "standard output".
    std::string Name() const { return StandardStream::OutputName(mPath); }
    // How the target is written, for a summary: "new file", "replaced file", "device or FIFO",
    // "standard output".
    const char* Kind() const { return mKind; }

private:
    void Resolve(const struct stat* named);
    void HoldFolder(const std::string& folder);
    void CheckReplaceable(const struct stat* existing, const struct stat& folder) const;
    void OpenDirect();
    void OpenTemporary();
    int OpenNamed();
    // Links `fd`'s file into the held folder under a fresh hidden name, which is returned.
    std::string LinkHidden(int fd, const char* from, int flags) const;
    void Adopt();
    [[noreturn]] void Fail(int error) const;

    std::string mPath;       // as given
    std::string mFolderPath; // the folder's name, for a writer that opens by name without /proc
    std::string mName;       // the target's name in the held folder
    FileIdentity mIdentity;
    int mFolder = -1;             // the held folder
    bool mFolderSyncable = false; // opened for reading, so that it can be synced
    std::string mTemp;            // the temporary name in the folder while one exists
    std::string mBackup;          // the old target's hidden name while it is kept
    int mSlot = -1;               // mTemp's DeathCleanup slot
    int mFd = -1;
    std::FILE* mStream = nullptr;
    bool mStandard = false;
    bool mDirect = false;
    bool mUnnamed = false;
    bool mReplaced = false;
    const char* mKind = "";
};
