// The built program's inventory run (-i) on an emulated host: controller
// nodes, sysfs and the admin pass-through are those of umockdev's testbed,
// answered by controller models.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "AdminCommandExpectations.h"
#include "EmulatedNVMeHost.h"
#include "NVMeControllerModel.h"
#include "NVMeTestData.h"
#include "TempDir.h"

namespace {

const std::string kProgram = NVMEPCISSD_EXECUTABLE;
const std::string kEmptyInventory = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SVMInventory lang=\"en\"></SVMInventory>";

const std::string kPackage = packageXml({{"2A3C", "1D6B", "1BD4", "1028"}}, "ZAGO Boot Controller");

std::shared_ptr<ZagoControllerModel> zagoModel(const std::string& serial)
{
    auto model = std::make_shared<ZagoControllerModel>();
    model->setAdapterIds(0x1bd4, 0x2a3c, 0x1028, 0x1d6b);
    model->setAdapterSerial("ADAPTER" + serial);
    model->setFirmwareNumbers(2, 5, 0, 17);
    model->setIdentify(serial, "ZAGO BOSS-N1", "0.0.0", 0x41);
    return model;
}

std::shared_ptr<NVMeControllerModel> plainModel()
{
    auto model = std::make_shared<NVMeControllerModel>();
    model->setIdentify("S5GXNA0R123456", "Vendor NVMe SSD 960GB", "GDC5302Q", 6);
    return model;
}

std::string zagoEntry(const std::string& serial, const std::string& display = "ZAGO Boot Controller",
                      const std::string& model = "ZAGO BOSS-N1")
{
    return "<Device  vendorID=\"1bd4\" deviceID=\"2a3c\" subVendorID=\"1028\" subDeviceID=\"1d6b\"  display=\"" +
           display + "\" enum = \"Serial Number: " + serial +
           "\" ><Application componentType=\"FRMW\"  version=\"2.5.0.17\"  display=\"" + model +
           "\"/></Device>";
}

std::string inventory(const std::string& entries)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SVMInventory lang=\"en\">" + entries + "</SVMInventory>";
}

class InventoryE2E : public testing::Test {
protected:
    EmulatedRun runProgram(const std::vector<std::string>& args) { return host.run(kProgram, args, dir.path()); }

    void addController(const std::string& name, const std::string& address, std::shared_ptr<NVMeControllerModel> model,
                       SysfsPciIds ids = {0x1bd4, 0x2a3c, 0x1028, 0x1d6b})
    {
        EmulatedController controller;
        controller.name = name;
        controller.pciAddress = address;
        controller.sysfsIds = ids;
        controller.model = model;
        host.addController(controller);
    }

    // xmllint's verdict on a document written into the working directory.
    bool wellFormed(const std::string& name)
    {
        std::string command = "xmllint --noout '" + dir.file(name) + "' 2>/dev/null";
        return std::system(command.c_str()) == 0;
    }

    // The same for a document the program printed on standard output.
    bool wellFormedText(const std::string& text)
    {
        dir.write("stdout.xml", text);
        return wellFormed("stdout.xml");
    }

    std::string xpath(const std::string& name, const std::string& expression)
    {
        std::string command = "xmllint --xpath '" + expression + "' '" + dir.file(name) + "' > '" +
                              dir.file("xpath.out") + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0)
            return "<xmllint failed>";
        std::string value = dir.read("xpath.out");
        if (!value.empty() && value.back() == '\n')
            value.pop_back();  // xmllint ends its answer with a line feed
        return value;
    }

    TempDir dir;
    EmulatedNVMeHost host;
};

} // namespace

TEST_F(InventoryE2E, ReportsTheZagoControllerAndNotThePlainSsd)
{
    dir.write("package.xml", kPackage);
    auto plain = plainModel();
    auto zago = zagoModel("ZS01 22 33");
    addController("nvme0", "0000:3b:00.0", plain, {0x144d, 0xa808, 0x144d, 0xa801});
    addController("nvme1", "0000:5e:00.0", zago, {0x1bd4, 0x2a3c, 0x1028, 0x1d6b});

    EmulatedRun run = runProgram({"-i", "-o", "out.xml"});

    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(dir.read("out.xml"), inventory(zagoEntry("ZS012233")));
    EXPECT_TRUE(wellFormed("out.xml"));

    // Each controller received exactly the two discovery commands of the
    // command table, in this order.
    for (auto* model : {plain.get(), static_cast<NVMeControllerModel*>(zago.get())}) {
        auto received = model->received();
        ASSERT_EQ(received.size(), 2u);
        expectAdminCommand(received[0], adapterInformationCommand());
        expectAdminCommand(received[1], identifyControllerCommand());
    }
}

TEST_F(InventoryE2E, ControllersAreListedInTheOrderLsGivesAndNamespacesAreIgnored)
{
    std::vector<std::shared_ptr<ZagoControllerModel>> models;
    const char* names[] = {"nvme2", "nvme10", "nvme1", "nvme0"};
    for (unsigned i = 0; i < 4; ++i) {
        models.push_back(zagoModel(std::string("SN-") + names[i]));
        addController(names[i], "0000:1" + std::to_string(i) + ":00.0", models.back());
    }
    host.addNode("nvme0n1");
    host.addNode("nvme1n1");
    host.addNode("nvme-fabrics");
    host.addNode("nvme100");

    EmulatedRun run = runProgram({"-i", "-o", "out.xml", "-d"});

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(dir.read("out.xml"), inventory(zagoEntry("SN-nvme0", "ZAGO BOSS-N1") +
                                             zagoEntry("SN-nvme1", "ZAGO BOSS-N1") +
                                             zagoEntry("SN-nvme10", "ZAGO BOSS-N1") +
                                             zagoEntry("SN-nvme2", "ZAGO BOSS-N1")));
    EXPECT_TRUE(wellFormed("out.xml"));
    std::string log = dir.read("debug_inv.log");
    size_t n0 = log.find("getNVMEMountedDevices: Adding device to list nvme0\n");
    size_t n1 = log.find("getNVMEMountedDevices: Adding device to list nvme1\n");
    size_t n10 = log.find("getNVMEMountedDevices: Adding device to list nvme10\n");
    size_t n2 = log.find("getNVMEMountedDevices: Adding device to list nvme2\n");
    ASSERT_NE(n0, std::string::npos) << log;
    EXPECT_LT(n0, n1);
    EXPECT_LT(n1, n10);
    EXPECT_LT(n10, n2);
    EXPECT_EQ(log.find("Adding device to list nvme0n1"), std::string::npos);
    EXPECT_EQ(log.find("Adding device to list nvme-fabrics"), std::string::npos);
    EXPECT_EQ(log.find("Adding device to list nvme100"), std::string::npos);
    for (auto& model : models)
        EXPECT_EQ(model->received().size(), 2u);
}

TEST_F(InventoryE2E, HostWithoutControllersGivesTheEmptyDocumentOnStandardOutput)
{
    EmulatedRun run = runProgram({"-i"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, kEmptyInventory);
    EXPECT_TRUE(wellFormedText(run.out));
}

TEST_F(InventoryE2E, HostWithOnlyPlainSsdsGivesTheEmptyDocument)
{
    auto plain = plainModel();
    addController("nvme0", "0000:3b:00.0", plain);
    EmulatedRun run = runProgram({"-i", "-o", "out.xml"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(dir.read("out.xml"), kEmptyInventory);
    EXPECT_TRUE(wellFormed("out.xml"));
    EXPECT_EQ(plain->received().size(), 2u);
}

TEST_F(InventoryE2E, FaultyControllersDoNotKeepTheOthersFromBeingListed)
{
    dir.write("package.xml", kPackage);
    auto cannotOpen = zagoModel("OPEN");
    cannotOpen->failOpen(EACCES);
    auto ioctlFails = zagoModel("IOCTL");
    ioctlFails->failIoctl(0xE2, EIO);
    auto identifyFails = zagoModel("IDENT");
    identifyFails->setStatus(0x06, 0x4002);
    auto noAddress = zagoModel("ADDR");
    auto noPciIds = zagoModel("PCI");
    auto good = zagoModel("GOOD");

    addController("nvme0", "0000:10:00.0", cannotOpen);
    addController("nvme1", "0000:11:00.0", ioctlFails);
    addController("nvme2", "0000:12:00.0", identifyFails);
    EmulatedController unreadable;
    unreadable.name = "nvme3";
    unreadable.pciAddress = "0000:13:00.0";
    unreadable.model = noAddress;
    unreadable.addressReadable = false;
    host.addController(unreadable);
    unreadable.name = "nvme4";
    unreadable.pciAddress = "0000:14:00.0";
    unreadable.model = noPciIds;
    unreadable.addressReadable = true;
    unreadable.pciIdsReadable = false;
    host.addController(unreadable);
    addController("nvme5", "0000:15:00.0", good);

    EmulatedRun run = runProgram({"-i", "-o", "out.xml", "-d"});

    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    // The ZAGO controller whose Identify failed is listed without serial and
    // model; the display comes from the package.
    EXPECT_EQ(dir.read("out.xml"), inventory(zagoEntry("", "ZAGO Boot Controller", "") + zagoEntry("GOOD")));
    EXPECT_TRUE(wellFormed("out.xml"));

    EXPECT_EQ(cannotOpen->received().size(), 0u);
    EXPECT_EQ(ioctlFails->received().size(), 2u);
    EXPECT_EQ(identifyFails->received().size(), 2u);
    EXPECT_EQ(noAddress->received().size(), 0u);
    EXPECT_EQ(noPciIds->received().size(), 0u);
    EXPECT_EQ(good->received().size(), 2u);

    std::string log = dir.read("debug_inv.log");
    EXPECT_NE(log.find("executeIOCTL: error on open 21"), std::string::npos);
    EXPECT_NE(log.find("executeIOCTL: error on ioctl 5"), std::string::npos);
    EXPECT_NE(log.find("Faild to read contents of /sys/class/nvme/nvme3/address"), std::string::npos);
    EXPECT_NE(log.find("Faild to read PCI details from /sys/bus/pci/devices/0000:14:00.0"), std::string::npos);
}

TEST_F(InventoryE2E, MarkupCharactersInControllerTextsKeepTheDocumentWellFormed)
{
    auto zago = zagoModel("A&B<C>D\"E'F");
    zago->setIdentify("A&B<C>D\"E'F", "Model <&> \"x\" 'y'", "", 1);
    addController("nvme0", "0000:3b:00.0", zago);

    EmulatedRun run = runProgram({"-i", "-o", "out.xml"});

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    ASSERT_TRUE(wellFormed("out.xml")) << dir.read("out.xml");
    EXPECT_EQ(xpath("out.xml", "string(/SVMInventory/Device/@enum)"), "Serial Number: A&B<C>D\"E'F");
    EXPECT_EQ(xpath("out.xml", "string(/SVMInventory/Device/@display)"), "Model <&> \"x\" 'y'");
    EXPECT_EQ(xpath("out.xml", "string(/SVMInventory/Device/Application/@display)"), "Model <&> \"x\" 'y'");
}

TEST_F(InventoryE2E, DocumentGoesToStandardOutputWithoutResultFile)
{
    auto zago = zagoModel("ZS1");
    addController("nvme0", "0000:3b:00.0", zago);
    EmulatedRun run = runProgram({"-i"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, inventory(zagoEntry("ZS1", "ZAGO BOSS-N1")));
    EXPECT_TRUE(wellFormedText(run.out));
}

// Identify texts are meant to be printable ASCII, but a controller may
// answer with line breaks or bytes that are no UTF-8 (0xFF padding): the
// document stays one well-formed line.
TEST_F(InventoryE2E, ControllerTextsWithLineBreaksAndNonUtf8BytesKeepTheDocumentWellFormed)
{
    auto zago = zagoModel("");
    zago->setIdentifyRaw(std::string("\xff\xffSN\n42\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 20),
                         std::string("ZAGO\tBOSS\xe9N1") + std::string(26, ' '), "1.0     ");
    addController("nvme0", "0000:3b:00.0", zago);

    EmulatedRun run = runProgram({"-i", "-o", "out.xml"});

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    std::string document = dir.read("out.xml");
    ASSERT_TRUE(wellFormed("out.xml")) << document;
    EXPECT_EQ(document.find('\n'), std::string::npos);
    EXPECT_EQ(xpath("out.xml", "string(/SVMInventory/Device/@enum)"), "Serial Number: SN\n42");
    EXPECT_EQ(xpath("out.xml", "string(/SVMInventory/Device/Application/@display)"), "ZAGO\tBOSSN1");
}
