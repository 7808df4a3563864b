// PluginLibrary: a brick plug-in loaded with dlopen, and its factory.
//
// The constructor loads the library by file name and looks up the exported factory
// "CreateBrick" by its plain name; the destructor unloads the library. Every brick the factory
// made, and every block such a brick made, must be gone before then: their code lives in the
// library. So a host declares the PluginLibrary before the pipeline that owns the bricks.
#pragma once

#include "blocks/CBrick.h"
#include "blocks/TBrickConfig.h"

#include <string>

class PluginLibrary {
public:
    // Throws Failure(kExitPlugin) when the library cannot be loaded or has no factory.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();

    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // A new brick for `config`, owned by the caller. Throws Failure(kExitPlugin) when the
    // factory refuses the configuration.
    CBrick* CreateBrick(const TBrickConfig& config) const;

private:
    using TFactory = CBrick* (*)(const TBrickConfig&);

    std::string mPath;
    void* mHandle;
    TFactory mFactory;
};
