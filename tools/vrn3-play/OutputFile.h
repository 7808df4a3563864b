// OutputFile: where a run writes its WAV, handled as other media tools handle a target.
//
// "-" is standard output. An existing target that is not a regular file (a device such as
// /dev/null, a FIFO) is opened and written as it is, never replaced. Otherwise the file is
// written as an unnamed file (O_TMPFILE) in the folder of the file the path names (symbolic
// links followed, so the link stays and the file it names is replaced), which no death of the
// process can leave behind; Commit links it in under a temporary name and renames that over the
// target in one step, so readers see the old file or the whole new one. Where the file system
// has no unnamed files, a named temporary file takes its place for the whole run. Either name
// is registered with DeathCleanup while it exists. A replaced file's mode, and its owner where
// the user may set it, pass to the new one. The temporary name is short and fixed in length,
// so it fits wherever the target's name does.
//
// Life: opened before the play, so a target that cannot be written fails early; Commit once
// everything else the run owes (trace, summary) is written. Nothing of the new file stays when
// the OutputFile goes without Commit. One OutputFile at a time per process.
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
    // Finishes the output: closes it and puts the new file in the target's place.
    // Throws Failure(kExitOutput); the target is then as it was.
    void Commit();

    bool IsStandardOutput() const { return mPath == "-"; }
    // How the target is written, for the summary: "new file", "replaced file", "device or FIFO", "standard output".
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
    int mFd = -1;
    bool mUnnamed = false;
    const char* mKind = "";
};
