// Loading a plug-in and calling its factory, with the host programs' messages and exit code.
#include "PluginLibrary.h"

#include "Failure.h"
#include "PathName.h"

#include <climits>
#include <cstdlib>

#include <sys/auxv.h>
#include <unistd.h>

namespace {

CPluginLibrary* Load(const std::string& path)
{
    try {
        return new CPluginLibrary(path);
    } catch (const CPluginLibrary::Error& e) {
        if (e.step == CPluginLibrary::Error::kOpen)
            throw Failure(kExitPlugin, "cannot load the plug-in: " + std::string(e.what()));
        throw Failure(kExitPlugin, path + ": no factory CreateBrick in the plug-in (" + e.what() + ")");
    }
}

// The running program's file: what /proc links to, or where /proc is not mounted the name it was
// started by, resolved while the current folder is still the one it was started in (never a name
// relative to it, which would load whatever plug-in the current folder's neighbours hold). Empty
// when neither is known.
std::string ProgramFile()
{
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0)
        return std::string(self, static_cast<size_t>(length));
    const char* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    char* real = started == nullptr ? nullptr : realpath(started, nullptr);
    const std::string file = real == nullptr ? "" : real;
    std::free(real);
    return file;
}

} // namespace

PluginLibrary::PluginLibrary(const std::string& path) : mPath(path), mLibrary(Load(path)) {}

CBrick* PluginLibrary::CreateBrick(const TBrickConfig& config) const
{
    CBrick* brick = mLibrary->CreateBrick(config);
    if (brick == nullptr)
        throw Failure(kExitPlugin, mPath + ": the plug-in refused the brick configuration");
    return brick;
}

std::string PluginLibrary::InstalledPath()
{
    return VRN3_PLUGIN_FROM_BIN;
}

std::string PluginLibrary::BesideProgram()
{
    const std::string program = ProgramFile();
    if (program.empty())
        return std::string();
    const std::string folder = PathName::Folder(program) + "/";
    for (const char* relative : {VRN3_PLUGIN_FROM_BIN, VRN3_PLUGIN_FROM_BUILD}) {
        char* found = realpath((folder + relative).c_str(), nullptr);
        if (found != nullptr && access(found, R_OK) == 0) {
            const std::string path = found;
            std::free(found);
            return path;
        }
        std::free(found);
    }
    return folder + VRN3_PLUGIN_FROM_BIN;
}
