// The private mount namespace tests use to stage files at real absolute
// paths: what a test writes stays inside it, the host's files stay as they
// were, and a process that cannot get the namespace fails instead of going
// on against the real host.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "HostNamespace.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

bool exists(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

} // namespace

TEST(HostNamespace, FilesWrittenInAnEtcOverlayStayInside)
{
    const std::string probe = "/etc/zago-hostnamespace-probe";
    ASSERT_FALSE(exists(probe));
    const std::string passwd = readWholeFile("/etc/passwd");

    HostNamespace ns;
    ns.overlay("/etc");
    ns.writeFile(probe, "inside\n");
    ns.writeFile("/etc/vmware-release", "VMware ESX 4.1\n");

    EXPECT_EQ(readWholeFile(probe), "inside\n");
    EXPECT_EQ(readWholeFile("/etc/vmware-release"), "VMware ESX 4.1\n");
    // The host's files still show through.
    EXPECT_EQ(readWholeFile("/etc/passwd"), passwd);
    // Nothing of it outside: neither to a process in the host's namespace...
    EXPECT_FALSE(ns.existsOutside(probe));
    std::string outside;
    EXPECT_FALSE(ns.readOutside(probe, outside));
    EXPECT_TRUE(ns.existsOutside("/etc/passwd"));
    // ...nor in the underlying file system itself, seen through pid 1's root
    // when that is not inside this namespace.
    EXPECT_FALSE(exists("/proc/1/root" + probe));
}

TEST(HostNamespace, ReplacedAndRemovedFilesAreUntouchedOnTheHost)
{
    TempDir host(false);
    host.write("config", "host config\n");
    host.write("gone", "still here\n");
    host.write("sub/deep", "deep\n");
    std::string scratch;
    {
        HostNamespace ns;
        scratch = ns.scratch();
        ns.overlay(host.path());
        ns.writeFile(host.file("config"), "namespace config\n");
        ns.writeFile(host.file("sub/new/file"), "new\n");
        ns.remove(host.file("gone"));
        ns.remove(host.file("sub/deep"));

        EXPECT_EQ(readWholeFile(host.file("config")), "namespace config\n");
        EXPECT_EQ(readWholeFile(host.file("sub/new/file")), "new\n");
        EXPECT_FALSE(exists(host.file("gone")));
        EXPECT_FALSE(exists(host.file("sub/deep")));

        std::string content;
        EXPECT_TRUE(ns.readOutside(host.file("config"), content));
        EXPECT_EQ(content, "host config\n");
        EXPECT_TRUE(ns.readOutside(host.file("gone"), content));
        EXPECT_EQ(content, "still here\n");
        EXPECT_TRUE(ns.existsOutside(host.file("sub/deep")));
        EXPECT_FALSE(ns.existsOutside(host.file("sub/new")));
    }
    // Gone with the object: the mounts and the temporary layers.
    EXPECT_EQ(readWholeFile(host.file("config")), "host config\n");
    EXPECT_EQ(readWholeFile(host.file("gone")), "still here\n");
    EXPECT_FALSE(exists(host.file("sub/new")));
    EXPECT_FALSE(exists(scratch));
}

TEST(HostNamespace, MissingDirectoryIsCreatedInAnOverlayOfItsAncestor)
{
    const std::string folder = "/lib/modules/zago-hostnamespace-release";
    ASSERT_FALSE(exists(folder));
    HostNamespace ns;
    ns.overlay(folder);
    EXPECT_TRUE(fs::is_directory(folder));
    ns.writeFile(folder + "/modules.builtin", "kernel/drivers/usb/storage/usb-storage.ko\n");
    EXPECT_EQ(readWholeFile(folder + "/modules.builtin"), "kernel/drivers/usb/storage/usb-storage.ko\n");
    EXPECT_FALSE(ns.existsOutside(folder));
    // A second overlay inside a writable one adds nothing.
    ns.overlay("/lib/modules");
    EXPECT_EQ(readWholeFile(folder + "/modules.builtin"), "kernel/drivers/usb/storage/usb-storage.ko\n");

    // The real release folder can be staged just as well.
    struct utsname name;
    ASSERT_EQ(uname(&name), 0);
    const std::string real = std::string("/lib/modules/") + name.release + "/modules.builtin";
    const bool hostHasIt = exists(real);
    ns.overlay(std::string("/lib/modules/") + name.release);
    ns.writeFile(real, "staged\n");
    EXPECT_EQ(readWholeFile(real), "staged\n");
    EXPECT_EQ(ns.existsOutside(real), hostHasIt);
}

TEST(HostNamespace, BoundFilesAndFoldersReplaceExistingPaths)
{
    TempDir host(false);
    host.write("tool", "#!/bin/sh\necho real\n");
    host.write("rules/50-host.rules", "host rule\n");

    HostNamespace ns;
    ns.bindFile(host.file("tool"), "#!/bin/sh\necho fake\n", 0755);
    EXPECT_EQ(readWholeFile(host.file("tool")), "#!/bin/sh\necho fake\n");
    struct stat info;
    ASSERT_EQ(stat(host.file("tool").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);

    const std::string emptyRules = ns.scratch() + "/rules";
    fs::create_directories(emptyRules);
    ns.bind(emptyRules, host.file("rules"));
    EXPECT_FALSE(exists(host.file("rules/50-host.rules")));
    ns.writeFile(host.file("rules/60-test.rules"), "test rule\n");
    EXPECT_EQ(readWholeFile(emptyRules + "/60-test.rules"), "test rule\n");

    std::string content;
    EXPECT_TRUE(ns.readOutside(host.file("tool"), content));
    EXPECT_EQ(content, "#!/bin/sh\necho real\n");
    EXPECT_TRUE(ns.existsOutside(host.file("rules/50-host.rules")));
    EXPECT_FALSE(ns.existsOutside(host.file("rules/60-test.rules")));
}

TEST(HostNamespace, WritesThatWouldReachTheHostAreRefused)
{
    TempDir host(false);
    host.write("layer/keep", "keep\n");
    host.write("elsewhere/target", "host target\n");
    fs::create_symlink(host.file("elsewhere/target"), host.file("layer/link"));
    fs::create_directory_symlink(host.file("elsewhere"), host.file("layer/linkdir"));

    HostNamespace ns;
    // Nothing overlaid yet: /etc is the host's.
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(ns.writeFile("/etc/zago-hostnamespace-probe", "x"), std::runtime_error),
                            "would change the host");
    EXPECT_FALSE(exists("/etc/zago-hostnamespace-probe"));

    ns.overlay(host.file("layer"));
    // A link is replaced, never written through.
    ns.writeFile(host.file("layer/link"), "inside\n");
    EXPECT_EQ(readWholeFile(host.file("elsewhere/target")), "host target\n");
    EXPECT_EQ(readWholeFile(host.file("layer/link")), "inside\n");
    // A folder link leading out of the overlay is refused.
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(ns.writeFile(host.file("layer/linkdir/target"), "x"), std::runtime_error),
                            "would change the host");
    EXPECT_EQ(readWholeFile(host.file("elsewhere/target")), "host target\n");
    // Parent references, relative names, the overlay's own mount point, "/".
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(ns.writeFile(host.file("layer/../elsewhere/target"), "x"), std::runtime_error),
                            "not a plain absolute");
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(ns.writeFile("relative", "x"), std::runtime_error), "not a plain absolute");
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(ns.remove(host.file("layer")), std::runtime_error), "mount point");
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(ns.overlay("/"), std::runtime_error), "overlay of / itself");
    // A host folder bound into the overlay stays read-only.
    ns.makeDirectory(host.file("layer/view"));
    ns.bind(host.file("elsewhere"), host.file("layer/view"));
    EXPECT_EQ(readWholeFile(host.file("layer/view/target")), "host target\n");
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(ns.writeFile(host.file("layer/view/target"), "x"), std::runtime_error),
                            "bound host folder");
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(ns.remove(host.file("layer/view/target")), std::runtime_error),
                            "bound host folder");
    EXPECT_FALSE(exists("/zago-hostnamespace-missing"));
    EXPECT_EQ(readWholeFile(host.file("elsewhere/target")), "host target\n");
}

// Release files directly in "/" live in a private root: the rest of the
// host reads as before, and nothing stays after the object.
TEST(HostNamespace, FilesDirectlyInRootStayInside)
{
    for (const char* path : {"/VERSION", "/VER_INFO", "/rvx-version"})
        ASSERT_FALSE(exists(path)) << path;
    TempDir work;
    const std::string passwd = readWholeFile("/etc/passwd");
    std::string scratch;
    {
        HostNamespace ns;
        scratch = ns.scratch();
        ns.overlay("/etc");   // made before the private root, kept in it
        ns.writeFile("/etc/redhat-release", "CentOS release 6.2 (Final)\n");
        ns.putFile("/VERSION", "RVX_MAJOR_VERSION=3\n");
        ns.putFile("/rvx-version", "RVX_MINOR_VERSION=1\nRVX_MAJOR_VERSION=2\n");

        EXPECT_EQ(readWholeFile("/VERSION"), "RVX_MAJOR_VERSION=3\n");
        EXPECT_EQ(readWholeFile("/etc/redhat-release"), "CentOS release 6.2 (Final)\n");
        EXPECT_EQ(readWholeFile("/etc/passwd"), passwd);
        EXPECT_EQ(fs::current_path().string(), work.path());
        work.write("here", "working folder\n");
        EXPECT_EQ(readWholeFile("here"), "working folder\n");
        // Programs started now see the same root.
        EXPECT_EQ(system("grep -q RVX_MAJOR_VERSION=2 /rvx-version && test -f /etc/passwd"), 0);

        // Staged files come and go; the host's top-level entries stay the host's.
        ns.remove("/VERSION");
        EXPECT_FALSE(exists("/VERSION"));
        ns.putFile("/VER_INFO", "PNB_MAJOR_VERSION=1\n");
        EXPECT_TRUE(exists("/VER_INFO"));
        EXPECT_NONFATAL_FAILURE(EXPECT_THROW(ns.writeFile("/usr/zago-hostnamespace-probe", "x"), std::runtime_error),
                                "would change the host");
        EXPECT_FALSE(ns.existsOutside("/VER_INFO"));
        EXPECT_FALSE(ns.existsOutside("/rvx-version"));
    }
    for (const char* path : {"/VERSION", "/VER_INFO", "/rvx-version"})
        EXPECT_FALSE(exists(path)) << path;
    EXPECT_EQ(readWholeFile("/etc/passwd"), passwd);
    EXPECT_EQ(fs::current_path().string(), work.path());
    EXPECT_EQ(readWholeFile("here"), "working folder\n");
    EXPECT_FALSE(exists(scratch));
}

TEST(HostNamespace, FakeToolsAndPrivateRuleFolders)
{
    TempDir work;
    HostNamespace ns;
    ns.putFile("/sbin/udevadm", "#!/bin/sh\necho \"udevadm $*\" >> " + work.file("calls") + "\n", 0755);
    ns.putFile("/etc/init.d/haldaemon", "#!/bin/sh\necho \"haldaemon is not running\"\n", 0755);
    EXPECT_EQ(system("/sbin/udevadm control --reload-rules > /dev/null 2>&1"), 0);
    EXPECT_EQ(work.read("calls"), "udevadm control --reload-rules\n");
    EXPECT_EQ(access("/etc/init.d/haldaemon", X_OK), 0);
    EXPECT_FALSE(ns.existsOutside("/etc/init.d/haldaemon"));

    // Empty, writable rule folders, whether the host has them or not.
    const bool hostLibRules = exists("/lib/udev/rules.d");
    for (const char* folder : {"/etc/udev/rules.d", "/lib/udev/rules.d", "/run/udev/rules.d"}) {
        ns.emptyFolder(folder);
        ASSERT_TRUE(fs::is_directory(folder)) << folder;
        EXPECT_TRUE(fs::is_empty(folder)) << folder;
        ns.writeFile(std::string(folder) + "/98-secupdusb.rules", "rule\n");
        EXPECT_FALSE(ns.existsOutside(std::string(folder) + "/98-secupdusb.rules")) << folder;
    }
    EXPECT_EQ(ns.existsOutside("/lib/udev/rules.d"), hostLibRules);
}

// /tmp is the namespace's own: a folder the test made before keeps its
// path (the same folder), what is made now stays inside, and nothing else
// of the machine's /tmp shows.
TEST(HostNamespace, TmpIsPrivateAndKeepsTheFoldersInUse)
{
    TempDir before(false);
    before.write("kept", "kept\n");
    const std::string cwd = fs::current_path().string();

    HostNamespace ns;
    EXPECT_EQ(fs::current_path().string(), cwd);
    EXPECT_EQ(readWholeFile(before.file("kept")), "kept\n");
    before.write("written", "inside\n");
    std::string content;
    EXPECT_TRUE(ns.readOutside(before.file("written"), content));
    EXPECT_EQ(content, "inside\n");

    TempDir after(false);
    after.write("made", "inside\n");
    ASSERT_EQ(symlink("/nowhere", "/tmp/zago-hostnamespace-link"), 0);
    EXPECT_FALSE(ns.existsOutside(after.path()));
    EXPECT_FALSE(ns.existsOutside(ns.scratch()));
    EXPECT_FALSE(ns.existsOutside("/tmp/zago-hostnamespace-link"));

    // What shows: these folders, and those of the trees the test runs from
    // when they lie in /tmp.
    std::set<std::string> expected = {before.path(), after.path(), ns.scratch(), "/tmp/zago-hostnamespace-link"};
    for (const std::string& used : {cwd, fs::read_symlink("/proc/self/exe").string(), std::string(ZAGO_SOURCE_DIR),
                                   std::string(ZAGO_BINARY_DIR)})
        if (used.compare(0, 5, "/tmp/") == 0)
            expected.insert("/tmp/" + fs::path(used).lexically_relative("/tmp").begin()->string());
    std::set<std::string> shown;
    for (const fs::directory_entry& entry : fs::directory_iterator("/tmp"))
        shown.insert(entry.path().string());
    EXPECT_EQ(shown, expected);
}

// The outer view of one name, links not followed, for a before-and-after
// comparison.
TEST(HostNamespace, LookOutsideTellsWhatStandsAtAName)
{
    TempDir outside(false);
    outside.write("file", "x");
    ASSERT_EQ(symlink("/nowhere", outside.file("link").c_str()), 0);
    ASSERT_EQ(mkdir(outside.file("folder").c_str(), 0750), 0);

    HostNamespace ns;
    const std::string file = ns.lookOutside(outside.file("file"));
    EXPECT_EQ(file.rfind("file uid 0 mode ", 0), 0u) << file;
    const std::string folder = ns.lookOutside(outside.file("folder"));
    EXPECT_EQ(folder.rfind("folder uid 0 mode 488 inode ", 0), 0u) << folder;
    const std::string link = ns.lookOutside(outside.file("link"));
    EXPECT_EQ(link.rfind("link uid 0 ", 0), 0u) << link;
    const std::string target = " -> /nowhere";
    ASSERT_GT(link.size(), target.size());
    EXPECT_EQ(link.substr(link.size() - target.size()), target);
    EXPECT_EQ(ns.lookOutside(outside.file("missing")), "");
    EXPECT_EQ(ns.lookOutside(ns.scratch()), "");

    // A link replaced by a folder of the same name is seen to differ.
    ASSERT_EQ(unlink(outside.file("link").c_str()), 0);
    ASSERT_EQ(mkdir(outside.file("link").c_str(), 0700), 0);
    EXPECT_NE(ns.lookOutside(outside.file("link")), link);
}

TEST(HostNamespace, WithoutPrivilegeTheTestFailsInsteadOfGoingOn)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
            _exit(3);
        bool threw = false;
        EXPECT_NONFATAL_FAILURE(
            {
                try {
                    HostNamespace ns;
                } catch (const std::runtime_error&) {
                    threw = true;
                }
            },
            "unshare(CLONE_NEWNS) refused");
        _exit(threw && !::testing::Test::HasFailure() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(HostNamespace, RefusedWhileOtherThreadsRun)
{
    std::promise<void> release;
    std::thread other([&release] { release.get_future().wait(); });
    EXPECT_NONFATAL_FAILURE(
        {
            try {
                HostNamespace ns;
            } catch (const std::runtime_error&) {
            }
        },
        "threads");
    release.set_value();
    other.join();
}
