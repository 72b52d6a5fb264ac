// udev rule install and uninstall and the HAL daemon, with the rule folders,
// the reload tools and the HAL init script at their real paths inside a
// private mount namespace. Copies and permission changes are answered by
// the recorded platform layer, which carries them out in the namespace.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "HostNamespace.h"
#include "KoltTestSupport.h"
#include "PlatformLayer.h"
#include "SecureTessa.h"
#include "SimPlatform.h"
#include "TempDir.h"

namespace {

using Commands = std::vector<std::string>;

const std::string kEtc = "/etc/udev/rules.d/";
const std::string kLib = "/lib/udev/rules.d/";
const std::string kRun = "/run/udev/rules.d/";
const std::string kUsb = "98-secupdusb.rules";
const std::string kKave = "00-secupd-kave.rules";
const std::string kReload = "/sbin/udevadm control --reload-rules > /dev/null 2>&1";
const std::string kHalStop = "/etc/init.d/haldaemon stop > /dev/null 2>&1";
const std::string kHalStart = "/etc/init.d/haldaemon start > /dev/null 2>&1";
const std::string kHalStatus = "/etc/init.d/haldaemon status";

std::string cp(const std::string& file, const std::string& dir) { return "cp -fH " + file + " " + dir + " > /dev/null 2>&1"; }
std::string chmod755(const std::string& file, const std::string& dir)
{
    return "chmod 755 " + dir + "/" + file + "  > /dev/null 2>&1";
}
Commands copies(const std::string& dir) { return {cp(kUsb, dir), chmod755(kUsb, dir), cp(kKave, dir), chmod755(kKave, dir)}; }
Commands operator+(Commands a, const Commands& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> words(const std::string& command)
{
    std::istringstream in(command);
    std::vector<std::string> out;
    std::string word;
    while (in >> word)
        out.push_back(word);
    return out;
}

bool exists(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

unsigned int modeOf(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

class Udev : public KoltClientTest {
protected:
    void SetUp() override
    {
        ns = std::make_unique<HostNamespace>();
        // The first folder stays removable, for hosts that lack it.
        ns->overlay("/etc");
        ns->remove(kEtc.substr(0, kEtc.size() - 1));
        ns->makeDirectory(kEtc.substr(0, kEtc.size() - 1));
        ns->emptyFolder(kLib.substr(0, kLib.size() - 1));
        ns->emptyFolder(kRun.substr(0, kRun.size() - 1));
        ns->putFile("/sbin/udevadm", "#!/bin/sh\nexit 0\n", 0755);
        ns->remove("/sbin/udevcontrol");
        ns->remove("/etc/init.d/haldaemon");

        work.write(kUsb, "usb rule\n");
        work.write(kKave, "kave rule\n");

        // cp: the rule file of the working directory lands in the folder.
        platform.answerPrefix("cp -fH ", [this](const std::string& command) {
            const std::vector<std::string> w = words(command);
            if (w.size() < 4 || !exists(w[2]) || failingCopies.count(w[3]) != 0)
                return 256;
            ns->writeFile(w[3] + w[2], readWholeFile(w[2]));
            return 0;
        });
        // chmod: the copied file must be where the command names it.
        platform.answerPrefix("chmod 755 ", [](const std::string& command) {
            const std::vector<std::string> w = words(command);
            return w.size() >= 3 && ::chmod(w[2].c_str(), 0755) == 0 ? 0 : 256;
        });
        platform.answer(kReload, 0);
        platform.answer(kHalStop, 0);
        platform.answer(kHalStart, 0);
        KoltClientTest::SetUp();
    }

    secureTessa& newClient(int hostOsIndex, bool halWasRunning = false)
    {
        secureTessa& tessa = KoltClientTest::newClient();
        tessa.hostOsIndex = hostOsIndex;
        tessa.halWasRunning = halWasRunning ? 1 : 0;
        return tessa;
    }

    Commands take() { return platform.take(); }
    std::vector<std::string> messages()
    {
        std::vector<std::string> out = log.messagesFrom("UdevHal.cpp");
        log.skipToEnd();
        return out;
    }

    std::set<std::string> failingCopies;
};

struct InstallCase {
    const char* name;
    int hostOsIndex;
    bool halWasRunning;
    Commands install;
    bool installed;
    std::vector<std::string> folders;  // where the rule files lie in between
    Commands uninstall;
};

void PrintTo(const InstallCase& c, std::ostream* out) { *out << c.name; }

const Commands kEverywhere = copies(kEtc) + Commands{kReload} + copies(kLib) + copies(kRun) + Commands{kReload};

const InstallCase kInstalls[] = {
    {"RedHat", REDHAT, false, copies(kEtc) + Commands{kReload, kReload}, true, {kEtc}, {kReload, kReload}},
    {"SuseWithHalRunning", SUSE, true, copies(kEtc) + Commands{kReload, kHalStop}, true, {kEtc}, {kReload, kHalStart}},
    {"SuseWithoutHal", SUSE, false, copies(kEtc) + Commands{kReload}, false, {kEtc}, {kReload}},
    {"CentOS", CENTOS, false, kEverywhere, false, {kEtc, kLib, kRun}, {kReload, kReload}},
    {"XenServer", XENSERVER, true, kEverywhere, false, {kEtc, kLib, kRun}, {kReload, kReload}},
    {"ESX", ESX, false, kEverywhere, false, {kEtc, kLib, kRun}, {kReload, kReload}},
    {"ESX4", ESX4, false, kEverywhere, false, {kEtc, kLib, kRun}, {kReload, kReload}},
    {"ESX41", ESX4_1, false, kEverywhere, false, {kEtc, kLib, kRun}, {kReload, kReload}},
    {"ESXi", ESXi, false, kEverywhere, false, {kEtc, kLib, kRun}, {kReload, kReload}},
    {"UVO", UVO, false, kEverywhere, false, {kEtc, kLib, kRun}, {kReload, kReload}},
    {"UVONew", UVO_NEW, false, kEverywhere, false, {kEtc, kLib, kRun}, {kReload, kReload}},
    {"Undetected", -1, false, kEverywhere, false, {kEtc, kLib, kRun}, {kReload, kReload}},
};

class UdevInstall : public Udev, public testing::WithParamInterface<InstallCase> {};

} // namespace

TEST_P(UdevInstall, CopiesReloadsAndRemovesPerHost)
{
    const InstallCase& host = GetParam();
    secureTessa& tessa = newClient(host.hostOsIndex, host.halWasRunning);

    EXPECT_EQ(tessa.udevhalInstall(), host.installed);
    EXPECT_EQ(take(), host.install);
    const std::vector<std::string> installLog = messages();
    ASSERT_FALSE(installLog.empty());
    EXPECT_EQ(installLog.back(), host.installed ? "Udev rule successfully Installed" : "Udev rule is not Installed");
    for (const std::string& dir : {kEtc, kLib, kRun}) {
        const bool wanted = std::find(host.folders.begin(), host.folders.end(), dir) != host.folders.end();
        EXPECT_EQ(exists(dir + kUsb), wanted) << dir;
        EXPECT_EQ(exists(dir + kKave), wanted) << dir;
        if (wanted) {
            EXPECT_EQ(readWholeFile(dir + kUsb), "usb rule\n");
            EXPECT_EQ(modeOf(dir + kKave), 0755u);
        }
    }

    EXPECT_TRUE(tessa.udevhalUninstall());
    EXPECT_EQ(take(), host.uninstall);
    const std::vector<std::string> uninstallLog = messages();
    ASSERT_FALSE(uninstallLog.empty());
    EXPECT_EQ(uninstallLog.back(), "Udev  successfully Uninstalled");
    for (const std::string& dir : {kEtc, kLib, kRun}) {
        EXPECT_FALSE(exists(dir + kUsb)) << dir;
        EXPECT_FALSE(exists(dir + kKave)) << dir;
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, UdevInstall, testing::ValuesIn(kInstalls),
                         [](const testing::TestParamInfo<InstallCase>& info) { return std::string(info.param.name); });

TEST_F(Udev, CopyAndPermissionCommandsAreLogged)
{
    secureTessa& tessa = newClient(REDHAT);
    EXPECT_TRUE(tessa.CopyFile(kUsb + " ", kEtc));
    EXPECT_EQ(take(), (Commands{cp(kUsb, kEtc), chmod755(kUsb, kEtc)}));
    EXPECT_EQ(messages(), (std::vector<std::string>{"cp -fH 98-secupdusb.rules /etc/udev/rules.d/ > /dev/null 2>&1",
                                                    "chmod 755 /etc/udev/rules.d//98-secupdusb.rules  > /dev/null 2>&1"}));
}

TEST_F(Udev, UninstallLeavesRuleFilesItDidNotPutThere)
{
    // A rule file already in place, and files in the other folders of a
    // Red Hat host, where the install never copies.
    ns->writeFile(kEtc + kUsb, "earlier rule\n");
    ns->writeFile(kLib + kUsb, "lib rule\n");
    ns->writeFile(kRun + kKave, "run rule\n");
    secureTessa& tessa = newClient(REDHAT);
    EXPECT_TRUE(tessa.udevhalInstall());
    EXPECT_TRUE(tessa.udevhalUninstall());

    EXPECT_TRUE(exists(kEtc + kUsb));
    EXPECT_FALSE(exists(kEtc + kKave));
    EXPECT_EQ(readWholeFile(kLib + kUsb), "lib rule\n");
    EXPECT_EQ(readWholeFile(kRun + kKave), "run rule\n");
}

TEST_F(Udev, UninstallLeavesEarlierFilesInEveryFolder)
{
    ns->writeFile(kLib + kKave, "lib rule\n");
    secureTessa& tessa = newClient(CENTOS);
    tessa.udevhalInstall();
    EXPECT_TRUE(tessa.udevhalUninstall());
    EXPECT_TRUE(exists(kLib + kKave));
    for (const std::string& path : {kEtc + kUsb, kEtc + kKave, kLib + kUsb, kRun + kUsb, kRun + kKave})
        EXPECT_FALSE(exists(path)) << path;
    // A second uninstall has nothing left to remove.
    ns->writeFile(kEtc + kUsb, "new rule\n");
    EXPECT_TRUE(tessa.udevhalUninstall());
    EXPECT_TRUE(exists(kEtc + kUsb));
}

TEST_F(Udev, FailedCopyIsAFailedInstall)
{
    std::filesystem::remove(work.file(kKave));
    secureTessa& tessa = newClient(REDHAT);
    EXPECT_FALSE(tessa.udevhalInstall());
    EXPECT_EQ(take(), (Commands{cp(kUsb, kEtc), chmod755(kUsb, kEtc), cp(kKave, kEtc), kReload, kReload}));
    const std::vector<std::string> log = messages();
    EXPECT_NE(std::find(log.begin(), log.end(), "CopyFile fdi file failed"), log.end());
    EXPECT_EQ(log.back(), "Udev rule is not Installed");

    EXPECT_FALSE(tessa.CopyFile(kKave + " ", kEtc));
    EXPECT_TRUE(tessa.udevhalUninstall());
    EXPECT_FALSE(exists(kEtc + kUsb));
}

TEST_F(Udev, CopyRefusedByTheFolderFailsTheInstall)
{
    failingCopies.insert(kEtc);
    secureTessa& tessa = newClient(SUSE, true);
    EXPECT_FALSE(tessa.udevhalInstall());
    EXPECT_EQ(take(), (Commands{cp(kUsb, kEtc), cp(kKave, kEtc), kReload, kHalStop}));
    const std::vector<std::string> log = messages();
    EXPECT_EQ(std::count(log.begin(), log.end(), "CopyFile fdi file failed"), 2);
    EXPECT_EQ(log.back(), "Udev rule is not Installed");
}

TEST_F(Udev, MissingRulesFolderIsLoggedAndTheReloadStillRuns)
{
    ns->remove(kEtc.substr(0, kEtc.size() - 1));
    secureTessa& tessa = newClient(REDHAT);
    EXPECT_FALSE(tessa.udevhalInstall());
    EXPECT_EQ(take(), (Commands{kReload, kReload}));
    const std::vector<std::string> log = messages();
    EXPECT_EQ(std::count(log.begin(), log.end(), "/etc/udev/rules.d/ Path does not exists"), 2);
    EXPECT_EQ(log.back(), "Udev rule is not Installed");
}

TEST_F(Udev, ReloadToolChoice)
{
    secureTessa& tessa = newClient(REDHAT);
    EXPECT_TRUE(tessa.RestartUdevRules());
    EXPECT_EQ(take(), Commands{kReload});
    EXPECT_EQ(messages(), (std::vector<std::string>{"secureTessa::RestartUdevRules()", kReload, "RestartUdevRules restarted "}));

    // udevadm wins over udevcontrol; udevcontrol alone is used.
    ns->putFile("/sbin/udevcontrol", "#!/bin/sh\n", 0755);
    EXPECT_TRUE(tessa.RestartUdevRules());
    EXPECT_EQ(take(), Commands{kReload});
    ns->remove("/sbin/udevadm");
    const std::string control = "/sbin/udevcontrol reload_rules > /dev/null 2>&1";
    platform.answer(control, 0);
    EXPECT_TRUE(tessa.RestartUdevRules());
    EXPECT_EQ(take(), Commands{control});
    messages();

    // Neither: nothing to run, an empty line, still true.
    ns->remove("/sbin/udevcontrol");
    EXPECT_TRUE(tessa.RestartUdevRules());
    EXPECT_EQ(take(), Commands{});
    EXPECT_EQ(messages(), (std::vector<std::string>{"secureTessa::RestartUdevRules()", ""}));
}

TEST_F(Udev, ShellThatCannotStart)
{
    platform.answer(kReload, -1);
    platform.answer(kHalStop, -1);
    platform.answer(kHalStart, -1);
    secureTessa& redhat = newClient(REDHAT);
    EXPECT_FALSE(redhat.RestartUdevRules());
    EXPECT_EQ(messages().back(), "failed RestartUdevRules");
    EXPECT_FALSE(redhat.udevhalInstall());
    redhat.udevhalUninstall();

    secureTessa& suse = newClient(SUSE, true);
    EXPECT_FALSE(suse.udevhalInstall());
    std::vector<std::string> log = messages();
    EXPECT_NE(std::find(log.begin(), log.end(), "failed to stop the haldaemon"), log.end());
    EXPECT_TRUE(suse.udevhalUninstall());
    log = messages();
    EXPECT_NE(std::find(log.begin(), log.end(), "failed to start the haldaemon"), log.end());
    EXPECT_EQ(log.back(), "Udev  successfully Uninstalled");
}

TEST_F(Udev, HalDaemonStartAndStop)
{
    secureTessa& tessa = newClient(SUSE);
    EXPECT_TRUE(tessa.StopHalDaemon());
    EXPECT_TRUE(tessa.StartHalDaemon());
    EXPECT_EQ(take(), (Commands{kHalStop, kHalStart}));
    EXPECT_EQ(messages(), (std::vector<std::string>{"stopped haldaemon", "started haldaemon"}));
}

namespace {

struct HalCase {
    const char* name;
    bool installed;
    unsigned int mode;
    std::string statusOutput;  // printed for "status" only
    bool running;
};

void PrintTo(const HalCase& c, std::ostream* out) { *out << c.name; }

const HalCase kHalCases[] = {
    {"NoInitScript", false, 0755, "haldaemon is running\n", false},
    {"InitScriptNotExecutable", true, 0644, "haldaemon is running\n", false},
    {"Running", true, 0755, "haldaemon (pid 812) is running...\n", true},
    {"NotRunning", true, 0755, "haldaemon is not running\n", false},
    {"Stopped", true, 0755, "haldaemon is stopped\n", false},
    {"NoOutput", true, 0755, "", false},
    {"RunningOnlyAfterAZeroByte", true, 0755, std::string("haldaemon\0 running\n", 19), false},
    {"RunningOnlyBeyondTheFirstKilobyte", true, 0755, std::string(1100, '.') + "running\n", false},
};

class HalStatus : public Udev, public testing::WithParamInterface<HalCase> {};

std::string octalEscaped(const std::string& text)
{
    std::string out;
    char buffer[8];
    for (unsigned char c : text) {
        std::snprintf(buffer, sizeof buffer, "\\%03o", c);
        out += buffer;
    }
    return out;
}

} // namespace

TEST_P(HalStatus, FromTheInitScriptsStatusOutput)
{
    const HalCase& hal = GetParam();
    if (hal.installed)
        ns->putFile("/etc/init.d/haldaemon",
                      "#!/bin/sh\n[ \"$*\" = status ] && printf '" + octalEscaped(hal.statusOutput) + "'\nexit 0\n",
                      hal.mode);
    // The script staged in the namespace answers for itself.
    platform.runInShell(kHalStatus);
    secureTessa& tessa = newClient(SUSE);
    EXPECT_EQ(tessa.IsHalDaemonRunning(), hal.running);
    std::vector<std::string> expected{"Inside secureTessa::IsHalDaemonRunning"};
    if (hal.running)
        expected.push_back("haldaemon is running");
    EXPECT_EQ(messages(), expected);
    const bool asked = hal.installed && (hal.mode & 0100) != 0;
    EXPECT_EQ(take(), asked ? Commands{kHalStatus} : Commands{});
}

INSTANTIATE_TEST_SUITE_P(Outputs, HalStatus, testing::ValuesIn(kHalCases),
                         [](const testing::TestParamInfo<HalCase>& info) { return std::string(info.param.name); });
