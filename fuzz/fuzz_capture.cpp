// Fuzz target: the capture reader and the making of blocks from captured data.
//
// The input is read as a capture file. Whatever the bytes, the reading ends at the end of the
// file or in one CaptureError; every packet it hands out is made into a block again (or refused
// with std::runtime_error), and a block made again flattens back to the packet's data: the two
// directions of the wire form agree.
#include "../capture/CBlockWire.h"
#include "../capture/CCaptureReader.h"
#include "../capture/CWireBlock.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (in == nullptr)
        return 0; // fmemopen refuses an empty buffer
    // Every other input is read as a partial capture too, where a cut ends the reading quietly.
    CCaptureReader reader(in, "fuzz", size % 2 == 0);
    CapturePacket packet;
    std::vector<uint8_t> again;
    try {
        while (reader.Next(packet)) {
            if (packet.header.path == kPathConfig)
                continue;
            try {
                CBlockWire::Flatten(CWireBlock::Rebuild(packet.header.type, packet.header.form, packet.data), again);
            } catch (const CaptureError&) {
                std::abort(); // only the reader throws these
            } catch (const std::runtime_error&) {
                continue;
            }
            if (again != packet.data)
                std::abort();
        }
    } catch (const CaptureError&) {
    }
    std::fclose(in);
    return 0;
}
