// The one line a trace or a replay's difference shows for a block: its code, its size and the
// fields of its record; a block too short for its record, or of a kind without fields, shows its
// code and size alone.
#include "../../tools/common/BlockText.h"

#include "../../records/BlockTypes.h"
#include "../../records/DataPathBlocks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(BlockText, EachRecordShowsItsFieldsAndAShortOneItsSizeAlone)
{
    cPlayCmdBlock play;
    play.Record().forward = true;
    cReadyBlock ready;
    ready.Record().value2 = 7;
    const std::string readySize = std::to_string(sizeof(TReadyNotification));
    const struct {
        std::string described, expected;
    } cases[] = {
        {BlockText::Describe(play), "Play size 12 forward 1"},
        {BlockText::Describe(ready), "ntfy size " + readySize + " Rdy  value1 0 value2 7 flag 1 value3 1"},
        {BlockText::Describe(MakeVideoFragment(kFragmentLast, 40, "v", 1)),
         "vid3 size 9 last flags 0x40 frameTime 40 timeMode 0"},
        {BlockText::Describe(kCodePlay, Bytes("shrt")), "Play size 4"},
        {BlockText::Describe(kCodeNtfy, Bytes("TimR")), "ntfy size 4 TimR"},
        {BlockText::Describe(kCodeNtfy, Bytes("ab")), "ntfy size 2"},
        {BlockText::Describe(kCodeTag, Bytes("tag")), "Tag  size 3"},
        {BlockText::Describe(FourCC("Xyz1"), Bytes("xyz")), "Xyz1 size 3"},
        {BlockText::Describe(FourCC("a\001\177b"), Bytes("")), "a..b size 0"}, // unprintable bytes as dots
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.described, c.expected);
}

} // namespace
