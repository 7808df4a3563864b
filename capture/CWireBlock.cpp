// Making blocks from captured data: one maker a record family, every length checked.
#include "CWireBlock.h"

#include "CBlockWire.h"
#include "FlatLayout.h"

#include "../records/BlockTypes.h"

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

#pragma pack(push, 1)
// Any command or notification record, as bytes: a command node keeps its record at the same
// place whatever the record's type, as every record is packed.
struct TRawCommand {
    uint8_t bytes[CWireBlock::kLargestCommand];
};
#pragma pack(pop)

// A command block of any type and of any size up to its record's.
class cRawCommandBlock : public cCommandBlock<TRawCommand, kCodeNtfy> {
public:
    cRawCommandBlock(uint32_t type, const std::vector<uint8_t>& data)
    {
        if (!data.empty())
            std::memcpy(Record().bytes, data.data(), data.size());
        mNode->mType = type;
        mNode->mSize = static_cast<uint32_t>(data.size());
    }
};

// Reads the flattened strings in order: each field's length from the record, its bytes from the
// tail.
class StringTail {
public:
    StringTail(const std::vector<uint8_t>& data, size_t start) : mData(data), mAt(start) {}
    uint32_t U32(size_t at) const
    {
        if (at + sizeof(uint32_t) > mData.size())
            throw std::runtime_error("flattened record cut short at byte " + std::to_string(at));
        uint32_t value;
        std::memcpy(&value, mData.data() + at, sizeof value);
        return value;
    }
    std::string Take(uint32_t length)
    {
        if (length > mData.size() - mAt)
            throw std::runtime_error("a text of " + std::to_string(length) + " bytes runs past the block's " +
                                     std::to_string(mData.size()) + " bytes");
        const std::string text(reinterpret_cast<const char*>(mData.data()) + mAt, length);
        mAt += length;
        return text;
    }
    std::string Field(size_t at) { return Take(U32(at)); }
    size_t At() const { return mAt; }

private:
    const std::vector<uint8_t>& mData;
    size_t mAt;
};

// A structure block of record T: the bytes copied over record and extra bytes alike, the size
// the captured one, also when it is shorter than the record.
template <class T, uint32_t code>
cMemBlock PlainStruct(uint32_t type, const std::vector<uint8_t>& data)
{
    const uint32_t size = static_cast<uint32_t>(data.size());
    cStructBlock<T, code> block(size > sizeof(T) ? size - static_cast<uint32_t>(sizeof(T)) : 0, type);
    if (size != 0) // an empty vector's data() may be null, which memcpy must not get
        std::memcpy(&block.SoleRecord(), data.data(), size);
    block.SetSoleSize(size);
    return block;
}

cMemBlock Header(const std::vector<uint8_t>& data)
{
    using F = FlatLayout;
    StringTail tail(data, F::kHeader);
    tail.U32(F::kHeader - F::kText); // the whole record is there
    HDR_T header;
    header.reserved0 = tail.U32(0);
    header.reserved4 = tail.U32(offsetof(HDR_T, reserved4));
    header.reserved8 = tail.Field(F::kHeaderReserved8);
    for (size_t i = 0; i < static_cast<size_t>(kStreamCount); ++i) {
        const size_t at = F::kHeaderStreams + i * F::kStream;
        STREAM_T& stream = header.streams[i];
        stream.reserved0 = data[at + offsetof(STREAM_T, reserved0)];
        stream.kind = data[at + offsetof(STREAM_T, kind)];
        stream.codec = tail.Field(at + F::kStreamCodec);
        stream.reserved6 = tail.Field(at + F::kStreamCodec + F::kText);
        stream.params = tail.Field(at + F::kStreamCodec + 2 * F::kText);
    }
    for (size_t i = 0; i < F::kHeaderTextCount; ++i)
        header.reserved3596[i] = tail.Field(F::kHeaderTexts + i * F::kText);
    const uint32_t extra = static_cast<uint32_t>(data.size() - tail.At());
    cHeaderBlock block(extra, kCodeHdr3, data.data() + tail.At());
    block.SoleRecord() = header;
    return block;
}

cMemBlock Message(const std::vector<uint8_t>& data)
{
    StringTail tail(data, FlatLayout::kMessage);
    tail.U32(FlatLayout::kMessage - FlatLayout::kText);
    cMessageBlock block;
    TNotifyMessage& message = block.Record();
    std::memcpy(&message.notifyCode, data.data(), FlatLayout::kMessageText); // the five plain fields
    message.text = tail.Field(FlatLayout::kMessageText);
    message.details = tail.Field(FlatLayout::kMessageText + FlatLayout::kText);
    if (tail.At() != data.size())
        throw std::runtime_error("a message with " + std::to_string(data.size() - tail.At()) +
                                 " bytes after its texts");
    return block;
}

cMemBlock EventList(const std::vector<uint8_t>& data)
{
    StringTail tail(data, FlatLayout::kEventListHead);
    const uint32_t count = tail.U32(FlatLayout::kEventListHead - sizeof(uint32_t));
    cEventListBlock block;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = tail.At();
        TEventListEntry entry{tail.U32(at + offsetof(TEventListEntry, word0)),
                              tail.U32(at + offsetof(TEventListEntry, word1)),
                              tail.U32(at + offsetof(TEventListEntry, streamNumber)), std::string()};
        tail.Take(FlatLayout::kEventEntry);
        entry.text = tail.Take(tail.U32(at + FlatLayout::kEventEntry - FlatLayout::kText));
        block.Record().entries.append(entry);
    }
    if (tail.At() != data.size())
        throw std::runtime_error("an event list with " + std::to_string(data.size() - tail.At()) +
                                 " bytes after its entries");
    return block;
}

cMemBlock Command(uint32_t type, uint8_t form, const std::vector<uint8_t>& data)
{
    const uint32_t code = FlatLayout::NotifyCode(data);
    if (form == CBlockWire::kFormFlat && type == kCodeNtfy && code == kCodeEvt)
        return EventList(data);
    if (form == CBlockWire::kFormFlat && type == kCodeNtfy && code == kCodeNMsg)
        return Message(data);
    if (form == CBlockWire::kFormFlat)
        throw std::runtime_error("a flattened " + CodeText(type) + " block of code " + CodeText(code) +
                                 ", which no record flattens");
    // As large as the record in a build of either pointer size (the flattened sizes are the i386 ones).
    const bool holdsPointers = type == kCodeNtfy && ((code == kCodeEvt && data.size() >= FlatLayout::kEventListHead) ||
                                                     (code == kCodeNMsg && data.size() >= FlatLayout::kMessage));
    if (holdsPointers)
        throw std::runtime_error("a " + CodeText(code) +
                                 " notification carried as plain bytes: its list or texts "
                                 "would be addresses in the recording process");
    if (data.size() > CWireBlock::kLargestCommand)
        throw std::runtime_error("a " + CodeText(type) + " block of " + std::to_string(data.size()) +
                                 " bytes, more than a command record holds");
    return cRawCommandBlock(type, data);
}

} // namespace

cMemBlock CWireBlock::Rebuild(uint32_t type, uint8_t form, const std::vector<uint8_t>& data)
{
    if (IsCommandType(type))
        return Command(type, form, data);
    if (type == kCodeHdr3 && form == CBlockWire::kFormFlat)
        return Header(data);
    if (form == CBlockWire::kFormFlat)
        throw std::runtime_error("a flattened " + CodeText(type) + " block, which no record flattens");
    if (type == kCodeTag)
        return PlainStruct<TStreamTag, kCodeTag>(type, data);
    if (type == kCodeSCDA)
        return PlainStruct<TSoundData, kCodeSCDA>(type, data);
    if (type == kCodeVid3 || type == kCodeVid3Record)
        return PlainStruct<DATA_T_VIDEO, kCodeVid3Record>(type, data);
    if (type == kCodeHdr3 && data.size() < sizeof(HDR_T))
        return PlainStruct<DATA_T, kCodeDat3>(type, data);
    if (type == kCodeHdr3)
        throw std::runtime_error("a header of " + std::to_string(data.size()) + " bytes carried as plain bytes");
    return PlainStruct<DATA_T, kCodeDat3>(type, data);
}
