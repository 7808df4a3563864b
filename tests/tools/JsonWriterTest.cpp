// The layouts of JSON the programs and the benchmark print: an object on one line or a field a
// line, and arrays both ways (an empty array keeps its brackets on their lines). Scripts read
// these documents, so the bytes are pinned.
#include "../../tools/common/JsonWriter.h"

#include <gtest/gtest.h>

#include <limits>
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

// A name's bytes as a JSON string a strict UTF-8 reader takes: valid characters as they are, every
// other byte as the code point of its value, whether the text ends on a whole character or in the
// middle of an escape or of a character's bytes.
TEST(JsonWriter, NamesOfAnyBytesQuoteAsStrictUtf8)
{
    const struct {
        std::string text, quoted;
    } cases[] = {
        {"", "\"\""},
        {"a\"b\\", "\"a\\\"b\\\\\""},
        {"name\\", "\"name\\\\\""},
        {std::string("a\0b", 3), "\"a\\u0000b\""},
        {"\x1f\x7f", "\"\\u001f\\u007f\""},
        {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
        {"\xe2\x82\xac\xf0\x9f\x8e\xb5", "\"\xe2\x82\xac\xf0\x9f\x8e\xb5\""},
        {"end\xc3", "\"end\\u00c3\""},
        {"end\xe2\x82", "\"end\\u00e2\\u0082\""},
        {"end\xf0\x9f\x8e", "\"end\\u00f0\\u009f\\u008e\""},
        {"\xc3\xc3\xa9", "\"\\u00c3\xc3\xa9\""},
        {"\xc3(", "\"\\u00c3(\""},
        {"\xc0\xaf", "\"\\u00c0\\u00af\""},
        {"\xe0\x80\xaf", "\"\\u00e0\\u0080\\u00af\""},
        {"\xf0\x80\x80\xaf", "\"\\u00f0\\u0080\\u0080\\u00af\""},
        {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},
        {"\xf4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},
        {"\xf5\xff\x80", "\"\\u00f5\\u00ff\\u0080\""},
        {"\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JsonWriter::Quoted(c.text), c.quoted) << c.quoted;
}

TEST(JsonWriter, NumbersThatJsonCannotHoldAreNull)
{
    EXPECT_EQ(JsonWriter::Number(std::numeric_limits<double>::infinity(), "%.1f"), "null");
    EXPECT_EQ(JsonWriter::Number(std::numeric_limits<double>::quiet_NaN(), "%.1f"), "null");
    EXPECT_EQ(JsonWriter::Number(2.25, "%.1f"), "2.2");
    EXPECT_EQ(JsonWriter().Integer("n", -3).Unsigned("u", 18446744073709551615u).Text(),
              "{\"n\": -3, \"u\": 18446744073709551615}");
}

} // namespace
