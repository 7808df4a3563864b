// The command line's answers: each wrong command line is one line on stderr in our words with exit
// 2, --help and --version print and stop even with the input missing, and a good one goes on.
#include "../../tools/common/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct LineCase {
    std::vector<std::string> args;
    int code;
    const char* out;
    const char* err;
};

TEST(CommandLine, AnswersEachCommandLineInItsOwnWords)
{
    const LineCase cases[] = {
        {{"in"}, -1, "", ""},
        {{}, 2, "", "prog: usage: prog IN\n"},
        {{"--help"}, 0, "the help\n", ""},
        {{"--version"}, 0, "prog 1.0\n", ""},
        {{"in", "x", "--", "y"}, 2, "", "prog: unexpected argument: x y (see --help)\n"},
        {{"in", "--bogus"}, 2, "", "prog: unexpected argument: --bogus (see --help)\n"},
        {{"in", "--level"}, 2, "", "prog: --level needs a value (see --help)\n"},
        {{"in", "--level", "1", "--level", "2"}, 2, "", "prog: --level given more than once (see --help)\n"},
        {{"in", "--level", "10"}, 2, "", "prog: --level: '10' is not a whole number from 0 to 9 (see --help)\n"},
        {{"in", "--level", "-1"}, 2, "", "prog: --level: '-1' is not a whole number from 0 to 9 (see --help)\n"},
        {{"in", "--level", "+1"}, 2, "", "prog: --level: '+1' is not a whole number from 0 to 9 (see --help)\n"},
        {{"in", "--level", "1x"}, 2, "", "prog: --level: '1x' is not a whole number from 0 to 9 (see --help)\n"},
        {{"in", "--level", "99999999999999999999"},
         2,
         "",
         "prog: --level: '99999999999999999999' is not a whole number from 0 to 9 (see --help)\n"},
        {{"in", "--name", ""}, 2, "", "prog: --name: an empty name; give a file (see --help)\n"},
        {{"in", "--name="}, 2, "", "prog: --name needs a value (see --help)\n"},
        {{""}, 2, "", "prog: input: an empty name; give a file (see --help)\n"},
        {{"in", "--level", "9", "--name", "n"}, -1, "", ""},
    };
    for (const LineCase& c : cases) {
        CommandLine line("prog", "1.0", "the help\n", "usage: prog IN");
        std::string input, name;
        int level = 0;
        line.App().add_option("input", input)->required()->check(CommandLine::NonEmpty());
        line.App().add_option("--level", level)->check(CommandLine::WholeNumber(0, 9));
        line.App().add_option("--name", name)->check(CommandLine::NonEmpty());
        std::vector<std::string> words{"prog"};
        words.insert(words.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(&word[0]);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int code = line.Parse(static_cast<int>(argv.size()), argv.data());
        const std::string out = testing::internal::GetCapturedStdout(), err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(code, c.code) << words.back();
        EXPECT_EQ(out, c.out) << words.back();
        EXPECT_EQ(err, c.err) << words.back();
    }
}

} // namespace
