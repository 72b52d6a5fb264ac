#include <gtest/gtest.h>

#include <fcntl.h>

#include <cstdio>
#include <string>

#include "NVMeHostAccess.h"
#include "OpenDescriptors.h"
#include "TempDir.h"

// The Linux host access hands the shell commands of the run no controller
// node, listing pipe or sysfs stream. Checked on an ordinary file standing
// in for a node: nothing here touches /dev or /sys.
TEST(LinuxNVMeHostAccess, EverythingItOpensIsCloseOnExec)
{
    TempDir dir;
    dir.write("node", "");
    CLinuxNVMeHostAccess host;

    int fd = host.openDevice(dir.file("node").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(IsCloseOnExec(fd));
    EXPECT_EQ(host.closeDevice(fd), 0);

    FILE* attribute = host.openAttribute(dir.file("node").c_str());
    ASSERT_NE(attribute, nullptr);
    EXPECT_TRUE(IsCloseOnExec(fileno(attribute)));
    std::fclose(attribute);

    FILE* listing = host.openListing("true");
    ASSERT_NE(listing, nullptr);
    EXPECT_TRUE(IsCloseOnExec(fileno(listing)));
    EXPECT_EQ(host.closeListing(listing), 0);
}
