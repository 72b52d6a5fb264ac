// What another user put at a mount folder's fixed name in /tmp before an
// unmount: a link, a file or a folder of their own is no mount of ours.
// The unmounts here are the real ones (umount(2) and the shell's umount,
// inside the test's own mount namespace), so a link that is followed
// takes the file system behind it away.

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "PartitionHostTest.h"

using Strings = std::vector<std::string>;
using namespace parthost;

namespace {

const uid_t kOtherUser = 1000;

bool exists(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// A file system mounted on `folder` (it differs from its parent's).
bool isMountPoint(const std::string& folder)
{
    struct stat info;
    struct stat parent;
    return stat(folder.c_str(), &info) == 0 && stat((folder + "/..").c_str(), &parent) == 0 &&
           info.st_dev != parent.st_dev;
}

} // namespace

class UnmountPlantedNames : public PartitionHostTest {
protected:
    void SetUp() override
    {
        PartitionHostTest::SetUp();
        if (HasFatalFailure())
            return;
        host.unmountForReal();
        host.answerPrefix("umount /tmp/", RunInShell);
        host.answerPrefix("rm -rf /tmp/", RunInShell);
        // The device links lie in the machine's /dev: only recorded.
        host.answer(kRemoveLinks, 0);
    }

    void TearDown() override
    {
        for (const std::string& folder : mounted)
            ::umount2(folder.c_str(), MNT_DETACH);
        PartitionHostTest::TearDown();
    }

    // Another user's file system: a tmpfs holding one file.
    void mountElsewhere(const std::string& folder)
    {
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0) << folder;
        ASSERT_EQ(::mount("planted", folder.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
        mounted.push_back(folder);
        std::ofstream(folder + "/theirs") << "their data";
    }

    // A link at `name` to another user's file system, owned by that user.
    void plantLink(const std::string& name, const std::string& target)
    {
        mountElsewhere(target);
        ASSERT_EQ(::symlink(target.c_str(), name.c_str()), 0) << name;
        ASSERT_EQ(::lchown(name.c_str(), kOtherUser, kOtherUser), 0);
    }

    static void expectUntouched(const std::string& folder)
    {
        EXPECT_TRUE(isMountPoint(folder)) << folder << " was unmounted";
        std::string content;
        std::getline(std::ifstream(folder + "/theirs"), content);
        EXPECT_EQ(content, "their data") << folder;
    }

    Strings mounted;
};

// The drop box's folder, TES001's (the one the detach of everything at
// each session start unmounts), and both through that detach.
struct PlantedLinksCase {
    const char* name;
    std::function<bool(secureTessa&)> unmount;
    bool dropBox;
    bool tes001;
};

void PrintTo(const PlantedLinksCase& c, std::ostream* os) { *os << c.name; }

class PlantedLinks : public UnmountPlantedNames, public ::testing::WithParamInterface<PlantedLinksCase> {};

TEST_P(PlantedLinks, AreRemovedAndTheFileSystemsBehindThemStayMounted)
{
    const PlantedLinksCase& c = GetParam();
    plantLink("/tmp/SECUPD", "/tmp/elsewhere-a");
    plantLink("/tmp/TES001", "/tmp/elsewhere-b");
    client->currentDropBox = "/dev/sectesupd-SECUPD";

    EXPECT_TRUE(c.unmount(*client));

    expectUntouched("/tmp/elsewhere-a");
    expectUntouched("/tmp/elsewhere-b");
    EXPECT_EQ(exists("/tmp/SECUPD"), !c.dropBox);
    EXPECT_EQ(exists("/tmp/TES001"), !c.tes001);
    EXPECT_TRUE(host.umounts.empty());
    for (const std::string& command : host.commands)
        EXPECT_EQ(command, kRemoveLinks);
    EXPECT_EQ(client->currentDropBox, "");
    const Strings log = Log();
    EXPECT_EQ(Contains(log, "Removing /tmp/SECUPD: it is not a folder"), c.dropBox);
    EXPECT_EQ(Contains(log, "Removing /tmp/TES001: it is not a folder"), c.tes001);
}

INSTANTIATE_TEST_SUITE_P(
    Unmounts, PlantedLinks,
    ::testing::Values(
        PlantedLinksCase{"DropBox", [](secureTessa& client) { return client.unmountDynPartition(); }, true, false},
        PlantedLinksCase{"NumberedPartition",
                         [](secureTessa& client) { return client.unmountStatPartition("TES001"); }, false, true},
        PlantedLinksCase{"DetachOfEverything", [](secureTessa& client) { return client.DetachAll(); }, true,
                         true}),
    [](const ::testing::TestParamInfo<PlantedLinksCase>& info) { return info.param.name; });

TEST_F(UnmountPlantedNames, TheDetachOfEverythingIsStillSent)
{
    plantLink("/tmp/SECUPD", "/tmp/elsewhere-a");
    plantLink("/tmp/TES001", "/tmp/elsewhere-b");
    ASSERT_TRUE(client->DetachAll());
    EXPECT_EQ(framesSinceSetUp(), Strings{"30 A2 06 34 12 00 FF 00 00 00 FF 00 00"});
    EXPECT_EQ(host.commands, (Strings{kRemoveLinks, kRemoveLinks}));
}

// A plain file is removed like a link; a folder of another owner is left
// as it is, with whatever is mounted on it. Neither is unmounted, nor
// handed to "rm -rf".
struct PlantedEntryCase {
    const char* name;
    bool dropBox;
    bool foreignFolder;
};

void PrintTo(const PlantedEntryCase& c, std::ostream* os) { *os << c.name; }

class PlantedEntries : public UnmountPlantedNames, public ::testing::WithParamInterface<PlantedEntryCase> {};

TEST_P(PlantedEntries, AreNeverUnmountedNorRemovedAsATree)
{
    const PlantedEntryCase& c = GetParam();
    const std::string folder = c.dropBox ? "/tmp/SECUPD" : "/tmp/TES001";
    if (c.foreignFolder) {
        mountElsewhere(folder);
        ASSERT_EQ(::chown(folder.c_str(), kOtherUser, kOtherUser), 0);
    } else {
        std::ofstream(folder) << "their file";
        ASSERT_EQ(::chown(folder.c_str(), kOtherUser, kOtherUser), 0);
    }

    EXPECT_TRUE(c.dropBox ? client->unmountDynPartition() : client->unmountStatPartition("TES001"));

    if (c.foreignFolder)
        expectUntouched(folder);
    else
        EXPECT_FALSE(exists(folder));
    EXPECT_TRUE(host.umounts.empty());
    EXPECT_EQ(host.commands, Strings{kRemoveLinks});
    EXPECT_TRUE(Contains(Log(), c.foreignFolder ? folder + " is not a folder of its own and is left alone"
                                                : "Removing " + folder + ": it is not a folder"));
}

INSTANTIATE_TEST_SUITE_P(Entries, PlantedEntries,
                         ::testing::Values(PlantedEntryCase{"DropBoxFile", true, false},
                                           PlantedEntryCase{"DropBoxForeignFolder", true, true},
                                           PlantedEntryCase{"NumberedPartitionFile", false, false},
                                           PlantedEntryCase{"NumberedPartitionForeignFolder", false, true}),
                         [](const ::testing::TestParamInfo<PlantedEntryCase>& info) { return info.param.name; });

// The tool's own mounts still come off and their folders go.
TEST_F(UnmountPlantedNames, OwnMountsAreUnmountedAndRemoved)
{
    mountElsewhere("/tmp/SECUPD");
    mountElsewhere("/tmp/TES001");
    ASSERT_TRUE(client->unmountDynPartition());
    ASSERT_TRUE(client->unmountStatPartition("TES001"));
    EXPECT_FALSE(exists("/tmp/SECUPD"));
    EXPECT_FALSE(exists("/tmp/TES001"));
    EXPECT_EQ(host.umounts, (Strings{"/tmp/SECUPD", "/tmp/SECUPD"}));
    EXPECT_EQ(host.commands,
              (Strings{"rm -rf /tmp/SECUPD > /dev/null 2>&1", kRemoveLinks, "umount /tmp/TES001 > /dev/null 2>&1",
                       "rm -rf /tmp/TES001 > /dev/null 2>&1", kRemoveLinks}));
}

// With nothing at the name, the shell's umount still runs (the usual
// session start), but on a folder of our own: a link planted while the
// shell starts could not take its place.
TEST_F(UnmountPlantedNames, TheShellsUmountFindsAFolderOfOurOwn)
{
    struct stat seen = {};
    host.answer("umount /tmp/TES001 > /dev/null 2>&1", [&seen](const std::string&) {
        if (lstat("/tmp/TES001", &seen) != 0)
            seen.st_mode = 0;
        return 8192;
    });
    ASSERT_TRUE(client->unmountStatPartition("TES001"));
    EXPECT_TRUE(S_ISDIR(seen.st_mode));
    EXPECT_EQ(seen.st_uid, 0u);
    EXPECT_FALSE(exists("/tmp/TES001"));
    EXPECT_EQ(host.commands, (Strings{"umount /tmp/TES001 > /dev/null 2>&1", "rm -rf /tmp/TES001 > /dev/null 2>&1",
                                      kRemoveLinks}));
}
