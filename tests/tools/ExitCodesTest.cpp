// What a run that stops on an exception prints and exits with: a Failure its own code, running
// out of memory or threads 8, and anything else 7, each as one line naming the program.
#include "../../tools/common/ExitCodes.h"
#include "../../tools/common/Failure.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <system_error>

namespace {

struct ReportCase {
    std::function<void()> thrower;
    int code;
    const char* line;
};

TEST(ExitCodes, ReportGivesEachExceptionItsCodeAndOneLine)
{
    const auto errc = [](std::errc e) { return std::make_error_code(e); };
    const ReportCase cases[] = {
        {[] { throw Failure(kExitInput, "in.wav: cut short"); }, 3, "prog: in.wav: cut short\n"},
        {[] { throw std::bad_alloc(); }, 8, "prog: out of memory\n"},
        {[&] { throw std::system_error(errc(std::errc::resource_unavailable_try_again), "thread"); }, 8,
         "prog: out of memory: thread: Resource temporarily unavailable\n"},
        {[&] { throw std::system_error(errc(std::errc::not_enough_memory), "thread"); }, 8,
         "prog: out of memory: thread: Cannot allocate memory\n"},
        {[&] { throw std::system_error(errc(std::errc::invalid_argument), "lock"); }, 7,
         "prog: lock: Invalid argument\n"},
        {[] { throw std::logic_error("broken"); }, 7, "prog: broken\n"},
    };
    for (const ReportCase& c : cases) {
        testing::internal::CaptureStderr();
        int code = -1;
        try {
            c.thrower();
        } catch (...) {
            code = ExitCodes::Report("prog");
        }
        EXPECT_EQ(code, c.code) << c.line;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
    }
}

} // namespace
