// The configuration a host hands the sound brick of this plug-in: sound fragments ("snd3" blocks
// of "Dat3" records) in, IMA ADPCM sound data ("ima1" in "SCDA" records) out, for one stream of
// the archive. Shared with every host that builds the brick.
#pragma once

#include "../blocks/TBrickConfig.h"
#include "Codes.h"

#include <cstdio>
#include <cstring>

// The sound brick's configuration for stream `stream`: every field the plug-in does not read is 0
// but the size and the host's label of the brick.
inline TBrickConfig SoundBrickConfig(unsigned stream)
{
    TBrickConfig config;
    std::memset(&config, 0, sizeof config);
    config.size = sizeof config;
    config.input = TContentDescriptor{kCodeSnd3, kCodeDat3};
    config.output = TContentDescriptor{kCodeIma1, kCodeSCDA};
    std::snprintf(config.brickName, sizeof config.brickName, "VRN3SoundStream");
    std::snprintf(config.streamNumber, sizeof config.streamNumber, "%u", stream);
    return config;
}
