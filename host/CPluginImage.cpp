// Reading a plug-in's ELF headers and dynamic section, bounds-checked, without loading it.
#include "CPluginImage.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The host's own layouts: files of another class are never read past their first header.
using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);
using Dyn = ElfW(Dyn);

// No real plug-in comes near these; they only bound what a hostile file can make us allocate
// (the dynamic section of a library holds some dozens of entries, its string table some hundred
// kilobytes at most).
constexpr uint64_t kMostDynamicEntries = 4096;
constexpr uint64_t kMostStringTable = 64u << 20;

// e_machine lies at the same offset in both classes, in the file's byte order.
constexpr size_t kMachineOffset = offsetof(Elf32_Ehdr, e_machine);
static_assert(kMachineOffset == offsetof(Elf64_Ehdr, e_machine), "e_machine offset");

// A file opened for reading at offsets. Every read names its range, which must lie inside the
// file; the sums are made in 64 bits, so no offset or size the file holds can wrap them.
class ElfFile {
public:
    explicit ElfFile(const std::string& path) : mFd(open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        struct stat st;
        if (mFd >= 0 && fstat(mFd, &st) == 0 && S_ISREG(st.st_mode))
            mSize = static_cast<uint64_t>(st.st_size);
    }
    ~ElfFile()
    {
        if (mFd >= 0)
            close(mFd);
    }
    ElfFile(const ElfFile&) = delete;
    ElfFile& operator=(const ElfFile&) = delete;

    // Fills `out` with `size` bytes at `offset`: false when they are not all in the file.
    bool Read(uint64_t offset, uint64_t size, void* out) const
    {
        if (mFd < 0 || offset > mSize || size > mSize - offset)
            return false;
        char* to = static_cast<char*>(out);
        while (size > 0) {
            const ssize_t got = pread(mFd, to, size, static_cast<off_t>(offset));
            if (got <= 0)
                return false;
            to += got, offset += static_cast<uint64_t>(got), size -= static_cast<uint64_t>(got);
        }
        return true;
    }

private:
    int mFd;
    uint64_t mSize = 0;
};

// A needed library's name: its offset in the string table.
struct NeededName {
    uint64_t at;
};

// What the dynamic section says about needed libraries: their names, and where the string table
// is (a virtual address) and how long.
struct DynamicNames {
    std::vector<NeededName> needed;
    uint64_t strtab = 0;
    uint64_t strsz = 0;
};

// The program headers; null, or why they cannot be read.
const char* ReadSegments(const ElfFile& file, std::vector<Phdr>& segments)
{
    Ehdr header;
    if (!file.Read(0, sizeof header, &header) || header.e_phentsize != sizeof(Phdr))
        return "its ELF header is cut short or of another layout";
    segments.resize(header.e_phnum == PN_XNUM ? 0 : header.e_phnum);
    if (segments.empty() || !file.Read(header.e_phoff, segments.size() * sizeof(Phdr), segments.data()))
        return "its program headers lie outside the file";
    return nullptr;
}

// The dynamic section's entries up to DT_NULL; null, or why they cannot be read.
const char* ReadDynamic(const ElfFile& file, const std::vector<Phdr>& segments, DynamicNames& names)
{
    const Phdr* dynamic = nullptr;
    for (const Phdr& p : segments)
        dynamic = p.p_type == PT_DYNAMIC ? &p : dynamic;
    if (dynamic == nullptr)
        return "it has no dynamic section";
    std::vector<Dyn> entries(dynamic->p_filesz / sizeof(Dyn));
    if (entries.size() > kMostDynamicEntries ||
        !file.Read(dynamic->p_offset, entries.size() * sizeof(Dyn), entries.data()))
        return "its dynamic section lies outside the file";
    for (const Dyn& d : entries) {
        if (d.d_tag == DT_NULL)
            break;
        if (d.d_tag == DT_NEEDED)
            names.needed.push_back(NeededName{d.d_un.d_val});
        else if (d.d_tag == DT_STRTAB)
            names.strtab = d.d_un.d_ptr;
        else if (d.d_tag == DT_STRSZ)
            names.strsz = d.d_un.d_val;
    }
    return nullptr;
}

// The file offset of `size` bytes at the virtual address `address`, through the loadable segment
// that holds them all in its file image; false when none does.
bool FileOffset(const std::vector<Phdr>& segments, uint64_t address, uint64_t size, uint64_t& offset)
{
    for (const Phdr& p : segments) {
        if (p.p_type != PT_LOAD || address < p.p_vaddr)
            continue;
        const uint64_t into = address - p.p_vaddr;
        if (into <= p.p_filesz && size <= p.p_filesz - into) {
            offset = p.p_offset + into;
            return true;
        }
    }
    return false;
}

// Whether a needed library is a Qt Core: libQtCore.so.4, libQt5Core.so.5, libQt6Core.so.6, ...
bool IsQtCore(const std::string& name)
{
    const size_t digits = name.find_first_not_of("0123456789", 5);
    return name.compare(0, 5, "libQt") == 0 && digits != std::string::npos && name.compare(digits, 8, "Core.so.") == 0;
}

// The Qt Core among the needed libraries' names in the string table (the last one named, if
// several); null, or why the names cannot be read.
const char* ReadQtCore(const ElfFile& file, const std::vector<Phdr>& segments, const DynamicNames& names,
                       std::string& qtCore)
{
    uint64_t offset = 0;
    if (names.needed.empty())
        return nullptr;
    if (names.strsz == 0 || names.strsz > kMostStringTable || !FileOffset(segments, names.strtab, names.strsz, offset))
        return "its string table lies outside the file";
    std::string strings(static_cast<size_t>(names.strsz), '\0');
    if (!file.Read(offset, strings.size(), &strings[0]))
        return "its string table lies outside the file";
    for (const NeededName& name : names.needed) {
        const size_t end =
            name.at < strings.size() ? strings.find('\0', static_cast<size_t>(name.at)) : std::string::npos;
        if (end == std::string::npos)
            return "a needed library's name lies outside its string table";
        const std::string text = strings.substr(static_cast<size_t>(name.at), end - static_cast<size_t>(name.at));
        if (IsQtCore(text))
            qtCore = text;
    }
    return nullptr;
}

} // namespace

CPluginImage::CPluginImage(const std::string& path)
{
    const ElfFile file(path);
    unsigned char start[kMachineOffset + sizeof(uint16_t)];
    if (!file.Read(0, sizeof start, start) || std::memcmp(start, ELFMAG, SELFMAG) != 0)
        return;
    mIsElf = true;
    mClass = start[EI_CLASS];
    mData = start[EI_DATA];
    const unsigned char* m = start + kMachineOffset;
    mMachine = static_cast<uint16_t>(mData == ELFDATA2MSB ? m[0] << 8 | m[1] : m[1] << 8 | m[0]);
    if (!IsHostMachine())
        return;
    std::vector<Phdr> segments;
    DynamicNames names;
    const char* damage = ReadSegments(file, segments);
    damage = damage != nullptr ? damage : ReadDynamic(file, segments, names);
    damage = damage != nullptr ? damage : ReadQtCore(file, segments, names, mQtCore);
    if (damage != nullptr) {
        mDamage = damage;
        mQtCore.clear();
    }
}

bool CPluginImage::IsHostMachine() const
{
    return mIsElf && mClass == kHostClass && mData == ELFDATA2LSB && mMachine == kHostMachine;
}

std::string CPluginImage::Machine() const
{
    return Machine(mClass, mData, mMachine);
}

std::string CPluginImage::Machine(unsigned char elfClass, unsigned char data, uint16_t machine)
{
    const std::string bits = elfClass == ELFCLASS32 ? "32-bit" : elfClass == ELFCLASS64 ? "64-bit" : "unknown-class";
    const std::string order = data == ELFDATA2LSB   ? "little-endian"
                              : data == ELFDATA2MSB ? "big-endian"
                                                    : "unknown-order";
    char number[sizeof "machine 65535"];
    std::snprintf(number, sizeof number, "machine %u", static_cast<unsigned>(machine));
    const std::string name = machine == EM_386 ? "i386" : machine == EM_X86_64 ? "x86-64" : number;
    return bits + " " + order + " " + name;
}
