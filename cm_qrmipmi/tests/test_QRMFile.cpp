#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "PlatformLayer.h"
#include "QRMFile.h"
#include "QRMFileUtil.h"
#include "QRMFileTestSupport.h"

namespace {

// Every test works in a fresh directory under /tmp.
class QRMFileTest : public ScratchDirectoryTest {
protected:
    QRMFileTest() : ScratchDirectoryTest("/tmp/qrmfile-XXXXXX") {}
};

}  // namespace

TEST_F(QRMFileTest, DefaultObjectNamesNoFile)
{
    QRMFile none;
    EXPECT_FALSE(none.HasPath());
    EXPECT_FALSE(none.Exists());
    EXPECT_FALSE(none.IsEmpty());
    EXPECT_FALSE(none.Delete());
    EXPECT_FALSE(none.Touch());
    EXPECT_FALSE(none.HasValidPath());
    EXPECT_FALSE(none.IsValidName());
    EXPECT_FALSE(none.ParentExists());
    EXPECT_FALSE(none.MakeDirectory(true, nullptr));
    EXPECT_FALSE(none.Create(true, nullptr));
    EXPECT_EQ(0ull, none.GetSize());
    EXPECT_TRUE(none.GetName().empty());
    EXPECT_TRUE(none.GetBaseName().empty());
    EXPECT_TRUE(none.GetExtension().empty());
    EXPECT_TRUE(none.GetParentPath(true).empty());
    EXPECT_TRUE(none.GetParentPath(false).empty());
    EXPECT_FALSE(none.RemoveName());
    EXPECT_FALSE(none.AppendName(S("x")));
    EXPECT_TRUE(m_platform.commands.empty());
}

TEST_F(QRMFileTest, MarkerFileExistsOnlyWhilePresent)
{
    QRMFile marker(S("zordebuglog"));
    EXPECT_FALSE(marker.Exists());
    Write("zordebuglog", "");
    EXPECT_TRUE(marker.Exists());
    ASSERT_EQ(0, remove("zordebuglog"));
    EXPECT_FALSE(marker.Exists());
}

TEST_F(QRMFileTest, ValueSemantics)
{
    QRMFile a(S("dir/a.txt"));
    QRMFile b(a);
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a != b);
    QRMFile c;
    c = a;
    EXPECT_TRUE(c == a);
    EXPECT_EQ(0, c.SetPath(S("dir/b.txt")));
    EXPECT_TRUE(c != a);
    EXPECT_EQ("dir/a.txt", Text(a.GetPath()));
    EXPECT_TRUE(QRMFile(S("a")) != QRMFile(S("a/")));
}

struct NameCase {
    const char* path;
    const char* name;
    const char* baseName;
    const char* extension;
};

TEST_F(QRMFileTest, NameParts)
{
    const NameCase cases[] = {
        {"a/b", "b", "b", ""},
        {"a/b/", "b", "", ""},
        {"a//", "", "", ""},
        {"b", "b", "b", ""},
        {"/", "", "", ""},
        {"dir/file.tar.gz", "file.tar.gz", "file.tar", "gz"},
        {"x.d/readme", "readme", "readme", ""},
        {".bashrc", ".bashrc", "", "bashrc"},
        {"a/b.c/", "b.c", "", "c"},
        {"file", "file", "file", ""},
        {"README", "README", "README", ""},
        {"file.", "file.", "file", ""},
    };
    for (const NameCase& c : cases) {
        QRMFile f(S(c.path));
        EXPECT_EQ(c.name, Text(f.GetName())) << c.path;
        EXPECT_EQ(c.baseName, Text(f.GetBaseName())) << c.path;
        EXPECT_EQ(c.extension, Text(f.GetExtension())) << c.path;
    }
}

TEST_F(QRMFileTest, ParentPath)
{
    EXPECT_EQ("a/b", Text(QRMFile(S("a/b/c")).GetParentPath(false)));
    EXPECT_EQ("a/b/", Text(QRMFile(S("a/b/c")).GetParentPath(true)));
    EXPECT_EQ("", Text(QRMFile(S("/b")).GetParentPath(false)));
    EXPECT_EQ("/", Text(QRMFile(S("/b")).GetParentPath(true)));
    // A bare name lies in the working directory: no parent text of its own.
    EXPECT_EQ("", Text(QRMFile(S("b")).GetParentPath(false)));
    EXPECT_EQ("", Text(QRMFile(S("b")).GetParentPath(true)));
}

struct EditCase {
    const char* path;
    const char* argument;
    bool result;
    const char* after;
};

TEST_F(QRMFileTest, SetName)
{
    const EditCase cases[] = {
        {"a/b.txt", "new", true, "a/new"},
        {"b.txt", "new", true, "new"},
        {"a/b/", "c", true, "a/c/"},
        {"a/b", "", false, "a/b"},
        {"a//", "c", false, "a//"},
    };
    for (const EditCase& c : cases) {
        QRMFile f(S(c.path));
        EXPECT_EQ(c.result, f.SetName(S(c.argument))) << c.path;
        EXPECT_EQ(c.after, Text(f.GetPath())) << c.path;
    }
}

TEST_F(QRMFileTest, SetExtension)
{
    const EditCase cases[] = {
        {"a/b.log", "txt", true, "a/b.txt"},
        {"a/README", "txt", true, "a/README.txt"},
        {"a/file.", "txt", true, "a/file..txt"},
        {"a/b.log", "", false, "a/b.log"},
        {"a/b.d/", "txt", true, "a/b.txt/"},
    };
    for (const EditCase& c : cases) {
        QRMFile f(S(c.path));
        EXPECT_EQ(c.result, f.SetExtension(S(c.argument))) << c.path;
        EXPECT_EQ(c.after, Text(f.GetPath())) << c.path;
    }
}

TEST_F(QRMFileTest, AppendName)
{
    const EditCase cases[] = {
        {"a/b", "c", true, "a/b/c"},
        {"a/b/", "c", true, "a/b/c"},
        {"a/b", "c:d", false, "a/b"},
        {"a/b", "c/d", false, "a/b"},
        {"a/b", "", false, "a/b"},
    };
    for (const EditCase& c : cases) {
        QRMFile f(S(c.path));
        EXPECT_EQ(c.result, f.AppendName(S(c.argument))) << c.path;
        EXPECT_EQ(c.after, Text(f.GetPath())) << c.path;
    }
}

TEST_F(QRMFileTest, RemoveName)
{
    const EditCase cases[] = {
        {"a/b", "", true, "a"},
        {"a/b/", "", true, "a"},
        {"/b", "", true, ""},
        {"b", "", true, "b"},
        {"x/y/z.txt", "", true, "x/y"},
    };
    for (const EditCase& c : cases) {
        QRMFile f(S(c.path));
        EXPECT_EQ(c.result, f.RemoveName()) << c.path;
        EXPECT_EQ(c.after, Text(f.GetPath())) << c.path;
    }
}

TEST_F(QRMFileTest, PathAndNameValidity)
{
    EXPECT_TRUE(QRMFile(S("/tmp/x y/z.txt")).HasValidPath());
    EXPECT_TRUE(QRMFile(S("a//b/")).HasValidPath());
    EXPECT_TRUE(QRMFile(S("c:/x")).HasValidPath());
    for (const char* bad : {"a/b?c", "a\\b", "a/*", "a/<b", "a/\"b", "b>/c", "a|b"})
        EXPECT_FALSE(QRMFile(S(bad)).HasValidPath()) << bad;

    EXPECT_FALSE(QRMFile(S("a/b*")).IsValidName());
    EXPECT_TRUE(QRMFile(S("a?/b")).IsValidName());
    EXPECT_TRUE(QRMFile(S("a/b.txt")).IsValidName());
    EXPECT_FALSE(QRMFile(S("a//")).IsValidName());
}

TEST_F(QRMFileTest, ParentExists)
{
    ASSERT_EQ(0, mkdir("x", 0755));
    EXPECT_TRUE(QRMFile(S("x/file")).ParentExists());
    EXPECT_TRUE(QRMFile(S("x/sub/")).ParentExists());
    EXPECT_FALSE(QRMFile(S("missing/file")).ParentExists());
    // A bare name's parent is the working directory, a top-level name's the root.
    EXPECT_TRUE(QRMFile(S("file")).ParentExists());
    EXPECT_TRUE(QRMFile(S("/file-nowhere")).ParentExists());
    EXPECT_TRUE(QRMFile(S(m_dir.c_str()) + "/x/y").ParentExists());
    EXPECT_FALSE(QRMFile(S("x//")).ParentExists());
}

TEST_F(QRMFileTest, SizeOfFilesAndDirectories)
{
    Write("five", "12345");
    EXPECT_EQ(5ull, QRMFile(S("five")).GetSize());
    EXPECT_FALSE(QRMFile(S("five")).IsEmpty());

    ASSERT_EQ(0, mkdir("d", 0755));
    EXPECT_EQ(0ull, QRMFile(S("d")).GetSize());
    EXPECT_TRUE(QRMFile(S("d")).IsEmpty());
    Write("d/one", "1");
    Write("d/two", "22");
    ASSERT_EQ(0, mkdir("d/sub", 0755));
    EXPECT_EQ(3ull, QRMFile(S("d")).GetSize());

    QRMFile missing(S("missing"));
    EXPECT_EQ(0ull, missing.GetSize());
    EXPECT_TRUE(missing.IsEmpty());
}

TEST_F(QRMFileTest, DeleteRemovesFileButOnlyEmptiesDirectory)
{
    Write("f", "data");
    EXPECT_TRUE(QRMFile(S("f")).Delete());
    EXPECT_FALSE(PathExists("f"));
    EXPECT_FALSE(QRMFile(S("f")).Delete());

    ASSERT_EQ(0, mkdir("d", 0755));
    Write("d/one", "1");
    ASSERT_EQ(0, mkdir("d/empty", 0755));
    ASSERT_EQ(0, mkdir("d/full", 0755));
    Write("d/full/keep", "k");
    EXPECT_FALSE(QRMFile(S("d")).Delete());
    EXPECT_TRUE(IsDir("d"));
    EXPECT_FALSE(PathExists("d/one"));
    EXPECT_FALSE(PathExists("d/empty"));
    EXPECT_TRUE(PathExists("d/full/keep"));
}

TEST_F(QRMFileTest, DeleteDirectory)
{
    ASSERT_EQ(0, mkdir("empty", 0755));
    QRMFile empty(S("empty"));
    EXPECT_FALSE(QRMFileUtil::DeleteDirectory(empty, true));
    EXPECT_FALSE(PathExists("empty"));

    ASSERT_EQ(0, mkdir("full", 0755));
    Write("full/f", "x");
    QRMFile full(S("full"));
    EXPECT_TRUE(QRMFileUtil::DeleteDirectory(full, true));
    EXPECT_TRUE(PathExists("full/f"));
    EXPECT_FALSE(QRMFileUtil::DeleteDirectory(full, false));
    EXPECT_FALSE(PathExists("full/f"));
    EXPECT_TRUE(IsDir("full"));

    Write("plain", "x");
    QRMFile plain(S("plain"));
    EXPECT_TRUE(QRMFileUtil::DeleteDirectory(plain, false));
    EXPECT_TRUE(PathExists("plain"));
    QRMFile none;
    EXPECT_TRUE(QRMFileUtil::DeleteDirectory(none, true));
}

TEST_F(QRMFileTest, MakeDirectory)
{
    const mode_t oldMask = umask(022);
    ASSERT_EQ(0, mkdir("x", 0755));
    QRMFile xy(S("x/y"));
    EXPECT_TRUE(xy.MakeDirectory(false, nullptr));
    struct stat info;
    ASSERT_EQ(0, stat("x/y", &info));
    EXPECT_EQ(0755u, info.st_mode & 0777u);   // 0775 less the umask
    EXPECT_FALSE(xy.MakeDirectory(false, nullptr));
    EXPECT_FALSE(xy.MakeDirectory(true, nullptr));

    QRMFile orphan(S("missing/y"));
    EXPECT_FALSE(orphan.MakeDirectory(false, nullptr));
    EXPECT_FALSE(PathExists("missing"));
    umask(oldMask);
}

TEST_F(QRMFileTest, RecursiveMakeDirectoryCreatesEveryMissingLevel)
{
    QRMFile deep(S("p/q/r"));
    EXPECT_TRUE(deep.MakeDirectory(true, nullptr));
    EXPECT_TRUE(IsDir("p/q/r"));

    QRMFile absolute(S(m_dir.c_str()) + "/s/t/");
    EXPECT_TRUE(absolute.MakeDirectory(true, nullptr));
    EXPECT_TRUE(IsDir("s/t"));

    // A level blocked by a file must not be reported as created.
    Write("blocker", "x");
    QRMFile blocked(S("blocker/sub"));
    EXPECT_FALSE(blocked.MakeDirectory(true, nullptr));
}

TEST_F(QRMFileTest, Create)
{
    Write("existing", "contents");
    QRMFile existing(S("existing"));
    EXPECT_FALSE(existing.Create(false, nullptr));
    EXPECT_EQ("contents", Read("existing"));
    EXPECT_TRUE(existing.Create(true, nullptr));
    EXPECT_EQ("", Read("existing"));
    EXPECT_TRUE(PathExists("existing"));

    QRMFile fresh(S("fresh"));
    EXPECT_TRUE(fresh.Create(false, nullptr));
    EXPECT_TRUE(PathExists("fresh"));

    QRMFile orphan(S("nodir/f"));
    EXPECT_FALSE(orphan.Create(false, nullptr));
    EXPECT_FALSE(PathExists("nodir"));

    QRMFile nested(S("made/by/create/f.txt"));
    EXPECT_TRUE(nested.Create(true, nullptr));
    EXPECT_TRUE(PathExists("made/by/create/f.txt"));
}

TEST_F(QRMFileTest, CreateNeverFollowsALinkOrCutsAnythingButARegularFile)
{
    Write("victim", "precious");
    ASSERT_EQ(0, symlink("victim", "link"));
    ASSERT_EQ(0, symlink("made-through-link", "dangling"));
    ASSERT_EQ(0, mkfifo("fifo", 0600));
    for (const bool makeParent : {false, true}) {
        for (const char* name : {"link", "dangling", "fifo"})
            EXPECT_FALSE(QRMFile(S(name)).Create(makeParent, nullptr)) << name << " " << makeParent;
    }
    EXPECT_EQ("precious", Read("victim"));
    EXPECT_FALSE(PathExists("made-through-link"));
}

TEST_F(QRMFileTest, TouchRunsQuotedCommandOnExistingFilesOnly)
{
    ASSERT_EQ(0, mkdir("d", 0755));
    EXPECT_FALSE(QRMFile(S("d")).Touch());
    EXPECT_FALSE(QRMFile(S("missing")).Touch());
    EXPECT_TRUE(m_platform.commands.empty());

    Write("plain", "");
    EXPECT_TRUE(QRMFile(S("plain")).Touch());
    ASSERT_EQ(1u, m_platform.commands.size());
    EXPECT_EQ("touch -c 'plain'", m_platform.commands[0]);
}

TEST_F(QRMFileTest, TouchCannotBeTurnedIntoAnotherCommand)
{
    m_platform.runOthersInShell();
    const std::string hostile = "a b'; touch injected; echo '\"$(touch injected2)`touch injected3`";
    Write(hostile, "");
    EXPECT_TRUE(QRMFile(S(hostile.c_str())).Touch());
    ASSERT_EQ(1u, m_platform.commands.size());
    EXPECT_FALSE(PathExists("injected"));
    EXPECT_FALSE(PathExists("injected2"));
    EXPECT_FALSE(PathExists("injected3"));
    EXPECT_TRUE(PathExists(hostile));
}

TEST_F(QRMFileTest, IsDirectory)
{
    ASSERT_EQ(0, mkdir("d", 0755));
    Write("f", "");
    ASSERT_EQ(0, mkfifo("fifo", 0600));
    EXPECT_TRUE(QRMFileUtil::IsDirectory(S("d")));
    EXPECT_TRUE(QRMFileUtil::IsDirectory(S("d\\")));
    EXPECT_TRUE(QRMFileUtil::IsDirectory(S(m_dir.c_str())));
    EXPECT_FALSE(QRMFileUtil::IsDirectory(S("f")));
    EXPECT_FALSE(QRMFileUtil::IsDirectory(S("fifo")));
    EXPECT_FALSE(QRMFileUtil::IsDirectory(S("missing")));
    EXPECT_FALSE(QRMFileUtil::IsDirectory(QRMString()));
}

TEST_F(QRMFileTest, PathVocabulary)
{
    EXPECT_EQ("/", Text(QRMFileUtil::GetSeparator()));
    const std::vector<QRMString> illegal = QRMFileUtil::GetIllegalCharacters();
    const char* expected[] = {"\\", "/", "?", "*", "<", "\"", ">", "|"};
    ASSERT_EQ(8u, illegal.size());
    for (size_t i = 0; i < illegal.size(); ++i)
        EXPECT_EQ(expected[i], Text(illegal[i]));
    EXPECT_TRUE(QRMFileUtil::GetReservedNames().empty());
}

TEST_F(QRMFileTest, AttributeOperationsOnlyAnswer)
{
    Write("f", "data");
    QRMFile f(S("f"));
    EXPECT_TRUE(f.SetBool(QRMFile::QRM_FILE_BOOL_EXISTS, false));
    EXPECT_EQ(8, static_cast<int>(QRMFile::QRM_FILE_BOOL_EXISTS));
    EXPECT_FALSE(f.SetBool(QRMFile::QRM_FILE_BOOL_READONLY, true));
    EXPECT_FALSE(QRMFile(S("missing")).SetBool(QRMFile::QRM_FILE_BOOL_EXISTS, true));
    EXPECT_FALSE(QRMFile().SetBool(QRMFile::QRM_FILE_BOOL_EXISTS, true));
    EXPECT_EQ("data", Read("f"));

    EXPECT_FALSE(f.GetTime(QRMFile::QRM_FILE_TIME_MODIFIED).IsValid());
    EXPECT_FALSE(f.SetTime(QRMFile::QRM_FILE_TIME_MODIFIED, QRMTime(5)));
    EXPECT_FALSE(f.GetBool(QRMFile::QRM_FILE_BOOL_EXISTS));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_FALSE(f.CanOpen(QRMFile::QRM_FILE_ACCESS_READ, QRMFile::QRM_FILE_SHARE_READ));
    EXPECT_EQ(0, f.ResolveAlias());
    f.ResolvePathAliases();
    EXPECT_EQ("f", Text(f.GetPath()));
}

TEST_F(QRMFileTest, MultiByteNamesReachTheFileSystemAsUtf8)
{
    const char* name = "caf\xC3\xA9-\xF0\x9F\x98\x80.txt";
    QRMFile f(S(name));
    EXPECT_TRUE(f.Create(false, nullptr));
    EXPECT_TRUE(PathExists(name));
    EXPECT_EQ("txt", Text(f.GetExtension()));
    EXPECT_TRUE(f.Delete());
    EXPECT_FALSE(PathExists(name));
}
