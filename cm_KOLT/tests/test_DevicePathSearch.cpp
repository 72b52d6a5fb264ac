// The device search of the managed-storage client: the Linux loop over the
// SCSI enumeration (sg module probe, disk-only mode, 60 attempts 5 s apart)
// and the ESXi loop over the hypervisor's storage commands, with every
// shell command and pause going through the platform layer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeScsiHost.h"
#include "KoltTestSupport.h"
#include "FatTestImages.h"
#include "PlatformLayer.h"
#include "SecureTessa.h"
#include "SimPlatform.h"
#include "TempDir.h"

using namespace fatimg;

namespace {

const char* const kSgProbe = "lsmod | grep -w sg >/dev/null;echo $?";
const char* const kBlockdev = "/sbin/blockdev --report /dev/sd* > /dev/null 2>&1";
const char* const kRescan = "esxcli storage filesystem rescan";
const char* const kUsbListed = "lsusb | grep -i 0624:0250 > /dev/null";
const char* const kAutomount = "esxcli storage filesystem automount";

// The commands of a Linux search: the sg module probe, then one block
// device report per attempt.
std::vector<std::string> linuxSearch(size_t attempts)
{
    std::vector<std::string> commands{kSgProbe};
    commands.insert(commands.end(), attempts, kBlockdev);
    return commands;
}

class DevicePathSearch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(makeFat(scratch.file("SECUPD.img"), 12, 1024, "SECUPD"));
        ASSERT_TRUE(makeFat(scratch.file("SECUPD2.img"), 12, 1024, "SECUPD2"));
        ASSERT_TRUE(makeMbrDisk(scratch.file("mbr.img"), scratch.file("SECUPD.img"), 1));
        previousPlatform = CPlatformLayer::SetForTesting(&platform);
        platform.answer(kBlockdev, 0);
        platform.answer(kSgProbe, 0, "0\n");
        client.hostOsIndex = REDHAT;
    }
    void TearDown() override { CPlatformLayer::SetForTesting(previousPlatform); }

    std::string search(std::string label) { return client.getDevicePath(label); }

    TempDir scratch;
    OfflineClientHost offline;   // before the client: its construction needs a host
    SimPlatform platform;
    IPlatformImpl* previousPlatform = nullptr;
    FakeScsiHost host;
    ScopedSeam<CScsiHostAccess> installed{host};
    secureTessa client;
};

TEST_F(DevicePathSearch, UsbDiskFoundInTheFirstAttempt)
{
    host.addUsbDisk("sg3", "/dev/sdb", 6, scratch.file("SECUPD.img"));
    EXPECT_EQ(search("SECUPD"), "/dev/sdb");
    EXPECT_EQ(platform.commands, linuxSearch(1));
    EXPECT_EQ(platform.sleeps, std::vector<int>{5});
    EXPECT_TRUE(host.openDescriptors().empty());
}

TEST_F(DevicePathSearch, LabelOnThePartitionGivesThePartition)
{
    host.addUsbDisk("sg3", "/dev/sdb", 6, scratch.file("mbr.img"));
    host.addPartition("/dev/sdb", scratch.file("SECUPD.img"));
    EXPECT_EQ(search("SECUPD"), "/dev/sdb1");
}

TEST_F(DevicePathSearch, DiskShowingUpLateIsFoundInALaterAttempt)
{
    int reports = 0;
    platform.answer(kBlockdev, [&](const std::string&) {
        if (++reports == 4)
            host.addUsbDisk("sg3", "/dev/sdc", 6, scratch.file("SECUPD.img"));
        return 0;
    });
    EXPECT_EQ(search("SECUPD"), "/dev/sdc");
    EXPECT_EQ(platform.commands, linuxSearch(4));
    EXPECT_EQ(platform.sleeps, std::vector<int>(4, 5));
}

TEST_F(DevicePathSearch, NothingFoundAfterSixtyAttempts)
{
    // Decoys only: a USB disk with a longer label, a local disk with the label.
    host.addUsbDisk("sg3", "/dev/sdb", 6, scratch.file("SECUPD2.img"));
    host.addLocalDisk("sg0", "/dev/sda", 0, scratch.file("SECUPD.img"));
    EXPECT_EQ(search("SECUPD"), "");
    EXPECT_EQ(platform.commands, linuxSearch(60));
    EXPECT_EQ(platform.sleeps, std::vector<int>(60, 5));
    // Every attempt is a fresh search: all 18278 disk names, then the label
    // of the one paired disk.
    EXPECT_EQ(host.attemptsWithPrefix("/dev/sd"), 60u * (18278u + 1));
    EXPECT_TRUE(host.openDescriptors().empty());
}

TEST_F(DevicePathSearch, NoGenericDeviceAtAllStillTakesSixtyAttempts)
{
    host.sysfsPresent = false;
    EXPECT_EQ(search("TES001"), "");
    EXPECT_EQ(platform.commands, linuxSearch(60));
    EXPECT_EQ(platform.sleeps, std::vector<int>(60, 5));
    EXPECT_EQ(host.attemptsWithPrefix("/dev/sg"), 60u * 4096u);
    EXPECT_EQ(host.attemptsWithPrefix("/dev/sd"), 0u) << "the search stops at the emulated-device pass";
}

TEST_F(DevicePathSearch, WithoutTheSgModuleEveryDiskIsACandidate)
{
    host.addLocalDisk("sg0", "/dev/sda", 0, scratch.file("SECUPD.img"));
    platform.answer(kSgProbe, 0, "1\n");
    EXPECT_EQ(search("SECUPD"), "/dev/sda");
    EXPECT_EQ(host.attemptsWithPrefix("/dev/sg"), 0u);
}

TEST_F(DevicePathSearch, EsxServiceConsolesSearchDisksOnly)
{
    host.addLocalDisk("sg0", "/dev/sda", 0, scratch.file("SECUPD.img"));
    for (int index : {ESX, ESX4, ESX4_1}) {
        client.hostOsIndex = index;
        EXPECT_EQ(search("SECUPD"), "/dev/sda") << index;
    }
    EXPECT_EQ(host.attemptsWithPrefix("/dev/sg"), 0u);
}

TEST_F(DevicePathSearch, FailedModuleProbeCountsAsLoaded)
{
    host.addUsbDisk("sg3", "/dev/sdb", 6, scratch.file("SECUPD.img"));
    platform.answer(kSgProbe, -1);
    EXPECT_EQ(search("SECUPD"), "/dev/sdb");
    EXPECT_GT(host.attemptsWithPrefix("/dev/sg"), 0u) << "normal mode";
    EXPECT_TRUE(client.isSGDriverLoaded());
    platform.answer(kSgProbe, 0, "1\n");
    EXPECT_FALSE(client.isSGDriverLoaded());
}

TEST_F(DevicePathSearch, OnlyPartitionLabelsAreSearchedFor)
{
    host.addUsbDisk("sg3", "/dev/sdb", 6, scratch.file("SECUPD.img"));
    for (const char* label : {"", "SECUP", "SECUPD2", "secupd", "SEC UP", "SE;rm", "$(id)A", "../../"}) {
        EXPECT_EQ(search(label), "") << label;
    }
    EXPECT_TRUE(platform.commands.empty());
    EXPECT_TRUE(platform.sleeps.empty());
    client.hostOsIndex = ESXi;
    EXPECT_EQ(search("TES0;1"), "");
    EXPECT_TRUE(platform.commands.empty());
}

TEST_F(DevicePathSearch, KoltLogTellsTheSearch)
{
    host.addUsbDisk("sg3", "/dev/sdb", 6, scratch.file("SECUPD.img"));
    scratch.write("zordebuglog", "");
    {
        // Built and taken down on the offline host; the search runs on the
        // test's platform.
        std::unique_ptr<secureTessa> logging;
        {
            ScopedSeam<CPlatformLayer> building(&offline.host);
            logging.reset(new secureTessa);
        }
        logging->hostOsIndex = REDHAT;
        std::string label = "SECUPD";
        EXPECT_EQ(logging->getDevicePath(label), "/dev/sdb");
        label = "TES001";
        EXPECT_EQ(logging->getDevicePath(label), "");
        ScopedSeam<CPlatformLayer> ending(&offline.host);
        logging.reset();
    }
    std::string log = scratch.read("KOLT_DBG.log");
    const char* inOrder[] = {"QueryVCL.cpp:", "getDevicePath: Entering",
                             "LinuxEnumerateDevices.cpp:", "CEnumerateDevices::GetDeviceWithLabel Start",
                             ": /dev/sdb\n", ": SECUPD     \n",
                             "CEnumerateDevices::GetDeviceWithLabel -> found a device", "CEnumerateDevices found a device ",
                             "getDevicePath: Entering", "Trying to find device ",
                             "Could not find the device after all the retries "};
    size_t at = 0;
    for (const char* text : inOrder) {
        size_t found = log.find(text, at);
        ASSERT_NE(found, std::string::npos) << text << "\n" << log.substr(0, 4000);
        at = found;
    }
}

class EsxiDevicePathSearch : public DevicePathSearch {
protected:
    void SetUp() override
    {
        DevicePathSearch::SetUp();
        client.hostOsIndex = ESXi;
        platform.answer(kRescan, 0);
        platform.answer(kAutomount, 0);
    }
};

TEST_F(EsxiDevicePathSearch, ListedVolumeGivesTheDropBoxPath)
{
    int listings = 0;
    platform.answer(kUsbListed, [&](const std::string&) { return ++listings < 3 ? 1 : 0; });
    platform.answer("ls /vmfs/volumes/ | grep TES022 > /dev/null", 0);
    EXPECT_EQ(search("TES022"), "/vmfs/volumes/SECUPD/");
    EXPECT_EQ(platform.commands,
              (std::vector<std::string>{kRescan, kUsbListed, kRescan, kUsbListed, kRescan, kUsbListed, kAutomount,
                                        kRescan, "ls /vmfs/volumes/ | grep TES022 > /dev/null"}));
    EXPECT_EQ(platform.sleeps, std::vector<int>{2});
    EXPECT_TRUE(host.openAttempts.empty()) << "no SCSI enumeration on ESXi";
}

TEST_F(EsxiDevicePathSearch, UsbDeviceNeverListedRunsBackToBack)
{
    platform.answer(kUsbListed, 1);
    EXPECT_EQ(search("SECUPD"), "");
    std::vector<std::string> expected;
    for (int i = 0; i < 60; ++i) {
        expected.push_back(kRescan);
        expected.push_back(kUsbListed);
    }
    EXPECT_EQ(platform.commands, expected);
    EXPECT_TRUE(platform.sleeps.empty());
}

TEST_F(EsxiDevicePathSearch, VolumeNeverListedWaitsTwoSecondsPerAttempt)
{
    platform.answer(kUsbListed, 0);
    platform.answer("ls /vmfs/volumes/ | grep SECUPD > /dev/null", 1);
    EXPECT_EQ(search("SECUPD"), "");
    EXPECT_EQ(platform.commands.size(), 60u * 5);
    EXPECT_EQ(platform.sleeps, std::vector<int>(60, 2));
}

} // namespace
