#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "FileIO.h"
#include "OpenDescriptors.h"
#include "TempDir.h"

namespace {

std::string patterned(size_t size)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(i * 7 + 3);
    return text;
}

// A socket pair of records: each read(2) returns at most one record, so the
// reads come back short.
struct RecordPair {
    RecordPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0); }
    ~RecordPair()
    {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    void send(const std::string& record) { ASSERT_EQ(::write(fds[1], record.data(), record.size()), ssize_t(record.size())); }
    int fds[2] = {-1, -1};
};

int g_lateWriter = -1;
const char kLateRecord[] = "late";

// Runs while ReadFully waits for the rest: delivers it, and the read that
// was waiting comes back interrupted (the handler is installed without
// SA_RESTART).
void deliverLateRecord(int)
{
    ssize_t ignored = ::write(g_lateWriter, kLateRecord, sizeof(kLateRecord) - 1);
    (void)ignored;
}

} // namespace

TEST(FileIO, ReadFullyGoesOnAfterShortReads)
{
    RecordPair pair;
    const std::string whole = patterned(10000);
    pair.send(whole.substr(0, 1));
    pair.send(whole.substr(1, 4095));
    pair.send(whole.substr(4096));

    std::string buffer(whole.size(), '\0');
    EXPECT_EQ(ReadFully(pair.fds[0], &buffer[0], buffer.size()), whole.size());
    EXPECT_EQ(buffer, whole);
}

TEST(FileIO, ReadFullyGoesOnAfterAnInterruptedRead)
{
    RecordPair pair;
    pair.send("early-");
    g_lateWriter = pair.fds[1];
    struct sigaction action = {};
    action.sa_handler = deliverLateRecord;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    struct sigaction previous;
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    struct itimerval timer = {};
    timer.it_value.tv_usec = 20000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);

    std::string buffer(10, '\0');
    size_t got = ReadFully(pair.fds[0], &buffer[0], buffer.size());

    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_EQ(got, 10u);
    EXPECT_EQ(buffer, "early-late");
}

TEST(FileIO, ReadFullyStopsAtTheEndOfAFileThatShrank)
{
    TempDir dir;
    dir.write("image", patterned(100));
    CUniqueFd fd(OpenRegularFileForReading(dir.file("image")));
    ASSERT_TRUE(fd.valid());
    std::string buffer(4096, '\0');
    EXPECT_EQ(ReadFully(fd.get(), &buffer[0], buffer.size()), 100u);
    EXPECT_EQ(errno, 0);
}

TEST(FileIO, ReadingTakesOnlyRegularFiles)
{
    TempDir dir;
    dir.write("file", "x");
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("folder"));
    ASSERT_EQ(symlink(dir.file("file").c_str(), dir.file("link").c_str()), 0);

    for (const char* name : {"fifo", "folder"}) {
        errno = 0;
        EXPECT_EQ(OpenRegularFileForReading(dir.file(name)), -1) << name;
        EXPECT_EQ(errno, EINVAL) << name;
    }
    EXPECT_EQ(OpenRegularFileForReading(dir.file("missing")), -1);
    EXPECT_EQ(errno, ENOENT);

    // A link to a regular file is read through; the descriptor stays with
    // this process.
    CUniqueFd fd(OpenRegularFileForReading(dir.file("link")));
    ASSERT_TRUE(fd.valid());
    EXPECT_TRUE(IsCloseOnExec(fd.get()));
    char c = 0;
    EXPECT_EQ(::read(fd.get(), &c, 1), 1);
    EXPECT_EQ(c, 'x');
}

TEST(FileIO, WritingCreatesOrEmptiesOnlyARegularFileOfItsOwn)
{
    TempDir dir;
    dir.write("victim", "precious");
    ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("link").c_str()), 0);
    ASSERT_EQ(link(dir.file("victim").c_str(), dir.file("hard").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("folder"));

    struct Case {
        const char* name;
        int error;
    } refused[] = {{"link", ELOOP}, {"hard", EMLINK}, {"fifo", ENXIO}, {"folder", EISDIR}};
    for (const Case& c : refused) {
        errno = 0;
        EXPECT_EQ(OpenRegularFileForWriting(dir.file(c.name), true), -1) << c.name;
        EXPECT_EQ(errno, c.error) << c.name;
    }
    EXPECT_EQ(dir.read("victim"), "precious");

    dir.write("own", "old");
    {
        CUniqueFd kept(OpenRegularFileForWriting(dir.file("own"), false));
        ASSERT_TRUE(kept.valid());
    }
    EXPECT_EQ(dir.read("own"), "old");
    CUniqueFd emptied(OpenRegularFileForWriting(dir.file("own"), true));
    ASSERT_TRUE(emptied.valid());
    EXPECT_TRUE(IsCloseOnExec(emptied.get()));
    EXPECT_EQ(dir.read("own"), "");
    CUniqueFd created(OpenRegularFileForWriting(dir.file("new"), true));
    EXPECT_TRUE(created.valid());
    EXPECT_TRUE(dir.exists("new"));
}
