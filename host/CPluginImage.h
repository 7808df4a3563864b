// CPluginImage: what a plug-in file was built for, read from the file without loading it: its ELF
// class, byte order and machine, and the Qt Core among the libraries its dynamic section needs
// (DT_NEEDED).
//
// The loader runs a library's constructors, and maps every library it needs, as soon as it opens
// it; reading the file first is the only way to turn away a plug-in built for another machine or
// on another Qt before any of its code runs. The reader takes nothing in the file on trust: every
// offset, size and count is checked against the file's length (in 64-bit arithmetic) before it is
// used, so a truncated or hostile file gives a Damage() text, never a read beyond what was read.
// Only files of this host's own class and machine are read past their first header; the object
// holds copies of what it read and no open file. (It keeps no list of names: a container of
// strings made here would add the standard library's template code to the host's interface.)
#pragma once

#include <elf.h>

#include <cstdint>
#include <string>

class CPluginImage {
public:
    // The ELF class and machine this host was compiled for: a plug-in must have the same.
#if defined(__x86_64__)
    static constexpr unsigned char kHostClass = ELFCLASS64;
    static constexpr uint16_t kHostMachine = EM_X86_64;
#elif defined(__i386__)
    static constexpr unsigned char kHostClass = ELFCLASS32;
    static constexpr uint16_t kHostMachine = EM_386;
#else
#error "the plug-in loader knows the ELF class and machine of i386 and x86-64 only"
#endif

    // Reads the file at `path`. Never throws for what the file holds; std::bad_alloc passes on.
    explicit CPluginImage(const std::string& path);

    // False when the file cannot be opened or does not start as an ELF file: the loader's own
    // message says more then. The rest below is meaningful only for an ELF file.
    bool IsElf() const
    {
        return mIsElf;
    }
    // Of this host's class, byte order and machine (then Damage() and QtCore() are read).
    bool IsHostMachine() const;
    // The class, byte order and machine as words, e.g. "32-bit little-endian i386".
    std::string Machine() const;
    static std::string Machine(unsigned char elfClass, unsigned char data, uint16_t machine);
    // Why the dynamic section could not be read ("" when it could).
    const std::string& Damage() const
    {
        return mDamage;
    }
    // The Qt Core library it needs (libQtCore.so.4, libQt5Core.so.5, ...), or "" for none.
    const std::string& QtCore() const
    {
        return mQtCore;
    }

private:
    bool mIsElf = false;
    unsigned char mClass = ELFCLASSNONE;
    unsigned char mData = ELFDATANONE;
    uint16_t mMachine = EM_NONE;
    std::string mDamage;
    std::string mQtCore;
};
