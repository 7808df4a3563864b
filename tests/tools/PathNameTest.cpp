// Splitting paths: the folder a name is in (the folder a new file is made in and the program's own
// folder) and the name without its extension (the default output beside the input).
#include "../../tools/common/PathName.h"

#include <gtest/gtest.h>

namespace {

struct PathCase {
    const char* path;
    const char* folder;
    const char* base;
    const char* stem;
};

TEST(PathName, SplitsByTheLastSlashAndDot)
{
    const PathCase cases[] = {
        {"in.wav", ".", "in.wav", "in"},
        {"/in.wav", "/", "in.wav", "/in"},
        {"a/b/in.x.wav", "a/b", "in.x.wav", "a/b/in.x"},
        {"a.d/in", "a.d", "in", "a.d/in"},
        {"a/.wav", "a", ".wav", "a/"},
        {"a/", "a", "", "a/"},
    };
    for (const PathCase& c : cases) {
        EXPECT_EQ(PathName::Folder(c.path), c.folder) << c.path;
        EXPECT_EQ(PathName::Base(c.path), c.base) << c.path;
        EXPECT_EQ(PathName::Stem(c.path), c.stem) << c.path;
    }
}

} // namespace
