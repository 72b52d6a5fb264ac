// The launcher of every end-to-end run: a program whose device preload did
// not load still finds none of the machine's devices, and what the tests
// rely on (streams, working directory, environment, status, time-out)
// reaches the program and comes back.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "IsolatedLauncher.h"
#include "TempDir.h"

namespace {

std::vector<std::string> section(const std::string& out, int index)
{
    std::istringstream in(out);
    std::vector<std::string> names;
    std::string line;
    int at = 0;
    while (std::getline(in, line)) {
        if (line == "--")
            ++at;
        else if (at == index)
            names.push_back(line);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool exists(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

struct PreloadFault {
    const char* name;
    bool missing;  // else a file that is no library
};

class WithoutPreload : public testing::TestWithParam<PreloadFault> {};

} // namespace

// The dynamic loader only warns about a preload it cannot load and starts
// the program anyway, as root.
TEST_P(WithoutPreload, TheProgramFindsNoDeviceOfTheMachine)
{
    TempDir testbed(false);
    testbed.write("dev/nvme0", "");
    testbed.write("sys/class/nvme/nvme0/address", "0000:3b:00.0\n");
    testbed.write("not-a-library.so", "plain text\n");
    ASSERT_FALSE(exists("/dev/zago-launcher-probe"));

    LaunchRequest request;
    request.executable = "/bin/sh";
    request.args = {"-c",
                    "ls -A /dev; echo --; ls -A /sys; echo --; ls -A /dev/pts >/dev/null && echo pts; "
                    "touch /dev/zago-launcher-probe 2>/dev/null && echo wrote; exit 0"};
    request.umockdevRoot = testbed.path();
    request.preload = GetParam().missing ? "libzago-no-such-preload.so.0" : testbed.file("not-a-library.so");
    LaunchResult run = launchIsolated(request);

    ASSERT_EQ(run.exitStatus, 0) << run.err;
    // The loader really went on without the preload.
    EXPECT_NE(run.err.find("cannot be preloaded"), std::string::npos) << run.err;
    EXPECT_EQ(section(run.out, 0), (std::vector<std::string>{"fd", "full", "null", "pts", "random", "shm", "stderr",
                                                             "stdin", "stdout", "urandom", "zero"}))
        << run.out;
    EXPECT_EQ(section(run.out, 1), std::vector<std::string>{}) << run.out;
    EXPECT_EQ(section(run.out, 2), std::vector<std::string>{"pts"}) << run.out;
    // Nothing is written into the private /dev, let alone the machine's.
    EXPECT_FALSE(exists("/dev/zago-launcher-probe"));
    // The caller's own view is untouched.
    EXPECT_TRUE(exists("/dev/null"));
    EXPECT_TRUE(exists("/sys/class"));
}

INSTANTIATE_TEST_SUITE_P(Faults, WithoutPreload,
                         testing::Values(PreloadFault{"Missing", true}, PreloadFault{"NotALibrary", false}),
                         [](const testing::TestParamInfo<PreloadFault>& info) { return info.param.name; });

TEST(IsolatedLauncher, StreamsDirectoryEnvironmentAndStatusReachTheProgram)
{
    TempDir work(false);
    LaunchRequest request;
    request.executable = "/bin/sh";
    request.args = {"-c", "pwd; cat; echo \"$ZAGO_PROBE|$UMOCKDEV_DIR|$LD_PRELOAD\" >&2; exit 7"};
    request.workDir = work.path();
    request.umockdevRoot = "/tmp/testbed-root";
    request.preload = "";
    request.environment = {"ZAGO_PROBE=given", "LD_PRELOAD="};
    request.input = "typed\n";
    LaunchResult run = launchIsolated(request);

    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, 7);
    EXPECT_EQ(run.out, work.path() + "\ntyped\n");
    EXPECT_EQ(run.err, "given|/tmp/testbed-root|\n");
}

TEST(IsolatedLauncher, ProgramThatOverrunsItsTimeIsKilled)
{
    LaunchRequest request;
    request.executable = "/bin/sleep";
    request.args = {"60"};
    request.preload = "";
    request.timeoutSeconds = 1;
    LaunchResult run = launchIsolated(request);

    EXPECT_TRUE(run.timedOut);
    EXPECT_EQ(run.exitStatus, 128 + 9);
}

TEST(IsolatedLauncher, ProgramThatCannotStartFailsTheTest)
{
    TempDir dir(false);
    for (const std::string& place : {std::string("missing-program"), dir.file("missing-program")}) {
        SCOPED_TRACE(place);
        LaunchRequest request;
        request.executable = place;
        request.preload = "";
        EXPECT_NONFATAL_FAILURE(EXPECT_THROW(launchIsolated(request), std::runtime_error),
                                place[0] == '/' ? "exec failed" : "absolute path");
    }

    LaunchRequest request;
    request.executable = "/bin/true";
    request.workDir = dir.file("no-such-folder");
    request.preload = "";
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(launchIsolated(request), std::runtime_error),
                            "changing to the working directory failed");
}

// What a run leaves in a private /tmp and a writable private /dev stays
// there; bound folders of the caller are seen (and written) at their paths.
TEST(IsolatedLauncher, PrivateTmpWritableDevAndBoundFoldersStayInsideTheRun)
{
    TempDir work(false);
    TempDir shared(false);
    TempDir listing(false);
    listing.write("sg0", "");
    const std::string leftover = "/tmp/zago-launcher-leftover";
    ASSERT_FALSE(exists(leftover));

    LaunchRequest request;
    request.executable = "/bin/sh";
    request.args = {"-c", "pwd; ls -A /sys/class/scsi_generic; ls -A /tmp | grep -c zago-launcher-leftover; "
                          "mkdir " + leftover + " && ln -s /dev/null /dev/zago-launcher-probe && "
                          "echo written > " + shared.file("note") + " && ls /dev/zago-launcher-probe"};
    request.workDir = work.path();
    request.preload = "";
    request.writableDev = true;
    request.privateTmp = true;
    request.binds = {{shared.path(), shared.path()}, {listing.path(), "/sys/class/scsi_generic"}};
    LaunchResult run = launchIsolated(request);

    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, work.path() + "\nsg0\n0\n/dev/zago-launcher-probe\n");
    EXPECT_EQ(shared.read("note"), "written\n");
    EXPECT_FALSE(exists(leftover));
    EXPECT_FALSE(exists("/dev/zago-launcher-probe"));
    EXPECT_FALSE(exists("/sys/class/scsi_generic/sg0"));
}

// A program that loads or unloads kernel modules through the search path
// (the IPMI library does, and the usb_storage gate) reaches tools that
// never touch the machine's kernel, with or without a private /tmp.
TEST(IsolatedLauncher, ModuleToolsOfTheSearchPathNeverChangeTheKernel)
{
    for (bool privateTmp : {false, true}) {
        TempDir work(false);
        LaunchRequest request;
        request.executable = "/bin/sh";
        request.args = {"-c", "for t in modprobe rmmod insmod; do $t ipmi_si; echo \"$t $?\"; done; "
                              "lsmod | grep -c '^ipmi_'"};
        request.workDir = work.path();
        request.preload = "";
        request.privateTmp = privateTmp;
        LaunchResult run = launchIsolated(request);

        EXPECT_EQ(run.out, "modprobe 1\nrmmod 1\ninsmod 1\n3\n") << "private /tmp " << privateTmp << run.err;
    }
}

// The scripts around the program see its private /tmp: what `before` puts
// there the program finds, what the program leaves `after` finds; neither
// gets the program's preload, and the program's status comes back whole.
TEST(IsolatedLauncher, ScriptsBeforeAndAfterShareTheRunsNamespace)
{
    LaunchRequest request;
    request.executable = "/bin/sh";
    request.args = {"-c", "cat /tmp/zago-before; echo program > /tmp/zago-program; exit 5"};
    request.preload = "libzago-no-such-preload.so.0";
    request.privateTmp = true;
    request.before = "echo \"before $LD_PRELOAD\" > /tmp/zago-before";
    request.after = "cat /tmp/zago-program; echo \"after $LD_PRELOAD\"";
    LaunchResult run = launchIsolated(request);

    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, 5);
    EXPECT_EQ(run.out, "before \n");
    EXPECT_EQ(run.afterOut, "program\nafter \n");
    EXPECT_FALSE(exists("/tmp/zago-before"));
    EXPECT_FALSE(exists("/tmp/zago-program"));

    // A program killed on its time-out leaves no process behind, and a
    // failing `before` stops the run before the program.
    request.executable = "/bin/sleep";
    request.args = {"59.125"};
    request.timeoutSeconds = 1;
    run = launchIsolated(request);
    EXPECT_TRUE(run.timedOut);
    EXPECT_EQ(run.exitStatus, 128 + 9);
    bool running = true;
    for (int wait = 0; wait < 200 && running; ++wait) {
        running = std::system("pgrep -f 'slee[p] 59[.]125' > /dev/null") == 0;
        if (running)
            usleep(10000);
    }
    EXPECT_FALSE(running);

    request.before = "echo refused >&2; exit 3";
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(launchIsolated(request), std::runtime_error), "refused");
}
