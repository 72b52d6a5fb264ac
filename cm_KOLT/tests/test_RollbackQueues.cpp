// What the rollback queues from its plans, and which method the
// controller's answers choose.

#include "RollbackWrapperTest.h"

namespace {

using Strings = std::vector<std::string>;

class RollbackQueueTest : public RollbackWrapperTest {
protected:
    Strings Queue() const
    {
        Strings texts;
        for (const cfgEntry& entry : wrapper->cfgEntries)
            texts.push_back(std::to_string(entry.mode) + ' ' + entry.source + " -> " + entry.destination);
        return texts;
    }

    // The single stage-and-update command: capability answered with
    // `capable`, everything else accepted.
    void AnswerSingleCommand(bool capable)
    {
        tessa.SetSubHandler(0x26, [this, capable](const std::vector<uint8_t>& data) {
            const uint8_t operation = data.size() > 3 ? data[3] : 0;
            operations.push_back(operation);
            SimIpmiReply reply;
            reply.data = {static_cast<uint8_t>(operation == 0x01 && !capable ? 1 : 0), 0x01, 0};
            return reply;
        });
    }

    std::vector<uint8_t> operations;
};

} // namespace

TEST_F(RollbackQueueTest, DropBoxQueueForOnePayloadFile)
{
    UpdRollbackWrapper& w = NewWrapper();
    w.rollbackMethod = ROLLBACK_METHOD_WAVEC;
    dir.write("payload/fw.bin", "firmware");
    const std::string e = dir.path() + "/";
    ASSERT_EQ(w.addPayloadandPackageFiles({e + "payload/fw.bin"}, true, false, "", DIGEST_SHA256), 0);
    EXPECT_EQ(Queue(), (Strings{"8  -> /payload", "1 " + e + "/package.xml -> /payload/package.xml",
                                "1 " + e + "payload/fw.bin -> /payload/fw.bin"}));
    for (const cfgEntry& entry : w.cfgEntries) {
        if (entry.mode == filecopy) {
            EXPECT_EQ(entry.hash.size(), 64u) << entry.source;
            EXPECT_TRUE(entry.omitDestination);
        }
    }
    EXPECT_EQ(w.l_state, 1u);
}

// A controller that asks for signed packages gets the descriptor's signature
// beside it, without digests; a package without its signature is no signed
// package and is not queued as one.
TEST_F(RollbackQueueTest, SignedPackageQueuesTheSignatureBesideTheDescriptor)
{
    UpdRollbackWrapper& w = NewWrapper();
    w.rollbackMethod = ROLLBACK_METHOD_WAVEC;
    dir.write("payload/fw.bin", "firmware");
    const std::string e = dir.path() + "/";

    w.storeErrorInfo(0);
    EXPECT_EQ(w.addPayloadandPackageFiles({e + "payload/fw.bin"}, true, false, "", DIGEST_GPG), 84);
    EXPECT_EQ(w.getKOLTError(), KOLT_STATFAILED);
    EXPECT_EQ(Queue(), (Strings{"8  -> /payload", "1 " + e + "/package.xml -> /payload/package.xml"}));

    dir.write("package.xml.sign", "signature");
    w.EndCopyFile();
    ASSERT_EQ(w.addPayloadandPackageFiles({e + "payload/fw.bin"}, true, false, "", DIGEST_GPG), 0);
    EXPECT_EQ(Queue(), (Strings{"8  -> /payload", "1 " + e + "/package.xml -> /payload/package.xml",
                                "1 " + e + "/package.xml.sign -> /payload/package.xml.sign",
                                "1 " + e + "payload/fw.bin -> /payload/fw.bin"}));
    for (const cfgEntry& entry : w.cfgEntries) {
        EXPECT_TRUE(entry.hash.empty()) << entry.source;
        EXPECT_FALSE(entry.omitDestination) << entry.source;
    }
}

TEST_F(RollbackQueueTest, AQueuedFileThatCannotBeDigestedStopsThePlan)
{
    UpdRollbackWrapper& w = NewWrapper();
    w.rollbackMethod = ROLLBACK_METHOD_WAVEC;
    const std::string e = dir.path() + "/";
    ASSERT_EQ(mkdir(dir.file("payload").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("payload/fw.bin").c_str(), 0755), 0);
    EXPECT_NE(w.addPayloadandPackageFiles({e + "payload/fw.bin"}, true, false, "", DIGEST_SHA256), 0);
    for (const cfgEntry& entry : w.cfgEntries)
        EXPECT_NE(entry.destination, "/payload/fw.bin");
}

// The controller's answer chooses the method; a WaveD controller without
// the single command gets no rollback copy at all.
TEST_F(RollbackQueueTest, MethodChosenByTheControllersAnswer)
{
    const struct {
        uint8_t generationByte;
        bool capable;
        int32_t method;
    } cases[] = {{0x20, true, ROLLBACK_METHOD_WAVEC},
                 {0x30, true, ROLLBACK_METHOD_WAVEC},
                 {0x20, false, ROLLBACK_METHOD_WAVEB},
                 {0x30, false, ROLLBACK_METHOD_NONE}};
    dir.write("payload/fw.bin", "firmware");
    // Only the method counts here: the usb_storage gate is shut, so both
    // methods stop at their first attach.
    host.answer("grep -i \"usb[-_]storage.ko\" /lib/modules/$(uname -r)/modules.builtin  > /dev/null 2>&1", 256);
    host.answer("lsmod | grep usb_storage  > /dev/null 2>&1", 256);
    host.answer("modprobe usb_storage  > /dev/null 2>&1", 256);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.generationByte) + (c.capable ? " capable" : " not capable"));
        GenerationType = -1;
        tessa.SetGenerationByte(c.generationByte);
        AnswerSingleCommand(c.capable);
        UpdRollbackWrapper& w = NewWrapper();
        std::string message;
        const int result = w.doRollbackAndUpdate({dir.file("payload/fw.bin")}, nullptr, nullptr, true, message,
                                                 false, false, "");
        EXPECT_EQ(w.rollbackMethod, c.method);
        if (c.method != ROLLBACK_METHOD_NONE) {
            EXPECT_EQ(result, KOLT_USBBLOCKLISTED);
        }
        if (c.method == ROLLBACK_METHOD_NONE) {
            EXPECT_EQ(result, -1);
            EXPECT_TRUE(tessa.DynamicPartitions().empty());
        }
    }
}

// On the older method the component id names the folders on "TES022" and
// reaches the request document: a package whose id cannot be one folder
// name gets no rollback copy at all, as one without an id.
TEST_F(RollbackQueueTest, OlderMethodRefusesAComponentIdThatIsNoFolderName)
{
    dir.write("payload/fw.bin", "firmware");
    tessa.SetGenerationByte(0x20);
    AnswerSingleCommand(false);
    for (const char* id : {"../victim", "..", "1&quot;/&gt;&lt;Mode&gt;dirdelete&lt;/Mode&gt;&lt;x a=&quot;",
                           "&lt;Mode&gt;", "tes022/1234"}) {
        SCOPED_TRACE(id);
        GenerationType = -1;
        dir.write("package.xml", RollbackPackage(id));
        UpdRollbackWrapper& w = NewWrapper();
        std::string message;
        EXPECT_EQ(w.doRollbackAndUpdate({dir.file("payload/fw.bin")}, nullptr, nullptr, true, message, false, false,
                                        ""),
                  KOLT_NOPACKAGEIDENTITY);
        EXPECT_EQ(w.rollbackMethod, ROLLBACK_METHOD_WAVEB);
        EXPECT_EQ(message, "KOLT addPayloadFiles failed");
        EXPECT_TRUE(w.cfgEntries.empty());
        // Neither "TES022" nor a drop box was asked for.
        for (const std::string& frame : NewFrames()) {
            EXPECT_NE(frame.compare(0, 8, "30 A2 05"), 0) << frame;
            EXPECT_NE(frame.compare(0, 8, "30 A2 07"), 0) << frame;
        }
        EXPECT_TRUE(tessa.DynamicPartitions().empty());
        EXPECT_TRUE(Contains(NewLog(), "Could not get Component ID"));
    }
}

// A usable id beside an unusable one: the folders are the usable id's.
TEST_F(RollbackQueueTest, OlderMethodPlansUnderTheUsableIdOnly)
{
    dir.write("payload/fw.bin", "firmware");
    dir.write("package.xml", RollbackPackage("108301\"/><Device componentID=\"../victim"));
    tessa.SetGenerationByte(0x20);
    AnswerSingleCommand(false);
    // The plan stops at the attach of "TES022": usb_storage is shut.
    host.answer("grep -i \"usb[-_]storage.ko\" /lib/modules/$(uname -r)/modules.builtin  > /dev/null 2>&1", 256);
    host.answer("lsmod | grep usb_storage  > /dev/null 2>&1", 256);
    host.answer("modprobe usb_storage  > /dev/null 2>&1", 256);
    UpdRollbackWrapper& w = NewWrapper();
    std::string message;
    EXPECT_EQ(w.doRollbackAndUpdate({dir.file("payload/fw.bin")}, nullptr, nullptr, true, message, false, false, ""),
              KOLT_USBBLOCKLISTED);
    EXPECT_EQ(w.componentId, "108301");
}
