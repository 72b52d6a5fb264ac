// Disks behind a ZAGO controller: enumeration through the physical-disk
// information and pass-through read commands, and the piecewise image
// transfer through the pass-through write command.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AdminCommandExpectations.h"
#include "FakeNVMeHost.h"
#include "Logger.h"
#include "NVMEZAGOLinuxAdapter.h"
#include "NVMeControllerModel.h"
#include "TempDir.h"

namespace {

ZagoDisk disk(uint16_t slot, const std::string& serial, uint16_t controllerId, uint16_t deviceId)
{
    ZagoDisk d;
    d.present = true;
    d.slotId = slot;
    d.serial = serial;
    d.model = "ZAGO M.2 Disk " + serial;
    d.firmware = "DF" + std::to_string(slot);
    d.controllerId = controllerId;
    d.vendorId = 0x1344;
    d.deviceId = deviceId;
    d.subVendorId = 0x1028;
    d.subDeviceId = 0x2151;
    return d;
}

std::shared_ptr<ZagoControllerModel> zagoWithDisks()
{
    auto model = std::make_shared<ZagoControllerModel>();
    model->setAdapterIds(0x1bd4, 0x2a3c, 0x1028, 0x1d6b);
    model->setFirmwareNumbers(2, 5, 0, 17);
    model->setIdentify("CTRLSN", "ZAGO BOSS-N1", "0.0.0", 0x41);
    model->setDisk(0, disk(0x0101, "DISKSN0", 0x1234, 0x5410));
    model->setDisk(1, disk(0x0202, "DISKSN1", 0x00AB, 0x5411));
    return model;
}

ExpectedAdminCommand physicalDiskInfo(uint32_t index)
{
    ExpectedAdminCommand e;
    e.opcode = 0xE2;
    e.cdw10 = 0x400;
    e.cdw12 = 0xE1;
    e.cdw14 = index;
    e.dataLength = 4096;
    return e;
}

ExpectedAdminCommand diskIdentify(uint32_t slot)
{
    ExpectedAdminCommand e;
    e.opcode = 0xC2;
    e.nsid = slot;
    e.cdw10 = 1;
    e.cdw14 = 0x06;
    e.dataLength = 4096;
    return e;
}

ExpectedAdminCommand diskPciIdentity(uint32_t slot, uint32_t cdw12)
{
    ExpectedAdminCommand e;
    e.opcode = 0xC2;
    e.nsid = slot;
    e.cdw10 = 0x804;
    e.cdw12 = cdw12;
    e.cdw14 = 0x1E;
    e.dataLength = 4096;
    return e;
}

ExpectedAdminCommand diskWritePiece(uint32_t handle, uint32_t dwordOffset)
{
    ExpectedAdminCommand e;
    e.opcode = 0xC3;
    e.nsid = handle;
    e.cdw10 = 0x3FF;
    e.cdw11 = dwordOffset;
    e.cdw14 = 0x11;
    e.dataLength = 4096;
    return e;
}

std::string text(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

class PhysicalDisks : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CLogger::GetInstance()->Initialize(dir.file("debug.log"))); }

    bool logged(const std::string& line) { return dir.read("debug.log").find(line) != std::string::npos; }

    // The controllers as discovery leaves them.
    std::vector<deviceDescriptor*> discover()
    {
        std::vector<deviceDescriptor*> list;
        adapter.enumerateRootPortAttachedNVMEControllers(list);
        return list;
    }

    const pdDeviceHandle* handleOf(const deviceDescriptor* d)
    {
        return reinterpret_cast<const pdDeviceHandle*>(d->rootPort);
    }

    TempDir dir;
    FakeNVMeHost host;
    NVMEZAGOLinuxAdapter adapter;
};

} // namespace

TEST_F(PhysicalDisks, ControllerWithTwoDisksEndsWithThreeDescriptors)
{
    auto zago = zagoWithDisks();
    host.addController("nvme0", "0000:3b:00.0", zago, {0x1bd4, 0x2a3c, 0x1028, 0x1d6b});
    std::vector<deviceDescriptor*> list = discover();
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0]->kind, 1u);
    zago->clearReceived();

    adapter.enumerateZagoCtrlPhysicalDevices(list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]->kind, 1u);

    struct Expected {
        uint16_t slot;
        const char* serial;
        const char* model;
        const char* firmware;
        uint16_t controllerId;
        uint32_t deviceId;
    };
    const Expected expected[] = {{0x0101, "DISKSN0", "ZAGO M.2 Disk DISKSN0", "DF257", 0x1234, 0x5410},
                                 {0x0202, "DISKSN1", "ZAGO M.2 Disk DISKSN1", "DF514", 0x00AB, 0x5411}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const deviceDescriptor* d = list[1 + i];
        EXPECT_EQ(d->kind, 2u);
        EXPECT_EQ(d->vendorID, 0x1344u);
        EXPECT_EQ(d->deviceID, expected[i].deviceId);
        EXPECT_EQ(d->subVendorID, 0x1028u);
        EXPECT_EQ(d->subDeviceID, 0x2151u);
        EXPECT_EQ(d->controllerID, expected[i].controllerId);
        EXPECT_EQ(text(d->serialNumber, sizeof(d->serialNumber)), expected[i].serial);
        EXPECT_EQ(text(d->modelNumber, sizeof(d->modelNumber)), expected[i].model);
        // A disk takes its firmware revision from its own Identify data.
        EXPECT_EQ(text(d->firmwareRevision, sizeof(d->firmwareRevision)), expected[i].firmware);
        ASSERT_NE(d->rootPort, nullptr);
        EXPECT_EQ(text(handleOf(d)->devicePath, sizeof(handleOf(d)->devicePath)), "/dev/nvme0");
        EXPECT_EQ(handleOf(d)->slotID, expected[i].slot);
    }

    // The commands, field by field: per disk the information command, then
    // Identify and the PCI identity read passed through to its slot, the
    // latter carrying the disk's own controller id (low byte in bits 0-7,
    // high byte in bits 16-23, 3 in bits 24-31).
    std::vector<ReceivedAdminCommand> got = zago->received();
    ASSERT_EQ(got.size(), 6u);
    expectAdminCommand(got[0], physicalDiskInfo(0));
    expectAdminCommand(got[1], diskIdentify(0x0101));
    expectAdminCommand(got[2], diskPciIdentity(0x0101, 0x03120034));
    expectAdminCommand(got[3], physicalDiskInfo(1));
    expectAdminCommand(got[4], diskIdentify(0x0202));
    expectAdminCommand(got[5], diskPciIdentity(0x0202, 0x030000AB));

    EXPECT_TRUE(logged("getPhysicalDeviceInfoCmd(): cmdHeaderStatus = 0getPhysicalDeviceInfoCmd: SlotID = 257"));
    EXPECT_TRUE(logged("NVMEZAGOLinuxAdapter::sendZagoPdCtrlIdentifyCmd() Entering"));
    EXPECT_TRUE(logged("NVMEZAGOLinuxAdapter::sendNvmeReadDataStrutureCmd() Exiting"));
    EXPECT_EQ(host.openDescriptors(), 0u);
}

TEST_F(PhysicalDisks, OnlyZagoControllersPresentAtEntryAreAsked)
{
    auto plain = std::make_shared<NVMeControllerModel>();
    plain->setIdentify("PLAIN", "Plain SSD", "1.0", 1);
    auto zago = zagoWithDisks();
    auto second = zagoWithDisks();
    second->setDisk(1, ZagoDisk());
    host.addController("nvme0", "0000:01:00.0", plain, {0x144d, 0xa808, 0x144d, 0xa801});
    host.addController("nvme1", "0000:02:00.0", zago, {0x1bd4, 0x2a3c, 0x1028, 0x1d6b});
    host.addController("nvme2", "0000:03:00.0", second, {0x1bd4, 0x2a3c, 0x1028, 0x1d6b});
    std::vector<deviceDescriptor*> list = discover();
    ASSERT_EQ(list.size(), 3u);
    plain->clearReceived();
    zago->clearReceived();
    second->clearReceived();

    // A ZAGO descriptor without its node record is passed over too.
    deviceDescriptor orphan;
    std::memset(&orphan, 0, sizeof(orphan));
    orphan.kind = 1;
    list.push_back(&orphan);

    adapter.enumerateZagoCtrlPhysicalDevices(list);
    EXPECT_TRUE(plain->received().empty());
    EXPECT_EQ(zago->received().size(), 6u);
    EXPECT_EQ(second->received().size(), 4u); // disk 1 absent: its information command only
    ASSERT_EQ(list.size(), 7u);
    EXPECT_EQ(text(handleOf(list[4])->devicePath, 256), "/dev/nvme1");
    EXPECT_EQ(text(handleOf(list[5])->devicePath, 256), "/dev/nvme1");
    EXPECT_EQ(text(handleOf(list[6])->devicePath, 256), "/dev/nvme2");

    // Disk descriptors already in the list are not controllers: a second
    // pass asks the two ZAGO controllers again and nothing else.
    zago->clearReceived();
    second->clearReceived();
    adapter.enumerateZagoCtrlPhysicalDevices(list);
    EXPECT_EQ(zago->received().size(), 6u);
    EXPECT_EQ(second->received().size(), 4u);
    EXPECT_TRUE(plain->received().empty());
    EXPECT_EQ(list.size(), 10u);
}

TEST_F(PhysicalDisks, NonZeroStatusByteLeavesThatSlotOut)
{
    auto zago = zagoWithDisks();
    ZagoDisk failing = disk(0x0101, "DISKSN0", 0x1234, 0x5410);
    failing.statusByte = 5;
    zago->setDisk(0, failing);
    host.addController("nvme0", "0000:3b:00.0", zago, {0x1bd4, 0x2a3c, 0x1028, 0x1d6b});
    std::vector<deviceDescriptor*> list = discover();
    zago->clearReceived();

    unsigned short slot = 0;
    unsigned int status = 0xFF;
    EXPECT_FALSE(adapter.getPhysicalDeviceInfoCmd("/dev/nvme0", 0, slot, status));
    EXPECT_EQ(slot, 0xFFFF);
    EXPECT_EQ(status, 0xFFu);
    EXPECT_TRUE(logged("getPhysicalDeviceInfoCmd: Non-Zero command status 5"));

    adapter.enumerateZagoCtrlPhysicalDevices(list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(handleOf(list[1])->slotID, 0x0202);
    EXPECT_TRUE(logged("addZAGOPDToDeviceDescList(): getPhysicalDeviceInfoCmd returned false"));
}

// A controller that writes reply bytes yet completes the command with an
// error status: nothing of such a reply may be taken as data.
TEST_F(PhysicalDisks, RejectedRepliesAreNeverParsed)
{
    struct Case {
        const char* name;
        int ZagoDisk::*status;
        size_t commandsForDisk0;
    };
    const Case cases[] = {{"information rejected", &ZagoDisk::infoStatus, 1},
                          {"identify rejected", &ZagoDisk::identifyStatus, 2},
                          {"PCI identity rejected", &ZagoDisk::pciIdentityStatus, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeNVMeHost caseHost;
        NVMEZAGOLinuxAdapter caseAdapter;
        auto zago = zagoWithDisks();
        ZagoDisk rejecting = disk(0x0101, "DISKSN0", 0x1234, 0x5410);
        rejecting.*(c.status) = NVMeStatus::INVALID_FIELD_DNR;
        zago->setDisk(0, rejecting);
        caseHost.addController("nvme0", "0000:3b:00.0", zago, {0x1bd4, 0x2a3c, 0x1028, 0x1d6b});
        std::vector<deviceDescriptor*> list;
        caseAdapter.enumerateRootPortAttachedNVMEControllers(list);
        zago->clearReceived();

        caseAdapter.enumerateZagoCtrlPhysicalDevices(list);
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(handleOf(list[1])->slotID, 0x0202); // the other slot is still tried
        EXPECT_EQ(zago->received().size(), c.commandsForDisk0 + 3);
        EXPECT_EQ(caseHost.openDescriptors(), 0u);
    }
}

TEST_F(PhysicalDisks, RejectedRepliesLeaveTheOutputsUntouched)
{
    auto zago = zagoWithDisks();
    ZagoDisk rejecting = disk(0x0101, "DISKSN0", 0x1234, 0x5410);
    rejecting.infoStatus = NVMeStatus::INVALID_FIELD_DNR;
    rejecting.identifyStatus = NVMeStatus::INVALID_FIELD_DNR;
    rejecting.pciIdentityStatus = NVMeStatus::INVALID_FIELD_DNR;
    zago->setDisk(0, rejecting);
    host.addController("nvme0", "0000:3b:00.0", zago, {0x1bd4, 0x2a3c, 0x1028, 0x1d6b});

    unsigned short slot = 7;
    unsigned int status = 0xFF;
    EXPECT_FALSE(adapter.getPhysicalDeviceInfoCmd("/dev/nvme0", 0, slot, status));
    EXPECT_EQ(slot, 0xFFFF);
    EXPECT_EQ(status, 0xFFu);

    deviceDescriptor d;
    std::memset(&d, 0, sizeof(d));
    d.kind = 2;
    d.vendorID = d.deviceID = d.subVendorID = d.subDeviceID = 0xAAAA;
    d.controllerID = 0x1234;
    std::strcpy(d.modelNumber, "before");
    EXPECT_FALSE(adapter.sendZagoPdCtrlIdentifyCmd("/dev/nvme0", 0x0101, &d));
    EXPECT_EQ(text(d.modelNumber, sizeof(d.modelNumber)), "before");
    EXPECT_EQ(d.controllerID, 0x1234);
    EXPECT_FALSE(adapter.sendPDNvmeReadDataStrutureCmd("/dev/nvme0", 0x0101, &d));
    EXPECT_EQ(d.vendorID, 0xAAAAu);
    EXPECT_EQ(d.deviceID, 0xAAAAu);
    EXPECT_EQ(d.subVendorID, 0xAAAAu);
    EXPECT_EQ(d.subDeviceID, 0xAAAAu);

    // An unknown slot is rejected by the controller the same way.
    EXPECT_FALSE(adapter.sendPDNvmeReadDataStrutureCmd("/dev/nvme0", 0x0999, &d));
    EXPECT_EQ(d.vendorID, 0xAAAAu);

    // Accepted: the four identities from reply bytes 8-15.
    zago->setDisk(1, disk(0x0202, "DISKSN1", 0x00AB, 0x5411));
    d.controllerID = 0x00AB;
    EXPECT_TRUE(adapter.sendPDNvmeReadDataStrutureCmd("/dev/nvme0", 0x0202, &d));
    EXPECT_EQ(d.vendorID, 0x1344u);
    EXPECT_EQ(d.deviceID, 0x5411u);
    EXPECT_EQ(d.subVendorID, 0x1028u);
    EXPECT_EQ(d.subDeviceID, 0x2151u);
}

TEST_F(PhysicalDisks, FailedIoctlOrNodeGivesNoDisk)
{
    auto zago = zagoWithDisks();
    host.addController("nvme0", "0000:3b:00.0", zago, {0x1bd4, 0x2a3c, 0x1028, 0x1d6b});
    std::vector<deviceDescriptor*> list = discover();

    zago->failIoctl(0xC2, EIO);
    adapter.enumerateZagoCtrlPhysicalDevices(list);
    EXPECT_EQ(list.size(), 1u);

    zago->clearFaults();
    zago->failOpen(EACCES);
    unsigned short slot = 0;
    unsigned int status = 0xFF;
    EXPECT_FALSE(adapter.getPhysicalDeviceInfoCmd("/dev/nvme0", 1, slot, status));
    adapter.enumerateZagoCtrlPhysicalDevices(list);
    EXPECT_EQ(list.size(), 1u);
    EXPECT_EQ(host.openDescriptors(), 0u);
}

namespace {

class DiskImageTransfer : public PhysicalDisks {
protected:
    void SetUp() override
    {
        PhysicalDisks::SetUp();
        zago = zagoWithDisks();
        host.addController("nvme0", "0000:3b:00.0", zago, {0x1bd4, 0x2a3c, 0x1028, 0x1d6b});
        std::memset(&handle, 0, sizeof(handle));
        std::strcpy(handle.devicePath, "/dev/nvme0");
        handle.handle = 0x0101;
    }
    std::string image(size_t size)
    {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i)
            content[i] = static_cast<char>(i * 7 + 3);
        dir.write("image.bin", content);
        return content;
    }

    std::shared_ptr<ZagoControllerModel> zago;
    zagoDeviceiHandle handle;
};

} // namespace

TEST_F(DiskImageTransfer, SendsZeroPaddedPiecesAtDwordOffsets)
{
    struct Case {
        size_t size;
        std::vector<uint32_t> offsets;
    };
    const Case cases[] = {{5000, {0, 1024}}, {4096, {0}}, {1, {0}}, {8192, {0, 1024}}, {12289, {0, 1024, 2048, 3072}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        zago->setDisk(0, disk(0x0101, "DISKSN0", 0x1234, 0x5410));
        zago->clearReceived();
        std::string content = image(c.size);
        EXPECT_TRUE(adapter.ctrlWriteBuffer(&handle, dir.file("image.bin")));

        std::vector<ReceivedAdminCommand> got = zago->received();
        ASSERT_EQ(got.size(), c.offsets.size());
        std::string sent;
        for (size_t i = 0; i < got.size(); ++i) {
            expectAdminCommand(got[i], diskWritePiece(0x0101, c.offsets[i]));
            ASSERT_EQ(got[i].dataOut.size(), 4096u);
            sent.append(got[i].dataOut.begin(), got[i].dataOut.end());
        }
        std::string padded = content;
        padded.resize(c.offsets.size() * 4096, '\0');
        EXPECT_TRUE(sent == padded);
        std::vector<uint8_t> stored = zago->disk(0).image;
        EXPECT_TRUE(std::string(stored.begin(), stored.end()) == padded);
        EXPECT_EQ(host.openDescriptors(), 0u);
    }
    EXPECT_TRUE(logged("ctrlWriteBuffer: end of file"));
    EXPECT_TRUE(logged("NVMEZAGOLinuxAdapter::ctrlWriteBuffer() Exiting"));
}

TEST_F(DiskImageTransfer, EmptyImageSendsNothingAndSucceeds)
{
    image(0);
    EXPECT_TRUE(adapter.ctrlWriteBuffer(&handle, dir.file("image.bin")));
    EXPECT_TRUE(zago->received().empty());
    EXPECT_TRUE(logged("ctrlWriteBuffer: end of file"));
    EXPECT_EQ(host.openDescriptors(), 0u);
}

TEST_F(DiskImageTransfer, FailuresReleaseEverythingOpened)
{
    // No image file: nothing else is touched.
    EXPECT_FALSE(adapter.ctrlWriteBuffer(&handle, dir.file("missing.bin")));
    EXPECT_TRUE(logged("ctrlWriteBuffer: error on fopen 2"));
    EXPECT_TRUE(host.openedPaths().empty());

    // The node does not open.
    image(5000);
    zago->failOpen(EACCES);
    EXPECT_FALSE(adapter.ctrlWriteBuffer(&handle, dir.file("image.bin")));
    EXPECT_TRUE(logged("ctrlWriteBuffer: error on open 13"));
    zago->clearFaults();

    // The disk rejects a piece (no disk in that slot).
    handle.handle = 0x0999;
    EXPECT_FALSE(adapter.ctrlWriteBuffer(&handle, dir.file("image.bin")));
    EXPECT_EQ(zago->received().size(), 1u);
    EXPECT_TRUE(logged("ctrlWriteBuffer: ioctl return value = " + std::to_string(NVMeStatus::INVALID_FIELD_DNR)));
    EXPECT_EQ(host.openDescriptors(), 0u);

    // The ioctl itself fails.
    handle.handle = 0x0101;
    zago->failIoctl(0xC3, EIO);
    EXPECT_FALSE(adapter.ctrlWriteBuffer(&handle, dir.file("image.bin")));
    EXPECT_TRUE(logged("ctrlWriteBuffer: error on ioctl 5"));
    EXPECT_EQ(host.openDescriptors(), 0u);
    zago->clearFaults();

    // A path that opens but cannot be read (a directory).
    zago->clearReceived();
    EXPECT_FALSE(adapter.ctrlWriteBuffer(&handle, dir.path()));
    EXPECT_TRUE(logged("ctrlWriteBuffer: fread failure"));
    EXPECT_TRUE(zago->received().empty());
    EXPECT_EQ(host.openDescriptors(), 0u);

    EXPECT_FALSE(adapter.ctrlWriteBuffer(nullptr, dir.file("image.bin")));
}
