#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "EmulatedNVMeHost.h"
#include "NVMeControllerModel.h"
#include "NVMeTestData.h"
#include "TempDir.h"

// The shipped program's update run on an emulated host with ZAGO
// controllers. The program is copied into a folder of its own with the
// payload folder beside it, as the update package lays it out.

namespace {

const std::string kPackage = packageXml({{"0A1F", "2151", "1B4B", "1028"}}, "ZAGO BOSS-N1 Modular");

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SVMExecution lang=\"en\">";
const std::string kElements =
    "<Device  vendorID=\"1b4b\" deviceID=\"a1f\" subVendorID=\"1028\" subDeviceID=\"2151\" display=\"ZAGO BOSS-N1 "
    "Modular\" enum = \"Serial Number: SN0001\" ><Application componentType=\"FRMW\" version=\"2.5.0.17\" "
    "display=\"ZAGO BOSS-N1\" >";
const std::string kDeviceNotFound =
    kHead + "<SPStatus result = \"false\" ><Message id=\"1\" >Device not found</Message></SPStatus></SVMExecution>";
const std::string kPayloadError = kHead +
                                  "<SPStatus result = \"false\" ><Message id=\"0\" >Payload directory is not "
                                  "proper.</Message></SPStatus></SVMExecution>";

std::string successDocument()
{
    return kHead + kElements +
           "<SPStatus result = \"true\" ><Message id=\"0\" >Firmware update is successful.</Message></SPStatus>"
           "</Application></Device><RebootRequired>1</RebootRequired></SVMExecution>";
}

std::string failureDocument(const std::string& message)
{
    return kHead + kElements + "<SPStatus result = \"false\" ><Message id=\"0\" >" + message +
           "</Message></SPStatus></Application></Device></SVMExecution>";
}

std::shared_ptr<ZagoControllerModel> zagoModel(uint16_t deviceId = 0xA1F, const std::string& serial = "SN0001")
{
    auto model = std::make_shared<ZagoControllerModel>();
    model->setAdapterIds(0x1B4B, deviceId, 0x1028, 0x2151);
    model->setAdapterSerial(serial);
    model->setIdentify(serial, "ZAGO BOSS-N1", "0.9", 1);
    model->setFirmwareNumbers(2, 5, 0, 17);
    return model;
}

// One update run: the program beside its payload folder, started in a
// folder of its own that holds "package.xml".
class UpdateRun {
public:
    UpdateRun() : exeDir(false), workDir(false)
    {
        std::filesystem::copy_file(NVMEPCISSD_EXECUTABLE, exeDir.file("nvmepcissd"));
        workDir.write("package.xml", kPackage);
    }

    void addController(const std::string& name, std::shared_ptr<NVMeControllerModel> model)
    {
        EmulatedController controller;
        controller.name = name;
        controller.pciAddress = "0000:3b:00." + std::to_string(controllers++);
        controller.sysfsIds.vendor = 0x1B4B;
        controller.sysfsIds.device = 0xA1F;
        controller.sysfsIds.subVendor = 0x1028;
        controller.sysfsIds.subDevice = 0x2151;
        controller.model = model;
        host.addController(controller);
    }

    void payloadFile(const std::string& name, const std::string& content) { exeDir.write("payload/" + name, content); }

    EmulatedRun run() { return run({"-u", "-o", "result.xml", "-d"}); }
    EmulatedRun run(const std::vector<std::string>& args) { return host.run(exeDir.file("nvmepcissd"), args, workDir.path()); }

    // The relative result name resolves beside the program once the run
    // reached the rollback hand-over, else where the run started.
    std::string resultBesideProgram() { return exeDir.read("result.xml"); }
    std::string resultWhereStarted() { return workDir.read("result.xml"); }
    std::string log() { return workDir.read("debug_update.log"); }

    TempDir exeDir;
    TempDir workDir;
    EmulatedNVMeHost host;
    int controllers = 0;
};

} // namespace

TEST(UpdateEndToEnd, PatternedImageIsFlashedInThreePiecesAndCommittedOnce)
{
    UpdateRun u;
    auto zago = zagoModel();
    u.addController("nvme0", zago);
    std::string content = patterned(10000);
    u.payloadFile("zago_fw_2.5.0.17.bin", content);

    EmulatedRun r = u.run();
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitStatus, 0) << r.err;

    std::vector<ReceivedAdminCommand> pieces = zago->received(0x11);
    ASSERT_EQ(pieces.size(), 3u);
    const uint32_t lengths[] = {4096, 4096, 1808};
    const uint32_t offsets[] = {0, 4096, 8192};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pieces[i].cmd.data_len, lengths[i]);
        EXPECT_EQ(pieces[i].cmd.cdw10, lengths[i] / 4 - 1);
        EXPECT_EQ(pieces[i].cmd.cdw11, offsets[i] / 4);
        EXPECT_EQ(pieces[i].cmd.nsid, 0u);
        EXPECT_EQ(pieces[i].dataOut, bytes(content.substr(offsets[i], lengths[i])));
    }
    EXPECT_EQ(zago->downloadedImage(), bytes(content));
    std::vector<ReceivedAdminCommand> commits = zago->received(0x10);
    ASSERT_EQ(commits.size(), 1u);
    EXPECT_EQ(commits[0].cmd.cdw10, 0x08u);
    // Nothing after the commit.
    EXPECT_EQ(zago->received().back().cmd.opcode, 0x10);

    EXPECT_EQ(u.resultBesideProgram(), successDocument());
    EXPECT_FALSE(std::filesystem::exists(u.workDir.file("result.xml")));

    // The commit goes out on its own open of the node, after the download
    // closed its one.
    std::string log = u.log();
    size_t downloadDone = log.find("NVMEZAGOLinuxAdapter::writeBuffer() Exiting");
    size_t commitOpen = log.find("NVMEZAGOLinuxAdapter::executeIOCTL() Entering", downloadDone);
    ASSERT_NE(downloadDone, std::string::npos);
    EXPECT_NE(commitOpen, std::string::npos);
    EXPECT_NE(log.find("writeBuffer: no of writes = 3"), std::string::npos);
    // The node as the emulation saw it: the three pieces share one open,
    // the commit comes on the next open, a fresh one of its own.
    std::vector<std::string> events = u.host.nodeEvents("nvme0");
    std::vector<std::string> commands;
    for (const std::string& e : events) {
        if (e.rfind("ioctl ", 0) == 0)
            commands.push_back(e);
    }
    ASSERT_GE(commands.size(), 4u) << testing::PrintToString(events);
    std::vector<std::string> last4(commands.end() - 4, commands.end());
    std::string downloadOpen = last4[0].substr(6, last4[0].find(' ', 6) - 6);
    EXPECT_EQ(last4, (std::vector<std::string>{"ioctl " + downloadOpen + " 0x11", "ioctl " + downloadOpen + " 0x11",
                                               "ioctl " + downloadOpen + " 0x11",
                                               "ioctl " + std::to_string(std::stoi(downloadOpen) + 1) + " 0x10"}))
        << testing::PrintToString(events);
    // No management controller on this host: the rollback copy fails with
    // the client's KOLT error, logged, and the update result stands.
    const size_t failed = log.find("ERROR: Populating the rollback partition is failed with error code ");
    EXPECT_NE(failed, std::string::npos);
    EXPECT_NE(log.find("Error Code receivie from KOLT is "), std::string::npos);
    EXPECT_EQ(log.find("Populating the rollback partition is success"), std::string::npos);
}

TEST(UpdateEndToEnd, FailedDownloadPieceIsReportedAndNothingCommitted)
{
    UpdateRun u;
    auto zago = zagoModel();
    zago->setDownloadPieceStatus(1, 0x4002);
    u.addController("nvme0", zago);
    u.payloadFile("fw.bin", patterned(10000));

    EmulatedRun r = u.run();
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(zago->received(0x11).size(), 2u);
    EXPECT_TRUE(zago->received(0x10).empty());
    EXPECT_EQ(u.resultWhereStarted(), failureDocument("ERROR: Failed to Update Firmware"));
    EXPECT_NE(u.log().find("UpdateZagoCtrlDevices: writeBuffer failed for /dev/nvme0"), std::string::npos);
}

TEST(UpdateEndToEnd, CommitStatusTable)
{
    struct Case {
        int status;
        bool updated;
        std::string message;
    } cases[] = {
        {0x106, false, "ERROR: Invalid firmware slot"},
        {0x4106, false, "ERROR: Invalid firmware slot"},
        {0x107, false, "ERROR: Invalid firmware image"},
        {0x10B, true, "Firmware update is successful."},
        {0x110, true, "Firmware update is successful."},
        {0x111, true, "Firmware update is successful."},
        {0x113, false, "ERROR: The downloaded image is prohibited from the activation by the controller"},
        {0x114, false, "ERROR: The firmware image hass Overlapping Range"},
        {0x11E, false, "ERROR: Failed to activate Firmware"},
        {0x002, false, "ERROR: Failed to activate Firmware"},
        {0x70B, false, "ERROR: Failed to activate Firmware"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.status);
        UpdateRun u;
        auto zago = zagoModel();
        zago->setStatus(0x10, c.status);
        u.addController("nvme0", zago);
        u.payloadFile("fw.bin", patterned(512));

        EmulatedRun r = u.run();
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(zago->downloadedImage().size(), 512u);
        EXPECT_EQ(zago->received(0x10).size(), 1u);
        if (c.updated)
            EXPECT_EQ(u.resultBesideProgram(), successDocument());
        else
            EXPECT_EQ(u.resultWhereStarted(), failureDocument(c.message));
    }
}

TEST(UpdateEndToEnd, NothingSupportedGivesDeviceNotFound)
{
    struct Case {
        const char* name;
        bool package;
        uint16_t deviceId;
    } cases[] = {{"no package.xml", false, 0xA1F}, {"controller not listed", true, 0xA20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateRun u;
        if (!c.package)
            std::filesystem::remove(u.workDir.file("package.xml"));
        auto zago = zagoModel(c.deviceId);
        u.addController("nvme0", zago);
        u.payloadFile("fw.bin", patterned(4096));
        EmulatedRun r = u.run();
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(u.resultWhereStarted(), kDeviceNotFound);
        EXPECT_TRUE(zago->received(0x11).empty());
        EXPECT_TRUE(zago->received(0x10).empty());
    }
}

TEST(UpdateEndToEnd, OnlyListedControllersAreFlashed)
{
    UpdateRun u;
    auto unlisted = zagoModel(0xA20, "SN0002");
    auto listed = zagoModel();
    u.addController("nvme0", unlisted);
    u.addController("nvme1", listed);
    u.payloadFile("fw.bin", patterned(4096));
    EmulatedRun r = u.run();
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(unlisted->received(0x11).empty());
    EXPECT_TRUE(unlisted->received(0x10).empty());
    EXPECT_EQ(listed->commits(), std::vector<uint32_t>{0x08});
    EXPECT_EQ(u.resultBesideProgram(), successDocument());
}

TEST(UpdateEndToEnd, UnusablePayloadFolder)
{
    struct Case {
        const char* name;
        std::vector<std::string> files;
        bool folder;
    } cases[] = {
        {"missing", {}, false},
        {"empty", {}, true},
        {"two files", {"a.bin", "b.bin"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateRun u;
        auto zago = zagoModel();
        u.addController("nvme0", zago);
        if (c.folder)
            std::filesystem::create_directory(u.exeDir.file("payload"));
        for (const std::string& f : c.files)
            u.payloadFile(f, patterned(4096));
        EmulatedRun r = u.run();
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(u.resultWhereStarted(), kPayloadError);
        EXPECT_TRUE(zago->received().empty());
    }
}

TEST(UpdateEndToEnd, EmptyImageIsRefused)
{
    UpdateRun u;
    auto zago = zagoModel();
    u.addController("nvme0", zago);
    u.payloadFile("fw.bin", "");
    EmulatedRun r = u.run();
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(zago->received(0x11).empty());
    EXPECT_TRUE(zago->received(0x10).empty());
    EXPECT_EQ(u.resultWhereStarted(), failureDocument("ERROR: Failed to Update Firmware"));
    EXPECT_NE(u.log().find("writeBuffer: Invalid payload size 0"), std::string::npos);
}

// The pieces count whole dwords: an image whose size is not a multiple of
// four is refused whole, not cut or padded, so the controller never gets a
// byte that is not the file's.
TEST(UpdateEndToEnd, ImageNotInWholeDwordsIsRefused)
{
    for (size_t size : {size_t(4097), size_t(10002), size_t(3)}) {
        SCOPED_TRACE(size);
        UpdateRun u;
        auto zago = zagoModel();
        u.addController("nvme0", zago);
        u.payloadFile("fw.bin", patterned(size));
        EmulatedRun r = u.run();
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_TRUE(zago->received(0x11).empty());
        EXPECT_TRUE(zago->received(0x10).empty());
        EXPECT_EQ(u.resultWhereStarted(), failureDocument("ERROR: Failed to Update Firmware"));
        EXPECT_NE(u.log().find("writeBuffer: Invalid payload size " + std::to_string(size) + "\n"), std::string::npos);
    }
}

namespace {

const std::string kInventoryDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SVMInventory lang=\"en\"><Device  vendorID=\"1b4b\" "
    "deviceID=\"a1f\" subVendorID=\"1028\" subDeviceID=\"2151\"  display=\"ZAGO BOSS-N1 Modular\" enum = "
    "\"Serial Number: SN0001\" ><Application componentType=\"FRMW\"  version=\"2.5.0.17\"  display=\"ZAGO "
    "BOSS-N1\"/></Device></SVMInventory>";

} // namespace

// "-i -u": the inventory run comes first and is complete before the update
// run starts; each discovers the controller anew. Without "-o" both
// documents follow each other on standard output. With a relative "-o"
// name the update document goes beside the program once the update reached
// the rollback hand-over, so both documents remain; otherwise it replaces
// the inventory document in the starting folder.
TEST(UpdateEndToEnd, InventoryAndUpdateBothRunAndEachDocumentLandsWhereThePartsPutIt)
{
    {
        SCOPED_TRACE("standard output");
        UpdateRun u;
        auto zago = zagoModel();
        u.addController("nvme0", zago);
        u.payloadFile("fw.bin", patterned(4096));
        EmulatedRun r = u.run({"-i", "-u"});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, kInventoryDocument + successDocument());
        EXPECT_EQ(zago->received(0xE2).size(), 2u);
        EXPECT_EQ(zago->received(0x10).size(), 1u);
    }
    {
        SCOPED_TRACE("relative result file, update reached the rollback hand-over");
        UpdateRun u;
        auto zago = zagoModel();
        u.addController("nvme0", zago);
        u.payloadFile("fw.bin", patterned(4096));
        EmulatedRun r = u.run({"-i", "-u", "-o", "result.xml"});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(u.resultWhereStarted(), kInventoryDocument);
        EXPECT_EQ(u.resultBesideProgram(), successDocument());
        EXPECT_EQ(zago->received(0xE2).size(), 2u);
    }
    {
        SCOPED_TRACE("relative result file, nothing flashed");
        UpdateRun u;
        auto zago = zagoModel();
        zago->setDownloadPieceStatus(0, 0x4002);
        u.addController("nvme0", zago);
        u.payloadFile("fw.bin", patterned(4096));
        EmulatedRun r = u.run({"-i", "-u", "-o", "result.xml"});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(u.resultWhereStarted(), failureDocument("ERROR: Failed to Update Firmware"));
        EXPECT_FALSE(std::filesystem::exists(u.exeDir.file("result.xml")));
        EXPECT_EQ(zago->received(0xE2).size(), 2u);
    }
}
