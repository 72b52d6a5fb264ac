// The staging queue: opening and closing a copy transaction, what each
// mode stores, the order of the argument checks, duplicates, and the
// digests that make a file fit to stage.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "KoltTestSupport.h"

namespace {

class CopyTransactionTest : public KoltHostTest {
protected:
    void SetUp() override
    {
        client = ClientWithoutLifeCycle();
        client->storeErrorInfo(0);
    }

    std::unique_ptr<secureTessa> client;
};

const char* const kMd5Abc = "900150983cd24fb0d6963f7d28e17f72";
const char* const kSha256Abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

} // namespace

TEST(GetPartNum, LeadingNumberOfTheFirstComponent)
{
    const struct {
        const char* path;
        int row;
    } cases[] = {{"", 0}, {"7", 7}, {"x/7", 0}, {"22/payload", 22}, {"tes022/payload", 0}, {"/22", 0},
                 {"12abc/x", 12}, {"-3/x", -3}};
    for (const auto& c : cases)
        EXPECT_EQ(GetPartNum(c.path), c.row) << c.path;
}

TEST_F(CopyTransactionTest, StartOpensAnEmptyQueueAndASecondStartKeepsIt)
{
    ASSERT_TRUE(client->StartCopyFile());
    EXPECT_EQ(client->l_state, 1u);
    EXPECT_EQ(client->entryCounter, 1u);
    ASSERT_TRUE(client->AddFile("", "tes022/1234", dirmake, DIGEST_MD5));

    EXPECT_FALSE(client->StartCopyFile());
    EXPECT_EQ(client->getKOLTError(), KOLT_TRANSACTIONOPEN);
    EXPECT_EQ(client->cfgEntries.size(), 1u);
    EXPECT_EQ(client->entryCounter, 2u);

    // Closing keeps the queue; the next transaction starts it afresh.
    ASSERT_TRUE(client->EndCopyFile());
    EXPECT_EQ(client->l_state, 0u);
    EXPECT_EQ(client->cfgEntries.size(), 1u);
    ASSERT_TRUE(client->StartCopyFile());
    EXPECT_TRUE(client->cfgEntries.empty());
    EXPECT_EQ(client->entryCounter, 1u);
}

// The checks run in this order: source, destination, open transaction.
TEST_F(CopyTransactionTest, ArgumentChecksAndTheirOrder)
{
    const struct {
        bool open;
        const char* source;
        const char* destination;
        exmlMode mode;
        uint8_t error;
        uint32_t errorClass;
    } cases[] = {
        {false, "", "tes022/x", filecopy, KOLT_EMPTYSOURCE, 4},
        {false, "a", "", fileappend, KOLT_EMPTYDESTINATION, 3},
        {false, "", "", dirmake, KOLT_NOTRANSACTION, 6},
        {true, "", "x", signedunzip, KOLT_EMPTYSOURCE, 4},
        {true, "a", "", filemove, KOLT_EMPTYDESTINATION, 3},
        {true, "", "", dircopy, KOLT_EMPTYSOURCE, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " -> " + c.destination);
        client->EndCopyFile();
        if (c.open) {
            ASSERT_TRUE(client->StartCopyFile());
        }
        client->addFileErrorClass = 0;
        EXPECT_FALSE(client->AddFile(c.source, c.destination, c.mode, DIGEST_MD5));
        EXPECT_EQ(client->getKOLTError(), c.error);
        EXPECT_EQ(client->addFileErrorClass, c.errorClass);
        EXPECT_TRUE(client->cfgEntries.empty());
    }
}

TEST_F(CopyTransactionTest, WhatEachModeStores)
{
    dir.write("fw.bin", "abc");
    dir.write("fw.bin.sig", "sig!");
    dir.write("package.xml", "<p/>");
    const std::string fw = dir.file("fw.bin");
    ASSERT_TRUE(client->StartCopyFile());

    ASSERT_TRUE(client->AddFile(fw, "/payload/fw.bin", filecopy, DIGEST_SHA256));
    ASSERT_TRUE(client->AddFile(fw, "tes022/1234/current/fw.bin", filecopy, DIGEST_MD5));
    ASSERT_TRUE(client->AddFile(fw, "tes022/1234/current/p.xml", filecopy, DIGEST_GPG));
    ASSERT_TRUE(client->AddFile("tes022/1234/current", "tes022/1234/previous", dirmove, DIGEST_MD5));
    ASSERT_TRUE(client->AddFile("", "tes022/1234/current/old.bin", filedelete, DIGEST_MD5));
    ASSERT_TRUE(client->AddFile("tes022/1234/previous", "", dirdelete, DIGEST_MD5));
    ASSERT_TRUE(client->AddFile(fw, "tes022/1234/big.bin", fileappend, DIGEST_MD5));
    ASSERT_TRUE(client->AddFile(fw, "", ssib, DIGEST_MD5));
    ASSERT_TRUE(client->AddFile(fw, "tes021/unzip", signedunzip, DIGEST_MD5));
    ASSERT_TRUE(client->AddFile("", "", static_cast<exmlMode>(0), DIGEST_MD5));

    struct stat info;
    ASSERT_EQ(stat(fw.c_str(), &info), 0);
    const struct {
        exmlMode mode;
        const char* source;
        const char* destination;
        uint64_t size;
        const char* hash;
        int hashAlgorithm;
        int algorithmLabel;
        bool omitDestination;
        uint16_t partIndex;
        bool statted;
    } expected[] = {
        {filecopy, "fw", "/payload/fw.bin", 3, kSha256Abc, 2, 2, true, 0, true},
        {filecopy, "fw", "tes022/1234/current/fw.bin", 3, kMd5Abc, 1, 1, false, 22, true},
        {filecopy, "fw", "tes022/1234/current/p.xml", 3, "", 0, 1, false, 22, true},
        {dirmove, "tes022/1234/current", "tes022/1234/previous", 0, "", 0, 1, false, 22, false},
        {filedelete, "", "tes022/1234/current/old.bin", 0, "", 0, 1, false, 22, false},
        {dirdelete, "tes022/1234/previous", "", 0, "", 0, 1, false, 22, false},
        {fileappend, "fw", "tes022/1234/big.bin", 3, kMd5Abc, 0, 1, false, 22, true},
        {ssib, "fw", "", 3, kMd5Abc, 0, 1, false, 0, true},
        {signedunzip, "fw", "tes021/unzip", 3 + 4 + 4, "", 0, 1, false, 21, true},
        {static_cast<exmlMode>(0), "", "", 0, "", 0, 1, false, 0, false},
    };
    ASSERT_EQ(client->cfgEntries.size(), sizeof(expected) / sizeof(expected[0]));
    for (size_t i = 0; i < client->cfgEntries.size(); ++i) {
        const cfgEntry& e = client->cfgEntries[i];
        const auto& x = expected[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(e.order, static_cast<int32_t>(i + 1));
        EXPECT_EQ(e.mode, x.mode);
        EXPECT_EQ(e.source, std::string(x.source) == "fw" ? fw : x.source);
        EXPECT_EQ(e.destination, x.destination);
        EXPECT_EQ(e.size, x.size);
        EXPECT_EQ(e.hash, x.hash);
        EXPECT_EQ(e.hashAlgorithm, x.hashAlgorithm);
        EXPECT_EQ(e.algorithmLabel, x.algorithmLabel);
        EXPECT_EQ(e.omitDestination, x.omitDestination);
        EXPECT_EQ(e.partIndex, x.partIndex);
        EXPECT_EQ(e.sourceMode, x.statted ? info.st_mode : 0u);
        EXPECT_EQ(e.stagedBytes, 0);
        EXPECT_EQ(e.splitState, 0u);
    }
    EXPECT_EQ(client->entryCounter, 11u);
}

TEST_F(CopyTransactionTest, AnEqualPairIsQueuedOnceWhateverTheMode)
{
    ASSERT_TRUE(client->StartCopyFile());
    ASSERT_TRUE(client->AddFile("", "/payload", dirmake, DIGEST_SHA256));
    EXPECT_TRUE(client->AddFile("", "/payload", filedelete, DIGEST_MD5));
    EXPECT_TRUE(client->AddFile("", "/payload", dirmake, DIGEST_SHA256));
    ASSERT_EQ(client->cfgEntries.size(), 1u);
    EXPECT_EQ(client->cfgEntries[0].mode, dirmake);
    EXPECT_EQ(client->entryCounter, 2u);
}

// A source that cannot be read has no digest: nothing is queued rather
// than an entry whose "digest" is an error text.
TEST_F(CopyTransactionTest, ASourceWithoutADigestIsRefused)
{
    dir.write("fw.bin", "abc");
    dir.write("fw.bin.sig", "s");
    dir.write("package.xml", "<p/>");
    dir.write("unreadable.bin", "abc");
    ASSERT_EQ(chmod(dir.file("unreadable.bin").c_str(), 0), 0);
    ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
    const bool root = geteuid() == 0;

    const struct {
        std::string source;
        exmlMode mode;
        digestType digest;
        uint8_t error;
        uint8_t accessState;
    } cases[] = {
        {dir.file("missing.bin"), filecopy, DIGEST_MD5, KOLT_STATFAILED, ENOENT},
        {dir.file("missing.bin"), fileappend, DIGEST_MD5, KOLT_STATFAILED, ENOENT},
        {dir.file("missing.bin"), ssib, DIGEST_MD5, KOLT_STATFAILED, ENOENT},
        {dir.file("folder"), filecopy, DIGEST_MD5, KOLT_STATFAILED, EISDIR},
        {dir.file("folder"), filecopy, DIGEST_SHA256, KOLT_STATFAILED, EISDIR},
        {dir.file("missing.bin"), signedunzip, DIGEST_MD5, KOLT_STATFAILED, ENOENT},
        {dir.file("package.xml"), signedunzip, DIGEST_MD5, KOLT_NOSIGFILE, ENOENT},
    };
    ASSERT_TRUE(client->StartCopyFile());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        client->accessState = 0;
        EXPECT_FALSE(client->AddFile(c.source, "tes022/x", c.mode, c.digest));
        EXPECT_EQ(client->getKOLTError(), c.error);
        EXPECT_EQ(client->accessState, c.accessState);
    }
    // As root the file still opens; elsewhere its digest cannot be read.
    if (!root) {
        EXPECT_FALSE(client->AddFile(dir.file("unreadable.bin"), "tes022/x", filecopy, DIGEST_MD5));
        EXPECT_FALSE(client->AddFile(dir.file("unreadable.bin"), "tes022/x", filecopy, DIGEST_SHA256));
    }
    EXPECT_TRUE(client->cfgEntries.empty());
    EXPECT_EQ(client->entryCounter, 1u);

    ASSERT_EQ(unlink(dir.file("package.xml").c_str()), 0);
    EXPECT_FALSE(client->AddFile(dir.file("fw.bin"), "tes022/x", signedunzip, DIGEST_MD5));
    EXPECT_EQ(client->getKOLTError(), KOLT_NOPACKAGEXML);
}

// A regular file that opens but cannot be read (a disk that answers with
// an I/O error; here the process's own memory, whose first page is never
// mapped): no digest, so nothing is queued, root or not.
TEST_F(CopyTransactionTest, ASourceWhoseReadFailsIsRefusedWith8)
{
    const char* const unreadable = "/proc/self/mem";
    struct stat info;
    ASSERT_EQ(stat(unreadable, &info), 0);
    ASSERT_TRUE(S_ISREG(info.st_mode));
    ASSERT_TRUE(client->StartCopyFile());
    const struct {
        exmlMode mode;
        digestType digest;
    } cases[] = {{filecopy, DIGEST_MD5}, {filecopy, DIGEST_SHA256}, {fileappend, DIGEST_MD5}, {ssib, DIGEST_MD5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.digest));
        client->storeErrorInfo(0);
        EXPECT_FALSE(client->AddFile(unreadable, "tes022/x", c.mode, c.digest));
        EXPECT_EQ(client->getKOLTError(), KOLT_STATFAILED);
    }
    client->storeErrorInfo(0);
    EXPECT_FALSE(client->AddFile(unreadable, "22/x", true));
    EXPECT_EQ(client->getKOLTError(), KOLT_STATFAILED);
    EXPECT_TRUE(client->cfgEntries.empty());
    EXPECT_EQ(client->entryCounter, 1u);
}

TEST_F(CopyTransactionTest, OlderFormQueuesAnMd5FilecopyNumberedFromTwo)
{
    dir.write("fw.bin", "abc");
    EXPECT_FALSE(client->AddFile(dir.file("fw.bin"), "22/fw.bin", false));
    EXPECT_EQ(client->getKOLTError(), KOLT_NOTRANSACTION);
    ASSERT_TRUE(client->StartCopyFile());
    EXPECT_FALSE(client->AddFile("", "22/fw.bin", true));
    EXPECT_EQ(client->getKOLTError(), KOLT_EMPTYSOURCE);
    EXPECT_FALSE(client->AddFile(dir.file("none"), "22/fw.bin", true));
    EXPECT_EQ(client->getKOLTError(), KOLT_STATFAILED);

    ASSERT_TRUE(client->AddFile(dir.file("fw.bin"), "22/fw.bin", true));
    EXPECT_TRUE(client->AddFile(dir.file("fw.bin"), "22/fw.bin", true));
    ASSERT_EQ(client->cfgEntries.size(), 1u);
    const cfgEntry& e = client->cfgEntries[0];
    EXPECT_EQ(e.order, 2);
    EXPECT_EQ(e.mode, filecopy);
    EXPECT_EQ(e.hash, kMd5Abc);
    EXPECT_EQ(e.hashAlgorithm, 0);
    EXPECT_EQ(e.partIndex, 22);
    EXPECT_EQ(client->entryCounter, 2u);
}

// A partition path that names no place (a ".." or "." name, an empty one, a
// backslash) is refused when it is queued, like a missing one: before the
// source is read, with the class and number of the path that failed. The
// source of a move or a folder deletion lies on a partition too.
TEST_F(CopyTransactionTest, PathsNamingNoPlaceOnAPartitionAreRefusedWhenQueued)
{
    client.reset();
    dir.write("zordebuglog", "");
    client = ClientWithoutLifeCycle();
    dir.write("fw.bin", "abc");
    dir.write("fw.bin.sig", "s");
    dir.write("package.xml", "<p/>");
    const std::string fw = dir.file("fw.bin");
    const struct {
        exmlMode mode;
        std::string source;
        std::string destination;
        uint8_t error;
        uint32_t errorClass;
        const char* line;
    } cases[] = {
        {filecopy, fw, "tes022/1234/../../x.bin", KOLT_EMPTYDESTINATION, 3,
         "Destination names no place on a partition, it holds a \"..\" name: tes022/1234/../../x.bin"},
        {filecopy, dir.file("missing.bin"), "tes022//fw.bin", KOLT_EMPTYDESTINATION, 3,
         "Destination names no place on a partition, it holds an empty name: tes022//fw.bin"},
        {filecopy, fw, "/payload/./fw.bin", KOLT_EMPTYDESTINATION, 3, nullptr},
        {filecopy, fw, "tes022\\1234\\fw.bin", KOLT_EMPTYDESTINATION, 3,
         "Destination names no place on a partition, it holds a separator inside a name: tes022\\1234\\fw.bin"},
        {fileappend, fw, "tes022/1234/", KOLT_EMPTYDESTINATION, 3, nullptr},
        {signedunzip, fw, "tes022/pkg\\a.zip", KOLT_EMPTYDESTINATION, 3, nullptr},
        {dirmake, "", "tes022/1234/..", KOLT_EMPTYDESTINATION, 3, nullptr},
        {filedelete, "", "tes022/../victim/current/fw.bin", KOLT_EMPTYDESTINATION, 3, nullptr},
        {filemove, "tes022/1234/current/../../x", "tes022/1234/previous/x", KOLT_EMPTYSOURCE, 4,
         "Source names no place on a partition, it holds a \"..\" name: tes022/1234/current/../../x"},
        {filemove, "tes022/1234/current/x", "tes022/1234/previous/..", KOLT_EMPTYDESTINATION, 3, nullptr},
        {dirmove, "tes022/..", "tes022/1234/previous", KOLT_EMPTYSOURCE, 4, nullptr},
        {dirdelete, "tes022/1234/..", "", KOLT_EMPTYSOURCE, 4, nullptr},
    };
    ASSERT_TRUE(client->StartCopyFile());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source + " -> " + c.destination);
        client->addFileErrorClass = 0;
        client->accessState = 0;
        EXPECT_FALSE(client->AddFile(c.source, c.destination, c.mode, DIGEST_MD5));
        EXPECT_EQ(client->getKOLTError(), c.error);
        EXPECT_EQ(client->addFileErrorClass, c.errorClass);
        EXPECT_EQ(client->accessState, 0) << "the source is not read";
        if (c.line != nullptr) {
            EXPECT_TRUE(Contains(KoltLogMessages(dir.file("KOLT_DBG.log")), c.line));
        }
    }
    client->storeErrorInfo(0);
    EXPECT_FALSE(client->AddFile(fw, "22/../fw.bin", true));
    EXPECT_EQ(client->getKOLTError(), KOLT_EMPTYDESTINATION);
    EXPECT_TRUE(client->cfgEntries.empty());
    EXPECT_EQ(client->entryCounter, 1u);

    // Dots inside a name, and a partition's own name, are no such fault.
    ASSERT_TRUE(client->AddFile(fw, "tes022/..a/b../fw.bin", filecopy, DIGEST_MD5));
    EXPECT_EQ(client->cfgEntries.back().partIndex, 22);
}
