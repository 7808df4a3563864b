// cStructBlock<T, code>::node: the storage behind a structure block, and its pool.
//
// A node holds the count, the type and size of the block (cMemBlock::node), the record T and
// the extra bytes right after it, in one storage.
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
// holding a pool lock. GetData() const takes no lock. The locks are taken through their own
// class, which is final (direct calls), and given back on every path by hand.
#pragma once

#include "cStructBlock.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <type_traits>

template <class T, uint32_t code>
class cStructBlock<T, code>::node : public cMemBlock::node {
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

        // The cache line of the processors this runs on. Each pool starts on a line of its own
        // and fits in it: every thread that makes or drops blocks of the type takes the pool's
        // lock, so the line moves between processors with it, and a pool that straddled two lines
        // or shared one with another pool's state would make each such move cost two.
        static constexpr std::size_t kLineBytes = 64;

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
    static_assert(sizeof(chainlist) <= chainlist::kLineBytes, "a pool fits in one cache line");

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
        mLock.Lock(INFINITE);
        if (mRefCount == 1) {
            mLock.Unlock();
            return this;
        }
        node* copy;
        try {
            copy = alloc(mType, mSize, &mData); // GCOVR_EXCL_BR_LINE: exception edge; gcov flags it only where run
        } catch (...) {
            mLock.Unlock(); // GCOVR_EXCL_BR_LINE: exception edge; gcov flags it only where run
            throw;
        }
        --mRefCount; // at least 2 before: this node lives on for its other holders
        mLock.Unlock();
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
        mChain.mLock.Lock(INFINITE); // node lock before pool lock
        mLock.Unlock();
        this->~node(); // the storage stays; mSize keeps its last value
        mChain.push_front(this);
        mChain.mLock.Unlock();
    }

    uint8_t* Extra() { return reinterpret_cast<uint8_t*>(&mData) + sizeof(T); }
    const uint8_t* Extra() const { return reinterpret_cast<const uint8_t*>(&mData) + sizeof(T); }

    T mData;

    alignas(chainlist::kLineBytes) static chainlist mChain;

private:
    node() noexcept {} // allocates nothing: a node made in storage at hand cannot fail

    // Front storage of the pool if it can hold `size` bytes; too small front storage is
    // freed. Only the front entry is looked at.
    static node* TakePooled(uint32_t size)
    {
        mChain.mLock.Lock(INFINITE);
        node* p = mChain.front();
        if (p != nullptr)
            mChain.pop_front();
        mChain.mLock.Unlock();
        if (p == nullptr)
            return nullptr;
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

template <class T, uint32_t code>
alignas(cStructBlock<T, code>::node::chainlist::kLineBytes)
    typename cStructBlock<T, code>::node::chainlist cStructBlock<T, code>::node::mChain;
