// JSON strings of any bytes, numbers, and objects field by field.
#include "JsonWriter.h"

#include <cmath>
#include <cstdio>

namespace {

// Bytes of the valid UTF-8 character at `at` (1 for ASCII), or 0 when none starts there.
size_t Utf8Length(const std::string& text, size_t at)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0x80                    ? 1
                          : lead >= 0xC2 && lead <= 0xDF ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    uint32_t code = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (next & 0x3F);
    }
    static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool valid = code >= least[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    return valid ? length : 0;
}

} // namespace

std::string JsonWriter::Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = Utf8Length(text, i);
        char escaped[8];
        if (c == '"' || c == '\\')
            quoted += std::string("\\") + text[i];
        else if ((c < 0x20 || c == 0x7F || length == 0) && std::snprintf(escaped, sizeof escaped, "\\u%04x", c) > 0)
            quoted += escaped;
        else
            quoted.append(text, i, length);
        i += length == 0 ? 1 : length;
    }
    return quoted + "\"";
}

std::string JsonWriter::Number(double value, const char* format)
{
    if (!std::isfinite(value))
        return "null";
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string JsonWriter::Array(const std::vector<std::string>& values, const char* indent)
{
    std::string array = "[";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            array += indent == nullptr ? ", " : ",";
        if (indent != nullptr)
            array.append("\n").append(indent).append("  ");
        array += values[i];
    }
    if (indent != nullptr)
        array.append("\n").append(indent);
    return array + "]";
}

JsonWriter& JsonWriter::Raw(const char* name, const std::string& json)
{
    mFields.push_back(Quoted(name) + ": " + json);
    return *this;
}

std::string JsonWriter::Text() const
{
    std::string text = "{";
    for (size_t i = 0; i < mFields.size(); ++i)
        text += (i == 0 ? "" : ", ") + mFields[i];
    return text + "}";
}

std::string JsonWriter::Lines() const
{
    std::string text = "{";
    for (size_t i = 0; i < mFields.size(); ++i)
        text += (i == 0 ? "\n  " : ",\n  ") + mFields[i];
    return text + "\n}";
}

JsonWriter& JsonWriter::String(const char* name, const std::string& text)
{
    return Raw(name, Quoted(text));
}

JsonWriter& JsonWriter::Integer(const char* name, int64_t value)
{
    return Raw(name, std::to_string(value));
}

JsonWriter& JsonWriter::Unsigned(const char* name, uint64_t value)
{
    return Raw(name, std::to_string(value));
}

JsonWriter& JsonWriter::Real(const char* name, double value, const char* format)
{
    return Raw(name, Number(value, format));
}

JsonWriter& JsonWriter::Bool(const char* name, bool value)
{
    return Raw(name, value ? "true" : "false");
}
