// The layouts of JSON the programs and the benchmark print: an object on one line or a field a
// line, and arrays both ways (an empty array keeps its brackets on their lines). Scripts read
// these documents, so the bytes are pinned.
#include "../../tools/common/JsonWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ArrayCase {
    std::vector<std::string> values;
    const char* indent;
    const char* expected;
};

TEST(JsonWriter, ArraysKeepTheirLayout)
{
    const ArrayCase cases[] = {
        {{}, nullptr, "[]"},
        {{"0", "5996"}, nullptr, "[0, 5996]"},
        {{}, "  ", "[\n  ]"},
        {{"{\"a\": 1}"}, "  ", "[\n    {\"a\": 1}\n  ]"},
        {{"1", "2"}, "", "[\n  1,\n  2\n]"},
    };
    for (const ArrayCase& c : cases)
        EXPECT_EQ(JsonWriter::Array(c.values, c.indent), c.expected) << c.expected;
}

TEST(JsonWriter, ObjectsOnOneLineOrAFieldALine)
{
    JsonWriter json;
    json.String("flavour", "amd64").Bool("emulated", false).Real("value", 0.5).Raw("list", JsonWriter::Array({"1"}));
    EXPECT_EQ(json.Text(), "{\"flavour\": \"amd64\", \"emulated\": false, \"value\": 0.5, \"list\": [1]}");
    EXPECT_EQ(json.Lines(),
              "{\n  \"flavour\": \"amd64\",\n  \"emulated\": false,\n  \"value\": 0.5,\n  \"list\": [1]\n}");
    EXPECT_EQ(JsonWriter().Text(), "{}");
}

} // namespace
