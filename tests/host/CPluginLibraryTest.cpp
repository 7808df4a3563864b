// The plug-in loader's refusals, on small hand-made ELF files: another class, byte order or
// machine, another Qt Core among the needed libraries, and damaged headers and tables. Each is
// refused with a message naming the plug-in's side and the host's, before the loader sees the file.
// Then the plug-ins that pass that check and still do not resolve.
// (The real cross-flavour loads are scripts/flavour-check.sh's, with both builds.)
#include "../../host/CPluginImage.h"
#include "../../host/CPluginLibrary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <link.h>
#include <unistd.h>

namespace {

const std::string kHostQt = VRN3_HOST_QT_SONAME;
const std::string kOtherQt = kHostQt == "libQtCore.so.4" ? "libQt5Core.so.5" : "libQtCore.so.4";
constexpr unsigned char kOtherClass = CPluginImage::kHostClass == ELFCLASS32 ? ELFCLASS64 : ELFCLASS32;

// A shared object of the host's class: one loadable segment over the whole file, a dynamic
// section naming `needed`, its string table. The fields may be spoilt before Bytes() lays it out.
struct HandMadeElf {
    explicit HandMadeElf(const std::vector<std::string>& needed)
    {
        std::memcpy(header.e_ident, ELFMAG, SELFMAG);
        header.e_ident[EI_CLASS] = CPluginImage::kHostClass;
        header.e_ident[EI_DATA] = ELFDATA2LSB;
        header.e_ident[EI_VERSION] = EV_CURRENT;
        header.e_type = ET_DYN;
        header.e_machine = CPluginImage::kHostMachine;
        header.e_version = EV_CURRENT;
        header.e_ehsize = sizeof header;
        header.e_phoff = sizeof header;
        header.e_phentsize = sizeof(ElfW(Phdr));
        header.e_phnum = 2;
        strings.push_back('\0');
        for (const std::string& name : needed) {
            dynamic.push_back(Entry(DT_NEEDED, strings.size()));
            strings.insert(strings.end(), name.c_str(), name.c_str() + name.size() + 1);
        }
        const size_t dynamicAt = sizeof header + 2 * sizeof(ElfW(Phdr));
        const size_t stringsAt = dynamicAt + (dynamic.size() + 3) * sizeof(ElfW(Dyn));
        dynamic.push_back(Entry(DT_STRTAB, stringsAt));
        dynamic.push_back(Entry(DT_STRSZ, strings.size()));
        dynamic.push_back(Entry(DT_NULL, 0));
        load = Segment(PT_LOAD, 0, stringsAt + strings.size());
        dyn = Segment(PT_DYNAMIC, dynamicAt, dynamic.size() * sizeof(ElfW(Dyn)));
    }

    static ElfW(Dyn) Entry(decltype(ElfW(Dyn)::d_tag) tag, size_t value)
    {
        ElfW(Dyn) d{};
        d.d_tag = tag;
        d.d_un.d_val = value;
        return d;
    }
    static ElfW(Phdr) Segment(uint32_t type, size_t at, size_t size)
    {
        ElfW(Phdr) p{};
        p.p_type = type;
        p.p_flags = PF_R;
        p.p_offset = p.p_vaddr = p.p_paddr = at;
        p.p_filesz = p.p_memsz = size;
        p.p_align = type == PT_LOAD ? 0x1000 : sizeof(void*);
        return p;
    }

    std::string Bytes() const
    {
        std::string out(reinterpret_cast<const char*>(&header), sizeof header);
        out.append(reinterpret_cast<const char*>(&load), sizeof load);
        out.append(reinterpret_cast<const char*>(&dyn), sizeof dyn);
        out.append(reinterpret_cast<const char*>(dynamic.data()), dynamic.size() * sizeof(ElfW(Dyn)));
        return out.append(strings.data(), strings.size());
    }

    ElfW(Ehdr) header{};
    ElfW(Phdr) load{}, dyn{};
    std::vector<ElfW(Dyn)> dynamic;
    std::vector<char> strings;
};

struct Case {
    const char* name;
    std::vector<std::string> needed;
    std::function<void(HandMadeElf&)> spoil;
    size_t cutTo; // the file's length, if shorter than the whole
    std::vector<std::string> said;
};

std::string Written(const std::string& bytes)
{
    static int made = 0;
    const std::string path =
        ::testing::TempDir() + "vrn3-handmade-" + std::to_string(getpid()) + "-" + std::to_string(++made) + ".so";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

TEST(CPluginLibrary, RefusesAnotherMachineAnotherQtOrADamagedFileNamingBothSides)
{
    const std::string host = CPluginImage::Machine(CPluginImage::kHostClass, ELFDATA2LSB, CPluginImage::kHostMachine);
    const std::vector<std::string> qt = {"libc.so.6", kOtherQt};
    const auto damaged = std::vector<std::string>{"not loaded: damaged ELF file"};
    const Case cases[] = {
        {"another class",
         {},
         [](HandMadeElf& e) { e.header.e_ident[EI_CLASS] = kOtherClass; },
         SIZE_MAX,
         {"not loaded: the plug-in is built for " +
              CPluginImage::Machine(kOtherClass, ELFDATA2LSB, CPluginImage::kHostMachine),
          "this host for " + host}},
        // the likeliest mistake: a plug-in built for the other x86
        {"the other x86",
         {},
         [](HandMadeElf& e) {
             e.header.e_ident[EI_CLASS] = kOtherClass;
             e.header.e_machine = CPluginImage::kHostMachine == EM_386 ? EM_X86_64 : EM_386;
         },
         SIZE_MAX,
         {CPluginImage::kHostMachine == EM_386 ? "built for 64-bit little-endian x86-64"
                                               : "built for 32-bit little-endian i386"}},
        {"another machine",
         {},
         [](HandMadeElf& e) { e.header.e_machine = EM_AARCH64; },
         SIZE_MAX,
         {"built for " + CPluginImage::Machine(CPluginImage::kHostClass, ELFDATA2LSB, EM_AARCH64),
          "this host for " + host}},
        // the host's machine number as a big-endian file stores it
        {"big-endian",
         {},
         [](HandMadeElf& e) {
             e.header.e_ident[EI_DATA] = ELFDATA2MSB, e.header.e_machine = CPluginImage::kHostMachine << 8;
         },
         SIZE_MAX,
         {"built for " + CPluginImage::Machine(CPluginImage::kHostClass, ELFDATA2MSB, CPluginImage::kHostMachine),
          host}},
        {"the other Qt", qt, nullptr, SIZE_MAX, {"built on " + kOtherQt + ", this host on " + kHostQt}},
        {"header cut short", qt, nullptr, 24, damaged},
        {"program headers past the end", qt, [](HandMadeElf& e) { e.header.e_phoff = 0x7FFFFFF0; }, SIZE_MAX, damaged},
        {"65534 program headers", qt, [](HandMadeElf& e) { e.header.e_phnum = 0xFFFE; }, SIZE_MAX, damaged},
        {"no dynamic section", qt, [](HandMadeElf& e) { e.dyn.p_type = PT_NOTE; }, SIZE_MAX, damaged},
        {"dynamic section past the end", qt, [](HandMadeElf& e) { e.dyn.p_offset = ~0u - 8; }, SIZE_MAX, damaged},
        {"string table in no segment", qt, [](HandMadeElf& e) { e.dynamic[2].d_un.d_ptr += 0x100000; }, SIZE_MAX,
         damaged},
        {"string table past the end", qt, nullptr, 0, damaged},
        {"name past its table", qt, [](HandMadeElf& e) { e.dynamic[1].d_un.d_val = 0x4000; }, SIZE_MAX, damaged},
        {"name without its end", qt, [](HandMadeElf& e) { e.dynamic[3].d_un.d_val -= 1; }, SIZE_MAX, damaged},
        {"program header entries of another size", qt, [](HandMadeElf& e) { e.header.e_phentsize = 1; }, SIZE_MAX,
         damaged},
        {"program header count kept elsewhere", qt, [](HandMadeElf& e) { e.header.e_phnum = PN_XNUM; }, SIZE_MAX,
         damaged},
        {"5000 dynamic entries", qt, [](HandMadeElf& e) { e.dyn.p_filesz = 5000 * sizeof(ElfW(Dyn)); }, SIZE_MAX,
         damaged},
        {"empty string table", qt, [](HandMadeElf& e) { e.dynamic[3].d_un.d_val = 0; }, SIZE_MAX, damaged},
        {"string table of 1 GiB", qt, [](HandMadeElf& e) { e.dynamic[3].d_un.d_val = 1u << 30; }, SIZE_MAX, damaged},
        {"string table longer than its segment", qt, [](HandMadeElf& e) { e.dynamic[3].d_un.d_val += 64; }, SIZE_MAX,
         damaged},
        {"string table below its segment", qt, [](HandMadeElf& e) { e.load.p_vaddr += 0x10000; }, SIZE_MAX, damaged},
        // read to the end of the section, or past entries it does not know: the other Qt is still found
        {"dynamic section without its end",
         qt,
         [](HandMadeElf& e) { e.dyn.p_filesz -= sizeof(ElfW(Dyn)); },
         SIZE_MAX,
         {"built on " + kOtherQt}},
        {"other entries and near-Qt names",
         {"libc.so.6", "libQt", "libQt5Gui.so.5", kOtherQt},
         [](HandMadeElf& e) { e.dynamic[0].d_tag = DT_SONAME; },
         SIZE_MAX,
         {"built on " + kOtherQt + ", this host"}},
        {"unknown class and byte order",
         {},
         [](HandMadeElf& e) { e.header.e_ident[EI_CLASS] = e.header.e_ident[EI_DATA] = 0; },
         SIZE_MAX,
         {"built for unknown-class unknown-order "}},
        // files the host's checks pass on to the loader, which refuses them
        {"no needed library, an executable",
         {},
         [](HandMadeElf& e) { e.header.e_type = ET_EXEC; },
         SIZE_MAX,
         {"cannot dynamically load executable"}},
        {"shorter than an ELF header's start", {}, nullptr, 10, {"file too short"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HandMadeElf elf(c.needed);
        if (c.spoil)
            c.spoil(elf);
        std::string bytes = elf.Bytes();
        bytes.resize(c.cutTo == 0 ? bytes.size() - 3 : std::min(c.cutTo, bytes.size()));
        const std::string path = Written(bytes);
        try {
            CPluginLibrary plugin(path);
            ADD_FAILURE() << "loaded";
        } catch (const CPluginLibrary::Error& e) {
            EXPECT_EQ(CPluginLibrary::Error::kOpen, e.step);
            for (const std::string& said : c.said)
                EXPECT_NE(std::string::npos, std::string(e.what()).find(said)) << e.what() << "\n lacks: " << said;
        }
        std::remove(path.c_str());
    }
}

// A plug-in that does not resolve fails at its step with the loader's own words: a missing file,
// a file that is no ELF file, a bare name (a file in the working folder, never one the loader
// searches its path for: there is no libc.so.6 here), a library with a symbol nothing defines
// (refused as it is opened, every symbol bound then), a library without the factory. One with the
// factory loads, and its factory is the one called.
TEST(CPluginLibrary, APluginThatDoesNotResolveFailsAtItsStepWithTheLoadersWords)
{
    using Step = CPluginLibrary::Error::EStep;
    const std::string missing = ::testing::TempDir() + "vrn3-no-such-plugin.so";
    const std::string text = Written(std::string(4096, 't'));
    const struct {
        std::string path;
        Step step;
        std::string said;
    } cases[] = {
        {missing, CPluginLibrary::Error::kOpen,
         missing + ": cannot open shared object file: No such file or directory"},
        {text, CPluginLibrary::Error::kOpen, text + ": invalid ELF header"},
        {::testing::TempDir(), CPluginLibrary::Error::kOpen, "Is a directory"},
        {"libc.so.6", CPluginLibrary::Error::kOpen, "./libc.so.6: cannot open shared object file"},
        {VRN3_TEST_UNRESOLVED_PLUGIN, CPluginLibrary::Error::kOpen, "undefined symbol: vrn3_test_defined_nowhere"},
        {VRN3_TEST_NOFACTORY_PLUGIN, CPluginLibrary::Error::kFactory, "undefined symbol: CreateBrick"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        try {
            CPluginLibrary plugin(c.path);
            ADD_FAILURE() << "loaded";
        } catch (const CPluginLibrary::Error& e) {
            EXPECT_EQ(c.step, e.step);
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.said)) << e.what() << "\n lacks: " << c.said;
        }
    }
    std::remove(text.c_str());
    CPluginLibrary refusing(VRN3_TEST_REFUSING_PLUGIN);
    EXPECT_EQ(nullptr, refusing.CreateBrick(TBrickConfig{}));
    EXPECT_EQ(0, refusing.Close());
    EXPECT_EQ(nullptr, refusing.Factory());
}

} // namespace
