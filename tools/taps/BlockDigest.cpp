// Digest lines: the type, the carried time and the MD5 of a block's captured data.
#include "BlockDigest.h"

#include "../../capture/CBlockWire.h"
#include "../../capture/FlatLayout.h"
#include "../../records/BlockTypes.h"

#include <QCryptographicHash>

#include <cinttypes>
#include <cstring>

const char* const BlockDigest::kFormatLine = "#format: index, type, time, size, md5";

BlockDigest::BlockDigest(std::FILE* out) : mOut(out)
{
    std::fprintf(mOut, "%s\n", kFormatLine);
}

std::string BlockDigest::Line(uint64_t index, uint32_t type, const std::vector<uint8_t>& data)
{
    uint64_t time = 0;
    if ((type == kCodeSCDA || type == kCodeTag) && data.size() >= sizeof time)
        std::memcpy(&time, data.data(), sizeof time);
    std::string name = CodeText(type);
    if (type == kCodeNtfy && data.size() >= sizeof(TNotifyBase))
        name += "/" + CodeText(FlatLayout::NotifyCode(data));
    char line[200];
    std::snprintf(line, sizeof line, "%" PRIu64 ", %s, %" PRIu64 ", %zu, %s", index, name.c_str(), time, data.size(),
                  Md5(data).c_str());
    return line;
}

std::string BlockDigest::Md5(const std::vector<uint8_t>& data)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()));
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().constData();
}

void BlockDigest::Sent(const cMemBlock& block, bool command)
{
    if (command)
        return;
    std::lock_guard<std::mutex> lock(mLock);
    CBlockWire::Flatten(block, mData);
    std::fprintf(mOut, "%s\n", Line(mIndex++, block.GetType(), mData).c_str());
}
