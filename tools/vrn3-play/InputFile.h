// InputFile: the stream a run reads, a named file or standard input (StandardStream's name).
//
// A regular file is seekable: it can be checked whole before playing and played in any
// order. Anything else (a pipe, a FIFO, a terminal, /dev/stdin on a pipe) is read once, in
// order. Opening a FIFO waits for its writer, as every reader of one does. The InputFile owns
// its stream and closes it when it goes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

class InputFile {
public:
    // Throws Failure(kExitInput) when the input cannot be opened or is a folder.
    explicit InputFile(const std::string& path);
    ~InputFile();

    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::FILE* Stream() const { return mFile; }
    bool Seekable() const { return mSeekable; }
    // The name messages use: the path, or "standard input".
    const std::string& Name() const { return mName; }

private:
    // Bytes read from the input at a time.
    static constexpr size_t kReadBuffer = 128 * 1024;

    std::FILE* mFile;
    std::vector<char> mBuffer; // the stream's buffer; outlives it (closed in the destructor's body)
    std::string mName;
    bool mSeekable = false;
};
