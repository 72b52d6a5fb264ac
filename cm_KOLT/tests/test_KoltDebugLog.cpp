// "KOLT_DBG.log": switched on by the marker file when a client is built,
// closed when it is destroyed, one line per message in its own layout.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>

#include "KoltTestSupport.h"
#include "OpenDescriptors.h"

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(KoltDebugLog, WithoutTheMarkerNothingIsWritten)
{
    TempDir dir;
    OfflineClientHost offline;
    {
        secureTessa client;
        EXPECT_FALSE(bTessaDebugLog);
        logTessaMsg("x/y/Unit.cpp", 7, "not written");
    }
    EXPECT_FALSE(dir.exists("KOLT_DBG.log"));
}

TEST(KoltDebugLog, LineLayoutIsTimeFileLineTextWithoutColumnWidths)
{
    TempDir dir;
    dir.write("zordebuglog", "");
    OfflineClientHost offline;
    {
        secureTessa client;
        EXPECT_TRUE(bTessaDebugLog);
        logTessaMsg("/build/cm_KOLT/common/source/IPMIRequest.cpp", 42, "a message");
        logTessaMsg("NoSlash.cpp", 7, "two\n");
        logTessaMsg("dir/", 3, "empty name");
    }
    EXPECT_FALSE(bTessaDebugLog);

    const std::vector<std::string> lines = Lines(dir.read("KOLT_DBG.log"));
    const std::string stamp = R"(\[\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\] )";
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(stamp + R"(: SecureTessa\.cpp:\d+: Debug message logging started\.)")))
        << lines[0];
    // The construction logs its own lines; the test's follow them.
    size_t first = 0;
    while (first < lines.size() && lines[first].find("a message") == std::string::npos)
        ++first;
    ASSERT_LE(first + 4, lines.size());
    EXPECT_TRUE(std::regex_match(lines[first], std::regex(stamp + ": IPMIRequest.cpp:42: a message"))) << lines[first];
    EXPECT_TRUE(std::regex_match(lines[first + 1], std::regex(stamp + ": NoSlash.cpp:7: two"))) << lines[first + 1];
    EXPECT_EQ(lines[first + 2], "");   // the message's own newline
    EXPECT_TRUE(std::regex_match(lines[first + 3], std::regex(stamp + ": :3: empty name"))) << lines[first + 3];
}

TEST(KoltDebugLog, LaterRunsAppendAndTheOpenLogIsNotOpenedTwice)
{
    TempDir dir;
    dir.write("zordebuglog", "");
    dir.write("KOLT_DBG.log", "earlier run\n");
    OfflineClientHost offline;
    {
        secureTessa first;
        secureTessa second;   // the log is on already: no second start line
        logTessaMsg("A.cpp", 1, "inside");
    }
    {
        secureTessa third;
    }
    const std::vector<std::string> lines = Lines(dir.read("KOLT_DBG.log"));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "earlier run");
    std::vector<std::string> marks;
    for (const std::string& line : lines) {
        if (line.find("Debug message logging started.") != std::string::npos)
            marks.push_back("start");
        if (line.find("A.cpp:1: inside") != std::string::npos)
            marks.push_back("inside");
    }
    EXPECT_EQ(marks, (std::vector<std::string>{"start", "inside", "start"}));
    EXPECT_NE(lines[1].find("Debug message logging started."), std::string::npos);
}

TEST(KoltDebugLog, MarkerRemovedAfterStartKeepsTheLogOnUntilTheClientGoes)
{
    TempDir dir;
    dir.write("zordebuglog", "");
    OfflineClientHost offline;
    std::unique_ptr<secureTessa> client(new secureTessa);
    std::remove(dir.file("zordebuglog").c_str());
    logTessaMsg("B.cpp", 2, "still logged");
    client.reset();
    logTessaMsg("B.cpp", 3, "dropped");
    const std::string text = dir.read("KOLT_DBG.log");
    EXPECT_NE(text.find("B.cpp:2: still logged"), std::string::npos);
    EXPECT_EQ(text.find("dropped"), std::string::npos);
}

// The log lies in a working directory others may write to, and the run is
// root's: nothing planted at its name is written through. The log stays off
// and the client works on.
TEST(KoltDebugLog, PlantedNamesAreNotWrittenThroughAndLeaveTheLogOff)
{
    TempDir dir;
    dir.write("zordebuglog", "");
    dir.write("victim", "precious");
    OfflineClientHost offline;
    const struct {
        const char* name;
        std::function<int()> plant;
    } cases[] = {
        {"link", [&] { return symlink(dir.file("victim").c_str(), dir.file("KOLT_DBG.log").c_str()); }},
        {"dangling link", [&] { return symlink(dir.file("nowhere").c_str(), dir.file("KOLT_DBG.log").c_str()); }},
        {"hard link", [&] { return link(dir.file("victim").c_str(), dir.file("KOLT_DBG.log").c_str()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(dir.file("KOLT_DBG.log").c_str());
        ASSERT_EQ(c.plant(), 0);
        {
            secureTessa client;
            EXPECT_FALSE(bTessaDebugLog);
            logTessaMsg("A.cpp", 1, "not written");
            EXPECT_EQ(client.getKOLTError(), KOLT_IPMILIBINITFAILED);
        }
        EXPECT_EQ(dir.read("victim"), "precious");
        EXPECT_FALSE(dir.exists("nowhere"));
    }
    // A regular file of its own at the name is taken again.
    std::remove(dir.file("KOLT_DBG.log").c_str());
    {
        secureTessa client;
        EXPECT_TRUE(bTessaDebugLog);
    }
    EXPECT_NE(dir.read("KOLT_DBG.log").find("Debug message logging started."), std::string::npos);
}

// The client runs mount, cp, rm and more while its log is open: none of
// them inherits it.
TEST(KoltDebugLog, LogDescriptorIsCloseOnExec)
{
    TempDir dir;
    dir.write("zordebuglog", "");
    OfflineClientHost offline;
    secureTessa client;
    ASSERT_TRUE(bTessaDebugLog);
    const std::vector<int> fds = DescriptorsOpenOn(dir.file("KOLT_DBG.log"));
    ASSERT_EQ(fds.size(), 1u);
    EXPECT_TRUE(IsCloseOnExec(fds[0]));
}

// Every line goes to the end of the file, also after someone else wrote to
// it meanwhile.
TEST(KoltDebugLog, LinesAreAppendedAfterWhatOthersWrote)
{
    TempDir dir;
    dir.write("zordebuglog", "");
    OfflineClientHost offline;
    secureTessa client;
    std::ofstream(dir.file("KOLT_DBG.log"), std::ios::app) << "written by another process\n";
    logTessaMsg("A.cpp", 1, "after it");
    const std::vector<std::string> lines = Lines(dir.read("KOLT_DBG.log"));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "written by another process");
    EXPECT_NE(lines.back().find("A.cpp:1: after it"), std::string::npos);
}

TEST(KoltDebugLog, FileNameIsThePartAfterTheLastSlash)
{
    EXPECT_EQ(getFileName("a/b/c.cpp"), "c.cpp");
    EXPECT_EQ(getFileName("c.cpp"), "c.cpp");
    EXPECT_EQ(getFileName("/abs/"), "");
    EXPECT_EQ(getFileName(""), "");
}

TEST(KoltErrors, StoredNumberStaysUntilSomethingStoresAnother)
{
    TempDir dir;
    OfflineClientHost offline;
    secureTessa client;
    EXPECT_EQ(client.getKOLTError(), KOLT_IPMILIBINITFAILED);
    client.storeErrorInfo(KOLT_DROPBOXNOTIDENTIFIED);
    EXPECT_EQ(client.getKOLTError(), 35);
    client.storeErrorInfo(KOLT_SUCCESS);
    EXPECT_EQ(client.getKOLTError(), 0);
}
