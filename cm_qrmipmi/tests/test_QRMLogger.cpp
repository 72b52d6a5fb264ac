#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>

#include "LQRMLock.h"
#include "LogTextCheck.h"
#include "QRMLogger.h"
#include "TempDir.h"

namespace {

QRMString S(const char* text) { return QRMString(text, QRMString::QRM_ENCODING_UTF8); }

QRMLoggingOptions Options(const std::string& dir, int shown)
{
    QRMLoggingOptions options;
    options.SetApplicationName(S("QRMIPMILibrary"));
    options.SetNumberOfSupportedLevels(5);
    options.SetNumberOfLevelsToShowInUserLog(shown);
    options.SetUserLogFile(QRMFile(S((dir + "/user.log").c_str())));
    options.SetInternalLogFile(QRMFile(S((dir + "/internal.log").c_str())));
    return options;
}

using logcheck::MaskStamps;
using logcheck::Pad;

class QRMLoggerTest : public ::testing::Test {
protected:
    void TearDown() override { QRMLogger::Terminate(); }
    TempDir dir;
};

TEST_F(QRMLoggerTest, LogBeforeInitializeAndAfterTerminateWritesNothing)
{
    EXPECT_TRUE(QRMLogger::Log(S("Op"), S("cm_qrmipmi/src/Unit"), 1, QRM_LOG_INFO, "before"));
    EXPECT_FALSE(dir.exists("internal.log"));

    ASSERT_TRUE(QRMLogger::Initialize(Options(dir.path(), 3)));
    QRMLogger::Log(S("Op"), S("cm_qrmipmi/src/Unit"), 1, QRM_LOG_INFO, "while open");
    EXPECT_TRUE(QRMLogger::Terminate());
    EXPECT_EQ(QRMLogger::mInternalLogFile, nullptr);
    EXPECT_EQ(QRMLogger::mUserLogFile, nullptr);
    QRMLogger::Log(S("Op"), S("cm_qrmipmi/src/Unit"), 1, QRM_LOG_INFO, "after");

    const std::string internal = dir.read("internal.log");
    EXPECT_NE(internal.find("while open"), std::string::npos);
    EXPECT_EQ(internal.find("before"), std::string::npos);
    EXPECT_EQ(internal.find("after"), std::string::npos);
}

TEST_F(QRMLoggerTest, LineFormatOfBothLogs)
{
    ASSERT_TRUE(QRMLogger::Initialize(Options(dir.path(), 3)));
    QRMLogger::Log(S("GetSession"), S("cm_qrmipmi/src/Unit"), 7, QRM_LOG_WARN, "value %d of %s", 42, "x");
    QRMLogger::Terminate();

    const std::string head = "QRMIPMILibrary WARN  : <STAMP> " + Pad("GetSession", 40) + "() " +
                             Pad("cm_qrmipmi/src/Unit", 30);
    EXPECT_EQ(MaskStamps(dir.read("internal.log")), head + ":  7 value 42 of x\n");
    EXPECT_EQ(MaskStamps(dir.read("user.log")), head + ":7 value 42 of x\n");
}

TEST_F(QRMLoggerTest, LongNamesAreNotCut)
{
    ASSERT_TRUE(QRMLogger::Initialize(Options(dir.path(), 3)));
    QRMLogger::Log(S("Op"), S("cm_qrmipmi/src/QRMIPMIInterfaceImpl"), 1234, QRM_LOG_ERROR, "m");
    QRMLogger::Terminate();
    EXPECT_NE(dir.read("internal.log").find("() cm_qrmipmi/src/QRMIPMIInterfaceImpl:1234 m\n"),
              std::string::npos);
}

TEST_F(QRMLoggerTest, NewlineHandling)
{
    ASSERT_TRUE(QRMLogger::Initialize(Options(dir.path(), 3)));
    const char* empty = "";
    QRMLogger::Log(S("A"), S("f"), 1, QRM_LOG_INFO, "ends with newline\n");
    // A "%s" format gets its own newline even when the text ends with one.
    QRMLogger::Log(S("B"), S("f"), 2, QRM_LOG_INFO, "%s", "dump\n");
    QRMLogger::Log(S("C"), S("f"), 3, QRM_LOG_INFO, empty);
    QRMLogger::Terminate();

    const std::string text = dir.read("internal.log");
    EXPECT_NE(text.find(":  1 ends with newline\nQRMIPMILibrary"), std::string::npos) << text;
    EXPECT_NE(text.find(":  2 dump\n\nQRMIPMILibrary"), std::string::npos) << text;
    const std::string last = "() " + Pad("f", 30) + ":  3 \n";
    ASSERT_GE(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
}

TEST_F(QRMLoggerTest, UserLogTakesOnlyLevelsUpToItsCount)
{
    ASSERT_TRUE(QRMLogger::Initialize(Options(dir.path(), 3)));
    QRMLogger::Log(S("Op"), S("f"), 1, QRM_LOG_ERROR, "error line");
    QRMLogger::Log(S("Op"), S("f"), 2, QRM_LOG_WARN, "warn line");
    QRMLogger::Log(S("Op"), S("f"), 3, QRM_LOG_INFO, "info line");
    QRMLogger::Terminate();

    const std::string internal = dir.read("internal.log");
    const std::string user = dir.read("user.log");
    for (const char* line : {"error line", "warn line", "info line"}) {
        EXPECT_NE(internal.find(line), std::string::npos) << line;
    }
    EXPECT_NE(user.find("ERROR : "), std::string::npos);
    EXPECT_NE(user.find("warn line"), std::string::npos);
    EXPECT_EQ(user.find("info line"), std::string::npos);
}

TEST_F(QRMLoggerTest, LibrarySettingsLeaveTheUserLogEmpty)
{
    ASSERT_TRUE(QRMLogger::Initialize(Options(dir.path(), 5)));
    QRMLogger::Log(S("Op"), S("f"), 1, QRM_LOG_INFO, "info line");
    QRMLogger::Log(S("Op"), S("f"), 2, QRM_LOG_ERROR, "error line");
    QRMLogger::Terminate();
    EXPECT_TRUE(dir.exists("user.log"));
    EXPECT_EQ(dir.read("user.log"), "");
    EXPECT_NE(dir.read("internal.log").find("error line"), std::string::npos);
}

TEST_F(QRMLoggerTest, TraceLineWithFiveLevelsMovesUserLogToStandardError)
{
    ASSERT_TRUE(QRMLogger::Initialize(Options(dir.path(), 5)));
    testing::internal::CaptureStderr();
    QRMLogger::Log(S("Op"), S("f"), 1, QRM_LOG_TRACE, "trace line");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(QRMLogger::mUserLogFile, stderr);
    EXPECT_NE(err.find("QRMIPMILibrary TRACE : "), std::string::npos);
    EXPECT_NE(err.find(":1 trace line\n"), std::string::npos);
    QRMLogger::Terminate();
    EXPECT_EQ(dir.read("user.log"), "");
    // The standard-error handle is never closed.
    EXPECT_EQ(QRMLogger::mUserLogFile, stderr);
}

TEST_F(QRMLoggerTest, ReinitializeKeepsOpenLogsAndReplacesOptions)
{
    ASSERT_TRUE(QRMLogger::Initialize(Options(dir.path(), 3)));
    FILE* internal = QRMLogger::mInternalLogFile;
    FILE* user = QRMLogger::mUserLogFile;

    QRMLoggingOptions other = Options(dir.path() + "/elsewhere", 1);
    other.SetApplicationName(S("Other"));
    EXPECT_TRUE(QRMLogger::Initialize(other));
    EXPECT_EQ(QRMLogger::mInternalLogFile, internal);
    EXPECT_EQ(QRMLogger::mUserLogFile, user);
    EXPECT_EQ(QRMLogger::mOptions.NumberOfLevelsToShowInUserLog(), 1);

    QRMLogger::Log(S("Op"), S("f"), 1, QRM_LOG_WARN, "warn line");
    QRMLogger::Terminate();
    EXPECT_NE(dir.read("internal.log").find("Other WARN "), std::string::npos);
    EXPECT_EQ(dir.read("user.log"), "");
}

TEST_F(QRMLoggerTest, ExistingLogIsAppendedTo)
{
    dir.write("internal.log", "earlier\n");
    ASSERT_TRUE(QRMLogger::Initialize(Options(dir.path(), 3)));
    QRMLogger::Log(S("Op"), S("f"), 1, QRM_LOG_INFO, "later");
    QRMLogger::Terminate();
    const std::string text = dir.read("internal.log");
    EXPECT_EQ(text.rfind("earlier\n", 0), 0u);
    EXPECT_NE(text.find("later"), std::string::npos);
}

TEST_F(QRMLoggerTest, UnopenableUserLogFailsAndLogsNothing)
{
    QRMLoggingOptions options = Options(dir.path(), 3);
    const std::string badPath = dir.path() + "/missing/user.log";
    options.SetUserLogFile(QRMFile(S(badPath.c_str())));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(QRMLogger::Initialize(options));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Error in Initialize opening user log file: " + badPath + "\n");

    QRMLogger::Log(S("Op"), S("f"), 1, QRM_LOG_INFO, "lost");
    QRMLogger::Terminate();
    EXPECT_EQ(dir.read("internal.log"), "");
}

// The library runs as root in a working directory others may write to.
TEST_F(QRMLoggerTest, NothingPlantedAtALogNameIsFollowedOrWritten)
{
    struct Case {
        const char* name;
        void (*plant)(const std::string& path);
    };
    const Case cases[] = {
        {"link to a file", [](const std::string& path) { ASSERT_EQ(0, symlink("victim", path.c_str())); }},
        {"dangling link", [](const std::string& path) { ASSERT_EQ(0, symlink("created", path.c_str())); }},
        {"pipe", [](const std::string& path) { ASSERT_EQ(0, mkfifo(path.c_str(), 0600)); }},
        {"directory", [](const std::string& path) { ASSERT_EQ(0, mkdir(path.c_str(), 0700)); }},
    };
    for (const char* log : {"internal.log", "user.log"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(log) + ": " + c.name);
            TempDir scratch;
            scratch.write("victim", "precious\n");
            c.plant(scratch.file(log));
            testing::internal::CaptureStderr();
            EXPECT_FALSE(QRMLogger::Initialize(Options(scratch.path(), 3)));
            EXPECT_NE(testing::internal::GetCapturedStderr().find(scratch.file(log)), std::string::npos);
            QRMLogger::Log(S("Op"), S("f"), 1, QRM_LOG_ERROR, "line");
            QRMLogger::Terminate();
            EXPECT_EQ(scratch.read("victim"), "precious\n");
            EXPECT_FALSE(scratch.exists("created"));
            struct stat info;
            ASSERT_EQ(0, lstat(scratch.file(log).c_str(), &info));
            EXPECT_FALSE(S_ISREG(info.st_mode));
        }
    }
}

TEST_F(QRMLoggerTest, LogsAreNotInheritedByCommands)
{
    ASSERT_TRUE(QRMLogger::Initialize(Options(dir.path(), 3)));
    ASSERT_NE(QRMLogger::mInternalLogFile, nullptr);
    ASSERT_NE(QRMLogger::mUserLogFile, nullptr);
    for (FILE* log : {QRMLogger::mInternalLogFile, QRMLogger::mUserLogFile}) {
        const int flags = fcntl(fileno(log), F_GETFD);
        ASSERT_NE(flags, -1);
        EXPECT_TRUE(flags & FD_CLOEXEC);
    }
}

TEST_F(QRMLoggerTest, UserLogNotOpenedWhenNoLevelShown)
{
    ASSERT_TRUE(QRMLogger::Initialize(Options(dir.path(), 0)));
    EXPECT_EQ(QRMLogger::mUserLogFile, nullptr);
    EXPECT_FALSE(dir.exists("user.log"));
    // Without the user log nothing is written at all.
    QRMLogger::Log(S("Op"), S("f"), 1, QRM_LOG_INFO, "lost");
    QRMLogger::Terminate();
    EXPECT_EQ(dir.read("internal.log"), "");
}

TEST_F(QRMLoggerTest, LinesOfConcurrentThreadsDoNotInterleave)
{
    ASSERT_TRUE(QRMLogger::Initialize(Options(dir.path(), 3)));
    auto writer = [](const char* text) {
        for (int i = 0; i < 200; ++i) {
            QRMLogger::Log(S("Op"), S("f"), i, QRM_LOG_INFO, "%s-%s-%s", text, text, text);
        }
    };
    std::thread a(writer, "aaaaaaaaaaaaaaaaaaaa");
    std::thread b(writer, "bbbbbbbbbbbbbbbbbbbb");
    a.join();
    b.join();
    QRMLogger::Terminate();

    std::istringstream lines(dir.read("internal.log"));
    std::string line;
    int count = 0;
    const std::string a20(20, 'a'), b20(20, 'b');
    const std::string aText = " " + a20 + "-" + a20 + "-" + a20;
    const std::string bText = " " + b20 + "-" + b20 + "-" + b20;
    auto endsWith = [](const std::string& text, const std::string& tail) {
        return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    };
    while (std::getline(lines, line)) {
        ++count;
        EXPECT_EQ(line.rfind("QRMIPMILibrary INFO  : ", 0), 0u) << line;
        EXPECT_TRUE(endsWith(line, aText) || endsWith(line, bText)) << line;
    }
    EXPECT_EQ(count, 400);
}

TEST(QRMLockTest, LoggerLockIsOneSharedObject)
{
    QRMLock& lock = QRMLogger::GetLockObject();
    EXPECT_EQ(&lock, &QRMLogger::GetLockObject());
    EXPECT_TRUE(lock.Lock());
    EXPECT_TRUE(lock.Unlock());
}

} // namespace
