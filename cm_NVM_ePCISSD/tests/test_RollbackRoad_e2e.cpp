#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "EmulatedNVMeHost.h"
#include "EmulatedUsbDiskHost.h"
#include "HostNamespace.h"
#include "NVMeControllerModel.h"
#include "NVMeTestData.h"
#include "Sha.h"
#include "SimManagementController.h"
#include "SimTessaController.h"
#include "TempDir.h"

// The shipped program's update run and its rollback copy on a controller
// that takes the single stage-and-update command, all on one emulated host:
// the ZAGO controller behind /dev/nvme0, the management controller behind
// /dev/ipmi0, its drop box appearing as a USB disk when attached. The
// controller's side of staging is played here: it checks the handed-over
// digest against the request document it reads from the drop box, and on
// the stage command keeps the drop box's "payload" folder.

namespace {

namespace fs = std::filesystem;

const std::string kPackage = packageXml({{"0A1F", "2151", "1B4B", "1028"}}, "ZAGO BOSS-N1 Modular");

std::string sha256Of(const std::string& text)
{
    char digest[65] = {0};
    CSHA sha;
    sha.CalculateSHA256(text, false, digest);
    return digest;
}

// The controller's side of the single stage-and-update command.
class StagingController {
public:
    StagingController(SimTessaController& tessa, EmulatedUsbDiskHost& usb, const std::string& stagedFolder)
        : m_usb(usb), m_staged(stagedFolder)
    {
        tessa.SetSubHandler(0x26, [this](const std::vector<uint8_t>& data) { return answer(data); });
    }

    std::vector<std::string> operations() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_operations;
    }
    std::string handedDigest() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_digest;
    }

private:
    SimIpmiReply answer(const std::vector<uint8_t>& data)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        SimIpmiReply reply;
        const uint8_t operation = data.size() > 3 ? data[3] : 0;
        uint8_t status = 0;
        switch (operation) {
        case 0x01: m_operations.push_back("capability"); break;
        case 0x20:
            m_operations.push_back("digest scheme");
            reply.data = {0, 0x01, 0};   // SHA-256
            return reply;
        case 0x10:
            if (data.size() > 4 && data[4] == 0x00) {
                m_operations.push_back("hand-over header");
                m_digest.clear();
            } else {
                m_operations.push_back("hand-over part");
                for (size_t i = 5; i < data.size() && i < 15 && data[i] != 0; ++i)
                    m_digest += static_cast<char>(data[i]);
            }
            break;
        case 0x08: {
            m_operations.push_back("status");
            const std::string document = readWholeFile(m_usb.backingFolder("SECUPD") + "/input_secupd.xml");
            status = !document.empty() && sha256Of(document) == m_digest ? 0 : 38;
            break;
        }
        case 0x02:
        case 0x04:
            m_operations.push_back(operation == 0x02 ? "stage" : "stage and update");
            fs::remove_all(m_staged);
            fs::copy(m_usb.backingFolder("SECUPD") + "/payload", m_staged, fs::copy_options::recursive);
            status = 4;
            break;
        default: m_operations.push_back("other"); break;
        }
        reply.data = {status, 0, 0};
        return reply;
    }

    EmulatedUsbDiskHost& m_usb;
    std::string m_staged;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_operations;
    std::string m_digest;
};

class RollbackRoad : public testing::Test {
protected:
    static void SetUpTestSuite() { suiteNamespace = new HostNamespace; }
    static void TearDownTestSuite()
    {
        delete suiteNamespace;
        suiteNamespace = nullptr;
    }

    RollbackRoad()
        : ns(*suiteNamespace), exeDir(false), workDir(false), stagedDir(false), tessa(controller), usb(ns, tessa),
          nvme(usb.testbed()), staging(tessa, usb, stagedDir.path() + "/package")
    {
        ns.putFile("/etc/redhat-release", "Red Hat Enterprise Linux Server release 7.9 (Maipo)\n");
        for (const char* file : {"/etc/SuSE-release", "/etc/vmware-release", "/etc/init.d/haldaemon"})
            ns.remove(file);
        for (const char* folder : {"/etc/udev/rules.d", "/lib/udev/rules.d", "/run/udev/rules.d"})
            ns.emptyFolder(folder);
        ns.putFile("/sbin/udevadm", "#!/bin/sh\nexit 0\n", 0755);

        fs::copy_file(NVMEPCISSD_EXECUTABLE, exeDir.file("nvmepcissd"));
        exeDir.write("98-secupdusb.rules", "usb rule\n");
        exeDir.write("00-secupd-kave.rules", "kave rule\n");
        std::string image;
        for (int i = 0; i < 3000; ++i)
            image += "firmware block " + std::to_string(i) + "\n";
        image.resize(image.size() / 4 * 4, '\n');
        exeDir.write("payload/fw.bin", image);
        exeDir.write("package.xml", kPackage);
        exeDir.write("zordebuglog", "");
        workDir.write("package.xml", kPackage);

        auto model = std::make_shared<ZagoControllerModel>();
        model->setAdapterIds(0x1B4B, 0xA1F, 0x1028, 0x2151);
        model->setAdapterSerial("SN0001");
        model->setIdentify("SN0001", "ZAGO BOSS-N1", "0.9", 1);
        model->setFirmwareNumbers(2, 5, 0, 17);
        EmulatedController controllerNode;
        controllerNode.name = "nvme0";
        controllerNode.pciAddress = "0000:3b:00.0";
        controllerNode.sysfsIds.vendor = 0x1B4B;
        controllerNode.sysfsIds.device = 0xA1F;
        controllerNode.sysfsIds.subVendor = 0x1028;
        controllerNode.sysfsIds.subDevice = 0x2151;
        controllerNode.model = model;
        nvme.addController(controllerNode);
    }

    // The drop box the client creates takes the lowest free bit; exposed,
    // it shows up as a USB disk once attached.
    void ExposeDropBox() { usb.exposeDynamic(0, "SECUPD"); }

    static HostNamespace* suiteNamespace;
    HostNamespace& ns;
    TempDir exeDir;
    TempDir workDir;
    TempDir stagedDir;
    SimManagementController controller;
    SimTessaController tessa;
    EmulatedUsbDiskHost usb;
    EmulatedNVMeHost nvme;
    StagingController staging;
};

HostNamespace* RollbackRoad::suiteNamespace = nullptr;

} // namespace

TEST_F(RollbackRoad, TheAppliedPackageIsStagedThroughTheDropBox)
{
    ExposeDropBox();
    EmulatedRun run = usb.run(exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml", "-d"}, workDir.path(), 120);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_FALSE(run.timedOut);
    const std::string log = workDir.read("debug_update.log");
    EXPECT_NE(log.find("CRollBackPopulator::doRollbackAndUpdate Done succesfully with return code : 0"),
              std::string::npos)
        << log << exeDir.read("KOLT_DBG.log");
    EXPECT_NE(exeDir.read("result.xml").find("Firmware update is successful."), std::string::npos);

    // The controller saw the road in order and the digest it was handed is
    // the document's.
    const std::vector<std::string> operations = staging.operations();
    EXPECT_EQ(operations, (std::vector<std::string>{"capability", "digest scheme", "hand-over header",
                                                    "hand-over part", "hand-over part", "hand-over part",
                                                    "hand-over part", "hand-over part", "hand-over part",
                                                    "hand-over part", "status", "stage"}));
    const std::string document = readWholeFile(usb.backingFolder("SECUPD") + "/input_secupd.xml");
    EXPECT_EQ(staging.handedDigest(), sha256Of(document));

    // What was staged is what was applied, byte for byte.
    EXPECT_EQ(readWholeFile(stagedDir.path() + "/package/fw.bin"), exeDir.read("payload/fw.bin"));
    EXPECT_EQ(readWholeFile(stagedDir.path() + "/package/package.xml"), kPackage);

    // The drop box is gone, nothing is attached, the session is over.
    EXPECT_TRUE(tessa.DynamicPartitions().empty());
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
    EXPECT_FALSE(tessa.SessionOpen());

    // The request document lists the two files with their SHA-256.
    EXPECT_EQ(document, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TESSA_Update>\n"
                        "\t<File order=\"2\"><Hash>" + sha256Of(kPackage) +
                            "</Hash><Source>payload/package.xml</Source><Mode>filecopy</Mode>"
                            "<Algorithm>SHA256</Algorithm>\n</File>\n"
                            "\t<File order=\"3\"><Hash>" + sha256Of(exeDir.read("payload/fw.bin")) +
                            "</Hash><Source>payload/fw.bin</Source><Mode>filecopy</Mode>"
                            "<Algorithm>SHA256</Algorithm>\n</File>\n</TESSA_Update>\n\n");

    // One read-write mount of the drop box; the pauses a real host would
    // have taken: one search attempt, the pause after the mount, the
    // settle after the attach.
    EXPECT_EQ(usb.mountCalls(),
              std::vector<std::string>{"-n -t vfat -oshortname=mixed,rw /dev/sectesupd-SECUPD /tmp/SECUPD"});
    EXPECT_EQ(usb.sleeps(), (std::vector<std::string>{"sleep 5", "sleep 1", "sleep 10"}));
}

// A document the controller finds altered is no staged package: the copy
// fails with 24 and the drop box is deleted; the update stands.
TEST_F(RollbackRoad, ADigestMismatchFailsTheCopyAndRemovesTheDropBox)
{
    ExposeDropBox();
    tessa.SetSubHandler(0x26, [](const std::vector<uint8_t>& data) {
        SimIpmiReply reply;
        const uint8_t operation = data.size() > 3 ? data[3] : 0;
        reply.data = {static_cast<uint8_t>(operation == 0x08 ? 38 : 0), static_cast<uint8_t>(operation == 0x20), 0};
        return reply;
    });
    EmulatedRun run = usb.run(exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml", "-d"}, workDir.path(), 120);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(workDir.read("debug_update.log")
                  .find("CRollBackPopulator::doRollbackAndUpdate Done succesfully with return code : 18"),
              std::string::npos);
    EXPECT_NE(exeDir.read("result.xml").find("Firmware update is successful."), std::string::npos);
    EXPECT_EQ(tessa.CountSub(0x07), 1u);
    EXPECT_TRUE(tessa.DynamicPartitions().empty());
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
    EXPECT_FALSE(fs::exists(stagedDir.path() + "/package"));
}

// A drop box that never shows up on the host: five attaches of 60 search
// attempts each, 5 s apart (25 minutes on a real host), then 27; the drop
// box is detached and deleted again.
TEST_F(RollbackRoad, ADropBoxThatNeverAppearsIs27)
{
    EmulatedRun run = usb.run(exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml", "-d"}, workDir.path(), 120);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(workDir.read("debug_update.log")
                  .find("CRollBackPopulator::doRollbackAndUpdate Done succesfully with return code : 1b"),
              std::string::npos);
    EXPECT_NE(exeDir.read("result.xml").find("Firmware update is successful."), std::string::npos);
    EXPECT_EQ(usb.attempts(), 300u);
    const std::vector<std::string> sleeps = usb.sleeps();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), "sleep 5"), 300);
    EXPECT_EQ(tessa.CountSub(0x07), 1u);
    EXPECT_TRUE(tessa.DynamicPartitions().empty());
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
    EXPECT_TRUE(usb.mountCalls().empty());
    EXPECT_FALSE(fs::exists(stagedDir.path() + "/package"));
}
