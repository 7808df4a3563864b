// Reading and checking the RIFF framing of mono IMA ADPCM WAV files, block by block, and
// making the framing of the files this program writes.
#include "WavFile.h"

#include "../common/Failure.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

constexpr size_t kRiffHeader = 12;    // "RIFF", size, "WAVE"
constexpr size_t kChunkHeader = 8;    // id, size
constexpr uint32_t kPcmFmtSize = 16;  // the fields every WAV format shares
constexpr uint32_t kImaFmtSize = 20;  // those, cbSize and samples per block
constexpr uint16_t kImaBits = 4;      // bits per coded sample
constexpr uint16_t kImaExtraSize = 2; // cbSize of IMA ADPCM: the samples-per-block field
constexpr uint32_t kFactSize = 4;     // the sample count
static_assert(kRiffHeader + 3 * kChunkHeader + kImaFmtSize + kFactSize == WavFile::kHeaderSize,
              "Header writes the RIFF header, fmt, fact and the data chunk's header");
// What a writer that cannot seek back puts in a size it does not know.
constexpr uint32_t kSizeUnknownZero = 0;
constexpr uint32_t kSizeUnknownAll = 0xFFFFFFFF;
constexpr uint32_t kSizeUnknownSox = 0x7FFFF000;
// Bytes skipped on a pipe per read.
constexpr size_t kSkipBuffer = 64 * 1024;

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

std::string Printed(const char* format, unsigned long long a, unsigned long long b = 0, unsigned long long c = 0)
{
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

std::string Id(const uint8_t* p)
{
    std::string id(reinterpret_cast<const char*>(p), 4);
    for (char& c : id)
        c = (c >= 0x20 && c < 0x7f) ? c : '?';
    return id;
}

} // namespace

WavFile::WavFile(std::FILE* in, const std::string& name, bool seekable) : mIn(in), mName(name), mSeekable(seekable)
{
    ReadRiffHeader();
    if (!WalkChunks(false))
        Bad(mBlockAlign == 0 ? "no fmt chunk" : "no data chunk");
    if (mSeekable) {
        SeekTo(mDataOffset + mDataSize + (mDataSize & 1u));
        EndData();
        SeekTo(mDataOffset);
    }
}

void WavFile::ReadRiffHeader()
{
    uint8_t b[kRiffHeader];
    if (Read(b, sizeof b) < sizeof b || !IsId(b, "RIFF") || !IsId(b + 8, "WAVE"))
        Bad("not a WAV file (no RIFF/WAVE header)");
    const uint32_t size = Le32(b + 4);
    const uint64_t declared = uint64_t{size} + kChunkHeader;
    if (!mSeekable) {
        if (size != kSizeUnknownZero && size != kSizeUnknownAll)
            mRiffEnd = declared;
        return;
    }
    if (fseeko(mIn, 0, SEEK_END) != 0)
        Bad(std::string("cannot read: ") + std::strerror(errno));
    const uint64_t fileSize = static_cast<uint64_t>(ftello(mIn));
    mPos = fileSize;
    if (declared < kRiffHeader)
        Bad(Printed("the RIFF size %llu is too small for a WAVE file", size));
    if (declared > fileSize)
        Bad(Printed("truncated (the RIFF header promises %llu bytes, the file has %llu)", declared, fileSize));
    mRiffEnd = declared;
    SeekTo(kRiffHeader);
}

bool WavFile::WalkChunks(bool afterData)
{
    while (mRiffEnd == kUnknown || mPos < mRiffEnd) {
        uint8_t header[kChunkHeader];
        const bool room = mRiffEnd == kUnknown || mRiffEnd - mPos >= kChunkHeader;
        const size_t got = Read(header, sizeof header);
        if (!mSeekable && (got == 0 || !room))
            return false; // a pipe's stream or form ended between chunks
        if (got < sizeof header || !room)
            Bad("truncated (a chunk header is cut short)");
        const uint32_t size = Le32(header + 4);
        if (mSeekable && size > mRiffEnd - mPos)
            Bad("truncated (the '" + Id(header) + "' chunk" +
                Printed(" promises %llu bytes, %llu are left)", size, mRiffEnd - mPos));
        if (IsId(header, "data")) {
            StartData(size, afterData);
            return true;
        }
        OnChunk(header, size, afterData);
    }
    return false;
}

void WavFile::OnChunk(const uint8_t id[4], uint32_t size, bool afterData)
{
    const bool format = IsId(id, "fmt ");
    const bool fact = IsId(id, "fact") && size >= 4;
    if (format && afterData)
        Bad("a second fmt chunk after the data");
    std::vector<uint8_t> body(format ? std::min<uint32_t>(size, kImaFmtSize) : fact ? 4 : 0);
    if (Read(body.data(), body.size()) < body.size())
        Bad("truncated (the '" + Id(id) + "' chunk is cut short)");
    const uint64_t rest = size - body.size() + (size & 1u);
    if (Skip(rest) < rest && !mSeekable && !afterData)
        Bad("truncated (the '" + Id(id) + "' chunk is cut short)");
    if (format)
        ParseFormat(body);
    else if (fact)
        mFactSamples = Le32(body.data());
}

void WavFile::ParseFormat(const std::vector<uint8_t>& fmt)
{
    if (fmt.size() < kPcmFmtSize)
        Bad("the fmt chunk is too short");
    const uint8_t* p = fmt.data();
    const uint16_t tag = Le16(p);
    const uint16_t channels = Le16(p + 2);
    if (tag != kFormatImaAdpcm)
        Bad(Printed("not IMA ADPCM (format tag 0x%04llx; only 0x0011 is played)", tag));
    if (channels != 1)
        Bad(channels == 2 ? std::string("stereo; only mono is played")
                          : Printed("%llu channels; only mono is played", channels));
    const uint32_t rate = Le32(p + 4);
    const uint16_t blockAlign = Le16(p + 12);
    const uint16_t bits = Le16(p + 14);
    if (rate == 0 || rate > INT32_MAX)
        Bad(Printed("sample rate %llu Hz (from 1 to 2147483647 Hz are played)", rate));
    if (bits != kImaBits)
        Bad(Printed("IMA ADPCM of %llu bits per sample; only 4 is played", bits));
    if (fmt.size() < kImaFmtSize)
        Bad("the fmt chunk lacks the samples-per-block field");
    if (!IsBlockAlign(blockAlign))
        Bad(Printed("block align %llu is not a 4-byte block header and whole 4-byte words", blockAlign));
    const uint16_t perBlock = Le16(p + 18);
    if (perBlock != SamplesIn(blockAlign))
        Bad(Printed("%llu samples per block do not fit block align %llu (expected %llu)", perBlock, blockAlign,
                    SamplesIn(blockAlign)));
    mSampleRate = rate;
    mBlockAlign = blockAlign;
}

void WavFile::StartData(uint32_t size, bool afterData)
{
    if (afterData)
        Bad("two data chunks; only one is played");
    if (mBlockAlign == 0)
        Bad("the data chunk comes before the fmt chunk");
    mDataOffset = mPos;
    const bool unknown = !mSeekable && (size == kSizeUnknownZero || size == kSizeUnknownAll || size == kSizeUnknownSox);
    mDataSize = unknown ? kUnknown : size;
    if (mDataSize == 0)
        Bad("no sound (the data chunk is empty)");
    if (!unknown && size % mBlockAlign != 0 && size % mBlockAlign < kBlockHeader)
        Bad(Printed("the last block is cut short (%llu bytes)", size % mBlockAlign));
}

void WavFile::EndData()
{
    mDataEnded = true;
    WalkChunks(true);
}

bool WavFile::ReadBlock(uint64_t index, std::vector<uint8_t>& block)
{
    if (index >= BlockCount())
        return false;
    if (mSeekable)
        SeekTo(mDataOffset + index * mBlockAlign);
    else if (index < mNextBlock)
        Bad("a pipe is read once, in order; play it forward or give a file");
    else
        Skip((index - mNextBlock) * mBlockAlign);
    const uint64_t at = index * mBlockAlign;
    block.resize(static_cast<size_t>(std::min<uint64_t>(mBlockAlign, mDataSize - at)));
    const size_t got = Read(block.data(), block.size());
    if (mSeekable && got < block.size())
        Bad(Printed("cannot read block %llu: the file ended %llu bytes into it", index, got));
    if (mSeekable)
        return true;
    return PipeBlockRead(index, block, got);
}

bool WavFile::PipeBlockRead(uint64_t index, std::vector<uint8_t>& block, size_t got)
{
    mNextBlock = index + 1;
    const bool cut = got < block.size();
    if (cut && mDataSize != kUnknown)
        Bad(Printed("truncated (the data chunk promises %llu bytes, the stream ended after %llu)", mDataSize,
                    mPos - mDataOffset));
    if (cut || (mDataSize == kUnknown && AtEnd())) { // the stream ends inside the data
        mDataSize = mPos - mDataOffset;
        mDataEnded = true;
    }
    if (got == 0)
        return false;
    if (got < kBlockHeader)
        Bad(Printed("the last block is cut short (%llu bytes)", got));
    block.resize(got);
    if (!mDataEnded && mPos - mDataOffset == mDataSize) {
        Skip(mDataSize & 1u);
        EndData();
    }
    return true;
}

bool WavFile::AtEnd()
{
    const int c = std::getc(mIn);
    if (c == EOF)
        return true;
    std::ungetc(c, mIn);
    return false;
}

uint64_t WavFile::BlockCount() const
{
    return mDataSize == kUnknown ? kUnknown : (mDataSize + mBlockAlign - 1) / mBlockAlign;
}

uint64_t WavFile::SampleCount() const
{
    if (mDataSize == kUnknown)
        return kUnknown;
    return mDataSize / mBlockAlign * SamplesPerBlock() + SamplesIn(static_cast<uint32_t>(mDataSize % mBlockAlign));
}

size_t WavFile::Read(uint8_t* into, size_t size)
{
    const size_t got = std::fread(into, 1, size, mIn);
    mPos += got;
    if (got < size && std::ferror(mIn))
        Bad(std::string("cannot read: ") + std::strerror(errno));
    return got;
}

uint64_t WavFile::Skip(uint64_t size)
{
    if (mSeekable) {
        SeekTo(mPos + size);
        return size;
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(size, kSkipBuffer)));
    uint64_t done = 0;
    while (done < size) {
        const size_t got = Read(buffer.data(), static_cast<size_t>(std::min<uint64_t>(size - done, buffer.size())));
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

void WavFile::SeekTo(uint64_t offset)
{
    if (offset == mPos)
        return; // reading on in order: the buffered stream is there already
    if (fseeko(mIn, static_cast<off_t>(offset), SEEK_SET) != 0)
        Bad(std::string("cannot read: ") + std::strerror(errno));
    mPos = offset;
}

void WavFile::Bad(const std::string& what) const
{
    throw Failure(kExitInput, mName + ": " + what);
}

std::vector<uint8_t> WavFile::Header(uint32_t rate, uint16_t blockAlign, uint32_t samples, uint32_t dataSize)
{
    const uint32_t pad = dataSize & 1u;
    std::vector<uint8_t> out;
    PutId(out, "RIFF");
    Put32(out, static_cast<uint32_t>(WavFile::kHeaderSize - kChunkHeader + dataSize + pad));
    PutId(out, "WAVE");
    PutId(out, "fmt ");
    Put32(out, kImaFmtSize);
    Put16(out, kFormatImaAdpcm);
    Put16(out, 1);
    Put32(out, rate);
    Put32(out, static_cast<uint32_t>(uint64_t{rate} * blockAlign / SamplesIn(blockAlign)));
    Put16(out, blockAlign);
    Put16(out, kImaBits);
    Put16(out, kImaExtraSize);
    Put16(out, static_cast<uint16_t>(SamplesIn(blockAlign)));
    PutId(out, "fact");
    Put32(out, kFactSize);
    Put32(out, samples);
    PutId(out, "data");
    Put32(out, dataSize);
    return out;
}
