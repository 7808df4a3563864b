// Opening the input and telling a file from a stream.
#include "InputFile.h"

#include "../common/Failure.h"
#include "../common/StandardStream.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

InputFile::InputFile(const std::string& path)
    : mFile(StandardStream::Named(path) ? stdin : std::fopen(path.c_str(), "rb")),
      mName(StandardStream::InputName(path))
{
    struct stat info;
    int error = mFile == nullptr ? errno : fstat(fileno(mFile), &info) != 0 ? errno : 0;
    if (error == 0 && S_ISDIR(info.st_mode))
        error = EISDIR;
    if (error != 0) {
        if (mFile != nullptr)
            std::fclose(mFile);
        throw Failure(kExitInput, mName + ": cannot read: " + std::strerror(error));
    }
    // Large reads: one system call fetches many blocks, forward and, a chunk at a time, backward.
    mBuffer.resize(kReadBuffer);
    std::setvbuf(mFile, mBuffer.data(), _IOFBF, mBuffer.size());
    mSeekable = S_ISREG(info.st_mode) && fseeko(mFile, 0, SEEK_SET) == 0;
}

InputFile::~InputFile()
{
    std::fclose(mFile);
}
