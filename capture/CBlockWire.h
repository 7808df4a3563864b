// CBlockWire: a block's data as a capture carries it.
//
// Most records are plain bytes and travel as they are: the record and its trailing bytes. Three
// hold pointers into the sender's memory, which mean nothing in a file: the header "Hdr3"
// (std::string members), the event list "Evt " (a QList of entries with texts) and the message
// "NMsg" (two texts). They travel flattened: the record's fields in order, packed, with every
// string field replaced by its length in bytes (u32), followed by the strings' bytes in field
// order; an event list as its code, its entry count, then each entry's 16 bytes (its text replaced
// by the text's length) followed by that text. These bytes are the same in the i386 and the amd64
// flavour (FlatLayout.h), so captures made by one replay in the other; CWireBlock, beside this
// file, makes blocks again from them. The same flattened form is what digests are taken of, so they do not depend on
// addresses. The block is only read, through the caller's handle: nothing is copied into it,
// nothing is shared beyond the call.
#pragma once

#include "CaptureApi.h"

#include <cstdint>
#include <vector>

class cMemBlock;

class VRN3_CAPTURE_API CBlockWire {
public:
    // How a packet's bytes are laid out.
    enum EForm : uint8_t {
        kFormBytes = 0, // the record and its trailing bytes, as in memory
        kFormFlat = 1,  // strings and lists flattened, as above
    };

    // Replaces `out` with the data of `block` as a capture carries it; returns the form. Throws
    // std::bad_alloc, leaving `out` unspecified.
    static EForm Flatten(const cMemBlock& block, std::vector<uint8_t>& out);
};
