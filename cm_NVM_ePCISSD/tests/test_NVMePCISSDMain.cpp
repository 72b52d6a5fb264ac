// The run sequence driven in this process, with the host's NVMe access
// replaced: what main does when a front end fails in a way nobody planned
// for.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakeNVMeHost.h"
#include "NVMePCISSDMain.h"
#include "TempDir.h"

namespace {

// A host whose node listing fails with whatever the test throws.
class ThrowingListingHost : public FakeNVMeHost {
public:
    FILE* openListing(const char*) override
    {
        thrower();
        return nullptr;
    }
    std::function<void()> thrower;
};

int run(std::vector<std::string> words)
{
    words.insert(words.begin(), "nvmepcissd");
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    return RunNVMePCISSD(static_cast<int>(words.size()), argv.data());
}

size_t count(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

} // namespace

// The run stops at the failing front end (the update run after a failed
// inventory run never starts), no document is written, the exit status is
// the one of a finished run, and the log says why it stopped.
TEST(MainCatchAll, UnexpectedExceptionOfAFrontEndEndsTheRunWithALogLine)
{
    struct Case {
        const char* name;
        std::function<void()> thrower;
        const char* logLine;
    } cases[] = {
        {"StandardException", [] { throw std::runtime_error("listing exploded"); },
         "ERROR: main() caught an exception, the run stops here: listing exploded\n"},
        {"OtherException", [] { throw 42; }, "ERROR: main() caught an unknown exception, the run stops here\n"},
    };
    TempDir dir;
    ThrowingListingHost host;
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.thrower = c.thrower;
        testing::internal::CaptureStdout();
        EXPECT_EQ(run({"-i", "-u", "-o", "out.xml", "-d", "run.log"}), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

        std::string log = dir.read("run.log");
        EXPECT_EQ(count(log, c.logLine), 1u) << log;
        EXPECT_EQ(count(log, "Before CNVMePCISSDInventory.Inventory "), count(log, "Logger initialized"));
        EXPECT_EQ(log.find("After CNVMePCISSDInventory.Inventory "), std::string::npos);
        EXPECT_EQ(log.find("CNVMePCISSDUpdate"), std::string::npos);
        EXPECT_FALSE(dir.exists("out.xml"));
    }
}
