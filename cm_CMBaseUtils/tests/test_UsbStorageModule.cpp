// usb_storage module handling and ESX/ESXi detection of CLinuxImpl, run
// against a simulated host in the test's own mount namespace: the ESX
// release file and the kernel's modules.builtin are staged at their real
// paths, the built-in check really greps that file, and every other shell
// command is recorded and answered by a small model of the kernel's module
// state, never sent to a real shell.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "HostNamespace.h"
#include "LinuxImpl.h"
#include "Logger.h"
#include "PlatformLayer.h"
#include "ScopedSeam.h"
#include "SimPlatform.h"
#include "DebugLogMessages.h"
#include "TempDir.h"

namespace {

const std::string B = "grep -i \"usb[-_]storage.ko\" /lib/modules/$(uname -r)/modules.builtin  > /dev/null 2>&1";
const std::string L = "lsmod | grep usb_storage  > /dev/null 2>&1";
const std::string M = "modprobe usb_storage  > /dev/null 2>&1";
const std::string R = "rmmod usb_storage  > /dev/null 2>&1";
using Cmds = std::vector<std::string>;

const char* const kReleaseFile = "/etc/vmware-release";
const char* const kBuiltIn = "kernel/drivers/usb/core/usbcore.ko\nkernel/drivers/usb/storage/usb-storage.ko\n";
const char* const kNotBuiltIn = "kernel/drivers/usb/core/usbcore.ko\nkernel/drivers/usb/host/xhci-hcd.ko\n";

// The loadable module's state as lsmod, modprobe and rmmod see it; the
// kernel name comes from the simulated uname().
class SimulatedHost : public SimPlatform {
public:
    bool loaded = false;
    bool modprobeWorks = true;
    bool listedAfterModprobe = true;
    int rmmodFailures = 0;

    SimulatedHost()
    {
        // Reads the modules.builtin staged in the test's namespace.
        runInShell(B);
        answer(L, [this](const std::string&) { return loaded ? 0 : 256; });
        answer(M, [this](const std::string&) {
            if (!modprobeWorks)
                return 256;
            loaded = listedAfterModprobe;
            return 0;
        });
        answer(R, [this](const std::string&) {
            if (rmmodFailures > 0) {
                --rmmodFailures;
                return 256;
            }
            loaded = false;
            return 0;
        });
    }
};

std::string modulesBuiltinPath()
{
    struct utsname name;
    if (uname(&name) != 0)
        return std::string();
    return std::string("/lib/modules/") + name.release + "/modules.builtin";
}

size_t countOf(const std::vector<std::string>& lines, const std::string& text)
{
    size_t n = 0;
    for (const std::string& l : lines)
        n += (l == text);
    return n;
}

class UsbStorageModule : public ::testing::Test {
protected:
    void SetUp() override
    {
        CLinuxImpl::bUSBDriverNotLoaded = false;
        CLinuxImpl::bUSBDriverLoadedByZOR = false;
        CLinuxImpl::bUSBBlocklistCheckDone = false;
        ASSERT_TRUE(CLogger::GetInstance()->Initialize("debug.log"));
        ASSERT_FALSE(builtinFile.empty());
        ns.overlay("/etc");
        ns.overlay(builtinFile.substr(0, builtinFile.rfind('/')));
        noReleaseFile();
        builtIn(false);
    }
    void noReleaseFile() { ns.remove(kReleaseFile); }
    void releaseFile(const std::string& content)
    {
        ns.remove(kReleaseFile);
        ns.writeFile(kReleaseFile, content);
    }
    // Present, but yields no line.
    void unreadableReleaseFile()
    {
        ns.remove(kReleaseFile);
        ns.makeDirectory(kReleaseFile);
    }
    void builtIn(bool yes) { ns.writeFile(builtinFile, yes ? kBuiltIn : kNotBuiltIn); }
    static void expectFlags(bool checkDone, bool loadedByUs, bool notLoaded)
    {
        EXPECT_EQ(CLinuxImpl::bUSBBlocklistCheckDone, checkDone);
        EXPECT_EQ(CLinuxImpl::bUSBDriverLoadedByZOR, loadedByUs);
        EXPECT_EQ(CLinuxImpl::bUSBDriverNotLoaded, notLoaded);
    }
    HostNamespace ns;
    TempDir dir;
    const std::string builtinFile = modulesBuiltinPath();
};

struct HostCase {
    const char* name;
    // host
    bool unameWorks;
    const char* kernelName;
    bool releaseFile;
    const char* releaseLine;
    bool builtIn;
    bool loaded;
    bool modprobeWorks;
    bool listedAfterModprobe;
    // expected
    Cmds firstCommands;
    bool firstAnswer;
    Cmds secondCommands;
    bool secondAnswer;
    Cmds unloadCommands;
    bool moduleLoadedAtEnd;
};

} // namespace

TEST_F(UsbStorageModule, ShellCommandsPerHostSituation)
{
    const std::vector<HostCase> cases = {
        // name                    uname  kernel      release file / first line            builtIn loaded probe listed
        {"ESXi",                   true,  "VMkernel", false, "",                           false, false, true,  true,
         {}, false, {}, false, {}, false},
        {"ESXi, other case",       true,  "vmKERNEL", true,  "VMware ESX 4.1",             false, false, true,  true,
         {}, false, {}, false, {}, false},
        {"ESX 3",                  true,  "Linux",    true,  "VMware ESX Server 3 (Dali)", false, false, true,  true,
         {}, false, {}, false, {}, false},
        {"ESX 4.1",                true,  "Linux",    true,  "vmWARE esx 4.1.0 build-260247", false, false, true, true,
         {}, false, {}, false, {}, false},
        {"ESX 4",                  true,  "Linux",    true,  "VMware ESX 4.0 (Kandinsky)", false, false, true,  true,
         {}, false, {}, false, {}, false},
        {"built into kernel",      true,  "Linux",    false, "",                           true,  false, true,  true,
         {B}, false, {B}, false, {}, false},
        {"already loaded",         true,  "Linux",    false, "",                           false, true,  true,  true,
         {B, L}, false, {B}, false, {}, true},
        {"loaded by us",           true,  "Linux",    false, "",                           false, false, true,  true,
         {B, L, M, L}, false, {B}, false, {R}, false},
        {"block-listed",           true,  "Linux",    false, "",                           false, false, false, true,
         {B, L, M}, true, {B}, true, {}, false},
        {"probe ok, not listed",   true,  "Linux",    false, "",                           false, false, true,  false,
         {B, L, M, L}, true, {B}, true, {}, false},
        {"unknown VMware release", true,  "Linux",    true,  "VMware Workstation 6",       false, false, true,  true,
         {B, L, M, L}, false, {B}, false, {R}, false},
        {"uname fails",            false, "",         false, "",                           false, true,  true,  true,
         {B, L}, false, {B}, false, {}, true},
    };
    for (const HostCase& c : cases) {
        SCOPED_TRACE(c.name);
        CLinuxImpl::bUSBDriverNotLoaded = CLinuxImpl::bUSBDriverLoadedByZOR = CLinuxImpl::bUSBBlocklistCheckDone = false;
        SimulatedHost host;
        host.unameWorks = c.unameWorks;
        host.kernelName = c.kernelName;
        if (c.releaseFile)
            releaseFile(std::string(c.releaseLine) + "\n");
        else
            noReleaseFile();
        builtIn(c.builtIn);
        host.loaded = c.loaded;
        host.modprobeWorks = c.modprobeWorks;
        host.listedAfterModprobe = c.listedAfterModprobe;

        EXPECT_EQ(host.isUSBblocklisted(), c.firstAnswer);
        EXPECT_EQ(host.take(), c.firstCommands);
        EXPECT_EQ(host.isUSBblocklisted(), c.secondAnswer);
        EXPECT_EQ(host.take(), c.secondCommands);
        host.unloadUSB();
        EXPECT_EQ(host.take(), c.unloadCommands);
        EXPECT_EQ(host.loaded, c.moduleLoadedAtEnd);
        EXPECT_TRUE(host.sleeps.empty());
        expectFlags(false, false, false);
    }
}

TEST_F(UsbStorageModule, FlagsFollowTheStateCycle)
{
    SimulatedHost host;
    host.loaded = true;
    host.isUSBblocklisted();
    expectFlags(true, false, false); // Present

    host.unloadUSB();
    host.loaded = false;
    host.isUSBblocklisted();
    expectFlags(true, true, false); // Loaded by this run

    host.unloadUSB();
    host.modprobeWorks = false;
    host.isUSBblocklisted();
    expectFlags(true, false, true); // Not loadable

    host.unloadUSB();
    expectFlags(false, false, false);
}

TEST_F(UsbStorageModule, SkippedHostsLeaveTheFlagsUntouched)
{
    SimulatedHost host;
    host.kernelName = "VMkernel";
    releaseFile("VMware ESX 4.1\n");
    CLinuxImpl::bUSBDriverNotLoaded = true;
    CLinuxImpl::bUSBBlocklistCheckDone = true;
    EXPECT_FALSE(host.isUSBblocklisted());
    expectFlags(true, false, true);
    // On ESXi the ESX release file is not read at all: reading it always
    // logs a verdict.
    for (const std::string& message : logMessages(dir))
        EXPECT_EQ(message.find("getLinuxOSVer"), std::string::npos) << message;

    noReleaseFile();
    builtIn(true);
    SimulatedHost builtInHost;
    EXPECT_FALSE(builtInHost.isUSBblocklisted());
    EXPECT_EQ(builtInHost.commands, (Cmds{B}));
    expectFlags(true, false, true);
}

TEST_F(UsbStorageModule, EsxiLogsOnlyStartAndSkipping)
{
    SimulatedHost host;
    host.kernelName = "VMkernel";
    EXPECT_FALSE(host.isUSBblocklisted());
    EXPECT_EQ(logMessages(dir), (std::vector<std::string>{" CLinuxImpl::isUSBblocklisted Start",
                                                          " CLinuxImpl::Skipping USB blocklisting check for ESXi and ESX"}));
    EXPECT_TRUE(host.commands.empty());
}

TEST_F(UsbStorageModule, EsxReleaseLinesAndTheirLogLines)
{
    struct Case {
        bool exists;
        const char* line;
        bool esx;
        const char* logLine; // nullptr: nothing logged
    };
    const std::vector<Case> cases = {
        {false, "", false, nullptr},
        {true, "VMware ESX Server 3 (Dali)", true, "getLinuxOSVer: ESX 3 Found"},
        {true, "VMWARE ESX 4.1 (Kandinsky)", true, "getLinuxOSVer: ESX 4 Found"},
        {true, "VMware ESX 4.0", true, "getLinuxOSVer: ESX 4 Found"},
        {true, "VMware ESXi 5", false, "getLinuxOSVer: Unrecognized VMWare Found"},
        {true, "", false, "getLinuxOSVer: Unrecognized VMWare Found"}, // present but unreadable
    };
    size_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        SimulatedHost host;
        if (!c.exists)
            noReleaseFile();
        else if (*c.line == '\0')
            unreadableReleaseFile();
        else
            releaseFile(std::string(c.line) + "\n");
        EXPECT_EQ(host.isESXSystem(), c.esx);
        std::vector<std::string> messages = logMessages(dir);
        ASSERT_EQ(messages.size(), seen + (c.logLine ? 1 : 0));
        if (c.logLine) {
            EXPECT_EQ(messages.back(), c.logLine);
        }
        seen = messages.size();
        EXPECT_TRUE(host.commands.empty());
    }
}

TEST_F(UsbStorageModule, EsxiDetectionComparesKernelNameIgnoringCase)
{
    struct Case {
        bool works;
        const char* name;
        bool esxi;
    };
    for (const Case& c : std::vector<Case>{{true, "VMkernel", true},
                                           {true, "vmkernel", true},
                                           {true, "VMKERNEL", true},
                                           {true, "VMkernel2", false},
                                           {true, "Linux", false},
                                           {false, "VMkernel", false}}) {
        SimulatedHost host;
        host.unameWorks = c.works;
        host.kernelName = c.name;
        EXPECT_EQ(host.isESXiSystem(), c.esxi) << c.name << " works=" << c.works;
    }
    EXPECT_TRUE(logMessages(dir).empty());
}

TEST_F(UsbStorageModule, BuiltInTestLogLines)
{
    SimulatedHost host;
    builtIn(true);
    EXPECT_TRUE(host.isUSBStorageStaticallyLinked());
    builtIn(false);
    EXPECT_FALSE(host.isUSBStorageStaticallyLinked());
    EXPECT_EQ(host.commands, (Cmds{B, B}));
    EXPECT_EQ(logMessages(dir),
              (std::vector<std::string>{" CLinuxImpl::isUSBStorageStaticallyLinked Start",
                                        "CLinuxImpl::isUSBStorageStaticallyLinked usb_storage is built with kernel",
                                        " CLinuxImpl::isUSBStorageStaticallyLinked Start",
                                        " CLinuxImpl::isUSBStorageStaticallyLinked End"}));
}

TEST_F(UsbStorageModule, LoadedByUsLogsAndUnloads)
{
    SimulatedHost host;
    EXPECT_FALSE(host.isUSBblocklisted());
    EXPECT_FALSE(host.isUSBblocklisted());
    host.unloadUSB();
    EXPECT_EQ(logMessages(dir),
              (std::vector<std::string>{
                  " CLinuxImpl::isUSBblocklisted Start",
                  " CLinuxImpl::isUSBStorageStaticallyLinked Start",
                  " CLinuxImpl::isUSBStorageStaticallyLinked End",
                  " CLinuxImpl::isUSBblocklisted check is being done for the first time.",
                  "CLinuxImpl::isUSBblocklisted loading usb_storage module is successful.",
                  " CLinuxImpl::isUSBblocklisted End",
                  " CLinuxImpl::isUSBblocklisted Start",
                  " CLinuxImpl::isUSBStorageStaticallyLinked Start",
                  " CLinuxImpl::isUSBStorageStaticallyLinked End",
                  " CLinuxImpl::isUSBblocklisted check has already been performed earlier.",
                  " CLinuxImpl::isUSBblocklisted End",
                  " CLinuxImpl::unloadUSB Start",
                  " CLinuxImpl::unloadUSB usb module need be unloaded",
                  "CLinuxImpl::unloadUSB unloading usb module is successful.",
                  " CLinuxImpl::unloadUSB End",
              }));
}

TEST_F(UsbStorageModule, PresentModuleAndFailedLoadLogLines)
{
    SimulatedHost present;
    present.loaded = true;
    present.isUSBblocklisted();
    present.unloadUSB();

    SimulatedHost blocked;
    blocked.modprobeWorks = false;
    blocked.isUSBblocklisted();

    std::vector<std::string> messages = logMessages(dir);
    EXPECT_EQ(countOf(messages, "CLinuxImpl::isUSBblocklisted usb_storage module is already present."), 1u);
    EXPECT_EQ(countOf(messages, " CLinuxImpl::unloadUSB is not required."), 1u);
    EXPECT_EQ(countOf(messages, "CLinuxImpl::isUSBblocklisted usb_storage module is not loaded. Attempt to load it was "
                                "unsuccessful."),
              1u);
}

TEST_F(UsbStorageModule, BuiltInKernelLogsOnlyBuiltWithKernelAndNeedsNoUnload)
{
    SimulatedHost host;
    builtIn(true);
    EXPECT_FALSE(host.isUSBblocklisted());
    host.unloadUSB();
    EXPECT_EQ(logMessages(dir), (std::vector<std::string>{
                                    " CLinuxImpl::isUSBblocklisted Start",
                                    " CLinuxImpl::isUSBStorageStaticallyLinked Start",
                                    "CLinuxImpl::isUSBStorageStaticallyLinked usb_storage is built with kernel",
                                    " CLinuxImpl::unloadUSB Start",
                                    " CLinuxImpl::unloadUSB is not required.",
                                    " CLinuxImpl::unloadUSB End",
                                }));
}

TEST_F(UsbStorageModule, RemovalSucceedsOnThirdAttempt)
{
    SimulatedHost host;
    host.isUSBblocklisted();
    host.take();
    host.rmmodFailures = 2;
    host.unloadUSB();
    EXPECT_EQ(host.commands, (Cmds{R, R, R}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{1, 1}));
    std::vector<std::string> messages = logMessages(dir);
    ASSERT_GE(messages.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(messages.end() - 5, messages.end()),
              (std::vector<std::string>{" CLinuxImpl::unloadUSB usb module need be unloaded",
                                        "CLinuxImpl::unloadUSB unloading usb module is not successful.",
                                        "CLinuxImpl::unloadUSB unloading usb module is not successful.",
                                        "CLinuxImpl::unloadUSB unloading usb module is successful.",
                                        " CLinuxImpl::unloadUSB End"}));
    expectFlags(false, false, false);
}

TEST_F(UsbStorageModule, RemovalGivesUpAfter59AttemptsAndForgetsAnyway)
{
    SimulatedHost host;
    host.isUSBblocklisted();
    host.take();
    host.rmmodFailures = 1000;
    host.unloadUSB();
    EXPECT_EQ(host.commands, Cmds(59, R));
    EXPECT_EQ(host.sleeps, std::vector<int>(59, 1));
    EXPECT_TRUE(host.loaded);
    EXPECT_EQ(countOf(logMessages(dir), "CLinuxImpl::unloadUSB unloading usb module is not successful."), 59u);
    expectFlags(false, false, false);
}

TEST_F(UsbStorageModule, BlockListedStaysTrueUntilUnloadThenProbesAgain)
{
    SimulatedHost host;
    host.modprobeWorks = false;
    EXPECT_TRUE(host.isUSBblocklisted());
    EXPECT_TRUE(host.isUSBblocklisted());
    EXPECT_TRUE(host.isUSBblocklisted());
    EXPECT_EQ(host.take(), (Cmds{B, L, M, B, B}));
    host.unloadUSB();
    EXPECT_TRUE(host.take().empty());
    host.modprobeWorks = true;
    EXPECT_FALSE(host.isUSBblocklisted());
    EXPECT_EQ(host.take(), (Cmds{B, L, M, L}));
    EXPECT_TRUE(CLinuxImpl::bUSBDriverLoadedByZOR);
}

TEST_F(UsbStorageModule, UnloadWithoutCheckIsNotRequired)
{
    SimulatedHost host;
    host.unloadUSB();
    EXPECT_TRUE(host.commands.empty());
    EXPECT_EQ(logMessages(dir), (std::vector<std::string>{" CLinuxImpl::unloadUSB Start",
                                                          " CLinuxImpl::unloadUSB is not required.",
                                                          " CLinuxImpl::unloadUSB End"}));
}

TEST_F(UsbStorageModule, FacadeReachesTheInstalledImplementation)
{
    SimulatedHost host;
    host.modprobeWorks = false;
    {
        ScopedSeam<CPlatformLayer> installed(&host);
        EXPECT_TRUE(CPlatformLayer::isUSBblocklisted());
        CPlatformLayer::unloadUSB();
    }
    EXPECT_EQ(host.commands, (Cmds{B, L, M}));
    expectFlags(false, false, false);
}

// The real release file at its real path: only its first line counts, and
// of that at most 1023 characters.
TEST_F(UsbStorageModule, ReleaseFileReaderSeesOnlyTheFirstLine)
{
    SimulatedHost host;
    struct Case {
        const char* name;
        std::string content; // "<missing>": no file
        bool esx;
        const char* logLine; // nullptr: nothing logged
    };
    const std::string esx4 = "vmware esx 4";
    const std::vector<Case> cases = {
        {"missing", "<missing>", false, nullptr},
        {"ESX on the second line", "Some other product\nVMware ESX 4.1\n", false,
         "getLinuxOSVer: Unrecognized VMWare Found"},
        {"ESX 4.1", "VMware ESX 4.1 (Kandinsky)\n", true, "getLinuxOSVer: ESX 4 Found"},
        {"no newline at the end", "VMware ESX Server 3", true, "getLinuxOSVer: ESX 3 Found"},
        {"ends at character 1023", std::string(1023 - esx4.size(), 'x') + esx4 + "\n", true,
         "getLinuxOSVer: ESX 4 Found"},
        {"ends at character 1024", std::string(1024 - esx4.size(), 'x') + esx4 + "\n", false,
         "getLinuxOSVer: Unrecognized VMWare Found"},
        {"overlong", std::string(2000, 'x') + " vmware esx 4\n", false, "getLinuxOSVer: Unrecognized VMWare Found"},
        {"empty", "", false, "getLinuxOSVer: Unrecognized VMWare Found"},
    };
    size_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.content == "<missing>")
            noReleaseFile();
        else
            releaseFile(c.content);
        EXPECT_EQ(host.isESXSystem(), c.esx);
        std::vector<std::string> messages = logMessages(dir);
        ASSERT_EQ(messages.size(), seen + (c.logLine ? 1 : 0));
        if (c.logLine) {
            EXPECT_EQ(messages.back(), c.logLine);
        }
        seen = messages.size();
    }

    // A folder exists but yields no line.
    unreadableReleaseFile();
    EXPECT_FALSE(host.isESXSystem());
    EXPECT_EQ(logMessages(dir).back(), "getLinuxOSVer: Unrecognized VMWare Found");
    EXPECT_TRUE(host.commands.empty());
}

// The built-in check greps the running kernel's modules.builtin for either
// spelling of the module, in any case.
TEST_F(UsbStorageModule, BuiltInCheckReadsTheKernelsModulesList)
{
    struct Case {
        const char* name;
        const char* content; // nullptr: no file
        bool builtIn;
    };
    const std::vector<Case> cases = {
        {"usb-storage listed", "kernel/drivers/usb/storage/usb-storage.ko\n", true},
        {"usb_storage listed", "kernel/drivers/usb/storage/usb_storage.ko\n", true},
        {"upper case", "kernel/drivers/usb/storage/USB-Storage.ko\n", true},
        {"among others", kBuiltIn, true},
        {"other modules only", kNotBuiltIn, false},
        {"only a usb-storage sub-driver", "kernel/drivers/usb/storage/ums-realtek.ko\n", false},
        {"empty list", "", false},
        {"no list", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.content)
            ns.writeFile(builtinFile, c.content);
        else
            ns.remove(builtinFile);
        SimulatedHost host;
        EXPECT_EQ(host.isUSBStorageStaticallyLinked(), c.builtIn);
        EXPECT_EQ(host.commands, (Cmds{B}));
    }
}
