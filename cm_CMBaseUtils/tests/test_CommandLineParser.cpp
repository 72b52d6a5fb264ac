#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CommandLineParser.h"
#include "Logger.h"
#include "PlatformLayer.h"
#include "TempDir.h"

namespace {

struct ParseCase {
    const char* name;
    std::vector<std::string> words;  // without the program name
    bool markerBefore;
    bool accepted;
    bool usagePrinted;
    bool inventory;
    bool update;
    bool debug;
    std::string debugFile;
    std::string outputFile;
    bool markerAfter;
};

struct ParseResult {
    bool accepted;
    std::string stdoutText;
};

ParseResult parse(CCommandLineParser& parser, const std::vector<std::string>& words)
{
    std::vector<std::string> storage;
    storage.push_back("nvmepcissd");
    storage.insert(storage.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(&s[0]);
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    bool accepted = parser.parseCLI(static_cast<int>(storage.size()), argv.data());
    return {accepted, testing::internal::GetCapturedStdout()};
}

const std::string kUsage =
    "\nUsage: -h\n\tProvides detailed help information\n\nUsage: -i [-o <output filename>] [-debug]\n"
    "\tProvides inventory information of all identified devices.\n\t-o Specifies the output filename.\n"
    "\t-d Specifies to create a debug log file.\n\n"
    "Usage: -u [-s <image folder>] [-f] [-o <output filename>] [-debug [filename]]\n" +
    std::string(75, '=') + "\n";

const ParseCase kCases[] = {
    // name, words, marker before, accepted, usage, -i, -u, debug, debug file, output, marker after
    {"NoArguments", {}, false, false, true, false, false, false, "debug.log", "", false},
    {"HelpAlone", {"-h"}, false, true, true, false, false, false, "debug.log", "", false},
    {"InventoryThenHelp", {"-i", "-h"}, false, true, true, true, false, false, "debug.log", "", false},
    {"HelpStopsReading", {"-h", "-bogus"}, false, true, true, false, false, false, "debug.log", "", false},
    {"OutputAsLastWord", {"-i", "-o"}, false, false, true, true, false, false, "debug.log", "", false},
    {"OutputTakesAnyWord", {"-o", "-i"}, false, true, false, false, false, false, "debug.log", "-i", false},
    {"DebugWordOfUsageRejected", {"-debug"}, false, false, true, false, false, false, "debug.log", "", false},
    {"ImageFolderWordRejected", {"-s", "x"}, false, false, true, false, false, false, "debug.log", "", false},
    {"UpperCaseRejected", {"-U"}, false, false, true, false, false, false, "debug.log", "", false},
    {"LongerWordRejected", {"-uu"}, false, false, true, false, false, false, "debug.log", "", false},
    {"UpdateThenDebug", {"-u", "-d"}, false, true, false, false, true, true, "debug_update.log", "", true},
    {"UpdateDebugWithName", {"-u", "-d", "mine.log"}, false, true, false, false, true, true, "mine.log", "", true},
    {"InventoryDebugWithName", {"-i", "-d", "my.log"}, false, true, false, true, false, true, "my.log", "", true},
    {"DebugBeforeUpdateHasNoName", {"-d", "-u"}, false, true, false, false, true, true, "", "", true},
    {"DebugAlone", {"-d"}, false, true, false, false, false, true, "", "", true},
    // A word after "-d" that begins with "-" is the next option, not a name.
    {"DebugLeavesOptionToBeRead", {"-i", "-d", "-u"}, false, true, false, true, true, true, "debug_inv.log", "",
     true},
    {"DebugLeavesUnknownOptionToBeRejected", {"-d", "-x"}, false, false, true, false, false, true, "", "", true},
    {"MarkerPicksLaterRun", {"-i", "-u"}, true, true, false, true, true, true, "debug_update.log", "", true},
    {"MarkerPicksLaterRunInverse", {"-u", "-i"}, true, true, false, true, true, true, "debug_inv.log", "", true},
    {"MarkerWithoutRun", {"-f"}, true, true, false, false, false, true, "", "", true},
    {"HelpIgnoresMarker", {"-h"}, true, true, true, false, false, false, "debug.log", "", true},
    {"NoMarkerNoDebug", {"-i"}, false, true, false, true, false, false, "debug.log", "", false},
    {"LaterOutputWins", {"-o", "a.xml", "-i", "-o", "b.xml"}, false, true, false, true, false, false, "debug.log",
     "b.xml", false},
    {"VerifyAndForce", {"-v", "-f"}, false, true, false, false, false, false, "debug.log", "", false},
};

class ParseCli : public testing::TestWithParam<ParseCase> {};

} // namespace

TEST_P(ParseCli, Words)
{
    const ParseCase& c = GetParam();
    TempDir dir;
    if (c.markerBefore)
        dir.write(strEnableLogFileName, "");
    CCommandLineParser parser;
    ParseResult r = parse(parser, c.words);

    EXPECT_EQ(r.accepted, c.accepted);
    EXPECT_EQ(r.stdoutText, c.usagePrinted ? kUsage : std::string());
    EXPECT_EQ(parser.isInventory(), c.inventory);
    EXPECT_EQ(parser.isUpdate(), c.update);
    EXPECT_EQ(parser.isDebug(), c.debug);
    EXPECT_EQ(parser.getDebugFilename(), c.debugFile);
    EXPECT_EQ(parser.getOutputFileName(), c.outputFile);
    EXPECT_EQ(dir.exists(strEnableLogFileName), c.markerAfter);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseCli, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

TEST(ParseCliFlags, ForceAndVerifyAreRecorded)
{
    TempDir dir;
    CCommandLineParser parser;
    EXPECT_TRUE(parse(parser, {"-f", "-v"}).accepted);
    EXPECT_TRUE(parser.isForceMode());
    EXPECT_TRUE(parser.isVerify());
}

TEST(ParseCliMarker, DebugEmptiesAnExistingMarker)
{
    TempDir dir;
    dir.write(strEnableLogFileName, "something");
    CCommandLineParser parser;
    EXPECT_TRUE(parse(parser, {"-d"}).accepted);
    EXPECT_EQ(dir.read(strEnableLogFileName), "");
}

TEST(ParseCliUsage, TextIs381Characters)
{
    EXPECT_EQ(kUsage.size(), 381u);
    EXPECT_EQ(std::string(kUsageText), kUsage);
}

// "-d" creates the marker as root in the working directory: a link planted
// at its name is not followed, so the file it points to is not emptied.
TEST(ParseCliMarker, PlantedLinkIsNotFollowed)
{
    TempDir dir;
    dir.write("victim", "precious");
    ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file(strEnableLogFileName).c_str()), 0);
    EXPECT_FALSE(CPlatformLayer::CreateEmptyZORDebuLogFile());

    CCommandLineParser parser;
    EXPECT_TRUE(parse(parser, {"-i", "-d"}).accepted);
    EXPECT_TRUE(parser.isDebug());
    EXPECT_EQ(dir.read("victim"), "precious");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file(strEnableLogFileName)));
}

TEST(ParseCliMarker, MarkerNameHeldByAFifoDoesNotHang)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file(strEnableLogFileName).c_str(), 0600), 0);
    EXPECT_FALSE(CPlatformLayer::CreateEmptyZORDebuLogFile());
    // Its presence is tested without waiting for a writer.
    CCommandLineParser parser;
    EXPECT_TRUE(parse(parser, {"-i"}).accepted);
    EXPECT_TRUE(parser.isDebug());
    EXPECT_TRUE(std::filesystem::is_fifo(dir.file(strEnableLogFileName)));
}
