// Loading a plug-in and calling its factory, with vrn3-play's messages and exit code.
#include "PluginLibrary.h"

#include "Failure.h"

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
