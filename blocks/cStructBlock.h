// cStructBlock<T, code>: typed view of a block whose data is one record T and extra bytes.
//
// Handles and views share nodes; writing goes through GetData(), which copies a shared node
// into one of the writer's own first (copy on write), so a block that was received or passed
// on is never changed under another holder. A view checks neither the block's type code nor its
// size: callers test GetType() and GetSize() before they make one.
//
// Nodes are pooled per record type. When the last reference goes, the node's record is
// destroyed but its storage goes to the front of the type's pool, mChain; the next block of the
// type is built in the front storage if it fits (measured by the size that storage last held),
// otherwise that storage is freed and fresh storage taken. Only the front entry is looked at,
// so taking and returning storage is constant time. A pool is made during the library's static
// initialisation and frees every pooled storage when the library is unloaded, by which time no
// block of the type may be live.
//
// Locks: each node's mLock guards its count; each pool's mChain.mLock guards the pool. When both
// are held, the node lock is taken first (the last unref); nothing takes a node lock while
// holding a pool lock. GetData() const takes no lock.
#pragma once

#include "cMemBlock.h"

#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <new>
#include <type_traits>

template <class T, uint32_t code>
class cStructBlock : public cMemBlock {
public:
    class node : public cMemBlock::node {
    public:
        // The pool of one record type: released storage, most recently released first.
        //
        // The list is intrusive: the link to the next pooled storage is kept in the first word
        // of the pooled storage itself, where the destroyed node's virtual table pointer was. A
        // pooled node is at least sizeof(node) bytes and its record is destroyed, so the word
        // is free, and its mSize (the size the storage last held, the pool's measure) stays
        // untouched. Putting storage into the pool and taking it out thus allocate nothing,
        // where a list of pointers would allocate an entry on every release.
        class chainlist {
        public:
            // Walks the pooled storage from the front, for hosts and tests; the pool lock must
            // be held, or the pool left alone by every other thread, while it is walked.
            class const_iterator {
            public:
                using iterator_category = std::forward_iterator_tag;
                using value_type = node*;
                using difference_type = std::ptrdiff_t;
                using pointer = node* const*;
                using reference = node* const&;

                explicit const_iterator(node* at = nullptr) : mAt(at) {}
                node* const& operator*() const { return mAt; }
                const_iterator& operator++()
                {
                    mAt = Next(mAt);
                    return *this;
                }
                const_iterator operator++(int)
                {
                    const_iterator before = *this;
                    mAt = Next(mAt);
                    return before;
                }
                bool operator==(const const_iterator& other) const { return mAt == other.mAt; }
                bool operator!=(const const_iterator& other) const { return mAt != other.mAt; }

            private:
                node* mAt;
            };

            chainlist() : mLock(false), mFront(nullptr), mCount(0) {}
            chainlist(const chainlist&) = delete;
            chainlist& operator=(const chainlist&) = delete;
            // Frees every pooled storage. Pooled nodes were destroyed when they were pooled.
            virtual ~chainlist()
            {
                while (!empty()) {
                    node* p = front();
                    pop_front();
                    std::free(p);
                }
            }

            bool empty() const { return mFront == nullptr; }
            size_t size() const { return mCount; }
            node* front() const { return mFront; }
            const_iterator begin() const { return const_iterator(mFront); }
            const_iterator end() const { return const_iterator(); }

            // Puts the storage of a destroyed node at the front. Called with mLock held.
            void push_front(node* p)
            {
                SetNext(p, mFront);
                mFront = p;
                ++mCount;
            }
            // Takes the front storage out. Called with mLock held, on a non-empty pool.
            void pop_front()
            {
                assert(mFront != nullptr && "nothing is taken from an empty pool");
                mFront = Next(mFront);
                --mCount;
            }

            CCriticalSection mLock; // guards the list

        private:
            static node* Next(const node* p)
            {
                node* next;
                std::memcpy(&next, static_cast<const void*>(p), sizeof next);
                return next;
            }
            static void SetNext(node* p, node* next) { std::memcpy(static_cast<void*>(p), &next, sizeof next); }

            node* mFront;  // most recently pooled storage, or null
            size_t mCount; // storage in the pool
        };

        ~node() override {}

        // Returns a node with count 1, the given type and size; when `source` (the record of
        // another node of this type) is given, the data holds `size` bytes copied from it.
        // The caller owns the returned reference. Throws std::bad_alloc when no storage is
        // to be had; nothing is then allocated or constructed.
        static node* alloc(uint32_t type, uint32_t size, const T* source)
        {
            node* p = TakePooled(size);
            if (p == nullptr) {
                if (size > SIZE_MAX - sizeof(node))
                    throw std::bad_alloc();
                p = static_cast<node*>(std::malloc(sizeof(node) + size));
                if (p == nullptr)
                    throw std::bad_alloc();
            }
            new (p) node;
            p->mType = type;
            p->mSize = size;
            if (source != nullptr && size != 0)
                p->CopyFrom(*source, size);
            return p;
        }

        // Returns a node that the caller holds alone: this one if nobody else holds it, else a
        // copy, giving up the caller's reference on this node.
        node* unical()
        {
            CSingleLock lock(&mLock, true);
            if (mRefCount == 1)
                return this;
            node* copy = alloc(mType, mSize, &mData);
            --mRefCount; // at least 2 before: this node lives on for its other holders
            return copy;
        }

        // At the last reference: destroy the record and put the storage at the pool's front.
        void unref() override
        {
            mLock.Lock(INFINITE);
            assert(mRefCount != 0 && "a node is never released twice");
            if (--mRefCount != 0) {
                mLock.Unlock();
                return;
            }
            CSingleLock pool(&mChain.mLock, true); // node lock before pool lock
            mLock.Unlock();
            this->~node(); // the storage stays; mSize keeps its last value
            mChain.push_front(this);
        }

        uint8_t* Extra() { return reinterpret_cast<uint8_t*>(&mData) + sizeof(T); }
        const uint8_t* Extra() const { return reinterpret_cast<const uint8_t*>(&mData) + sizeof(T); }

        T mData;

        static chainlist mChain;

    private:
        node() {}

        // Front storage of the pool if it can hold `size` bytes; too small front storage is
        // freed. Only the front entry is looked at.
        static node* TakePooled(uint32_t size)
        {
            CSingleLock lock(&mChain.mLock, true);
            if (mChain.empty())
                return nullptr;
            node* p = mChain.front();
            mChain.pop_front();
            if (size > PooledSize(p)) {
                std::free(p);
                return nullptr;
            }
            return p;
        }

        // The size a pooled storage last held. The node there is destroyed, so its mSize is read
        // as bytes of the storage, at the offset it has in every node, not through the dead object.
        static uint32_t PooledSize(const node* p)
        {
            const cMemBlock::node& live = cMemBlock::mDefNode;
            const std::ptrdiff_t at = reinterpret_cast<const char*>(&live.mSize) - reinterpret_cast<const char*>(&live);
            uint32_t size;
            std::memcpy(&size, reinterpret_cast<const char*>(p) + at, sizeof size);
            return size;
        }

        // Copies the record of a node of this type and the extra bytes behind it. A record
        // with owning members is assigned member by member, whatever the size; a plain record
        // is copied as the bytes the size names.
        void CopyFrom(const T& source, uint32_t size)
        {
            if constexpr (std::is_trivially_copyable<T>::value) {
                if (size == sizeof(T))
                    mData = source;
                else
                    std::memmove(&mData, &source, size);
            } else {
                mData = source;
                if (size > sizeof(T))
                    std::memmove(Extra(), reinterpret_cast<const uint8_t*>(&source) + sizeof(T), size - sizeof(T));
            }
        }
    };

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
            node* own = node::alloc(mDefNode.mType, 0, nullptr);
            CSingleLock lock(&mDefNode.mLock, true);
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

    // Typed access. Record() is GetData(): it may copy the node.
    T& Record() { return *static_cast<T*>(GetData()); }
    const T& Record() const { return Node()->mData; }
    // The record of a block this handle holds alone and knows it does (it made the block and has
    // not shared it, or ResizeOwn just said so): written in place, without the copy-on-write
    // check and its lock.
    T& SoleRecord()
    {
        assert(mNode->mRefCount == 1 && "the node is held by this handle alone");
        return Node()->mData;
    }
    // The record and extra bytes of any block, read through the caller's handle: no handle of
    // their own, no lock, no copy. The caller tests type and size first, as for a view, and
    // keeps its handle while it reads.
    static const T& RecordOf(const cMemBlock& block) { return static_cast<const node*>(NodeOf(block))->mData; }
    static const uint8_t* ExtraOf(const cMemBlock& block) { return static_cast<const node*>(NodeOf(block))->Extra(); }
    // The extra bytes, read only, and writable (after Record() or GetData() has made the node
    // this handle's own).
    const uint8_t* Extra() const { return Node()->Extra(); }
    uint8_t* OwnExtra()
    {
        GetData();
        return Node()->Extra();
    }

    // Sets the data size of a block that this handle holds alone to `size` bytes, in place: the
    // bytes keep their places; nothing is allocated, copied or cleared. The caller must know that
    // the node's storage holds `size` data bytes (it made the block at least that large and has
    // held it alone since). False, with nothing changed, when another holder shares the node.
    bool ResizeOwn(uint32_t size)
    {
        CSingleLock lock(&mNode->mLock, true);
        if (mNode->mRefCount != 1)
            return false;
        mNode->mSize = size;
        return true;
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

template <class T, uint32_t code>
typename cStructBlock<T, code>::node::chainlist cStructBlock<T, code>::node::mChain;
