// Flattening blocks for captures: the plain bytes of every record, and the three records that
// hold strings or lists written out field by field.
#include "CBlockWire.h"

#include "FlatLayout.h"
#include "../records/BlockTypes.h"

#include <cstddef>
#include <cstring>
#include <string>

namespace {

const uint8_t* DataOf(const cMemBlock& block)
{
    const uint32_t type = block.GetType();
    if (IsCommandType(type))
        return static_cast<const uint8_t*>(static_cast<const cNotifyBlock&>(cNotifyBlock(block)).GetData());
    if (IsStructType(type))
        return reinterpret_cast<const uint8_t*>(&cTagBlock::RecordOf(block));
    return static_cast<const uint8_t*>(block.GetData());
}

void AppendBytes(std::vector<uint8_t>& out, const void* data, size_t size)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

void AppendU32(std::vector<uint8_t>& out, uint32_t value)
{
    AppendBytes(out, &value, sizeof value);
}

// Appends the length of `text` in place of its string field and the text itself to `tail`.
void AppendText(std::vector<uint8_t>& out, const std::string& text, std::vector<uint8_t>& tail)
{
    AppendU32(out, static_cast<uint32_t>(text.size()));
    tail.insert(tail.end(), text.begin(), text.end());
}

// Field by field, so that the bytes are FlatLayout's whatever the size of a pointer.
void FlattenHeader(const cMemBlock& block, const uint8_t* data, std::vector<uint8_t>& out)
{
    const HDR_T& header = *reinterpret_cast<const HDR_T*>(data);
    out.clear();
    std::vector<uint8_t> tail;
    AppendU32(out, header.reserved0);
    AppendU32(out, header.reserved4);
    AppendText(out, header.reserved8, tail);
    for (const STREAM_T& stream : header.streams) {
        AppendBytes(out, &stream.reserved0, sizeof stream.reserved0);
        AppendBytes(out, &stream.kind, sizeof stream.kind);
        AppendText(out, stream.codec, tail);
        AppendText(out, stream.reserved6, tail);
        AppendText(out, stream.params, tail);
    }
    for (const std::string& text : header.reserved3596)
        AppendText(out, text, tail);
    out.insert(out.end(), tail.begin(), tail.end());
    out.insert(out.end(), data + sizeof(HDR_T), data + block.GetSize());
}

void FlattenMessage(const uint8_t* data, std::vector<uint8_t>& out)
{
    const TNotifyMessage& message = *reinterpret_cast<const TNotifyMessage*>(data);
    out.clear();
    std::vector<uint8_t> tail;
    AppendBytes(out, data, FlatLayout::kMessageText); // the five plain fields
    AppendText(out, message.text, tail);
    AppendText(out, message.details, tail);
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
    const uint32_t code =
        type == kCodeNtfy && size >= sizeof(TNotifyBase) ? reinterpret_cast<const TNotifyBase*>(data)->notifyCode : 0;
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
