// A plug-in with a planted fault, for the replay's tests: the sound brick, but every tag it sends
// has bit 0 of its kind flipped. Built from the same brick sources as the real plug-in.
#include "../../records/BlockTypes.h"
#include "../../sound/CVrn3StreamSound.h"

namespace {

class CFlippedTagSound : public CVrn3StreamSound {
public:
    bool SendData(const cMemBlock& block) override
    {
        if (block.GetType() != kCodeTag)
            return CVrn3StreamSound::SendData(block);
        cTagBlock flipped(block);
        flipped.Record().kind ^= 1; // a copy of its own: the block sent is the brick's
        return CVrn3StreamSound::SendData(flipped);
    }
};

} // namespace

extern "C" CBrick* CreateBrick(const TBrickConfig& config)
{
    CBrick* brick = new CFlippedTagSound;
    brick->Create(config);
    return brick;
}
