// The Linux platform's captured shell command: bounded standard output and
// the exit status, on harmless commands only.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <string>
#include <vector>

#include "LinuxImpl.h"
#include "PlatformLayer.h"
#include "TempDir.h"

namespace {

struct Capture {
    int status;
    std::string output;
};

Capture capture(const std::string& command, size_t bound)
{
    CLinuxImpl linuxPlatform;
    Capture result;
    result.output = "left over";
    result.status = linuxPlatform.ExecuteCmdCapture(command, bound, result.output);
    return result;
}

} // namespace

TEST(CommandCapture, OutputUpToTheBoundAndTheExitStatus)
{
    struct Case {
        const char* command;
        size_t bound;
        int status;
        std::string output;
    };
    const std::vector<Case> cases = {
        {"printf 'one\\ntwo'", 512, 0, "one\ntwo"},
        {"printf 'abcdef'", 3, 0, "abc"},
        {"printf 'abcdef'", 6, 0, "abcdef"},
        {"printf 'a\\000b'", 512, 0, std::string("a\0b", 3)},  // bytes as written
        {"false", 512, 1 << 8, ""},
        {"printf x; exit 3", 512, 3 << 8, "x"},
        {"printf out; printf err >&2", 512, 0, "out"},  // standard error is not captured
        {"", 512, 0, ""},
    };
    for (const Case& c : cases) {
        const Capture got = capture(c.command, c.bound);
        EXPECT_EQ(got.status, c.status) << c.command;
        EXPECT_EQ(got.output, c.output) << c.command;
    }
}

TEST(CommandCapture, OutputLongerThanAPipeAndTheBlockIsReadWhole)
{
    const Capture got = capture("head -c 200000 /dev/zero | tr '\\0' z", 200000);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.output, std::string(200000, 'z'));
}

// A command with far more to say than the bound neither blocks the reader
// nor is waited for forever.
TEST(CommandCapture, ChattyCommandsCannotHoldTheCallerUp)
{
    const auto start = std::chrono::steady_clock::now();

    // More than a pipe holds, then an exit status of its own.
    Capture got = capture("head -c 1000000 /dev/zero; exit 4", 16);
    EXPECT_EQ(got.output, std::string(16, '\0'));
    EXPECT_EQ(got.status, 4 << 8);

    // Nothing wanted: the pipe may close before the command writes at all,
    // so its status may be a broken pipe's.
    got = capture("printf 'abcdef'", 0);
    EXPECT_EQ(got.output, "");

    // Never stops by itself: it ends on the closed pipe.
    got = capture("yes", 10);
    EXPECT_EQ(got.output, "y\ny\ny\ny\ny\n");
    EXPECT_NE(got.status, 0);

    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(CommandCapture, RunsInTheWorkingDirectoryThroughTheFacade)
{
    TempDir dir;
    dir.write("name.txt", "content\n");
    std::string output;
    EXPECT_EQ(CPlatformLayer::ExecuteCmdCapture("cat name.txt", 512, output), 0);
    EXPECT_EQ(output, "content\n");
}
