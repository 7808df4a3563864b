// CCaptureReader: reads the packets of a capture that CCaptureRecorder wrote, one at a time.
//
// It reads a little-endian pcapng file (as the recorder writes it) section by section, keeps the
// link type of each interface, skips blocks of other kinds (simple packets, name resolution,
// custom), and hands out the enhanced packets of a LINKTYPE_USER0 interface with their capture
// header checked. A capture is whole when the recorder's end record (the statistics of a
// LINKTYPE_USER0 interface counting its packets) closes it: a file that ends without one was cut
// short (a killed host, a full disk). Anything else ends the reading with one CaptureError whose
// message names the file and the packet: an empty file, a file that is no pcapng, a block cut
// short or with inconsistent lengths, a packet of another link type, a packet too short for its
// header, a block longer than its packet, an unknown path or direction, an end record that counts
// other packets than the file holds or that packets follow, and a capture without its end (the
// message names the last whole packet), unless the reader was asked to take a partial capture:
// it then ends at the last whole packet and Partial() says so. Packets are numbered from 1 as
// Wireshark numbers them. Memory holds one packet at a time. The reader does not own the stream.
#pragma once

#include "CCaptureRecorder.h"

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

class CaptureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CapturePacket {
    uint32_t number = 0;       // Wireshark's frame number
    uint64_t time = 0;         // the recorder's clock, in its interface's unit
    TCapturePacket header{};   // checked: header.length bytes of data follow
    std::vector<uint8_t> data; // the block's data as CBlockWire carries it
};

class CCaptureReader {
public:
    // Reads from `in` (not owned; open for reading); `name` goes into the messages. With
    // `partial`, a capture cut short ends at its last whole packet instead of failing. Throws
    // CaptureError for a null `in` (a file that could not be opened), naming `name`.
    CCaptureReader(std::FILE* in, const std::string& name, bool partial = false);

    // The next packet into `packet`; false at the end of the capture. Throws CaptureError (or
    // std::bad_alloc).
    bool Next(CapturePacket& packet);
    // Whether the capture read so far was cut short (with `partial` only).
    bool Partial() const { return mPartial; }
    // Packets read so far.
    uint32_t Packets() const { return mPackets; }

private:
    bool ReadBlock(uint32_t& type);
    bool ReadBody(uint32_t length);
    bool Cut(const std::string& what);
    void EndRecord();
    void SectionHeader();
    void InterfaceHeader();
    void EnhancedPacket(CapturePacket& packet);
    void CheckPacket(CapturePacket& packet, uint32_t interface, uint32_t captured);
    template <class T>
    T Fields() const;
    [[noreturn]] void Refuse(const std::string& what) const;

    std::FILE* mIn;
    std::string mName;
    std::vector<uint8_t> mBlock;      // the current block, its trailing length dropped
    std::vector<uint16_t> mLinkTypes; // of the section's interfaces, in order
    bool mSection = false;            // a section header has been read
    bool mEnded = false;              // the end record has been read
    bool mTakePartial;
    bool mPartial = false;
    uint32_t mPackets = 0; // packets read (the next one is mPackets + 1)
};
