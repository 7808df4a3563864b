// UnnamedFile: a temporary file made without a name in a folder (O_TMPFILE), which no death of the
// process can leave behind, and the one rule of when a caller must make a named one instead: the
// folder's file system has no unnamed files (EOPNOTSUPP, or EISDIR and EINVAL from kernels and
// file systems that do not know the flag). The descriptor returned is the caller's to close.
// Static functions only.
#pragma once

class UnnamedFile {
public:
    // An unnamed file of mode 0600, opened with `access` (O_WRONLY or O_RDWR) and close-on-exec,
    // in the folder `path` names relative to `folder` (AT_FDCWD, or an open folder with "."). Returns
    // its descriptor, or -1 with errno set; `unsupported` is then true when the only reason is
    // that the file system has no unnamed files, and the caller may make a named file instead.
    static int Open(int folder, const char* path, int access, bool& unsupported);
};
