// The names messages give the files a run reads and writes.
#include "StandardStream.h"

std::string StandardStream::InputName(const std::string& path)
{
    return Named(path) ? "standard input" : path;
}

std::string StandardStream::OutputName(const std::string& path)
{
    return Named(path) ? kOutputWords : path;
}
