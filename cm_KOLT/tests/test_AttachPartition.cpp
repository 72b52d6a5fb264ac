// Attaching partitions: the usb_storage gate, the attach frame, the device
// search and mount that follow, the five attempts with a detach before each
// retry, the settle pause, and the by-row and by-name attaches.

#include <functional>
#include <string>
#include <vector>

#include "PartitionHostTest.h"

using Strings = std::vector<std::string>;
using namespace parthost;

namespace {

const char* const kDynMount = "mount -n -t vfat -oshortname=mixed,rw /dev/sectesupd-SECUPD /tmp/SECUPD";
const char* const kDropBoxAttach = "30 A2 05 34 12 00 00 00 00 00 02 00 00";
const char* const kDropBoxDetach = "30 A2 06 34 12 00 00 00 00 00 02 00 00";
const char* const kTes022Attach = "30 A2 05 34 12 00 04 00 00 00 00 00 00";

unsigned char thrownBy(const std::function<void()>& call)
{
    try {
        call();
    } catch (unsigned char error) {
        return error;
    }
    return 0;
}

} // namespace

class AttachPartition : public PartitionHostTest {
protected:
    void SetUp() override
    {
        PartitionHostTest::SetUp();
        if (HasFatalFailure())
            return;
        exposeAndMountable();
        host.answerPrefix("umount ", 0);
    }

    // The usb_storage gate is decided once per run.
    void usbStorageUnavailable()
    {
        host.answer(kUsbLoaded, 256);
        host.answer(kUsbLoad, 256);
    }
};

TEST_F(AttachPartition, DropBoxOnLinuxIsAttachedFoundMountedAndSettled)
{
    ASSERT_TRUE(client->AttachPartition(0, tessaPartInfo[0].partIdWord, 0));
    EXPECT_EQ(framesSinceSetUp(), Strings{kDropBoxAttach});
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0x0002);
    EXPECT_EQ(host.commands, (Strings{kUsbBuiltin, kUsbLoaded, kSgProbe, kBlockdev, "mkdir -p /tmp/SECUPD",
                                      "ln -sf /dev/sdb /dev/sectesupd-SECUPD", kDynMount}));
    // Device search, first mount attempt, settle.
    EXPECT_EQ(host.sleeps, (std::vector<int>{5, 1, 10}));
    EXPECT_EQ(client->currentDropBox, "/dev/sectesupd-SECUPD");
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "USB not blocklisted so continue ZOR update"));
    EXPECT_TRUE(Contains(log, "AttachPartitions IPMI Request succeeded"));
    EXPECT_TRUE(Contains(log, "AttachPartition succeeded"));
}

TEST_F(AttachPartition, MountThatNeverSucceedsGivesFiveAttachesSixDetachesAndError27)
{
    host.answer(kDynMount, 8192);
    EXPECT_FALSE(client->AttachPartition(0, tessaPartInfo[0].partIdWord, 0));
    EXPECT_EQ(client->getKOLTError(), KOLT_PARTITIONUNREACHABLE);
    EXPECT_EQ(tessa.CountSub(0x05), 5u);
    EXPECT_EQ(tessa.CountSub(0x06), 6u);
    Strings expected;
    for (int attempt = 0; attempt < 5; ++attempt) {
        expected.push_back(kDropBoxAttach);
        expected.push_back(kDropBoxDetach);
    }
    expected.push_back(kDropBoxDetach);
    EXPECT_EQ(framesSinceSetUp(), expected);
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "mountDynPartition did not succeed. Detaching partition and Retrying"));
    EXPECT_TRUE(Contains(log, "AttachPartition failed"));
}

TEST_F(AttachPartition, MountFailureStaysTheErrorWhenTheLastDetachIsRefused)
{
    host.answer(kDynMount, 8192);
    tessa.ScriptCodes(0x06, {0, 0, 0, 0, 0, 0x04});
    EXPECT_FALSE(client->AttachPartition(0, tessaPartInfo[0].partIdWord, 0));
    EXPECT_EQ(tessa.CountSub(0x06), 6u);
    EXPECT_EQ(client->getKOLTError(), KOLT_PARTITIONUNREACHABLE);
    EXPECT_TRUE(Contains(Log(), "DetachPartition failed"));
}

TEST_F(AttachPartition, UsbStorageUnavailableThrows65BeforeAnyFrame)
{
    usbStorageUnavailable();
    EXPECT_EQ(thrownBy([&] { client->AttachPartition(0, tessaPartInfo[0].partIdWord, 0); }), KOLT_USBBLOCKLISTED);
    EXPECT_EQ(client->getKOLTError(), KOLT_USBBLOCKLISTED);
    EXPECT_EQ(thrownBy([&] { client->AttachTessaPartition("TES022"); }), KOLT_USBBLOCKLISTED);
    EXPECT_EQ(thrownBy([&] { client->AttachTessaPartition(22); }), KOLT_USBBLOCKLISTED);
    EXPECT_TRUE(framesSinceSetUp().empty());
    EXPECT_EQ(host.commands, (Strings{kUsbBuiltin, kUsbLoaded, kUsbLoad, kUsbBuiltin, kUsbBuiltin}));
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "USB is blocklisted so stop the ZOR update"));
    EXPECT_TRUE(Contains(log, "USB Blocklisted. Update failure"));
    EXPECT_TRUE(Contains(log, "Throwing USBBlocklisted Error from attachtessa(PartId) partition"));
}

TEST_F(AttachPartition, NothingToMountStillSettles)
{
    ASSERT_TRUE(client->AttachPartition(0, 0, 0));
    EXPECT_EQ(framesSinceSetUp(), Strings{"30 A2 05 34 12 00 00 00 00 00 00 00 00"});
    EXPECT_EQ(host.commands, (Strings{kUsbBuiltin, kUsbLoaded}));
    EXPECT_EQ(host.sleeps, std::vector<int>{10});
}

TEST_F(AttachPartition, RefusalsBeforeAnyFrame)
{
    EXPECT_FALSE(client->AttachPartition(0x0100, 0, 300));
    EXPECT_EQ(client->getKOLTError(), KOLT_INVALIDPARTITION);
    client->session.active = 0;
    EXPECT_FALSE(client->AttachPartition(0, 0x0200, 0));
    EXPECT_EQ(client->getKOLTError(), KOLT_NOSESSION);
    EXPECT_TRUE(Contains(Log(), "AttachPartition called with NO active session"));
    EXPECT_TRUE(framesSinceSetUp().empty());
}

TEST_F(AttachPartition, RefusedAttachIsNotRetried)
{
    tessa.ScriptCodes(0x05, {0x04});   // cancelled: neither resent nor polled
    EXPECT_FALSE(client->AttachTessaPartition("TES022"));
    EXPECT_EQ(client->getKOLTError(), KOLT_ATTACHFAILED);
    EXPECT_EQ(framesSinceSetUp(), Strings{kTes022Attach});
    EXPECT_TRUE(Contains(Log(), "AttachPartitions IPMI Request failed"));
}

TEST_F(AttachPartition, NumberedPartitionByNameIsMountedReadOnly)
{
    ASSERT_TRUE(client->AttachTessaPartition("TES022"));
    EXPECT_EQ(framesSinceSetUp(), Strings{kTes022Attach});
    EXPECT_EQ(tessa.AttachedStaticBits(), 0x0004);
    EXPECT_EQ(tessaPartInfo[22].mountPath, "/tmp/TES022/");
    EXPECT_EQ(host.commands.back(),
              "mount -t vfat -oshortname=mixed,ro /dev/sectesupd-TES022 /tmp/TES022 > /dev/null 2>&1");
    EXPECT_TRUE(Contains(Log(), "Mount Point: "));
    EXPECT_TRUE(Contains(Log(), "/tmp/TES022/"));
    EXPECT_TRUE(Contains(Log(), "AttachTessaPartition successful"));
}

// Row 0 is the drop box, whose word is a dynamic one: sent as a static word
// it would name another partition.
TEST_F(AttachPartition, RowsThatNameNoNumberedPartitionAreRefused)
{
    struct Case {
        std::function<bool()> attach;
        const char* line;
    };
    const Case cases[] = {
        {[&] { return client->AttachTessaPartition("SECUPD"); }, "Invalid Tessa partition specfied"},
        {[&] { return client->AttachTessaPartition(static_cast<unsigned short>(0)); }, "Invalid Tessa partition specfied"},
        {[&] { return client->AttachTessaPartition("TES300"); }, "Invalid Tessa partition specfied"},
        {[&] { return client->AttachTessaPartition(257); }, "Invalid Tessa partition specfied"},
        {[&] { return client->AttachTessaPartition("TES003"); }, "Tessa partition is not present."},
    };
    for (const Case& c : cases) {
        client->storeErrorInfo(0);
        EXPECT_FALSE(c.attach()) << c.line;
        EXPECT_EQ(client->getKOLTError(), KOLT_INVALIDPARTITION) << c.line;
        EXPECT_TRUE(Contains(Log(), c.line));
    }
    EXPECT_TRUE(framesSinceSetUp().empty());
}

TEST_F(AttachPartition, VolumeProbeAttachesAndDetaches)
{
    client->LxGetVolNameInfo(22, nullptr);
    EXPECT_EQ(framesSinceSetUp(), (Strings{kTes022Attach, "30 A2 06 34 12 00 04 00 00 00 00 00 00"}));
    EXPECT_EQ(tessaPartInfo[22].mountPath, "");
    EXPECT_EQ(thrownBy([&] { client->LxGetVolNameInfo(3, nullptr); }), KOLT_ATTACHFAILED);
}
