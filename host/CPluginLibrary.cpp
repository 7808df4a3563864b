// Loading a brick plug-in and finding its factory.
#include "CPluginLibrary.h"

#include "CPluginImage.h"

#include <dlfcn.h>

namespace {

// Throws Error(kOpen) when the file at `path` is a plug-in this host must not load: another
// machine's, one whose dynamic section cannot be read, or one built on another Qt Core.
// A file that cannot be read or is no ELF file is left to the loader, whose message says why.
void Vet(const std::string& path)
{
    const CPluginImage image(path);
    if (!image.IsElf())
        return;
    const std::string refused = path + ": not loaded: ";
    if (!image.IsHostMachine())
        throw CPluginLibrary::Error(
            CPluginLibrary::Error::kOpen,
            refused + "the plug-in is built for " + image.Machine() + ", this host for " +
                CPluginImage::Machine(CPluginImage::kHostClass, ELFDATA2LSB, CPluginImage::kHostMachine));
    if (!image.Damage().empty())
        throw CPluginLibrary::Error(CPluginLibrary::Error::kOpen, refused + "damaged ELF file: " + image.Damage());
    if (!image.QtCore().empty() && image.QtCore() != VRN3_HOST_QT_SONAME)
        throw CPluginLibrary::Error(CPluginLibrary::Error::kOpen,
                                    refused + "the plug-in is built on " + image.QtCore() + ", this host on " +
                                        VRN3_HOST_QT_SONAME +
                                        " (their lists differ: the plug-in would misread every event list)");
}

// The path the loader is given: a bare file name would make it search the library path, and
// read another file than the one vetted.
std::string AsPath(const std::string& path)
{
    return path.find('/') == std::string::npos ? "./" + path : path;
}

// The loader's message of the last failed dl call, or `otherwise` when it has none. It lives
// only until the next dl call, so it is copied at once.
std::string LoaderError(const char* otherwise)
{
    const char* error = dlerror();
    return error != nullptr ? std::string(error) : std::string(otherwise);
}

} // namespace

CPluginLibrary::CPluginLibrary(const std::string& path) : mLibrary(nullptr), mFactory(nullptr)
{
    Vet(AsPath(path));
    mLibrary = dlopen(AsPath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (mLibrary == nullptr)
        throw Error(Error::kOpen, LoaderError("the library did not load"));
    dlerror(); // a null symbol is an error only if dlerror says so: clear what came before
    void* symbol = dlsym(mLibrary, "CreateBrick");
    if (symbol == nullptr) {
        const std::string why = LoaderError("CreateBrick is null");
        dlclose(mLibrary);
        throw Error(Error::kFactory, why);
    }
    mFactory = reinterpret_cast<TBrickFactory>(symbol);
}

CPluginLibrary::~CPluginLibrary()
{
    Close();
}

int CPluginLibrary::Close()
{
    void* library = mLibrary;
    mLibrary = nullptr;
    mFactory = nullptr;
    return library == nullptr ? 0 : dlclose(library);
}
