// "KOLT_DBG.log": switched on by the marker file when a client is built,
// closed when it is destroyed, one line per message in its own layout.

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <sstream>

#include "SecureTessa.h"
#include "TempDir.h"

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
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(stamp + R"(: SecureTessa\.cpp:\d+: Debug message logging started\.)")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(stamp + ": IPMIRequest.cpp:42: a message"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(stamp + ": NoSlash.cpp:7: two"))) << lines[2];
    EXPECT_EQ(lines[3], "");   // the message's own newline
    EXPECT_TRUE(std::regex_match(lines[4], std::regex(stamp + ": :3: empty name"))) << lines[4];
}

TEST(KoltDebugLog, LaterRunsAppendAndTheOpenLogIsNotOpenedTwice)
{
    TempDir dir;
    dir.write("zordebuglog", "");
    dir.write("KOLT_DBG.log", "earlier run\n");
    {
        secureTessa first;
        secureTessa second;   // the log is on already: no second start line
        logTessaMsg("A.cpp", 1, "inside");
    }
    {
        secureTessa third;
    }
    const std::vector<std::string> lines = Lines(dir.read("KOLT_DBG.log"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "earlier run");
    EXPECT_NE(lines[1].find("Debug message logging started."), std::string::npos);
    EXPECT_NE(lines[2].find("A.cpp:1: inside"), std::string::npos);
    EXPECT_NE(lines[3].find("Debug message logging started."), std::string::npos);
}

TEST(KoltDebugLog, MarkerRemovedAfterStartKeepsTheLogOnUntilTheClientGoes)
{
    TempDir dir;
    dir.write("zordebuglog", "");
    std::unique_ptr<secureTessa> client(new secureTessa);
    std::remove(dir.file("zordebuglog").c_str());
    logTessaMsg("B.cpp", 2, "still logged");
    client.reset();
    logTessaMsg("B.cpp", 3, "dropped");
    const std::string text = dir.read("KOLT_DBG.log");
    EXPECT_NE(text.find("B.cpp:2: still logged"), std::string::npos);
    EXPECT_EQ(text.find("dropped"), std::string::npos);
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
    secureTessa client;
    EXPECT_EQ(client.getKOLTError(), 0);
    client.storeErrorInfo(KOLT_DROPBOXNOTIDENTIFIED);
    EXPECT_EQ(client.getKOLTError(), 35);
    client.storeErrorInfo(KOLT_SUCCESS);
    EXPECT_EQ(client.getKOLTError(), 0);
}
