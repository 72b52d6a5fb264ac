#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "QRMIPMIDeviceAccess.h"
#include "RefusingIPMIDevice.h"
#include "SimIPMIDeviceAdapter.h"
#include "SimManagementController.h"
#include "TempDir.h"

namespace {

// A pipe whose read end sits at a descriptor number of 1024 or above, where
// select's fd_set would no longer reach.
class HighPipe {
public:
    HighPipe()
    {
        struct rlimit limit;
        getrlimit(RLIMIT_NOFILE, &limit);
        if (limit.rlim_cur < 2048 && limit.rlim_max >= 2048) {
            limit.rlim_cur = 2048;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        int fds[2];
        if (pipe(fds) != 0)
            return;
        readFd = dup2(fds[0], 1500);
        close(fds[0]);
        writeFd = fds[1];
    }
    ~HighPipe()
    {
        if (readFd >= 0)
            close(readFd);
        if (writeFd >= 0)
            close(writeFd);
    }
    int readFd = -1;
    int writeFd = -1;
};

} // namespace

TEST(QRMIPMIDeviceAccess, RealWaitHandlesDescriptorsBeyondSelectsReach)
{
    UseLinuxIPMIDevice realDevice;
    HighPipe p;
    if (p.readFd < 0)
        GTEST_SKIP() << "cannot raise the descriptor limit to 1500";
    ASSERT_EQ(p.readFd, 1500);

    IQRMIPMIDevice& device = *QRMIPMIDeviceAccess::Get();
    struct timespec shortWait = {0, 20 * 1000 * 1000};
    bool readable = true;
    EXPECT_EQ(device.WaitReadable(p.readFd, shortWait, readable), 0);
    EXPECT_FALSE(readable);

    ASSERT_EQ(write(p.writeFd, "x", 1), 1);
    struct timespec longWait = {20, 60 * 1000};
    EXPECT_EQ(device.WaitReadable(p.readFd, longWait, readable), 1);
    EXPECT_TRUE(readable);
}

// The wait must answer as select did: a descriptor that is not open is an
// error (logged, then a pause), a hang-up is readable (the receive reports it).
TEST(QRMIPMIDeviceAccess, RealWaitAnswersAsSelectWould)
{
    UseLinuxIPMIDevice realDevice;
    IQRMIPMIDevice& device = *QRMIPMIDeviceAccess::Get();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    struct timespec shortWait = {0, 20 * 1000 * 1000};
    bool readable = true;

    const int notOpen = dup(fds[0]);
    ASSERT_GE(notOpen, 0);
    close(notOpen);
    errno = 0;
    EXPECT_EQ(device.WaitReadable(notOpen, shortWait, readable), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(readable);

    close(fds[1]);
    EXPECT_EQ(device.WaitReadable(fds[0], shortWait, readable), 1);
    EXPECT_TRUE(readable);
    close(fds[0]);
}

TEST(QRMIPMIDeviceAccess, RealCallsReportTheKernelsOutcome)
{
    UseLinuxIPMIDevice realDevice;
    IQRMIPMIDevice& device = *QRMIPMIDeviceAccess::Get();
    errno = 0;
    EXPECT_EQ(device.Open("/nonexistent-zago-test/ipmi0"), -1);
    EXPECT_EQ(errno, ENOENT);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    struct ipmi_req req = {};
    errno = 0;
    EXPECT_EQ(device.SendCommand(fds[0], &req), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(device.Close(fds[0]), 0);
    close(fds[1]);
}

TEST(QRMIPMIDeviceAccess, RealOpenIsNotInheritedByCommands)
{
    UseLinuxIPMIDevice realDevice;
    TempDir dir;
    dir.write("ipmi0", "");
    IQRMIPMIDevice& device = *QRMIPMIDeviceAccess::Get();
    const int fd = device.Open(dir.file("ipmi0").c_str());
    ASSERT_GE(fd, 0);
    const int flags = fcntl(fd, F_GETFD);
    EXPECT_NE(flags, -1);
    EXPECT_TRUE(flags & FD_CLOEXEC);
    EXPECT_EQ(device.Close(fd), 0);
}

TEST(QRMIPMIDeviceAccess, RealSleeperPausesForTheGivenMilliseconds)
{
    auto start = std::chrono::steady_clock::now();
    QRMIPMISleeperAccess::Get()->SleepMilliseconds(30);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(30));
    // Milliseconds, not seconds; generous for a loaded machine.
    EXPECT_LT(elapsed, std::chrono::seconds(20));
}

TEST(QRMIPMIDeviceAccess, TestSeamsInstallAndRestore)
{
    SimManagementController controller;
    SimIPMIDevice device(controller);
    SimIPMISleepRecorder sleeps;
    IQRMIPMIDevice& real = *QRMIPMIDeviceAccess::Get();
    IQRMIPMISleeper& realSleeper = *QRMIPMISleeperAccess::Get();
    {
        SimIPMISeamGuard guard(&device, &sleeps);
        EXPECT_EQ(QRMIPMIDeviceAccess::Get(), &device);
        EXPECT_EQ(QRMIPMISleeperAccess::Get(), &sleeps);
    }
    EXPECT_EQ(QRMIPMIDeviceAccess::Get(), &real);
    EXPECT_EQ(QRMIPMISleeperAccess::Get(), &realSleeper);
}
