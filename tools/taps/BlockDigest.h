// BlockDigest: one line a block sent downstream, as FFmpeg's framemd5 writes one a frame.
//
// A line is "index, type, time, size, md5": the block's number from 0, its type code (a
// notification's as "ntfy/<code>"), the stream time it carries (a sound record's or a tag's; 0
// for blocks without one), the size of its data as a capture carries it (CBlockWire), and the MD5
// of that data (Qt's QCryptographicHash). Two runs that send the same blocks print the same lines,
// whatever the addresses, threads or clocks. As a tap (CBrickTap) it writes the lines of the
// blocks its brick sends with SendData, under its own lock, to a stream it does not own; the
// first line is a comment naming the format.
#pragma once

#include "../../host/CBrickTap.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class BlockDigest : public CBrickTap {
public:
    explicit BlockDigest(std::FILE* out);

    // The line of block `index` of type `type` whose captured data is `data`, without the newline.
    static std::string Line(uint64_t index, uint32_t type, const std::vector<uint8_t>& data);
    // The MD5 of `data`, as 32 hexadecimal digits.
    static std::string Md5(const std::vector<uint8_t>& data);
    // The comment that opens a digest listing.
    static const char* const kFormatLine;

    void Configured(const TBrickConfig&) override {}
    void Delivered(const cMemBlock&, bool) override {}
    void Sent(const cMemBlock& block, bool command) override;

private:
    std::mutex mLock; // guards the members below and the writes to mOut
    std::FILE* mOut;
    uint64_t mIndex = 0;
    std::vector<uint8_t> mData;
};
