// Inputs from senders that do not keep to the rules: each case is a fault the fuzz targets
// found, fixed, and pinned here.
#include "PropertyHarness.h"

#include <gtest/gtest.h>

using namespace vrn3test;

// A key is searched as a C string, so its value starts right after the key's characters up to
// its first NUL; a key with bytes after a NUL once moved the value's start past them (and past
// the end of a short text, which threw).
TEST(InputHardening, ParamKeyIsMeasuredUpToItsFirstNul)
{
    std::string value = "stale";
    CVRN3Stream::ExtractParamStr("-rate=8000 -bits=16", std::string("-bits=\0xyz", 10), value);
    EXPECT_EQ(value, "16");
    CVRN3Stream::ExtractParamStr("ab", std::string("a\0longer key", 12), value);
    EXPECT_EQ(value, "b");
    CVRN3Stream::ExtractParamStr(std::string("\0-rate=1", 8), std::string("\0abc", 4), value);
    EXPECT_EQ(value, std::string("\0-rate=1", 8)) << "an empty key matches at the start and runs to the end";
}

// A play command's direction byte may hold any value; any value but 0 is forward. It was once
// copied into a bool unchecked, so that a byte of 0x5C read as "not forward" in one test and
// "forward" in the next.
TEST(InputHardening, PlayDirectionByteOtherThanZeroOrOneIsForward)
{
    SoundChain chain;
    chain.Data(Header(1, "-rate=8000 -bits=16"));
    chain.Data(TimeRange(1000, 10000));
    chain.Ctrl(Play(0x5C));
    EXPECT_TRUE(chain.brick->ForwardPlay());
    chain.Ctrl(Request(500)); // before the beginning, but forward: counted and passed on
    EXPECT_EQ(chain.source->requests, 1);
    chain.Ctrl(Request(10000)); // at the end, forward: an end-of-stream pair
    ASSERT_EQ(chain.sink->data.size(), 2u);
    const cTagBlock start(chain.sink->data[0]);
    EXPECT_EQ(start.Record().code, kCodeTagS);
    EXPECT_EQ(start.Record().kind, CVRN3Stream::kEndOfStreamKind);
    EXPECT_EQ(start.Record().time, 10000u);
    EXPECT_EQ(chain.brick->ChunkRequestCount(), 1) << "the pair settles its own count only";
    chain.Ctrl(Play(0));
    EXPECT_FALSE(chain.brick->ForwardPlay());
    chain.Ctrl(Play(1));
    EXPECT_TRUE(chain.brick->ForwardPlay());
}
