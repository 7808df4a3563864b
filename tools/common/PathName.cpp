// Splitting a path by its last '/', and its last component by its last '.'.
#include "PathName.h"

std::string PathName::Folder(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string PathName::Base(const std::string& path)
{
    return path.substr(path.find_last_of('/') + 1);
}

std::string PathName::Stem(const std::string& path)
{
    const size_t dot = Base(path).find_last_of('.');
    return dot == std::string::npos ? path : path.substr(0, path.size() - Base(path).size() + dot);
}
