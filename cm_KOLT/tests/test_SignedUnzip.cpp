// Signed-unzip staging through the secure-update sequence, and the direct
// copy of a queue into a drop box that stays: on a Linux host with the
// controller model, the drop box's folder being /tmp/SECUPD in the test's
// private /tmp.

#include <sys/stat.h>

#include <fstream>
#include <new>

#include "Md5Wrapper.h"
#include "PartitionHostTest.h"

using Strings = std::vector<std::string>;

namespace {

const char* const kSrc = "/tmp/src/";
const uint32_t kLargestDropBox = 306184192;

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof(two), "%02x", b);
        text += two;
    }
    return text;
}

bool Exists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

class SignedUnzip : public PartitionHostTest {
protected:
    void SetUp() override
    {
        PartitionHostTest::SetUp();
        exposeAndMountable();
        ASSERT_EQ(::mkdir(kSrc, 0755), 0);
        copiesRunInTheShell();
        client->maxDropBoxBytes = kLargestDropBox;
        // The controller offers the drop box on the bit the table knows.
        tessa.SetSecureUpdateDropBoxBit(1);
        std::ofstream("package.xml") << "<SoftwareComponent/>\n";
    }

    std::string Source(const std::string& name, size_t size)
    {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i)
            content[i] = static_cast<char>((i * 13 + name.size()) & 0xFF);
        std::ofstream(kSrc + name, std::ios::binary) << content;
        return kSrc + name;
    }

    // An archive with its signature, queued as the transaction's first
    // entry by the client itself.
    void QueueArchive(const std::string& destination, size_t bytes = 5000)
    {
        const std::string archive = Source("archive.zip", bytes);
        Source("archive.zip.sig", 256);
        ASSERT_TRUE(client->StartCopyFile());
        ASSERT_TRUE(client->AddFile(archive, destination, signedunzip, DIGEST_MD5));
    }

    std::string Subs() const
    {
        std::string subs;
        for (const std::string& frame : framesSinceSetUp())
            if (frame.compare(0, 5, "30 A2") == 0)
                subs += frame.substr(6, 2) + " ";
        return subs;
    }

    size_t Count(uint8_t sub) const { return tessa.CountSub(sub); }
};

TEST_F(SignedUnzip, TheArchiveItsSignatureAndThePackageGoIntoTheOfferedDropBox)
{
    QueueArchive("tes022/pkg/archive.zip");
    ASSERT_TRUE(client->CompleteSignedUnzip()) << int(client->getKOLTError());
    EXPECT_EQ(client->l_state, 0u);

    EXPECT_EQ(readWholeFile("/tmp/SECUPD/pkg/archive.zip"), readWholeFile("/tmp/src/archive.zip"));
    EXPECT_EQ(readWholeFile("/tmp/SECUPD/pkg/archive.zip.sig"), readWholeFile("/tmp/src/archive.zip.sig"));
    EXPECT_EQ(readWholeFile("/tmp/SECUPD/package.xml"), "<SoftwareComponent/>\n");
    const std::string document = readWholeFile("/tmp/SECUPD/update.xml");
    EXPECT_EQ(document, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TESSA_Update>\n"
                        "\t<File order=\"1\"><Source>pkg/archive.zip</Source><Destination>tes022/.</Destination>"
                        "<Mode>signedunzip</Mode></File>\n"
                        "</TESSA_Update>\n\n");

    // Begin, process with the document's MD5, end; the controller offers
    // the drop box itself: no create, no attach, no detach, no delete.
    EXPECT_EQ(Subs(), "20 22 23 ");
    const SimTessaController::SecureUpdate seen = tessa.SecureUpdateState();
    EXPECT_EQ(Hex(seen.digest), md5wrapper().getHashFromString(document));
    // The three files (5277 bytes) count as the smallest payload, 64 KiB,
    // then come the reserve and 4 MiB of room for the unpacking.
    EXPECT_EQ(seen.units, (65536 + 5 * 1048576) / 32768);
    EXPECT_EQ(seen.ends, 1u);
    EXPECT_TRUE(Contains(Log(), "EndSecureUpdate succeeded"));
}

TEST_F(SignedUnzip, ADestinationWithoutFolderPutsEverythingInTheRoot)
{
    QueueArchive("archive.zip");
    ASSERT_TRUE(client->CompleteSignedUnzip());
    EXPECT_TRUE(Exists("/tmp/SECUPD/archive.zip"));
    EXPECT_TRUE(Exists("/tmp/SECUPD/archive.zip.sig"));
    EXPECT_TRUE(Exists("/tmp/SECUPD/package.xml"));
}

TEST_F(SignedUnzip, OnESXiTheDropBoxIsAtLeast32MiB)
{
    QueueArchive("tes022/pkg/archive.zip");
    client->hostOsIndex = ESXi;
    // The hypervisor's volume never shows: the call ends after the begin.
    host.answerPrefix("esxcli ", 0);
    host.answerPrefix("lsusb ", 1 << 8);
    EXPECT_FALSE(client->CompleteSignedUnzip());
    EXPECT_EQ(tessa.SecureUpdateState().units, 1024u);
    EXPECT_TRUE(Contains(Log(), "Resetting PayloadSize for ESXi"));
}

TEST_F(SignedUnzip, Failures)
{
    enum Fault { EmptyQueue, AboveMaximum, ESXiOnGenerationZero, BeginRefused, NotMountable, CopyFails,
                 SignatureCopyFails, PackageCopyFails, Unexpected, ProcessRefused, EndRefused };
    const struct {
        Fault fault;
        uint8_t error;
        const char* subs;   // the sub-commands sent
        const char* line;
        bool document;      // "update.xml" written into the drop box
    } cases[] = {
        {EmptyQueue, KOLT_INTERNALERROR, "", "No files queued for the copy", false},
        {AboveMaximum, KOLT_PAYLOADTOOLARGE, "", "Payload size exceeds Maximum Dynamic partition size.", false},
        {ESXiOnGenerationZero, KOLT_PAYLOADTOOLARGE, "", "Payload size exceeds Maximum Dynamic partition size.",
         false},
        {BeginRefused, KOLT_BEGINSECUREUPDATEFAILED, "20 ", "Begin Secure Update failed.", false},
        {NotMountable, KOLT_PARTITIONUNREACHABLE, "20 23 ", "mountDynPartition did not succeed.", false},
        {CopyFails, KOLT_PARTITIONUNREACHABLE, "20 23 ", "doCopy of Payload zip failed", false},
        {SignatureCopyFails, KOLT_PARTITIONUNREACHABLE, "20 23 ", "doCopy of Signature file failed", false},
        {PackageCopyFails, KOLT_PARTITIONUNREACHABLE, "20 23 ", "doCopy of Package XML file failed", false},
        // An exception that is no KOLT number, once the update was begun.
        {Unexpected, KOLT_INTERNALERROR, "20 23 ", "KOLT internal error", true},
        {ProcessRefused, KOLT_PROCESSSECUREUPDATEFAILED, "20 22 23 ", "processSecureUpdate failed", true},
        {EndRefused, KOLT_ENDSECUREUPDATEFAILED, "20 22 23 ", "EndSecureUpdate Failed", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        client->cfgEntries.clear();
        client->l_state = 0;
        client->storeErrorInfo(0);
        client->maxDropBoxBytes = kLargestDropBox;
        client->hostOsIndex = REDHAT;
        ASSERT_EQ(std::system("rm -rf /tmp/SECUPD /tmp/src/*"), 0);
        if (c.fault == EmptyQueue) {
            client->l_state = 1;
        } else {
            QueueArchive("tes022/pkg/archive.zip");
        }
        switch (c.fault) {
        case AboveMaximum:
            client->maxDropBoxBytes = 5 * 1048576;
            break;
        case ESXiOnGenerationZero:
            client->hostOsIndex = ESXi;
            client->maxDropBoxBytes = 30408704;
            break;
        case BeginRefused:
            tessa.ScriptCodes(0x20, {0xC1});
            break;
        case NotMountable:
            host.answerPrefix("mount ", 1 << 8);
            break;
        case CopyFails:
            host.answerPrefix("/bin/cp ", 1 << 8);
            break;
        case SignatureCopyFails:
            host.answerPrefix("/bin/cp /tmp/src/archive.zip.sig ", 1 << 8);
            break;
        case PackageCopyFails:
            host.answerPrefix("/bin/cp package.xml ", 1 << 8);
            break;
        case Unexpected:
            // The flush after the document.
            host.answer("sync", [](const std::string&) -> int { throw std::bad_alloc(); });
            break;
        case ProcessRefused:
            tessa.ScriptCodes(0x22, {0xC1});
            break;
        case EndRefused:
            tessa.ScriptCodes(0x23, {0xC1});
            break;
        default:
            break;
        }
        const size_t first = framesSinceSetUp().size();
        const size_t logLines = Log().size();

        EXPECT_FALSE(client->CompleteSignedUnzip());
        EXPECT_EQ(client->getKOLTError(), c.error);
        EXPECT_EQ(client->l_state, 0u);
        std::string subs;
        const Strings frames = framesSinceSetUp();
        for (size_t i = first; i < frames.size(); ++i)
            if (frames[i].compare(0, 5, "30 A2") == 0)
                subs += frames[i].substr(6, 2) + " ";
        EXPECT_EQ(subs, c.subs);
        const Strings all = Log();
        const Strings log(all.begin() + static_cast<long>(logLines), all.end());
        EXPECT_TRUE(Contains(log, "copyPayload failed"));
        EXPECT_TRUE(Contains(log, c.line));
        EXPECT_EQ(Exists("/tmp/SECUPD/update.xml"), c.document);
        host.answerPrefix("mount ", 0);
        host.answerPrefix("/bin/cp ", RunInShell);
        host.answerPrefix("/bin/cp /tmp/src/archive.zip.sig ", RunInShell);
        host.answerPrefix("/bin/cp package.xml ", RunInShell);
        host.answer("sync", 0);
    }
}

// The drop box comes off the host before the controller is told to take
// the package from it.
TEST_F(SignedUnzip, TheDropBoxIsUnmountedBeforeTheProcessRequest)
{
    QueueArchive("tes022/pkg/archive.zip");
    size_t unmountedBeforeProcess = 0;
    tessa.SetSubHandler(0x22, [&](const std::vector<uint8_t>&) {
        unmountedBeforeProcess =
            static_cast<size_t>(std::count(host.umounts.begin(), host.umounts.end(), "/tmp/SECUPD"));
        return SimIpmiReply();
    });
    ASSERT_TRUE(client->CompleteSignedUnzip()) << int(client->getKOLTError());
    EXPECT_EQ(Subs(), "20 22 23 ");
    EXPECT_GE(unmountedBeforeProcess, 1u);
}

// A staging that fails once the offered drop box is mounted gives the mount
// up before the update ends: the end takes the disk away, and a mount left
// on it would stay behind at /tmp/SECUPD.
TEST_F(SignedUnzip, AFailedStagingUnmountsTheDropBoxBeforeTheUpdateEnds)
{
    const struct {
        const char* name;
        std::function<void()> fault;
    } cases[] = {
        {"copy fails", [&] { host.answerPrefix("/bin/cp ", 1 << 8); }},
        {"unexpected exception",
         [&] { host.answer("sync", [](const std::string&) -> int { throw std::bad_alloc(); }); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        client->cfgEntries.clear();
        client->l_state = 0;
        ASSERT_EQ(std::system("rm -rf /tmp/SECUPD /tmp/src/*"), 0);
        QueueArchive("tes022/pkg/archive.zip");
        c.fault();
        host.umounts.clear();
        const size_t endsBefore = Count(0x23);
        size_t unmountedBeforeEnd = 0;
        tessa.SetSubHandler(0x23, [&](const std::vector<uint8_t>&) {
            unmountedBeforeEnd =
                static_cast<size_t>(std::count(host.umounts.begin(), host.umounts.end(), "/tmp/SECUPD"));
            return SimIpmiReply();
        });

        EXPECT_FALSE(client->CompleteSignedUnzip());
        EXPECT_EQ(Count(0x23), endsBefore + 1);
        EXPECT_GE(unmountedBeforeEnd, 1u);
        host.answerPrefix("/bin/cp ", RunInShell);
        host.answer("sync", 0);
    }
}

// A mount that failed holds nothing to give back: no umount(2) and no
// removal of /tmp/SECUPD on the way out. The folder may be one the mount
// refused because another user made it first; root's "rm -rf" would destroy
// their files.
TEST_F(SignedUnzip, AFailedMountIsNotGivenBack)
{
    const struct {
        const char* name;
        bool foreignFolder;          // /tmp/SECUPD made by user 1000 before the run
        size_t mountsOwnRemovals;    // at most: the mount clears the folder it made
    } cases[] = {
        {"the mount command fails", false, 1},
        {"/tmp/SECUPD belongs to another user", true, 0},
    };
    // Removals happen for real, in the test's private /tmp.
    host.answerPrefix("rm -rf /tmp/SECUPD", RunInShell);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        client->cfgEntries.clear();
        client->l_state = 0;
        client->storeErrorInfo(0);
        ASSERT_EQ(std::system("rm -rf /tmp/SECUPD /tmp/src/*"), 0);
        QueueArchive("tes022/pkg/archive.zip");
        if (c.foreignFolder) {
            ASSERT_EQ(::mkdir("/tmp/SECUPD", 0755), 0);
            std::ofstream("/tmp/SECUPD/theirs.txt") << "not root's\n";
            ASSERT_EQ(::chown("/tmp/SECUPD/theirs.txt", 1000, 1000), 0);
            ASSERT_EQ(::chown("/tmp/SECUPD", 1000, 1000), 0);
        } else {
            host.answerPrefix("mount ", 1 << 8);
        }
        const size_t first = framesSinceSetUp().size();
        const size_t logLines = Log().size();
        host.umounts.clear();
        host.commands.clear();

        EXPECT_FALSE(client->CompleteSignedUnzip());
        EXPECT_EQ(client->getKOLTError(), KOLT_PARTITIONUNREACHABLE);
        std::string subs;
        const Strings frames = framesSinceSetUp();
        for (size_t i = first; i < frames.size(); ++i)
            if (frames[i].compare(0, 5, "30 A2") == 0)
                subs += frames[i].substr(6, 2) + " ";
        EXPECT_EQ(subs, "20 23 ");
        EXPECT_EQ(std::count(host.umounts.begin(), host.umounts.end(), "/tmp/SECUPD"), 0);
        const size_t removals = static_cast<size_t>(std::count_if(
            host.commands.begin(), host.commands.end(), [](const std::string& command) {
                return command.compare(0, 7, "rm -rf ") == 0 && command.find("/tmp/SECUPD") != std::string::npos;
            }));
        EXPECT_LE(removals, c.mountsOwnRemovals);
        const Strings all = Log();
        const Strings log(all.begin() + static_cast<long>(logLines), all.end());
        EXPECT_TRUE(Contains(log, "mountDynPartition did not succeed."));
        // Not even asked: an unmount that finds another user's folder leaves
        // it alone, but the way out has no business asking.
        EXPECT_FALSE(Contains(log, "-- umountDynPartition Entry"));
        EXPECT_FALSE(Contains(log, "umountDynPartition failed."));
        if (c.foreignFolder) {
            struct stat info;
            ASSERT_EQ(::lstat("/tmp/SECUPD", &info), 0);
            EXPECT_TRUE(S_ISDIR(info.st_mode));
            EXPECT_EQ(info.st_uid, 1000u);
            EXPECT_EQ(readWholeFile("/tmp/SECUPD/theirs.txt"), "not root's\n");
        }
        host.answerPrefix("mount ", 0);
    }
}

// The direct copy: the queue into a new drop box, pass by pass, without a
// digest hand-over; the drop box stays for the caller.
class DirectCopy : public SignedUnzip {
protected:
    void QueueFile(const std::string& name, size_t size)
    {
        const std::string path = Source(name, size);
        cfgEntry e;
        e.order = static_cast<int32_t>(client->cfgEntries.size() + 1);
        e.mode = filecopy;
        e.source = path;
        e.destination = "/payload/" + name;
        e.size = size;
        e.algorithmLabel = 2;
        e.omitDestination = true;
        e.hash = "h" + name;
        client->cfgEntries.push_back(e);
    }
};

TEST_F(DirectCopy, AQueueOfThreePassesAttachesAndDetachesThreeTimesAndKeepsTheDropBox)
{
    // A drop box of 1 MiB beyond the reserve takes one 700 KiB file per pass.
    client->maxDropBoxBytes = 2 * 1048576;
    client->l_state = 1;
    for (const char* name : {"a.bin", "b.bin", "c.bin"})
        QueueFile(name, 700 * 1024);

    ASSERT_TRUE(client->copyPayloadtoDynamicPartition()) << int(client->getKOLTError());
    EXPECT_EQ(client->l_state, 0u);
    EXPECT_EQ(Count(0x07), 1u);
    EXPECT_EQ(Count(0x05), 3u);
    EXPECT_EQ(Count(0x06), 3u);
    EXPECT_EQ(Count(0x26), 0u);
    EXPECT_EQ(Count(0x09), 0u);
    EXPECT_EQ(Count(0x08), 0u);
    EXPECT_NE(client->getDynPartIndexInfo(), 0u);
    const Strings log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "/tmp/SECUPD/input_secupd.xml"), 3);
    EXPECT_NE(readWholeFile("/tmp/SECUPD/input_secupd.xml").find("<Source>payload/c.bin</Source>"),
              std::string::npos);
    EXPECT_TRUE(Contains(host.commands, "rm -f /tmp/SECUPD/FileChunk* > /dev/null 2>&1"));
    EXPECT_TRUE(Contains(log, "Exiting copyPayloadtoDynamicPartition"));
}

TEST_F(DirectCopy, Failures)
{
    const struct {
        const char* name;
        uint8_t error;
        size_t detaches;   // the pass's own and the clean-up's
        size_t deletes;
        const char* line;
    } cases[] = {
        {"create refused", KOLT_DROPBOXCREATEFAILED, 0, 0, "create drop box failed"},
        {"copy fails", KOLT_PARTITIONUNREACHABLE, 1, 1, "populateDynPart failed"},
        {"detach refused", KOLT_DETACHFAILED, 1, 0, "DetachPartition failed"},
        // An exception that is no KOLT number while the drop box is attached.
        {"unexpected", KOLT_INTERNALERROR, 1, 1, "KOLT internal error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        client->cfgEntries.clear();
        client->l_state = 1;
        client->storeErrorInfo(0);
        QueueFile("a.bin", 3000);
        if (c.error == KOLT_DROPBOXCREATEFAILED)
            tessa.ScriptCodes(0x07, {0xC1});
        else if (c.error == KOLT_PARTITIONUNREACHABLE)
            host.answerPrefix("/bin/cp ", 1 << 8);
        else if (c.error == KOLT_INTERNALERROR)
            host.answer("sync", [](const std::string&) -> int { throw std::bad_alloc(); });
        else
            tessa.ScriptCodes(0x06, {0xC1});
        const size_t detaches = Count(0x06);
        const size_t deletes = Count(0x08);

        EXPECT_FALSE(client->copyPayloadtoDynamicPartition());
        EXPECT_EQ(client->getKOLTError(), c.error);
        EXPECT_EQ(client->l_state, 0u);
        EXPECT_EQ(Count(0x06) - detaches, c.detaches);
        EXPECT_EQ(Count(0x08) - deletes, c.deletes);
        EXPECT_TRUE(Contains(Log(), c.line));
        host.answerPrefix("/bin/cp ", RunInShell);
        host.answer("sync", 0);
        client->DeleteDropBox(0);
    }
}

TEST_F(DirectCopy, DeletingTheDropBoxNeedsASession)
{
    client->l_state = 1;
    QueueFile("a.bin", 3000);
    ASSERT_TRUE(client->copyPayloadtoDynamicPartition());
    EXPECT_TRUE(client->deleteDynamicPartition());
    EXPECT_TRUE(Contains(Log(), "DeleteDropBox succeeded"));

    client->session.active = 0;
    EXPECT_FALSE(client->deleteDynamicPartition());
    EXPECT_TRUE(Contains(Log(), "DeleteDropBox Failed"));
    client->session.active = 1;
}

} // namespace
