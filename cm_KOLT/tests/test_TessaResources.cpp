// The scoped owners of the drop box, an attachment and the drop box's
// mount: what each gives back when its scope ends by an exception, what it
// leaves when told to keep it or when a release was refused, the order of
// release, and the unit their lines are logged under. On a Linux host with
// the controller model and the drop box's folder in the test's private /tmp.

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "PartitionHostTest.h"
#include "TessaResources.h"

namespace {

using Strings = std::vector<std::string>;

// How a scope under test ends.
struct Unwound {};

class TessaResources : public PartitionHostTest {
protected:
    void SetUp() override
    {
        PartitionHostTest::SetUp();
        if (HasFatalFailure())
            return;
        exposeAndMountable();
        host.answerPrefix("umount ", 0);
        lines.skipToEnd();
    }

    // The partition sub-commands since set-up, as two-digit texts: create
    // 07, attach 05, detach 06, delete 08 (table queries left out).
    Strings Steps() const
    {
        Strings steps;
        for (const std::string& frame : framesSinceSetUp()) {
            const std::string sub = frame.substr(6, 2);
            if (frame.compare(0, 5, "30 A2") == 0 && sub != "03" && sub != "04")
                steps.push_back(sub);
        }
        return steps;
    }

    // What the owners logged: the lines of this file.
    Strings OwnLines() const { return lines.messagesFrom("test_TessaResources.cpp"); }

    unsigned short DropBoxWord() const { return tessaPartInfo[0].partIdWord; }

    const TessaReleaseLines kDeleteLines{"deleted", "not deleted"};
    const TessaReleaseLines kDetachLines{"detached", "not detached"};
    KoltLogReader lines;
};

TEST_F(TessaResources, ADropBoxIsDeletedWhenItsScopeEndsByAnException)
{
    const size_t dropBoxes = tessa.DynamicPartitions().size();
    try {
        ScopedDropBox box(*client, TESSA_SITE, kDeleteLines);
        unsigned int granted = 0;
        ASSERT_TRUE(box.create(1048576, &granted));
        EXPECT_EQ(granted, 1048576u);
        EXPECT_EQ(tessa.DynamicPartitions().size(), dropBoxes + 1);
        throw Unwound();
    } catch (const Unwound&) {
    }
    EXPECT_EQ(Steps(), (Strings{"07", "08"}));
    EXPECT_EQ(tessa.DynamicPartitions().size(), dropBoxes);
    EXPECT_EQ(OwnLines(), Strings{"deleted"});
}

TEST_F(TessaResources, ADropBoxThatIsKeptOrWasNeverCreatedIsNotDeleted)
{
    const size_t dropBoxes = tessa.DynamicPartitions().size();
    {
        ScopedDropBox box(*client, TESSA_SITE, kDeleteLines);
        unsigned int granted = 0;
        ASSERT_TRUE(box.create(1048576, &granted));
        box.keep();
    }
    tessa.ScriptCodes(0x07, {0xC1});
    {
        ScopedDropBox box(*client, TESSA_SITE, kDeleteLines);
        unsigned int granted = 0;
        EXPECT_FALSE(box.create(1048576, &granted));
    }
    EXPECT_EQ(Steps(), (Strings{"07", "07"}));
    EXPECT_EQ(tessa.DynamicPartitions().size(), dropBoxes + 1);
    EXPECT_TRUE(OwnLines().empty());
}

// A delete the controller refused is asked once more on the way out; one
// that succeeded is not asked again.
TEST_F(TessaResources, ARefusedDeleteIsAskedAgainOnTheWayOut)
{
    {
        ScopedDropBox box(*client, TESSA_SITE, kDeleteLines);
        unsigned int granted = 0;
        ASSERT_TRUE(box.create(1048576, &granted));
        tessa.ScriptCodes(0x08, {0xC1, 0xC1});
        EXPECT_FALSE(box.remove());
    }
    {
        ScopedDropBox box(*client, TESSA_SITE, kDeleteLines);
        unsigned int granted = 0;
        ASSERT_TRUE(box.create(1048576, &granted));
        EXPECT_TRUE(box.remove());
    }
    EXPECT_EQ(Steps(), (Strings{"07", "08", "08", "07", "08"}));
    EXPECT_EQ(OwnLines(), Strings{"not deleted"});
}

// Declared in the order they were taken, the owners give back in the other:
// the drop box is detached (and unmounted) before it is deleted.
TEST_F(TessaResources, AnAttachedDropBoxIsDetachedThenDeleted)
{
    const size_t dropBoxes = tessa.DynamicPartitions().size();
    try {
        ScopedDropBox box(*client, TESSA_SITE, kDeleteLines);
        ScopedAttachment attachment(*client, TESSA_SITE, kDetachLines);
        unsigned int granted = 0;
        ASSERT_TRUE(box.create(1048576, &granted));
        ASSERT_TRUE(attachment.attachDropBox(DropBoxWord()));
        EXPECT_NE(tessa.AttachedDynamicBits(), 0);
        throw Unwound();
    } catch (const Unwound&) {
    }
    EXPECT_EQ(Steps(), (Strings{"07", "05", "06", "08"}));
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
    EXPECT_EQ(tessa.DynamicPartitions().size(), dropBoxes);
    EXPECT_EQ(host.umounts, Strings{"/tmp/SECUPD"});
    EXPECT_EQ(OwnLines(), (Strings{"detached", "deleted"}));
}

TEST_F(TessaResources, WhenADropBoxAttachmentIsGivenBack)
{
    const struct {
        const char* name;
        std::vector<uint8_t> attachCodes;
        std::vector<uint8_t> detachCodes;
        bool detachBeforeTheEnd;
        Strings steps;
        Strings lines;
    } cases[] = {
        {"attached", {}, {}, false, {"05", "06"}, {"detached"}},
        // The attach may have exposed the disk before it gave up.
        {"attach refused", {0xC1}, {}, false, {"05", "06"}, {"detached"}},
        {"detached before", {}, {}, true, {"05", "06"}, {}},
        {"detach refused before", {}, {0xC1}, true, {"05", "06"}, {}},
        {"detach refused on the way out", {}, {0xC1}, false, {"05", "06"}, {"not detached"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        firstFrame = controller.Frames().size();
        lines.skipToEnd();
        tessa.ScriptCodes(0x05, c.attachCodes);
        tessa.ScriptCodes(0x06, c.detachCodes);
        {
            ScopedAttachment attachment(*client, TESSA_SITE, kDetachLines);
            EXPECT_EQ(attachment.attachDropBox(DropBoxWord()), c.attachCodes.empty());
            if (c.detachBeforeTheEnd) {
                EXPECT_EQ(attachment.detach(), c.detachCodes.empty());
            }
        }
        EXPECT_EQ(Steps(), c.steps);
        EXPECT_EQ(OwnLines(), c.lines);
    }
}

// An attach refused before any request (usb-storage block-listed) holds
// nothing.
TEST_F(TessaResources, AnAttachThatThrowsHoldsNothing)
{
    host.answer(parthost::kUsbLoaded, 256);
    host.answer(parthost::kUsbLoad, 256);
    unsigned char thrown = 0;
    {
        ScopedAttachment attachment(*client, TESSA_SITE, kDetachLines);
        try {
            attachment.attachDropBox(DropBoxWord());
        } catch (unsigned char error) {
            thrown = error;
        }
    }
    EXPECT_EQ(thrown, KOLT_USBBLOCKLISTED);
    EXPECT_TRUE(Steps().empty());
    EXPECT_TRUE(OwnLines().empty());
}

TEST_F(TessaResources, ANumberedPartitionIsDetachedOnlyWhenItWasAttached)
{
    try {
        ScopedAttachment attachment(*client, TESSA_SITE, kDetachLines);
        ASSERT_TRUE(attachment.attachNumbered("TES022"));
        EXPECT_EQ(tessa.AttachedStaticBits(), 0x0004);
        throw Unwound();
    } catch (const Unwound&) {
    }
    EXPECT_EQ(Steps(), (Strings{"05", "06"}));
    EXPECT_EQ(tessa.AttachedStaticBits(), 0);
    EXPECT_EQ(OwnLines(), Strings{"detached"});

    // A failed attach has detached what it attached itself.
    firstFrame = controller.Frames().size();
    lines.skipToEnd();
    tessaPartInfo[22].present = false;
    {
        ScopedAttachment attachment(*client, TESSA_SITE, kDetachLines);
        EXPECT_FALSE(attachment.attachNumbered("TES022"));
    }
    EXPECT_TRUE(Steps().empty());
    EXPECT_TRUE(OwnLines().empty());
}

TEST_F(TessaResources, AMountedDropBoxIsUnmountedUnlessKept)
{
    try {
        ScopedDropBoxMount mount(*client, TESSA_SITE, {"unmounted", "still mounted"});
        ASSERT_TRUE(mount.mount());
        EXPECT_EQ(client->currentDropBox, "/dev/sectesupd-SECUPD");
        throw Unwound();
    } catch (const Unwound&) {
    }
    EXPECT_EQ(host.umounts, Strings{"/tmp/SECUPD"});
    EXPECT_TRUE(Contains(host.commands, "rm -rf /tmp/SECUPD > /dev/null 2>&1"));
    EXPECT_TRUE(client->currentDropBox.empty());
    EXPECT_EQ(OwnLines(), Strings{"unmounted"});

    host.umounts.clear();
    lines.skipToEnd();
    {
        ScopedDropBoxMount mount(*client, TESSA_SITE, {"unmounted", "still mounted"});
        ASSERT_TRUE(mount.mount());
        mount.keep();
    }
    EXPECT_TRUE(host.umounts.empty());
    EXPECT_EQ(client->currentDropBox, "/dev/sectesupd-SECUPD");
    EXPECT_TRUE(OwnLines().empty());
}

// A mount that failed is not unmounted on the way out: it holds nothing, and
// the folder it could not mount on may not be its own.
TEST_F(TessaResources, AFailedMountIsNotUnmounted)
{
    host.answerPrefix("mount ", 1 << 8);
    {
        ScopedDropBoxMount mount(*client, TESSA_SITE, {"unmounted", "still mounted"});
        EXPECT_FALSE(mount.mount());
    }
    EXPECT_TRUE(host.umounts.empty());
    EXPECT_TRUE(OwnLines().empty());
}

// The folder goes only once nothing is mounted on it: a drop box that stays
// busy is left mounted, and the failure line says so.
TEST_F(TessaResources, ABusyDropBoxKeepsItsFolder)
{
    {
        ScopedDropBoxMount mount(*client, TESSA_SITE, {"unmounted", "still mounted"});
        ASSERT_TRUE(mount.mount());
        host.scriptUmount(EBUSY, 100);
    }
    EXPECT_FALSE(Contains(host.commands, "rm -rf /tmp/SECUPD > /dev/null 2>&1"));
    EXPECT_EQ(OwnLines(), Strings{"still mounted"});
}

} // namespace
