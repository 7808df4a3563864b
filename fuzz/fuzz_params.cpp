// Fuzz target: the parameter text and the configuration number parsing.
//
// The input is split into a parameter text and a key (both may hold NULs) for ExtractParamStr,
// whose value must be a part of the text. The rest of the input becomes a brick
// configuration for CreateBrick and onCreate, and a refused configuration must name other codes.
// What the values are, case by case, the unit tests' tables say (tests/params); here the
// sanitizers look for reads past the text, the key or the configuration.
#include "../records/BlockTypes.h"
#include "../sound/CVrn3StreamSound.h"

#include <fuzzer/FuzzedDataProvider.h>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string text = in.ConsumeRandomLengthString(200);
    const std::string key = in.ConsumeRandomLengthString(12);
    std::string value = "stale";
    CVRN3Stream::ExtractParamStr(text, key, value);
    if (text.find(value) == std::string::npos)
        Finding("ExtractParamStr's value is no part of the text");

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
    static_cast<CVrn3StreamSound&>(*made).onCreate(config);
    return 0;
}
