// Telling whether two names are one file, and committing a run's outputs together.
#include "OutputPlan.h"

#include "DeathCleanup.h"
#include "Failure.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The null device's numbers: any number of outputs may go there.
constexpr unsigned kNullMajor = 1, kNullMinor = 3;

// What a name (or a standard descriptor, for "-") is: a file's device and inode when it exists,
// else its name with links and folders resolved.
struct Identity {
    bool exists = false;
    bool regular = false;
    bool null = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;

    bool operator==(const Identity& other) const
    {
        return exists == other.exists && (exists ? device == other.device && inode == other.inode : name == other.name);
    }
};

Identity Of(const struct stat& info)
{
    Identity identity;
    identity.exists = true;
    identity.regular = S_ISREG(info.st_mode);
    identity.null = S_ISCHR(info.st_mode) && major(info.st_rdev) == kNullMajor && minor(info.st_rdev) == kNullMinor;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    return identity;
}

Identity Named(const std::string& name)
{
    Identity identity;
    identity.name = name;
    return identity;
}

Identity OfDescriptor(int fd)
{
    struct stat info;
    return fstat(fd, &info) == 0 ? Of(info) : Named("<closed " + std::to_string(fd) + ">");
}

// A name not made yet: its folder resolved, its last component as it is.
std::string Resolved(const std::string& path)
{
    const std::string target = OutputFile::Target(path);
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    char* real = realpath(folder.c_str(), nullptr);
    const std::string name = (real != nullptr ? std::string(real) : folder) + "/" + target.substr(slash + 1);
    std::free(real);
    return name;
}

Identity OfPath(const std::string& path, int standard)
{
    if (path == "-")
        return OfDescriptor(standard);
    struct stat info;
    if (stat(path.c_str(), &info) == 0)
        return Of(info);
    return Named(Resolved(path));
}

std::string Shown(const std::string& option, const std::string& path)
{
    return option + (path.empty() ? "" : " " + path);
}

} // namespace

void OutputPlan::Input(const std::string& option, const std::string& path)
{
    mInput = Entry{option, path, false};
}

size_t OutputPlan::Add(const std::string& option, const std::string& path)
{
    mOutputs.push_back(Entry{option, path, false});
    return mOutputs.size() - 1;
}

void OutputPlan::UsesStandardOutput(const std::string& option)
{
    mOutputs.push_back(Entry{option, "-", true});
}

bool OutputPlan::OutputOnStandardOutput() const
{
    const Identity standard = OfDescriptor(STDOUT_FILENO);
    for (const Entry& entry : mOutputs) {
        if (!entry.document && (entry.path == "-" || (!standard.null && OfPath(entry.path, STDOUT_FILENO) == standard)))
            return true;
    }
    return false;
}

// Why `a` and `b` cannot both be written, or empty.
std::string OutputPlan::Clash(const Entry& a, const Entry& b) const
{
    const bool bothStandard = a.path == "-" && b.path == "-";
    const Identity ia = OfPath(a.path, STDOUT_FILENO), ib = OfPath(b.path, STDOUT_FILENO);
    if (!bothStandard && (ia.null || !(ia == ib)))
        return "";
    const bool standard = bothStandard || ia == OfDescriptor(STDOUT_FILENO);
    return Shown(a.option, a.document ? "" : a.path) + " and " + Shown(b.option, b.document ? "" : b.path) + ": " +
           (standard ? "standard output" : "one file") + " for two outputs; give each its own";
}

void OutputPlan::Check() const
{
    const Identity input = OfPath(mInput.path, STDIN_FILENO);
    for (size_t i = 0; i < mOutputs.size(); ++i) {
        const Entry& output = mOutputs[i];
        // Only a file can be destroyed by writing it; standard output is never the input.
        if (!output.document && output.path != "-" && input.regular && OfPath(output.path, STDOUT_FILENO) == input)
            throw Failure(kExitUsage, Shown(output.option, output.path) + ": is the input file; choose another");
        for (size_t j = 0; j < i; ++j) {
            const std::string clash = Clash(mOutputs[j], output);
            if (!clash.empty())
                throw Failure(kExitUsage, clash);
        }
    }
}

void OutputPlan::Open()
{
    for (const Entry& entry : mOutputs)
        mFiles.emplace_back(entry.document ? nullptr : new OutputFile(entry.path));
}

void OutputPlan::Commit()
{
    for (const std::unique_ptr<OutputFile>& file : mFiles) {
        if (file)
            file->Prepare();
    }
    DeathCleanup::HoldForGood();
    std::string placed;
    // Last added, first placed: the main output (added first) goes last, so that a rename that
    // fails leaves it as it was.
    for (auto it = mFiles.rbegin(); it != mFiles.rend(); ++it) {
        const std::unique_ptr<OutputFile>& file = *it;
        if (!file)
            continue;
        try {
            file->Commit();
        } catch (const Failure& failure) {
            throw Failure(kExitOutput, failure.what() + (placed.empty() ? "" : "; already in place:" + placed));
        }
        placed += (placed.empty() ? " " : ", ") + file->Name();
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
