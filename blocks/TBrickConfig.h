// The configuration a host hands to a brick when it builds it.
//
// The plug-in reads only the two content descriptors (what the brick takes in and gives out)
// and the stream number text; the rest belongs to the host. The offsets are a binary interface
// shared with every host that loads the plug-in.
#pragma once

#include <cstddef>
#include <cstdint>

// What flows on one side of a brick: the content's four-character code and the record code of
// the blocks that carry it.
struct TContentDescriptor {
    uint32_t contentCode;
    uint32_t recordCode;
};
static_assert(sizeof(TContentDescriptor) == 8, "content descriptor layout");

#pragma pack(push, 1)
struct TBrickConfig {
    uint32_t size;             // bytes of the whole configuration, for the host's checks
    uint32_t flags;            // the host's own
    TContentDescriptor input;  // what the brick takes in
    TContentDescriptor output; // what the brick gives out
    char brickName[265];       // the host's own label of the brick, NUL-terminated
    char streamNumber[223];    // decimal text: the stream the brick extracts, NUL-terminated
};
#pragma pack(pop)

static_assert(offsetof(TBrickConfig, input) == 8, "input descriptor at 8");
static_assert(offsetof(TBrickConfig, output) == 16, "output descriptor at 16");
static_assert(offsetof(TBrickConfig, streamNumber) == 289, "stream number text at 289");
static_assert(sizeof(TBrickConfig) == 512, "brick configuration size");

class CBrick;
// A plug-in's factory, exported as "CreateBrick" (extern "C"): a new brick for `config`, owned by
// the caller, or null when the plug-in makes no brick of that configuration.
using TBrickFactory = CBrick* (*)(const TBrickConfig& config);
