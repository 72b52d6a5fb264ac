#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "FakeNVMeHost.h"
#include "LinuxImpl.h"
#include "Logger.h"
#include "NVMeControllerModel.h"
#include "NVMeTestData.h"
#include "NVMePCISSDUpdate.h"
#include "PlatformLayer.h"
#include "ScopedSeam.h"
#include "TempDir.h"

namespace {

const std::string kPackage = packageXml({{"0A1F", "2151", "1B4B", "1028"}}, "ZAGO BOSS-N1 Modular");

const std::string kPayloadError =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SVMExecution lang=\"en\"><SPStatus result = \"false\" ><Message "
    "id=\"0\" >Payload directory is not proper.</Message></SPStatus></SVMExecution>";
const std::string kDeviceNotFound =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SVMExecution lang=\"en\"><SPStatus result = \"false\" ><Message "
    "id=\"1\" >Device not found</Message></SPStatus></SVMExecution>";

// The executable's directory is a temp dir of the test's choosing; changing
// the working directory can be made to fail.
class TestPlatform : public CLinuxImpl {
public:
    std::string processDirectory;
    bool failChdir = false;
    std::vector<std::string> chdirs;

    std::string getCurrentProcessDirectory() override { return processDirectory; }
    bool setCurrentDirectory(const std::string& directory) override
    {
        chdirs.push_back(directory);
        if (failChdir)
            return false;
        return CLinuxImpl::setCurrentDirectory(directory);
    }
};

// What the rollback hand-over did, in order.
struct RollbackRecord {
    std::vector<std::string> events;
    std::vector<std::string> payload;
    std::string cwdAtCreate;
    bool throwKolt = false;
    unsigned char koltError = 0;
    bool throwInPopulate = false;
    int populateResult = 0;
    int powerCycleResult = 0;
};
RollbackRecord* g_record = nullptr;

class RecordingStaging : public IRollbackStaging {
public:
    ~RecordingStaging() override
    {
        deleteWrapper();
        g_record->events.push_back("staging gone");
    }
    void createWrapper() override
    {
        g_record->events.push_back("create");
        g_record->cwdAtCreate = std::filesystem::current_path().string();
        if (g_record->throwKolt)
            throw g_record->koltError;
        m_created = true;
    }
    int regPowerCycle() override
    {
        g_record->events.push_back("regPowerCycle");
        return g_record->powerCycleResult;
    }
    int populateRollbackPartition(const std::vector<std::string>& payloadFiles) override
    {
        g_record->events.push_back("populate");
        g_record->payload = payloadFiles;
        if (g_record->throwInPopulate)
            throw std::runtime_error("copy blew up");
        return g_record->populateResult;
    }
    void deleteWrapper() override
    {
        if (m_created)
            g_record->events.push_back("delete");
        m_created = false;
    }

private:
    bool m_created = false;
};

class RecordingStagingFactory : public IRollbackStagingFactory {
public:
    IRollbackStaging* createStaging() override { return new RecordingStaging(); }
};

class UpdateFrontEnd : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CLogger::GetInstance()->Initialize(start.file("debug.log")));
        start.write("package.xml", kPackage);
        platform.processDirectory = exe.path() + "/";
        g_record = &record;
    }
    void TearDown() override { g_record = nullptr; }

    std::shared_ptr<ZagoControllerModel> addZago(const std::string& name)
    {
        auto model = std::make_shared<ZagoControllerModel>();
        model->setAdapterIds(0x1B4B, 0xA1F, 0x1028, 0x2151);
        model->setIdentify("SN" + name, "ZAGO BOSS-N1", "1.0", 1);
        model->setFirmwareNumbers(2, 5, 0, 17);
        host.addController(name, "0000:3b:00." + std::to_string(++functions), model, SysfsPciIds());
        return model;
    }

    void payload(const std::string& name, const std::string& content) { exe.write("payload/" + name, content); }

    // Runs the update as main does, with a result file name.
    void run(const std::string& outputName)
    {
        CNVMePCISSDUpdate update(outputName);
        update.Update();
    }

    std::string log() { return start.read("debug.log"); }
    bool logged(const std::string& line) { return log().find(line) != std::string::npos; }

    TempDir exe{false};
    TempDir start; // the working directory the run starts in
    TestPlatform platform;
    ScopedSeam<CPlatformLayer> platformInstalled{platform};
    RecordingStagingFactory recordingStaging;
    ScopedSeam<CRollbackStagingAccess> stagingInstalled{recordingStaging};
    RollbackRecord record;
    FakeNVMeHost host;
    int functions = 0;
};

} // namespace

TEST_F(UpdateFrontEnd, SuccessfulFlashIsHandedToRollbackBesideTheExecutable)
{
    auto zago = addZago("nvme0");
    payload("fw.bin", std::string(4096, 'A'));
    run("result.xml");

    EXPECT_EQ(zago->commits(), std::vector<uint32_t>{0x08});
    EXPECT_EQ(record.events, (std::vector<std::string>{"create", "populate", "delete", "staging gone"}));
    EXPECT_EQ(record.payload, std::vector<std::string>{exe.path() + "/payload/fw.bin"});
    EXPECT_EQ(record.cwdAtCreate, exe.path());

    // The relative result name now resolves beside the executable.
    EXPECT_FALSE(start.exists("result.xml"));
    std::string doc = exe.read("result.xml");
    EXPECT_NE(doc.find("<SPStatus result = \"true\" ><Message id=\"0\" >Firmware update is successful.</Message>"),
              std::string::npos)
        << doc;
    EXPECT_NE(doc.find("<RebootRequired>1</RebootRequired></SVMExecution>"), std::string::npos);

    EXPECT_TRUE(logged("getPayloadPath: Payload file name is: " + exe.path() + "/payload/fw.bin"));
    EXPECT_TRUE(logged("updateDevices(): Update behind zagoAttached/cpuAttached = 1\nupdateDevices(): Update behind "
                       "qandAttached = 0\n"));
    EXPECT_TRUE(logged("updateDevices(): At lease one NVMe PCISSD disk firmware update is successful. Rollback is "
                       "mandatory now"));
    EXPECT_TRUE(logged("updateDevices(): Populating the rollback partition is success"));
    EXPECT_FALSE(logged("requires cold powerCycle"));
}

TEST_F(UpdateFrontEnd, RollbackFailuresReachOnlyTheLog)
{
    struct Case {
        const char* name;
        bool throwKolt;
        bool throwOther;
        int populateResult;
        const char* code;
        std::vector<std::string> events;
        const char* extraLine;
    } cases[] = {
        {"copy fails", false, false, -1, "ffffffff", {"create", "populate", "delete", "staging gone"},
         "CNVMePCISSDUpdate::populateRollPartition() pRollBackPopulator.PopulateRollbackPartition failure"},
        {"copy fails with a KOLT number", false, false, 20, "14", {"create", "populate", "delete", "staging gone"},
         "CNVMePCISSDUpdate::populateRollPartition() pRollBackPopulator.PopulateRollbackPartition failure"},
        {"wrapper throws KOLT error 56", true, false, 0, "38", {"create", "staging gone"},
         "Error Code receivie from KOLT is 56"},
        {"unknown exception", false, true, 0, "ffffffff", {"create", "populate", "delete", "staging gone"},
         "ERROR: Caught an unknown exception in CNVMePCISSDUpdate::populateRollPartition()"},
    };
    payload("fw.bin", std::string(64, 'B'));
    addZago("nvme0");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        record = RollbackRecord();
        record.throwKolt = c.throwKolt;
        record.koltError = 56;
        record.throwInPopulate = c.throwOther;
        record.populateResult = c.populateResult;
        // Each run starts where the package is; the previous one moved on.
        std::filesystem::current_path(start.path());
        run(exe.file("result.xml"));
        EXPECT_EQ(record.events, c.events);
        EXPECT_TRUE(logged(c.extraLine));
        EXPECT_TRUE(logged(std::string("ERROR: Populating the rollback partition is failed with error code ") + c.code +
                           "\n"));
        EXPECT_NE(exe.read("result.xml").find("<SPStatus result = \"true\" >"), std::string::npos);
    }
    EXPECT_TRUE(logged("ERROR: Caught exception in CNVMePCISSDUpdate::populateRollPartition()"));
}

TEST_F(UpdateFrontEnd, ColdPowerCycleIsRequestedOnceBeforeTheCopy)
{
    std::vector<std::string> files{exe.path() + "/payload/fw.bin"};
    struct Case {
        int powerCycleResult;
        bool accepted;
    } cases[] = {{0, true}, {-1, false}};
    for (const Case& c : cases) {
        record = RollbackRecord();
        record.powerCycleResult = c.powerCycleResult;
        CNVMePCISSDUpdate update("");
        bool accepted = !c.accepted;
        EXPECT_EQ(update.populateRollbackPartition(files, true, accepted), 0);
        EXPECT_EQ(accepted, c.accepted);
        EXPECT_EQ(record.events,
                  (std::vector<std::string>{"create", "regPowerCycle", "populate", "delete", "staging gone"}));
    }
    record = RollbackRecord();
    CNVMePCISSDUpdate update("");
    bool accepted = false;
    EXPECT_EQ(update.populateRollbackPartition(files, false, accepted), 0);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(record.events, (std::vector<std::string>{"create", "populate", "delete", "staging gone"}));
}

TEST_F(UpdateFrontEnd, WorkingDirectoryThatCannotChangeSkipsTheRollback)
{
    platform.failChdir = true;
    std::vector<std::string> files{exe.path() + "/payload/fw.bin"};
    CNVMePCISSDUpdate update("");
    bool accepted = false;
    EXPECT_EQ(update.populateRollbackPartition(files, true, accepted), -1);
    EXPECT_TRUE(record.events.empty());
    EXPECT_EQ(platform.chdirs, std::vector<std::string>{exe.path() + "/"});
    EXPECT_TRUE(logged("ERROR: SetCurrentDirectory failed: Unable to set current Directory"));
    EXPECT_FALSE(logged("Leaving CNVMePCISSDUpdate::populateRollPartition()"));
}

TEST_F(UpdateFrontEnd, UnusablePayloadFolderStopsBeforeAnyController)
{
    struct Case {
        const char* name;
        std::vector<std::string> files; // empty with makeFolder false: no folder
        bool makeFolder;
    } cases[] = {
        {"no folder", {}, false},
        {"empty folder", {}, true},
        {"two files", {"a.bin", "b.bin"}, true},
        {"hidden file beside the image", {"fw.bin", ".hidden"}, true},
    };
    auto zago = addZago("nvme0");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(exe.file("payload"));
        if (c.makeFolder)
            std::filesystem::create_directory(exe.file("payload"));
        for (const std::string& f : c.files)
            payload(f, "1234");
        run("result.xml");
        EXPECT_EQ(start.read("result.xml"), kPayloadError);
    }
    EXPECT_TRUE(host.openedPaths().empty());
    EXPECT_TRUE(zago->received().empty());
    EXPECT_TRUE(record.events.empty());
    EXPECT_TRUE(platform.chdirs.empty());
    EXPECT_TRUE(logged("getPayloadPath: Zero or more than one payload file found"));
    EXPECT_TRUE(logged("updateDevices(): Payload directory mismatch"));
}

TEST_F(UpdateFrontEnd, SubdirectoryAsTheOnlyEntryIsNotFlashed)
{
    auto zago = addZago("nvme0");
    std::filesystem::create_directories(exe.file("payload/fwdir"));
    run("result.xml");
    EXPECT_TRUE(zago->received(0x11).empty());
    EXPECT_TRUE(zago->received(0x10).empty());
    EXPECT_TRUE(record.events.empty());
    EXPECT_NE(start.read("result.xml").find("ERROR: Failed to Update Firmware"), std::string::npos);
}

TEST_F(UpdateFrontEnd, NoSupportedControllerGivesDeviceNotFound)
{
    struct Case {
        const char* name;
        bool package;
        bool controller;
    } cases[] = {{"no package.xml", false, true}, {"no controller", true, false}};
    payload("fw.bin", std::string(64, 'C'));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeNVMeHost localHost;
        auto zago = std::make_shared<ZagoControllerModel>();
        zago->setAdapterIds(0x1B4B, 0xA1F, 0x1028, 0x2151);
        if (c.controller)
            localHost.addController("nvme0", "0000:3b:00.0", zago, SysfsPciIds());
        if (c.package)
            start.write("package.xml", kPackage);
        else
            unlink(start.file("package.xml").c_str());
        run("result.xml");
        EXPECT_EQ(start.read("result.xml"), kDeviceNotFound);
        EXPECT_TRUE(zago->received(0x11).empty());
        EXPECT_TRUE(zago->received(0x10).empty());
    }
    EXPECT_TRUE(record.events.empty());
    EXPECT_TRUE(platform.chdirs.empty());
}

TEST_F(UpdateFrontEnd, EveryControllerFailingMeansNoRollback)
{
    auto zago = addZago("nvme0");
    zago->setStatus(0x10, 0x107);
    payload("fw.bin", std::string(64, 'D'));
    run("result.xml");
    EXPECT_TRUE(record.events.empty());
    EXPECT_TRUE(platform.chdirs.empty());
    EXPECT_NE(start.read("result.xml").find("ERROR: Invalid firmware image"), std::string::npos);
    EXPECT_TRUE(logged("updateDevices(): Update behind zagoAttached/cpuAttached = 0\n"));
    std::string text = log();
    size_t zero = text.find("zagoAttached/cpuAttached = 0");
    size_t leaving = text.find("Leaving CNVMePCISSDUpdate::UpdateDevices()");
    ASSERT_NE(leaving, std::string::npos);
    EXPECT_LT(zero, leaving);
    EXPECT_EQ(text.find("Rollback is mandatory now"), std::string::npos);
}

TEST_F(UpdateFrontEnd, ErrorMessagesByNumber)
{
    CNVMePCISSDUpdate update("");
    std::string message;
    update.mapErrorCodeToMessage(55, message);
    EXPECT_EQ(message, "Vantorial Controller is disabled on your system.");
    update.mapErrorCodeToMessage(56, message);
    EXPECT_EQ(message, "The firmware update failed");
}
