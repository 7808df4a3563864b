// cStructBlock<T, code>: typed view of a block whose data is one record T and extra bytes.
//
// Handles and views share nodes; writing goes through GetData(), which copies a shared node
// into one of the writer's own first (copy on write), so a block that was received or passed
// on is never changed under another holder. A view checks neither the block's type code nor its
// size: callers test GetType() and GetSize() before they make one. The node behind a handle,
// the pool of released storage per record type and the lock order are in cStructBlockNode.h.
#pragma once

#include "cMemBlock.h"

#include <cstring>
#include <new>

template <class T, uint32_t code>
class cStructBlock : public cMemBlock {
public:
    // The node behind the handle: the record, its extra bytes and its pool (cStructBlockNode.h).
    class node;

    // Makes a new block of `extra` extra bytes and type `type`, whose record holds what T's
    // constructor set; when `extraSource` is given, the extra bytes are copied from it. The
    // handle holds the new node alone. Throws std::bad_alloc.
    explicit cStructBlock(uint32_t extra = 0, uint32_t type = code, const void* extraSource = nullptr)
        : cMemBlock(node::alloc(type, RecordPlus(extra), nullptr), AdoptTag())
    {
        if (extraSource != nullptr && extra != 0)
            std::memmove(Node()->Extra(), extraSource, extra);
    }

    // A view of an existing block: shares its node; nothing is tested or copied.
    explicit cStructBlock(const cMemBlock& block) : cMemBlock(block) {}
    cStructBlock(const cStructBlock& other) : cMemBlock(other) {}
    cStructBlock& operator=(const cMemBlock& block)
    {
        cMemBlock::operator=(block);
        return *this;
    }
    cStructBlock& operator=(const cStructBlock& other)
    {
        cMemBlock::operator=(other);
        return *this;
    }
    ~cStructBlock() override {}

    // The record in a node this handle holds alone; a shared node is copied first.
    void* GetData() override
    {
        if (mNode == &mDefNode) {
            // A view of no block: the default node is always shared and is no node of this
            // class, so the handle gets a node of its own, of the same type and size 0.
            // GCOVR_EXCL_BR_START: exception edges; gcov flags them only where run
            node* own = node::alloc(mDefNode.mType, 0, nullptr);
            CSingleLock lock(&mDefNode.mLock, true);
            // GCOVR_EXCL_BR_STOP
            --mDefNode.mRefCount; // never the last reference: the host holds one
            mNode = own;
            return &own->mData;
        }
        mNode = Node()->unical();
        return &Node()->mData;
    }
    // The record, read only. No lock, no copy.
    const void* GetData() const override { return &Node()->mData; }
    // Data bytes after the record. Ask it only of blocks at least as large as the record.
    virtual uint32_t GetExtraSize() const { return mNode->mSize - static_cast<uint32_t>(sizeof(T)); }

    // Typed access. Record() of a non-const view is GetData(): a shared node is first copied into
    // one this view holds alone, and the reference lives as long as the view. Of a const view it
    // reads the shared node in place: no copy, valid while the view (or another handle) holds it.
    // A temporary view has no Record(): its copy would go back to the pool at the end of the
    // statement, leaving the reference on storage the next block of the type is made in. Read
    // through the handle with RecordOf(block), or name a view.
    T& Record() & { return *static_cast<T*>(GetData()); }
    const T& Record() const& { return Node()->mData; }
    T& Record() && = delete;
    // The record of a block this handle holds alone and knows it does (it made the block and has
    // not shared it): written in place, without the copy-on-write check and its lock, and so
    // without any allocation that could fail.
    T& SoleRecord() noexcept
    {
        assert(mNode->mRefCount == 1 && "the node is held by this handle alone");
        return Node()->mData;
    }
    // The record and extra bytes of any block, read through the caller's handle: no handle of
    // their own, no lock, no copy. The caller tests type and size first, as for a view, and
    // keeps its handle while it reads.
    static const T& RecordOf(const cMemBlock& block) { return static_cast<const node*>(NodeOf(block))->mData; }
    static const uint8_t* ExtraOf(const cMemBlock& block) { return static_cast<const node*>(NodeOf(block))->Extra(); }
    // The extra bytes, read only, and writable: OwnExtra() first makes the node this view's own,
    // copying a shared one as Record() does, so it too is refused on a temporary view.
    const uint8_t* Extra() const { return Node()->Extra(); }
    uint8_t* OwnExtra() &
    {
        GetData();
        return Node()->Extra();
    }
    uint8_t* OwnExtra() && = delete;

    // Sets the data size of a block that this handle holds alone and knows it does (as for
    // SoleRecord) to `size` bytes, in place: the bytes keep their places; nothing is allocated,
    // copied or cleared, and no lock is taken. The caller must know that the node's storage
    // holds `size` data bytes (it made the block at least that large and has held it alone since).
    void SetSoleSize(uint32_t size)
    {
        assert(mNode->mRefCount == 1 && "the node is held by this handle alone");
        mNode->mSize = size;
    }

    // Exchanges the blocks of two handles of this type: each takes over the other's reference,
    // so no count changes and no lock is taken.
    void Swap(cStructBlock& other)
    {
        node* mine = Node();
        mNode = other.mNode;
        other.mNode = mine;
    }

private:
    static uint32_t RecordPlus(uint32_t extra)
    {
        if (extra > UINT32_MAX - sizeof(T))
            throw std::bad_alloc();
        return static_cast<uint32_t>(sizeof(T)) + extra;
    }
    node* Node() const { return static_cast<node*>(mNode); }
};

#include "cStructBlockNode.h"
