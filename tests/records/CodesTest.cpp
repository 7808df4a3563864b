// Codes are text turned into little-endian values, and every typed block made by the library
// carries the table's value as its block type.
#include "records/BlockTypes.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Codes, BytesInMemorySpellTheText)
{
    const char* texts[] = {"Hdr3", "Dat3", "snd3", "Vid3", "vid3", "Tag ", "TagS", "TagF", "SCDA", "ima1",
                           "Chun", "Play", "GTmR", "ntfy", "SCfg", "NMsg", "Evt ", "Rdy ", "TimR", "Gist",
                           "rset", "Warn", "W002"};
    const uint32_t values[] = {kCodeHdr3, kCodeDat3, kCodeSnd3, kCodeVid3Record, kCodeVid3, kCodeTag, kCodeTagS,
                               kCodeTagF, kCodeSCDA, kCodeIma1, kCodeChun, kCodePlay, kCodeGTmR, kCodeNtfy,
                               kCodeSCfg, kCodeNMsg, kCodeEvt, kCodeRdy, kCodeTimR, kCodeGist, kCodeRset,
                               kCodeWarn, kCodeW002};
    for (size_t i = 0; i < sizeof values / sizeof values[0]; ++i)
        EXPECT_EQ(0, std::memcmp(&values[i], texts[i], 4)) << texts[i];
    EXPECT_NE(kCodeTag, FourCC("Tag\0")) << "the blank of \"Tag \" is part of the code";
    EXPECT_NE(kCodeTagS, FourCC("tags"));
}

TEST(Codes, NewBlocksCarryTheirTemplateCode)
{
    EXPECT_EQ(kCodeHdr3, cHeaderBlock().GetType());
    EXPECT_EQ(kCodeDat3, cDataBlock().GetType());
    EXPECT_EQ(kCodeVid3Record, cVideoBlock().GetType());
    EXPECT_EQ(kCodeTag, cTagBlock().GetType());
    EXPECT_EQ(kCodeSCDA, cSoundBlock().GetType());
    EXPECT_EQ(kCodeNtfy, cSoundCfgBlock().GetType());
    EXPECT_EQ(kCodeNtfy, cReadyBlock().GetType());
    EXPECT_EQ(kCodeNtfy, cEventListBlock().GetType());
    EXPECT_EQ(kCodeNtfy, cMessageBlock().GetType());
    EXPECT_EQ(kCodeChun, cChunkCmdBlock().GetType());
    EXPECT_EQ(kCodePlay, cPlayCmdBlock().GetType());
}

TEST(Codes, RecordSizesAreTheBlockSizes)
{
    EXPECT_EQ(3632u, cHeaderBlock().GetSize());
    EXPECT_EQ(36u, cSoundCfgBlock().GetSize());
    EXPECT_EQ(17u, cReadyBlock().GetSize());
    EXPECT_EQ(8u, cEventListBlock().GetSize());
    EXPECT_EQ(28u, cMessageBlock().GetSize());
    EXPECT_EQ(32u + 5u, cSoundBlock(5).GetSize());
}
