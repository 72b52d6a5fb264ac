#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "AdminCommandExpectations.h"
#include "DeviceInfo.h"
#include "FakeNVMeHost.h"
#include "Logger.h"
#include "NVMEZAGOLinuxAdapter.h"
#include "NVMeControllerModel.h"
#include "NVMeTestData.h"
#include "TempDir.h"

namespace {

const std::string kPackage = packageXml({{"2A3C", "1D6B", "1BD4", "1028"}}, "ZAGO Boot Controller");

std::shared_ptr<ZagoControllerModel> zagoModel()
{
    auto model = std::make_shared<ZagoControllerModel>();
    model->setAdapterIds(0x1bd4, 0x2a3c, 0x1028, 0x1d6b);
    model->setAdapterSerial("ADPTSERIAL0001");
    model->setFirmwareNumbers(2, 5, 0, 17);
    model->setIdentify("ZS01 22 33", "ZAGO BOSS-N1", "0.0.0", 0x41);
    return model;
}

std::shared_ptr<NVMeControllerModel> plainModel()
{
    auto model = std::make_shared<NVMeControllerModel>();
    model->setIdentify("PLAINSN1", "Plain NVMe SSD 960GB", "FW1.2", 7);
    return model;
}

class Discovery : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CLogger::GetInstance()->Initialize(dir.file("debug.log"))); }
    void TearDown() override
    {
        for (CDeviceInfo* device : devices)
            delete device;
    }

    std::string log() { return dir.read("debug.log"); }
    size_t occurrences(const std::string& text)
    {
        std::string all = log();
        size_t count = 0;
        for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++count;
        return count;
    }

    void discover() { adapter.DiscoverZagoCtrlDevices(devices); }

    TempDir dir;
    FakeNVMeHost host;
    NVMEZAGOLinuxAdapter adapter;
    std::vector<CDeviceInfo*> devices;
};

} // namespace

TEST_F(Discovery, ListsTheZagoControllerAndDropsThePlainSsd)
{
    dir.write("package.xml", kPackage);
    auto zago = zagoModel();
    auto plain = plainModel();
    host.addController("nvme0", "0000:3b:00.0", plain, {0x144d, 0xa808, 0x144d, 0xa801});
    host.addController("nvme1", "0000:5e:00.0", zago, {0x1bd4, 0x2a3c, 0x1028, 0x1d6b});

    discover();

    ASSERT_EQ(devices.size(), 1u);
    CDeviceInfo* d = devices[0];
    SPCIInfo pci = d->getPCIInfo();
    EXPECT_EQ(pci.vendorID, "1bd4");
    EXPECT_EQ(pci.deviceID, "2a3c");
    EXPECT_EQ(pci.subVendorID, "1028");
    EXPECT_EQ(pci.subDeviceID, "1d6b");
    EXPECT_EQ(d->getEnumId(), "Serial Number: ZS012233");
    EXPECT_EQ(d->getDeviceName(), "ZAGO BOSS-N1");
    EXPECT_EQ(d->getComponentType(), "FRMW");
    EXPECT_EQ(d->getDeviceType(), CDeviceInfo::PCI_DEVICE);
    EXPECT_EQ(d->getDisplay(), "ZAGO Boot Controller");
    EXPECT_EQ(d->getVersion(), "2.5.0.17");
    EXPECT_EQ(d->getStatus(), 0);
    EXPECT_FALSE(d->getRebootRequired());

    auto* descriptor = static_cast<deviceDescriptor*>(d->getDeviceHandle());
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(descriptor->kind, 1u);
    ASSERT_NE(descriptor->rootPort, nullptr);
    EXPECT_STREQ(descriptor->rootPort->devicePath, "/dev/nvme1");
    EXPECT_EQ(descriptor->controllerID, 0x41);

    // Both controllers get the adapter-information command, then Identify.
    for (auto* model : {static_cast<NVMeControllerModel*>(plain.get()), static_cast<NVMeControllerModel*>(zago.get())}) {
        auto received = model->received();
        ASSERT_EQ(received.size(), 2u);
        expectAdminCommand(received[0], adapterInformationCommand());
        expectAdminCommand(received[1], identifyControllerCommand());
    }
    EXPECT_EQ(host.openDescriptors(), 0u);

    // Both went through the record-building steps, each with its own read
    // of package.xml.
    EXPECT_EQ(occurrences("Before creating the object of Software Component Info"), 2u);
    EXPECT_EQ(occurrences("setDeviceInfo: modelNumber = Plain NVMe SSD 960GB"), 1u);
    EXPECT_EQ(occurrences("setDeviceInfo: fwRevision = FW1.2"), 1u);
    EXPECT_EQ(occurrences("NVMEZAGOLinuxAdapter::setRootPortAttachedDeviceInfo() Found a ZAGO device !!!"), 1u);
}

TEST_F(Discovery, ListsNodesWithTheShellCommandAndReadsSysfsPerController)
{
    host.addController("nvme0", "0000:3b:00.0", zagoModel(), {0x1bd4, 0x2a3c, 0x1028, 0x1d6b});
    discover();
    ASSERT_EQ(host.listingCommands().size(), 1u);
    EXPECT_EQ(host.listingCommands()[0], "ls -a /dev | grep -i -e 'nvme[0-9]$' -e 'nvme[1-9][0-9]$' 2>&1");
    std::vector<std::string> expected = {
        "/sys/class/nvme/nvme0/address", "/sys/bus/pci/devices/0000:3b:00.0/vendor",
        "/sys/bus/pci/devices/0000:3b:00.0/subsystem_vendor", "/sys/bus/pci/devices/0000:3b:00.0/device",
        "/sys/bus/pci/devices/0000:3b:00.0/subsystem_device"};
    EXPECT_EQ(host.attributeReads(), expected);
    EXPECT_NE(log().find("getNVMEMountedDevices: Adding device to list nvme0"), std::string::npos);
}

TEST_F(Discovery, KeepsTheListingOrderOfTheNodes)
{
    host.setListingOutput("nvme0\nnvme1\nnvme10\nnvme2\n");
    std::vector<std::shared_ptr<ZagoControllerModel>> models;
    const char* names[] = {"nvme2", "nvme10", "nvme1", "nvme0"};
    for (unsigned i = 0; i < 4; ++i) {
        auto model = zagoModel();
        model->setIdentify(std::string("SER") + names[i], "ZAGO", "", 0);
        models.push_back(model);
        host.addController(names[i], "0000:0" + std::to_string(i) + ":00.0", model, {});
    }
    discover();
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0]->getEnumId(), "Serial Number: SERnvme0");
    EXPECT_EQ(devices[1]->getEnumId(), "Serial Number: SERnvme1");
    EXPECT_EQ(devices[2]->getEnumId(), "Serial Number: SERnvme10");
    EXPECT_EQ(devices[3]->getEnumId(), "Serial Number: SERnvme2");
}

TEST_F(Discovery, NoControllerLeavesTheListAsItWas)
{
    CDeviceInfo* earlier = new CDeviceInfo();
    devices.push_back(earlier);
    discover();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0], earlier);
    EXPECT_NE(log().find("getStorageControllersDevicePathList: No mounted nvme devices found"), std::string::npos);
}

TEST_F(Discovery, FailedListingCommandFindsNothing)
{
    host.addController("nvme0", "0000:3b:00.0", zagoModel(), {});
    host.failListing(EMFILE);
    discover();
    EXPECT_TRUE(devices.empty());
    EXPECT_NE(log().find("getNVMEMountedDevices: error on popen 24"), std::string::npos);
    EXPECT_EQ(log().find("NVMEZAGOLinuxAdapter::getNVMEMountedDevices() Exiting"), std::string::npos);
}

// A controller whose adapter-information command fails in any way is no
// ZAGO controller; Identify is still sent to it and the others are listed.
struct AdapterInfoFault {
    const char* name;
    void (*apply)(NVMeControllerModel&);
    size_t commandsSeen;
};

class AdapterInfoFaults : public Discovery, public testing::WithParamInterface<AdapterInfoFault> {};

TEST_P(AdapterInfoFaults, ControllerIsNotListedAndOthersAre)
{
    auto faulty = zagoModel();
    auto good = zagoModel();
    good->setIdentify("GOOD", "ZAGO", "", 0);
    GetParam().apply(*faulty);
    host.addController("nvme0", "0000:3b:00.0", faulty, {});
    host.addController("nvme1", "0000:5e:00.0", good, {});

    discover();

    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->getEnumId(), "Serial Number: GOOD");
    EXPECT_EQ(faulty->received().size(), GetParam().commandsSeen);
    EXPECT_EQ(host.openDescriptors(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, AdapterInfoFaults,
    testing::Values(
        AdapterInfoFault{"OpenFails", [](NVMeControllerModel& m) { m.failOpen(EACCES); }, 0},
        AdapterInfoFault{"IoctlFails", [](NVMeControllerModel& m) { m.failIoctl(0xE2, EIO); }, 2},
        AdapterInfoFault{"VendorOpcodeRejected",
                         [](NVMeControllerModel& m) { m.setStatus(0xE2, NVMeStatus::INVALID_OPCODE_DNR); }, 2},
        AdapterInfoFault{"NonZeroStatus", [](NVMeControllerModel& m) { m.setStatus(0xE2, 0x2); }, 2}),
    [](const testing::TestParamInfo<AdapterInfoFault>& info) { return std::string(info.param.name); });

TEST_F(Discovery, OpenFailureIsLoggedWithErrno)
{
    auto model = zagoModel();
    model->failOpen(EACCES);
    host.addController("nvme0", "0000:3b:00.0", model, {});
    discover();
    EXPECT_TRUE(devices.empty());
    EXPECT_EQ(occurrences("executeIOCTL: error on open 13"), 2u);
    EXPECT_EQ(occurrences("ctrl identify command failed !!!"), 1u);
}

// Identify failing on a ZAGO controller: still listed, with empty texts
// rather than leftovers, and the firmware level of the adapter information.
struct IdentifyFault {
    const char* name;
    void (*apply)(NVMeControllerModel&);
};

class IdentifyFaults : public Discovery, public testing::WithParamInterface<IdentifyFault> {};

TEST_P(IdentifyFaults, ZagoControllerIsStillListed)
{
    dir.write("package.xml", kPackage);
    auto model = zagoModel();
    GetParam().apply(*model);
    host.addController("nvme0", "0000:3b:00.0", model, {});

    discover();

    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->getEnumId(), "Serial Number: ");
    EXPECT_EQ(devices[0]->getDeviceName(), "");
    EXPECT_EQ(devices[0]->getVersion(), "2.5.0.17");
    EXPECT_EQ(devices[0]->getDisplay(), "ZAGO Boot Controller");
    EXPECT_EQ(devices[0]->getStatus(), 0);
    EXPECT_NE(log().find("ctrl identify command failed !!!"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, IdentifyFaults,
    testing::Values(IdentifyFault{"IoctlFails", [](NVMeControllerModel& m) { m.failIoctl(0x06, EIO); }},
                    IdentifyFault{"StatusNotZero", [](NVMeControllerModel& m) { m.setStatus(0x06, 0x4002); }}),
    [](const testing::TestParamInfo<IdentifyFault>& info) { return std::string(info.param.name); });

TEST_F(Discovery, IdentifyIsSentEvenWhenTheAdapterInformationFailed)
{
    auto model = plainModel();
    host.addController("nvme0", "0000:3b:00.0", model, {});
    discover();
    auto received = model->received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].cmd.opcode, 0xE2);
    EXPECT_EQ(received[1].cmd.opcode, 0x06);
}

TEST_F(Discovery, UnreadableSysfsSkipsOnlyThatController)
{
    host.addController("nvme0", "0000:3b:00.0", zagoModel(), {});
    host.addController("nvme1", "0000:5e:00.0", zagoModel(), {});
    host.addController("nvme2", "0000:86:00.0", zagoModel(), {});
    host.removeAttribute("/sys/class/nvme/nvme0/address");
    host.removeAttribute("/sys/bus/pci/devices/0000:5e:00.0/subsystem_vendor");

    discover();

    ASSERT_EQ(devices.size(), 1u);
    auto* descriptor = static_cast<deviceDescriptor*>(devices[0]->getDeviceHandle());
    EXPECT_STREQ(descriptor->rootPort->devicePath, "/dev/nvme2");
    EXPECT_NE(log().find("getStorageControllersDevicePathList(): Faild to read contents of /sys/class/nvme/nvme0/address"),
              std::string::npos);
    EXPECT_NE(log().find("getStorageControllersDevicePathList(): Faild to read PCI details from "
                         "/sys/bus/pci/devices/0000:5e:00.0"),
              std::string::npos);
    // The first failing PCI file ends the reads of that controller.
    for (const std::string& path : host.attributeReads())
        EXPECT_NE(path, "/sys/bus/pci/devices/0000:5e:00.0/device");
}

TEST_F(Discovery, OversizedSysfsAddressIsRefusedNotOverrun)
{
    host.addController("nvme0", "0000:3b:00.0", zagoModel(), {});
    host.setAttribute("/sys/class/nvme/nvme0/address", std::string(300, '7') + "\n");
    discover();
    EXPECT_TRUE(devices.empty());
    EXPECT_NE(log().find("Faild to read contents of /sys/class/nvme/nvme0/address"), std::string::npos);
}

TEST_F(Discovery, AdapterInformationIdsReplaceTheSysfsIds)
{
    auto model = zagoModel();
    model->setAdapterIds(0x1bd4, 0x2a3c, 0x1028, 0xa1f);
    host.addController("nvme0", "0000:3b:00.0", model, {0x8086, 0x0953, 0x8086, 0x3705});
    dir.write("package.xml", kPackage);

    discover();

    ASSERT_EQ(devices.size(), 1u);
    SPCIInfo pci = devices[0]->getPCIInfo();
    EXPECT_EQ(pci.vendorID, "1bd4");
    EXPECT_EQ(pci.deviceID, "2a3c");
    EXPECT_EQ(pci.subVendorID, "1028");
    EXPECT_EQ(pci.subDeviceID, "a1f");
    // "0a1f" in the package does not match "a1f" as text: the model names it.
    EXPECT_EQ(devices[0]->getDisplay(), "ZAGO BOSS-N1");
}

TEST_F(Discovery, WithoutPackageTheDisplayIsTheModel)
{
    host.addController("nvme0", "0000:3b:00.0", zagoModel(), {});
    discover();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->getDisplay(), "ZAGO BOSS-N1");
}

TEST_F(Discovery, SerialAndModelKeepAtMost19And39Characters)
{
    auto model = zagoModel();
    model->setIdentify("ABCDEFGHIJKLMNOPQRST", "M123456789012345678901234567890123456789", "1.0", 1);
    host.addController("nvme0", "0000:3b:00.0", model, {});
    discover();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->getEnumId(), "Serial Number: ABCDEFGHIJKLMNOPQRS");
    EXPECT_EQ(devices[0]->getDeviceName(), "M12345678901234567890123456789012345678");
}

TEST_F(Discovery, ShortIdentifyReplyGivesOnlyWhatArrived)
{
    auto model = zagoModel();
    model->setIdentify("SERIAL-ONE", "ZAGO BOSS-N1 Controller", "", 1);
    model->setShortReply(0x06, 30);  // serial, and 6 bytes of the model
    host.addController("nvme0", "0000:3b:00.0", model, {});
    discover();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->getEnumId(), "Serial Number: SERIAL-ONE");
    EXPECT_EQ(devices[0]->getDeviceName(), "ZAGO B");
}

TEST_F(Discovery, ZeroBytesInsideIdentifyTextsEndThem)
{
    auto model = zagoModel();
    model->setIdentifyRaw(std::string("SN42\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0X", 20),
                          std::string("ZAGO\0", 5) + std::string(35, 'Y'), "1.0     ");
    host.addController("nvme0", "0000:3b:00.0", model, {});
    discover();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->getEnumId(), "Serial Number: SN42");
    EXPECT_EQ(devices[0]->getDeviceName(), "ZAGO");
}

TEST_F(Discovery, DiscoveringAgainFindsTheControllersAnew)
{
    auto model = zagoModel();
    host.addController("nvme0", "0000:3b:00.0", model, {});
    discover();
    discover();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_NE(devices[0], devices[1]);
    EXPECT_NE(devices[0]->getDeviceHandle(), devices[1]->getDeviceHandle());
    EXPECT_EQ(model->received().size(), 4u);
}

// The four firmware numbers are 16-bit little-endian values, not bytes.
TEST_F(Discovery, FirmwareVersionUsesBothBytesOfEachNumber)
{
    auto model = zagoModel();
    model->setFirmwareNumbers(1, 300, 65535, 0x0100);
    model->setIdentify("SN", "ZAGO", "9.9", 1);
    host.addController("nvme0", "0000:3b:00.0", model, {});
    discover();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->getVersion(), "1.300.65535.256");
}
