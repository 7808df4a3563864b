// FileIdentity: what a file is, whatever names it: the device and inode of the file, or, for a
// target not made yet, the device and inode of the folder it will be made in and its name there.
//
// Two names are one file when their identities are equal; symbolic and hard links, bind mounts,
// /proc/self/fd/N and a folder reached two ways all come to one identity. An identity is a plain
// value, taken from an open descriptor or a stat of one (never from a name alone), and copied
// freely.
#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>

struct FileIdentity {
    bool known = false; // false: the descriptor was closed; equal to nothing
    bool regular = false;
    bool null = false; // the null device, which any number of outputs may share
    dev_t device = 0;
    ino_t inode = 0;
    std::string name; // empty for a file that exists; else the name in the folder device/inode

    static FileIdentity Of(const struct stat& info);
    // The file open on `fd`; unknown when it is closed.
    static FileIdentity OfDescriptor(int fd);
    // The target `name` not made yet in the folder described by `folder`.
    static FileIdentity Unmade(const struct stat& folder, const std::string& name);

    bool operator==(const FileIdentity& other) const
    {
        return known && other.known && device == other.device && inode == other.inode && name == other.name;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};
