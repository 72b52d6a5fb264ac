// What every test executable gets before each test: device seams that
// refuse until a test installs its fake, and the process-wide state a
// previous test changed put back.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LQRMIPMIProcessor.h"
#include "Logger.h"
#include "NVMEZAGOLinuxAdapter.h"
#include "PlatformLayer.h"
#include "QRMIPMIDeviceAccess.h"
#include "RefusingIPMIDevice.h"
#include "RefusingNVMeHost.h"
#include "ScopedSeam.h"
#include "SimIPMIDeviceAdapter.h"
#include "SimManagementController.h"
#include "SimPlatform.h"
#include "TempDir.h"

namespace {

// The failures `action` records, kept from the test's own result.
std::vector<std::string> failuresOf(const std::function<void()>& action)
{
    testing::TestPartResultArray results;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        action();
    }
    std::vector<std::string> messages;
    for (int i = 0; i < results.size(); ++i)
        messages.push_back(results.GetTestPartResult(i).message());
    return messages;
}

struct SeamCall {
    const char* name;
    std::function<int()> call;  // -1 when refused
    const char* shown;          // what the failure names
};

std::string currentDirectory()
{
    char buffer[4096];
    return getcwd(buffer, sizeof(buffer)) != nullptr ? buffer : "";
}

// Left behind on purpose by the first test of a pair below.
std::string gDirectoryAtStart;
std::unique_ptr<TempDir> gAbandonedDirectory;
SimPlatform gForgottenPlatform;
SimIPMISleepRecorder gForgottenSleeper;

} // namespace

TEST(SeamRefusal, EveryNVMeHostCallFailsTheTestAndIsRefused)
{
    struct stat info;
    nvme_passthru_cmd command = {};
    command.opcode = 0x06;
    INVMeHostAccess* host = CNVMeHostAccess::Get();
    const std::vector<SeamCall> calls = {
        {"open", [&] { return host->openDevice("/dev/nvme0", O_RDWR); }, "open /dev/nvme0"},
        {"close", [&] { return host->closeDevice(3); }, "close 3"},
        {"admin", [&] { return host->adminCommand(3, &command); }, "admin command 6 on 3"},
        {"listing", [&] { return host->openListing("ls /dev") == nullptr ? -1 : 0; }, "listing ls /dev"},
        {"attribute",
         [&] { return host->openAttribute("/sys/class/nvme/nvme0/address") == nullptr ? -1 : 0; },
         "attribute /sys/class/nvme/nvme0/address"},
        {"stat", [&] { return host->statAttribute("/sys/class/nvme/nvme0", &info); }, "stat /sys/class/nvme/nvme0"},
    };
    for (const SeamCall& c : calls) {
        SCOPED_TRACE(c.name);
        int result = 0;
        errno = 0;
        int error = 0;
        std::vector<std::string> failures = failuresOf([&] {
            result = c.call();
            error = errno;
        });
        EXPECT_EQ(result, -1);
        EXPECT_EQ(error, EPERM);
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_NE(failures[0].find(std::string("NVMe host seam was reached without a fake installed (") + c.shown + ")"),
                  std::string::npos)
            << failures[0];
    }
}

TEST(SeamRefusal, EveryIPMIDeviceCallFailsTheTestAndIsRefused)
{
    IQRMIPMIDevice& device = *QRMIPMIDeviceAccess::Get();
    struct ipmi_req request = {};
    struct ipmi_recv answer = {};
    bool readable = true;
    const struct timespec wait = {0, 0};
    const std::vector<SeamCall> calls = {
        {"open", [&] { return device.Open("/dev/ipmi0"); }, "open /dev/ipmi0"},
        {"send", [&] { return device.SendCommand(3, &request); }, "send on 3"},
        {"wait", [&] { return device.WaitReadable(3, wait, readable); }, "wait on 3"},
        {"receive", [&] { return device.ReceiveMessage(3, &answer); }, "receive on 3"},
        {"close", [&] { return device.Close(3); }, "close 3"},
    };
    for (const SeamCall& c : calls) {
        SCOPED_TRACE(c.name);
        int result = 0;
        errno = 0;
        int error = 0;
        std::vector<std::string> failures = failuresOf([&] {
            result = c.call();
            error = errno;
        });
        EXPECT_EQ(result, -1);
        EXPECT_EQ(error, EPERM);
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_NE(failures[0].find(std::string("IPMI device seam was reached without a simulated device installed (") +
                                   c.shown + ")"),
                  std::string::npos)
            << failures[0];
    }
    EXPECT_FALSE(readable);
}

// The production code as a fixture that forgot its fake would run it.
TEST(SeamRefusal, AdapterWithoutFakeFailsTheTestInsteadOfOpeningTheController)
{
    NVMEZAGOLinuxAdapter adapter;
    nvme_passthru_cmd command = {};
    int status = -7;
    bool issued = true;
    std::vector<std::string> failures =
        failuresOf([&] { issued = adapter.executeIOCTL("/dev/nvme0", command, status); });
    EXPECT_FALSE(issued);
    EXPECT_EQ(status, -7);
    ASSERT_FALSE(failures.empty());
    for (const std::string& failure : failures)
        EXPECT_NE(failure.find("refused so that no real controller is touched"), std::string::npos) << failure;
}

TEST(SeamRefusal, IPMIProcessorWithoutDeviceFailsTheTestInsteadOfOpeningTheController)
{
    SimIPMISleepRecorder sleeps;
    QRMIPMIResult result = QRMIPMI_RESULT_SUCCESS;
    std::vector<std::string> failures;
    {
        ScopedSeam<QRMIPMISleeperAccess> installed(&sleeps);
        IPMIProcessor processor;
        failures = failuresOf([&] { result = processor.Initialize(); });
    }
    EXPECT_NE(result, QRMIPMI_RESULT_SUCCESS);
    ASSERT_FALSE(failures.empty());
    for (const std::string& failure : failures)
        EXPECT_NE(failure.find("refused so that no real management controller is touched"), std::string::npos)
            << failure;
}

// Pairs: the first test leaves state behind; the second, run after it in the
// same process (the executable run whole), finds it put back. Run alone, the
// second finds the state as a fresh process has it, which is the same.
TEST(StateReset, A_TestLeavesItsStateBehind)
{
    gDirectoryAtStart = currentDirectory();
    gAbandonedDirectory.reset(new TempDir(true));  // entered and never left
    ASSERT_TRUE(CLogger::GetInstance()->Initialize(gAbandonedDirectory->file("first.log")));
    CPlatformLayer::SetForTesting(&gForgottenPlatform);
    static UseLinuxNVMeHostAccess* const forgottenHost = new UseLinuxNVMeHostAccess;
    (void)forgottenHost;
    static SimManagementController controller;
    static SimIPMIDevice forgottenDevice(controller);
    QRMIPMIDeviceAccess::SetForTesting(&forgottenDevice);
    QRMIPMISleeperAccess::SetForTesting(&gForgottenSleeper);
}

TEST(StateReset, B_NextTestFindsItPutBack)
{
    if (!gDirectoryAtStart.empty()) {
        EXPECT_EQ(currentDirectory(), gDirectoryAtStart);
    }
    EXPECT_NE(CPlatformLayer::GetPlatform(), &gForgottenPlatform);
    EXPECT_EQ(QRMIPMIDeviceAccess::Get(), &RefusingIPMIDevice::instance());
    EXPECT_NE(QRMIPMISleeperAccess::Get(), &gForgottenSleeper);
    EXPECT_EQ(CNVMeHostAccess::Get(), &RefusingNVMeHost::instance());

    // The debug log of the earlier test is closed: this test's log opens.
    TempDir dir;
    ASSERT_TRUE(CLogger::GetInstance()->Initialize(dir.file("second.log")));
    CLogger::GetInstance()->log("u/Unit", 1, std::string("second"));
    EXPECT_NE(dir.read("second.log").find("second"), std::string::npos);
    if (gAbandonedDirectory != nullptr) {
        EXPECT_EQ(gAbandonedDirectory->read("first.log"), "");
    }
    gAbandonedDirectory.reset();
}
