// PluginLibrary: the host library's CPluginLibrary with the host programs' failures (Failure,
// exit code kExitPlugin), and the lookup of the plug-in beside a program. The same lifetime rule holds: declare it before the pipeline that owns the
// bricks it made.
#pragma once

#include "../../host/CPluginLibrary.h"

#include <memory>
#include <string>

class PluginLibrary {
public:
    // Throws Failure(kExitPlugin) when the library cannot be loaded or has no factory.
    explicit PluginLibrary(const std::string& path);
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // The plug-in beside the running program: where an installed program has it, else where a
    // build tree has it (the first that exists; the installed place when neither does). Empty when
    // the program's own file is not known (no /proc, and the name it was started by is gone).
    static std::string BesideProgram();

    // Where an installed program has the plug-in, relative to the program's folder: below the
    // library folder of this build's architecture (lib/i386-linux-gnu, lib/x86_64-linux-gnu).
    static std::string InstalledPath();

    // A new brick for `config`, owned by the caller. Throws Failure(kExitPlugin) when the
    // factory refuses the configuration.
    CBrick* CreateBrick(const TBrickConfig& config) const;

private:
    std::string mPath;
    std::unique_ptr<CPluginLibrary> mLibrary;
};
