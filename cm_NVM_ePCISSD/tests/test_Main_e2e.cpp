// The built program's command line, exit status and debug log, seen from
// outside, on an emulated host without controllers.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "EmulatedNVMeHost.h"
#include "NVMeControllerModel.h"
#include "TempDir.h"

namespace {

const std::string kProgram = NVMEPCISSD_EXECUTABLE;

const std::string kUsage =
    "\nUsage: -h\n\tProvides detailed help information\n\nUsage: -i [-o <output filename>] [-debug]\n"
    "\tProvides inventory information of all identified devices.\n\t-o Specifies the output filename.\n"
    "\t-d Specifies to create a debug log file.\n\n"
    "Usage: -u [-s <image folder>] [-f] [-o <output filename>] [-debug [filename]]\n" +
    std::string(75, '=') + "\n";

const std::string kEmptyInventory =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SVMInventory lang=\"en\"></SVMInventory>";

const char* const kMarker = "zordebuglog";

struct MainCase {
    const char* name;
    std::vector<std::string> args;
    bool markerBefore;
    int exitStatus;
    std::string expectedOut;  // "*" when the run's own output is not the point
    std::string logFile;      // the debug log that must appear, "" for none
    bool markerAfter;
};

const MainCase kCases[] = {
    {"NoArgument", {}, false, 1, kUsage, "", false},
    {"Help", {"-h"}, false, 0, kUsage, "", false},
    {"OutputAsLastWord", {"-i", "-o"}, false, 1, kUsage, "", false},
    {"UnknownWord", {"-x"}, false, 1, kUsage, "", false},
    {"OutputSwallowsInventory", {"-o", "-i"}, false, 0, "", "", false},
    {"InventoryThenHelpRunsInventory", {"-i", "-h"}, false, 0, kUsage + kEmptyInventory, "", false},
    {"ForceAloneRunsNothing", {"-f"}, false, 0, "", "", false},
    {"VerifyAloneRunsNothing", {"-v"}, false, 0, "", "", false},
    {"DebugAloneCreatesMarkerOnly", {"-d"}, false, 0, "", "", true},
    {"InventoryDebugWithName", {"-i", "-d", "my.log"}, false, 0, kEmptyInventory, "my.log", true},
    {"InventoryDebugDefaultName", {"-i", "-d"}, false, 0, kEmptyInventory, "debug_inv.log", true},
    {"UpdateDebugDefaultName", {"-u", "-d"}, false, 0, "*", "debug_update.log", true},
    {"MarkerWithBothRuns", {"-i", "-u"}, true, 0, "*", "debug_update.log", true},
    {"MarkerWithInventory", {"-i"}, true, 0, kEmptyInventory, "debug_inv.log", true},
    {"NoMarkerNoLog", {"-i"}, false, 0, kEmptyInventory, "", false},
};

// "[YYYY-MM-DDTHH:MM:SS] : " + name right-aligned in 25 + ":" + line
// right-aligned in 5 + ": ".
bool hasLogLayout(const std::string& line)
{
    const std::string shape = "[dddd-dd-ddTdd:dd:dd] : ";
    if (line.size() < shape.size() + 25 + 1 + 5 + 2)
        return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        bool ok = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == shape[i];
        if (!ok)
            return false;
    }
    const size_t nameEnd = line.find(':', shape.size());
    if (nameEnd == std::string::npos || nameEnd < shape.size() + 25)
        return false;
    const std::string numberField = line.substr(nameEnd + 1, 5);
    if (numberField.size() != 5 || !std::isdigit(static_cast<unsigned char>(numberField[4])))
        return false;
    return line.compare(nameEnd + 6, 2, ": ") == 0;
}

class MainE2E : public testing::TestWithParam<MainCase> {};

} // namespace

TEST_P(MainE2E, CommandLine)
{
    const MainCase& c = GetParam();
    TempDir dir(false);
    EmulatedNVMeHost host;
    if (c.markerBefore)
        dir.write(kMarker, "");

    EmulatedRun run = host.run(kProgram, c.args, dir.path());

    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.err;
    if (c.expectedOut != "*") {
        EXPECT_EQ(run.out, c.expectedOut);
    }
    EXPECT_EQ(dir.exists(kMarker), c.markerAfter);
    if (c.markerAfter) {
        EXPECT_EQ(dir.read(kMarker), "");
    }

    for (const char* log : {"debug.log", "debug_inv.log", "debug_update.log", "my.log"}) {
        if (c.logFile == log)
            continue;
        EXPECT_FALSE(dir.exists(log)) << log;
    }
    if (!c.logFile.empty()) {
        ASSERT_TRUE(dir.exists(c.logFile));
        std::istringstream lines(dir.read(c.logFile));
        std::string line;
        int count = 0;
        while (std::getline(lines, line)) {
            ++count;
            EXPECT_TRUE(hasLogLayout(line)) << line;
        }
        EXPECT_GT(count, 0);
        EXPECT_NE(dir.read(c.logFile).find("     NVMePCISSDMain:"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MainE2E, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<MainCase>& info) { return info.param.name; });

// "-d" read before the run word leaves main without a log name; the marker it
// created makes the first package reader (one per listed controller) open
// "baseutils.log" instead.
TEST(MainE2EDebugBeforeRun, PackageReaderLogTakesOver)
{
    TempDir dir(false);
    EmulatedNVMeHost host;
    auto model = std::make_shared<ZagoControllerModel>();
    model->setAdapterIds(0x1bd4, 0x2a3c, 0x1028, 0x1d6b);
    model->setIdentify("ZS1", "ZAGO BOSS-N1", "0.0.0", 0x41);
    EmulatedController controller;
    controller.name = "nvme0";
    controller.pciAddress = "0000:3b:00.0";
    controller.sysfsIds = {0x1bd4, 0x2a3c, 0x1028, 0x1d6b};
    controller.model = model;
    host.addController(controller);

    EmulatedRun run = host.run(kProgram, {"-d", "-i"}, dir.path());

    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_TRUE(dir.exists(kMarker));
    EXPECT_FALSE(dir.exists("debug_inv.log"));
    EXPECT_FALSE(dir.exists("debug.log"));
    ASSERT_TRUE(dir.exists("baseutils.log"));
    EXPECT_NE(dir.read("baseutils.log").find("SoftwareComponentInfo:"), std::string::npos);
}

namespace {

// Message parts (after "<stamp> : <name>:<line>: ") of the lines whose name
// field is one of the run-sequence units.
std::vector<std::string> runSequenceMessages(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        for (const char* unit : {" NVMePCISSDMain:", " NVMePCISSDInventory:", " NVMECommonUtils:"}) {
            std::string::size_type name = line.find(unit);
            if (name == std::string::npos)
                continue;
            std::string::size_type sep = line.find(": ", name + std::string(unit).size());
            out.push_back(sep == std::string::npos ? line : line.substr(sep + 2));
        }
    }
    return out;
}

} // namespace

// The order of main's steps, seen through its log: log opened first, the
// inventory front end built, run and destroyed, its document written to the
// -o file.
TEST(MainE2ERunSequence, InventoryRunLogsEachStepInOrder)
{
    TempDir dir(false);
    EmulatedNVMeHost host;

    EmulatedRun run = host.run(kProgram, {"-i", "-o", "out.xml", "-d", "run.log"}, dir.path());

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(dir.read("out.xml"), kEmptyInventory);
    ASSERT_TRUE(dir.exists("run.log"));
    EXPECT_EQ(runSequenceMessages(dir.read("run.log")),
              (std::vector<std::string>{
                  "Logger initialized",
                  "Output file name =out.xml",
                  "Entering CNVMePCISSDInventory::CNVMePCISSDInventory()",
                  "Leaving CNVMePCISSDInventory::CNVMePCISSDInventory()",
                  "Before CNVMePCISSDInventory.Inventory ",
                  "Entering CNVMePCISSDInventory :: GetInventory()",
                  "Entering CNVMePCISSDInventory::getDeviceInventory()",
                  "Leaving CNVMePCISSDInventory::GetDeviceInventory()",
                  "Entering NVMECommonUtils::generateXML()",
                  "INFO: Successfully created XML file for update.",
                  "WARNING: deviceInfo is empty. There seems to be no NVMe PCISSD disk ??",
                  "Leaving NVMECommonUtils::generateXML()",
                  "Leaving CNVMePCISSDInventory::GetInventory()",
                  "After CNVMePCISSDInventory.Inventory ",
                  "Entering CNVMePCISSDInventory::~CNVMePCISSDInventory()",
                  "Leaving CNVMePCISSDInventory::~CNVMePCISSDInventory()",
              }));
}

// The shell commands the run starts (here the node listing, with the debug
// log open) inherit none of its files. A stand-in `ls` found first on PATH
// records what it was handed.
TEST(MainE2EShellCommands, InheritNoDescriptorOfTheRun)
{
    TempDir dir(false);
    TempDir tools(false);
    const std::string record = tools.file("inherited");
    tools.write("ls", "#!/bin/sh\nfor fd in /proc/$$/fd/*; do readlink \"$fd\"; done >> '" + record + "'\n");
    ASSERT_EQ(chmod(tools.file("ls").c_str(), 0755), 0);
    dir.write("package.xml", "<SoftwareComponent/>");
    EmulatedNVMeHost host;

    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", (tools.path() + ":" + path).c_str(), 1);
    EmulatedRun run = host.run(kProgram, {"-i", "-o", "out.xml", "-d", "run.log"}, dir.path());
    setenv("PATH", path.c_str(), 1);

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    ASSERT_TRUE(tools.exists("inherited")) << "the listing did not run the stand-in";
    std::string inherited = tools.read("inherited");
    EXPECT_FALSE(inherited.empty());
    EXPECT_EQ(inherited.find(dir.path()), std::string::npos) << inherited;
}
