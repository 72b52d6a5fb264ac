// The production side of the SCSI host-access seam, on scratch files only
// (never a real device), and the test-installation contract.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "FakeScsiHost.h"
#include "RefusingScsiHost.h"
#include "ScsiHostAccess.h"
#include "TempDir.h"

namespace {

TEST(ScsiHostAccess, LinuxCallsOnScratchFiles)
{
    TempDir scratch;
    scratch.write("node", "0123456789");
    scratch.write("sub/a", "");
    CLinuxScsiHostAccess host;

    int fd = host.openDevice(scratch.file("node").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    char buffer[4] = {0};
    EXPECT_EQ(host.readAt(fd, buffer, 4, 6), 4);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(host.readAt(fd, buffer, 4, 10), 0) << "end of the file";
    int emulated = 0;
    errno = 0;
    EXPECT_EQ(host.control(fd, SG_EMULATED_HOST, &emulated), -1) << "a plain file is no SCSI node";
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(host.closeDevice(fd), 0);
    EXPECT_EQ(host.openDevice(scratch.file("missing").c_str(), O_RDONLY), -1);

    struct stat info;
    EXPECT_EQ(host.statPath(scratch.path().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));

    std::vector<std::string> names;
    ASSERT_TRUE(host.listDirectory(scratch.path().c_str(), names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "node", "sub"}));
    names.clear();
    EXPECT_FALSE(host.listDirectory(scratch.file("missing").c_str(), names));
    EXPECT_TRUE(names.empty());
}

TEST(ScsiHostAccess, SetForTestingHandsBackThePrevious)
{
    IScsiHostAccess* refusing = CScsiHostAccess::Get();
    EXPECT_EQ(refusing, &RefusingScsiHost::instance()) << "what every test starts with";
    CScsiHostAccess::SetForTesting(nullptr);
    IScsiHostAccess* real = CScsiHostAccess::Get();
    ASSERT_NE(dynamic_cast<CLinuxScsiHostAccess*>(real), nullptr);
    FakeScsiHost first, second;
    EXPECT_EQ(CScsiHostAccess::SetForTesting(&first), real);
    EXPECT_EQ(CScsiHostAccess::Get(), &first);
    EXPECT_EQ(CScsiHostAccess::SetForTesting(&second), &first);
    EXPECT_EQ(CScsiHostAccess::SetForTesting(nullptr), &second);
    EXPECT_EQ(CScsiHostAccess::Get(), real) << "null restores the Linux calls";
}

TEST(ScsiHostAccess, HandleClosesOnEveryPath)
{
    FakeScsiHost host;
    host.nodes["/dev/sdb"] = ScsiNodeModel();
    ScopedSeam<CScsiHostAccess> installed(host);
    {
        CScsiDeviceHandle handle = CScsiDeviceHandle::openReadOnly("/dev/sdb");
        EXPECT_TRUE(handle.valid());
        CScsiDeviceHandle moved = std::move(handle);
        EXPECT_FALSE(handle.valid());
        EXPECT_TRUE(moved.valid());
        moved = CScsiDeviceHandle::openReadOnly("/dev/sdb");
        EXPECT_EQ(host.closes, 1u) << "the replaced descriptor";
    }
    EXPECT_EQ(host.opens, 2u);
    EXPECT_EQ(host.closes, 2u);
    EXPECT_TRUE(host.openDescriptors().empty());
    EXPECT_FALSE(CScsiDeviceHandle::openReadOnly("/dev/sdc").valid());
    EXPECT_EQ(host.closes, 2u) << "a failed open has nothing to close";
}

} // namespace
