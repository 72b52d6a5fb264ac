#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "HostNamespace.h"
#include "LinuxImpl.h"
#include "Logger.h"
#include "PlatformLayer.h"
#include "ScopedSeam.h"
#include "SimPlatform.h"
#include "TempDir.h"

namespace {

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// Records the paths the file test is asked about, so the operations built
// on it can be checked without touching anything.
class RecordingFileTests : public CLinuxImpl {
public:
    bool IsFileExistsAbs(const std::string& path) override
    {
        asked.push_back(path);
        return true;
    }
    std::string getCurrentDirectory() override { return "/tmp/run/"; }
    std::vector<std::string> asked;
};

// A folder below `top` whose path is far longer than 2048 bytes.
std::string deepFolder(const std::string& top)
{
    std::string deep = top;
    for (int i = 0; i < 10; ++i)
        deep += "/" + std::string(240, static_cast<char>('a' + i));
    std::filesystem::create_directories(deep);
    return deep;
}

} // namespace

TEST(PlatformLayer, CreatesOneImplementationOnFirstUse)
{
    CPlatformLayer::Sleep(0);
    IPlatformImpl* first = CPlatformLayer::GetPlatform();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(dynamic_cast<CLinuxImpl*>(first), nullptr);
    EXPECT_EQ(CPlatformLayer::GetPlatform(), first);
}

TEST(PlatformLayer, SetForTestingHandsBackThePreviousAndNullRestoresTheLinuxOne)
{
    IPlatformImpl* linuxPlatform = CPlatformLayer::GetPlatform();
    RecordingFileTests first, second;
    EXPECT_EQ(CPlatformLayer::SetForTesting(&first), linuxPlatform);
    EXPECT_EQ(CPlatformLayer::GetPlatform(), &first);
    EXPECT_EQ(CPlatformLayer::SetForTesting(&second), &first);
    EXPECT_EQ(CPlatformLayer::SetForTesting(nullptr), &second);
    // The same object again, with whatever state the run gave it.
    EXPECT_EQ(CPlatformLayer::GetPlatform(), linuxPlatform);
    EXPECT_EQ(CPlatformLayer::SetForTesting(nullptr), linuxPlatform);
}

TEST(PlatformLayer, TheInstalledImplementationSaysWhetherTheHostIsESXi)
{
    SimPlatform host;
    ScopedSeam<CPlatformLayer> installed(&host);
    EXPECT_FALSE(CPlatformLayer::isESXiSystem());
    host.kernelName = "VMkernel";
    EXPECT_TRUE(CPlatformLayer::isESXiSystem());
    host.unameWorks = false;
    EXPECT_FALSE(CPlatformLayer::isESXiSystem());
}

TEST(PlatformLayer, FileTestsResolveAndLog)
{
    TempDir dir;
    ASSERT_TRUE(CLogger::GetInstance()->Initialize("p.log"));
    dir.write("package.xml", "<x/>");

    EXPECT_TRUE(CPlatformLayer::IsFileExits("package.xml"));
    EXPECT_FALSE(CPlatformLayer::IsFileExits("missing.xml"));
    EXPECT_TRUE(CPlatformLayer::IsFileExistsAbs("package.xml"));
    EXPECT_TRUE(CPlatformLayer::IsFileExistsAbs(dir.file("package.xml")));
    EXPECT_TRUE(CPlatformLayer::IsFileExits(""));  // the directory itself opens for reading

    std::string log = dir.read("p.log");
    EXPECT_NE(log.find("CLinuxImpl::IsFileExistsAbs() File name " + dir.path() + "/package.xml exist\n"),
              std::string::npos);
    EXPECT_NE(log.find("CLinuxImpl::IsFileExistsAbs() File name " + dir.path() + "/missing.xml doesnt exist\n"),
              std::string::npos);
    EXPECT_NE(log.find("CLinuxImpl::IsFileExistsAbs() File name package.xml exist\n"), std::string::npos);
}

TEST(PlatformLayer, IsFileExitsAlwaysAppendsAfterWorkingDirectory)
{
    RecordingFileTests fake;
    {
        ScopedSeam<CPlatformLayer> installed(&fake);
        CPlatformLayer::IsFileExits("/etc/x");
        CPlatformLayer::IsFileExits("package.xml");
    }
    EXPECT_EQ(fake.asked, (std::vector<std::string>{"/tmp/run//etc/x", "/tmp/run/package.xml"}));
}

TEST(PlatformLayer, Directories)
{
    TempDir dir;
    EXPECT_EQ(CPlatformLayer::getCurrentDirectory(), dir.path() + "/");

    std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string exeDir = CPlatformLayer::getCurrentProcessDirectory();
    EXPECT_EQ(exeDir, exe.substr(0, exe.rfind('/')) + "/");

    EXPECT_FALSE(CPlatformLayer::setCurrentDirectory(dir.file("nope")));
    EXPECT_EQ(CPlatformLayer::getCurrentDirectory(), dir.path() + "/");
    ASSERT_TRUE(CPlatformLayer::setCurrentDirectory("/"));
    EXPECT_EQ(CPlatformLayer::getCurrentDirectory(), "//");
}

// A working directory that getcwd cannot name must not become the root
// directory: the run would look for "/package.xml" and "/zordebuglog".
TEST(PlatformLayer, UnnamableWorkingDirectoryIsReportedNotTakenForTheRoot)
{
    TempDir dir;
    ASSERT_TRUE(CLogger::GetInstance()->Initialize(dir.file("p.log")));
    std::filesystem::create_directory(dir.file("gone"));
    ASSERT_TRUE(CPlatformLayer::setCurrentDirectory(dir.file("gone")));
    std::filesystem::remove(dir.file("gone"));

    EXPECT_EQ(CPlatformLayer::getCurrentDirectory(), "./");
    EXPECT_FALSE(CPlatformLayer::IsFileExits("zordebuglog"));

    std::string log = dir.read("p.log");
    EXPECT_NE(log.find("CLinuxImpl::getCurrentDirectory() failed via getcwd 2\n"), std::string::npos) << log;
    EXPECT_NE(log.find("CLinuxImpl::IsFileExistsAbs() File name ./zordebuglog doesnt exist\n"), std::string::npos)
        << log;
}

TEST(PlatformLayer, LongWorkingDirectoryIsNamedWhole)
{
    TempDir dir;
    std::string deep = deepFolder(dir.path());
    ASSERT_GT(deep.size(), 2048u + 100u);
    ASSERT_TRUE(CPlatformLayer::setCurrentDirectory(deep));
    EXPECT_EQ(CPlatformLayer::getCurrentDirectory(), deep + "/");
}

TEST(PlatformLayer, FileListsIncludeHiddenEntriesAndSubfolders)
{
    TempDir dir;
    dir.write("payload/fw.bin", "x");
    dir.write("payload/.hidden", "");
    std::filesystem::create_directory(dir.file("payload/sub"));

    std::string folder = dir.file("payload");
    EXPECT_EQ(sorted(CPlatformLayer::GetFileList(folder)),
              (std::vector<std::string>{folder + "/.hidden", folder + "/fw.bin", folder + "/sub"}));
    EXPECT_EQ(sorted(CPlatformLayer::GetFileListName(folder)),
              (std::vector<std::string>{".hidden", "fw.bin", "sub"}));
    EXPECT_EQ(folder, dir.file("payload"));  // the argument is left alone

    std::string slashed = folder + "/";
    EXPECT_EQ(sorted(CPlatformLayer::GetFileList(slashed))[1], folder + "//fw.bin");

    std::string missing = dir.file("absent");
    EXPECT_TRUE(CPlatformLayer::GetFileList(missing).empty());
    EXPECT_TRUE(CPlatformLayer::GetFileListName(missing).empty());
}

TEST(PlatformLayer, ShellCommandsReportTheirStatus)
{
    TempDir dir;
    EXPECT_EQ(CPlatformLayer::ExecuteCmd("true", false, 0), 0);
    EXPECT_NE(CPlatformLayer::ExecuteCmd("exit 3", false, 0), 0);

    // Returns while the command still runs: had it waited, the marker would
    // be there. No clock is read, so a slow machine cannot fail it.
    EXPECT_EQ(CPlatformLayer::ExecuteCmdNoWait("{ sleep 60; touch '" + dir.file("finished") + "'; } >/dev/null 2>&1",
                                               false, 0),
              0);
    EXPECT_FALSE(dir.exists("finished"));
}

TEST(PlatformLayer, SleepNeverBlocksOnZeroOrNegative)
{
    auto start = std::chrono::steady_clock::now();
    CPlatformLayer::Sleep(0);
    CPlatformLayer::Sleep(-5);
    // Below the 5 seconds a negative value taken by its size would pause,
    // far above what two calls that do nothing take on a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

TEST(PlatformLayer, DynamicLibraries)
{
    TempDir dir;
    EXPECT_EQ(CPlatformLayer::Load_Library(dir.file("libnothing.so")), nullptr);
    EXPECT_EQ(CPlatformLayer::Load_Library_without_Customization("libdoesnotexist-zago.so"), nullptr);
    CPlatformLayer::FreeLibrary(nullptr);
    EXPECT_EQ(CPlatformLayer::GetProcAddress(nullptr, "x"), nullptr);

    void* libc = CPlatformLayer::Load_Library("libc.so.6");
    ASSERT_NE(libc, nullptr);
    EXPECT_NE(CPlatformLayer::GetProcAddress(libc, "strlen"), nullptr);
    CPlatformLayer::FreeLibrary(libc);
}

// An executable whose path is longer than the fixed buffers of the platform
// layer still gets its own directory, whole. The test copies itself there
// and asks the copy (marked by an environment variable) for the answer.
TEST(PlatformLayer, ProcessDirectoryOfAnExecutableWithALongPath)
{
    if (const char* answerFile = std::getenv("ZAGO_PROCESS_DIR_ANSWER")) {
        std::ofstream(answerFile) << CPlatformLayer::getCurrentProcessDirectory();
        return;
    }

    TempDir dir;
    std::string deep = deepFolder(dir.path());
    ASSERT_GT(deep.size(), 2048u + 100u);
    std::filesystem::copy_file("/proc/self/exe", deep + "/copy");
    std::filesystem::permissions(deep + "/copy", std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);

    const std::string answer = dir.file("answer.txt");
    const std::string command = "cd '" + deep + "' && ZAGO_PROCESS_DIR_ANSWER='" + answer +
                                "' ./copy --gtest_filter=PlatformLayer.ProcessDirectoryOfAnExecutableWithALongPath"
                                " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(dir.read("answer.txt"), deep + "/");
}

// The real umount(2) inside a private mount namespace: stacked mounts come
// off one per call, then the folder answers EINVAL, a missing one ENOENT.
TEST(PlatformLayer, UmountReportsTheKernelsErrno)
{
    HostNamespace ns;
    const std::string target = ns.scratch() + "/mnt";
    ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    ASSERT_EQ(::mount("zagotest", target.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
    ASSERT_EQ(::mount("zagotest", target.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);

    EXPECT_EQ(CPlatformLayer::Umount(target), 0);
    EXPECT_EQ(CPlatformLayer::Umount(target), 0);
    EXPECT_EQ(CPlatformLayer::Umount(target), EINVAL);
    EXPECT_EQ(CPlatformLayer::Umount(target + "/missing"), ENOENT);
}

// A link at the name is no mount point: the mount behind it stays.
TEST(PlatformLayer, UmountNeverFollowsALink)
{
    HostNamespace ns;
    const std::string target = ns.scratch() + "/mnt";
    const std::string link = ns.scratch() + "/link";
    ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    ASSERT_EQ(::mount("zagotest", target.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);

    EXPECT_EQ(CPlatformLayer::Umount(link), EINVAL);
    EXPECT_EQ(CPlatformLayer::Umount(target), 0);
}
