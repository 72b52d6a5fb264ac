// Mount points, mounting and unmounting of exposed partitions: the exact
// commands, the pauses, the umount(2) loop and its bound, the checks of
// labels, device paths and mount folders before anything reaches a shell.

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "PartitionHostTest.h"

using Strings = std::vector<std::string>;
using namespace parthost;

namespace {

const char* const kDynMkdir = "mkdir -p /tmp/SECUPD";
const char* const kDynLink = "ln -sf /dev/sdb /dev/sectesupd-SECUPD";
const char* const kDynMount = "mount -n -t vfat -oshortname=mixed,rw /dev/sectesupd-SECUPD /tmp/SECUPD";
const char* const kStatMount =
    "mount -t vfat -oshortname=mixed,ro /dev/sectesupd-TES022 /tmp/TES022 > /dev/null 2>&1";

bool isRealFolder(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

TEST(MountPoints, FollowTheHost)
{
    OfflineClientHost offline;
    secureTessa client;
    std::string mountPoint;
    client.hostOsIndex = REDHAT;
    EXPECT_TRUE(client.getPartDrive("TES022", &mountPoint));
    EXPECT_EQ(mountPoint, "/tmp/TES022/");
    client.hostOsIndex = ESXi;
    EXPECT_TRUE(client.getPartDrive("TES022", &mountPoint));
    EXPECT_EQ(mountPoint, "/vmfs/volumes/TES022/");

    char buffer[kMountPointBufferBytes];
    EXPECT_TRUE(client.getDynPartDrive(dynDriveName, buffer));
    EXPECT_STREQ(buffer, "/vmfs/volumes/SECUPD/");
    client.hostOsIndex = -1;
    EXPECT_TRUE(client.getDynPartDrive(dynDriveName, buffer));
    EXPECT_STREQ(buffer, "/tmp/SECUPD/");
}

TEST(MountPoints, DropBoxMountPointNeverWritesPastItsBuffer)
{
    OfflineClientHost offline;
    secureTessa client;
    client.hostOsIndex = REDHAT;
    // "/tmp/SECUPD/" and its terminating zero take 13 bytes.
    char buffer[16];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_FALSE(client.getDynPartDrive("SECUPD", buffer, 12));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(std::string(buffer + 1, 15), std::string(15, '#'));

    EXPECT_TRUE(client.getDynPartDrive("SECUPD", buffer, 13));
    EXPECT_STREQ(buffer, "/tmp/SECUPD/");
    EXPECT_EQ(buffer[13], '#');

    const std::string longName(2000, 'A');
    char big[kMountPointBufferBytes + 1];
    big[kMountPointBufferBytes] = '#';
    EXPECT_FALSE(client.getDynPartDrive(longName.c_str(), big));
    EXPECT_EQ(big[kMountPointBufferBytes], '#');
    EXPECT_FALSE(client.getDynPartDrive(nullptr, big));
    EXPECT_FALSE(client.getDynPartDrive("SECUPD", nullptr));
}

class MountPartition : public PartitionHostTest {
protected:
    void SetUp() override
    {
        PartitionHostTest::SetUp();
        if (HasFatalFailure())
            return;
        exposeAndMountable();
    }
};

TEST_F(MountPartition, DropBoxIsLinkedAndMountedReadWrite)
{
    ASSERT_TRUE(client->mountDynPartition());
    EXPECT_EQ(host.commands, (Strings{kSgProbe, kBlockdev, kDynMkdir, kDynLink, kDynMount}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{5, 1}));
    EXPECT_EQ(client->currentDropBox, "/dev/sectesupd-SECUPD");
    EXPECT_TRUE(isRealFolder("/tmp/SECUPD"));
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "Creating directory mkdir -p /tmp/SECUPD"));
    EXPECT_TRUE(Contains(log, "Creating Link ln -sf /dev/sdb /dev/sectesupd-SECUPD"));
    EXPECT_TRUE(Contains(log, "Mounting partition /dev/sectesupd-SECUPD on /tmp/SECUPD"));
    EXPECT_TRUE(Contains(log, "Dynamic Partition Mounted"));
}

TEST_F(MountPartition, NumberedPartitionIsMountedReadOnly)
{
    ASSERT_TRUE(client->mountStatPartition("TES022"));
    EXPECT_EQ(host.commands,
              (Strings{kSgProbe, kBlockdev, "mkdir -p /tmp/TES022", "ln -sf /dev/sdc /dev/sectesupd-TES022",
                       kStatMount}));
    EXPECT_EQ(client->currentDropBox, "/dev/sectesupd-TES022");
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "Creating directory mkdir -p "));
    EXPECT_TRUE(Contains(log, "Partition Mounted"));
}

TEST_F(MountPartition, MountIsTriedSixtyTimesOneSecondApart)
{
    int mounts = 0;
    host.answer(kDynMount, [&](const std::string&) { return ++mounts == 60 ? 0 : 8192; });
    EXPECT_TRUE(client->mountDynPartition());
    EXPECT_EQ(mounts, 60);

    host.take();
    host.sleeps.clear();
    mounts = 0;
    host.answer(kDynMount, [&](const std::string&) { ++mounts; return 8192; });
    client->currentDropBox = "SECUPD";
    EXPECT_FALSE(client->mountDynPartition());
    EXPECT_EQ(mounts, 60);
    std::vector<int> sleeps{5};   // the device search
    sleeps.insert(sleeps.end(), 60, 1);
    EXPECT_EQ(host.sleeps, sleeps);
    const Strings commands = host.take();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2], "rm -rf /tmp/SECUPD");
    EXPECT_EQ(commands.back(), "rm -f /dev/sectesupd-SECUPD");
    EXPECT_EQ(client->currentDropBox, "SECUPD");
    EXPECT_TRUE(Contains(Log(), "mount failed"));
}

TEST_F(MountPartition, FailedMkdirOrLinkStopsWithItsOwnCleanUp)
{
    host.answer(kDynMkdir, 256);
    EXPECT_FALSE(client->mountDynPartition());
    EXPECT_EQ(host.take(), (Strings{kSgProbe, kBlockdev, kDynMkdir}));
    EXPECT_TRUE(Contains(Log(), "mkdir failed"));

    host.answer(kDynMkdir, [](const std::string&) { return ::mkdir("/tmp/SECUPD", 0755) == 0 ? 0 : 256; });
    host.answer(kDynLink, 256);
    EXPECT_FALSE(client->mountDynPartition());
    EXPECT_EQ(host.take(), (Strings{kSgProbe, kBlockdev, kDynMkdir, kDynLink, "rm -rf /tmp/SECUPD"}));
    EXPECT_TRUE(Contains(Log(), "Link creation failed"));
}

TEST_F(MountPartition, PartitionNotFoundMountsNothing)
{
    scsi.nodes.clear();
    EXPECT_FALSE(client->mountDynPartition());
    Strings searched{kSgProbe};
    searched.insert(searched.end(), 60, kBlockdev);
    EXPECT_EQ(host.commands, searched);
    EXPECT_TRUE(Contains(Log(), "Correct Volume Label not found.  Partition Not Mounted"));
    EXPECT_FALSE(isRealFolder("/tmp/SECUPD"));
}

// A label or a device path goes into shell commands: anything but a
// partition label and a disk node is refused before the first command.
TEST_F(MountPartition, LabelsAndDevicePathsAreCheckedBeforeAnyCommand)
{
    for (const char* label : {"", "TES02", "tes022", "TES022 ", "TES0;2", "../TES", "TES0222"}) {
        EXPECT_FALSE(client->mountStatPartition(label)) << label;
        EXPECT_FALSE(client->unmountStatPartition(label)) << label;
    }
    EXPECT_TRUE(host.commands.empty()) << host.commands.front();

    // On ESXi the search gives the hypervisor's volume folder, which is no
    // disk to link and mount.
    client->hostOsIndex = ESXi;
    host.answer("esxcli storage filesystem rescan", 0);
    host.answer("lsusb | grep -i 0624:0250 > /dev/null", 0);
    host.answer("esxcli storage filesystem automount", 0);
    host.answer("ls /vmfs/volumes/ | grep TES022 > /dev/null", 0);
    EXPECT_FALSE(client->mountStatPartition("TES022"));
    for (const std::string& command : host.commands) {
        EXPECT_NE(command.rfind("mkdir", 0), 0u) << command;
        EXPECT_NE(command.rfind("ln ", 0), 0u) << command;
        EXPECT_NE(command.rfind("mount ", 0), 0u) << command;
    }
}

TEST_F(MountPartition, DropBoxOnESXiIsTheHypervisorsVolume)
{
    client->hostOsIndex = ESXi;
    client->currentDropBox = "SECUPD";
    host.answer("esxcli storage filesystem rescan", 0);
    host.answer("lsusb | grep -i 0624:0250 > /dev/null", 0);
    host.answer("esxcli storage filesystem automount", 0);
    host.answer("ls /vmfs/volumes/ | grep SECUPD > /dev/null", 0);
    EXPECT_TRUE(client->mountDynPartition());
    EXPECT_EQ(host.commands.back(), "ls /vmfs/volumes/ | grep SECUPD > /dev/null");
    EXPECT_EQ(client->currentDropBox, "SECUPD");
}

// What another user put at the fixed mount folder first never receives the
// mount: a link or file is removed (the link, not its target), a folder of
// another owner is refused.
TEST_F(MountPartition, PlantedMountFolderIsRemovedOrRefused)
{
    ASSERT_EQ(::mkdir("/tmp/elsewhere", 0755), 0);

    ASSERT_EQ(::symlink("/tmp/elsewhere", "/tmp/SECUPD"), 0);
    EXPECT_TRUE(client->mountDynPartition());
    EXPECT_TRUE(isRealFolder("/tmp/SECUPD"));
    EXPECT_TRUE(isRealFolder("/tmp/elsewhere"));
    ASSERT_EQ(::rmdir("/tmp/SECUPD"), 0);

    { std::ofstream planted("/tmp/SECUPD"); }
    EXPECT_TRUE(client->mountDynPartition());
    EXPECT_TRUE(isRealFolder("/tmp/SECUPD"));
    ASSERT_EQ(::rmdir("/tmp/SECUPD"), 0);
    host.take();

    ASSERT_EQ(::mkdir("/tmp/SECUPD", 0777), 0);
    ASSERT_EQ(::chown("/tmp/SECUPD", 1000, 1000), 0);
    EXPECT_FALSE(client->mountDynPartition());
    EXPECT_EQ(host.take(), (Strings{kSgProbe, kBlockdev}));
    EXPECT_TRUE(isRealFolder("/tmp/SECUPD"));
    ASSERT_EQ(::rmdir("/tmp/SECUPD"), 0);

    // Planted again between the check and mkdir: nothing is linked, mounted
    // or removed.
    host.answer(kDynMkdir, [](const std::string&) { return ::symlink("/tmp/elsewhere", "/tmp/SECUPD") == 0 ? 0 : 256; });
    EXPECT_FALSE(client->mountDynPartition());
    EXPECT_EQ(host.take(), (Strings{kSgProbe, kBlockdev, kDynMkdir}));
}

struct UmountCase {
    const char* name;
    bool folderThere;           // a root-owned /tmp/SECUPD before the unmount
    std::vector<int> answers;   // umount(2) answers; EINVAL once they run out
    size_t calls;
    std::vector<int> sleeps;
    bool removesFolder;
    bool result;
};

void PrintTo(const UmountCase& c, std::ostream* os) { *os << c.name; }

class UnmountDropBox : public MountPartition, public ::testing::WithParamInterface<UmountCase> {};

TEST_P(UnmountDropBox, UmountLoop)
{
    const UmountCase& c = GetParam();
    if (c.folderThere) {
        ASSERT_EQ(::mkdir("/tmp/SECUPD", 0755), 0);
    }
    for (int answer : c.answers)
        host.scriptUmount({answer});
    client->currentDropBox = "/dev/sectesupd-SECUPD";
    EXPECT_EQ(client->unmountDynPartition(), c.result);
    EXPECT_EQ(host.umounts, Strings(c.calls, "/tmp/SECUPD"));
    EXPECT_EQ(host.sleeps, c.sleeps);
    Strings expected;
    if (c.removesFolder)
        expected.push_back("rm -rf /tmp/SECUPD > /dev/null 2>&1");
    expected.push_back(kRemoveLinks);
    EXPECT_EQ(host.commands, expected);
    EXPECT_EQ(client->currentDropBox, c.result ? "" : "/dev/sectesupd-SECUPD");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, UnmountDropBox,
    ::testing::Values(UmountCase{"StackedMountsAllComeOff", true, {0, 0}, 3, {}, true, true},
                      UmountCase{"BusyIsWaitedForASecondEach", true, {EBUSY, EBUSY, EBUSY}, 4, {1, 1, 1}, true, true},
                      UmountCase{"NothingMounted", true, {}, 1, {}, true, true},
                      UmountCase{"FolderGoneAfterTheLook", true, {ENOENT}, 1, {}, true, true},
                      UmountCase{"NoFolderIsNeverAskedAbout", false, {0}, 0, {}, true, true},
                      UmountCase{"BusyForAMinuteIsLeftMounted", true, std::vector<int>(61, EBUSY), 61,
                                 std::vector<int>(60, 1), false, false},
                      UmountCase{"NotPermittedIsLeftMounted", true, {EPERM}, 1, {}, false, false}),
    [](const ::testing::TestParamInfo<UmountCase>& info) { return info.param.name; });

// The unmount's lines are the same whether the kernel was asked or not: a
// folder with nothing mounted answers EINVAL, a missing one ENOENT, which
// the unmount takes without asking.
TEST_F(MountPartition, UnmountLogsTheErrno)
{
    const struct {
        bool folderThere;
        const char* error;
        size_t calls;
    } cases[] = {{true, "Umount Error Num = 22", 1}, {false, "Umount Error Num = 2", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        if (c.folderThere) {
            ASSERT_EQ(::mkdir("/tmp/SECUPD", 0755), 0);
        }
        host.umounts.clear();
        EXPECT_TRUE(client->unmountDynPartition());
        EXPECT_EQ(host.umounts, Strings(c.calls, "/tmp/SECUPD"));
        const Strings log = Log();
        const auto entry = std::find(log.rbegin(), log.rend(), "-- umountDynPartition Entry");
        ASSERT_NE(entry, log.rend());
        Strings unmount;
        for (auto line = entry.base(); line != log.end(); ++line)
            if (line->rfind("Umount", 0) == 0 || line->rfind("Unmounting", 0) == 0)
                unmount.push_back(*line);
        EXPECT_EQ(unmount, (Strings{"Unmounting dir -> /tmp/SECUPD", c.error}));
        // The recorded "rm -rf" removed nothing.
        ::rmdir("/tmp/SECUPD");
    }
}

// A drop box that is still mounted (an earlier unmount gave up on it) is
// never emptied by the clean-up of a failed mount.
TEST_F(MountPartition, MountedFolderIsNeverRemoved)
{
    ASSERT_EQ(::mkdir("/tmp/SECUPD", 0755), 0);
    ASSERT_EQ(::mount("zagodropbox", "/tmp/SECUPD", "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
    { std::ofstream file("/tmp/SECUPD/payload.bin"); file << "data"; }
    host.answer(kDynMount, 8192);
    EXPECT_FALSE(client->mountDynPartition());
    EXPECT_EQ(host.commands.back(), "rm -f /dev/sectesupd-SECUPD");
    for (const std::string& command : host.commands)
        EXPECT_NE(command.rfind("rm -rf", 0), 0u) << command;
    EXPECT_TRUE(Contains(Log(), "/tmp/SECUPD is still mounted and is not removed"));
    ::umount2("/tmp/SECUPD", MNT_DETACH);
}

TEST_F(MountPartition, DropBoxOnESXiNeedsNoUnmount)
{
    client->hostOsIndex = ESXi;
    client->currentDropBox = "SECUPD";
    EXPECT_TRUE(client->unmountDynPartition());
    EXPECT_TRUE(host.umounts.empty());
    EXPECT_TRUE(host.commands.empty());
    EXPECT_EQ(client->currentDropBox, "");
    EXPECT_TRUE(Contains(Log(), "Unmount not needed for ESXi"));
}

TEST_F(MountPartition, NumberedPartitionIsRemovedOnlyWhenUnmounted)
{
    const char* const umount = "umount /tmp/TES022 > /dev/null 2>&1";
    client->currentDropBox = "/dev/sectesupd-TES022";
    host.answer(umount, 0);
    EXPECT_TRUE(client->unmountStatPartition("TES022"));
    EXPECT_EQ(host.take(), (Strings{umount, "rm -rf /tmp/TES022 > /dev/null 2>&1", kRemoveLinks}));
    EXPECT_EQ(client->currentDropBox, "");

    EXPECT_TRUE(host.umounts.empty());
    EXPECT_TRUE(Contains(Log(), "static partition umounted."));
}

// When the shell's umount fails, umount(2) tells why: a folder that is no
// mount point (the usual case at session start) or is gone is the stale
// one to remove; a partition still mounted keeps its folder.
TEST_F(MountPartition, FailedShellUnmountRemovesTheFolderOnlyWhenNothingIsMountedThere)
{
    const char* const umount = "umount /tmp/TES022 > /dev/null 2>&1";
    const char* const remove = "rm -rf /tmp/TES022 > /dev/null 2>&1";
    host.answer(umount, 8192);
    const struct {
        int kernelAnswer;
        bool result;
    } cases[] = {{EINVAL, true}, {ENOENT, true}, {0, true}, {EBUSY, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kernelAnswer);
        host.scriptUmount({c.kernelAnswer});
        host.umounts.clear();
        EXPECT_EQ(client->unmountStatPartition("TES022"), c.result);
        EXPECT_EQ(host.umounts, Strings{"/tmp/TES022"});
        const Strings expected = c.result ? Strings{umount, remove, kRemoveLinks} : Strings{umount, kRemoveLinks};
        EXPECT_EQ(host.take(), expected);
    }
}
