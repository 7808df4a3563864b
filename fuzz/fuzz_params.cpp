// Fuzz target: the parameter text and the configuration number parsing.
//
// The input is split into a parameter text and a key (both may hold NULs) for ExtractParamStr,
// whose value is compared with a plain model of the rule: the key and the text are searched as
// C strings, the value runs from the end of the key's occurrence up to the next blank at or
// after the occurrence, or to the end of the whole text. The rest of the input becomes a brick
// configuration for CreateBrick and onCreate; the stream number is compared with a model of a
// decimal parse clamped to 32 bits, and a refused configuration must name other codes.
#include "../records/BlockTypes.h"
#include "../sound/CVrn3StreamSound.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

extern "C" CBrick* CreateBrick(const TBrickConfig& config);

namespace {

[[noreturn]] void Finding(const char* what)
{
    std::fprintf(stderr, "fuzz_params: %s\n", what);
    std::abort();
}

std::string ModelValue(const std::string& text, const std::string& key)
{
    const std::string searched(text.c_str());
    const size_t at = searched.find(key.c_str());
    if (at == std::string::npos)
        return std::string();
    const size_t start = at + std::strlen(key.c_str()), blank = searched.find(' ', at);
    return text.substr(start, blank == std::string::npos || blank < start ? std::string::npos : blank - start);
}

// A decimal parse of the text up to `limit` or its first NUL, clamped to 32 bits.
int32_t ModelNumber(const char* text, size_t limit)
{
    const long long value = std::strtoll(std::string(text, strnlen(text, limit)).c_str(), nullptr, 10);
    return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string text = in.ConsumeRandomLengthString(200);
    const std::string key = in.ConsumeRandomLengthString(12);
    std::string value = "stale";
    CVRN3Stream::ExtractParamStr(text, key, value);
    if (value != ModelValue(text, key))
        Finding("ExtractParamStr disagrees with the model");

    std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
    const bool mostlyAccepted = bytes.size() < 24 || (bytes[0] & 1);
    TBrickConfig config;
    bytes.resize(sizeof config); // cut, or padded with zeros
    std::memcpy(&config, bytes.data(), sizeof config);
    if (mostlyAccepted) {
        config.input = {kCodeSnd3, kCodeDat3};
        config.output = {kCodeIma1, kCodeSCDA};
    }
    const bool accepted = config.input.contentCode == kCodeSnd3 && config.input.recordCode == kCodeDat3 &&
                          config.output.contentCode == kCodeIma1 && config.output.recordCode == kCodeSCDA;
    std::unique_ptr<CBrick> made(CreateBrick(config));
    if ((made != nullptr) != accepted)
        Finding("CreateBrick decided against the codes");
    if (made == nullptr)
        return 0;
    CVrn3StreamSound& brick = static_cast<CVrn3StreamSound&>(*made);
    brick.onCreate(config);
    if (brick.StreamNumber() != ModelNumber(config.streamNumber, sizeof config.streamNumber))
        Finding("stream number disagrees with the model");
    return 0;
}
