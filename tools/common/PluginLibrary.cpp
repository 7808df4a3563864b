// Loading a plug-in and calling its factory, with the host programs' messages and exit code.
#include "PluginLibrary.h"

#include "Failure.h"
#include "PathName.h"

#include <climits>
#include <cstdlib>

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
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return VRN3_PLUGIN_FROM_BIN;
    const std::string program(self, static_cast<size_t>(length));
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
