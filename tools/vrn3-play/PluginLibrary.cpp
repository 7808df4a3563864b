// Loading a plug-in and calling its factory.
#include "PluginLibrary.h"

#include "Failure.h"

#include <dlfcn.h>

PluginLibrary::PluginLibrary(const std::string& path) : mPath(path), mHandle(nullptr), mFactory(nullptr)
{
    mHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (mHandle == nullptr)
        throw Failure(kExitPlugin, "cannot load the plug-in: " + std::string(dlerror()));
    dlerror();
    void* symbol = dlsym(mHandle, "CreateBrick");
    if (symbol == nullptr) {
        // The loader's message lives only until the next dl call: copied before dlclose.
        const char* error = dlerror();
        const std::string why = error != nullptr ? std::string(" (") + error + ")" : std::string();
        dlclose(mHandle);
        throw Failure(kExitPlugin, path + ": no factory CreateBrick in the plug-in" + why);
    }
    mFactory = reinterpret_cast<TFactory>(symbol);
}

PluginLibrary::~PluginLibrary()
{
    dlclose(mHandle);
}

CBrick* PluginLibrary::CreateBrick(const TBrickConfig& config) const
{
    CBrick* brick = mFactory(config);
    if (brick == nullptr)
        throw Failure(kExitPlugin, mPath + ": the plug-in refused the brick configuration");
    return brick;
}
