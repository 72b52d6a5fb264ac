// The update run's hand-over to the product's own rollback staging (the real
// wrapper and populator), on a simulated Red Hat host whose management
// controller is the model behind the IPMI library's device seam.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "FakeNVMeHost.h"
#include "KoltTestSupport.h"
#include "Logger.h"
#include "NVMeControllerModel.h"
#include "NVMeTestData.h"
#include "NVMePCISSDUpdate.h"

namespace {

const std::string kPackage = packageXml({{"0A1F", "2151", "1B4B", "1028"}}, "ZAGO BOSS-N1 Modular");

// The module host with the executable in a folder of the test's choosing.
class HandOverHost : public FakeModuleHost {
public:
    std::string processDirectory;
    std::string getCurrentProcessDirectory() override { return processDirectory; }
};

class RollbackHandOver : public testing::Test {
protected:
    RollbackHandOver() : tessa(controller), device(controller)
    {
        sigaction(SIGINT, nullptr, &previousSigint);
        GenerationType = -1;
        ResetPartitionTable();
        // The rule files are taken from the executable's folder, which the
        // hand-over makes the working directory.
        StageRedHatHost(ns, host, exe);
        host.processDirectory = exe.path() + "/";
        exe.write("zordebuglog", "");
        start.write("package.xml", kPackage);
    }
    ~RollbackHandOver() override
    {
        ReleaseQRMIPMILibrary();
        ResetPartitionTable();
        GenerationType = -1;
        sigaction(SIGINT, &previousSigint, nullptr);
    }

    void SetUp() override { ASSERT_TRUE(CLogger::GetInstance()->Initialize(start.file("debug.log"))); }

    void FlashOneController()
    {
        auto model = std::make_shared<ZagoControllerModel>();
        model->setAdapterIds(0x1B4B, 0xA1F, 0x1028, 0x2151);
        model->setIdentify("SNnvme0", "ZAGO BOSS-N1", "1.0", 1);
        model->setFirmwareNumbers(2, 5, 0, 17);
        nvme.addController("nvme0", "0000:3b:00.0", model, SysfsPciIds());
        exe.write("payload/fw.bin", std::string(4096, 'A'));
        CNVMePCISSDUpdate update(exe.file("result.xml"));
        update.Update();
    }

    bool logged(const std::string& line) { return start.read("debug.log").find(line) != std::string::npos; }
    bool koltLogged(const std::string& line) { return Contains(KoltLogMessages(exe.file("KOLT_DBG.log")), line); }

    struct sigaction previousSigint;
    HostNamespace ns;
    TempDir exe{false};
    TempDir start;
    HandOverHost host;
    FakeHostGuard hostGuard{host, ns};
    SimManagementController controller;
    SimTessaController tessa;
    SimIPMIDevice device;
    SimIPMISleepRecorder libSleeps;
    SimIPMISeamGuard seams{&device, &libSleeps};
    FakeNVMeHost nvme;
};

} // namespace

TEST_F(RollbackHandOver, WaveGControllerIsLeftAloneAndTheResultLogged)
{
    tessa.SetGenerationByte(0x60);
    FlashOneController();

    EXPECT_TRUE(logged("CRollBackPopulator::CRollBackPopulator() START"));
    EXPECT_TRUE(logged("CRollBackPopulator::doRollbackAndUpdate Done succesfully with return code : 14"));
    EXPECT_TRUE(logged("CRollBackPopulator::~CRollBackPopulator()"));
    EXPECT_TRUE(logged("ERROR: Populating the rollback partition is failed with error code 14\n"));
    EXPECT_TRUE(koltLogged("Secure Tessa initialized successfully"));
    EXPECT_TRUE(koltLogged("Exiting doRollbackAndUpdate - this is WaveG server [KOLT_NOTESSAPRESENT]"));
    EXPECT_EQ(exe.read("rollback_attempt.txt"), "");
    EXPECT_EQ(tessa.CountFrames(0x30, 0xA2), 0u);
    // The wrapper is gone again: library released, rules removed.
    EXPECT_EQ(pQRMIPMILibHandle, nullptr);
    EXPECT_FALSE(std::filesystem::exists(std::string(kUdevRulesEtc) + "98-secupdusb.rules"));
    EXPECT_NE(exe.read("result.xml").find("<SPStatus result = \"true\" >"), std::string::npos);
}

TEST_F(RollbackHandOver, ClientThatCannotBeBuiltGivesItsNumber)
{
    host.loaded.clear();   // no IPMI driver modules, none loadable
    FlashOneController();

    EXPECT_TRUE(logged("Error Code receivie from KOLT is 46"));
    EXPECT_TRUE(logged("ERROR: Populating the rollback partition is failed with error code 2e\n"));
    EXPECT_FALSE(logged("CRollBackPopulator::CRollBackPopulator() START"));
    EXPECT_TRUE(koltLogged("Could not create Secure Tessa object"));
    EXPECT_TRUE(controller.Frames().empty());
    EXPECT_NE(exe.read("result.xml").find("<SPStatus result = \"true\" >"), std::string::npos);
}

TEST_F(RollbackHandOver, ControllerWithoutManagedStorageGives20NotSuccess)
{
    tessa.SetTypeByte(5);
    FlashOneController();

    EXPECT_TRUE(logged("Error Code receivie from KOLT is 20"));
    EXPECT_TRUE(logged("ERROR: Populating the rollback partition is failed with error code 14\n"));
    EXPECT_FALSE(logged("Populating the rollback partition is success"));
}
