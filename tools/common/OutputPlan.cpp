// Telling what each file of a run is, and committing a run's outputs together.
#include "OutputPlan.h"

#include "DeathCleanup.h"
#include "Failure.h"
#include "StandardStream.h"

#include <cassert>
#include <fcntl.h>
#include <unistd.h>

OutputPlan::~OutputPlan()
{
    mFiles.clear(); // before the held descriptors, so that none is reused while a file goes
    for (int fd : mHeld)
        close(fd);
}

void OutputPlan::Reads(const std::string& what, int fd)
{
    mReads.push_back(Read{what, FileIdentity::OfDescriptor(fd)});
}

void OutputPlan::ReadsNamed(const std::string& what, const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    mHeld.push_back(fd);
    Reads(what, fd);
}

size_t OutputPlan::Add(const std::string& option, const std::string& path)
{
    mOutputs.push_back(Entry{option, path, false});
    return mOutputs.size() - 1;
}

void OutputPlan::UsesStandardOutput(const std::string& option)
{
    mOutputs.push_back(Entry{option, StandardStream::kName, true});
}

void OutputPlan::UsesStandardError(const std::string& option)
{
    mStandardErrorUser = option;
}

bool OutputPlan::OutputOnStandardOutput() const
{
    for (const std::unique_ptr<OutputFile>& file : mFiles) {
        if (file && file->IsStandardOutput())
            return true;
    }
    return false;
}

std::string OutputPlan::ReadBy(const FileIdentity& identity) const
{
    for (const Read& read : mReads) {
        if (!identity.null && identity == read.identity)
            return read.what;
    }
    return std::string();
}

std::string OutputPlan::Shown(size_t index) const
{
    const Entry& entry = mOutputs[index];
    return entry.option + (entry.document ? "" : " " + entry.path);
}

// Standard output (always written: a summary, a verdict, or an output) and standard error, when a
// trace goes there, may not be a file the run reads (a terminal read and written is no file).
void OutputPlan::CheckStandardStreams() const
{
    const FileIdentity outIdentity = FileIdentity::OfDescriptor(STDOUT_FILENO);
    const FileIdentity errIdentity = FileIdentity::OfDescriptor(STDERR_FILENO);
    const std::string out = outIdentity.regular ? ReadBy(outIdentity) : "";
    if (!out.empty())
        throw Failure(kExitUsage, "standard output is " + out + "; send it elsewhere");
    const std::string err = errIdentity.regular ? ReadBy(errIdentity) : "";
    if (!mStandardErrorUser.empty() && !err.empty())
        throw Failure(kExitUsage, mStandardErrorUser + ": standard error is " + err + "; send it elsewhere");
}

void OutputPlan::CheckOutput(size_t index) const
{
    const std::unique_ptr<OutputFile>& file = mFiles[index];
    const bool standard = !file || file->IsStandardOutput();
    const FileIdentity identity = file ? file->Identity() : FileIdentity();
    const std::string read = file ? ReadBy(identity) : "";
    if (!read.empty())
        throw Failure(kExitUsage, Shown(index) + ": is " + read + "; choose another");
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        const FileIdentity stream = FileIdentity::OfDescriptor(fd);
        if (!standard && stream.regular && identity == stream)
            throw Failure(kExitUsage, Shown(index) + ": is the file standard " +
                                          (fd == STDOUT_FILENO ? "output" : "error") + " goes to; write " +
                                          (fd == STDOUT_FILENO ? "- instead" : "elsewhere"));
    }
    for (size_t j = 0; j < index; ++j) {
        const bool otherStandard = !mFiles[j] || mFiles[j]->IsStandardOutput();
        const bool same = standard ? otherStandard : mFiles[j] && !identity.null && identity == mFiles[j]->Identity();
        if (same)
            throw Failure(kExitUsage, Shown(j) + " and " + Shown(index) + ": " +
                                          (standard ? "standard output" : "one file") +
                                          " for two outputs; give each its own");
    }
}

void OutputPlan::Check()
{
    CheckStandardStreams();
    for (const Entry& entry : mOutputs)
        mFiles.emplace_back(entry.document ? nullptr : new OutputFile(entry.path));
    for (size_t i = 0; i < mFiles.size(); ++i)
        CheckOutput(i);
}

void OutputPlan::Open()
{
    for (const std::unique_ptr<OutputFile>& file : mFiles) {
        if (file)
            file->Open();
    }
}

// Every target, as it is now, is still none of the files the run reads and no other output's.
void OutputPlan::CheckAgain() const
{
    for (size_t i = 0; i < mFiles.size(); ++i) {
        if (!mFiles[i] || mFiles[i]->Direct())
            continue;
        const FileIdentity now = mFiles[i]->Current();
        const std::string read = ReadBy(now);
        for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
            if (read.empty() && now == FileIdentity::OfDescriptor(fd))
                throw Failure(kExitOutput, Shown(i) + ": is now the file a standard stream goes to; nothing replaced");
        }
        if (!read.empty())
            throw Failure(kExitOutput, Shown(i) + ": is now " + read + "; nothing replaced");
        for (size_t j = 0; j < i; ++j) {
            if (mFiles[j] && !mFiles[j]->Direct() && mFiles[j]->Current() == now)
                throw Failure(kExitOutput, Shown(j) + " and " + Shown(i) + ": now one file; nothing replaced");
        }
    }
}

void OutputPlan::Prepare()
{
    for (const std::unique_ptr<OutputFile>& file : mFiles) {
        if (file)
            file->Prepare();
    }
    mPrepared = true;
}

void OutputPlan::Commit()
{
    assert(mPrepared && "the outputs are finished and synced before they are put in place");
    DeathCleanup::HoldForGood();
    CheckAgain();
    try {
        for (const std::unique_ptr<OutputFile>& file : mFiles) {
            if (file)
                file->Keep();
        }
        for (const std::unique_ptr<OutputFile>& file : mFiles) {
            if (file)
                file->Replace();
        }
    } catch (const Failure& failure) {
        for (const std::unique_ptr<OutputFile>& file : mFiles) {
            if (file)
                file->Undo();
        }
        throw Failure(kExitOutput, failure.what() + std::string("; nothing replaced"));
    }
    for (const std::unique_ptr<OutputFile>& file : mFiles) {
        if (file)
            file->Finish();
    }
}

std::string OutputPlan::WrittenDirect() const
{
    std::string written;
    for (const std::unique_ptr<OutputFile>& file : mFiles) {
        if (file && file->Direct())
            written += (written.empty() ? "" : ", ") + file->Name();
    }
    return written;
}
