// Loads the plug-in from an installed tree the way a host does: dlopen by path, then dlsym of
// the plain names of its entry points. A broken install layout, a missing or decorated entry
// point, or a host library that does not resolve from the installed tree fails here.
// The staging folder comes in VRN3_STAGE; LD_LIBRARY_PATH names its library folder, as the
// dynamic linker's cache does on an installed system.
#include "blocks/CBrick.h"
#include "records/Codes.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace {

using CreateBrickFn = CBrick* (*)(const TBrickConfig&);
using DllMainFn = int (*)(void*, unsigned long, void*);

const char* const kLibDir = "/lib/i386-linux-gnu/";
const char* const kPlugin = "vrn3/plugins/libVRN3SoundStream.so.1";

std::string Stage()
{
    const char* stage = std::getenv("VRN3_STAGE");
    return stage ? stage : "";
}

TBrickConfig SoundConfig()
{
    TBrickConfig config;
    std::memset(&config, 0, sizeof config);
    config.size = sizeof config;
    config.input = {kCodeSnd3, kCodeDat3};
    config.output = {kCodeIma1, kCodeSCDA};
    std::strcpy(config.streamNumber, "1");
    return config;
}

std::string LoadedPath(void* handle)
{
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr)
        return "";
    return map->l_name;
}

} // namespace

TEST(InstalledPlugin, LoadsWithTheInstalledHostAndBuildsIndependentBricks)
{
    ASSERT_FALSE(Stage().empty()) << "VRN3_STAGE is not set";
    const std::string libDir = Stage() + kLibDir;
    void* plugin = dlopen((libDir + kPlugin).c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(plugin, nullptr) << dlerror();

    // The host library the plug-in needs is the installed one, not a copy in the build tree.
    void* host = dlopen("libvrn3host.so.1", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(host, nullptr) << "the plug-in did not bring in libvrn3host.so.1";
    EXPECT_EQ(LoadedPath(host).rfind(libDir, 0), 0u) << LoadedPath(host);
    dlclose(host);

    auto create = reinterpret_cast<CreateBrickFn>(dlsym(plugin, "CreateBrick"));
    auto dllMain = reinterpret_cast<DllMainFn>(dlsym(plugin, "DllMain"));
    ASSERT_NE(create, nullptr) << "CreateBrick is not exported under its plain name";
    ASSERT_NE(dllMain, nullptr);
    EXPECT_NE(dlsym(plugin, "init"), nullptr);
    EXPECT_NE(dlsym(plugin, "fini"), nullptr);
    EXPECT_EQ(dllMain(nullptr, 7, nullptr), 1);

    TBrickConfig config = SoundConfig();
    CBrick* first = create(config);
    CBrick* second = create(config);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_NE(first->GetSignature(), second->GetSignature());
    delete second;
    delete first;

    // A configuration this plug-in does not serve: swapped descriptors.
    std::swap(config.input, config.output);
    EXPECT_EQ(create(config), nullptr);

    EXPECT_EQ(dlclose(plugin), 0) << dlerror();
}
