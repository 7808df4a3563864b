// OutputPlan: every file one run of a host program reads and writes, known in one place by what
// each file is.
//
// The program hands the plan every file it reads, open (Reads: the input, the plug-in, a capture;
// known by the device and inode of the descriptor, which it holds to the end), then names each
// output with the option that asked for it. Check, before any work, resolves every output to an
// OutputFile (which holds its folder and refuses, Failure(kExitOutput), a target the user may not
// replace) and refuses (Failure(kExitUsage)) an output that is a file the run reads, by whatever
// name; standard output or standard error being a file the run reads (when the run writes there);
// an output that is the file standard output or standard error goes to under another name; two
// outputs that are one file; and standard output taken by two things. The null device takes any
// number of outputs. Open then opens every output (exit 4 before the play). Prepare finishes and
// syncs each of them when the run has succeeded, before the program prints its report; Commit then
// puts them all in place, all or nothing: the signals are held back for good (DeathCleanup::HoldForGood), every target is checked again by
// what it is now, each old target is kept under a hidden name in its folder, each new file takes
// its target's place, and only then are the old ones dropped; a step that fails puts every old
// target back, so a non-zero exit never comes with a target replaced. A run that fails leaves
// every file the plan would replace as it was (the OutputFiles go without Commit); what went
// straight into a device, a FIFO or standard output stays, and WrittenDirect names it.
//
// Life: one plan a run, owned by main; the OutputFiles and the read files' descriptors live as
// long as the plan. Not for threads.
#pragma once

#include "FileIdentity.h"
#include "OutputFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class OutputPlan {
public:
    // An index that names no output: what a program holds for an output not asked for.
    static constexpr size_t kNoOutput = SIZE_MAX;

    OutputPlan() = default;
    ~OutputPlan();
    OutputPlan(const OutputPlan&) = delete;
    OutputPlan& operator=(const OutputPlan&) = delete;

    // A file the run reads, open on `fd` (not owned); `what` names it in messages ("the input file").
    void Reads(const std::string& what, int fd);
    // A file the run reads later by `path` (the plug-in): opened now and held until the plan goes,
    // so that it is known by what it is; one that cannot be opened is left to the reader to report.
    void ReadsNamed(const std::string& what, const std::string& path);
    // An output that `option` asks for (StandardStream::kName: standard output); returns its index for File.
    size_t Add(const std::string& option, const std::string& path);
    // A document of its own that `option` writes on standard output (a JSON summary, a verdict).
    void UsesStandardOutput(const std::string& option);
    // Lines that `option` writes on standard error (a trace).
    void UsesStandardError(const std::string& option);
    // Whether some output (not a document) goes to standard output; once checked.
    bool OutputOnStandardOutput() const;

    // Resolves the outputs. Throws Failure(kExitUsage) naming what clashes, Failure(kExitOutput)
    // for a target that cannot be replaced.
    void Check();
    // Opens every output in order. Throws Failure(kExitOutput).
    void Open();
    // The output of index `index`, once checked.
    OutputFile& File(size_t index) { return *mFiles.at(index); }
    // Finishes every output and syncs it to disk, under its hidden name where it has one: what
    // can fail of a good run fails here, before the program reports the run. Throws
    // Failure(kExitOutput), with every target as it was.
    void Prepare();
    // Puts every prepared output in place, or none. Throws Failure(kExitOutput).
    void Commit();
    // The outputs written straight into their targets so far (", "-separated), for the line of
    // a failed run; empty when none.
    std::string WrittenDirect() const;

private:
    struct Entry {
        std::string option;
        std::string path;
        bool document; // a document on standard output, no file of its own
    };
    struct Read {
        std::string what;
        FileIdentity identity;
    };

    void CheckStandardStreams() const;
    void CheckOutput(size_t index) const;
    std::string Shown(size_t index) const;
    // What of the run's reads and standard streams `identity` is, or empty.
    std::string ReadBy(const FileIdentity& identity) const;
    void CheckAgain() const;

    std::vector<Read> mReads;
    std::vector<int> mHeld; // descriptors of ReadsNamed
    std::vector<Entry> mOutputs;
    std::string mStandardErrorUser;
    std::vector<std::unique_ptr<OutputFile>> mFiles;
    bool mPrepared = false; // Prepare has run: Commit may put the outputs in place
};
