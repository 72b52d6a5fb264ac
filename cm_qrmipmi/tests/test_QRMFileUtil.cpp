#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#include "PlatformLayer.h"
#include "QRMFile.h"
#include "QRMFileUtil.h"
#include "QRMFileTestSupport.h"

namespace {

bool AllOf(const std::string& text, const char* allowed)
{
    return !text.empty() && text.find_first_not_of(allowed) == std::string::npos;
}

const char kHexDigits[] = "0123456789abcdef";
const char kTemplateCharacters[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// prefix, then five hyphen-joined groups of lower-case hex digits: the
// second and third four digits starting with 4, the fourth four digits
// starting with 8 to b.
bool IsUniqueDirectoryName(const std::string& name, const std::string& prefix)
{
    if (name.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::vector<std::string> groups;
    std::string rest = name.substr(prefix.size());
    size_t start = 0;
    for (;;) {
        const size_t dash = rest.find('-', start);
        groups.push_back(rest.substr(start, dash == std::string::npos ? dash : dash - start));
        if (dash == std::string::npos)
            break;
        start = dash + 1;
    }
    if (groups.size() != 5)
        return false;
    for (const std::string& g : groups) {
        if (!AllOf(g, kHexDigits))
            return false;
    }
    return groups[1].size() == 4 && groups[1][0] == '4' && groups[2].size() == 4 &&
           groups[2][0] == '4' && groups[3].size() == 4 &&
           std::string("89ab").find(groups[3][0]) != std::string::npos;
}

// directory "/" prefix, six template characters, "." extension
bool IsUniqueFileName(const std::string& path, const std::string& directory,
                      const std::string& prefix, const std::string& extension)
{
    const std::string head = directory + "/" + prefix;
    const std::string tail = "." + extension;
    if (path.size() != head.size() + 6 + tail.size())
        return false;
    return path.compare(0, head.size(), head) == 0 &&
           path.compare(path.size() - tail.size(), tail.size(), tail) == 0 &&
           AllOf(path.substr(head.size(), 6), kTemplateCharacters);
}

// A file-size limit makes a copy stop half way, as a full disk would; the
// old limit comes back at the end of the scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        signal(SIGXFSZ, SIG_IGN);
        if (getrlimit(RLIMIT_FSIZE, &m_old) != 0)
            return;
        struct rlimit small = m_old;
        small.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        if (m_set)
            setrlimit(RLIMIT_FSIZE, &m_old);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool set() const { return m_set; }

private:
    struct rlimit m_old = {};
    bool m_set = false;
};

class QRMFileUtilTest : public ScratchDirectoryTest {
protected:
    QRMFileUtilTest() : ScratchDirectoryTest("/tmp/qrmfileutil-XXXXXX") {}

    void TearDown() override
    {
        for (const std::string& path : m_cleanup)
            remove(path.c_str());
        ScratchDirectoryTest::TearDown();
    }

    static std::vector<std::string> Sorted(const std::vector<QRMString>& names)
    {
        std::vector<std::string> out;
        for (const QRMString& n : names)
            out.push_back(Text(n));
        std::sort(out.begin(), out.end());
        return out;
    }

    std::vector<std::string> m_cleanup;
};

}  // namespace

TEST_F(QRMFileUtilTest, ExecutablePathAndItsDirectory)
{
    const std::string withName = Text(QRMFileUtil::GetCurrentExecutablePath(true));
    const std::string directory = Text(QRMFileUtil::GetCurrentExecutablePath(false));
    ASSERT_FALSE(withName.empty());
    EXPECT_EQ('/', withName[0]);
    EXPECT_NE(std::string::npos, withName.find("test_QRMFileUtil"));
    EXPECT_EQ(directory + "/", withName.substr(0, directory.size() + 1));
    EXPECT_EQ(std::string::npos, withName.find('/', directory.size() + 1));
    EXPECT_TRUE(IsDir(directory));
}

TEST_F(QRMFileUtilTest, RenameFile)
{
    ASSERT_EQ(0, mkdir("dir", 0755));
    ASSERT_EQ(0, mkdir("dir/x", 0755));
    Write("dir/a.txt", "A");
    QRMFile a(S("dir/a.txt"));
    EXPECT_TRUE(QRMFileUtil::RenameFile(a, S("b.txt")));
    EXPECT_EQ("dir/a.txt", Text(a.GetPath()));
    EXPECT_EQ("A", Read("dir/b.txt"));
    EXPECT_FALSE(PathExists("dir/a.txt"));

    QRMFile b(S("dir/b.txt"));
    EXPECT_FALSE(QRMFileUtil::RenameFile(b, S("b?.txt")));
    EXPECT_FALSE(QRMFileUtil::RenameFile(b, S("")));
    EXPECT_TRUE(PathExists("dir/b.txt"));
    EXPECT_TRUE(QRMFileUtil::RenameFile(b, S("x/b.txt")));
    EXPECT_EQ("A", Read("dir/x/b.txt"));

    QRMFile directory(S("dir/x"));
    EXPECT_FALSE(QRMFileUtil::RenameFile(directory, S("y")));
    QRMFile missing(S("dir/missing"));
    EXPECT_FALSE(QRMFileUtil::RenameFile(missing, S("y")));

    // A bare name is renamed within the working directory.
    Write("bare", "B");
    QRMFile bare(S("bare"));
    EXPECT_TRUE(QRMFileUtil::RenameFile(bare, S("renamed")));
    EXPECT_EQ("B", Read("renamed"));
}

TEST_F(QRMFileUtilTest, MakeCopyOfFile)
{
    Write("src", "source bytes");
    Write("dst", "old destination content that is longer");
    EXPECT_FALSE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("src")), QRMFile(S("dst")), true));
    EXPECT_EQ("old destination content that is longer", Read("dst"));
    EXPECT_TRUE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("src")), QRMFile(S("dst")), false));
    EXPECT_EQ("source bytes", Read("dst"));   // no stale tail

    const mode_t oldMask = umask(022);
    EXPECT_TRUE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("src")), QRMFile(S("fresh")), true));
    umask(oldMask);
    EXPECT_EQ("source bytes", Read("fresh"));
    struct stat info;
    ASSERT_EQ(0, stat("fresh", &info));
    EXPECT_EQ(0644u, info.st_mode & 0777u);

    ASSERT_EQ(0, mkdir("d", 0755));
    EXPECT_FALSE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("src")), QRMFile(S("d")), false));
    EXPECT_FALSE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("d")), QRMFile(S("x")), false));
    EXPECT_FALSE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("missing")), QRMFile(S("x")), false));
    EXPECT_FALSE(QRMFileUtil::MakeCopyOfFile(QRMFile(), QRMFile(S("x")), false));
    EXPECT_FALSE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("src")), QRMFile(), false));
    EXPECT_FALSE(PathExists("x"));
}

TEST_F(QRMFileUtilTest, CopyIntoAPipeNeverRemovesThePipe)
{
    // A destination that cannot be cut to length (a pipe here, a device node
    // on a host) is written, and stays where it is whatever happens.
    Write("src", "to the reader");
    ASSERT_EQ(0, mkfifo("pipe", 0600));
    const int reader = open("pipe", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("src")), QRMFile(S("pipe")), false));
    struct stat info;
    ASSERT_EQ(0, lstat("pipe", &info));
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    char buffer[64];
    const ssize_t got = read(reader, buffer, sizeof(buffer));
    close(reader);
    ASSERT_GT(got, 0);
    EXPECT_EQ("to the reader", std::string(buffer, static_cast<size_t>(got)));
}

TEST_F(QRMFileUtilTest, LargeFileCopiesCompletely)
{
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 31 + 7);
    Write("big", big);
    EXPECT_TRUE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("big")), QRMFile(S("big.copy")), false));
    EXPECT_TRUE(Read("big.copy") == big);
}

TEST_F(QRMFileUtilTest, CopyOntoItselfKeepsTheFile)
{
    Write("same", "precious");
    EXPECT_FALSE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("same")), QRMFile(S("./same")), false));
    EXPECT_EQ("precious", Read("same"));
    EXPECT_FALSE(QRMFileUtil::MoveFile(QRMFile(S("same")), QRMFile(S("./same")), false));
    EXPECT_EQ("precious", Read("same"));
}

TEST_F(QRMFileUtilTest, MoveFileRemovesSourceAfterCompleteCopy)
{
    Write("src", "payload");
    EXPECT_TRUE(QRMFileUtil::MoveFile(QRMFile(S("src")), QRMFile(S("moved")), true));
    EXPECT_FALSE(PathExists("src"));
    EXPECT_EQ("payload", Read("moved"));
}

TEST_F(QRMFileUtilTest, MoveFileKeepsSourceWhenCopyFails)
{
    Write("src", "payload");
    Write("taken", "other");
    EXPECT_FALSE(QRMFileUtil::MoveFile(QRMFile(S("src")), QRMFile(S("taken")), true));
    EXPECT_FALSE(QRMFileUtil::MoveFile(QRMFile(S("src")), QRMFile(S("nodir/dst")), false));
    EXPECT_EQ("payload", Read("src"));
    EXPECT_EQ("other", Read("taken"));
}

TEST_F(QRMFileUtilTest, MoveFileKeepsSourceAfterPartialCopy)
{
    std::string content(64 * 1024, 'p');
    Write("src", content);
    bool moved = true;
    bool copied = true;
    {
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.set());
        moved = QRMFileUtil::MoveFile(QRMFile(S("src")), QRMFile(S("dst")), false);
        copied = QRMFileUtil::MakeCopyOfFile(QRMFile(S("src")), QRMFile(S("dst2")), false);
    }
    EXPECT_FALSE(moved);
    EXPECT_FALSE(copied);
    EXPECT_TRUE(Read("src") == content);
    EXPECT_FALSE(PathExists("dst"));   // no half-written file is left behind
    EXPECT_FALSE(PathExists("dst2"));
}

// The copy runs as root: whatever stands at the destination's name must not
// steer the bytes somewhere else or lose a file that is not the destination.
TEST_F(QRMFileUtilTest, CopyNeverFollowsALinkPlantedAtTheDestination)
{
    Write("src", "source bytes");
    Write("victim", "must stay");
    ASSERT_EQ(0, symlink("victim", "link"));
    ASSERT_EQ(0, symlink("nowhere", "dangling"));
    for (const bool refuseExisting : {false, true}) {
        EXPECT_FALSE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("src")), QRMFile(S("link")), refuseExisting));
        EXPECT_FALSE(
            QRMFileUtil::MakeCopyOfFile(QRMFile(S("src")), QRMFile(S("dangling")), refuseExisting));
    }
    EXPECT_EQ("must stay", Read("victim"));
    EXPECT_FALSE(PathExists("nowhere"));
    char target[64] = {};
    ASSERT_GT(readlink("link", target, sizeof(target) - 1), 0);
    EXPECT_STREQ("victim", target);
    EXPECT_EQ("source bytes", Read("src"));
}

TEST_F(QRMFileUtilTest, OverwriteReplacesTheNameAndLeavesOtherLinksOfTheOldFile)
{
    Write("src", "new");
    Write("foreign", "someone else's content");
    ASSERT_EQ(0, chmod("foreign", 0751));
    ASSERT_EQ(0, link("foreign", "dst"));
    EXPECT_TRUE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("src")), QRMFile(S("dst")), false));
    EXPECT_EQ("new", Read("dst"));
    EXPECT_EQ("someone else's content", Read("foreign"));
    struct stat info;
    ASSERT_EQ(0, lstat("dst", &info));
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(0751u, info.st_mode & 07777u);   // the replaced file's permissions
    EXPECT_EQ(1u, info.st_nlink);
}

TEST_F(QRMFileUtilTest, FailedOverwriteKeepsTheOldFileAndLeavesNothingBehind)
{
    std::string content(64 * 1024, 'p');
    Write("src", content);
    Write("dst", "old destination");
    bool copied = true;
    {
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.set());
        copied = QRMFileUtil::MakeCopyOfFile(QRMFile(S("src")), QRMFile(S("dst")), false);
    }
    EXPECT_FALSE(copied);
    EXPECT_EQ("old destination", Read("dst"));
    std::vector<QRMString> names;
    EXPECT_FALSE(QRMFileUtil::GetFileNamesInDirectory(S("."), S(""), S(""), S(""), names, false));
    EXPECT_EQ((std::vector<std::string>{"dst", "src"}), Sorted(names));
}

TEST_F(QRMFileUtilTest, PipesNeverHoldTheCopy)
{
    Write("src", "bytes");
    ASSERT_EQ(0, mkfifo("fifo", 0600));
    // Neither end has a partner: an open that waited for one would hang.
    EXPECT_FALSE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("fifo")), QRMFile(S("copy")), false));
    EXPECT_FALSE(PathExists("copy"));
    EXPECT_FALSE(QRMFileUtil::MakeCopyOfFile(QRMFile(S("src")), QRMFile(S("fifo")), false));
    struct stat info;
    ASSERT_EQ(0, lstat("fifo", &info));
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST_F(QRMFileUtilTest, SourceThatShrinksDuringTheCopyIsAFailedCopy)
{
    // The copy goes into a one-page pipe, so it cannot get ahead of the
    // reader: once a byte has arrived the source is cut, well behind
    // anything the copy can have reached.
    const size_t size = 1024 * 1024;
    const size_t cutTo = 512 * 1024;
    Write("src", std::string(size, 's'));
    ASSERT_EQ(0, mkfifo("pipe", 0600));
    const int reader = open("pipe", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    fcntl(reader, F_SETPIPE_SZ, 4096);
    ASSERT_EQ(0, fcntl(reader, F_SETFL, fcntl(reader, F_GETFL) & ~O_NONBLOCK));

    std::future<bool> copy = std::async(std::launch::async, [] {
        return QRMFileUtil::MakeCopyOfFile(QRMFile(S("src")), QRMFile(S("pipe")), false);
    });
    // Held until the copy has written, so the first read waits for it
    // instead of finding no writer.
    const int holder = open("pipe", O_WRONLY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    char buffer[65536];
    size_t received = 0;
    ssize_t got = read(reader, buffer, 1);
    close(holder);
    ASSERT_EQ(1, got);
    received += 1;
    ASSERT_EQ(0, truncate("src", static_cast<off_t>(cutTo)));
    while ((got = read(reader, buffer, sizeof(buffer))) > 0)
        received += static_cast<size_t>(got);
    close(reader);
    EXPECT_FALSE(copy.get());
    EXPECT_EQ(cutTo, received);
}

TEST_F(QRMFileUtilTest, TempDirectory)
{
    EXPECT_EQ("/tmp", Text(QRMFileUtil::GetSystemTempDirectory().GetPath()));
}

TEST_F(QRMFileUtilTest, CreateUniqueDirectory)
{
    QRMFile made = QRMFileUtil::CreateUniqueDirectory(S(m_dir), S("job-"));
    ASSERT_TRUE(made.HasPath());
    const std::string path = Text(made.GetPath());
    EXPECT_TRUE(IsDir(path));
    EXPECT_EQ(m_dir + "/", path.substr(0, m_dir.size() + 1));
    const std::string name = Text(made.GetName());
    EXPECT_TRUE(IsUniqueDirectoryName(name, "job-")) << name;
    EXPECT_FALSE(IsUniqueDirectoryName("job-1-4abc-4abc-7abc-1", "job-"));

    EXPECT_FALSE(QRMFileUtil::CreateUniqueDirectory(S("missing"), S("job-")).HasPath());
    EXPECT_FALSE(QRMFileUtil::CreateUniqueDirectory(QRMString(), S("job-")).HasPath());
    Write("plain", "");
    EXPECT_FALSE(QRMFileUtil::CreateUniqueDirectory(S("plain"), S("")).HasPath());
}

TEST_F(QRMFileUtilTest, CreateUniqueTemporaryDirectory)
{
    QRMFile made = QRMFileUtil::CreateUniqueTemporaryDirectory();
    ASSERT_TRUE(made.HasPath());
    const std::string path = Text(made.GetPath());
    m_cleanup.push_back(path);
    EXPECT_EQ("/tmp/", path.substr(0, 5));
    EXPECT_TRUE(IsDir(path));
}

TEST_F(QRMFileUtilTest, CreateUniqueTemporaryFile)
{
    QRMFile made = QRMFileUtil::CreateUniqueTemporaryFile(S("rep"), S("xml"));
    ASSERT_TRUE(made.HasPath());
    const std::string path = Text(made.GetPath());
    m_cleanup.push_back(path);
    EXPECT_TRUE(IsUniqueFileName(path, "/tmp", "rep", "xml")) << path;
    EXPECT_TRUE(PathExists(path));
    EXPECT_EQ("", Read(path));
    // The bare mkstemp file is gone: it became the named one.
    EXPECT_FALSE(PathExists("/tmp/" + path.substr(8, 6)));
}

TEST_F(QRMFileUtilTest, CreateUniqueFileInAnotherDirectory)
{
    QRMFile made = QRMFileUtil::CreateUniqueFile(S(m_dir), S("rep"), S(""));
    ASSERT_TRUE(made.HasPath());
    const std::string path = Text(made.GetPath());
    EXPECT_TRUE(IsUniqueFileName(path, m_dir, "rep", "")) << path;
    EXPECT_TRUE(PathExists(path));
    const std::string inTemp = "/tmp/" + Text(made.GetName());
    EXPECT_FALSE(PathExists(inTemp));

    EXPECT_FALSE(QRMFileUtil::CreateUniqueFile(S("missing"), S("rep"), S("x")).HasPath());
}

TEST_F(QRMFileUtilTest, CreateUniqueFileInTmpNamedAnotherWay)
{
    QRMFile made = QRMFileUtil::CreateUniqueFile(S("/tmp/"), S("alias"), S("txt"));
    ASSERT_TRUE(made.HasPath());
    const std::string path = Text(made.GetPath());
    m_cleanup.push_back(path);
    EXPECT_TRUE(PathExists(path)) << path;
}

TEST_F(QRMFileUtilTest, CreateUniqueFileMakesAPrivateFileOfOneNameComponent)
{
    ASSERT_EQ(0, mkdir("sub", 0755));
    std::vector<std::string> made;
    for (int i = 0; i < 20; ++i) {
        QRMFile file = QRMFileUtil::CreateUniqueFile(S(m_dir), S("rep"), S("xml"));
        ASSERT_TRUE(file.HasPath());
        made.push_back(Text(file.GetPath()));
        EXPECT_TRUE(IsUniqueFileName(made.back(), m_dir, "rep", "xml")) << made.back();
        struct stat info;
        ASSERT_EQ(0, lstat(made.back().c_str(), &info));
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(0600u, info.st_mode & 07777u);
    }
    std::sort(made.begin(), made.end());
    EXPECT_EQ(made.end(), std::unique(made.begin(), made.end()));

    const struct {
        const char* prefix;
        const char* extension;
    } refused[] = {{"sub/", "x"}, {"../", "x"}, {"a", "x/y"}, {"a?", "x"}, {"a", "x*"}};
    for (const auto& c : refused) {
        EXPECT_FALSE(QRMFileUtil::CreateUniqueFile(S(m_dir), S(c.prefix), S(c.extension)).HasPath())
            << c.prefix << " " << c.extension;
    }
    std::vector<QRMString> inSub;
    QRMFileUtil::GetFileNamesInDirectory(S("sub"), S(""), S(""), S(""), inSub, false);
    EXPECT_TRUE(inSub.empty());
}

TEST_F(QRMFileUtilTest, GetFileNamesInDirectory)
{
    ASSERT_EQ(0, mkdir("d", 0755));
    for (const char* name : {"Log1.TXT", "log2.txt", "notes.md", ".hidden.txt"})
        Write(std::string("d/") + name, "");
    ASSERT_EQ(0, mkdir("d/logs", 0755));

    struct Case {
        const char* start;
        const char* end;
        const char* extension;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"log", "", "", {"Log1.TXT", "log2.txt"}},
        {"", "", "txt", {".hidden.txt", "Log1.TXT", "log2.txt"}},
        {"", "", "", {".hidden.txt", "Log1.TXT", "log2.txt", "notes.md"}},
        {"", "2", "", {"log2.txt"}},
        {"log", "", "md", {}},
        {"n", "s", "MD", {"notes.md"}},
    };
    for (const Case& c : cases) {
        std::vector<QRMString> names;
        EXPECT_FALSE(QRMFileUtil::GetFileNamesInDirectory(S("d"), S(c.start), S(c.end),
                                                          S(c.extension), names, false));
        EXPECT_EQ(c.expected, Sorted(names)) << c.start << "|" << c.end << "|" << c.extension;
    }

    std::vector<QRMString> withPath;
    withPath.push_back(S("kept"));
    EXPECT_FALSE(QRMFileUtil::GetFileNamesInDirectory(S("d"), S("log"), S(""), S(""), withPath,
                                                      true));
    EXPECT_EQ(std::vector<std::string>({"d/Log1.TXT", "d/log2.txt", "kept"}), Sorted(withPath));
}

TEST_F(QRMFileUtilTest, GetFileNamesInMissingDirectory)
{
    std::vector<QRMString> names;
    names.push_back(S("kept"));
    EXPECT_TRUE(QRMFileUtil::GetFileNamesInDirectory(S("missing"), S(""), S(""), S(""), names,
                                                     false));
    EXPECT_TRUE(QRMFileUtil::GetFileNamesInDirectory(QRMString(), S(""), S(""), S(""), names,
                                                     false));
    ASSERT_EQ(1u, names.size());
}

TEST_F(QRMFileUtilTest, GetFileIntoDirectory)
{
    ASSERT_EQ(0, mkdir("dl", 0755));
    Write("dl/pkg.bin", "stale");
    EXPECT_FALSE(QRMFileUtil::GetFile(S("http://server/path/pkg.bin"), QRMFile(S("dl"))));
    ASSERT_EQ(1u, m_platform.commands.size());
    EXPECT_EQ("wget 'http://server/path/pkg.bin' -P 'dl' -O 'dl/pkg.bin'",
              m_platform.commands[0]);
    EXPECT_FALSE(PathExists("dl/pkg.bin"));   // the old file made room first
}

TEST_F(QRMFileUtilTest, GetFileIntoNamedFile)
{
    ASSERT_EQ(0, mkdir("dl", 0755));
    EXPECT_FALSE(QRMFileUtil::GetFile(S("http://server/pkg.bin"), QRMFile(S("dl/local.bin"))));
    ASSERT_EQ(1u, m_platform.commands.size());
    EXPECT_EQ("wget 'http://server/pkg.bin' -P 'dl' -O 'dl/local.bin'", m_platform.commands[0]);

    EXPECT_TRUE(QRMFileUtil::GetFile(S("http://server/pkg.bin"), QRMFile(S("nodir/local.bin"))));
    EXPECT_EQ(1u, m_platform.commands.size());
}

TEST_F(QRMFileUtilTest, GetFileReportsCommandThatCannotStart)
{
    m_platform.answerOthers(-1);
    EXPECT_TRUE(QRMFileUtil::GetFile(S("http://server/pkg.bin"), QRMFile(S("local.bin"))));
    m_platform.answerOthers(8);   // wget's own failure status is not examined
    EXPECT_FALSE(QRMFileUtil::GetFile(S("http://server/pkg.bin"), QRMFile(S("local.bin"))));
}

TEST_F(QRMFileUtilTest, GetFileQuotesAddressAndPaths)
{
    ASSERT_EQ(0, mkdir("my dir", 0755));
    EXPECT_FALSE(QRMFileUtil::GetFile(S("http://h/a?x=1&y=2;touch injected"),
                                      QRMFile(S("my dir"))));
    ASSERT_EQ(1u, m_platform.commands.size());
    EXPECT_EQ("wget 'http://h/a?x=1&y=2;touch injected' -P 'my dir' -O 'my dir/a?x=1&y=2;touch "
              "injected'",
              m_platform.commands[0]);
}

TEST_F(QRMFileUtilTest, GetFileRefusesAddressesThatAreNoFileToFetch)
{
    ASSERT_EQ(0, mkdir("dl", 0755));
    Write("dl/kept", "kept");
    Write("kept-too", "kept");
    // An option for wget, or a name that would make the download folder
    // itself (or its parent) the file deleted to make room.
    for (const char* address : {"-e robots=off http://h/p", "--execute=x", "", "http://h/",
                                "http://h/.", "http://h/..", ".."})
        EXPECT_TRUE(QRMFileUtil::GetFile(S(address), QRMFile(S("dl")))) << address;
    for (const char* address : {"-e robots=off http://h/p", "--execute=x", "-"})
        EXPECT_TRUE(QRMFileUtil::GetFile(S(address), QRMFile(S("dl/out.bin")))) << address;
    EXPECT_TRUE(m_platform.commands.empty());
    EXPECT_EQ("kept", Read("dl/kept"));
    EXPECT_EQ("kept", Read("kept-too"));
}

TEST_F(QRMFileUtilTest, CopyDirectoryRefusals)
{
    ASSERT_EQ(0, mkdir("a", 0755));
    ASSERT_EQ(0, mkdir("b", 0755));
    Write("f", "");
    EXPECT_FALSE(QRMFileUtil::CopyDirectory(QRMFile(S("a")), QRMFile(S("a")), true, false));
    EXPECT_FALSE(QRMFileUtil::CopyDirectory(QRMFile(S("a")), QRMFile(S("b")), true, true));
    EXPECT_FALSE(QRMFileUtil::CopyDirectory(QRMFile(S("a")), QRMFile(S("f")), true, false));
    EXPECT_FALSE(QRMFileUtil::CopyDirectory(QRMFile(S("f")), QRMFile(S("b")), true, false));
    EXPECT_FALSE(QRMFileUtil::CopyDirectory(QRMFile(S("a")), QRMFile(S("missing")), false, false));
    EXPECT_FALSE(QRMFileUtil::CopyDirectory(QRMFile(), QRMFile(S("b")), false, false));
    EXPECT_TRUE(m_platform.commands.empty());
}

TEST_F(QRMFileUtilTest, CopyDirectoryRecursive)
{
    m_platform.runOthersInShell();
    const std::string source = "src dir'; touch injected; '";
    ASSERT_EQ(0, mkdir(source.c_str(), 0755));
    ASSERT_EQ(0, mkdir((source + "/sub").c_str(), 0755));
    Write(source + "/top.txt", "top");
    Write(source + "/sub/deep.txt", "deep");
    ASSERT_EQ(0, mkdir("dst $(touch injected2)", 0755));
    EXPECT_TRUE(QRMFileUtil::CopyDirectory(QRMFile(S(source)), QRMFile(S("dst $(touch injected2)")),
                                           true, false));
    ASSERT_EQ(1u, m_platform.commands.size());
    EXPECT_EQ("cp -R 'src dir'\\''; touch injected; '\\'''/* 'dst $(touch injected2)'",
              m_platform.commands[0]);
    EXPECT_EQ("top", Read("dst $(touch injected2)/top.txt"));
    EXPECT_EQ("deep", Read("dst $(touch injected2)/sub/deep.txt"));
    EXPECT_FALSE(PathExists("injected"));
    EXPECT_FALSE(PathExists("injected2"));
}

TEST_F(QRMFileUtilTest, CopyDirectoryFirstLevelOnly)
{
    m_platform.runOthersInShell();
    ASSERT_EQ(0, mkdir("src", 0755));
    ASSERT_EQ(0, mkdir("src/sub; touch injected", 0755));
    Write("src/sub; touch injected/deep.txt", "deep");
    Write("src/top.txt", "top");
    ASSERT_EQ(0, mkdir("dst", 0755));
    EXPECT_TRUE(QRMFileUtil::CopyDirectory(QRMFile(S("src")), QRMFile(S("dst")), false, false));
    EXPECT_EQ("top", Read("dst/top.txt"));
    EXPECT_TRUE(IsDir("dst/sub; touch injected"));
    EXPECT_FALSE(PathExists("dst/sub; touch injected/deep.txt"));
    EXPECT_FALSE(PathExists("injected"));
    ASSERT_EQ(1u, m_platform.commands.size());
    EXPECT_EQ("mkdir -p 'dst/sub; touch injected'", m_platform.commands[0]);
}

TEST_F(QRMFileUtilTest, ShellQuoting)
{
    EXPECT_EQ("'plain'", QRMFileUtil::QuoteForShell("plain"));
    EXPECT_EQ("''", QRMFileUtil::QuoteForShell(""));
    EXPECT_EQ("'it'\\''s'", QRMFileUtil::QuoteForShell("it's"));
    EXPECT_EQ("'$HOME \"`x`\" ;|&'", QRMFileUtil::QuoteForShell("$HOME \"`x`\" ;|&"));
}
