#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "Logger.h"
#include "TempDir.h"

namespace {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

const char* const kStamp = R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\] )";

} // namespace

TEST(Logger, IsSilentAndCreatesNoFileBeforeInitialize)
{
    TempDir dir;
    CLogger::GetInstance()->log("a/b/Unit", 1, std::string("text"));
    EXPECT_FALSE(dir.exists("debug.log"));
    EXPECT_EQ(CLogger::GetInstance(), CLogger::GetInstance());
}

TEST(Logger, LineLayoutPadsNameTo25AndLineTo5Columns)
{
    TempDir dir;
    ASSERT_TRUE(CLogger::GetInstance()->Initialize("run.log"));
    CLogger* log = CLogger::GetInstance();
    log->log("cm_NVM_ePCISSD/src/NVMePCISSDMain", 84, std::string("Logger initialized"));
    log->log("NoSlashUnit", 7, std::string("x"));
    log->log("dir/AVeryLongSourceUnitNameOver25", 1234567, std::string("long"));
    log->log("dir/Unit", 3, std::string("ends with newline\n"));

    std::vector<std::string> got = lines(dir.read("run.log"));
    ASSERT_EQ(got.size(), 5u);
    EXPECT_TRUE(std::regex_match(got[0], std::regex(std::string("^") + kStamp +
                                                    ":            NVMePCISSDMain:   84: Logger initialized$")))
        << got[0];
    EXPECT_EQ(got[0].size(), 22u + 2 + 25 + 1 + 5 + 2 + std::string("Logger initialized").size());
    EXPECT_TRUE(std::regex_match(got[1], std::regex(std::string("^") + kStamp + ": " + std::string(14, ' ') + "NoSlashUnit:    7: x$")))
        << got[1];
    EXPECT_TRUE(std::regex_match(got[2], std::regex(std::string("^") + kStamp +
                                                    ": AVeryLongSourceUnitNameOver25:1234567: long$")))
        << got[2];
    EXPECT_TRUE(std::regex_match(got[3], std::regex(std::string("^") + kStamp + ".*: ends with newline$")));
    EXPECT_EQ(got[4], "");
}

TEST(Logger, FirstSuccessfulInitializeWinsAndTruncatesOnce)
{
    TempDir dir;
    dir.write("first.log", "old content\n");
    CLogger* log = CLogger::GetInstance();
    EXPECT_FALSE(log->Initialize(""));
    log->log("u/Unit", 1, std::string("lost"));
    ASSERT_TRUE(log->Initialize("first.log"));
    log->log("u/Unit", 2, std::string("one"));
    EXPECT_TRUE(log->Initialize("second.log"));
    log->log("u/Unit", 3, std::string("two"));

    std::string content = dir.read("first.log");
    EXPECT_EQ(content.find("old content"), std::string::npos);
    EXPECT_EQ(lines(content).size(), 2u);
    EXPECT_EQ(content.find("lost"), std::string::npos);
    EXPECT_FALSE(dir.exists("second.log"));
}

TEST(Logger, StreamFormKeepsTextWhileOffAndEmptiesItOnceWritten)
{
    TempDir dir;
    CLogger* log = CLogger::GetInstance();
    std::ostringstream message;
    message << "first ";
    log->log("u/Unit", 1, message);
    EXPECT_EQ(message.str(), "first ");

    ASSERT_TRUE(log->Initialize("s.log"));
    message << "second";
    log->log("u/Unit", 2, message);
    EXPECT_EQ(message.str(), "");
    EXPECT_NE(dir.read("s.log").find(": first second\n"), std::string::npos);
}

TEST(Logger, GetFileName)
{
    CLogger* log = CLogger::GetInstance();
    EXPECT_EQ(log->getFileName("a/b/c"), "c");
    EXPECT_EQ(log->getFileName("plain"), "plain");
    EXPECT_EQ(log->getFileName("dir/"), "");
}
