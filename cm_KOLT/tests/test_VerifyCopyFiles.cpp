// Verification of a copy onto a numbered partition: every copied file's
// digest against the one recorded when it was queued; and the queued
// deletion of a partition file.

#include <sys/stat.h>

#include <fstream>

#include "Md5Wrapper.h"
#include "PartitionHostTest.h"

namespace {

using Strings = std::vector<std::string>;

const char* const kMd5Abc = "900150983cd24fb0d6963f7d28e17f72";

class VerifyCopyFiles : public PartitionHostTest {
protected:
    void SetUp() override
    {
        PartitionHostTest::SetUp();
        if (HasFatalFailure())
            return;
        exposeAndMountable();
        host.answerPrefix("umount ", 0);
    }

    // A file as the controller left it on "TES022".
    void onPartition(const std::string& path, const std::string& content)
    {
        const std::string full = "/tmp/TES022/" + path;
        for (size_t slash = full.find('/', 12); slash != std::string::npos; slash = full.find('/', slash + 1))
            ::mkdir(full.substr(0, slash).c_str(), 0755);
        std::ofstream(full) << content;
    }

    void queue(exmlMode mode, const std::string& destination, const std::string& hash = "")
    {
        cfgEntry entry;
        entry.mode = mode;
        entry.destination = destination;
        entry.hash = hash;
        entry.partIndex = 22;
        client->cfgEntries.push_back(entry);
    }
};

} // namespace

TEST_F(VerifyCopyFiles, EveryCopiedFileMatchesAndThePartitionIsDetachedAgain)
{
    ASSERT_EQ(::mkdir("/tmp/TES022", 0755), 0);
    onPartition("1234/current/fw.bin", "abc");
    onPartition("1234/current/package.xml", "abc");
    queue(dirmake, "tes022/1234");
    queue(filecopy, "tes022/1234/current/fw.bin", kMd5Abc);
    queue(fileappend, "tes022/1234/current/package.xml", kMd5Abc);
    queue(filedelete, "tes022/1234/current/gone.bin");

    ASSERT_TRUE(client->VerifyCopyFiles());
    EXPECT_EQ(tessa.AttachedStaticBits(), 0);
    const Strings log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Verify Successful"), 2);
    EXPECT_TRUE(Contains(log, "/tmp/TES022/1234/current/fw.bin"));
    EXPECT_TRUE(Contains(log, "VerifyCopyFiles Succeeded"));
}

// A file missing on either side never verifies: "-1" is no digest. The
// first entry decides each case: the one after it is a good copy, and the
// check stops before it.
TEST_F(VerifyCopyFiles, AMismatchOrAnUnreadableFileFailsWith47)
{
    const struct {
        const char* content;   // null: missing on the partition
        const char* queuedHash;
    } cases[] = {{"abd", kMd5Abc}, {nullptr, kMd5Abc}, {nullptr, "-1"}, {"abc", "-1"}, {"abc", ""}};
    ASSERT_EQ(::mkdir("/tmp/TES022", 0755), 0);
    onPartition("1234/later.bin", "abc");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.content ? c.content : "(missing)") + " / " + c.queuedHash);
        ::unlink("/tmp/TES022/1234/fw.bin");
        if (c.content != nullptr)
            onPartition("1234/fw.bin", c.content);
        client->cfgEntries.clear();
        queue(filecopy, "tes022/1234/fw.bin", c.queuedHash);
        queue(filecopy, "tes022/1234/later.bin", kMd5Abc);
        client->storeErrorInfo(0);
        const size_t logLines = Log().size();

        EXPECT_FALSE(client->VerifyCopyFiles());
        EXPECT_EQ(client->getKOLTError(), KOLT_COPYMISMATCH);
        EXPECT_EQ(tessa.AttachedStaticBits(), 0);
        const Strings all = Log();
        const Strings log(all.begin() + static_cast<long>(logLines), all.end());
        const std::string found = c.content ? md5wrapper().getHashFromString(c.content) : "-1";
        EXPECT_TRUE(Contains(log, "File: /tmp/TES022/1234/fw.binTarget File Hash: " + found +
                                      ", Payload File Hash: " + c.queuedHash));
        EXPECT_TRUE(Contains(log, "The file copied to the tessa did not match the original file."));
        EXPECT_FALSE(Contains(log, "Verify Successful"));
        EXPECT_FALSE(Contains(log, "/tmp/TES022/1234/later.bin"));
        EXPECT_FALSE(Contains(log, "VerifyCopyFiles Succeeded"));
    }
}

// The front entry names the partition that is attached; a mismatching
// entry that names another row still leaves exactly that one detached.
TEST_F(VerifyCopyFiles, AMismatchDetachesThePartitionThatWasAttached)
{
    queue(dirmake, "tes022/1234");
    queue(filecopy, "tes001/1234/fw.bin", kMd5Abc);
    client->cfgEntries.back().partIndex = 1;
    client->storeErrorInfo(0);

    EXPECT_FALSE(client->VerifyCopyFiles());

    EXPECT_EQ(client->getKOLTError(), KOLT_COPYMISMATCH);
    EXPECT_EQ(tessa.AttachedStaticBits(), 0);
    EXPECT_EQ(tessa.CountSub(SimTessaController::DetachPartitions), 1u);
    EXPECT_EQ(tessaPartInfo[22].mountPath, "");
}

// Every file matched, but the controller refused the closing detach: the
// check fails with 23 rather than report a clean verification while TES022
// is still attached. The detach is not asked a second time.
TEST_F(VerifyCopyFiles, ARefusedClosingDetachFailsWith23)
{
    ASSERT_EQ(::mkdir("/tmp/TES022", 0755), 0);
    onPartition("1234/fw.bin", "abc");
    queue(filecopy, "tes022/1234/fw.bin", kMd5Abc);
    tessa.ScriptCodes(0x06, {0xC1});
    client->storeErrorInfo(0);

    EXPECT_FALSE(client->VerifyCopyFiles());

    EXPECT_EQ(client->getKOLTError(), KOLT_DETACHFAILED);
    EXPECT_EQ(tessa.CountSub(SimTessaController::DetachPartitions), 1u);
    EXPECT_NE(tessa.AttachedStaticBits(), 0);
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "Verify Successful"));
    EXPECT_TRUE(Contains(log, "DetachPartition failed"));
    EXPECT_TRUE(Contains(log, "Verification failed."));
    EXPECT_FALSE(Contains(log, "VerifyCopyFiles Succeeded"));
}

TEST_F(VerifyCopyFiles, RefusalsBeforeAnyFileIsRead)
{
    client->storeErrorInfo(0);
    EXPECT_TRUE(client->VerifyCopyFiles());   // nothing queued, nothing to verify
    EXPECT_TRUE(framesSinceSetUp().empty());

    queue(filecopy, "tes022/fw.bin", kMd5Abc);
    client->cfgEntries.back().partIndex = 257;
    EXPECT_FALSE(client->VerifyCopyFiles());
    EXPECT_EQ(client->getKOLTError(), KOLT_INVALIDPARTITION);
    EXPECT_TRUE(framesSinceSetUp().empty());

    client->cfgEntries.back().partIndex = 22;
    tessa.ScriptCodes(0x05, {0x04});
    EXPECT_FALSE(client->VerifyCopyFiles());
    EXPECT_EQ(client->getKOLTError(), KOLT_ATTACHFAILED);
    EXPECT_TRUE(Contains(Log(), "Attach partition failed"));
    EXPECT_TRUE(Contains(Log(), "Verification failed."));
}

TEST_F(VerifyCopyFiles, DeleteTessaFileQueuesWithoutATransactionOrDuplicateCheck)
{
    client->l_state = 0;
    client->entryCounter = 1;
    ASSERT_TRUE(client->DeleteTessaFile("tes022/1234/old.bin"));
    ASSERT_TRUE(client->DeleteTessaFile("tes022/1234/old.bin"));
    ASSERT_EQ(client->cfgEntries.size(), 2u);
    const cfgEntry& e = client->cfgEntries[0];
    EXPECT_EQ(e.order, 2);
    EXPECT_EQ(client->cfgEntries[1].order, 3);
    EXPECT_EQ(e.mode, filedelete);
    EXPECT_EQ(e.algorithmLabel, 1);
    EXPECT_EQ(e.destination, "tes022/1234/old.bin");
    EXPECT_EQ(e.partIndex, 22);
    EXPECT_TRUE(e.source.empty());
}

// A destination that names no place on the partition is never looked for:
// "tes022/../outside.bin" would read a file beside the mount point and
// vouch for it.
TEST_F(VerifyCopyFiles, ADestinationNamingNoPlaceIsNoVerifiedCopy)
{
    ASSERT_EQ(::mkdir("/tmp/TES022", 0755), 0);
    std::ofstream("/tmp/outside.bin") << "abc";
    onPartition("1234/fw.bin", "abc");
    queue(filecopy, "tes022/1234/fw.bin", kMd5Abc);
    queue(filecopy, "tes022/../outside.bin", kMd5Abc);
    client->storeErrorInfo(0);

    EXPECT_FALSE(client->VerifyCopyFiles());

    EXPECT_EQ(client->getKOLTError(), KOLT_COPYMISMATCH);
    EXPECT_EQ(tessa.AttachedStaticBits(), 0);
    const Strings log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Verify Successful"), 1);
    EXPECT_TRUE(Contains(log, "No place on the partition to verify: tes022/../outside.bin"));
    EXPECT_FALSE(Contains(log, "/tmp/TES022/../outside.bin"));
}

// The controller deletes what a queued deletion names: a path that names no
// place on a partition is not queued.
TEST_F(VerifyCopyFiles, DeleteTessaFileRefusesAPathNamingNoPlace)
{
    client->entryCounter = 1;
    for (const char* path : {"tes022/1234/../../x", "tes022//x", "tes022/1234/.", "tes022/a\\b"}) {
        SCOPED_TRACE(path);
        client->storeErrorInfo(0);
        EXPECT_FALSE(client->DeleteTessaFile(path));
        EXPECT_EQ(client->getKOLTError(), KOLT_EMPTYDESTINATION);
    }
    EXPECT_TRUE(client->cfgEntries.empty());
    EXPECT_EQ(client->entryCounter, 1u);
    EXPECT_TRUE(Contains(Log(), "DeleteTessaFile: the path names no place on a partition, it holds a \"..\" name: "
                                "tes022/1234/../../x"));
}
