// A plug-in library whose factory refuses every configuration, for the host's error path; asked
// for stream 8, it runs out of memory instead, for the host's out-of-memory path.
#include "../../blocks/CBrick.h"

#include <cstring>
#include <new>

extern "C" __attribute__((visibility("default"))) CBrick* CreateBrick(const TBrickConfig& config)
{
    if (std::strcmp(config.streamNumber, "8") == 0)
        throw std::bad_alloc();
    return nullptr;
}
