// A plug-in library whose factory refuses every configuration, for the host's error path.
#include "blocks/CBrick.h"

extern "C" __attribute__((visibility("default"))) CBrick* CreateBrick(const TBrickConfig&)
{
    return nullptr;
}
