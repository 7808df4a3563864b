// CPluginLibrary: a brick plug-in opened by path with dlopen, and its factory "CreateBrick".
//
// The constructor first reads the file (CPluginImage) and refuses, before the loader maps it or
// runs any of its code, a plug-in built for another machine (ELF class, byte order, machine) or on
// another Qt Core than this host library (its DT_NEEDED names libQtCore.so.4 where the host runs
// libQt5Core.so.5, or the reverse): the two Qt flavours lay out an event list's QList
// differently, and a plug-in of the other one would misread every list. A plug-in that needs no
// Qt Core passes. Then it loads the library (every symbol bound at once, none shared with later
// libraries) and finds the factory by its plain name; the destructor, or Close, unloads it. A
// path without a slash names a file in the working folder (the loader is not asked to search).
// Every brick the factory made, and every block such a brick made, must be gone before then:
// their code lives in the library. So a host declares the CPluginLibrary before the pipeline that
// owns the bricks. One thread uses an object at a time; the loader's error text is read on the
// thread that failed and copied before any other dl call.
#pragma once

#include "../blocks/HostApi.h"
#include "../blocks/TBrickConfig.h"

#include <stdexcept>
#include <string>

class VRN3_HOST_API CPluginLibrary {
public:
    // Why loading failed: the library was refused or did not load (kOpen), or has no factory.
    // what() is the refusal, naming the plug-in's machine or Qt and the host's, or the loader's
    // message.
    class Error : public std::runtime_error {
    public:
        enum EStep { kOpen, kFactory };
        Error(EStep step, const std::string& message) : std::runtime_error(message), step(step) {}
        EStep step;
    };

    // Throws Error when the library is refused, cannot be loaded or exports no factory; then
    // nothing stays loaded.
    explicit CPluginLibrary(const std::string& path);
    ~CPluginLibrary();

    CPluginLibrary(const CPluginLibrary&) = delete;
    CPluginLibrary& operator=(const CPluginLibrary&) = delete;

    // The factory: a new brick owned by the caller, or null when the plug-in refuses `config`.
    TBrickFactory Factory() const { return mFactory; }
    CBrick* CreateBrick(const TBrickConfig& config) const { return mFactory(config); }

    // Unloads the library now (the destructor then does nothing): 0 when dlclose succeeded.
    int Close();

private:
    void* mLibrary;
    TBrickFactory mFactory;
};
