// Host discovery of exposed partitions through the SCSI host-access seam:
// emulated generic devices paired with their disks by SCSI address, FAT
// labels read from the disks or their first partitions, disk-only mode,
// and the device-name rule.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FakeScsiHost.h"
#include "FatTestImages.h"
#include "LinuxEnumerateDevices.h"
#include "LinuxUtils.h"
#include "TempDir.h"

using namespace fatimg;

namespace {

class Discovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        // One small FAT volume per label, made once per test.
        for (const char* label : {"SECUPD", "SECUP2", "TES001"})
            ASSERT_TRUE(makeFat(volume(label), 12, 1024, label));
        ASSERT_TRUE(makeFat(scratch.file("SECUPD2.img"), 12, 1024, "SECUPD2"));
        ASSERT_TRUE(makeFat(scratch.file("lower.img"), 12, 1024, "secupd"));
        ASSERT_TRUE(makeFat(scratch.file("nolabel.img"), 12, 1024, ""));
        ASSERT_TRUE(makeMbrDisk(scratch.file("mbr-SECUPD.img"), volume("SECUPD"), 1));
    }

    std::string volume(const std::string& label) const { return scratch.file(label + ".img"); }

    // Runs the search as one attempt of the device search does.
    std::string find(const std::string& label, bool diskOnly = false, bool* ran = nullptr)
    {
        CLinuxEnumerateDevices devices(diskOnly);
        std::string path;
        bool result = devices.GetDeviceWithLabel(label, path);
        if (ran != nullptr)
            *ran = result;
        return path;
    }

    TempDir scratch;
    FakeScsiHost host;
    ScopedSeam<CScsiHostAccess> installed{host};
};

TEST_F(Discovery, UsbDiskWithTheLabelIsFound)
{
    host.addUsbDisk("sg1", "/dev/sdb", 3, volume("SECUPD"));
    bool ran = false;
    EXPECT_EQ(find("SECUPD", false, &ran), "/dev/sdb");
    EXPECT_TRUE(ran);
    EXPECT_TRUE(host.badFlags.empty()) << "every probe opens read-only and non-blocking";
    EXPECT_TRUE(host.openDescriptors().empty());
    EXPECT_EQ(host.opens, host.closes);
}

TEST_F(Discovery, LabelOnTheFirstPartitionGivesThePartition)
{
    host.addUsbDisk("sg1", "/dev/sdc", 3, scratch.file("mbr-SECUPD.img"));
    host.addPartition("/dev/sdc", volume("SECUPD"));
    EXPECT_EQ(find("SECUPD"), "/dev/sdc1");
    EXPECT_TRUE(host.openDescriptors().empty());
}

TEST_F(Discovery, WholeLabelMustMatch)
{
    // Decoys that a prefix or case-blind comparison would take.
    host.addUsbDisk("sg1", "/dev/sdb", 3, scratch.file("SECUPD2.img"));
    host.addUsbDisk("sg2", "/dev/sdc", 4, scratch.file("lower.img"));
    host.addUsbDisk("sg3", "/dev/sdd", 5, volume("SECUP2"));
    host.addUsbDisk("sg4", "/dev/sde", 6, scratch.file("nolabel.img"));
    bool ran = false;
    EXPECT_EQ(find("SECUPD", false, &ran), "");
    EXPECT_TRUE(ran) << "the passes ran; only the label was not there";
    EXPECT_EQ(find("SECUP"), "") << "a shorter name is no match either";

    host.addUsbDisk("sg5", "/dev/sdf", 7, volume("SECUPD"));
    EXPECT_EQ(find("SECUPD"), "/dev/sdf");
}

TEST_F(Discovery, NonUsbDiskCountsOnlyInDiskOnlyMode)
{
    host.addLocalDisk("sg0", "/dev/sda", 0, volume("SECUPD"));
    host.addUsbDisk("sg1", "/dev/sdb", 3, volume("TES001"));
    EXPECT_EQ(find("SECUPD"), "");
    EXPECT_EQ(find("TES001"), "/dev/sdb");

    EXPECT_EQ(find("SECUPD", true), "/dev/sda");
    EXPECT_EQ(host.attemptsWithPrefix("/dev/sg"), 4u) << "two passes in normal mode, none in disk-only mode";
}

TEST_F(Discovery, FirstGenericDeviceInByteOrderWins)
{
    host.addUsbDisk("sg2", "/dev/sdb", 2, volume("SECUPD"));
    host.addUsbDisk("sg10", "/dev/sdc", 10, volume("SECUPD"));
    EXPECT_EQ(find("SECUPD"), "/dev/sdc") << "/dev/sg10 sorts before /dev/sg2";
}

TEST_F(Discovery, DiskOnlyModeOrdersByDiskPath)
{
    host.addUsbDisk("sg1", "/dev/sdb", 2, volume("SECUPD"));
    host.addUsbDisk("sg2", "/dev/sdaa", 3, volume("SECUPD"));
    EXPECT_EQ(find("SECUPD", true), "/dev/sdaa");
}

TEST_F(Discovery, PairingUsesHostChannelIdAndLun)
{
    host.addUsbDisk("sg1", "/dev/sdb", 3, volume("SECUPD"));
    // A disk at the same host but another LUN must not take sg1's place.
    host.addUsbDisk("sg2", "/dev/sdc", 3, volume("TES001"));
    host.nodes["/dev/sg2"].lun = 1;
    host.nodes["/dev/sdc"].lun = 1;

    CLinuxEnumerateDevices devices(false);
    ASSERT_TRUE(devices.GetAllSGDevices());
    ASSERT_TRUE(devices.GetEumlatedSGDevices());
    ASSERT_TRUE(devices.GetSDDevices());
    ASSERT_EQ(devices.devices().size(), 2u);
    EXPECT_EQ(devices.devices().at("/dev/sg1").diskPath, "/dev/sdb");
    EXPECT_EQ(devices.devices().at("/dev/sg2").diskPath, "/dev/sdc");

    for (auto field : {&ScsiNodeModel::host, &ScsiNodeModel::channel, &ScsiNodeModel::id, &ScsiNodeModel::lun}) {
        FakeScsiHost other;
        ScopedSeam<CScsiHostAccess> swap(other);
        other.addUsbDisk("sg1", "/dev/sdb", 3, volume("SECUPD"));
        other.nodes["/dev/sdb"].*field = 9;
        CLinuxEnumerateDevices search(false);
        std::string path;
        EXPECT_TRUE(search.GetDeviceWithLabel("SECUPD", path));
        EXPECT_EQ(path, "");
    }
}

TEST_F(Discovery, EveryGenericDeviceOfAnAddressIsPaired)
{
    host.addUsbDisk("sg1", "/dev/sdb", 3, volume("SECUPD"));
    host.nodes["/dev/sg7"] = host.nodes["/dev/sg1"];
    CLinuxEnumerateDevices devices(false);
    ASSERT_TRUE(devices.GetAllSGDevices());
    ASSERT_TRUE(devices.GetEumlatedSGDevices());
    CLinuxEnumerateDevices::scsi_idlun idlun = {3u << 24, 0};
    EXPECT_TRUE(devices.SearchSGDevice("/dev/sdq", idlun, 3));
    EXPECT_EQ(devices.devices().at("/dev/sg1").diskPath, "/dev/sdq");
    EXPECT_EQ(devices.devices().at("/dev/sg7").diskPath, "/dev/sdq");
    EXPECT_FALSE(devices.SearchSGDevice("/dev/sdr", idlun, 4));

    CLinuxEnumerateDevices empty(false);
    EXPECT_FALSE(empty.SearchSGDevice("/dev/sdq", idlun, 3));
}

TEST_F(Discovery, PassesThatFindNothingStopTheSearch)
{
    struct Case {
        const char* name;
        void (*arrange)(FakeScsiHost&);
        bool diskOnly;
    };
    const Case cases[] = {
        {"no generic device at all", [](FakeScsiHost&) {}, false},
        {"sysfs listing fails", [](FakeScsiHost& h) { h.sysfsListingFails = true; }, false},
        {"only non-emulated adapters", [](FakeScsiHost& h) { h.nodes["/dev/sg1"].emulated = 0; }, false},
        {"emulated-host request fails",
         [](FakeScsiHost& h) { h.nodes["/dev/sg1"].failEmulatedHost = ENODEV; }, false},
        {"SCSI-id request fails", [](FakeScsiHost& h) { h.nodes["/dev/sg1"].failScsiId = ENODEV; }, false},
        {"no disk answers IDLUN", [](FakeScsiHost& h) { h.nodes["/dev/sdb"].failIdLun = ENOTTY; }, false},
        {"no disk answers the bus number",
         [](FakeScsiHost& h) { h.nodes["/dev/sdb"].failBusNumber = ENOTTY; }, true},
    };
    for (const Case& c : cases) {
        FakeScsiHost other;
        ScopedSeam<CScsiHostAccess> swap(other);
        if (std::strcmp(c.name, "no generic device at all") != 0)
            other.addUsbDisk("sg1", "/dev/sdb", 3, volume("SECUPD"));
        c.arrange(other);
        CLinuxEnumerateDevices devices(c.diskOnly);
        std::string path = "untouched";
        EXPECT_FALSE(devices.GetDeviceWithLabel("SECUPD", path)) << c.name;
        EXPECT_EQ(path, "untouched") << c.name;
        EXPECT_TRUE(other.openDescriptors().empty()) << c.name;
    }
}

TEST_F(Discovery, StaleSysfsNamesAndDotEntriesAreSkipped)
{
    host.addUsbDisk("sg1", "/dev/sdb", 3, volume("SECUPD"));
    host.staleSysfsNames = {"sg9"};
    CLinuxEnumerateDevices devices(false);
    ASSERT_TRUE(devices.GetAllSGDevices());
    EXPECT_EQ(devices.genericPaths(), (std::vector<std::string>{"/dev/sg1", "/dev/sg9"}));
    EXPECT_TRUE(devices.GetEumlatedSGDevices());
    EXPECT_EQ(devices.devices().size(), 1u);
}

TEST_F(Discovery, WithoutSysfsGenericNamesAreProbedByLetter)
{
    host.sysfsPresent = false;
    host.addUsbDisk("sgb", "/dev/sdb", 3, volume("SECUPD"));
    host.addUsbDisk("sgaa", "/dev/sdc", 4, volume("TES001"));
    CLinuxEnumerateDevices devices(false);
    ASSERT_TRUE(devices.GetAllSGDevices());
    EXPECT_EQ(devices.genericPaths(), (std::vector<std::string>{"/dev/sgb", "/dev/sgaa"}));
    EXPECT_EQ(host.attemptsWithPrefix("/dev/sg"), 4096u);
    EXPECT_EQ(host.openAttempts["/dev/sgfan"], 1) << "the last of 4096 names";
    EXPECT_EQ(host.openAttempts.count("/dev/sgfao"), 0u);

    std::string path;
    EXPECT_TRUE(devices.GetEumlatedSGDevices());
    CLinuxEnumerateDevices search(false);
    EXPECT_TRUE(search.GetDeviceWithLabel("TES001", path));
    EXPECT_EQ(path, "/dev/sdc");
    EXPECT_TRUE(host.openDescriptors().empty());
}

TEST_F(Discovery, EveryDiskNameIsProbedOnce)
{
    host.addUsbDisk("sg1", "/dev/sdzzz", 3, volume("SECUPD"));
    CLinuxEnumerateDevices devices(false);
    std::string path;
    ASSERT_TRUE(devices.GetDeviceWithLabel("SECUPD", path));
    EXPECT_EQ(path, "/dev/sdzzz");
    EXPECT_EQ(host.attemptsWithPrefix("/dev/sd"), 18278u + 1) << "sda to sdzzz, then sdzzz for its label";
    EXPECT_EQ(host.openAttempts["/dev/sdzzz"], 2);
    EXPECT_EQ(host.openAttempts.count("/dev/sdzzz1"), 0u) << "the label was on the whole disk";
    EXPECT_EQ(host.openAttempts.count("/dev/sdxxxx"), 0u);
}

TEST(DeviceName, LinuxDiskNamingOrder)
{
    const struct {
        int n;
        const char* name;
    } table[] = {{0, "a"},      {1, "b"},     {25, "z"},     {26, "aa"},   {27, "ab"},   {51, "az"},
                 {52, "ba"},    {701, "zz"},  {702, "aaa"},  {703, "aab"}, {728, "aba"}, {1377, "azz"},
                 {1378, "baa"}, {18277, "zzz"}, {18278, "xxxx"}, {99999, "xxxx"}, {-1, "xxxx"}};
    for (const auto& row : table) {
        EXPECT_EQ(deviceName("/dev/sd", row.n, false), std::string("/dev/sd") + row.name) << row.n;
        char buffer[32];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_TRUE(MakeDeviceName(buffer, sizeof buffer, nullptr, row.n, 0));
        EXPECT_STREQ(buffer, (std::string("/dev/sg") + row.name).c_str()) << row.n;
    }
    char buffer[32];
    EXPECT_TRUE(MakeDeviceName(buffer, sizeof buffer, "/dev/sg", 17, 1));
    EXPECT_STREQ(buffer, "/dev/sg17");
    EXPECT_TRUE(MakeDeviceName(buffer, sizeof buffer, "/dev/sd", 18278, 1));
    EXPECT_STREQ(buffer, "/dev/sd18278");
}

// The name goes whole into the buffer or not at all: never past its size,
// never cut short into the name of another device.
TEST(DeviceName, MakeDeviceNameKeepsToTheBufferSize)
{
    const struct {
        const char* prefix;
        int n;
        int numeric;
        size_t size;
        bool fits;
        const char* name;
    } cases[] = {
        {"/dev/sg", 1234, 1, 12, true, "/dev/sg1234"},
        {"/dev/sg", 12345, 1, 12, false, ""},
        {"/dev/sg", 12345, 1, 13, true, "/dev/sg12345"},
        {"/dev/sg", 2147483647, 1, 12, false, ""},
        {"/dev/sg", -2147483647 - 1, 1, 19, true, "/dev/sg-2147483648"},
        {"/dev/sg", -2147483647 - 1, 1, 18, false, ""},
        {nullptr, 18278, 0, 12, true, "/dev/sgxxxx"},
        {nullptr, 18278, 0, 11, false, ""},
        {"/dev/sd", 702, 0, 11, true, "/dev/sdaaa"},
        {"", 0, 1, 2, true, "0"},
        {"", 10, 1, 2, false, ""},
        {"/a/very/long/prefix/that/does/not/fit/", 0, 0, 12, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.prefix ? c.prefix : "(default)") + " " + std::to_string(c.n) + " in " +
                     std::to_string(c.size));
        char area[64];
        std::memset(area, '#', sizeof area);
        EXPECT_EQ(MakeDeviceName(area, c.size, c.prefix, c.n, c.numeric), c.fits);
        EXPECT_STREQ(area, c.name);
        for (size_t i = c.size; i < sizeof area; ++i)
            ASSERT_EQ(area[i], '#') << "byte " << i << " written past the buffer";
    }
    // No buffer, or one of no bytes, takes nothing.
    char untouched = '#';
    EXPECT_FALSE(MakeDeviceName(&untouched, 0, "/dev/sg", 1, 1));
    EXPECT_EQ(untouched, '#');
    EXPECT_FALSE(MakeDeviceName(nullptr, 16, "/dev/sg", 1, 1));
}

TEST(DeviceName, NamesAreUniqueAndSortedWithinEachLength)
{
    std::string previous;
    for (int n = 0; n < kDiskNameProbes; ++n) {
        std::string name = deviceName("", n, false);
        if (name.size() == previous.size())
            ASSERT_LT(previous, name) << n;
        else
            ASSERT_EQ(name, std::string(name.size(), 'a')) << n;
        previous = name;
    }
}

TEST(VolumeLabel, WholeLabelWithoutPadding)
{
    EXPECT_TRUE(volumeLabelMatches("SECUPD     ", "SECUPD"));
    EXPECT_TRUE(volumeLabelMatches("SECUPD", "SECUPD"));
    EXPECT_TRUE(volumeLabelMatches("TES001     ", "TES001"));
    EXPECT_FALSE(volumeLabelMatches("SECUPD2    ", "SECUPD"));
    EXPECT_FALSE(volumeLabelMatches("secupd     ", "SECUPD"));
    EXPECT_FALSE(volumeLabelMatches("SECUP      ", "SECUPD"));
    EXPECT_FALSE(volumeLabelMatches(" SECUPD    ", "SECUPD"));
    EXPECT_FALSE(volumeLabelMatches("           ", "SECUPD"));
    EXPECT_FALSE(volumeLabelMatches("", "SECUPD"));
    EXPECT_FALSE(volumeLabelMatches("SECUPD     ", ""));
}

} // namespace
