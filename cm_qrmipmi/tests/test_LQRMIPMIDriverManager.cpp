#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "LQRMIPMIDriverManager.h"
#include "IPMIHostFakes.h"
#include "SimIPMIDeviceAdapter.h"
#include "TempDir.h"

namespace {

const std::string kLsmsg = "lsmod  | grep ipmi_msghandler > /dev/null 2>&1 ";
const std::string kLsdev = "lsmod  | grep ipmi_devintf > /dev/null 2>&1 ";
const std::string kLssi = "lsmod  | grep ipmi_si > /dev/null 2>&1 ";
const std::string kModmsg = "modprobe ipmi_msghandler > /dev/null 2>&1 ";
const std::string kModdev = "modprobe ipmi_devintf > /dev/null 2>&1 ";
const std::string kModsi = "modprobe ipmi_si > /dev/null 2>&1 ";
const std::string kRmmsg = "rmmod ipmi_msghandler > /dev/null 2>&1 ";
const std::string kRmdev = "rmmod ipmi_devintf > /dev/null 2>&1 ";
const std::string kRmsi = "rmmod ipmi_si > /dev/null 2>&1 ";

class DriverManagerTest : public ::testing::Test {
protected:
    HostNamespace ns;
    TempDir dir;
    FakeModuleHost host;
    FakeHostGuard hostGuard{host, ns};
    SimIPMISleepRecorder sleeper;
    SimIPMISeamGuard sleepGuard{nullptr, &sleeper};
};

struct ModuleCase {
    const char* name;
    std::set<std::string> loaded;
    std::set<std::string> loadable;
    unsigned int result;
    std::vector<std::string> checkAndLoad;   // commands of IsIPMIDriverAvailable
    std::vector<std::string> release;        // commands of the destructor
};

TEST_F(DriverManagerTest, CommandsAndResultPerHostSituation)
{
    const std::set<std::string> all = {"ipmi_msghandler", "ipmi_devintf", "ipmi_si"};
    const std::vector<std::string> tests = {kLsmsg, kLsdev, kLssi};
    auto plus = [&](std::vector<std::string> more) {
        std::vector<std::string> v = tests;
        v.insert(v.end(), more.begin(), more.end());
        return v;
    };
    const ModuleCase cases[] = {
        {"all loaded", all, {}, 0, tests, {}},
        {"only si missing, load fails", {"ipmi_msghandler", "ipmi_devintf"}, {}, 0, plus({kModsi}), {kRmsi}},
        {"only si missing, loads", {"ipmi_msghandler", "ipmi_devintf"}, {"ipmi_si"}, 0, plus({kModsi}), {kRmsi}},
        {"all missing, none loads", {}, {}, 1, plus({kModmsg, kModdev, kModsi}), {kRmsi, kRmdev, kRmmsg}},
        {"all missing, all load", {}, all, 0, plus({kModmsg, kModdev, kModsi}), {kRmsi, kRmdev, kRmmsg}},
        {"all missing, one loads", {}, {"ipmi_devintf"}, 0, plus({kModmsg, kModdev, kModsi}), {kRmsi, kRmdev, kRmmsg}},
        {"two missing, none loads", {"ipmi_devintf"}, {}, 0, plus({kModmsg, kModsi}), {kRmsi, kRmmsg}},
    };
    for (const ModuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        host.loaded = c.loaded;
        host.loadable = c.loadable;
        host.commands.clear();
        sleeper.seconds.clear();
        {
            DriverManager manager;
            EXPECT_EQ(manager.IsIPMIDriverAvailable(), c.result);
            EXPECT_EQ(host.commands, c.checkAndLoad);
            host.commands.clear();
        }
        EXPECT_EQ(host.commands, c.release);
        // Each unload waits 3 seconds first.
        EXPECT_EQ(sleeper.seconds, std::vector<unsigned int>(c.release.size(), 3u));
    }
}

TEST_F(DriverManagerTest, ReadyManagerChecksNothingAgainAndReleasesOnce)
{
    host.loaded = {"ipmi_msghandler"};
    host.loadable = {"ipmi_devintf", "ipmi_si"};
    DriverManager manager;
    EXPECT_EQ(manager.IsIPMIDriverAvailable(), 0u);
    host.commands.clear();
    EXPECT_EQ(manager.IsIPMIDriverAvailable(), 0u);
    EXPECT_TRUE(host.commands.empty());

    EXPECT_EQ(manager.ReleaseIPMIDriver(), 0u);
    EXPECT_EQ(host.commands, (std::vector<std::string>{kRmsi, kRmdev}));
    host.commands.clear();
    EXPECT_EQ(manager.ReleaseIPMIDriver(), 0u);
    EXPECT_TRUE(host.commands.empty());
}

TEST_F(DriverManagerTest, VMkernelInAnyCaseSkipsEverything)
{
    for (const char* sysname : {"VMkernel", "vmkernel", "VMKERNEL", "vMkErNeL"}) {
        SCOPED_TRACE(sysname);
        FakeSysname() = sysname;
        host.commands.clear();
        {
            DriverManager manager;
            EXPECT_EQ(manager.IsIPMIDriverAvailable(), 0u);
            EXPECT_EQ(manager.LoadIPMIDriver(), 1u);   // would load all three...
            host.commands.clear();
        }
        // ...but an ESXi host never unloads.
        EXPECT_TRUE(host.commands.empty());
    }
}

TEST_F(DriverManagerTest, ESXReleaseFileSkipsChecks)
{
    ns.writeFile("/etc/vmware-release", "Welcome to VMware ESX 4.1\nsecond\n");
    DriverManager manager;
    EXPECT_EQ(manager.IsIPMIDriverAvailable(), 0u);
    EXPECT_TRUE(host.commands.empty());
}

TEST_F(DriverManagerTest, ESXTextOnSecondLineIsAnOrdinaryHost)
{
    ns.writeFile("/etc/vmware-release", "Some release\nVMware ESX 4.1\n");
    host.loaded = {"ipmi_msghandler", "ipmi_devintf", "ipmi_si"};
    DriverManager manager;
    EXPECT_EQ(manager.IsIPMIDriverAvailable(), 0u);
    EXPECT_EQ(host.commands.size(), 3u);
}

struct OsCase {
    const char* name;
    const char* releaseFile;   // null: no file
    const char* sysname;       // null: uname fails
    int code;
};

TEST_F(DriverManagerTest, OperatingSystemCodes)
{
    const OsCase cases[] = {
        {"plain Linux", nullptr, "Linux", 0},
        {"ESX first line", "VMware ESX Server 3\n", "Linux", 18},
        {"ESX after other words", "Release: VMware ESX 4.0 (Kandinsky)", "Linux", 18},
        {"ESX on second line", "Release\nVMware ESX 4.0\n", "Linux", 0},
        {"ESXi kernel", nullptr, "VMkernel", 19},
        {"ESXi overrides ESX", "VMware ESX\n", "vmkernel", 19},
        {"uname fails", nullptr, nullptr, 0},
        {"uname fails on ESX", "VMware ESX\n", nullptr, 18},
        {"other case of ESX text", "vmware esx\n", "Linux", 0},
    };
    for (const OsCase& c : cases) {
        SCOPED_TRACE(c.name);
        ns.remove("/etc/vmware-release");
        if (c.releaseFile)
            ns.writeFile("/etc/vmware-release", c.releaseFile);
        FakeUname uname;
        ScopedSeam<QRMUnameAccess> unameInstalled(uname);
        if (c.sysname)
            FakeSysname() = c.sysname;
        else
            uname.works = false;
        QRMEnvironmentInfo info;
        EXPECT_TRUE(info.Initialize());
        EXPECT_EQ(info.GetOSName(), c.code);
        EXPECT_EQ(info.GetOSArch(), 0);
        EXPECT_EQ(info.GetOSType(), 0);
        EXPECT_EQ(info.GetOSVendorName(), 0);
    }
}

TEST_F(DriverManagerTest, EnvironmentIsDetectedOnce)
{
    QRMEnvironmentInfo info;
    info.Initialize();
    QRMOperatingSystemVersion* first = info.GetOSVersion();
    FakeSysname() = "VMkernel";
    info.Initialize();
    EXPECT_EQ(info.GetOSVersion(), first);
    EXPECT_EQ(info.GetOSName(), 0);
}

TEST(QRMLXOperatingSystemVersionTest, VersionTexts)
{
    QRMLXOperatingSystemVersion version;
    EXPECT_EQ(version.GetVersion().GetUTF8String(), "0.0.0.0-");
    EXPECT_EQ(version.GetVendorVersion().GetUTF8String(), "6.5");
    EXPECT_EQ(version.mVendorVersion.GetUTF8String(), "6.5");
}

} // namespace
