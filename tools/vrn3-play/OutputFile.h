// OutputFile: where a run writes its WAV, handled as other media tools handle a target.
//
// "-" is standard output. An existing target that is not a regular file (a device such as
// /dev/null, a FIFO) is opened and written as it is, never replaced. Otherwise the file goes
// through a temporary file beside the file the path names (symbolic links followed, so the
// link stays and the file it names is replaced); Commit renames it over the target in one
// step, so readers see the old file or the whole new one. A replaced file's mode, and its owner
// where the user may set it, pass to the new one. The temporary name is short and fixed in
// length, so it fits wherever the target's name does.
//
// Life: opened before the play, so a target that cannot be written fails early; Commit once
// the data is written. The temporary file goes when the OutputFile goes without Commit, and
// also when SIGINT, SIGTERM or SIGHUP end the program (InstallSignalCleanup) or when
// RemoveTemporary is called from a last-resort handler. One OutputFile at a time per process.
#pragma once

#include <cstddef>
#include <cstdint>
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
    // Finishes the output: closes it and renames a temporary file over the target.
    // Throws Failure(kExitOutput).
    void Commit();

    bool IsStandardOutput() const { return mPath == "-"; }
    // How the target is written, for the summary: "new file", "replaced file", "device or FIFO", "standard output".
    const char* Kind() const { return mKind; }

    // Removes the temporary file of the open OutputFile, if any; async-signal-safe.
    static void RemoveTemporary();
    // Removes the temporary file when SIGINT, SIGTERM or SIGHUP arrives, then dies of it.
    static void InstallSignalCleanup();

private:
    void OpenDirect(const std::string& target);
    void OpenTemporary(const std::string& target, bool replacing);
    [[noreturn]] void Fail(int error) const;

    std::string mPath;   // as given
    std::string mTarget; // the file a temporary file replaces, links followed
    int mFd = -1;
    bool mTemporary = false;
    const char* mKind = "";
};
