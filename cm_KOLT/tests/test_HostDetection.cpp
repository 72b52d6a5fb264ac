// Host operating-system detection over the release files at their real
// paths, staged inside a private mount namespace.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "HostNamespace.h"
#include "KoltTestSupport.h"
#include "PlatformLayer.h"
#include "SecureTessa.h"
#include "SimPlatform.h"
#include "TempDir.h"

namespace {

bool exists(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

const char* const kAllReleaseFiles[] = {"/etc/vmware-release", "/etc/redhat-release", "/etc/SuSE-release",
                                        "/VERSION", "/VER_INFO", "/rvx-version"};

// A host: its release files and tools at their real paths, its kernel name
// through the platform layer, and a client whose host is not detected yet.
class Host : public KoltClientTest {
protected:
    void SetUp() override
    {
        ns = std::make_unique<HostNamespace>();
        // Whatever this machine is, the test's host has none of the files.
        for (const char* path : kAllReleaseFiles) {
            if (exists(path)) {
                ns->overlay(std::filesystem::path(path).parent_path().string());
                ns->remove(path);
            }
        }
        KoltClientTest::SetUp();
    }

    void stage(const std::map<std::string, std::string>& files)
    {
        for (const auto& file : files)
            ns->putFile(file.first, file.second);
    }
};

struct HostCase {
    const char* name;
    std::map<std::string, std::string> files;
    const char* kernel;
    int index;
    std::vector<std::string> messages;  // the detection's log lines
};

void PrintTo(const HostCase& host, std::ostream* out) { *out << host.name; }

const std::string kLong(2000, 'x');

const HostCase kHosts[] = {
    {"NothingRecognised", {}, "Linux", REDHAT, {}},
    {"VMkernel", {}, "VMkernel", ESXi, {"getLinuxOSVer: ESXi Found"}},
    {"KernelNameInAnyCaseBeforeReleaseFiles",
     {{"/etc/redhat-release", "Red Hat Enterprise Linux Server release 6.4\n"}},
     "vmkernel",
     ESXi,
     {"getLinuxOSVer: ESXi Found"}},
    {"ESX3", {{"/etc/vmware-release", "VMware ESX Server 3 (Dali)\n"}}, "Linux", ESX, {"getLinuxOSVer: ESX 3 Found"}},
    {"ESX41NotESX4", {{"/etc/vmware-release", "VMware ESX 4.1 (Kandinsky)\n"}}, "Linux", ESX4_1,
     {"getLinuxOSVer: ESX 4 Found"}},
    {"ESX4", {{"/etc/vmware-release", "VMware ESX 4.0 (Kandinsky)\n"}}, "Linux", ESX4, {"getLinuxOSVer: ESX 4 Found"}},
    {"VMwareOnlyOnTheSecondLineGoesOn",
     {{"/etc/vmware-release", "Linux\nVMware ESX 4.1\n"},
      {"/etc/redhat-release", "Red Hat Enterprise Linux Server release 6.4\n"}},
     "Linux",
     REDHAT,
     {"getLinuxOSVer: Unrecognized VMWare Found", "getLinuxOSVer REDHAT found"}},
    {"VMwareTextIsCaseSensitive", {{"/etc/vmware-release", "vmware esx 4.1\n"}}, "Linux", REDHAT,
     {"getLinuxOSVer: Unrecognized VMWare Found"}},
    {"XenServer", {{"/etc/redhat-release", "XenServer release 6.2.0-70446c (xenenterprise)\n"}}, "Linux", XENSERVER,
     {"getLinuxOSVer Xenserver found"}},
    {"CentOS", {{"/etc/redhat-release", "CentOS release 6.5 (Final)\n"}}, "Linux", CENTOS,
     {"getLinuxOSVer CentOS found"}},
    {"RedHatTextOnlyOnTheSecondLine", {{"/etc/redhat-release", "Linux\nRed Hat\nXenServer\nCentOS\n"}}, "Linux",
     REDHAT, {}},
    {"NewUVOMarkerOnAnyLine",
     {{"/etc/redhat-release", "CentOS release 6.5 (Final)\n"}, {"/rvx-version", "BUILD=12\nRVX_MAJOR_VERSION=2\n"}},
     "Linux",
     UVO_NEW,
     {"getLinuxOSVer: NEW UVO(PNB) Found"}},
    {"RvxVersionWithoutMarkerSkipsTheCentOSTest",
     {{"/etc/redhat-release", "CentOS release 6.5 (Final)\n"}, {"/rvx-version", "BUILD=12\n"}},
     "Linux",
     REDHAT,
     {}},
    {"RvxVersionWithoutMarkerGoesOnToSuse",
     {{"/etc/redhat-release", "CentOS release 6.5 (Final)\n"}, {"/rvx-version", "BUILD=12\n"}, {"/etc/SuSE-release", ""}},
     "Linux",
     SUSE,
     {"getLinuxOSVer: SLES Found"}},
    {"RvxVersionNeedsARedHatRelease", {{"/rvx-version", "RVX_MAJOR_VERSION=2\n"}}, "Linux", REDHAT, {}},
    {"RedHatBeforeSuse",
     {{"/etc/redhat-release", "Red Hat Enterprise Linux Server release 7.2\n"}, {"/etc/SuSE-release", "SUSE\n"}},
     "Linux",
     REDHAT,
     {"getLinuxOSVer REDHAT found"}},
    {"SuseContentNotRead", {{"/etc/SuSE-release", ""}}, "Linux", SUSE, {"getLinuxOSVer: SLES Found"}},
    {"UVOofRVX", {{"/VERSION", "NAME=rvx\nRVX_MAJOR_VERSION=1\n"}}, "Linux", UVO, {"getLinuxOSVer: UVO(RVX) Found"}},
    {"UVOofPNB", {{"/VERSION", "NAME=rvx\n"}, {"/VER_INFO", "NAME=pnb\nPNB_MAJOR_VERSION=3"}}, "Linux", UVO,
     {"getLinuxOSVer: UVO(PNB) Found"}},
    {"ReleaseLineOf1023CharactersIsReadWhole",
     {{"/VERSION", std::string(1006, 'x') + "RVX_MAJOR_VERSION\n"}},
     "Linux",
     UVO,
     {"getLinuxOSVer: UVO(RVX) Found"}},
    {"LongerReleaseLineEndsTheScanWithoutMatch",
     {{"/VERSION", std::string(1007, 'x') + "RVX_MAJOR_VERSION\nRVX_MAJOR_VERSION\n"}},
     "Linux",
     REDHAT,
     {}},
    {"LongFirstLineOfRedHatReleaseDoesNotMatch",
     {{"/etc/redhat-release", "XenServer " + kLong + "\n"}},
     "Linux",
     REDHAT,
     {}},
    {"LongFirstLineOfVmwareReleaseDoesNotMatch",
     {{"/etc/vmware-release", "VMware ESX 4.1 " + kLong}},
     "Linux",
     REDHAT,
     {"getLinuxOSVer: Unrecognized VMWare Found"}},
    {"UnreadableReleaseFolderDoesNotMatch",
     {{"/etc/redhat-release/Red Hat", "Red Hat\n"}, {"/etc/SuSE-release", ""}},
     "Linux",
     SUSE,
     {"getLinuxOSVer: SLES Found"}},
};

class HostDetection : public Host, public testing::WithParamInterface<HostCase> {};

} // namespace

TEST_P(HostDetection, FromKernelNameAndReleaseFiles)
{
    const HostCase& host = GetParam();
    stage(host.files);
    platform.kernelName = host.kernel;
    secureTessa& tessa = newClient();

    EXPECT_TRUE(tessa.getLinuxOSVer());
    EXPECT_EQ(tessa.hostOsIndex, host.index);
    EXPECT_EQ(log.messagesFrom("QueryVCL.cpp"), host.messages);
    EXPECT_EQ(tessa.isESXiOS(), host.index == ESXi);
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostDetection, testing::ValuesIn(kHosts),
                         [](const testing::TestParamInfo<HostCase>& info) { return std::string(info.param.name); });

TEST_F(Host, SecondCallKeepsTheFirstAnswer)
{
    stage({{"/etc/redhat-release", "CentOS release 6.5 (Final)\n"}});
    secureTessa& tessa = newClient();
    ASSERT_TRUE(tessa.getLinuxOSVer());
    ASSERT_EQ(tessa.hostOsIndex, CENTOS);

    stage({{"/etc/redhat-release", "XenServer release 6.2\n"}});
    platform.kernelName = "VMkernel";
    log.skipToEnd();
    EXPECT_TRUE(tessa.getLinuxOSVer());
    EXPECT_EQ(tessa.hostOsIndex, CENTOS);
    EXPECT_EQ(log.messagesFrom("QueryVCL.cpp"),
              (std::vector<std::string>{"getLinuxOSVer OS Version previously set"}));
}

TEST_F(Host, IsESXiOSLogsItsWay)
{
    platform.kernelName = "VMkernel";
    secureTessa& tessa = newClient();
    EXPECT_TRUE(tessa.isESXiOS());
    EXPECT_EQ(log.messagesFrom("QueryVCL.cpp"),
              (std::vector<std::string>{"Enter secureTessa::isESXiOS", "getLinuxOSVer: ESXi Found", "ESXi OS Found",
                                        "Exit secureTessa::isESXiOS"}));
}

TEST_F(Host, ProcessThatCannotBecomeRootDetectsNothing)
{
    stage({{"/etc/redhat-release", "Red Hat Enterprise Linux Server release 6.4\n"}});
    platform.kernelName = "VMkernel";
    secureTessa& tessa = newClient();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
            _exit(3);
        const bool detected = tessa.getLinuxOSVer();
        const bool again = tessa.getLinuxOSVer();
        const bool esxi = tessa.isESXiOS();
        _exit(!detected && !again && !esxi && tessa.hostOsIndex == -1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(tessa.hostOsIndex, -1);
    EXPECT_EQ(log.messagesFrom("QueryVCL.cpp"),
              (std::vector<std::string>{"getLinuxOSVer:user is not root", "getLinuxOSVer:user is not root",
                                        "Enter secureTessa::isESXiOS", "getLinuxOSVer:user is not root",
                                        "Exit secureTessa::isESXiOS"}));
}
