#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <sstream>

#include "Logger.h"
#include "OpenDescriptors.h"
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

// "[YYYY-MM-DDTHH:MM:SS] " then the rest of the line exactly.
bool stampedLine(const std::string& line, const std::string& rest)
{
    const std::string shape = "[dddd-dd-ddTdd:dd:dd] ";
    if (line.size() != shape.size() + rest.size())
        return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        bool ok = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == shape[i];
        if (!ok)
            return false;
    }
    return line.compare(shape.size(), std::string::npos, rest) == 0;
}

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
    EXPECT_TRUE(stampedLine(got[0], ":            NVMePCISSDMain:   84: Logger initialized")) << got[0];
    EXPECT_EQ(got[0].size(), 22u + 2 + 25 + 1 + 5 + 2 + std::string("Logger initialized").size());
    EXPECT_TRUE(stampedLine(got[1], ": " + std::string(14, ' ') + "NoSlashUnit:    7: x")) << got[1];
    EXPECT_TRUE(stampedLine(got[2], ": AVeryLongSourceUnitNameOver25:1234567: long")) << got[2];
    EXPECT_TRUE(stampedLine(got[3], ":                      Unit:    3: ends with newline")) << got[3];
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

// The log is created by root in a working directory others may write to:
// nothing planted at its name is emptied or written through, and a refused
// name leaves logging off for a later name.
TEST(LoggerPlantedNames, AreRefusedAndLeftAsTheyWere)
{
    TempDir dir;
    dir.write("victim", "precious");
    ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("link.log").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("nowhere").c_str(), dir.file("dangling.log").c_str()), 0);
    ASSERT_EQ(link(dir.file("victim").c_str(), dir.file("hard.log").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo.log").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("folder.log"));

    for (const char* name : {"link.log", "dangling.log", "hard.log", "fifo.log", "folder.log"}) {
        EXPECT_FALSE(CLogger::GetInstance()->Initialize(name)) << name;
        CLogger::GetInstance()->log("a/Unit", 1, std::string("text"));
    }
    EXPECT_EQ(dir.read("victim"), "precious");
    EXPECT_FALSE(dir.exists("nowhere"));

    // A regular file of its own is still taken, emptied and appended to.
    dir.write("debug.log", "old content");
    ASSERT_TRUE(CLogger::GetInstance()->Initialize("debug.log"));
    CLogger::GetInstance()->log("a/Unit", 7, std::string("text"));
    EXPECT_EQ(lines(dir.read("debug.log")).size(), 1u);
    EXPECT_EQ(dir.read("debug.log").find("old content"), std::string::npos);
}

// Shell commands run while the log is open must not inherit it.
TEST(Logger, LogDescriptorIsCloseOnExec)
{
    TempDir dir;
    ASSERT_TRUE(CLogger::GetInstance()->Initialize(dir.file("debug.log")));
    std::vector<int> fds = DescriptorsOpenOn(dir.file("debug.log"));
    ASSERT_EQ(fds.size(), 1u);
    EXPECT_TRUE(IsCloseOnExec(fds[0]));
}

TEST(Logger, NothingIsWrittenAfterCloseHandle)
{
    TempDir dir;
    ASSERT_TRUE(CLogger::GetInstance()->Initialize("debug.log"));
    CLogger::GetInstance()->log("a/Unit", 1, std::string("first"));
    EXPECT_TRUE(CLogger::GetInstance()->CloseHandle());
    // The number the log had is taken by another file now.
    dir.write("other", "");
    int other = ::open(dir.file("other").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    CLogger::GetInstance()->log("a/Unit", 2, std::string("second"));
    ::close(other);
    EXPECT_EQ(dir.read("other"), "");
    EXPECT_EQ(lines(dir.read("debug.log")).size(), 1u);
}
