// Detaching partitions: the unmounts before the detach frame, detach-all,
// the table row it clears, refusals that send nothing, and the clean-ups
// after a detach on VMware hosts (ESX 3 /proc/scsi/scsi removal, ESX 4
// rescan, ESXi rescans until the drop box's volume is gone).

#include <algorithm>
#include <string>
#include <vector>

#include "PartitionHostTest.h"

using Strings = std::vector<std::string>;
using namespace parthost;

namespace {

const char* const kDetachAllFrame = "30 A2 06 34 12 00 FF 00 00 00 FF 00 00";
const char* const kUmountTes001 = "umount /tmp/TES001 > /dev/null 2>&1";
const char* const kRescan = "esxcli storage filesystem rescan";
const char* const kSecupdListed = "ls /vmfs/volumes/ | grep SECUPD > /dev/null 2>&1";
const char* const kProcScsiSecupd = "/bin/cat /proc/scsi/scsi | /bin/sed -n '/SECUPD/{g;1!p;};h'";

} // namespace

class DetachPartition : public PartitionHostTest {};

TEST_F(DetachPartition, DetachAllUnmountsTes001AndTheDropBoxThenDetachesEverything)
{
    host.answer(kUmountTes001, 0);
    host.answerPrefix("rm ", 0);
    // The drop box's folder, mounted twice.
    ASSERT_EQ(::mkdir("/tmp/SECUPD", 0755), 0);
    host.scriptUmount({0, 0});
    tessaPartInfo[1].mountPath = "/tmp/TES001/";
    client->session.staticBits = 0x0007;
    ASSERT_TRUE(client->DetachAll());
    EXPECT_EQ(framesSinceSetUp(), Strings{kDetachAllFrame});
    EXPECT_EQ(host.commands, (Strings{kUmountTes001, "rm -rf /tmp/TES001 > /dev/null 2>&1", kRemoveLinks,
                                      "rm -rf /tmp/SECUPD > /dev/null 2>&1", kRemoveLinks}));
    EXPECT_EQ(host.umounts, Strings(3, "/tmp/SECUPD"));
    EXPECT_TRUE(host.sleeps.empty());
    EXPECT_EQ(tessaPartInfo[1].mountPath, "");
    // The wire-ordered word clears bits 8 to 15 of the plain word only.
    EXPECT_EQ(client->session.staticBits, 0x0007);
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "DetachPartitions IPMI Request succeeded"));
    EXPECT_TRUE(Contains(log, "DetachPartition succeeded"));
    EXPECT_TRUE(Contains(log, "done"));
}

// The usual session start: nothing is mounted on TES001, so the shell's
// umount fails, umount(2) says the folder is no mount point, and the stale
// folder goes without a complaint.
TEST_F(DetachPartition, BusyDropBoxIsWaitedForAndTheDetachGoesOn)
{
    host.answer(kUmountTes001, 8192);   // nothing mounted there
    host.answerPrefix("rm ", 0);
    ASSERT_EQ(::mkdir("/tmp/SECUPD", 0755), 0);
    host.scriptUmount({EINVAL, EBUSY, EBUSY, EBUSY});
    ASSERT_TRUE(client->DetachAll());
    EXPECT_EQ(host.umounts, (Strings{"/tmp/TES001", "/tmp/SECUPD", "/tmp/SECUPD", "/tmp/SECUPD", "/tmp/SECUPD"}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(host.commands, (Strings{kUmountTes001, "rm -rf /tmp/TES001 > /dev/null 2>&1", kRemoveLinks,
                                      "rm -rf /tmp/SECUPD > /dev/null 2>&1", kRemoveLinks}));
    EXPECT_FALSE(Contains(Log(), "umountStatPartition volumeLabel NOT found"));
    EXPECT_EQ(framesSinceSetUp(), Strings{kDetachAllFrame});
}

// A numbered partition still in use keeps its folder; the detach goes on.
// The drop box has no folder: the kernel is not asked about it.
TEST_F(DetachPartition, NumberedPartitionStillMountedKeepsItsFolder)
{
    host.answer(kUmountTes001, 8192);
    host.answerPrefix("rm ", 0);
    host.scriptUmount({EBUSY});
    ASSERT_TRUE(client->DetachAll());
    EXPECT_EQ(host.umounts, Strings{"/tmp/TES001"});
    EXPECT_EQ(host.commands,
              (Strings{kUmountTes001, kRemoveLinks, "rm -rf /tmp/SECUPD > /dev/null 2>&1", kRemoveLinks}));
    EXPECT_TRUE(Contains(Log(), "umountStatPartition volumeLabel NOT found"));
    EXPECT_EQ(framesSinceSetUp(), Strings{kDetachAllFrame});
}

TEST_F(DetachPartition, DropBoxStillBusyAfterAMinuteIsLeftInPlace)
{
    host.answerPrefix("rm -f ", 0);
    ASSERT_EQ(::mkdir("/tmp/SECUPD", 0755), 0);
    host.scriptUmount(EBUSY, 100);
    ASSERT_TRUE(client->DetachPartition(0, tessaPartInfo[0].partIdWord, 0, false));
    EXPECT_EQ(host.sleeps, std::vector<int>(60, 1));
    EXPECT_EQ(host.commands, Strings{kRemoveLinks});
    EXPECT_TRUE(Contains(Log(), "umountDynPartition failed."));
    EXPECT_EQ(framesSinceSetUp(), Strings{"30 A2 06 34 12 00 00 00 00 00 02 00 00"});
}

// A row beyond the table names nothing to unmount or clear: refused before
// any command, umount or frame, whatever the words.
TEST_F(DetachPartition, RowBeyondTheTableIsRefusedOnEveryPath)
{
    // 257 is one past the last row (256).
    for (unsigned short row : {257, 300, 0xFFFF}) {
        for (unsigned short staticWord : {0x0400, 0x0000}) {
            client->storeErrorInfo(0);
            EXPECT_FALSE(client->DetachPartition(staticWord, 0x0200, row, false)) << row;
            EXPECT_EQ(client->getKOLTError(), KOLT_INVALIDPARTITION) << row;
        }
    }
    EXPECT_TRUE(Contains(Log(), "Invalid partition Id specfied"));
    EXPECT_TRUE(framesSinceSetUp().empty());
    EXPECT_TRUE(host.commands.empty());
    EXPECT_TRUE(host.umounts.empty());
}

TEST_F(DetachPartition, LastRowOfTheTableIsDetached)
{
    host.answerPrefix("rm ", 0);
    tessaPartInfo[256].mountPath = "/tmp/TES256/";
    ASSERT_TRUE(client->DetachPartition(0, tessaPartInfo[0].partIdWord, 256, false));
    EXPECT_EQ(framesSinceSetUp(), Strings{"30 A2 06 34 12 00 00 00 00 00 02 00 00"});
    EXPECT_EQ(tessaPartInfo[256].mountPath, "");
}

TEST_F(DetachPartition, WithoutSessionNothingIsSent)
{
    client->session.active = 0;
    EXPECT_FALSE(client->DetachAll());
    EXPECT_EQ(client->getKOLTError(), KOLT_NOSESSION);
    EXPECT_TRUE(Contains(Log(), "DetachPartition called with NO active session"));
    EXPECT_TRUE(framesSinceSetUp().empty());
    EXPECT_TRUE(host.commands.empty());
}

TEST_F(DetachPartition, RefusedDetachKeepsTheMountPath)
{
    host.answerPrefix("umount ", 0);
    host.answerPrefix("rm ", 0);
    tessa.ScriptCodes(0x06, {0x04});
    tessaPartInfo[22].mountPath = "/tmp/TES022/";
    EXPECT_FALSE(client->DetachPartition(0x0400, 0, 22, true));
    EXPECT_EQ(client->getKOLTError(), KOLT_DETACHFAILED);
    EXPECT_EQ(tessaPartInfo[22].mountPath, "/tmp/TES022/");
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "DetachPartitions IPMI Request failed"));
    EXPECT_TRUE(Contains(log, "DetachPartition failed"));
}

TEST_F(DetachPartition, NumberedPartitionByNameAndRow)
{
    host.answer("umount /tmp/TES022 > /dev/null 2>&1", 0);
    host.answerPrefix("rm ", 0);
    tessaPartInfo[22].mountPath = "/tmp/TES022/";
    ASSERT_TRUE(client->DetachTessaPartition("TES022"));
    EXPECT_EQ(framesSinceSetUp(), Strings{"30 A2 06 34 12 00 04 00 00 00 00 00 00"});
    EXPECT_EQ(tessaPartInfo[22].mountPath, "");
    EXPECT_TRUE(Contains(Log(), "Tessa partition got detached."));

    for (const char* name : {"SECUPD", "TES300", "TES003"}) {
        client->storeErrorInfo(0);
        EXPECT_FALSE(client->DetachTessaPartition(name)) << name;
        EXPECT_EQ(client->getKOLTError(), KOLT_INVALIDPARTITION) << name;
    }
    EXPECT_EQ(framesSinceSetUp().size(), 1u);

    tessa.ScriptCodes(0x06, {0x04});
    EXPECT_FALSE(client->DetachTessaPartition(22));
    EXPECT_EQ(client->getKOLTError(), KOLT_DETACHFAILED);
    EXPECT_TRUE(Contains(Log(), "Tessa partition did not got detached."));
}

// ESX 3: the line before the one naming the label is the disk's address.
struct ScsiListingCase {
    const char* name;
    const char* listing;
    const char* removal;   // null: no removal command
};

void PrintTo(const ScsiListingCase& c, std::ostream* os) { *os << c.name; }

class EsxScsiEntries : public PartitionHostTest, public ::testing::WithParamInterface<ScsiListingCase> {};

TEST_P(EsxScsiEntries, RemovalOnlyForAFullAddress)
{
    const ScsiListingCase& c = GetParam();
    client->hostOsIndex = ESX;
    host.answer(kProcScsiSecupd, 0, c.listing);
    host.answerPrefix("echo ", 0);
    client->ESX_RemoveEntries(0, 0x0200, 0);
    EXPECT_EQ(host.commands, c.removal ? (Strings{kProcScsiSecupd, c.removal}) : Strings{kProcScsiSecupd});
    EXPECT_TRUE(Contains(Log(), "Removing SECUPD from /proc/scsi/scsi"));
    EXPECT_TRUE(Contains(Log(), "done"));
}

INSTANTIATE_TEST_SUITE_P(
    Listings, EsxScsiEntries,
    ::testing::Values(
        ScsiListingCase{"OneDigitHostKeepsItsBlank", "Host: scsi2 Channel: 00 Id: 00 Lun: 00\n",
                        "echo \"scsi remove-single-entry 2  00 00 00\" > /proc/scsi/scsi"},
        ScsiListingCase{"TwoDigitHost", "Host: scsi10 Channel: 00 Id: 01 Lun: 02\n",
                        "echo \"scsi remove-single-entry 10 00 01 02\" > /proc/scsi/scsi"},
        // Each number is read whole: a part of it names another disk.
        ScsiListingCase{"ThreeDigitHost", "Host: scsi123 Channel: 00 Id: 00 Lun: 00\n",
                        "echo \"scsi remove-single-entry 123 00 00 00\" > /proc/scsi/scsi"},
        ScsiListingCase{"LongNumbersEverywhere", "Host: scsi100 Channel: 100 Id: 255 Lun: 1024\n",
                        "echo \"scsi remove-single-entry 100 100 255 1024\" > /proc/scsi/scsi"},
        ScsiListingCase{"OneDigitLunEndsTheLine", "Host: scsi2 Channel: 00 Id: 00 Lun: 0\n",
                        "echo \"scsi remove-single-entry 2  00 00 0\" > /proc/scsi/scsi"},
        ScsiListingCase{"OneDigitLunEndsTheText", "Host: scsi2 Channel: 00 Id: 00 Lun: 0",
                        "echo \"scsi remove-single-entry 2  00 00 0\" > /proc/scsi/scsi"},
        ScsiListingCase{"HostNumberRunsIntoText", "Host: scsi12x Channel: 00 Id: 00 Lun: 00\n", nullptr},
        ScsiListingCase{"ThreeDigitIdRunsIntoText", "Host: scsi2 Channel: 00 Id: 123; Lun: 00\n", nullptr},
        ScsiListingCase{"NoLun", "Host: scsi2 Channel: 00 Id: 00\n", nullptr},
        ScsiListingCase{"NoHostNumber", "Host: scsi Channel: 00 Id: 00 Lun: 00\n", nullptr},
        ScsiListingCase{"ShellTextInAField", "Host: scsi2 Channel: 00 Id: 0`reboot` Lun: 00\n", nullptr},
        ScsiListingCase{"NothingPrinted", "", nullptr}),
    [](const ::testing::TestParamInfo<ScsiListingCase>& info) { return info.param.name; });

TEST_F(DetachPartition, EsxLooksUpTheStaticLabelOrTheDropBox)
{
    client->hostOsIndex = ESX;
    host.answerPrefix("umount ", 0);
    host.answerPrefix("rm ", 0);
    host.answerPrefix("echo ", 0);
    const char* const lookup22 = "/bin/cat /proc/scsi/scsi | /bin/sed -n '/TES022/{g;1!p;};h'";
    host.answer(lookup22, 0, "Host: scsi3 Channel: 00 Id: 00 Lun: 01\n");
    ASSERT_TRUE(client->DetachTessaPartition(22));
    ASSERT_GE(host.commands.size(), 2u);
    EXPECT_EQ(Strings(host.commands.end() - 2, host.commands.end()),
              (Strings{lookup22, "echo \"scsi remove-single-entry 3  00 00 01\" > /proc/scsi/scsi"}));
    EXPECT_EQ(std::count_if(host.commands.begin(), host.commands.end(),
                            [](const std::string& command) { return command.rfind("/bin/cat ", 0) == 0; }),
              1);
    EXPECT_TRUE(Contains(Log(), "HBTL (TES022 ): Host: scsi3 Channel: 00 Id: 00 Lun: 01"));
    EXPECT_TRUE(Contains(Log(), "HBTL (3 , 00, 00, 01)"));

    // The lookup cannot start: nothing removed, the detach still succeeds.
    host.take();
    host.answer(kProcScsiSecupd, -1);
    ASSERT_TRUE(client->DetachPartition(0, tessaPartInfo[0].partIdWord, 0, false));
    EXPECT_TRUE(Contains(host.commands, kProcScsiSecupd));
    for (const std::string& command : host.commands)
        EXPECT_NE(command.rfind("echo ", 0), 0u) << command;
}

// The label sits inside the sed program, which the shell must get as one
// word whatever the row holds.
TEST_F(DetachPartition, EsxLookupKeepsTheLabelInsideItsQuotes)
{
    client->hostOsIndex = ESX;
    tessaPartInfo[22].volumeLabel = "TES'; reboot; '22";
    const char* const lookup = "/bin/cat /proc/scsi/scsi | /bin/sed -n '/TES'\\''; reboot; '\\''22/{g;1!p;};h'";
    host.answer(lookup, 0, "");
    client->ESX_RemoveEntries(0x0400, 0, 22);
    EXPECT_EQ(host.commands, Strings{lookup});
}

TEST_F(DetachPartition, Esx4RescansEveryAdapter)
{
    client->hostOsIndex = ESX4;
    const char* const rescan =
        "for i in `/usr/sbin/esxcfg-scsidevs -A | /bin/awk '{print $1}' | uniq` ; do /usr/sbin/esxcfg-rescan $i &> "
        "/dev/null ; done";
    host.answer(rescan, 0);
    client->ESX_RemoveEntries(0x0400, 0, 22);
    EXPECT_EQ(host.commands, Strings{rescan});
}

struct RescanCase {
    const char* name;
    int rescanStatus;
    int listedStatus;   // 0: still listed
    Strings commands;
    std::vector<int> sleeps;
    const char* line;
};

void PrintTo(const RescanCase& c, std::ostream* os) { *os << c.name; }

class EsxiRescans : public PartitionHostTest, public ::testing::WithParamInterface<RescanCase> {};

TEST_P(EsxiRescans, UntilTheDropBoxIsGone)
{
    const RescanCase& c = GetParam();
    client->hostOsIndex = ESXi;
    host.answer(kRescan, c.rescanStatus);
    host.answer(kSecupdListed, c.listedStatus);
    // A static partition's detach looks for the drop box too.
    ASSERT_TRUE(client->DetachPartition(0, tessaPartInfo[0].partIdWord, 0, false));
    EXPECT_EQ(host.commands, c.commands);
    EXPECT_EQ(host.sleeps, c.sleeps);
    EXPECT_TRUE(host.umounts.empty());
    EXPECT_TRUE(Contains(Log(), c.line));
    EXPECT_TRUE(Contains(Log(), "Leaving CleanMountedPartition"));
}

Strings repeated(const Strings& round, int times)
{
    Strings all;
    for (int i = 0; i < times; ++i)
        all.insert(all.end(), round.begin(), round.end());
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Rounds, EsxiRescans,
    ::testing::Values(RescanCase{"GoneAtOnce", 0, 256, {kRescan, kSecupdListed}, {}, "SECUPD Removed"},
                      RescanCase{"StillListedAfterFiveRescans", 0, 0, repeated({kRescan, kSecupdListed}, 5),
                                 std::vector<int>(5, 2), "Running Rescan command to remove stale folder name : Try"},
                      RescanCase{"RescanFails", 256, 256, Strings(5, kRescan), std::vector<int>(5, 2),
                                 "Rescan Failed."}),
    [](const ::testing::TestParamInfo<RescanCase>& info) { return info.param.name; });
