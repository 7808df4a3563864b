// Flattening blocks for captures: the plain bytes of every record, and the three records that
// hold strings or lists written out field by field.
#include "CBlockWire.h"

#include "records/BlockTypes.h"

#include <cstddef>
#include <cstring>
#include <string>

namespace {

// Command and notification blocks keep their record after the visited list; structure blocks
// right after the node header, whatever their record type (records are packed).
bool IsCommandType(uint32_t type)
{
    return type == kCodeChun || type == kCodePlay || type == kCodeGTmR || type == kCodeNtfy;
}

bool IsStructType(uint32_t type)
{
    return type == kCodeHdr3 || type == kCodeSnd3 || type == kCodeVid3 || type == kCodeTag || type == kCodeSCDA ||
           type == kCodeDat3 || type == kCodeVid3Record;
}

const uint8_t* DataOf(const cMemBlock& block)
{
    const uint32_t type = block.GetType();
    if (IsCommandType(type))
        return static_cast<const uint8_t*>(static_cast<const cNotifyBlock&>(cNotifyBlock(block)).GetData());
    if (IsStructType(type))
        return reinterpret_cast<const uint8_t*>(&cTagBlock::RecordOf(block));
    return static_cast<const uint8_t*>(block.GetData());
}

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    std::memcpy(out.data() + at, &value, sizeof value);
}

void AppendU32(std::vector<uint8_t>& out, uint32_t value)
{
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

// Writes the length of `text` over the string field at `at` and appends the text to `tail`.
void PutString(std::vector<uint8_t>& out, size_t at, const std::string& text, std::vector<uint8_t>& tail)
{
    PutU32(out, at, static_cast<uint32_t>(text.size()));
    tail.insert(tail.end(), text.begin(), text.end());
}

void FlattenHeader(const cMemBlock& block, const uint8_t* data, std::vector<uint8_t>& out)
{
    const HDR_T& header = *reinterpret_cast<const HDR_T*>(data);
    out.assign(data, data + sizeof(HDR_T));
    std::vector<uint8_t> tail;
    PutString(out, offsetof(HDR_T, reserved8), header.reserved8, tail);
    for (size_t i = 0; i < static_cast<size_t>(kStreamCount); ++i) {
        const size_t at = offsetof(HDR_T, streams) + i * sizeof(STREAM_T);
        PutString(out, at + offsetof(STREAM_T, codec), header.streams[i].codec, tail);
        PutString(out, at + offsetof(STREAM_T, reserved6), header.streams[i].reserved6, tail);
        PutString(out, at + offsetof(STREAM_T, params), header.streams[i].params, tail);
    }
    for (size_t i = 0; i < 9; ++i)
        PutString(out, offsetof(HDR_T, reserved3596) + i * sizeof(std::string), header.reserved3596[i], tail);
    out.insert(out.end(), tail.begin(), tail.end());
    out.insert(out.end(), data + sizeof(HDR_T), data + block.GetSize());
}

void FlattenMessage(const uint8_t* data, std::vector<uint8_t>& out)
{
    const TNotifyMessage& message = *reinterpret_cast<const TNotifyMessage*>(data);
    out.assign(data, data + sizeof(TNotifyMessage));
    std::vector<uint8_t> tail;
    PutString(out, offsetof(TNotifyMessage, text), message.text, tail);
    PutString(out, offsetof(TNotifyMessage, details), message.details, tail);
    out.insert(out.end(), tail.begin(), tail.end());
}

void FlattenEventList(const uint8_t* data, std::vector<uint8_t>& out)
{
    const TEventList& list = *reinterpret_cast<const TEventList*>(data);
    out.clear();
    AppendU32(out, list.notifyCode);
    AppendU32(out, static_cast<uint32_t>(list.entries.size()));
    for (const TEventListEntry& entry : list.entries) {
        AppendU32(out, entry.word0);
        AppendU32(out, entry.word1);
        AppendU32(out, entry.streamNumber);
        AppendU32(out, static_cast<uint32_t>(entry.text.size()));
        out.insert(out.end(), entry.text.begin(), entry.text.end());
    }
}

} // namespace

CBlockWire::EForm CBlockWire::Flatten(const cMemBlock& block, std::vector<uint8_t>& out)
{
    const uint32_t type = block.GetType();
    const uint32_t size = block.GetSize();
    const uint8_t* data = DataOf(block);
    const uint32_t code = type == kCodeNtfy && size >= sizeof(TNotifyBase) ? reinterpret_cast<const TNotifyBase*>(data)->notifyCode : 0;
    if (type == kCodeHdr3 && size >= sizeof(HDR_T)) {
        FlattenHeader(block, data, out);
    } else if (code == kCodeNMsg && size >= sizeof(TNotifyMessage)) {
        FlattenMessage(data, out);
    } else if (code == kCodeEvt && size >= sizeof(TEventList)) {
        FlattenEventList(data, out);
    } else {
        out.assign(data, data + size);
        return kFormBytes;
    }
    return kFormFlat;
}
