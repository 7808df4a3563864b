// CHashingSink: the brick after the sound brick in the benchmark's pipeline.
//
// It takes every data block and notification it is given and counts them; while hashing is on,
// it folds the type, size and bytes of each into an FNV-1a digest, so equal digests mean
// byte-identical output. It lives in a CPipeline, which owns it, and is run on the pipeline's
// thread only.
#pragma once

#include "../blocks/CBrick.h"
#include "../blocks/cMemBlock.h"

#include <cstdint>

class CHashingSink : public CBrick {
public:
    bool onData(const cMemBlock& block) override { return Take(block); }
    bool onNotify(const cMemBlock& block) override { return Take(block); }

    // Delivers every block queued for the sink.
    void Drain();
    void SetHashing(bool hashing) { mHashing = hashing; }
    uint64_t Digest() const { return mDigest; }

private:
    bool Take(const cMemBlock& block);
    void Fold(const void* data, uint32_t size);

    bool mHashing = false;
    uint64_t mBlocks = 0;
    uint64_t mDigest = 1469598103934665603ull; // the FNV-1a offset basis
};
