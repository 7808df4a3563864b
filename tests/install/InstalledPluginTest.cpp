// Loads the plug-in from an installed tree the way a host does: dlopen by path, then dlsym of
// the plain name of its factory. A broken install layout, a decorated entry point, or a host
// library that does not resolve from the installed tree fails here. The staging folder comes in
// VRN3_STAGE; LD_LIBRARY_PATH names its library folder, as the dynamic linker's cache does on
// an installed system. It links nothing of the project, so it uses no part of the test kit.
#include "../../blocks/CBrick.h"
#include "../../records/Codes.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

TEST(InstalledPlugin, LoadsWithTheInstalledHostAndBuildsBricks)
{
    const char* stage = std::getenv("VRN3_STAGE");
    ASSERT_NE(nullptr, stage) << "VRN3_STAGE is not set";
    const std::string libDir = std::string(stage) + "/lib/" VRN3_MULTIARCH "/";
    void* plugin = dlopen((libDir + "vrn3/plugins/libVRN3SoundStream.so.1").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, plugin) << dlerror();

    // The host library the plug-in needs is the installed one, not a copy in the build tree.
    void* host = dlopen("libvrn3host.so.1", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, host) << "the plug-in did not bring in libvrn3host.so.1";
    link_map* map = nullptr;
    ASSERT_EQ(0, dlinfo(host, RTLD_DI_LINKMAP, &map));
    // Compared as real paths: on a merged-/usr system the loader's cache names /lib/..., which is
    // the same installed file as /usr/lib/....
    const std::unique_ptr<char, decltype(&std::free)> loaded(realpath(map->l_name, nullptr), &std::free);
    const std::unique_ptr<char, decltype(&std::free)> installed(realpath(libDir.c_str(), nullptr), &std::free);
    ASSERT_TRUE(loaded && installed) << map->l_name;
    EXPECT_EQ(0u, std::string(loaded.get()).rfind(std::string(installed.get()) + "/", 0)) << map->l_name;
    dlclose(host);

    const auto create = reinterpret_cast<CBrick* (*)(const TBrickConfig&)>(dlsym(plugin, "CreateBrick"));
    ASSERT_NE(nullptr, create) << "CreateBrick is not exported under its plain name";
    TBrickConfig config;
    std::memset(&config, 0, sizeof config);
    config.input = {kCodeSnd3, kCodeDat3};
    config.output = {kCodeIma1, kCodeSCDA};
    EXPECT_NE(nullptr, std::unique_ptr<CBrick>(create(config)));
    EXPECT_EQ(0, dlclose(plugin)) << dlerror();
}
