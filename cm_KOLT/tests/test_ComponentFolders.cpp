// The component's folders on the firmware-image partition: what a look at
// "TES022" queues for a first install, a reinstall of the same version and
// a new version, and the readers it relies on.

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "ComponentFolderTest.h"

namespace {

using Strings = std::vector<std::string>;

class ComponentFolders : public ComponentFolderTest {
protected:
    Strings Queue() const
    {
        Strings texts;
        for (const cfgEntry& entry : client->cfgEntries)
            texts.push_back(std::to_string(entry.mode) + " " + entry.destination);
        return texts;
    }
};

} // namespace

TEST_F(ComponentFolders, WhatEachStateOfThePartitionQueues)
{
    const struct {
        const char* name;
        Strings folders;
        const char* storedVersion;   // null: no package.xml in current
        bool result;
        Strings queue;
        uint8_t fresh;
        bool matched;
    } cases[] = {
        {"empty partition", {}, nullptr, true,
         {"8 tes022/1234", "8 tes022/1234/previous", "8 tes022/1234/current"}, 1, false},
        {"another component's look-alike", {"01234/"}, nullptr, true,
         {"8 tes022/1234", "8 tes022/1234/previous", "8 tes022/1234/current"}, 1, false},
        {"empty component folder", {"1234/"}, nullptr, true, {"8 tes022/1234/previous", "8 tes022/1234/current"}, 1,
         false},
        {"current without a descriptor", {"1234/", "1234/current/", "1234/previous/"}, nullptr, true, {}, 0, false},
        {"another version", {"1234/", "1234/current/", "1234/previous/"}, "A01", true, {}, 0, false},
        {"the same version, case aside, no previous", {"1234/", "1234/current/"}, "a00", true,
         {"5 tes022/1234/current/fw.bin", "5 tes022/1234/current/package.xml", "8 tes022/1234/previous"}, 0, true},
        {"only previous", {"1234/", "1234/previous/"}, nullptr, false, {}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(std::system("rm -rf /tmp/TES022/* /tmp/TES022/.??*"), 0);
        onPartition(c.folders);
        if (c.storedVersion != nullptr) {
            onPartition({"1234/current/package.xml"}, ComponentPackage(c.storedVersion));
            onPartition({"1234/current/fw.bin"}, "old");
        }
        client->EndCopyFile();
        ASSERT_TRUE(client->StartCopyFile());
        client->freshInstall = 7;
        bool matched = !c.matched;

        EXPECT_EQ(client->AttachAndCompare(matched), c.result);

        Strings queue = Queue();
        if (c.matched)
            std::sort(queue.begin(), queue.end());
        EXPECT_EQ(queue, c.queue);
        EXPECT_EQ(client->freshInstall, c.fresh);
        EXPECT_EQ(matched, c.matched);
        EXPECT_EQ(client->componentId, "1234");
        EXPECT_EQ(tessa.AttachedStaticBits(), 0) << "TES022 is detached on every return";
    }
}

TEST_F(ComponentFolders, FailuresDetachAndReport)
{
    // Outside a copy transaction nothing can be queued.
    client->EndCopyFile();
    bool matched = true;
    EXPECT_FALSE(client->AttachAndCompare(matched));
    EXPECT_EQ(client->getKOLTError(), KOLT_NOTRANSACTION);
    EXPECT_EQ(tessa.AttachedStaticBits(), 0);

    // No component id: nothing is attached.
    ASSERT_TRUE(client->StartCopyFile());
    std::ofstream("package.xml") << "<SoftwareComponent vendorVersion=\"1\"/>";
    const size_t frames = framesSinceSetUp().size();
    EXPECT_FALSE(client->AttachAndCompare(matched));
    EXPECT_EQ(client->getKOLTError(), KOLT_NOPACKAGEIDENTITY);
    EXPECT_EQ(framesSinceSetUp().size(), frames);
    EXPECT_TRUE(Contains(Log(), "Get Component ID failed"));
}

TEST_F(ComponentFolders, UsbStorageUnavailableReachesTheCallerAs65)
{
    host.answer(parthost::kUsbLoaded, 256);
    host.answer(parthost::kUsbLoad, 256);
    bool matched = true;
    unsigned char thrown = 0;
    try {
        client->AttachAndCompare(matched);
    } catch (unsigned char error) {
        thrown = error;
    }
    EXPECT_EQ(thrown, KOLT_USBBLOCKLISTED);
    EXPECT_EQ(client->getKOLTError(), KOLT_USBBLOCKLISTED);
    EXPECT_EQ(tessa.AttachedStaticBits(), 0);
    EXPECT_TRUE(Contains(Log(), "Throwing USBBlocklisted Error from AttachAndCompares"));
}

TEST_F(ComponentFolders, ReadersOfFoldersAndVersions)
{
    onPartition({"1234/", "1234/current/", "1234/current/.hidden", "1234/current/sub/"});
    onPartition({"1234/current/package.xml"}, ComponentPackage("A00 "));
    Strings entries;
    ASSERT_TRUE(client->system_specific_list_dir("/tmp\\TES022\\1234\\current", entries));
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (Strings{".hidden", "package.xml", "sub"}));
    client->storeErrorInfo(0);
    EXPECT_FALSE(client->system_specific_list_dir("/tmp/TES022/none", entries));
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(client->getKOLTError(), KOLT_INTERNALERROR);

    EXPECT_FALSE(string_in_list("Current", {"current", "previous"}));
    EXPECT_TRUE(string_in_list("current", {"current", "previous"}));

    uint8_t fresh = 9;
    Strings listing = {"Current", "Previous"};
    EXPECT_TRUE(client->IsFreshInstall(listing, fresh));
    EXPECT_EQ(fresh, 1);
    client->freshInstall = 0;
    EXPECT_FALSE(client->MakeFreshInstall());
    EXPECT_TRUE(client->cfgEntries.empty());

    // A trailing blank is a different version; a missing "current" fails.
    client->componentId = "1234";
    bool matched = true;
    EXPECT_TRUE(client->compareVendorVersion("/tmp/TES022/", matched));
    EXPECT_FALSE(matched);
    client->componentId = "999";
    EXPECT_FALSE(client->compareVendorVersion("/tmp/TES022/", matched));
    EXPECT_TRUE(Contains(Log(), "List Current folder failed"));
}
