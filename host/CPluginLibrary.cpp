// Loading a brick plug-in and finding its factory.
#include "CPluginLibrary.h"

#include <dlfcn.h>

namespace {

// The loader's message of the last failed dl call, or `otherwise` when it has none. It lives
// only until the next dl call, so it is copied at once.
std::string LoaderError(const char* otherwise)
{
    const char* error = dlerror();
    return error != nullptr ? std::string(error) : std::string(otherwise);
}

} // namespace

CPluginLibrary::CPluginLibrary(const std::string& path)
    : mLibrary(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)), mFactory(nullptr)
{
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
