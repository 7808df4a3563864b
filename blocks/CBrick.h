// CBrick: the host framework's building block of a pipeline, as a plug-in sees it.
//
// A brick is connected in a chain: it receives blocks on a data queue (from the brick before
// it) and on a control queue (from the brick after it). The host delivers each queued block to
// one handler, one call at a time per brick: data blocks of type "ntfy" to onNotify, other data
// blocks to onData, control blocks to onCtrl. A brick passes blocks on with SendData
// (downstream, to the next brick's data queue) and SendCmd (upstream, to the previous brick's
// control queue). Create stores the configuration; the host runs onCreate with it before the
// first block is delivered.
//
// The virtual slot order is a binary interface: plug-ins built against it override the
// handlers and append their own virtual operations after SendCmd. Do not reorder, insert or
// remove virtual functions. The host's state sits behind one private pointer, so the object
// size stays fixed whatever the host keeps.
#pragma once

#include "HostApi.h"
#include "TBrickConfig.h"

#include <cstdint>

class cMemBlock;
class CPipeline;
struct CBrickPrivate;

class VRN3_HOST_API CBrick {
public:
    CBrick();
    virtual ~CBrick();

    CBrick(const CBrick&) = delete;
    CBrick& operator=(const CBrick&) = delete;

    // Delivers one queued control block (DoCtrl) or data block (DoData) to its handler.
    // Returns false when that queue was empty. Runs onCreate first if it has not run yet.
    virtual bool DoCtrl();
    virtual bool DoData();
    // Makes this brick the next one after `previous`.
    virtual bool ConnectAfter(CBrick* previous);
    // Records a brick that this one owns and destroys with itself.
    virtual bool ConnectOwned(CBrick* owned);
    virtual bool DisconnectFrom(CBrick* other);
    virtual void DisconnectFromAll();
    // Stores the configuration for onCreate. Called once, right after construction.
    virtual bool Create(const TBrickConfig& config);
    // A stopped brick refuses new blocks.
    virtual void SetStopped(bool stopped);
    virtual bool HasNextBrick();
    virtual bool HasPreviousBrick();
    // A value that tells this brick apart from every other brick of the process.
    virtual uint32_t GetSignature();
    virtual bool IsKnownInput(const TContentDescriptor& input);
    virtual bool IsKnownOutput(const TContentDescriptor& output);
    // Queue a block for this brick; the queue shares the block (no data is copied).
    virtual bool enqueueControl(const cMemBlock& block);
    virtual bool enqueueData(const cMemBlock& block);
    virtual bool DisconnectOwned(CBrick* owned);
    // Handlers: true when the brick has taken the block. The defaults take nothing.
    virtual bool onCtrl(cMemBlock& block);
    virtual bool onData(const cMemBlock& block);
    virtual bool onNotify(const cMemBlock& block);
    virtual bool onCreate(const TBrickConfig& config);
    // Pass a block to the next brick's data queue / the previous brick's control queue.
    // False when there is no such brick or it refused the block. The block is shared.
    virtual bool SendData(const cMemBlock& block);
    virtual bool SendCmd(const cMemBlock& block);

private:
    friend class CPipeline;
    CBrickPrivate* d;
};

static_assert(sizeof(void*) != 4 || sizeof(CBrick) == 8, "CBrick is a vtable pointer and one private pointer");
static_assert(sizeof(void*) != 8 || sizeof(CBrick) == 16, "CBrick is a vtable pointer and one private pointer");
