// The test-only preload of end-to-end runs: sleeps return at once and are
// recorded; opens of SCSI nodes the testbed lacks are refused before
// umockdev's preload can count them.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "EmulatedUsbDiskHost.h"
#include "IsolatedLauncher.h"
#include "TempDir.h"

TEST(SleepPreload, SleepsReturnAtOnceAndAreRecorded)
{
    TempDir dir(false);
    LaunchRequest request;
    request.executable = "/bin/sh";
    // The shell's own children are preloaded too (no scope given).
    request.args = {"-c", "/bin/sleep 30; /bin/sleep 1.5"};
    request.preload = sleepPreloadLibrary();
    request.environment = {"ZAGO_SLEEP_LOG=" + dir.file("sleeps")};
    const auto start = std::chrono::steady_clock::now();
    LaunchResult run = launchIsolated(request);
    const auto took = std::chrono::steady_clock::now() - start;

    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_LT(took, std::chrono::seconds(10));
    const std::string log = dir.read("sleeps");
    // coreutils' sleep asks through nanosleep or clock_nanosleep.
    EXPECT_NE(log.find("sleep 30\n"), std::string::npos) << log;
    EXPECT_NE(log.find("sleep 1.5\n"), std::string::npos) << log;
}

TEST(SleepPreload, ProcessScopeLeavesTheProgramsCommandsUnpreloaded)
{
    LaunchRequest request;
    request.executable = "/bin/sh";
    request.args = {"-c", "/bin/sh -c 'echo \"[$LD_PRELOAD]\"'"};
    request.preload = sleepPreloadLibrary();
    request.environment = {"ZAGO_PRELOAD_SCOPE=process"};
    LaunchResult run = launchIsolated(request);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "[]\n");
}

// umockdev's preload keeps a slot per failed open of a missing /dev node and
// aborts once its table is full; a disk search probes thousands of names.
TEST(SleepPreload, OpensOfMissingScsiNodesFailWithoutReachingUmockdev)
{
    TempDir testbed(false);
    testbed.write("dev/.keep", "");
    testbed.write("sys/.keep", "");
    LaunchRequest request;
    request.executable = "/bin/bash";
    request.args = {"-c",
                    "n=0; for i in $(seq 6000); do { : < /dev/sdq; } 2>/dev/null || n=$((n+1)); "
                    "{ : < /dev/sg7; } 2>/dev/null || n=$((n+1)); done; echo failed=$n; "
                    "{ : < /dev/sdq; } 2>&1 | head -1"};
    request.umockdevRoot = testbed.path();
    request.preload = sleepPreloadLibrary() + ":libumockdev-preload.so.0";
    LaunchResult run = launchIsolated(request);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find("failed=12000\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("No such file or directory"), std::string::npos) << run.out;
}
