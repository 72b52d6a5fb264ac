// The drop-box copy transactions on a Linux host with the controller model:
// size, create, attach and mount, the passes, the request document in the
// drop box, detach and the digest hand-over, and the clean-up of each
// failure. The drop box's folder is /tmp/SECUPD in the test's private /tmp.

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <new>

#include "Md5Wrapper.h"
#include "PartitionHostTest.h"
#include "Sha.h"

using Strings = std::vector<std::string>;

namespace {

const char* const kBox = "/tmp/SECUPD/";
const char* const kSrc = "/tmp/src/";

std::string Sha256(const std::string& text)
{
    char out[65] = {0};
    CSHA().CalculateSHA256(text, false, out);
    return out;
}

class DropBoxCopy : public PartitionHostTest {
protected:
    void SetUp() override
    {
        PartitionHostTest::SetUp();
        exposeAndMountable();
        ASSERT_EQ(::mkdir(kSrc, 0755), 0);
        copiesRunInTheShell();
        client->maxDropBoxBytes = 306184192;
        client->l_state = 1;
        host.answer("umount /tmp/TES022 > /dev/null 2>&1", 0);
        // The hand-over and the status poll of the newer protocol; the
        // digest arrives in parts and is gathered here.
        tessa.SetSubHandler(0x26, [this](const std::vector<uint8_t>& data) {
            SimIpmiReply reply;
            const uint8_t operation = data.size() > 3 ? data[3] : 0;
            if (operation == 0x10) {
                if (data.size() > 4 && data[4] == 0x00)
                    handedOver.clear();
                else
                    for (size_t i = 5; i < data.size() && i < 15 && data[i] != 0; ++i)
                        handedOver += static_cast<char>(data[i]);
                if (refuseHandOver)
                    reply.completionCode = 0xC1;
            } else if (operation == 0x08) {
                uint8_t status = 0;
                if (!statuses.empty()) {
                    status = statuses.front();
                    statuses.pop_front();
                }
                reply.data = {status, 0, 0};
            }
            return reply;
        });
        // The older protocol: the document in the drop box when its digest
        // arrived, and the digest.
        tessa.SetHandOverObserver([this](const std::string& digest) {
            documents.push_back(readWholeFile(std::string(kBox) + "update.xml"));
            digests.push_back(digest);
        });
    }

    std::string Source(const std::string& name, size_t size)
    {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i)
            content[i] = static_cast<char>((i * 7 + name.size()) & 0xFF);
        std::ofstream(kSrc + name, std::ios::binary) << content;
        return kSrc + name;
    }

    cfgEntry& Queue(exmlMode mode, const std::string& source, const std::string& destination, digestType digest)
    {
        cfgEntry e;
        e.order = static_cast<int32_t>(client->cfgEntries.size() + 1);
        e.mode = mode;
        e.source = source;
        e.destination = destination;
        e.algorithmLabel = digest == DIGEST_SHA256 ? 2 : 1;
        e.omitDestination = digest == DIGEST_SHA256;
        if (mode == filecopy) {
            struct stat info;
            ::stat(source.c_str(), &info);
            e.size = static_cast<uint64_t>(info.st_size);
            if (digest == DIGEST_SHA256)
                e.hash = Sha256(readWholeFile(source));
            else
                e.hash = md5wrapper().getHashFromFile(source);
        }
        if (destination.compare(0, 7, "tes022/") == 0)
            e.partIndex = 22;
        client->cfgEntries.push_back(e);
        return client->cfgEntries.back();
    }

    // The newer controller's queue: payload folder, package.xml, image.
    void QueuePackage(digestType digest, size_t imageBytes = 5000)
    {
        Queue(dirmake, "", "/payload", digest);
        Queue(filecopy, Source("package.xml", 700), "/payload/package.xml", digest);
        Queue(filecopy, Source("fw.bin", imageBytes), "/payload/fw.bin", digest);
    }

    size_t Count(uint8_t sub) const { return tessa.CountSub(sub); }

    // The partition sub-commands since firstFrame, as two-digit texts:
    // create 07, attach 05, detach 06, delete 08 (table queries left out).
    Strings Steps() const
    {
        Strings steps;
        for (const std::string& frame : framesSinceSetUp()) {
            if (frame.compare(0, 6, "30 A2 ") != 0)
                continue;
            const std::string sub = frame.substr(6, 2);
            if (sub != "03" && sub != "04")
                steps.push_back(sub);
        }
        return steps;
    }

    std::deque<uint8_t> statuses;
    bool refuseHandOver = false;
    std::string handedOver;
    Strings documents;
    Strings digests;
};

TEST_F(DropBoxCopy, NewerControllerCopiesPackageWritesDocumentAndHandsItsDigestOver)
{
    QueuePackage(DIGEST_SHA256);
    statuses = {2, 0};
    ASSERT_TRUE(client->CompleteCopyFileWaveCPlus(DIGEST_SHA256));
    EXPECT_EQ(client->l_state, 0u);

    EXPECT_EQ(readWholeFile("/tmp/SECUPD/payload/package.xml"), readWholeFile("/tmp/src/package.xml"));
    EXPECT_EQ(readWholeFile("/tmp/SECUPD/payload/fw.bin"), readWholeFile("/tmp/src/fw.bin"));
    const std::string document = readWholeFile("/tmp/SECUPD/input_secupd.xml");
    const cfgEntry& pkg = client->cfgEntries[1];
    const cfgEntry& fw = client->cfgEntries[2];
    EXPECT_EQ(document, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TESSA_Update>\n"
                        "\t<File order=\"2\"><Hash>" + pkg.hash + "</Hash><Source>payload/package.xml</Source>"
                        "<Mode>filecopy</Mode><Algorithm>SHA256</Algorithm>\n</File>\n"
                        "\t<File order=\"3\"><Hash>" + fw.hash + "</Hash><Source>payload/fw.bin</Source>"
                        "<Mode>filecopy</Mode><Algorithm>SHA256</Algorithm>\n</File>\n"
                        "</TESSA_Update>\n\n");
    EXPECT_EQ(handedOver, Sha256(document));
    EXPECT_STREQ(targetFilePath, "/tmp/SECUPD/input_secupd.xml");
    EXPECT_STREQ(DynMountPoint, "/tmp/SECUPD/");

    // Sub-commands in order: create (with its table queries), attach,
    // detach, hand-over, polls; the drop box stays for the stage command.
    Strings subs;
    for (const std::string& frame : framesSinceSetUp())
        subs.push_back(frame.substr(6, 2));
    const auto at = [&](const std::string& sub) {
        return std::find(subs.begin(), subs.end(), sub) - subs.begin();
    };
    EXPECT_LT(at("07"), at("05"));
    EXPECT_LT(at("05"), at("06"));
    EXPECT_LT(at("06"), at("26"));
    EXPECT_EQ(Count(0x08), 0u);
    ASSERT_FALSE(host.sleeps.empty());
    EXPECT_EQ(host.sleeps.back(), 2);   // one poll answered "in progress"
    EXPECT_TRUE(Contains(host.commands, "rm -f /tmp/SECUPD/FileChunk* > /dev/null 2>&1"));
    EXPECT_TRUE(Contains(host.commands, "/bin/mkdir -p /tmp/SECUPD/payload > /dev/null 2>&1"));
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "Entering CompleteCopyFileWaveCPlus"));
    EXPECT_TRUE(Contains(log, "SecureTessaCopy succeeded and hash check verification passed"));
    EXPECT_TRUE(Contains(log, "Exiting CompleteCopyFileWaveCPlus"));
}

// "Staged, reboot required" after the hand-over is a checked document like
// "done": the copy succeeds and the drop box stays for the stage command.
TEST_F(DropBoxCopy, StagedRebootRequiredAfterTheHandOverIsSuccess)
{
    QueuePackage(DIGEST_SHA256);
    statuses = {2, 3};
    client->storeErrorInfo(0);
    const size_t dropBoxes = tessa.DynamicPartitions().size();
    ASSERT_TRUE(client->CompleteCopyFileWaveCPlus(DIGEST_SHA256)) << int(client->getKOLTError());
    EXPECT_EQ(client->getKOLTError(), 0u);
    EXPECT_EQ(client->l_state, 0u);
    EXPECT_EQ(Count(0x08), 0u);
    EXPECT_EQ(tessa.DynamicPartitions().size(), dropBoxes + 1);
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "Success Update Staged and Reboot Required"));
    EXPECT_TRUE(Contains(log, "SecureTessaCopy succeeded and hash check verification passed"));
    EXPECT_FALSE(Contains(log, "copyPayload failed"));
}

TEST_F(DropBoxCopy, SignedPackageIsCopiedWithoutDocumentOrHandOver)
{
    QueuePackage(DIGEST_GPG);
    ASSERT_TRUE(client->CompleteCopyFileWaveCPlus(DIGEST_GPG));
    struct stat info;
    EXPECT_NE(::stat("/tmp/SECUPD/input_secupd.xml", &info), 0);
    EXPECT_EQ(readWholeFile("/tmp/SECUPD/payload/fw.bin"), readWholeFile("/tmp/src/fw.bin"));
    EXPECT_EQ(Count(0x26), 0u);
    EXPECT_EQ(Count(0x06), 1u);
}

TEST_F(DropBoxCopy, NewerControllerFailures)
{
    enum Fault { EmptyQueue, CreateRefused, CopyFails, TooLarge, DocumentUnwritable, DetachRefused,
                 HandOverRefused, Status38, Status1, Status5 };
    const struct {
        Fault fault;
        uint8_t error;
        bool detachAfter;   // a detach among the clean-ups
        bool deleted;
        const char* line;
    } cases[] = {
        {EmptyQueue, KOLT_INTERNALERROR, false, false, "No files queued for the copy"},
        {CreateRefused, KOLT_DROPBOXCREATEFAILED, false, false, "create drop box failed"},
        {CopyFails, KOLT_PARTITIONUNREACHABLE, true, true, "populateDynPart failed"},
        {TooLarge, KOLT_PAYLOADTOOLARGE, true, true, "Payload size exceeds Maximum Dynamic partition size."},
        {DocumentUnwritable, KOLT_PARTITIONUNREACHABLE, true, true, "copyPayload failed"},
        {DetachRefused, KOLT_DETACHFAILED, false, false, "DetachPartition failed"},
        {HandOverRefused, KOLT_DIGESTHANDOVERFAILED, false, true, "SecureTessaCopy failed"},
        {Status38, KOLT_DIGESTHANDOVERFAILED, false, true, "SecureTessaCopy hash check verification failed"},
        {Status1, KOLT_DIGESTHANDOVERFAILED, false, true, "SecureTessaCopy hash check verification failed"},
        {Status5, KOLT_DIGESTHANDOVERFAILED, false, true, "SecureTessaCopy hash check verification failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        client->cfgEntries.clear();
        client->l_state = 1;
        client->storeErrorInfo(0);
        refuseHandOver = false;
        statuses.clear();
        ASSERT_EQ(std::system("rm -rf /tmp/SECUPD"), 0);
        if (c.fault != EmptyQueue)
            QueuePackage(DIGEST_SHA256);
        switch (c.fault) {
        case CreateRefused:
            tessa.ScriptCodes(0x07, {0xC1});
            break;
        case CopyFails:
            host.answerPrefix("/bin/cp ", 1 << 8);
            break;
        case TooLarge:
            // A drop box of 64 KiB beyond the reserve; the image needs more.
            client->maxDropBoxBytes = 1048576 + 65536;
            client->cfgEntries.clear();
            QueuePackage(DIGEST_SHA256, 70000);
            break;
        case DocumentUnwritable:
            ASSERT_EQ(std::system("mkdir -p /tmp/SECUPD/input_secupd.xml"), 0);
            break;
        case DetachRefused:
            tessa.ScriptCodes(0x06, {0xC1});
            break;
        case HandOverRefused:
            refuseHandOver = true;
            break;
        case Status38:
            statuses = {2, 38};
            break;
        case Status1:
            statuses = {1};
            break;
        case Status5:
            statuses = {5};
            break;
        default:
            break;
        }
        const size_t frames = controller.Frames().size();
        const size_t detaches = Count(0x06);
        const size_t deletes = Count(0x08);
        const size_t logLines = Log().size();

        EXPECT_FALSE(client->CompleteCopyFileWaveCPlus(DIGEST_SHA256));
        EXPECT_EQ(client->getKOLTError(), c.error);
        EXPECT_EQ(client->l_state, 0u);
        if (c.fault == EmptyQueue) {
            EXPECT_EQ(controller.Frames().size(), frames);
        }
        const Strings all = Log();
        const Strings log(all.begin() + static_cast<long>(logLines), all.end());
        EXPECT_TRUE(Contains(log, "copyPayload failed"));
        EXPECT_TRUE(Contains(log, c.line));
        EXPECT_EQ(Count(0x08) - deletes, c.deleted ? 1u : 0u);
        // The pass's own detach, then the clean-up's.
        const size_t passDetach = c.fault >= DetachRefused ? 1 : 0;
        EXPECT_EQ(Count(0x06) - detaches, passDetach + (c.detachAfter ? 1u : 0u));
        host.answerPrefix("/bin/cp ", RunInShell);
        client->maxDropBoxBytes = 306184192;
    }
}

// An exception that is no KOLT number while the drop box is attached (the
// memory running out between two steps): 31, and the drop box is detached,
// unmounted and deleted as after a failed pass, not left for the next run.
TEST_F(DropBoxCopy, UnexpectedExceptionReleasesTheDropBox)
{
    const struct {
        const char* name;
        bool (*copy)(secureTessa&);
        const char* lastLine;
    } cases[] = {
        {"newer", [](secureTessa& c) { return c.CompleteCopyFileWaveCPlus(DIGEST_SHA256); },
         "Exiting CompleteCopyFileWaveCPlus"},
        {"older", [](secureTessa& c) { return c.CompleteCopyFile(); }, "KOLT internal error"},
        {"direct", [](secureTessa& c) { return c.copyPayloadtoDynamicPartition(); },
         "Exiting copyPayloadtoDynamicPartition"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        client->cfgEntries.clear();
        client->l_state = 1;
        client->storeErrorInfo(0);
        QueuePackage(DIGEST_SHA256);
        // The flush after the document: the drop box is attached and mounted.
        host.answer("sync", [](const std::string&) -> int { throw std::bad_alloc(); });
        const size_t dropBoxes = tessa.DynamicPartitions().size();
        const size_t detaches = Count(0x06);
        const size_t deletes = Count(0x08);
        const size_t umounts = std::count(host.umounts.begin(), host.umounts.end(), "/tmp/SECUPD");
        const size_t logLines = Log().size();

        EXPECT_FALSE(c.copy(*client));
        EXPECT_EQ(client->getKOLTError(), KOLT_INTERNALERROR);
        EXPECT_EQ(client->l_state, 0u);
        EXPECT_EQ(Count(0x06) - detaches, 1u);
        EXPECT_EQ(Count(0x08) - deletes, 1u);
        EXPECT_EQ(tessa.AttachedDynamicBits(), 0u);
        EXPECT_EQ(tessa.DynamicPartitions().size(), dropBoxes);
        EXPECT_GT(static_cast<size_t>(std::count(host.umounts.begin(), host.umounts.end(), "/tmp/SECUPD")),
                  umounts);
        EXPECT_EQ(Count(0x09) + Count(0x26), 0u);
        const Strings all = Log();
        const Strings log(all.begin() + static_cast<long>(logLines), all.end());
        for (const char* line : {"copyPayload failed", "KOLT internal error", "DetachPartition succeeded",
                                 "DeleteDropBox succeeded", c.lastLine})
            EXPECT_TRUE(Contains(log, line)) << line;
        host.answer("sync", 0);
    }
}

// A failed copy gives the drop box back in the opposite order of taking it:
// detached (and so unmounted) first, then deleted. The other way round the
// controller would be told to drop a partition that the host still has
// mounted and may still be writing to.
TEST_F(DropBoxCopy, AFailedCopyDetachesTheDropBoxBeforeDeletingIt)
{
    const struct {
        const char* name;
        bool (*copy)(secureTessa&);
    } copies[] = {
        {"newer", [](secureTessa& c) { return c.CompleteCopyFileWaveCPlus(DIGEST_SHA256); }},
        {"older", [](secureTessa& c) { return c.CompleteCopyFile(); }},
        {"direct", [](secureTessa& c) { return c.copyPayloadtoDynamicPartition(); }},
    };
    const struct {
        const char* name;
        uint8_t error;
        std::function<void()> fault;
    } faults[] = {
        {"a copy into the drop box fails", KOLT_PARTITIONUNREACHABLE,
         [this] { host.answerPrefix("/bin/cp ", 1 << 8); }},
        {"an exception that is no KOLT number", KOLT_INTERNALERROR,
         [this] { host.answer("sync", [](const std::string&) -> int { throw std::bad_alloc(); }); }},
    };
    for (const auto& c : copies) {
        for (const auto& f : faults) {
            SCOPED_TRACE(std::string(c.name) + ", " + f.name);
            client->cfgEntries.clear();
            client->l_state = 1;
            client->storeErrorInfo(0);
            ASSERT_EQ(std::system("rm -rf /tmp/SECUPD"), 0);
            QueuePackage(DIGEST_SHA256);
            f.fault();
            firstFrame = controller.Frames().size();

            EXPECT_FALSE(c.copy(*client));
            EXPECT_EQ(client->getKOLTError(), f.error);
            EXPECT_EQ(Steps(), (Strings{"07", "05", "06", "08"}));
            host.answerPrefix("/bin/cp ", RunInShell);
            host.answer("sync", 0);
        }
    }
}

// A drop box that the copies filled to the last byte: the request document
// is cut short, whether the write or only the close finds the disk full, and
// a cut document is never handed over; the copy fails with 27 and the drop
// box goes, on both controllers.
TEST_F(DropBoxCopy, DocumentCutShortOnAFullDropBoxFails27)
{
    const struct {
        const char* name;
        size_t files;
        size_t nameLength;
    } sizes[] = {
        {"larger than the stdio buffer", 30, 230},   // some 12 KiB
        {"within the stdio buffer", 1, 8},
    };
    // The drop box's own small disk, filled once the last file is in.
    ASSERT_EQ(::mkdir("/tmp/SECUPD", 0755), 0);
    ASSERT_EQ(::mount("secupd", "/tmp/SECUPD", "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    for (const auto& size : sizes) {
        for (bool waveC : {true, false}) {
            SCOPED_TRACE(std::string(size.name) + (waveC ? ", newer" : ", older"));
            ASSERT_EQ(std::system("rm -rf /tmp/SECUPD/*"), 0);
            client->cfgEntries.clear();
            client->l_state = 1;
            client->storeErrorInfo(0);
            const digestType digest = waveC ? DIGEST_SHA256 : DIGEST_MD5;
            const std::string folder = waveC ? "/payload" : "tes022/1234";
            const std::string stem(size.nameLength, 'n');
            Queue(dirmake, "", folder, digest);
            for (size_t i = 0; i < size.files; ++i)
                Queue(filecopy, Source(stem + std::to_string(i), 10), folder + "/" + stem + std::to_string(i),
                      digest);
            const std::string last = stem + std::to_string(size.files - 1) + " ";
            host.answerPrefix("/bin/cp ", [&last](const std::string& command) {
                const int status = RunInShell(command);
                if (command.find(last) != std::string::npos) {
                    std::ofstream filler("/tmp/SECUPD/filler", std::ios::binary);
                    const std::string block(4096, 'f');
                    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())))
                        ;
                }
                return status;
            });
            const size_t detaches = Count(0x06);
            const size_t deletes = Count(0x08);
            const size_t handOvers = Count(0x09) + Count(0x26);

            EXPECT_FALSE(waveC ? client->CompleteCopyFileWaveCPlus(digest) : client->CompleteCopyFile());
            EXPECT_EQ(client->getKOLTError(), KOLT_PARTITIONUNREACHABLE);
            EXPECT_EQ(client->l_state, 0u);
            EXPECT_EQ(Count(0x09) + Count(0x26), handOvers);
            EXPECT_EQ(Count(0x06) - detaches, 1u);
            EXPECT_EQ(Count(0x08) - deletes, 1u);
            EXPECT_TRUE(documents.empty());
            host.answerPrefix("/bin/cp ", RunInShell);
        }
    }
    ::umount2("/tmp/SECUPD", MNT_DETACH);
}

TEST_F(DropBoxCopy, OlderControllerHandsOverEveryPassThenDeletesAndVerifies)
{
    // A drop box with 64 KiB beyond the reserve and an image of 150000
    // bytes: the folders, package.xml and a first chunk as large as the
    // space left in pass one, a full chunk in pass two, the rest in three.
    client->maxDropBoxBytes = 1048576 + 65536;
    Queue(dirmake, "", "tes022/1234", DIGEST_MD5);
    Queue(dirmake, "", "tes022/1234/current", DIGEST_MD5);
    Queue(filecopy, Source("package.xml", 700), "tes022/1234/current/package.xml", DIGEST_MD5);
    Queue(filecopy, Source("fw.bin", 150000), "tes022/1234/current/fw.bin", DIGEST_MD5);
    // What the controller makes of the documents, for the verification.
    ASSERT_EQ(std::system("mkdir -p /tmp/TES022/1234/current && cp /tmp/src/package.xml /tmp/src/fw.bin "
                          "/tmp/TES022/1234/current/"),
              0);

    ASSERT_TRUE(client->CompleteCopyFile()) << int(client->getKOLTError());
    EXPECT_EQ(client->l_state, 0u);
    ASSERT_EQ(documents.size(), 3u);
    md5wrapper md5;
    for (size_t i = 0; i < documents.size(); ++i)
        EXPECT_EQ(digests.at(i), md5.getHashFromString(documents[i])) << i;
    // Pass one lists the folders, package.xml and the first chunk.
    EXPECT_NE(documents[0].find("<Destination>tes022/1234</Destination><Mode>dirmake</Mode>"), std::string::npos);
    EXPECT_NE(documents[0].find("<Source>1234/current/package.xml</Source>"), std::string::npos);
    EXPECT_NE(documents[0].find("<Source>FileChunk0</Source>"), std::string::npos);
    EXPECT_NE(documents[1].find("<Source>FileChunk1</Source>"), std::string::npos);
    EXPECT_NE(documents[1].find("<Mode>fileappend</Mode>"), std::string::npos);
    EXPECT_NE(documents[2].find("<Source>FileChunk2</Source>"), std::string::npos);
    EXPECT_EQ(client->cfgEntries[3].stagedBytes, 150000);
    EXPECT_EQ(Count(0x08), 1u);
    EXPECT_GE(Count(0x06), 3u);
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "DeleteDropBox succeeded"));
    EXPECT_TRUE(Contains(log, "Copy verification Succeeded"));
}

TEST_F(DropBoxCopy, OlderControllerMismatchIs47)
{
    Queue(dirmake, "", "tes022/1234", DIGEST_MD5);
    Queue(filecopy, Source("fw.bin", 3000), "tes022/1234/fw.bin", DIGEST_MD5);
    ASSERT_EQ(std::system("mkdir -p /tmp/TES022/1234 && echo other > /tmp/TES022/1234/fw.bin"), 0);
    EXPECT_FALSE(client->CompleteCopyFile());
    EXPECT_EQ(client->getKOLTError(), KOLT_COPYMISMATCH);
    EXPECT_EQ(documents.size(), 1u);
    EXPECT_TRUE(Contains(Log(), "Copy verification Failed"));
    EXPECT_EQ(Count(0x08), 1u);
}

// A drop box the controller would not delete after the last pass fails the
// copy with 25 before the verification: a verification that passed would
// report a good rollback copy with the drop box still on the controller. It
// is asked once; the next session start deletes a drop box an earlier run
// left.
TEST_F(DropBoxCopy, OlderControllerRefusedDeleteIs25WithoutVerification)
{
    Queue(dirmake, "", "tes022/1234", DIGEST_MD5);
    Queue(filecopy, Source("fw.bin", 3000), "tes022/1234/fw.bin", DIGEST_MD5);
    // The controller staged the file well: a verification would pass.
    ASSERT_EQ(std::system("mkdir -p /tmp/TES022/1234 && cp /tmp/src/fw.bin /tmp/TES022/1234/"), 0);
    tessa.ScriptCodes(0x08, {0xC1});
    const size_t dropBoxes = tessa.DynamicPartitions().size();
    client->storeErrorInfo(0);

    EXPECT_FALSE(client->CompleteCopyFile());

    EXPECT_EQ(client->getKOLTError(), KOLT_DELETEDROPBOXFAILED);
    EXPECT_EQ(client->l_state, 0u);
    EXPECT_EQ(documents.size(), 1u);
    EXPECT_EQ(Count(0x08), 1u);
    EXPECT_EQ(tessa.DynamicPartitions().size(), dropBoxes + 1);
    // The drop box's attach is the only one: TES022 is not attached to verify.
    EXPECT_EQ(Count(0x05), 1u);
    EXPECT_EQ(tessa.AttachedStaticBits(), 0);
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "DeleteDropBox Failed"));
    EXPECT_FALSE(Contains(log, "Copy verification Succeeded"));
    EXPECT_FALSE(Contains(log, "Copy verification Failed"));
}

TEST_F(DropBoxCopy, OlderControllerEmptyQueueSendsNothing)
{
    const size_t frames = controller.Frames().size();
    EXPECT_FALSE(client->CompleteCopyFile());
    EXPECT_EQ(client->getKOLTError(), KOLT_INTERNALERROR);
    EXPECT_EQ(controller.Frames().size(), frames);
}

} // namespace
