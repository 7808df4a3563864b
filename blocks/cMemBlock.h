// cMemBlock: a value handle to a shared, reference-counted block, and the block's node.
//
// Everything that travels between bricks is a cMemBlock. The handle holds only a pointer to a
// cMemBlock::node; the node carries the reference count, the block's four-character type
// code, the size of the data that follows the node header, and the lock that guards the count.
// Copying a handle shares the node (one locked increment, no data copied). The last handle to let go releases the node through the
// node's own virtual unref, so each node class brings its own release policy: a generic node is
// freed as an array (here), a structure-block node goes back to its record type's pool, a
// command-block node frees its visited list and storage.
//
// The class is split with the host framework: the destructor, the default node mDefNode, the
// virtual table and the type information are defined out of line in the host library; all
// else is inline here. mDefNode is never released: the host holds a reference of its own to it
// for the life of the process. A handle is used by one thread at a time; handles that share a
// node may live on different threads.
#pragma once

#include "CCriticalSection.h"
#include "HostApi.h"

#include <cassert>
#include <cstdint>

class VRN3_HOST_API cMemBlock {
public:
    class node {
    public:
        node() : mRefCount(1), mType(0), mSize(0), mLock(false) {}
        virtual ~node() {}

        node(const node&) = delete;
        node& operator=(const node&) = delete;

        // Takes one more reference; the caller stores the returned pointer. The lock is taken
        // through its own class, which is final: a direct call, where a CSingleLock would reach
        // it through the virtual table.
        virtual node* ref() const
        {
            node* self = const_cast<node*>(this);
            self->mLock.Lock(INFINITE);
            assert(self->mRefCount != 0 && "a released node is never revived");
            ++self->mRefCount;
            self->mLock.Unlock();
            return self;
        }

        // Drops one reference. A generic node is element 0 of an array made with new[]; the
        // last reference destroys every element of that array and frees it.
        virtual void unref()
        {
            mLock.Lock(INFINITE);
            assert(mRefCount != 0 && "a node is never released twice");
            const uint32_t left = --mRefCount;
            mLock.Unlock();
            if (left == 0)
                delete[] this; // GCOVR_EXCL_BR_LINE: delete[]'s null test; never null here
        }

        uint32_t mRefCount;     // handles and other holders that share the node
        uint32_t mType;         // four-character type code, little-endian
        uint32_t mSize;         // data bytes that follow the node header
        CCriticalSection mLock; // guards mRefCount only
    };

    // A handle with no block of its own: it refers to mDefNode.
    cMemBlock() : mNode(mDefNode.ref()) {}
    // Shares the other handle's node; nothing is copied.
    cMemBlock(const cMemBlock& other) : mNode(other.mNode->ref()) {}
    // Takes the new reference before dropping the old one, so self-assignment is harmless.
    cMemBlock& operator=(const cMemBlock& other)
    {
        node* taken = other.mNode->ref();
        node* old = mNode;
        mNode = taken;
        old->unref();
        return *this;
    }
    // Releases this handle's reference (host library). Every handle holds one: a handle is
    // never left without a node, since any host's destructor releases unconditionally.
    virtual ~cMemBlock();

    // Address of the block's data. The typed views return their record's address.
    virtual void* GetData();
    virtual const void* GetData() const;
    virtual uint32_t GetType() const { return mNode->mType; }
    virtual bool IsEmpty() const { return mNode->mSize == 0; }

    // Bytes of data the block holds (for a typed block: its record and the extra bytes).
    uint32_t GetSize() const { return mNode->mSize; }

    static node mDefNode;

protected:
    // The queue of handles hands its slots' references over to the handles it gives out.
    friend class cBlockQueue;

    // Adopts a node whose reference the caller hands over: no count changes.
    struct AdoptTag {};
    cMemBlock(node* adopted, AdoptTag) : mNode(adopted) {}
    // The node of another handle, for the typed views' reading through it.
    static node* NodeOf(const cMemBlock& block) { return block.mNode; }

    node* mNode;
};

static_assert(sizeof(void*) != 4 || sizeof(cMemBlock) == 8, "a handle is a vtable pointer and a node pointer");
static_assert(sizeof(void*) != 4 || sizeof(cMemBlock::node) == 24, "node header: vptr, count, type, size, lock");
static_assert(sizeof(void*) != 8 || sizeof(cMemBlock) == 16, "a handle is a vtable pointer and a node pointer");
static_assert(sizeof(void*) != 8 || sizeof(cMemBlock::node) == 40,
              "node header: vptr, count, type, size, 4 bytes of padding, lock (vptr, word, padding)");
