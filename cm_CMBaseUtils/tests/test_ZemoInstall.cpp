// Hardware-access library (ZEMO) detection, loading, install and uninstall
// of CLinuxImpl. The host is a temporary directory tree: the installation
// folders and the loader's search path are mapped into it, the libraries are
// copies of a small test library that really go through dlopen, and the
// install script is a fake that records its calls; the commands are recorded
// and still run through a real shell.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "LinuxImpl.h"
#include "Logger.h"
#include "PlatformLayer.h"
#include "ScopedSeam.h"
#include "SimPlatform.h"
#include "DebugLogMessages.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;

const std::string kFolder = "/opt/kave/zor64/lib/";
const std::string kEsxiFolder = "/scratch/opt/kave/zor/lib/";

class FakeZemoHost : public SimPlatform {
public:
    std::string root;   // stands for "/" of the host
    std::string exeDir; // the executable's directory, ending in "/"
    Strings loadRequests;

    // Only the test's own install script runs.
    FakeZemoHost() { runOthersInShell(); }

    // Absolute names go below the fake root; bare names are looked up in the
    // fake loader search path "<root>/searchpath/".
    void* LoadLibrary(const std::string& name) override
    {
        loadRequests.push_back(name);
        std::string mapped = name.find('/') == std::string::npos ? root + "/searchpath/" + name : root + name;
        return CLinuxImpl::LoadLibrary(mapped);
    }
    std::string getCurrentProcessDirectory() override { return exeDir; }

    void placeLibrary(const std::string& folder, const std::string& name) const
    {
        fs::create_directories(root + folder);
        fs::copy_file(FAKE_ZEMO_LIBRARY, root + folder + name, fs::copy_options::overwrite_existing);
    }
};

bool contains(const Strings& lines, const std::string& text)
{
    for (const std::string& l : lines)
        if (l == text)
            return true;
    return false;
}

// The file a handle was loaded from.
std::string loadedFrom(void* handle)
{
    void* symbol = dlsym(handle, "fakeZemoVersion");
    Dl_info info;
    if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fname == nullptr)
        return "";
    return info.dli_fname;
}

class ZemoInstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        CLinuxImpl::nZEMOInstallRefCount = 0;
        CLinuxImpl::bZEMOAlreadyInstalled = false;
        ASSERT_TRUE(CLogger::GetInstance()->Initialize("debug.log"));
        host.root = dir.file("root");
        // Blanks, a quote and shell syntax in the executable's directory
        // must reach the script as one literal path.
        host.exeDir = dir.file("exe dir/it's $(touch INJECTED) `touch INJECTED2`") + "/";
        fs::create_directories(host.exeDir);
        fs::create_directories(host.root + "/searchpath");
        fs::copy_file(std::string(ZAGO_TEST_DATA_DIR) + "/zorfennicinstall.sh", host.exeDir + "zorfennicinstall.sh");
        fs::permissions(host.exeDir + "zorfennicinstall.sh", fs::perms::owner_all);
    }
    void setScriptStatus(const std::string& action, int status)
    {
        dir.write("exe dir/it's $(touch INJECTED) `touch INJECTED2`/status_" + action, std::to_string(status));
    }
    Strings scriptCalls()
    {
        std::istringstream in(readWholeFile(host.exeDir + "calls.txt"));
        Strings out;
        std::string line;
        while (std::getline(in, line))
            out.push_back(line);
        return out;
    }
    std::string command(const std::string& action) const
    {
        return "'" + dir.path() + "/exe dir/it'\\''s $(touch INJECTED) `touch INJECTED2`//zorfennicinstall.sh' " + action;
    }
    void expectNothingInjected() const
    {
        for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
            EXPECT_NE(entry.path().filename().string().rfind("INJECTED", 0), 0u) << entry.path();
    }

    TempDir dir;
    FakeZemoHost host;
};

struct InstallCase {
    const char* name;
    const char* kernel;
    Strings inFolder;   // library files already in the installation folder
    Strings onPath;     // library files on the loader search path (VUTA copy)
    int installStatus;  // exit status of "install"
    int uninstallStatus;
    int installResult;
    Strings installCalls; // actions the script saw during InstallZemo
    int uninstallResult;
    Strings allCalls; // actions the script saw after UninstallZemo
    bool alreadyInstalled;
};

} // namespace

TEST_F(ZemoInstall, InstallAndUninstallPerHostSituation)
{
    const std::vector<InstallCase> cases = {
        {"absent, script works", "Linux", {}, {}, 0, 0, 0, {"install"}, 0, {"install", "uninstall"}, false},
        {"absent, uninstall fails", "Linux", {}, {}, 0, 4, 0, {"install"}, 1, {"install", "uninstall"}, false},
        {"absent, script fails, VUTA copy", "Linux", {}, {"libzurmel64.so"}, 3, 0, 0, {"install"}, 0,
         {"install", "uninstall"}, false},
        {"absent, script fails, no VUTA", "Linux", {}, {}, 3, 3, 1, {"install"}, 1, {"install", "uninstall"}, false},
        {"already installed", "Linux", {"libzurmel.so"}, {}, 0, 0, 0, {}, 0, {}, true},
        {"only 64-bit file installed", "Linux", {"libzurmel64.so"}, {}, 0, 0, 0, {}, 0, {}, true},
        {"ESXi, installed in scratch", "VMkernel", {"libzurmel.so"}, {}, 0, 0, 0, {}, 0, {}, true},
    };
    for (const InstallCase& c : cases) {
        SCOPED_TRACE(c.name);
        CLinuxImpl::nZEMOInstallRefCount = 0;
        CLinuxImpl::bZEMOAlreadyInstalled = false;
        fs::remove_all(host.root);
        fs::create_directories(host.root + "/searchpath");
        fs::remove(host.exeDir + "calls.txt");
        host.commands.clear();
        host.kernelName = c.kernel;
        const std::string folder = std::string(c.kernel) == "VMkernel" ? kEsxiFolder : kFolder;
        for (const std::string& f : c.inFolder)
            host.placeLibrary(folder, f);
        for (const std::string& f : c.onPath)
            host.placeLibrary("/searchpath/", f);
        setScriptStatus("install", c.installStatus);
        setScriptStatus("uninstall", c.uninstallStatus);

        EXPECT_EQ(host.InstallZemo(), c.installResult);
        EXPECT_EQ(CLinuxImpl::bZEMOAlreadyInstalled, c.alreadyInstalled);
        EXPECT_EQ(CLinuxImpl::nZEMOInstallRefCount, 1);
        EXPECT_EQ(scriptCalls(), c.installCalls);
        EXPECT_EQ(host.UninstallZemo(), c.uninstallResult);
        EXPECT_EQ(CLinuxImpl::nZEMOInstallRefCount, 0);
        EXPECT_EQ(scriptCalls(), c.allCalls);

        Strings expectedCommands;
        for (const std::string& action : c.allCalls)
            expectedCommands.push_back(command(action));
        EXPECT_EQ(host.commands, expectedCommands);
    }
    expectNothingInjected();
}

TEST_F(ZemoInstall, InstallLogLines)
{
    setScriptStatus("install", 2);
    EXPECT_EQ(host.InstallZemo(), 1);
    Strings messages = logMessages(dir);
    Strings own;
    for (const std::string& m : messages)
        if (m.find("CLinuxImpl::IsFileExistsAbs()") == std::string::npos)
            own.push_back(m);
    EXPECT_EQ(own, (Strings{"Load library using " + kFolder + "libzurmel.so",
                            "InstallZemo: Custom Zemo Not Already Present",
                            "Executimg command: " + command("install"),
                            "InstallZemo: Zemo Installation Failed",
                            "InstallZemo: VUTA Zemo Not Present"}));

    host.UninstallZemo();
    EXPECT_EQ(logMessages(dir).back(), "UninstallZemo: Zemo Uninstalled Successfully");
}

TEST_F(ZemoInstall, SuccessfulAndVutaInstallLogLines)
{
    EXPECT_EQ(host.InstallZemo(), 0);
    EXPECT_TRUE(contains(logMessages(dir), "InstallZemo: Custome Zemo Installed Successfully"));
    host.UninstallZemo();

    setScriptStatus("install", 1);
    host.placeLibrary("/searchpath/", "libzurmel.so");
    EXPECT_EQ(host.InstallZemo(), 0);
    EXPECT_TRUE(contains(logMessages(dir), "InstallZemo: Found VUTA Zemo"));
}

TEST_F(ZemoInstall, NestedCallsRunTheScriptOnlyOnTheOutermost)
{
    EXPECT_EQ(host.InstallZemo(), 0);
    EXPECT_EQ(host.InstallZemo(), 0);
    EXPECT_EQ(CLinuxImpl::nZEMOInstallRefCount, 2);
    EXPECT_EQ(scriptCalls(), (Strings{"install"}));
    EXPECT_EQ(host.UninstallZemo(), 0);
    EXPECT_EQ(scriptCalls(), (Strings{"install"}));
    EXPECT_EQ(host.UninstallZemo(), 0);
    EXPECT_EQ(scriptCalls(), (Strings{"install", "uninstall"}));
    EXPECT_EQ(host.commands, (Strings{command("install"), command("uninstall")}));
    expectNothingInjected();
}

TEST_F(ZemoInstall, UnmatchedUninstallNeverDrivesTheCountBelowZero)
{
    EXPECT_EQ(host.UninstallZemo(), 0);
    EXPECT_EQ(host.UninstallZemo(), 0);
    EXPECT_EQ(CLinuxImpl::nZEMOInstallRefCount, 0);
    EXPECT_TRUE(host.commands.empty());
    EXPECT_TRUE(contains(logMessages(dir), "UninstallZemo: Zemo Uninstalled Successfully"));

    // The next install is the outermost one again and really installs.
    EXPECT_EQ(host.InstallZemo(), 0);
    EXPECT_EQ(scriptCalls(), (Strings{"install"}));
    EXPECT_EQ(host.UninstallZemo(), 0);
    EXPECT_EQ(scriptCalls(), (Strings{"install", "uninstall"}));
}

TEST_F(ZemoInstall, AlreadyInstalledFlagOutlivesUninstall)
{
    host.placeLibrary(kFolder, "libzurmel.so");
    host.InstallZemo();
    host.UninstallZemo();
    EXPECT_TRUE(CLinuxImpl::bZEMOAlreadyInstalled);
    fs::remove_all(host.root + kFolder);
    host.InstallZemo();
    EXPECT_FALSE(CLinuxImpl::bZEMOAlreadyInstalled);
    EXPECT_EQ(scriptCalls(), (Strings{"install"}));
}

TEST_F(ZemoInstall, DetectionTriesBothFilesInTheHostsFolder)
{
    struct Case {
        const char* kernel;
        Strings present;
        bool installed;
        Strings requests;
    };
    const std::vector<Case> cases = {
        {"Linux", {}, false, {kFolder + "libzurmel.so", kFolder + "libzurmel64.so"}},
        {"Linux", {"libzurmel.so"}, true, {kFolder + "libzurmel.so"}},
        {"Linux", {"libzurmel64.so"}, true, {kFolder + "libzurmel.so", kFolder + "libzurmel64.so"}},
        {"vmkernel", {"libzurmel64.so"}, true, {kEsxiFolder + "libzurmel.so", kEsxiFolder + "libzurmel64.so"}},
    };
    for (const Case& c : cases) {
        fs::remove_all(host.root);
        host.kernelName = c.kernel;
        host.loadRequests.clear();
        const std::string folder = std::string(c.kernel) == "Linux" ? kFolder : kEsxiFolder;
        for (const std::string& f : c.present)
            host.placeLibrary(folder, f);
        EXPECT_EQ(host.isZEMOInstalled(), c.installed) << c.kernel;
        EXPECT_EQ(host.loadRequests, c.requests) << c.kernel;
    }
    Strings messages = logMessages(dir);
    EXPECT_TRUE(contains(messages, "Load library using " + kEsxiFolder + "libzurmel.so"));
    EXPECT_TRUE(contains(messages, "ZEMO is installed in the system"));
}

TEST_F(ZemoInstall, VutaCopyIsLookedUpByBareName)
{
    EXPECT_FALSE(host.isVUTAZEMOInstalled());
    EXPECT_EQ(host.loadRequests, (Strings{"libzurmel.so", "libzurmel64.so"}));
    host.placeLibrary("/searchpath/", "libzurmel64.so");
    EXPECT_TRUE(host.isVUTAZEMOInstalled());
    host.placeLibrary(kFolder, "libzurmel.so"); // the installation folder plays no part
    fs::remove(host.root + "/searchpath/libzurmel64.so");
    EXPECT_FALSE(host.isVUTAZEMOInstalled());
}

TEST_F(ZemoInstall, LoadZemoLibraryPrefersTheInstallationFolder)
{
    host.placeLibrary(kFolder, "libzurmel.so");
    host.placeLibrary("/searchpath/", "libzurmel.so");
    void* handle = host.LoadZemoLibrary("libzurmel.so");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(loadedFrom(handle), host.root + kFolder + "libzurmel.so");
    host.FreeLibrary(handle);
    EXPECT_EQ(host.loadRequests, (Strings{kFolder + "libzurmel.so"}));
}

TEST_F(ZemoInstall, LoadZemoLibraryFallsBackToTheSearchPath)
{
    host.placeLibrary("/searchpath/", "libzurmel64.so");
    void* handle = host.LoadZemoLibrary("libzurmel64.so");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(loadedFrom(handle), host.root + "/searchpath/libzurmel64.so");
    host.FreeLibrary(handle);
    EXPECT_EQ(host.loadRequests, (Strings{kFolder + "libzurmel64.so", "libzurmel64.so"}));
    EXPECT_TRUE(contains(logMessages(dir), "LoadZemoLibrary: Unable to Load libzurmel64.so from " + kFolder));
    EXPECT_FALSE(contains(logMessages(dir), "LoadZemoLibrary: Unable to Load libzurmel64.so from VUTA"));
}

TEST_F(ZemoInstall, LoadZemoLibraryOnEsxiNamesTheStandardFolderWhenNothingLoads)
{
    host.kernelName = "VMkernel";
    EXPECT_EQ(host.LoadZemoLibrary("libzurmel.so"), nullptr);
    EXPECT_EQ(host.loadRequests, (Strings{kEsxiFolder + "libzurmel.so", "libzurmel.so"}));
    Strings messages = logMessages(dir);
    EXPECT_TRUE(contains(messages, "LoadZemoLibrary: Unable to Load libzurmel.so from /opt/kave/zor64/lib/"));
    EXPECT_TRUE(contains(messages, "LoadZemoLibrary: Unable to Load libzurmel.so from VUTA"));
}

TEST_F(ZemoInstall, FacadeReachesTheInstalledImplementation)
{
    {
        ScopedSeam<CPlatformLayer> installed(&host);
        EXPECT_FALSE(CPlatformLayer::isZEMOInstalled());
        EXPECT_EQ(CPlatformLayer::InstallZemo(), 0);
        EXPECT_EQ(CPlatformLayer::UninstallZemo(), 0);
        EXPECT_EQ(CPlatformLayer::LoadZemoLibrary("libzurmel.so"), nullptr);
    }
    EXPECT_EQ(scriptCalls(), (Strings{"install", "uninstall"}));
}
