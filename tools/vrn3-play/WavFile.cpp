// Reading, checking and writing the RIFF framing of mono IMA ADPCM WAV files.
#include "WavFile.h"

#include "Failure.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kRiffHeader = 12;   // "RIFF", size, "WAVE"
constexpr size_t kChunkHeader = 8;   // id, size
constexpr uint32_t kPcmFmtSize = 16; // the fields every WAV format shares
constexpr uint32_t kImaFmtSize = 20; // those, cbSize and samples per block
constexpr uint16_t kImaBits = 4;     // bits per coded sample
constexpr uint16_t kImaExtraSize = 2; // cbSize of IMA ADPCM: the samples-per-block field
// Largest file read into memory: hours of 8 kHz IMA ADPCM (4000 bytes/s), well inside what a
// 32-bit process can hold.
constexpr long kMaxFileSize = 512L << 20;

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, static_cast<uint16_t>(v));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

void PutId(std::vector<uint8_t>& out, const char* id)
{
    out.insert(out.end(), id, id + 4);
}

bool IsId(const uint8_t* p, const char* id)
{
    return std::memcmp(p, id, 4) == 0;
}

[[noreturn]] void Bad(const std::string& name, const std::string& what)
{
    throw Failure(kExitInput, name + ": " + what);
}

std::string Printed(const char* format, unsigned a, unsigned b = 0, unsigned c = 0)
{
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// Checks an IMA ADPCM "fmt " chunk; returns its rate and block align.
void ParseFormat(const uint8_t* p, uint32_t size, const std::string& name, uint32_t& rate, uint16_t& blockAlign)
{
    if (size < kPcmFmtSize)
        Bad(name, "the fmt chunk is too short");
    const uint16_t tag = Le16(p);
    const uint16_t channels = Le16(p + 2);
    if (tag != WavFile::kFormatImaAdpcm)
        Bad(name, Printed("not IMA ADPCM (format tag 0x%04x; only 0x0011 is played)", tag));
    if (channels != 1)
        Bad(name, channels == 2 ? std::string("stereo; only mono is played")
                                : Printed("%u channels; only mono is played", channels));
    rate = Le32(p + 4);
    blockAlign = Le16(p + 12);
    const uint16_t bits = Le16(p + 14);
    if (rate == 0)
        Bad(name, "sample rate 0");
    if (bits != kImaBits)
        Bad(name, Printed("IMA ADPCM of %u bits per sample; only 4 is played", bits));
    if (size < kImaFmtSize)
        Bad(name, "the fmt chunk lacks the samples-per-block field");
    if (!WavFile::IsBlockAlign(blockAlign))
        Bad(name, Printed("block align %u is not a 4-byte block header and whole 4-byte words", blockAlign));
    const uint16_t perBlock = Le16(p + 18);
    if (perBlock != WavFile::SamplesIn(blockAlign))
        Bad(name, Printed("%u samples per block do not fit block align %u (expected %u)", perBlock, blockAlign,
                          WavFile::SamplesIn(blockAlign)));
}

std::string Id(const uint8_t* p)
{
    std::string id(reinterpret_cast<const char*>(p), 4);
    for (char& c : id)
        c = (c >= 0x20 && c < 0x7f) ? c : '?';
    return id;
}

} // namespace

WavFile::WavFile(uint32_t sampleRate, uint16_t blockAlign) : mSampleRate(sampleRate), mBlockAlign(blockAlign) {}

WavFile WavFile::Read(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        Bad(path, std::string("cannot read: ") + std::strerror(errno));
    std::vector<uint8_t> bytes;
    struct stat info;
    int error = 0;
    if (fstat(fileno(file), &info) != 0) {
        error = errno;
    } else if (S_ISDIR(info.st_mode)) {
        error = EISDIR;
    } else if (info.st_size > kMaxFileSize) {
        error = EFBIG;
    } else {
        bytes.resize(static_cast<size_t>(info.st_size));
        if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size())
            error = errno != 0 ? errno : EIO;
    }
    std::fclose(file);
    if (error != 0)
        Bad(path, std::string("cannot read: ") + std::strerror(error));
    return Parse(bytes, path);
}

WavFile WavFile::Parse(const std::vector<uint8_t>& bytes, const std::string& name)
{
    const uint8_t* b = bytes.data();
    if (bytes.size() < kRiffHeader || !IsId(b, "RIFF") || !IsId(b + 8, "WAVE"))
        Bad(name, "not a WAV file (no RIFF/WAVE header)");
    const uint64_t declared = uint64_t{Le32(b + 4)} + kChunkHeader;
    if (declared > bytes.size())
        Bad(name, Printed("truncated (the RIFF header promises %u bytes, the file has %u)",
                          static_cast<unsigned>(declared), static_cast<unsigned>(bytes.size())));
    const size_t end = static_cast<size_t>(declared);
    uint32_t rate = 0;
    uint16_t blockAlign = 0;
    bool haveFormat = false;
    const uint8_t* data = nullptr;
    uint32_t dataSize = 0;
    for (size_t pos = kRiffHeader; pos < end;) {
        if (end - pos < kChunkHeader)
            Bad(name, "truncated (a chunk header is cut short)");
        const uint8_t* id = b + pos;
        const uint32_t size = Le32(b + pos + 4);
        pos += kChunkHeader;
        if (size > end - pos)
            Bad(name, "truncated (the '" + Id(id) + "' chunk" +
                          Printed(" promises %u bytes, %u are left)", size, static_cast<unsigned>(end - pos)));
        if (IsId(id, "fmt ")) {
            ParseFormat(b + pos, size, name, rate, blockAlign);
            haveFormat = true;
        } else if (IsId(id, "data")) {
            if (!haveFormat)
                Bad(name, "the data chunk comes before the fmt chunk");
            data = b + pos;
            dataSize = size;
        }
        pos += size + (size & 1u); // chunks are padded to an even length
    }
    if (!haveFormat)
        Bad(name, "no fmt chunk");
    if (data == nullptr)
        Bad(name, "no data chunk");
    if (dataSize == 0)
        Bad(name, "no sound (the data chunk is empty)");
    if (dataSize % blockAlign != 0 && dataSize % blockAlign <= kBlockHeader)
        Bad(name, Printed("the last block is cut short (%u bytes)", dataSize % blockAlign));
    WavFile wav(rate, blockAlign);
    for (uint32_t at = 0; at < dataSize; at += blockAlign)
        wav.AppendBlock(data + at, dataSize - at < blockAlign ? dataSize - at : blockAlign);
    return wav;
}

void WavFile::AppendBlock(const uint8_t* data, size_t size)
{
    if (size <= kBlockHeader || size > mBlockAlign)
        throw Failure(kExitInput, Printed("a block of %u bytes does not fit block align %u",
                                          static_cast<unsigned>(size), mBlockAlign));
    mData.insert(mData.end(), data, data + size);
    mBlockEnds.push_back(mData.size());
}

uint64_t WavFile::SampleCount() const
{
    uint64_t samples = 0;
    for (size_t i = 0; i < BlockCount(); ++i)
        samples += SamplesIn(static_cast<uint32_t>(BlockSize(i)));
    return samples;
}

std::vector<uint8_t> WavFile::Serialize() const
{
    const uint32_t dataSize = static_cast<uint32_t>(mData.size());
    const uint32_t pad = dataSize & 1u;
    std::vector<uint8_t> out;
    out.reserve(kRiffHeader + 3 * kChunkHeader + kImaFmtSize + 4 + dataSize + pad);
    PutId(out, "RIFF");
    Put32(out, static_cast<uint32_t>(4 + kChunkHeader + kImaFmtSize + kChunkHeader + 4 + kChunkHeader + dataSize + pad));
    PutId(out, "WAVE");
    PutId(out, "fmt ");
    Put32(out, kImaFmtSize);
    Put16(out, kFormatImaAdpcm);
    Put16(out, 1);
    Put32(out, mSampleRate);
    Put32(out, static_cast<uint32_t>(uint64_t{mSampleRate} * mBlockAlign / SamplesPerBlock()));
    Put16(out, mBlockAlign);
    Put16(out, kImaBits);
    Put16(out, kImaExtraSize);
    Put16(out, static_cast<uint16_t>(SamplesPerBlock()));
    PutId(out, "fact");
    Put32(out, 4);
    Put32(out, static_cast<uint32_t>(SampleCount()));
    PutId(out, "data");
    Put32(out, dataSize);
    out.insert(out.end(), mData.begin(), mData.end());
    if (pad != 0)
        out.push_back(0);
    return out;
}

void WavFile::Write(const std::string& path) const
{
    const std::vector<uint8_t> bytes = Serialize();
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(&temp[0]);
    if (fd < 0)
        throw Failure(kExitOutput, path + ": cannot write: " + std::strerror(errno));
    const mode_t mask = umask(0);
    umask(mask);
    int error = fchmod(fd, 0666 & ~mask) == 0 ? 0 : errno;
    for (size_t done = 0; error == 0 && done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR)
            error = errno;
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && std::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        unlink(temp.c_str());
        throw Failure(kExitOutput, path + ": cannot write: " + std::strerror(error));
    }
}
