#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <filesystem>
#include <string>
#include <vector>

#include "HostNamespace.h"
#include "ResultDocumentOutput.h"
#include "TempDir.h"

namespace fs = std::filesystem;

// The flushes of file contents to the disk, seen on their way to the C
// library: which file each one was for, and whether that file already stood
// at the watched name then.
namespace {

struct Flush {
    dev_t device;
    ino_t inode;
    bool alreadyAtTheName;
};
std::vector<Flush> g_flushes;
std::string g_watchedName;

void recordFlush(int fd)
{
    struct stat file;
    if (g_watchedName.empty() || fstat(fd, &file) != 0)
        return;
    struct stat named;
    const bool atName = stat(g_watchedName.c_str(), &named) == 0 && named.st_dev == file.st_dev &&
                        named.st_ino == file.st_ino;
    g_flushes.push_back(Flush{file.st_dev, file.st_ino, atName});
}

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd)
{
    recordFlush(fd);
    static const auto real = next<int (*)(int)>("fsync");
    return real(fd);
}

extern "C" int fdatasync(int fd)
{
    recordFlush(fd);
    static const auto real = next<int (*)(int)>("fdatasync");
    return real(fd);
}

namespace {

const std::string kDocument = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SVMInventory lang=\"en\"></SVMInventory>";
const std::string kEarlier = "<earlier run's document/>";

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    ASSERT_TRUE(out.good()) << path;
}

std::vector<std::string> entries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Delivery {
    bool opened = false;
    bool delivered = false;
    std::string openError;
    std::string error;
    std::string out;
};

Delivery deliver(const std::string& fileName, const std::string& text = kDocument)
{
    Delivery d;
    testing::internal::CaptureStdout();
    {
        CResultDocumentOutput output;
        if (!fileName.empty())
            d.opened = output.Open(fileName, d.openError);
        d.delivered = output.Deliver(text, d.error);
    }
    d.out = testing::internal::GetCapturedStdout();
    return d;
}

} // namespace

TEST(ResultDocumentOutput, NamedFileReceivesTheWholeTextAndNothingElseRemains)
{
    TempDir dir;
    dir.write("out.xml", std::string(300, 'z'));

    Delivery d = deliver("out.xml");

    EXPECT_TRUE(d.opened) << d.openError;
    EXPECT_TRUE(d.delivered) << d.error;
    EXPECT_EQ(d.out, "");
    EXPECT_EQ(dir.read("out.xml"), kDocument);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out.xml"});
}

TEST(ResultDocumentOutput, NewFileGetsTheUsualPermissions)
{
    TempDir dir;
    mode_t previous = umask(027);
    Delivery d = deliver(dir.file("out.xml"));
    umask(previous);

    ASSERT_TRUE(d.delivered) << d.error;
    struct stat info;
    ASSERT_EQ(stat(dir.file("out.xml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(ResultDocumentOutput, NoNameWritesToStandardOutput)
{
    Delivery d = deliver("");
    EXPECT_TRUE(d.delivered) << d.error;
    EXPECT_EQ(d.out, kDocument);
}

TEST(ResultDocumentOutput, MissingFolderFailsAndSendsTheTextToStandardOutput)
{
    TempDir dir;
    Delivery d = deliver(dir.file("missing/out.xml"));

    EXPECT_FALSE(d.opened);
    EXPECT_NE(d.openError.find("missing/out.xml"), std::string::npos) << d.openError;
    EXPECT_FALSE(d.delivered);
    EXPECT_NE(d.error.find("No such file or directory"), std::string::npos) << d.error;
    EXPECT_EQ(d.out, kDocument);
    EXPECT_FALSE(dir.exists("missing"));
}

// The new document reaches the disk before it takes the earlier one's name:
// a crash in between leaves the earlier document, never an empty or cut one
// in its place.
TEST(ResultDocumentOutput, DocumentIsOnTheDiskBeforeItReplacesTheEarlierOne)
{
    TempDir dir;
    dir.write("out.xml", kEarlier);
    g_watchedName = dir.file("out.xml");
    g_flushes.clear();

    Delivery d = deliver(dir.file("out.xml"));
    g_watchedName.clear();

    ASSERT_TRUE(d.delivered) << d.error;
    EXPECT_EQ(dir.read("out.xml"), kDocument);
    struct stat delivered;
    ASSERT_EQ(stat(dir.file("out.xml").c_str(), &delivered), 0);
    const auto flushed = std::find_if(g_flushes.begin(), g_flushes.end(), [&](const Flush& f) {
        return f.device == delivered.st_dev && f.inode == delivered.st_ino;
    });
    ASSERT_NE(flushed, g_flushes.end()) << "the delivered file was never flushed";
    EXPECT_FALSE(flushed->alreadyAtTheName) << "flushed only after it replaced the earlier file";
}

// Something planted at the result file's name is neither written through
// nor replaced.
TEST(ResultDocumentOutput, NameHeldByAnythingButARegularFileIsLeftAlone)
{
    TempDir dir;
    dir.write("victim", kEarlier);
    ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("link.xml").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("nowhere").c_str(), dir.file("dangling.xml").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo.xml").c_str(), 0600), 0);
    fs::create_directory(dir.file("folder.xml"));

    for (const char* name : {"link.xml", "dangling.xml", "fifo.xml", "folder.xml"}) {
        SCOPED_TRACE(name);
        Delivery d = deliver(dir.file(name));
        EXPECT_FALSE(d.opened);
        EXPECT_FALSE(d.delivered);
        EXPECT_NE(d.error.find("not a regular file"), std::string::npos) << d.error;
        EXPECT_EQ(d.out, kDocument);
    }
    EXPECT_EQ(dir.read("victim"), kEarlier);
    EXPECT_FALSE(dir.exists("nowhere"));
    EXPECT_TRUE(fs::is_symlink(dir.file("link.xml")));
    EXPECT_TRUE(fs::is_symlink(dir.file("dangling.xml")));
    EXPECT_TRUE(fs::is_fifo(dir.file("fifo.xml")));
    EXPECT_TRUE(fs::is_empty(dir.file("folder.xml")));
    EXPECT_EQ(entries(dir.path()),
              (std::vector<std::string>{"dangling.xml", "fifo.xml", "folder.xml", "link.xml", "victim"}));
}

// A hard link at the name keeps the other name's content: the name is
// given the new file, the old one is not rewritten.
TEST(ResultDocumentOutput, HardLinkedEarlierFileIsReplacedNotRewritten)
{
    TempDir dir;
    dir.write("other", kEarlier);
    ASSERT_EQ(link(dir.file("other").c_str(), dir.file("out.xml").c_str()), 0);

    Delivery d = deliver(dir.file("out.xml"));

    EXPECT_TRUE(d.delivered) << d.error;
    EXPECT_EQ(dir.read("out.xml"), kDocument);
    EXPECT_EQ(dir.read("other"), kEarlier);
}

TEST(ResultDocumentOutput, TemporaryFileOfAnUndeliveredDocumentIsRemoved)
{
    TempDir dir;
    {
        CResultDocumentOutput output;
        std::string error;
        ASSERT_TRUE(output.Open(dir.file("out.xml"), error)) << error;
        EXPECT_EQ(entries(dir.path()).size(), 1u);
    }
    EXPECT_TRUE(entries(dir.path()).empty());
}

TEST(ResultDocumentOutput, FullDiskLeavesTheEarlierFileAndNoTemporaryFile)
{
    HostNamespace ns;
    const std::string disk = ns.smallDisk(64 * 1024);
    writeFile(disk + "/out.xml", kEarlier);
    ns.fill(disk);

    Delivery d = deliver(disk + "/out.xml", std::string(16 * 1024, 'x'));

    EXPECT_TRUE(d.opened) << d.openError;
    EXPECT_FALSE(d.delivered);
    EXPECT_NE(d.error.find("No space left on device"), std::string::npos) << d.error;
    EXPECT_NE(d.error.find("left as it was"), std::string::npos) << d.error;
    EXPECT_EQ(d.out, std::string(16 * 1024, 'x'));
    EXPECT_EQ(readWholeFile(disk + "/out.xml"), kEarlier);
    EXPECT_EQ(entries(disk), (std::vector<std::string>{"filler", "out.xml"}));
}

TEST(ResultDocumentOutput, ReadOnlyFolderLeavesTheEarlierFile)
{
    HostNamespace ns;
    const std::string disk = ns.smallDisk(64 * 1024);
    writeFile(disk + "/out.xml", kEarlier);
    ns.makeReadOnly(disk);

    Delivery d = deliver(disk + "/out.xml");

    EXPECT_FALSE(d.opened);
    EXPECT_FALSE(d.delivered);
    EXPECT_NE(d.error.find("Read-only file system"), std::string::npos) << d.error;
    EXPECT_EQ(d.out, kDocument);
    EXPECT_EQ(readWholeFile(disk + "/out.xml"), kEarlier);
}

// Standard output on a full disk: the failure shows at once, not only when
// the process ends.
TEST(ResultDocumentOutput, StandardOutputThatCannotTakeTheTextFails)
{
    HostNamespace ns;
    const std::string disk = ns.smallDisk(16 * 1024);
    ns.fill(disk);
    int full = ::open((disk + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(full, 0);

    std::cout.flush();
    int saved = dup(1);
    ASSERT_GE(saved, 0);
    dup2(full, 1);
    ::close(full);
    bool delivered = true;
    std::string error;
    {
        CResultDocumentOutput output;
        delivered = output.Deliver(std::string(64 * 1024, 'x'), error);
    }
    // Whatever stdio kept of the failed write must not reach the real
    // standard output later.
    __fpurge(stdout);
    clearerr(stdout);
    dup2(saved, 1);
    ::close(saved);
    std::cout.clear();

    EXPECT_FALSE(delivered);
    EXPECT_NE(error.find("standard output"), std::string::npos) << error;
}
