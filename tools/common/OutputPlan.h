// OutputPlan: every file one run of a host program reads and writes, known in one place.
//
// The program names its input and each output with the option that asked for it. Check, before
// any work, refuses (Failure(kExitUsage)) an output that is the input, two outputs that are one
// file, and standard output taken by two things: files compared by device and inode, so a
// symbolic or hard link, /dev/stdout or the file standard output goes to count as what they
// name; outputs not made yet by their names with links and folders resolved. The null device
// takes any number of outputs. Open then opens every output as an OutputFile, which checks at
// once that its target can be made (exit 4 before the play). Commit puts them all in place when
// the run has succeeded: each is finished first, then the signals are held back for good
// (DeathCleanup::HoldForGood) and each takes its target's place, the first added (the main
// output) last; the program then exits 0. Renames in a folder that was checked writable do not
// fail in practice; where one does, the outputs already in place are named in the failure. A run
// that fails leaves every file the plan would replace as it was (the OutputFiles go without
// Commit); what went straight into a device, a FIFO or standard output stays, and
// WrittenDirect names it.
//
// Life: one plan a run, owned by main; the OutputFiles live as long as the plan. Not for threads.
#pragma once

#include "OutputFile.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class OutputPlan {
public:
    // The file the run reads ("-": standard input); `option` names it in messages.
    void Input(const std::string& option, const std::string& path);
    // An output that `option` asks for ("-": standard output); returns its index for File.
    size_t Add(const std::string& option, const std::string& path);
    // A document of its own that `option` writes on standard output (a JSON summary).
    void UsesStandardOutput(const std::string& option);
    // Whether some output (not a document) goes to the file standard output is.
    bool OutputOnStandardOutput() const;

    // Throws Failure(kExitUsage) naming the two options that clash.
    void Check() const;
    // Opens every output in order. Throws Failure(kExitOutput).
    void Open();
    // The output of index `index`, once opened.
    OutputFile& File(size_t index) { return *mFiles.at(index); }
    // Puts every output in place. Throws Failure(kExitOutput), naming what is already in place.
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

    std::string Clash(const Entry& a, const Entry& b) const;

    Entry mInput{"", "", false};
    std::vector<Entry> mOutputs;
    std::vector<std::unique_ptr<OutputFile>> mFiles;
};
