// The wrapper's path helpers: tables of paths and what each helper makes of
// them, and the plan list's own bookkeeping.

#include "RollbackWrapperTest.h"

#include <unistd.h>

namespace {

class PathHelpers : public RollbackWrapperTest {};

struct PathCase {
    std::string path;
    std::string baseFolder;
    std::string stripped;
    std::string directory;
    std::string fileName;
    bool absolute;
};

} // namespace

TEST_F(PathHelpers, SplitTable)
{
    UpdRollbackWrapper& w = NewWrapper();
    const PathCase cases[] = {
        // path                 base       stripped        directory    file name   absolute
        {"payload/a/b.bin", "payload", "a/b.bin", "payload/a", "b.bin", false},
        {"/payload/b.bin", "", "payload/b.bin", "/payload", "b.bin", true},
        {"abc", "", "abc", "", "abc", false},
        {"/x", "", "x", "", "x", true},
        {"a/b/c.bin", "a", "b/c.bin", "a/b", "c.bin", false},
        {"a/b/", "a", "b/", "a/b", "", false},
        {"/c.bin", "", "c.bin", "", "c.bin", true},
        {"c.bin", "", "c.bin", "", "c.bin", false},
        {"", "", "", "", "", false},
        {"/", "", "", "", "", true},
        // A backslash separates as well; whichever separator comes first
        // ends the first folder.
        {"payload\\a\\b.bin", "payload", "a\\b.bin", "payload\\a", "b.bin", false},
        {"a\\b/c.bin", "a", "b/c.bin", "a\\b", "c.bin", false},
        {"a/b\\c.bin", "a", "b\\c.bin", "a/b", "c.bin", false},
        {"payload\\sub/x.bin", "payload", "sub/x.bin", "payload\\sub", "x.bin", false},
        {"\\x/y", "", "x/y", "\\x", "y", false},
        {"E/payload/fw.bin", "E", "payload/fw.bin", "E/payload", "fw.bin", false},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE("path \"" + c.path + "\"");
        std::string path = c.path;
        EXPECT_EQ(w.getBaseFolder(path), c.baseFolder);
        EXPECT_EQ(w.stripBaseFolder(path), c.stripped);
        EXPECT_EQ(w.getDirectoryFromPath(path), c.directory);
        EXPECT_EQ(w.getFileNameFromPath(path), c.fileName);
        EXPECT_EQ(w.isAbsolutePath(path), c.absolute);
        EXPECT_EQ(path, c.path);   // none of them changes its argument
    }
}

TEST_F(PathHelpers, OnlyWholeCurrentFolderComponentsAreRemoved)
{
    UpdRollbackWrapper& w = NewWrapper();
    const std::pair<std::string, std::string> cases[] = {
        {"./payload/./x.bin", "payload/x.bin"},
        {"././x.bin", "x.bin"},
        {"a/./././b", "a/b"},
        {"/./x", "/x"},
        {".//x.bin", "x.bin"},      // never turns a relative path into an absolute one
        {"a/.//b", "a/b"},
        {"a/.", "a"},
        {".", ""},
        // The root stays the root.
        {"/.", "/"},
        {"/./.", "/"},
        {"/.//", "/"},
        // Either separator, in one call.
        {".\\.", ""},
        {".\\x.bin", "x.bin"},
        {"a\\.\\b", "a\\b"},
        {"a/.\\.", "a"},
        {".\\/x", "x"},
        {"\\.", "\\"},
        // Dots that end a longer name are part of it.
        {"../payload/x.bin", "../payload/x.bin"},
        {"x./y.bin", "x./y.bin"},
        {"a/x./b", "a/x./b"},
        {"a/../b", "a/../b"},
        {"...//x", "...//x"},
        {".hidden/x", ".hidden/x"},
        {"payload", "payload"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("path \"" + c.first + "\"");
        EXPECT_EQ(w.removeCurrentDirComponents(c.first), c.second);
    }
}

// Whatever the path, one call leaves nothing for a second call to remove,
// keeps an absolute path absolute and never makes a relative one absolute.
TEST_F(PathHelpers, CurrentFolderComponentsGoInOneCall)
{
    UpdRollbackWrapper& w = NewWrapper();
    const char alphabet[] = {'.', '/', '\\', 'a'};
    std::vector<std::string> paths{""};
    for (size_t begin = 0, length = 0; length < 7; ++length) {
        const size_t end = paths.size();
        for (size_t i = begin; i < end; ++i)
            for (char c : alphabet)
                paths.push_back(paths[i] + c);
        begin = end;
    }
    for (const std::string& path : paths) {
        const std::string once = w.removeCurrentDirComponents(path);
        ASSERT_EQ(w.removeCurrentDirComponents(once), once) << "path \"" << path << "\"";
        ASSERT_EQ(!once.empty() && once[0] == '/', !path.empty() && path[0] == '/') << "path \"" << path << "\"";
    }
    // Long paths take one pass, not one pass per component.
    std::string many;
    for (int i = 0; i < 200000; ++i)
        many += "./";
    EXPECT_EQ(w.removeCurrentDirComponents(many + "x.bin"), "x.bin");
    EXPECT_EQ(w.removeCurrentDirComponents("/" + many + "."), "/");
}

TEST_F(PathHelpers, ReplaceWithReplacesUntilNoneIsLeft)
{
    UpdRollbackWrapper& w = NewWrapper();
    EXPECT_EQ(w.replaceWith("./payload/./x.bin", "./", ""), "payload/x.bin");
    EXPECT_EQ(w.replaceWith("a-b-c", "-", "+"), "a+b+c");
    // Searched again from the start: pieces joined by a replacement are found.
    EXPECT_EQ(w.replaceWith("aabb", "ab", ""), "");
    EXPECT_EQ(w.replaceWith("nothing here", "./", ""), "nothing here");
    EXPECT_EQ(w.replaceWith("abc", "", "x"), "abc");
    // A replacement that holds the searched text ends after one pass
    // instead of growing for ever.
    EXPECT_EQ(w.replaceWith("a/b/c", "/", "//"), "a//b//c");
    EXPECT_EQ(w.replaceWith("xx", "x", "xy"), "xyxy");
    // Nor does a replacement that builds the searched text with what
    // follows it: what a replacement wrote is not searched again, so the
    // result grows by the replacements alone.
    EXPECT_EQ(w.replaceWith("/..", "/.", ".//"), ".//.");
    ASSERT_EQ(w.replaceWith("/" + std::string(12, '.'), "/.", ".//"), ".//" + std::string(11, '.'));
    ASSERT_EQ(w.replaceWith("x/" + std::string(12, '.') + "/.", "/.", ".//"),
              "x.//" + std::string(11, '.') + ".//");
    const std::string many = "/" + std::string(100000, '.');
    EXPECT_EQ(w.replaceWith(many, "/.", ".//"), ".//" + std::string(99999, '.'));
    std::string alternating;
    for (int i = 0; i < 50000; ++i)
        alternating += "/.";
    EXPECT_EQ(w.replaceWith(alternating, "/.", ".//").size(), 150000u);
}

TEST_F(PathHelpers, CurrentDirectoryWithoutTrailingSeparator)
{
    UpdRollbackWrapper& w = NewWrapper();
    EXPECT_EQ(w.getCurrentDir(), dir.path());

    // Longer than the 1024 bytes the helper takes: it says so and gives
    // nothing rather than a cut path.
    std::string deep = dir.path();
    while (deep.size() < 1100) {
        deep += "/" + std::string(100, 'd');
        ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0);
    }
    ASSERT_EQ(::chdir(deep.c_str()), 0);
    EXPECT_EQ(w.getCurrentDir(), "");
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    EXPECT_TRUE(Contains(NewLog(), "Could not get current working directory"));
}

TEST_F(PathHelpers, AddToListAppendsInOrderAndLogsBothPaths)
{
    UpdRollbackWrapper& w = NewWrapper();
    Plan plan(w);
    w.addToList(plan.list, "/src/a.bin", "tes022/1/current/a.bin", filecopy);
    w.addToList(plan.list, "", "tes022/1/current", dirmake);
    w.addToList(plan.list, "/src/a.bin", "tes022/1/current/a.bin", filecopy);   // not merged here
    EXPECT_EQ(plan.texts(), (std::vector<std::string>{"1 /src/a.bin -> tes022/1/current/a.bin",
                                                      "8  -> tes022/1/current",
                                                      "1 /src/a.bin -> tes022/1/current/a.bin"}));
    const std::vector<std::string> log = NewLog();
    const std::vector<std::string> first(log.begin(), log.begin() + 4);
    EXPECT_EQ(first, (std::vector<std::string>{"Entering UpdRollbackWrapper::addToList", "/src/a.bin",
                                               "tes022/1/current/a.bin", "Leaving UpdRollbackWrapper::addToList"}));
    // Plan's destructor frees the entries; the leak checker of the
    // sanitizer build holds it to that.
}
