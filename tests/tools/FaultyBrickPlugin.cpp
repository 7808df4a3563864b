// The sound brick with one broken framework rule, chosen at build time by VRN3_FAULT (the index
// of its rule in the list tests/tools/CMakeLists.txt builds), for vrn3-replay --validate's tests:
// each plug-in must be caught by exactly its rule's monitor, naming the block that broke it.
// The last faults break no framework rule but the stream's protocol as vrn3-play checks it (what
// it announces and sends downstream), for vrn3-play's refusals.
// Built from the same brick sources as the real plug-in; every fault strikes a chosen block
// (the first tag, header, fragment, request or time range) and leaves the rest as it was.
#include "../../records/BlockTypes.h"
#include "../../records/Codes.h"
#include "../../records/DataPathBlocks.h"
#include "../../sound/CVrn3StreamSound.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

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
    kSilentAfterRefusal,    // stops answering once an allocation without exceptions is refused
    kReceivedResized,       // cuts a received block's size
    kResetAnsweredTwice,    // sends a data block and another notification during a reset, then a second answer
    kRateZero,              // announces the sound at 0 Hz
    kUnanswered,            // never closes the second chunk it is asked for
    kSoundBeyondEnd,        // sends a record in the empty chunk after the archive's end
    kEndUnmarked,           // opens the chunk after the archive's end with a plain tag
    kRecordCut,             // sends the first record cut to 2 bytes
    kRecordLong,            // sends the first record 4 bytes longer
    kTimeRepeated,          // sends the first record again in the second chunk
    kNoSound,               // sends no record at all
    kShortBlocks,           // sends, before its configuration, blocks too short for their records
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

struct Scratch {
    ~Scratch() {} // a destructor of its own: an array of these is given back with its size
};

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
        if (kFault == kSilentAfterFailure || kFault == kSilentAfterRefusal)
            return mGivenUp || GiveUpOnFailure([&] { return CVrn3StreamSound::onData(block); });
        const bool taken = CVrn3StreamSound::onData(block);
        Strike(block, type, firstTag);
        return taken && !(kFault == kHandlerRefused && firstTag);
    }

    bool onCtrl(cMemBlock& block) override
    {
        if (kFault == kSilentAfterFailure || kFault == kSilentAfterRefusal)
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
        if (kFault >= kRateZero) // the protocol faults, the last of the list
            return SendSpoiled(block);
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
    // The protocol faults: `block` sent changed, dropped, or followed by the first record again.
    bool SendSpoiled(const cMemBlock& block)
    {
        const uint32_t type = block.GetType();
        const bool firstSound = type == kCodeSCDA && mSounds++ == 0;
        const TStreamTag* tag = type == kCodeTag ? &cTagBlock::RecordOf(block) : nullptr;
        const bool opening = tag != nullptr && tag->code == kCodeTagS;
        const bool end = opening && tag->kind == kEndOfStreamTagKind;
        mOpenings += opening ? 1 : 0;
        if (firstSound)
            mFirstSound = block;
        if (kFault == kShortBlocks && type == kCodeNtfy && mShortSent++ == 0)
            SendShortBlocks();
        if (kFault == kRateZero && type == kCodeNtfy && cNotifyBlock(block).Record().notifyCode == kCodeSCfg) {
            cSoundCfgBlock cfg;
            cfg.Record() = cSoundCfgBlock(block).Record();
            cfg.Record().sampleRate = 0;
            return CVrn3StreamSound::SendData(cfg);
        }
        if ((kFault == kUnanswered && tag != nullptr && tag->code == kCodeTagF && ++mClosings == 2) ||
            (kFault == kNoSound && type == kCodeSCDA))
            return true;
        if (kFault == kEndUnmarked && end)
            return CVrn3StreamSound::SendData(MakeTagBlock(kCodeTagS, tag->time, tag->streamNumber));
        if ((kFault == kRecordCut || kFault == kRecordLong) && firstSound) {
            const cSoundBlock sound(block);
            return CVrn3StreamSound::SendData(Resized(sound, kFault == kRecordCut ? 2 : sound.GetExtraSize() + 4));
        }
        const bool sent = CVrn3StreamSound::SendData(block);
        if ((kFault == kSoundBeyondEnd && end) || (kFault == kTimeRepeated && opening && mOpenings == 2))
            CVrn3StreamSound::SendData(mFirstSound);
        return sent;
    }

    // A notification, a tag and a sound block of 2 bytes, and a configuration and a time range
    // of nothing but their notification code.
    void SendShortBlocks()
    {
        struct TTwoBytes {
            uint16_t value = 0;
        };
        for (uint32_t type : {kCodeNtfy, kCodeTag, kCodeSCDA})
            CVrn3StreamSound::SendData(cStructBlock<TTwoBytes, kCodeNtfy>(0, type));
        for (uint32_t code : {kCodeSCfg, kCodeTimR}) {
            cNotifyBlock notify;
            notify.Record().notifyCode = code;
            CVrn3StreamSound::SendData(notify);
        }
    }

    // A copy of `sound` whose payload is `size` bytes: its own, cut or zero-padded.
    static cSoundBlock Resized(const cSoundBlock& sound, uint32_t size)
    {
        std::vector<uint8_t> payload(size);
        std::memcpy(payload.data(), sound.Extra(), std::min(size, sound.GetExtraSize()));
        cSoundBlock copy(size, kCodeSCDA, payload.data());
        copy.SoleRecord() = sound.Record();
        return copy;
    }

    // Blocks handled until the first allocation failure, none after it.
    template <class Handle>
    bool GiveUpOnFailure(Handle handle)
    {
        if (kFault == kSilentAfterRefusal) {
            mScratch.reset(new (std::nothrow) Scratch[2]);
            mCount.reset(new (std::nothrow) int(0));
            mGivenUp = !mScratch || !mCount;
            return mGivenUp || handle();
        }
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

    int mTags = 0, mRequests = 0, mSounds = 0, mFragments = 0, mVideo = 0, mOpenings = 0, mClosings = 0, mShortSent = 0;
    cMemBlock mFirstSound; // the first record sent, for the faults that send it again
    cMemBlock::node* mReleased = nullptr;
    cMemBlock mKept; // a block kept to be changed later
    bool mGivenUp = false;
    std::unique_ptr<Scratch[]> mScratch; // asked for again at each block, without exceptions
    std::unique_ptr<int> mCount;
};

} // namespace

extern "C" __attribute__((visibility("default"))) CBrick* CreateBrick(const TBrickConfig& config)
{
    CBrick* brick = new CFaultySound;
    brick->Create(config);
    return brick;
}
