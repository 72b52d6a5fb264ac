#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "FakeNVMeHost.h"
#include "Logger.h"
#include "NVMEZAGOLinuxAdapter.h"
#include "NVMeControllerModel.h"
#include "NVMeTestData.h"
#include "TempDir.h"

namespace {

const std::string kPackage = packageXml({{"0A1F", "2151", "1B4B", "1028"}}, "ZAGO BOSS-N1 Modular");

class FirmwareUpdate : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CLogger::GetInstance()->Initialize("debug.log"));
        dir.write("package.xml", kPackage);
    }
    void TearDown() override
    {
        for (CDeviceInfo* d : devices)
            delete d;
    }

    // A ZAGO controller that "package.xml" supports (unless told otherwise).
    std::shared_ptr<ZagoControllerModel> addZago(const std::string& name, uint16_t deviceId = 0xA1F)
    {
        auto model = std::make_shared<ZagoControllerModel>();
        model->setAdapterIds(0x1B4B, deviceId, 0x1028, 0x2151);
        model->setIdentify("SN-" + name, "ZAGO BOSS-N1", "1.0", 1);
        model->setFirmwareNumbers(2, 5, 0, 17);
        SysfsPciIds ids;
        ids.vendor = 0x1B4B;
        ids.device = deviceId;
        ids.subVendor = 0x1028;
        ids.subDevice = 0x2151;
        host.addController(name, "0000:3b:00." + std::to_string(++functions), model, ids);
        return model;
    }

    std::string image(const std::string& content)
    {
        dir.write("fw.bin", content);
        return dir.file("fw.bin");
    }

    bool update(std::string imagePath) { return adapter.UpdateZagoCtrlDevices(imagePath, devices); }

    std::string log() { return dir.read("debug.log"); }
    bool logged(const std::string& line) { return log().find(line) != std::string::npos; }

    size_t opensOf(const std::string& path)
    {
        size_t n = 0;
        for (const std::string& p : host.openedPaths())
            n += p == path;
        return n;
    }

    TempDir dir;
    FakeNVMeHost host;
    NVMEZAGOLinuxAdapter adapter;
    std::vector<CDeviceInfo*> devices;
    int functions = 0;
};

} // namespace

TEST_F(FirmwareUpdate, ImageGoesOutInDwordAlignedPiecesThenOneCommit)
{
    auto zago = addZago("nvme0");
    std::string content = patterned(10000);
    ASSERT_TRUE(update(image(content)));

    std::vector<ReceivedAdminCommand> pieces = zago->received(0x11);
    ASSERT_EQ(pieces.size(), 3u);
    const uint32_t lengths[] = {4096, 4096, 1808};
    const uint32_t offsets[] = {0, 4096, 8192};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const nvme_passthru_cmd& c = pieces[i].cmd;
        EXPECT_EQ(c.data_len, lengths[i]);
        EXPECT_EQ(c.cdw10, lengths[i] / 4 - 1);
        EXPECT_EQ(c.cdw11, offsets[i] / 4);
        EXPECT_EQ(c.nsid, 0u);
        EXPECT_EQ(c.cdw12 | c.cdw13 | c.cdw14 | c.cdw15 | c.timeout_ms | c.flags | c.metadata_len, 0u);
        EXPECT_EQ(pieces[i].dataOut, bytes(content.substr(offsets[i], lengths[i])));
    }
    EXPECT_EQ(zago->downloadedImage(), bytes(content));

    std::vector<ReceivedAdminCommand> commits = zago->received(0x10);
    ASSERT_EQ(commits.size(), 1u);
    EXPECT_EQ(commits[0].cmd.cdw10, 0x08u);
    EXPECT_EQ(commits[0].cmd.addr, 0u);
    EXPECT_EQ(commits[0].cmd.data_len, 0u);

    // Discovery's two commands, the download and the commit each open the
    // node once; nothing stays open.
    EXPECT_EQ(opensOf("/dev/nvme0"), 4u);
    EXPECT_EQ(host.openDescriptors(), 0u);

    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->getStatus(), 0);
    EXPECT_TRUE(devices[0]->getRebootRequired());
    EXPECT_EQ(devices[0]->getErrorMsg(), "Firmware update is successful.");
    EXPECT_TRUE(logged("writeBuffer: no of writes = 3\n"));
    EXPECT_TRUE(logged("UpdateZagoCtrlDevices: Filtering of devices from package xml successful"));
}

TEST_F(FirmwareUpdate, OnePageImageIsOnePiece)
{
    auto zago = addZago("nvme0");
    ASSERT_TRUE(update(image(patterned(4096))));
    std::vector<ReceivedAdminCommand> pieces = zago->received(0x11);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].cmd.cdw10, 1023u);
    EXPECT_EQ(pieces[0].cmd.cdw11, 0u);
    EXPECT_TRUE(logged("writeBuffer: no of writes = 1\n"));
}

TEST_F(FirmwareUpdate, UnusableImageSizesAreRefusedBeforeTheNodeOpens)
{
    struct Case {
        unsigned long long size;
        const char* logLine;
    } cases[] = {
        {0, "writeBuffer: Invalid payload size 0\n"},
        {4097, "writeBuffer: Invalid payload size 4097\n"},
        {6, "writeBuffer: Invalid payload size 6\n"},
        // Taken as 32 bits these would be 4 and 0 bytes.
        {4294967300ULL, "writeBuffer: Invalid payload size 4294967300\n"},
        {4294967296ULL, "writeBuffer: Invalid payload size 4294967296\n"},
    };
    auto zago = addZago("nvme0");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        std::string path = dir.file("fw.bin");
        dir.write("fw.bin", "");
        // Sparse: no disk space, and the size is refused before any read.
        ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(c.size)), 0);
        for (CDeviceInfo* d : devices)
            delete d;
        devices.clear();
        zago->clearReceived();

        EXPECT_FALSE(update(path));
        ASSERT_EQ(devices.size(), 1u);
        EXPECT_EQ(devices[0]->getStatus(), 1);
        EXPECT_EQ(devices[0]->getErrorMsg(), "ERROR: Failed to Update Firmware");
        EXPECT_FALSE(devices[0]->getRebootRequired());
        EXPECT_TRUE(zago->received(0x11).empty());
        EXPECT_TRUE(zago->received(0x10).empty());
        EXPECT_TRUE(logged(c.logLine));
    }
    // Only discovery ever opened the node.
    EXPECT_EQ(opensOf("/dev/nvme0"), 2u * (sizeof(cases) / sizeof(cases[0])));
}

// Only a regular file is an image: a FIFO in the payload folder must not
// hang the run waiting for a writer, a folder must not be read as firmware.
TEST_F(FirmwareUpdate, PayloadThatIsNoRegularFileIsRefusedBeforeTheNodeOpens)
{
    ASSERT_EQ(mkfifo(dir.file("fw.fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("fw.dir"));
    auto zago = addZago("nvme0");
    for (const char* name : {"fw.fifo", "fw.dir"}) {
        SCOPED_TRACE(name);
        for (CDeviceInfo* d : devices)
            delete d;
        devices.clear();
        zago->clearReceived();

        EXPECT_FALSE(update(dir.file(name)));
        ASSERT_EQ(devices.size(), 1u);
        EXPECT_EQ(devices[0]->getStatus(), 1);
        EXPECT_EQ(devices[0]->getErrorMsg(), "ERROR: Failed to Update Firmware");
        EXPECT_TRUE(zago->received(0x11).empty());
        EXPECT_TRUE(zago->received(0x10).empty());
        EXPECT_TRUE(logged("writeBuffer: payload is not a regular file: " + dir.file(name) + "\n"));
    }
    EXPECT_EQ(opensOf("/dev/nvme0"), 4u);
}

// A link to an image is followed: the package may ship the image that way.
TEST_F(FirmwareUpdate, LinkToARegularImageIsFlashed)
{
    std::string content = patterned(8192);
    std::string target = image(content);
    ASSERT_EQ(symlink(target.c_str(), dir.file("fw.link").c_str()), 0);
    auto zago = addZago("nvme0");
    EXPECT_TRUE(update(dir.file("fw.link")));
    EXPECT_EQ(zago->downloadedImage(), bytes(content));
}

TEST_F(FirmwareUpdate, RejectedOrFailedPieceStopsTheDownloadWithoutCommit)
{
    struct Case {
        const char* name;
        int pieceStatus; // 0: the ioctl itself fails
        const char* logLine;
    } cases[] = {
        {"controller rejects piece 1", 0x4002, "writeBuffer: ioctl return value = 16386\n"},
        {"request fails", 0, "writeBuffer: ioctl return value = -1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeNVMeHost localHost;
        auto zago = std::make_shared<ZagoControllerModel>();
        zago->setAdapterIds(0x1B4B, 0xA1F, 0x1028, 0x2151);
        localHost.addController("nvme3", "0000:5e:00.0", zago, SysfsPciIds());
        if (c.pieceStatus != 0)
            zago->setDownloadPieceStatus(1, c.pieceStatus);
        else
            zago->failIoctl(0x11, EIO);
        std::vector<CDeviceInfo*> list;
        std::string path = image(patterned(10000));
        EXPECT_FALSE(adapter.UpdateZagoCtrlDevices(path, list));
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0]->getStatus(), 1);
        EXPECT_EQ(list[0]->getErrorMsg(), "ERROR: Failed to Update Firmware");
        EXPECT_FALSE(list[0]->getRebootRequired());
        EXPECT_EQ(zago->received(0x11).size(), c.pieceStatus != 0 ? 2u : 1u);
        EXPECT_TRUE(zago->received(0x10).empty());
        EXPECT_EQ(localHost.openDescriptors(), 0u);
        EXPECT_TRUE(logged(c.logLine));
        EXPECT_TRUE(logged("UpdateZagoCtrlDevices: writeBuffer failed for /dev/nvme3\n"));
        for (CDeviceInfo* d : list)
            delete d;
    }
}

TEST_F(FirmwareUpdate, CommitStatusDecidesTheOutcome)
{
    const std::string ok = "Firmware update is successful.";
    struct Case {
        int status;
        int expectedStatus;
        bool reboot;
        std::string message;
        const char* logLine; // null: none of the table's lines
    } cases[] = {
        {0x000, 0, true, ok, nullptr},
        // A success code with the More bit: still activated only at reset.
        {0x2000, 0, true, ok, nullptr},
        {0x106, 1, false, "ERROR: Invalid firmware slot",
         "setPDFirmwareActivationStatus: Firmware Activate failed with invalid firmware slot for /dev/nvme0"},
        {0x4106, 1, false, "ERROR: Invalid firmware slot",
         "setPDFirmwareActivationStatus: Firmware Activate failed with invalid firmware slot for /dev/nvme0"},
        {0x107, 1, false, "ERROR: Invalid firmware image",
         "setPDFirmwareActivationStatus: Firmware Activate failed with invalid firmware image for /dev/nvme0"},
        {0x10B, 0, true, ok, "setPDFirmwareActivationStatus: Firmware Activate requires conventional reset for /dev/nvme0"},
        {0x110, 0, true, ok, "setPDFirmwareActivationStatus: Firmware Activate requires NVM Subsystem reset for /dev/nvme0"},
        {0x111, 0, true, ok, "setPDFirmwareActivationStatus: Firmware Activate requires reset for /dev/nvme0"},
        {0x113, 1, false, "ERROR: The downloaded image is prohibited from the activation by the controller",
         "setPDFirmwareActivationStatus: Firmware Activation is prohibited by the controller for /dev/nvme0"},
        {0x114, 1, false, "ERROR: The firmware image hass Overlapping Range",
         "setPDFirmwareActivationStatus: Firmware Activate failed since firmware image has overlapping range for "
         "/dev/nvme0"},
        {0x11E, 1, false, "ERROR: Failed to activate Firmware",
         "setPDFirmwareActivationStatus: Firmware Activate failed for /dev/nvme0"},
        {0x002, 1, false, "ERROR: Failed to activate Firmware",
         "setPDFirmwareActivationStatus: Firmware Activate Some other error occurred for /dev/nvme0"},
        // Status code types above 1 share their low bits with the success
        // rows but are failures.
        {0x70B, 1, false, "ERROR: Failed to activate Firmware",
         "setPDFirmwareActivationStatus: Firmware Activate Some other error occurred for /dev/nvme0"},
        {0x311, 1, false, "ERROR: Failed to activate Firmware",
         "setPDFirmwareActivationStatus: Firmware Activate Some other error occurred for /dev/nvme0"},
        {0x200, 1, false, "ERROR: Failed to activate Firmware",
         "setPDFirmwareActivationStatus: Firmware Activate Some other error occurred for /dev/nvme0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.status);
        FakeNVMeHost localHost;
        auto zago = std::make_shared<ZagoControllerModel>();
        zago->setAdapterIds(0x1B4B, 0xA1F, 0x1028, 0x2151);
        localHost.addController("nvme0", "0000:3b:00.0", zago, SysfsPciIds());
        zago->setStatus(0x10, c.status);
        std::vector<CDeviceInfo*> list;
        std::string path = image(patterned(8));
        EXPECT_EQ(adapter.UpdateZagoCtrlDevices(path, list), c.expectedStatus == 0);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0]->getStatus(), c.expectedStatus);
        EXPECT_EQ(list[0]->getRebootRequired(), c.reboot);
        EXPECT_EQ(list[0]->getErrorMsg(), c.message);
        EXPECT_EQ(zago->received(0x10).size(), 1u);
        if (c.logLine != nullptr) {
            EXPECT_TRUE(logged(std::string(c.logLine) + "\n"));
        }
        for (CDeviceInfo* d : list)
            delete d;
    }
}

TEST_F(FirmwareUpdate, CommitThatCannotBeIssuedFailsTheDevice)
{
    auto zago = addZago("nvme0");
    zago->failIoctl(0x10, EIO);
    EXPECT_FALSE(update(image(patterned(64))));
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->getStatus(), 1);
    EXPECT_EQ(devices[0]->getErrorMsg(), "ERROR: Failed to activate Firmware");
    EXPECT_FALSE(devices[0]->getRebootRequired());
    EXPECT_TRUE(logged("UpdateZagoCtrlDevices: Failed to activate firmware for /dev/nvme0\n"));
    EXPECT_FALSE(logged("NVMEZAGOLinuxAdapter::firmwareActivate() Exiting"));
}

TEST_F(FirmwareUpdate, OneFailedControllerDoesNotStopTheNext)
{
    auto first = addZago("nvme0");
    auto second = addZago("nvme1");
    first->setDownloadPieceStatus(0, 0x4002);
    std::string content = patterned(5000);
    EXPECT_TRUE(update(image(content)));
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0]->getStatus(), 1);
    EXPECT_EQ(devices[0]->getErrorMsg(), "ERROR: Failed to Update Firmware");
    EXPECT_EQ(devices[1]->getStatus(), 0);
    EXPECT_TRUE(first->received(0x10).empty());
    EXPECT_EQ(second->downloadedImage(), bytes(content));
    EXPECT_EQ(second->commits(), std::vector<uint32_t>{0x08});
}

TEST_F(FirmwareUpdate, ControllerThePackageDoesNotListIsNeverFlashed)
{
    auto unlisted = addZago("nvme0", 0xA20);
    auto listed = addZago("nvme1");
    EXPECT_TRUE(update(image(patterned(4096))));
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->getPCIInfo().deviceID, "a1f");
    EXPECT_TRUE(unlisted->received(0x11).empty());
    EXPECT_TRUE(unlisted->received(0x10).empty());
    EXPECT_EQ(listed->received(0x10).size(), 1u);
}

TEST_F(FirmwareUpdate, NothingToFlashLeavesTheListEmpty)
{
    struct Case {
        const char* name;
        bool controller;
        bool package;
        const char* logLine;
    } cases[] = {
        {"no controller", false, true, "UpdateZagoCtrlDevices: No NVME/ZAGO devices discovered"},
        {"no package.xml", true, false, "UpdateZagoCtrlDevices: No device match with package.xml"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeNVMeHost localHost;
        auto zago = std::make_shared<ZagoControllerModel>();
        zago->setAdapterIds(0x1B4B, 0xA1F, 0x1028, 0x2151);
        if (c.controller)
            localHost.addController("nvme0", "0000:3b:00.0", zago, SysfsPciIds());
        if (c.package)
            dir.write("package.xml", kPackage);
        else
            unlink(dir.file("package.xml").c_str());
        std::vector<CDeviceInfo*> list;
        std::string missingImage = dir.file("no-such-image");
        EXPECT_FALSE(adapter.UpdateZagoCtrlDevices(missingImage, list));
        EXPECT_TRUE(list.empty());
        EXPECT_TRUE(zago->received(0x11).empty());
        EXPECT_TRUE(zago->received(0x10).empty());
        EXPECT_TRUE(logged(c.logLine));
    }
    // The image is never looked at.
    EXPECT_FALSE(logged("writeBuffer"));
}

TEST_F(FirmwareUpdate, DownloadSetsOnlyTheDataFieldsOfThePreparedCommand)
{
    // The disk pass-through form of the download: its carried opcode and
    // slot must survive every piece.
    auto zago = addZago("nvme0");
    nvme_passthru_cmd cmd;
    std::memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = 0xC3;
    cmd.nsid = 7;
    cmd.cdw14 = 0x11;
    std::string content = patterned(4100);
    ZagoDisk disk;
    disk.present = true;
    disk.slotId = 7;
    zago->setDisk(0, disk);
    ASSERT_TRUE(adapter.writeBuffer("/dev/nvme0", cmd, image(content)));
    std::vector<ReceivedAdminCommand> pieces = zago->received(0xC3);
    ASSERT_EQ(pieces.size(), 2u);
    for (const ReceivedAdminCommand& p : pieces) {
        EXPECT_EQ(p.cmd.nsid, 7u);
        EXPECT_EQ(p.cmd.cdw14, 0x11u);
    }
    EXPECT_EQ(pieces[1].cmd.data_len, 4u);
    EXPECT_EQ(pieces[1].cmd.cdw10, 0u);
    EXPECT_EQ(pieces[1].cmd.cdw11, 1024u);
    EXPECT_EQ(zago->disk(0).image, bytes(content));
}

TEST_F(FirmwareUpdate, ImmediateActivationSuccessNeedsNoReboot)
{
    CDeviceInfo d;
    d.setRebootRequired(true);
    adapter.setPDFirmwareActivationStatus(&d, 0, "/dev/nvme9");
    EXPECT_EQ(d.getStatus(), 0);
    EXPECT_FALSE(d.getRebootRequired());
    EXPECT_EQ(d.getErrorMsg(), "Firmware update is successful.");
}
