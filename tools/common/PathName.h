// PathName: the parts of a path as the host programs split it, by its last '/': the folder a name
// is in and the name in that folder, and a name without its extension. Only the text is read: no
// file is looked at, and no link followed. Static functions only.
#pragma once

#include <string>

class PathName {
public:
    // The folder `path` is in: "." for a bare name, "/" for a name in the root.
    static std::string Folder(const std::string& path);
    // The name within that folder (everything after the last '/').
    static std::string Base(const std::string& path);
    // `path` without the extension of its last component ("a/in.wav" -> "a/in"; "a.b/in" stays).
    static std::string Stem(const std::string& path);
};
