// The plug-in's face towards the host: the factory and the load and unload entry points.
//
// These four functions are the only symbols the library exports. The node pools of the block
// framework are made by the library's static initialisation and freed at unload, after fini.
#include "CVrn3StreamSound.h"

#include <memory>

#define VRN3_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

bool Is(const TContentDescriptor& descriptor, uint32_t content, uint32_t record)
{
    return descriptor.contentCode == content && descriptor.recordCode == record;
}

} // namespace

// Builds a sound brick for a configuration that takes "snd3"/"Dat3" in and gives "ima1"/"SCDA"
// out; returns null (allocating nothing) for any other. The caller owns the brick and destroys
// it through its virtual destructor. Exceptions from allocation pass on; no half-built brick
// is returned.
VRN3_EXPORT CBrick* CreateBrick(const TBrickConfig& config)
{
    if (!Is(config.input, kCodeSnd3, kCodeDat3) || !Is(config.output, kCodeIma1, kCodeSCDA))
        return nullptr;
    std::unique_ptr<CVrn3StreamSound> brick(new CVrn3StreamSound);
    brick->Create(config); // its status does not decide: the brick is returned whatever it says
    return brick.release();
}

VRN3_EXPORT int DllMain(void*, unsigned long, void*)
{
    return 1;
}

// The loader runs these at load and unload; the reason 1 is load, 0 unload.
VRN3_EXPORT __attribute__((constructor)) void init()
{
    DllMain(nullptr, 1, nullptr);
}

VRN3_EXPORT __attribute__((destructor)) void fini()
{
    DllMain(nullptr, 0, nullptr);
}
