#include "SecureTessa.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "LinuxUtils.h"

const std::string RHatUdevLibDir = "/etc/udev/rules.d/";
const std::string AltUdevLibDir1 = "/lib/udev/rules.d/";
const std::string AltUdevLibDir2 = "/run/udev/rules.d/";

const std::string StatSecTesDev = "/dev/sectesupd-";
const std::string RHatPartDir = "/tmp/";

const std::string RedHatRel = "/etc/redhat-release";
const std::string SuseRel = "/etc/SuSE-release";
const std::string ESXRel = "/etc/vmware-release";
const std::string RVXRel = "/VERSION";
const std::string PNBRel = "/VER_INFO";
const std::string NewPNBRel = "/rvx-version";

namespace {

// Each rule file: the name handed to the copy (its trailing blank separates
// it from the folder in the command) and the name it has in the folder.
struct RuleFile {
    const char* copyName;
    const char* installedName;
};
const RuleFile kRuleFiles[] = {
    {"98-secupdusb.rules ", "98-secupdusb.rules"},
    {"00-secupd-kave.rules ", "00-secupd-kave.rules"},
};

const char* const kUdevadm = "/sbin/udevadm";
const char* const kUdevcontrol = "/sbin/udevcontrol";
const char* const kHalDaemon = "/etc/init.d/haldaemon";
const char* const kHalStop = "/etc/init.d/haldaemon stop > /dev/null 2>&1";
const char* const kHalStart = "/etc/init.d/haldaemon start > /dev/null 2>&1";
const char* const kHalStatus = "/etc/init.d/haldaemon status";

// The status output is read once, this much at most.
const size_t kHalStatusBytes = 1024;

bool pathExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool entryExists(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// Only a shell that cannot be started counts as failure: the init script's
// own exit status is not looked at.
bool runHalCommand(const char* command, const char* done, const char* failed)
{
    if (runCommand(command) == -1) {
        TESSA_LOG(failed);
        return false;
    }
    TESSA_LOG(done);
    return true;
}

// Copies both rule files into the folder; true when both are there. Only a
// file that was not there before is remembered for the uninstall, so a
// file of the host's (or of another program) is never removed.
bool installRuleFiles(secureTessa& client, const std::string& directory, std::vector<std::string>& installed)
{
    bool copied = true;
    for (const RuleFile& rule : kRuleFiles) {
        const std::string target = directory + rule.installedName;
        const bool existedBefore = entryExists(target);
        if (!client.CopyFile(rule.copyName, directory)) {
            copied = false;
            continue;
        }
        if (!existedBefore && entryExists(target))
            installed.push_back(target);
    }
    return copied;
}

// Removes the remembered rule files of one folder and forgets them.
void removeInstalledRuleFiles(const std::string& directory, std::vector<std::string>& installed)
{
    for (auto it = installed.begin(); it != installed.end();) {
        if (it->compare(0, directory.size(), directory) == 0) {
            unlink(it->c_str());
            it = installed.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace

bool secureTessa::RestartUdevRules()
{
    TESSA_LOG("secureTessa::RestartUdevRules()");
    std::string command;
    if (pathExists(kUdevadm))
        command = std::string(kUdevadm) + " control --reload-rules > /dev/null 2>&1";
    else if (pathExists(kUdevcontrol))
        command = std::string(kUdevcontrol) + " reload_rules > /dev/null 2>&1";
    TESSA_LOG(command);
    if (command.empty())
        return true;
    if (runCommand(command) == -1) {
        TESSA_LOG("failed RestartUdevRules");
        return false;
    }
    TESSA_LOG("RestartUdevRules restarted ");
    return true;
}

bool secureTessa::CopyFile(const std::string& file, const std::string& directory)
{
    if (!pathExists(directory)) {
        TESSA_LOG(directory + " Path does not exists");
        return false;
    }
    const std::string copy = "cp -fH " + file + directory + " > /dev/null 2>&1";
    TESSA_LOG(copy);
    // A copy that did not happen (a rule file missing from the working
    // directory, a full or read-only folder) leaves udev without the rules.
    if (runCommand(copy) != 0) {
        TESSA_LOG("CopyFile fdi file failed");
        return false;
    }
    const std::string chmod = "chmod 755 " + directory + "/" + file + " > /dev/null 2>&1";
    TESSA_LOG(chmod);
    const int result = runCommand(chmod);
    sync();
    if (result == -1) {
        TESSA_LOG("Change file permission to 755");
        return false;
    }
    return true;
}

bool secureTessa::udevhalInstall()
{
    const bool rulesCopied = installRuleFiles(*this, RHatUdevLibDir, installedRuleFiles);
    RestartUdevRules();

    bool installed = false;
    if (hostOsIndex == REDHAT) {
        installed = RestartUdevRules();
    } else if (hostOsIndex == SUSE) {
        installed = halWasRunning != 0 && StopHalDaemon();
    } else {
        installRuleFiles(*this, AltUdevLibDir1, installedRuleFiles);
        installRuleFiles(*this, AltUdevLibDir2, installedRuleFiles);
        RestartUdevRules();
    }

    if (installed && rulesCopied) {
        TESSA_LOG("Udev rule successfully Installed");
        return true;
    }
    TESSA_LOG("Udev rule is not Installed");
    return false;
}

bool secureTessa::udevhalUninstall()
{
    removeInstalledRuleFiles(RHatUdevLibDir, installedRuleFiles);
    RestartUdevRules();
    if (hostOsIndex != SUSE) {
        removeInstalledRuleFiles(AltUdevLibDir1, installedRuleFiles);
        removeInstalledRuleFiles(AltUdevLibDir2, installedRuleFiles);
        RestartUdevRules();
    }
    if (hostOsIndex == SUSE && halWasRunning != 0)
        StartHalDaemon();
    TESSA_LOG("Udev  successfully Uninstalled");
    return true;
}

bool secureTessa::IsHalDaemonRunning()
{
    TESSA_LOG("Inside secureTessa::IsHalDaemonRunning");
    if (access(kHalDaemon, X_OK) != 0)
        return false;
    std::string output;
    captureCommand(kHalStatus, kHalStatusBytes, output);
    if (output.empty())
        return false;
    const std::string reply = output.substr(0, output.find('\0'));
    // "haldaemon is not running" says the opposite of what it contains.
    if (reply.find("running") == std::string::npos || reply.find("not running") != std::string::npos)
        return false;
    TESSA_LOG("haldaemon is running");
    return true;
}

bool secureTessa::StartHalDaemon()
{
    return runHalCommand(kHalStart, "started haldaemon", "failed to start the haldaemon");
}

bool secureTessa::StopHalDaemon()
{
    return runHalCommand(kHalStop, "stopped haldaemon", "failed to stop the haldaemon");
}
