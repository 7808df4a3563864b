// JsonWriter: the one way the host programs and the benchmark write JSON.
//
// Quoted makes a JSON string of any bytes: quotes, backslashes and control characters escaped,
// valid UTF-8 passed as it is, and each byte that is not part of valid UTF-8 (a file name may
// hold any) written as \u00XX, the code point of that byte's value; so the output is always
// valid UTF-8 and valid JSON. Number writes no NaN or infinity (JSON has none): null instead.
// An object is built field by field and read whole with Text (one line) or Lines (a field a
// line, for a document people read too); Array makes an array of values, the same two ways. A
// JsonWriter owns its text only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class JsonWriter {
public:
    static std::string Quoted(const std::string& text);
    // `value` in printf's `format` (one conversion of a double), or null when it is no number.
    static std::string Number(double value, const char* format = "%.6g");
    // The array of `values` (JSON each): "[a, b]", or with `indent` one value a line, indented
    // two spaces more than the closing bracket, which follows `indent` ("[\n  a,\n  b\n]").
    static std::string Array(const std::vector<std::string>& values, const char* indent = nullptr);

    JsonWriter& String(const char* name, const std::string& text);
    JsonWriter& Integer(const char* name, int64_t value);
    JsonWriter& Unsigned(const char* name, uint64_t value);
    JsonWriter& Real(const char* name, double value, const char* format = "%.6g");
    JsonWriter& Bool(const char* name, bool value);
    // A value that is JSON already: a nested object's Text, an array, null.
    JsonWriter& Raw(const char* name, const std::string& json);

    // The object: "{"name": value, ...}".
    std::string Text() const;
    // The object a field a line: "{\n  "name": value,\n  ...\n}".
    std::string Lines() const;

private:
    std::vector<std::string> mFields; // "name": value
};
