#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "EmulatedNVMeHost.h"
#include "HostNamespace.h"
#include "RedHatServer.h"
#include "NVMeControllerModel.h"
#include "NVMeTestData.h"
#include "SimManagementController.h"
#include "SimTessaController.h"
#include "TempDir.h"

// The shipped program's update run followed by its rollback copy, on an
// emulated host with one ZAGO controller and the management controller
// behind /dev/ipmi0: the outcomes that are decided before the drop box
// reaches the host. Whatever the rollback's result, the update document is
// the one of a run without rollback and the controller's partitions are
// left as they were.

namespace {

const std::string kPackage = packageXml({{"0A1F", "2151", "1B4B", "1028"}}, "ZAGO BOSS-N1 Modular");

const std::string kSuccessDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SVMExecution lang=\"en\">"
    "<Device  vendorID=\"1b4b\" deviceID=\"a1f\" subVendorID=\"1028\" subDeviceID=\"2151\" display=\"ZAGO BOSS-N1 "
    "Modular\" enum = \"Serial Number: SN0001\" ><Application componentType=\"FRMW\" version=\"2.5.0.17\" "
    "display=\"ZAGO BOSS-N1\" ><SPStatus result = \"true\" ><Message id=\"0\" >Firmware update is "
    "successful.</Message></SPStatus></Application></Device><RebootRequired>1</RebootRequired></SVMExecution>";

std::string kernelRelease()
{
    struct utsname name;
    return uname(&name) == 0 ? name.release : "";
}

class RollbackEndToEnd : public testing::Test {
protected:
    // One namespace for the whole suite: it must come before any thread,
    // and umockdev's threads outlive a testbed.
    static void SetUpTestSuite() { suiteNamespace = new HostNamespace; }
    static void TearDownTestSuite()
    {
        delete suiteNamespace;
        suiteNamespace = nullptr;
    }

    RollbackEndToEnd() : ns(*suiteNamespace), exeDir(false), workDir(false), tessa(controller)
    {
        // A Red Hat host whose udev rule folders, release files and module
        // list are the test's own.
        StageRedHatServer(ns, exeDir);
        // usb_storage neither built in nor loadable.
        ns.putFile("/lib/modules/" + kernelRelease() + "/modules.builtin", "");

        std::filesystem::copy_file(NVMEPCISSD_EXECUTABLE, exeDir.file("nvmepcissd"));
        exeDir.write("payload/fw.bin", std::string(4096, 'F'));
        exeDir.write("zordebuglog", "");
        workDir.write("package.xml", kPackage);
        // The package as it is laid out: the descriptor beside the program.
        exeDir.write("package.xml", kPackage);

        auto model = std::make_shared<ZagoControllerModel>();
        model->setAdapterIds(0x1B4B, 0xA1F, 0x1028, 0x2151);
        model->setAdapterSerial("SN0001");
        model->setIdentify("SN0001", "ZAGO BOSS-N1", "0.9", 1);
        model->setFirmwareNumbers(2, 5, 0, 17);
        EmulatedController nvme;
        nvme.name = "nvme0";
        nvme.pciAddress = "0000:3b:00.0";
        nvme.sysfsIds.vendor = 0x1B4B;
        nvme.sysfsIds.device = 0xA1F;
        nvme.sysfsIds.subVendor = 0x1028;
        nvme.sysfsIds.subDevice = 0x2151;
        nvme.model = model;
        host.addController(nvme);
        host.addIPMIDevice(controller);
    }

    // The single stage-and-update command: the capability answered as
    // given, SHA-256 as the digest scheme.
    void SingleCommand(bool capable)
    {
        tessa.SetSubHandler(0x26, [capable](const std::vector<uint8_t>& data) {
            SimIpmiReply reply;
            const bool capability = data.size() > 3 && data[3] == 0x01;
            reply.data = {static_cast<uint8_t>(capability && !capable ? 1 : 0), 0x01, 0};
            return reply;
        });
    }

    EmulatedRun Run() { return host.run(exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml", "-d"}, workDir.path(), 120); }

    size_t Sleeps(const std::string& line) const
    {
        const std::vector<std::string> all = host.sleeps();
        return static_cast<size_t>(std::count(all.begin(), all.end(), line));
    }

    // The update went as without rollback, the rollback's number is in the
    // log, and the controller is left with nothing open or attached.
    void ExpectOutcome(const EmulatedRun& run, const std::string& hexResult, bool dropBoxLeft = false)
    {
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(exeDir.read("result.xml"), kSuccessDocument);
        const std::string log = workDir.read("debug_update.log");
        EXPECT_NE(log.find("CRollBackPopulator::doRollbackAndUpdate Done succesfully with return code : " + hexResult),
                  std::string::npos)
            << log;
        EXPECT_FALSE(tessa.SessionOpen());
        EXPECT_EQ(tessa.AttachedStaticBits(), 0);
        EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
        EXPECT_EQ(tessa.DynamicPartitions().empty(), !dropBoxLeft);
        EXPECT_TRUE(exeDir.exists("rollback_attempt.txt"));
    }

    static HostNamespace* suiteNamespace;
    HostNamespace& ns;
    TempDir exeDir;
    TempDir workDir;
    EmulatedNVMeHost host;
    SimManagementController controller;
    SimTessaController tessa;
};

HostNamespace* RollbackEndToEnd::suiteNamespace = nullptr;

} // namespace

TEST_F(RollbackEndToEnd, WaveGHasNoManagedStorageAndIsLeftAlone)
{
    tessa.SetGenerationByte(0x60);
    ExpectOutcome(Run(), "14");
    EXPECT_EQ(tessa.CountFrames(0x30, 0xA9), 0u);
    EXPECT_EQ(tessa.CountSub(0x26), 0u);
    EXPECT_EQ(tessa.CountSub(0x07), 0u);
}

TEST_F(RollbackEndToEnd, AVCThatNeverBecomesReadyEndsAfterAHundredPollsFiveSecondsApart)
{
    tessa.SetVCStates({1});
    ExpectOutcome(Run(), "45");
    EXPECT_EQ(tessa.CountFrames(0x30, 0xA9), 100u);
    EXPECT_EQ(Sleeps("sleep 5"), 100u);
    EXPECT_EQ(tessa.CountSub(0x07), 0u);
}

TEST_F(RollbackEndToEnd, WaveDWithoutTheSingleCommandGetsNoRollbackCopy)
{
    tessa.SetGenerationByte(0x30);
    SingleCommand(false);
    ExpectOutcome(Run(), "ffffffff");
    EXPECT_EQ(tessa.CountSub(0x07), 0u);
}

TEST_F(RollbackEndToEnd, ARefusedDropBoxIs64)
{
    SingleCommand(true);
    tessa.ScriptCodes(0x07, {0x04});
    ExpectOutcome(Run(), "40");
    EXPECT_EQ(tessa.CountSub(0x07), 1u);
    EXPECT_EQ(tessa.CountSub(0x05), 0u);
}

// A copy that failed leaves the drop box behind; the next run's start
// removes it.
TEST_F(RollbackEndToEnd, UsbStorageUnavailableIs65AndTheNextRunRemovesTheDropBox)
{
    SingleCommand(true);
    ExpectOutcome(Run(), "41", true);
    EXPECT_EQ(tessa.CountSub(0x07), 1u);
    EXPECT_EQ(tessa.CountSub(0x05), 0u);

    tessa.SetVCStates({1});
    ExpectOutcome(Run(), "45");
    EXPECT_EQ(tessa.CountSub(0x07), 1u);
}
