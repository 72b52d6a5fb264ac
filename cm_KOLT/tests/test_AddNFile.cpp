// Payload files queued one at a time into the component's folders on
// "TES022": the folder work of the first call of a copy transaction (fresh
// install, the same version again, a new version) and the file copies of
// every call.

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "ComponentFolderTest.h"

namespace {

using Strings = std::vector<std::string>;

class AddNFileTest : public ComponentFolderTest {
protected:
    void SetUp() override
    {
        ComponentFolderTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(::mkdir("/tmp/pkg", 0755), 0);
        for (const char* file : {"/tmp/pkg/a.bin", "/tmp/pkg/b.bin"})
            std::ofstream(file) << file;
    }

    // "<mode> <source> -> <destination>" of every queued entry.
    Strings Queue() const
    {
        Strings texts;
        for (const cfgEntry& entry : client->cfgEntries)
            texts.push_back(std::to_string(entry.mode) + " " + entry.source + " -> " + entry.destination);
        return texts;
    }

    size_t Attaches() const
    {
        const Strings frames = framesSinceSetUp();
        return static_cast<size_t>(std::count_if(frames.begin(), frames.end(), [](const std::string& frame) {
            return frame.compare(0, 8, "30 A2 05") == 0;
        }));
    }
};

// Listing order is the file system's: entries of one folder are compared
// as a set, the groups in their order.
void SortRange(Strings& queue, size_t from, size_t count)
{
    ASSERT_LE(from + count, queue.size());
    std::sort(queue.begin() + static_cast<long>(from), queue.begin() + static_cast<long>(from + count));
}

} // namespace

TEST_F(AddNFileTest, FreshInstallQueuesFoldersThenEveryFileIntoBoth)
{
    EXPECT_TRUE(client->AddNFile("/tmp/pkg/a.bin"));
    EXPECT_TRUE(client->AddNFile("/tmp/pkg/b.bin"));
    EXPECT_EQ(Queue(), (Strings{
                           "8  -> tes022/1234",
                           "8  -> tes022/1234/previous",
                           "8  -> tes022/1234/current",
                           "1 package.xml -> tes022/1234/current/package.xml",
                           "1 package.xml -> tes022/1234/previous/package.xml",
                           "1 /tmp/pkg/a.bin -> tes022/1234/current/a.bin",
                           "1 /tmp/pkg/a.bin -> tes022/1234/previous/a.bin",
                           "1 /tmp/pkg/b.bin -> tes022/1234/current/b.bin",
                           "1 /tmp/pkg/b.bin -> tes022/1234/previous/b.bin",
                       }));
    for (const cfgEntry& entry : client->cfgEntries) {
        if (entry.mode == filecopy) {
            EXPECT_EQ(entry.hash.size(), 32u) << entry.destination;
        }
    }
    EXPECT_EQ(Attaches(), 1u) << "the partition is looked at once per transaction";
    EXPECT_EQ(tessa.AttachedStaticBits(), 0);
    EXPECT_EQ(client->freshInstall, 1);
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "Adding first N payload file"));
    EXPECT_TRUE(Contains(log, "Component ID dir not there, add it and Current"));
    EXPECT_TRUE(Contains(log, "Adding subsequent N payload file"));

    // A new transaction looks again: the component folder exists, empty.
    onPartition({"1234/"});
    client->EndCopyFile();
    ASSERT_TRUE(client->StartCopyFile());
    EXPECT_TRUE(client->AddNFile("/tmp/pkg/a.bin"));
    EXPECT_EQ(Queue(), (Strings{
                           "8  -> tes022/1234/previous",
                           "8  -> tes022/1234/current",
                           "1 package.xml -> tes022/1234/current/package.xml",
                           "1 package.xml -> tes022/1234/previous/package.xml",
                           "1 /tmp/pkg/a.bin -> tes022/1234/current/a.bin",
                           "1 /tmp/pkg/a.bin -> tes022/1234/previous/a.bin",
                       }));
    EXPECT_EQ(Attaches(), 2u);
}

TEST_F(AddNFileTest, ExistingFoldersAreEmptiedOrRotatedEntryByEntry)
{
    const std::string tail1 = "1 package.xml -> tes022/1234/current/package.xml";
    const std::string tail2 = "1 /tmp/pkg/a.bin -> tes022/1234/current/a.bin";
    const struct {
        const char* name;
        Strings folders;
        const char* storedVersion;   // null: no package.xml in current
        Strings setup;               // folder work, each folder's entries sorted
        std::vector<std::pair<size_t, size_t>> groups;   // ranges in listing order
    } cases[] = {
        // The same version again, case aside: current is emptied, previous kept.
        {"same version", {"1234/", "1234/current/", "1234/previous/", "1234/previous/old.bin"}, "a00",
         {"5  -> tes022/1234/current/fw.bin", "5  -> tes022/1234/current/package.xml"}, {{0, 2}}},
        {"same version, no previous", {"1234/", "1234/current/"}, "A00",
         {"5  -> tes022/1234/current/fw.bin", "5  -> tes022/1234/current/package.xml", "8  -> tes022/1234/previous"},
         {{0, 2}}},
        // A new version: previous emptied, every entry of current moved into it.
        {"new version", {"1234/", "1234/current/", "1234/previous/", "1234/previous/old.bin",
                         "1234/previous/package.xml"},
         "A01",
         {"5  -> tes022/1234/previous/old.bin", "5  -> tes022/1234/previous/package.xml",
          "3 tes022/1234/current/fw.bin -> tes022/1234/previous/fw.bin",
          "3 tes022/1234/current/package.xml -> tes022/1234/previous/package.xml"},
         {{0, 2}, {2, 2}}},
        {"new version, no previous", {"1234/", "1234/current/"}, "A01",
         {"8  -> tes022/1234/previous", "3 tes022/1234/current/fw.bin -> tes022/1234/previous/fw.bin",
          "3 tes022/1234/current/package.xml -> tes022/1234/previous/package.xml"},
         {{1, 2}}},
        {"current without a descriptor", {"1234/", "1234/current/", "1234/current/fw.bin"}, nullptr,
         {"8  -> tes022/1234/previous", "3 tes022/1234/current/fw.bin -> tes022/1234/previous/fw.bin"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(std::system("rm -rf /tmp/TES022/*"), 0);
        onPartition(c.folders);
        if (c.storedVersion != nullptr) {
            onPartition({"1234/current/package.xml"}, ComponentPackage(c.storedVersion));
            onPartition({"1234/current/fw.bin"}, "old");
        }
        client->EndCopyFile();
        ASSERT_TRUE(client->StartCopyFile());
        client->freshInstall = 7;

        EXPECT_TRUE(client->AddNFile("/tmp/pkg/a.bin"));

        Strings queue = Queue();
        for (const auto& group : c.groups)
            SortRange(queue, group.first, group.second);
        Strings expected = c.setup;
        expected.push_back(tail1);
        expected.push_back(tail2);
        EXPECT_EQ(queue, expected);
        EXPECT_EQ(client->freshInstall, 0) << "copies go into current only";
        EXPECT_EQ(tessa.AttachedStaticBits(), 0);
    }
}

TEST_F(AddNFileTest, FileNameIsTheTextAfterTheLastSlashOrBackslash)
{
    client->freshInstall = 0;
    onPartition({"1234/", "1234/current/", "1234/previous/"});
    std::ofstream("C:\\pkg\\a.bin") << "windows path";
    std::ofstream("/tmp/pkg\\c.bin") << "mixed";
    EXPECT_TRUE(client->AddNFile("C:\\pkg\\a.bin"));
    EXPECT_TRUE(client->AddNFile("/tmp/pkg\\c.bin"));
    const Strings queue = Queue();
    ASSERT_GE(queue.size(), 2u);
    EXPECT_EQ(queue[queue.size() - 2], "1 C:\\pkg\\a.bin -> tes022/1234/current/a.bin");
    EXPECT_EQ(queue.back(), "1 /tmp/pkg\\c.bin -> tes022/1234/current/c.bin");

    // Without a file name nothing would name the copy: refused, queue kept.
    for (const char* path : {"/tmp/pkg/", "C:\\pkg\\", ""}) {
        SCOPED_TRACE(path);
        client->storeErrorInfo(0);
        EXPECT_FALSE(client->AddNFile(path));
        EXPECT_EQ(Queue(), queue);
        EXPECT_EQ(client->getKOLTError(), KOLT_EMPTYDESTINATION);
    }
}

TEST_F(AddNFileTest, RefusedPathDoesNotUseUpTheFolderSetup)
{
    EXPECT_FALSE(client->AddNFile("/tmp/pkg/"));
    EXPECT_EQ(client->nFileSetupDone, 0u);
    EXPECT_TRUE(client->cfgEntries.empty());
    EXPECT_EQ(Attaches(), 0u);
    EXPECT_TRUE(client->AddNFile("/tmp/pkg/a.bin"));
    EXPECT_EQ(Queue().front(), "8  -> tes022/1234");
}

// A file named "." or ".." would be queued as "current" itself or as the
// component folder: refused like a path without a file name, before the
// folder setup of the transaction is used up.
TEST_F(AddNFileTest, AFileNamedDotOrDotDotIsRefusedBeforeTheFolderSetup)
{
    for (const char* path : {"/tmp/pkg/..", "/tmp/pkg/.", "C:\\pkg\\.."}) {
        SCOPED_TRACE(path);
        client->storeErrorInfo(0);
        EXPECT_FALSE(client->AddNFile(path));
        EXPECT_EQ(client->getKOLTError(), KOLT_EMPTYDESTINATION);
        EXPECT_EQ(client->nFileSetupDone, 0u);
    }
    EXPECT_TRUE(client->cfgEntries.empty());
    EXPECT_EQ(Attaches(), 0u);
    EXPECT_TRUE(Contains(Log(), "No file name in /tmp/pkg/.."));
}

// Each level of a component folder is one name: an id holding a "/" would
// otherwise queue the file two folders deep, under another component's.
TEST_F(AddNFileTest, AComponentIdThatIsNoOneNameQueuesNothing)
{
    client->nFileSetupDone = 1;
    client->freshInstall = 0;
    for (const char* id : {"1234/5678", "..", "12\\34"}) {
        SCOPED_TRACE(id);
        client->componentId = id;
        client->storeErrorInfo(0);
        EXPECT_FALSE(client->AddNFile("/tmp/pkg/a.bin"));
        EXPECT_EQ(client->getKOLTError(), KOLT_EMPTYDESTINATION);
    }
    EXPECT_TRUE(client->cfgEntries.empty());
    EXPECT_TRUE(Contains(Log(), "No place in the component's folder, the path holds a separator inside a name"));
}

// The attach fails after the component id was read: the id is known, so
// the next call of the transaction queues its file at once.
TEST_F(AddNFileTest, AttachFailureThenTheNextCallQueuesAtOnce)
{
    client->freshInstall = 0;
    tessa.ScriptCodes(0x05, {0xC1});
    EXPECT_FALSE(client->AddNFile("/tmp/pkg/a.bin"));
    EXPECT_TRUE(Contains(Log(), "AttachTessaParition Failed"));
    EXPECT_TRUE(client->cfgEntries.empty());
    EXPECT_EQ(client->componentId, "1234");

    const size_t attaches = Attaches();
    EXPECT_TRUE(client->AddNFile("/tmp/pkg/b.bin"));
    EXPECT_EQ(Queue(), (Strings{"1 /tmp/pkg/b.bin -> tes022/1234/current/b.bin"}));
    EXPECT_EQ(Attaches(), attaches) << "no second folder setup";
}

// Without a component id there is no folder to queue into: every call of
// the transaction is refused, none queues "tes022//current/...". An id that
// cannot be one folder name counts as none, and "TES022" is not even
// attached for it.
TEST_F(AddNFileTest, NoComponentIdRefusesEveryCall)
{
    for (const char* package : {"<SoftwareComponent vendorVersion=\"A00\"/>",
                                "<SoftwareComponent vendorVersion=\"A00\"><SupportedDevices>"
                                "<Device componentID=\"../victim\"/></SupportedDevices></SoftwareComponent>"}) {
        SCOPED_TRACE(package);
        client->EndCopyFile();
        ASSERT_TRUE(client->StartCopyFile());
        std::ofstream("package.xml") << package;
        for (const char* path : {"/tmp/pkg/a.bin", "/tmp/pkg/b.bin"}) {
            SCOPED_TRACE(path);
            client->storeErrorInfo(0);
            EXPECT_FALSE(client->AddNFile(path));
            EXPECT_EQ(client->getKOLTError(), KOLT_NOPACKAGEIDENTITY);
        }
        EXPECT_TRUE(client->cfgEntries.empty());
    }
    EXPECT_EQ(Attaches(), 0u);
}

TEST_F(AddNFileTest, FailedSetupsDetachAndReport)
{
    enum Fault { UsbUnavailable, OnlyPrevious, NoTransaction };
    const struct {
        Fault fault;
        unsigned char error;
        const char* line;
    } cases[] = {
        // First: the answer on usb_storage is remembered for the run.
        {UsbUnavailable, KOLT_USBBLOCKLISTED, "USB is blocklisted so stop the ZOR update"},
        {OnlyPrevious, KOLT_INTERNALERROR, "CompareVendorVersion Failed"},
        {NoTransaction, KOLT_NOTRANSACTION, "Adding first N payload file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        ASSERT_EQ(std::system("rm -rf /tmp/TES022/*"), 0);
        client->EndCopyFile();
        ASSERT_TRUE(client->StartCopyFile());
        client->storeErrorInfo(0);
        switch (c.fault) {
        case OnlyPrevious: onPartition({"1234/", "1234/previous/"}); break;
        case NoTransaction: client->EndCopyFile(); break;
        case UsbUnavailable:
            host.answer(parthost::kUsbLoaded, 256);
            host.answer(parthost::kUsbLoad, 256);
            break;
        }
        if (c.fault == OnlyPrevious) {
            CPlatformLayer::unloadUSB();
            host.answer(parthost::kUsbLoaded, 0);
        }
        bool result = true;
        EXPECT_NO_THROW(result = client->AddNFile("/tmp/pkg/a.bin"));
        EXPECT_FALSE(result);
        EXPECT_EQ(client->getKOLTError(), c.error);
        EXPECT_TRUE(client->cfgEntries.empty());
        EXPECT_EQ(tessa.AttachedStaticBits(), 0) << "TES022 is detached again";
        EXPECT_TRUE(Contains(Log(), c.line));
    }
}
