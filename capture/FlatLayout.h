// FlatLayout: where the fields of the three flattened records lie in a capture, the same in every
// flavour of the build. The flattening (CBlockWire) and its inverse (CWireBlock) both take their
// places from here.
//
// A flattened record keeps its fields in order, packed, with every string field replaced by its
// length (a u32): the record's i386 layout, where a string is 4 bytes. An amd64 build, where a
// string is 8, writes and reads the same bytes, so a capture made by either flavour replays in the
// other. Plain fields before the first string lie where the record has them in both flavours.
#pragma once

#include "../records/BlockTypes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

struct FlatLayout {
    static constexpr size_t kText = sizeof(uint32_t); // a string field: its length

    // STREAM_T: reserved0, kind, then the texts codec, reserved6, params.
    static constexpr size_t kStreamCodec = offsetof(STREAM_T, codec);
    static constexpr size_t kStream = kStreamCodec + 3 * kText;
    // HDR_T: two words, the text reserved8, the stream entries, the nine texts reserved3596.
    static constexpr size_t kHeaderReserved8 = offsetof(HDR_T, reserved8);
    static constexpr size_t kHeaderTextCount = sizeof(HDR_T::reserved3596) / sizeof(std::string);
    static constexpr size_t kHeaderStreams = kHeaderReserved8 + kText;
    static constexpr size_t kHeaderTexts = kHeaderStreams + kStreamCount * kStream;
    static constexpr size_t kHeader = kHeaderTexts + kHeaderTextCount * kText;
    // TNotifyMessage: five plain fields, then the texts text and details.
    static constexpr size_t kMessageText = offsetof(TNotifyMessage, text);
    static constexpr size_t kMessage = kMessageText + 2 * kText;
    // TEventList: its code and its entry count; each entry three words and its text's length.
    static constexpr size_t kEventListHead = offsetof(TEventList, entries) + sizeof(uint32_t);
    static constexpr size_t kEventEntry = offsetof(TEventListEntry, text) + kText;

    // The notification code of a notification's data, the first field of every notification
    // record in either form; 0 for data too short to hold one.
    static uint32_t NotifyCode(const std::vector<uint8_t>& data)
    {
        uint32_t code = 0;
        if (data.size() >= offsetof(TNotifyBase, notifyCode) + sizeof code)
            std::memcpy(&code, data.data() + offsetof(TNotifyBase, notifyCode), sizeof code);
        return code;
    }
};

// Where a block's record lies in its node, for the flattening and its inverse: command and
// notification blocks keep their record after the visited list.
inline bool IsCommandType(uint32_t type)
{
    return type == kCodeChun || type == kCodePlay || type == kCodeGTmR || type == kCodeNtfy;
}

// Structure blocks keep theirs right after the node header, whatever their record type (records
// are packed).
inline bool IsStructType(uint32_t type)
{
    return type == kCodeHdr3 || type == kCodeSnd3 || type == kCodeVid3 || type == kCodeTag || type == kCodeSCDA ||
           type == kCodeDat3 || type == kCodeVid3Record;
}

// With 4-byte pointers the flattened records are the records' own layouts.
static_assert(sizeof(void*) != 4 ||
                  (FlatLayout::kHeader == sizeof(HDR_T) && FlatLayout::kStream == sizeof(STREAM_T) &&
                   FlatLayout::kHeaderTexts == offsetof(HDR_T, reserved3596) &&
                   FlatLayout::kMessage == sizeof(TNotifyMessage) && FlatLayout::kEventListHead == sizeof(TEventList) &&
                   FlatLayout::kEventEntry == sizeof(TEventListEntry)),
              "flattened layouts are the i386 records'");
