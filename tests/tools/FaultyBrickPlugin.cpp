// The sound brick with one broken framework rule, chosen at build time by VRN3_FAULT (the index
// of its rule in the list tests/tools/CMakeLists.txt builds), for vrn3-replay --validate's tests:
// each plug-in must be caught by exactly its rule's monitor, naming the block that broke it.
// Built from the same brick sources as the real plug-in; every fault strikes a chosen block
// (the first tag, header, fragment, request or time range) and leaves the rest as it was.
#include "../../records/BlockTypes.h"
#include "../../records/Codes.h"
#include "../../sound/CVrn3StreamSound.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>

namespace {

enum EFault {
    kReceivedModified,
    kSentModified,
    kBlockLeaked,
    kUsedAfterRelease,
    kHandlerRefused,
    kHandlerThrew,
    kForeignThread,
    kReentered,
    kVisitedList,
    kPassedTwice,
    kNodeLockOrder,
    kLockInversion,
    kResetAnswer,
    kReceivedModifiedLater, // changes a received block it keeps, in a later call
    kSentModifiedLater,     // changes a sent block it keeps, in a later call
    kHandlerThrewOther,     // throws what is no std::exception
    kSentOutside,           // sends from its destructor, outside any handler call
    kResetPassed,           // answers a reset but passes it on too
    kResetNotEchoed,        // answers a reset with other values
    kSilentAfterFailure,    // stops answering requests once an allocation failed
    kReceivedResized,       // cuts a received block's size
    kResetAnsweredTwice,    // sends a data block and another notification during a reset, then a second answer
};
constexpr EFault kFault = static_cast<EFault>(VRN3_FAULT);

struct Peek : cMemBlock {
    using cMemBlock::NodeOf;
};

uint8_t* Bytes(const cMemBlock& block)
{
    return const_cast<uint8_t*>(static_cast<const uint8_t*>(block.GetData()));
}

CCriticalSection gFirst, gSecond; // two locks of the brick's own, for the inversion

class CFaultySound : public CVrn3StreamSound {
public:
    bool onData(const cMemBlock& block) override
    {
        const uint32_t type = block.GetType();
        const bool firstTag = type == kCodeTag && mTags++ == 0;
        if (kFault == kHandlerThrew && firstTag)
            throw std::runtime_error("a planted failure");
        if (kFault == kHandlerThrewOther && firstTag)
            throw 41;
        if ((kFault == kReceivedModifiedLater || kFault == kSentModifiedLater) && type == kCodeTag && mTags == 2) {
            Bytes(mKept)[8] ^= 0xFF; // the kept block, a call later
            mKept = cMemBlock();
        }
        if (kFault == kForeignThread && type == kCodeHdr3) {
            bool taken = false;
            std::thread([&] { taken = CVrn3StreamSound::onData(block); }).join();
            return taken;
        }
        if (kFault == kReentered && firstTag) {
            enqueueData(cMemBlock()); // an empty block, handled at once from inside this call
            DoData();
        }
        if (kFault == kUsedAfterRelease && mReleased != nullptr) {
            mReleased->mLock.Lock(INFINITE); // the node went back to its pool after the last call
            mReleased->mLock.Unlock();
            mReleased = nullptr;
        }
        if (kFault == kSilentAfterFailure)
            return mGivenUp || GiveUpOnFailure([&] { return CVrn3StreamSound::onData(block); });
        const bool taken = CVrn3StreamSound::onData(block);
        Strike(block, type, firstTag);
        return taken && !(kFault == kHandlerRefused && firstTag);
    }

    bool onCtrl(cMemBlock& block) override
    {
        if (kFault == kSilentAfterFailure)
            return mGivenUp || GiveUpOnFailure([&] { return CVrn3StreamSound::onCtrl(block); });
        const bool taken = CVrn3StreamSound::onCtrl(block);
        if (kFault == kVisitedList && block.GetType() == kCodeChun && mRequests++ == 0) {
            auto* node = static_cast<cChunkCmdBlock::node*>(Peek::NodeOf(block));
            node->mVisited[node->mVisitedCount++] = this; // listed again, by hand
        }
        return taken;
    }

    bool onNotify(const cMemBlock& block) override
    {
        const uint32_t code = cNotifyBlock(block).Record().notifyCode;
        if (kFault == kResetAnswer && code == kCodeRset)
            return true; // no answer
        if (kFault == kResetNotEchoed && code == kCodeRset) {
            cReadyBlock ready;
            return SendData(ready);
        }
        if (kFault == kResetPassed && code == kCodeRset)
            SendData(block);
        if (kFault == kResetAnsweredTwice && code == kCodeRset) {
            SendData(cMemBlock());
            SendData(cMessageBlock());
            return CVrn3StreamSound::onNotify(block) && SendData(cReadyBlock());
        }
        const bool taken = CVrn3StreamSound::onNotify(block);
        if (kFault == kPassedTwice && code == kCodeTimR)
            SendData(block);
        return taken;
    }

    bool SendData(const cMemBlock& block) override
    {
        const bool sent = CVrn3StreamSound::SendData(block);
        if (kFault == kSentModified && block.GetType() == kCodeSCDA && mSounds++ == 0)
            Bytes(block)[0] ^= 0xFF;
        if (kFault == kSentModifiedLater && block.GetType() == kCodeTag && mKept.GetType() != kCodeTag)
            mKept = block;
        return sent;
    }

    ~CFaultySound() override
    {
        if (kFault == kSentOutside)
            SendData(cMemBlock());
    }

private:
    // Blocks handled until the first allocation failure, none after it.
    template <class Handle>
    bool GiveUpOnFailure(Handle handle)
    {
        try {
            return handle();
        } catch (const std::bad_alloc&) {
            mGivenUp = true;
            throw;
        }
    }

    // The faults that strike after the brick handled the block.
    void Strike(const cMemBlock& block, uint32_t type, bool firstTag)
    {
        if (kFault == kReceivedModified && type == kCodeSnd3 && mFragments++ == 0)
            std::memset(Bytes(block) + 12, 0xA5, 4);
        if (kFault == kReceivedResized && type == kCodeSnd3 && mFragments++ == 0)
            --Peek::NodeOf(block)->mSize;
        if (kFault == kBlockLeaked && firstTag)
            new cMemBlock(block);
        if (kFault == kReceivedModifiedLater && firstTag)
            mKept = block;
        if (kFault == kUsedAfterRelease && type == kCodeVid3 && mVideo++ == 0)
            mReleased = Peek::NodeOf(block);
        if (kFault == kNodeLockOrder && firstTag) {
            CSingleLock pool(&cTagBlock::node::mChain.mLock, true);
            const cMemBlock copy(block);
        }
        if (kFault == kLockInversion && type == kCodeTag) {
            CSingleLock outer(mTags == 1 ? &gFirst : &gSecond, true);
            CSingleLock inner(mTags == 1 ? &gSecond : &gFirst, true);
        }
    }

    int mTags = 0, mRequests = 0, mSounds = 0, mFragments = 0, mVideo = 0;
    cMemBlock::node* mReleased = nullptr;
    cMemBlock mKept; // a block kept to be changed later
    bool mGivenUp = false;
};

} // namespace

extern "C" __attribute__((visibility("default"))) CBrick* CreateBrick(const TBrickConfig& config)
{
    CBrick* brick = new CFaultySound;
    brick->Create(config);
    return brick;
}
