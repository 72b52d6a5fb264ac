// Planning of the rollback copy: the package descriptor and payload planners
// as plan lists, and the queues the two methods build from them.

#include "RollbackWrapperTest.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace {

class Planning : public RollbackWrapperTest {
protected:
    // A file below the working directory, folders made as needed.
    void Put(const std::string& relative, const std::string& content = "x")
    {
        dir.write(relative, content);
    }
    void Folder(const std::string& relative)
    {
        ASSERT_TRUE(std::filesystem::create_directories(dir.file(relative)) ||
                    std::filesystem::is_directory(dir.file(relative)));
    }
};

struct RelativeCase {
    const char* name;
    int32_t method;
    std::string source;
    std::vector<std::string> plan;
};

void PrintTo(const RelativeCase& c, std::ostream* os) { *os << c.name; }

class RelativePayload : public Planning, public ::testing::WithParamInterface<RelativeCase> {};

} // namespace

TEST_F(Planning, PackageDescriptorBesideTheExecutable)
{
    UpdRollbackWrapper& w = NewWrapper();
    const std::string e = dir.path() + "/";
    {
        Plan plan(w);
        EXPECT_EQ(w.addPackageXMLToList(e, "/payload", plan.list, false, "", DIGEST_SHA256), 0);
        // The folder ends in '/', so the path carries a doubled separator.
        EXPECT_EQ(plan.texts(), std::vector<std::string>{"1 " + e + "/package.xml -> /payload/package.xml"});
        EXPECT_TRUE(Contains(NewLog(), "PackageXMLPath  " + e + "/package.xml"));
    }
    {
        // GPG: the signature is planned without being looked for.
        Plan plan(w);
        EXPECT_EQ(w.addPackageXMLToList(dir.path(), "/payload", plan.list, false, "", DIGEST_GPG), 0);
        EXPECT_EQ(plan.texts(), (std::vector<std::string>{
                                    "1 " + dir.path() + "/package.xml -> /payload/package.xml",
                                    "1 " + dir.path() + "/package.xml.sign -> /payload/package.xml.sign"}));
        EXPECT_TRUE(Contains(NewLog(), "Adding Package.xml Sign File to file list"));
    }
    {
        // A given package path is taken as it stands, even when missing.
        Plan plan(w);
        EXPECT_EQ(w.addPackageXMLToList(e, "tes022/7/current", plan.list, true, "/nowhere/pkg.xml", DIGEST_GPG), 0);
        EXPECT_EQ(plan.texts(), (std::vector<std::string>{
                                    "1 /nowhere/pkg.xml -> tes022/7/current/package.xml",
                                    "1 /nowhere/pkg.xml.sign -> tes022/7/current/package.xml.sign"}));
    }
    {
        Plan plan(w);
        Mark();
        EXPECT_EQ(w.addPackageXMLToList(dir.path() + "/missing", "/payload", plan.list, false, "", DIGEST_SHA256), 85);
        EXPECT_TRUE(plan.list.empty());
        EXPECT_TRUE(Contains(NewLog(), "Could not stat file " + dir.path() + "/missing/package.xml"));
    }
}

TEST_F(Planning, AbsolutePayloadFileGoesByItsNameWhateverTheMethod)
{
    UpdRollbackWrapper& w = NewWrapper();
    Put("payload/fw.bin");
    const std::string path = dir.file("payload/fw.bin");
    for (int32_t method : {ROLLBACK_METHOD_NONE, ROLLBACK_METHOD_WAVEB, ROLLBACK_METHOD_WAVEC}) {
        SCOPED_TRACE(method);
        w.rollbackMethod = method;
        Plan plan(w);
        EXPECT_EQ(w.addPayloadToFileList(path, "/payload", plan.list, true), 0);
        EXPECT_EQ(plan.texts(), std::vector<std::string>{"1 " + path + " -> /payload/fw.bin"});
    }
}

TEST_F(Planning, MissingPayloadFileIs86)
{
    UpdRollbackWrapper& w = NewWrapper();
    for (const std::string& path : {dir.file("payload/none.bin"), std::string()}) {
        SCOPED_TRACE(path);
        Plan plan(w);
        Mark();
        EXPECT_EQ(w.addPayloadToFileList(path, "/payload", plan.list, true), 86);
        EXPECT_TRUE(plan.list.empty());
        EXPECT_TRUE(Contains(NewLog(), "Could not stat file " + path + " in the Payload Directory"));
    }
}

TEST_P(RelativePayload, PlansFolderAndFile)
{
    const RelativeCase& c = GetParam();
    UpdRollbackWrapper& w = NewWrapper();
    Put(c.source);
    w.rollbackMethod = c.method;
    Plan plan(w);
    EXPECT_EQ(w.addPayloadToFileList(c.source, "D", plan.list, true), 0);
    EXPECT_EQ(plan.texts(), c.plan);
}

INSTANTIATE_TEST_SUITE_P(
    ByMethod, RelativePayload,
    ::testing::Values(
        // Under the payload folder: only that folder is dropped, either way.
        RelativeCase{"WaveBPayloadSub", 1, "payload/sub/x.bin", {"8  -> D/sub", "1 payload/sub/x.bin -> D/sub/x.bin"}},
        RelativeCase{"WaveCPayloadSub", 2, "payload/sub/x.bin", {"8  -> D/sub", "1 payload/sub/x.bin -> D/sub/x.bin"}},
        // Elsewhere: WaveB drops any first folder, WaveC keeps the path.
        RelativeCase{"WaveBOtherFolders", 1, "a/b/x.bin", {"8  -> D/b", "1 a/b/x.bin -> D/b/x.bin"}},
        RelativeCase{"WaveCOtherFolders", 2, "a/b/x.bin", {"8  -> D/a/b", "1 a/b/x.bin -> D/a/b/x.bin"}},
        RelativeCase{"WaveBPayloadOnly", 1, "payload/x.bin", {"1 payload/x.bin -> D/x.bin"}},
        RelativeCase{"WaveCPayloadOnly", 2, "payload/x.bin", {"1 payload/x.bin -> D/x.bin"}},
        RelativeCase{"WaveBNoFolder", 1, "x.bin", {"1 x.bin -> D/x.bin"}},
        RelativeCase{"WaveCNoFolder", 2, "x.bin", {"1 x.bin -> D/x.bin"}},
        // "./" components go; WaveB keeps the source text as given.
        RelativeCase{"WaveBDotComponents", 1, "./payload/./sub/x.bin",
                     {"8  -> D/sub", "1 ./payload/./sub/x.bin -> D/sub/x.bin"}},
        RelativeCase{"WaveCDotComponents", 2, "./payload/./sub/x.bin",
                     {"8  -> D/sub", "1 payload/sub/x.bin -> D/sub/x.bin"}},
        // A dot that ends a folder name is part of the name.
        RelativeCase{"WaveCDottedFolderName", 2, "payload/v2./x.bin",
                     {"8  -> D/v2.", "1 payload/v2./x.bin -> D/v2./x.bin"}},
        RelativeCase{"WaveBDottedFolderName", 1, "payload/v2./x.bin",
                     {"8  -> D/v2.", "1 payload/v2./x.bin -> D/v2./x.bin"}},
        // A folder of "./" components alone names no folder to make.
        RelativeCase{"WaveCCurrentFolderOnly", 2, "./x.bin", {"1 x.bin -> D/x.bin"}},
        // No method chosen: nothing is planned.
        RelativeCase{"NoMethod", 0, "payload/sub/x.bin", {}}),
    [](const ::testing::TestParamInfo<RelativeCase>& info) { return info.param.name; });

TEST_F(Planning, PayloadFolderIsWalkedWithItsSubFolders)
{
    UpdRollbackWrapper& w = NewWrapper();
    Put("pl/a.bin");
    Put("pl/sub/b.bin");
    Put("pl/sub/deeper/c.bin");
    Plan plan(w);
    ASSERT_EQ(w.addPayloadToFileList(dir.file("pl"), "/payload", plan.list, false), 0);
    // scandir's order is the file system's: compare as a set, and check that
    // each folder is made before anything is planned into it.
    std::vector<std::string> texts = plan.texts();
    std::vector<std::string> sorted = texts;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{
                          "1 " + dir.file("pl") + "/a.bin -> /payload/a.bin",
                          "1 " + dir.file("pl") + "/sub/b.bin -> /payload/sub/b.bin",
                          "1 " + dir.file("pl") + "/sub/deeper/c.bin -> /payload/sub/deeper/c.bin",
                          "8  -> /payload/sub",
                          "8  -> /payload/sub/deeper"}));
    auto at = [&](const std::string& t) { return std::find(texts.begin(), texts.end(), t) - texts.begin(); };
    EXPECT_LT(at("8  -> /payload/sub"), at("1 " + dir.file("pl") + "/sub/b.bin -> /payload/sub/b.bin"));
    EXPECT_LT(at("8  -> /payload/sub/deeper"),
              at("1 " + dir.file("pl") + "/sub/deeper/c.bin -> /payload/sub/deeper/c.bin"));
}

TEST_F(Planning, EmptyOrUnreadablePayloadFolderIs87)
{
    UpdRollbackWrapper& w = NewWrapper();
    Folder("empty");
    Folder("onlyEmptySub/hollow");
    Put("withEmpty/a.bin");
    Folder("withEmpty/hollow");
    for (const char* folder : {"empty", "missing", "onlyEmptySub", "withEmpty"}) {
        SCOPED_TRACE(folder);
        Plan plan(w);
        Mark();
        EXPECT_EQ(w.addPayloadToFileList(dir.file(folder), "/payload", plan.list, false), 87);
        EXPECT_TRUE(Contains(NewLog(), "No Files found in Payload Directory"));
    }
}

TEST_F(Planning, DanglingEntryInPayloadFolderIs86)
{
    UpdRollbackWrapper& w = NewWrapper();
    Folder("pl");
    ASSERT_EQ(::symlink("/nonexistent/target", dir.file("pl/broken").c_str()), 0);
    Plan plan(w);
    EXPECT_EQ(w.addPayloadToFileList(dir.file("pl"), "/payload", plan.list, false), 86);
    EXPECT_TRUE(Contains(NewLog(), "Could not stat file broken in the Payload Directory"));
}
