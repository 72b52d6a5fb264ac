// The copy passes that carry the staging queue into the drop box: the
// shell commands of each copy, what a pass lists, where it stops, and the
// chunks of a file larger than the drop box.

#include "CopyPassTest.h"

namespace {

using Strings = std::vector<std::string>;

const unsigned long kCapacity = 1048576 + 1000;   // 1000 bytes beyond the reserve

std::string Header()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TESSA_Update>\n";
}

TEST_F(CopyPassTest, CommandsOfEachCopy)
{
    host.answerOthers(0);
    const struct {
        std::string destination;
        std::string source;
        exmlMode mode;
        Strings commands;
    } cases[] = {
        {"tes022/1234/current/fw.bin", "/opt/pkg/fw.bin", filecopy,
         {"mkdir /tmp/SECUPD/1234 > /dev/null 2>&1", "mkdir /tmp/SECUPD/1234/current > /dev/null 2>&1",
          "/bin/cp /opt/pkg/fw.bin /tmp/SECUPD/1234/current/fw.bin > /dev/null"}},
        {"/payload", "", dirmake, {"/bin/mkdir -p /tmp/SECUPD/payload > /dev/null 2>&1"}},
        {"/payload/package.xml", "/opt/pkg/package.xml", signedunzip,
         {"mkdir /tmp/SECUPD/payload > /dev/null 2>&1",
          "/bin/cp /opt/pkg/package.xml /tmp/SECUPD/payload/package.xml > /dev/null"}},
        {"", "/var/tmp/ssibinput.xml", ssib, {"/bin/cp /var/tmp/ssibinput.xml /tmp/SECUPD/ > /dev/null"}},
        // Every character of the plain set stays as it is.
        {"/payload/Fw_1.2-3+4,5:6=7@8%9.bin", "/opt/Pkg_1.2-3+4,5:6=7@8%9/fw.bin", filecopy,
         {"mkdir /tmp/SECUPD/payload > /dev/null 2>&1",
          "/bin/cp /opt/Pkg_1.2-3+4,5:6=7@8%9/fw.bin /tmp/SECUPD/payload/Fw_1.2-3+4,5:6=7@8%9.bin > /dev/null"}},
        // Anything else puts the path in single quotes, quotes included.
        {"/payload/fw;rm -rf x.bin", "/opt/my pkg/it's$(id).bin", filecopy,
         {"mkdir /tmp/SECUPD/payload > /dev/null 2>&1",
          "/bin/cp '/opt/my pkg/it'\\''s$(id).bin' '/tmp/SECUPD/payload/fw;rm -rf x.bin' > /dev/null"}},
        {"tes022/a b/c", "", dirmake,
         {"mkdir '/tmp/SECUPD/a b' > /dev/null 2>&1", "/bin/mkdir -p '/tmp/SECUPD/a b/c' > /dev/null 2>&1"}},
    };
    for (const auto& c : cases) {
        host.take();
        EXPECT_EQ(doCopy("/tmp/SECUPD/", c.destination, c.source, c.mode), 0);
        EXPECT_EQ(host.take(), c.commands) << c.destination;
    }
    EXPECT_TRUE(Contains(Log(), "Executing command "));
    EXPECT_TRUE(Contains(Log(), "Cmd: /bin/mkdir -p /tmp/SECUPD/payload > /dev/null 2>&1"));
}

// A destination with a ".." component would put root's copy outside the
// drop box: nothing runs and the copy fails, whatever the mode. A ".." as
// the partition's own component is dropped like any first component.
TEST_F(CopyPassTest, DestinationsThatLeaveTheDropBoxRunNothing)
{
    host.answerOthers(0);
    const struct {
        std::string destination;
        exmlMode mode;
        bool refused;
    } cases[] = {
        {"tes022/../victim/current/fw.bin", filecopy, true},
        {"tes022/1234/../../etc/fw.bin", filecopy, true},
        {"tes022/1234/current/..", filecopy, true},
        {"tes022/..", dirmake, true},
        {"/payload/../../x", dirmake, true},
        {"tes022/a/../b", signedunzip, true},
        {"../payload/fw.bin", filecopy, false},
        {"tes022/..a/b../c..d/fw.bin", filecopy, false},
        {"tes022/.../fw.bin", filecopy, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destination);
        host.take();
        const int status = doCopy("/tmp/SECUPD/", c.destination, "/opt/pkg/fw.bin", c.mode);
        if (c.refused) {
            EXPECT_LT(status, 0);
            EXPECT_TRUE(host.take().empty());
            EXPECT_TRUE(Contains(Log(), "doCopy refused: destination leaves the drop box: " + c.destination));
        } else {
            EXPECT_EQ(status, 0);
            EXPECT_FALSE(host.take().empty());
        }
    }
}

// Nor does a destination whose text names no place: an empty or "." name,
// or a backslash, which the controller would read as a separator.
TEST_F(CopyPassTest, DestinationsNamingNoPlaceRunNothing)
{
    host.answerOthers(0);
    const struct {
        std::string destination;
        exmlMode mode;
        const char* line;
    } cases[] = {
        {"tes022//fw.bin", filecopy, "doCopy refused: destination holds an empty name: tes022//fw.bin"},
        {"tes022/1234/", dirmake, "doCopy refused: destination holds an empty name: tes022/1234/"},
        {"/payload/./fw.bin", filecopy, "doCopy refused: destination holds a \".\" name: /payload/./fw.bin"},
        {"tes022/pkg\\a.zip", signedunzip,
         "doCopy refused: destination holds a separator inside a name: tes022/pkg\\a.zip"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destination);
        host.take();
        EXPECT_LT(doCopy("/tmp/SECUPD/", c.destination, "/opt/pkg/fw.bin", c.mode), 0);
        EXPECT_TRUE(host.take().empty());
        EXPECT_TRUE(Contains(Log(), c.line));
    }
}

TEST_F(CopyPassTest, APassWithADestinationLeavingTheDropBoxFails)
{
    const std::string source = Source("fw.bin", 10);
    Queue(filecopy, source, "tes022/../outside.bin", 10);
    for (bool waveC : {false, true}) {
        SCOPED_TRACE(waveC);
        std::ostringstream doc;
        unsigned long index = 0;
        EXPECT_FALSE(waveC ? client->populateDynPartWaveCPlus(box, &doc, index, kCapacity)
                           : client->populateDynPart(box, &doc, index, kCapacity));
        EXPECT_EQ(doc.str(), "");
        EXPECT_EQ(client->cfgEntries[0].splitState, 0);
    }
    struct stat info;
    EXPECT_NE(::stat((dir.path() + "/outside.bin").c_str(), &info), 0);
    EXPECT_TRUE(Contains(Log(), "doCopy failed"));
}

TEST_F(CopyPassTest, QuotedPathsReachTheShellWhole)
{
    const std::string source = Source("it's a $(file).bin", 300);
    Queue(filecopy, source, "/odd dir/x;y.bin", 300);
    std::ostringstream doc;
    unsigned long index = 0;
    ASSERT_TRUE(client->populateDynPart(box, &doc, index, kCapacity));
    EXPECT_EQ(readWholeFile(box + "odd dir/x;y.bin"), readWholeFile(source));
}

TEST_F(CopyPassTest, FailedMainCommandFailsThePass)
{
    const struct {
        const char* prefix;
        exmlMode mode;
    } cases[] = {{"/bin/cp ", filecopy}, {"/bin/mkdir -p ", dirmake}};
    for (const auto& c : cases) {
        client->cfgEntries.clear();
        host.answerPrefix(c.prefix, 1 << 8);
        if (c.mode == filecopy)
            QueueFile("fw.bin", 10, "/payload/fw.bin");
        else
            Queue(dirmake, "", "/payload");
        for (bool waveC : {false, true}) {
            std::ostringstream doc;
            unsigned long index = 0;
            EXPECT_FALSE(waveC ? client->populateDynPartWaveCPlus(box, &doc, index, kCapacity)
                               : client->populateDynPart(box, &doc, index, kCapacity));
            EXPECT_EQ(index, 0u);
            EXPECT_EQ(doc.str(), "");
            EXPECT_EQ(client->cfgEntries[0].splitState, 0);
        }
        host.answerPrefix(c.prefix, [](const std::string& command) { return std::system(command.c_str()); });
    }
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "doCopy failed"));
    EXPECT_TRUE(Contains(log, "populateDynPart failed"));
    EXPECT_TRUE(Contains(log, "populateDynPart failed with error code 27"));
    EXPECT_TRUE(Contains(log, "Leaving populateDynPartWaveCPlus"));
}

TEST_F(CopyPassTest, FitBoundaries)
{
    // Capacity leaves 1000 bytes beyond the reserve.
    const struct {
        std::vector<size_t> sizes;
        unsigned long index;        // after one pass
        Strings copied;             // files in the box, in queue order
        long chunkBytes;            // size of FileChunk0, -1 none
    } cases[] = {
        {{1000}, 1, {"f0"}, -1},
        {{1001}, 0, {}, 1000},
        {{600, 400}, 2, {"f0", "f1"}, -1},
        {{600, 401}, 1, {"f0"}, -1},
        // A split after other files never takes more than the space left.
        {{600, 2000}, 1, {"f0"}, 400},
        {{1000, 2000}, 1, {"f0"}, -1},
        {{0, 0, 1000}, 3, {"f0", "f1", "f2"}, -1},
    };
    for (const auto& c : cases) {
        client->cfgEntries.clear();
        ASSERT_EQ(std::system(("rm -rf " + box + "*").c_str()), 0);
        for (size_t i = 0; i < c.sizes.size(); ++i)
            QueueFile("f" + std::to_string(i), c.sizes[i], "/payload/f" + std::to_string(i));
        std::ostringstream doc;
        unsigned long index = 0;
        ASSERT_TRUE(client->populateDynPart(box, &doc, index, kCapacity));
        EXPECT_EQ(index, c.index) << c.sizes.size() << " " << c.sizes.back();
        for (size_t i = 0; i < c.sizes.size(); ++i) {
            const bool expected = std::find(c.copied.begin(), c.copied.end(), "f" + std::to_string(i)) != c.copied.end();
            struct stat info;
            EXPECT_EQ(::stat((box + "payload/f" + std::to_string(i)).c_str(), &info) == 0, expected) << i;
            EXPECT_EQ(client->cfgEntries[i].splitState, expected ? 1 : (c.chunkBytes > 0 && i == c.index ? 66 : 0));
        }
        struct stat chunk;
        const bool hasChunk = ::stat((box + "FileChunk0").c_str(), &chunk) == 0;
        EXPECT_EQ(hasChunk, c.chunkBytes >= 0);
        if (hasChunk) {
            EXPECT_EQ(chunk.st_size, c.chunkBytes);
        }
    }
    EXPECT_TRUE(Contains(Log(), "FileSize > AvailableSpace"));
}

TEST_F(CopyPassTest, LargeFileGoesInChunksOnePerPass)
{
    const cfgEntry file = QueueFile("fw.bin", 2500, "tes022/1234/current/fw.bin");
    md5wrapper md5;
    const struct {
        const char* chunk;
        const char* mode;
        size_t bytes;
        unsigned long index;
        uint16_t splitState;
    } passes[] = {
        {"FileChunk0", "filecopy", 1000, 0, (1 << 6) + 2},
        {"FileChunk1", "fileappend", 1000, 0, (2 << 6) + 2},
        {"FileChunk2", "fileappend", 500, 1, 1},
    };
    std::string joined;
    unsigned long index = 0;
    for (const auto& p : passes) {
        std::ostringstream doc;
        AddCfgHdr(&doc);
        ASSERT_TRUE(client->populateDynPart(box, &doc, index, kCapacity));
        EXPECT_EQ(index, p.index);
        EXPECT_EQ(client->cfgEntries[0].splitState, p.splitState);
        const std::string chunk = readWholeFile(box + p.chunk);
        EXPECT_EQ(chunk.size(), p.bytes);
        joined += chunk;
        EXPECT_EQ(doc.str(), Header() + "\t<File order=\"0\"><Hash>" + md5.getHashFromString(chunk) +
                                 "</Hash><Source>" + p.chunk +
                                 "</Source><Destination>tes022/1234/current/fw.bin</Destination><Mode>" + p.mode +
                                 "</Mode><Algorithm>MD5</Algorithm>\n</File>\n");
    }
    EXPECT_EQ(joined, readWholeFile(file.source));
    EXPECT_EQ(client->cfgEntries[0].stagedBytes, 2500);
    EXPECT_EQ(std::count(host.commands.begin(), host.commands.end(), "sync"), 3);
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "Split File: Creating Chunk"));
    EXPECT_TRUE(Contains(log, "Last Split File Chunk"));
}

TEST_F(CopyPassTest, ChunkOfAFileThatCannotBeReadFailsThePass)
{
    Queue(filecopy, src + "gone.bin", "/payload/gone.bin", 5000);
    std::ostringstream doc;
    unsigned long index = 0;
    EXPECT_FALSE(client->populateDynPart(box, &doc, index, kCapacity));
    EXPECT_TRUE(Contains(Log(), "Could not read file"));
    EXPECT_EQ(client->cfgEntries[0].stagedBytes, 0);
}

// A chunk written but not readable afterwards (the drop box's disk gone or
// failing under it) has no digest to list: the pass fails and its document
// lists nothing, on both controllers.
TEST_F(CopyPassTest, AChunkThatCannotBeReadBackFailsThePass)
{
    const struct {
        const char* name;
        void (*spoil)(const std::string& chunk);
    } faults[] = {
        {"vanished", [](const std::string& chunk) { ::unlink(chunk.c_str()); }},
        {"unreadable", [](const std::string& chunk) {
             ::unlink(chunk.c_str());
             ::mkdir(chunk.c_str(), 0755);
         }},
    };
    const std::string chunk = box + "FileChunk0";
    QueueFile("fw.bin", 2500, "tes022/1234/current/fw.bin");
    for (const auto& f : faults) {
        for (bool waveC : {false, true}) {
            SCOPED_TRACE(std::string(f.name) + (waveC ? " newer" : " older"));
            ::rmdir(chunk.c_str());
            client->cfgEntries[0].splitState = 0;
            client->cfgEntries[0].stagedBytes = 0;
            // The flush right after the chunk was written.
            host.answer("sync", [&](const std::string&) {
                f.spoil(chunk);
                return 0;
            });
            std::ostringstream doc;
            unsigned long index = 0;
            EXPECT_FALSE(waveC ? client->populateDynPartWaveCPlus(box, &doc, index, kCapacity)
                               : client->populateDynPart(box, &doc, index, kCapacity));
            EXPECT_EQ(doc.str(), "");
            EXPECT_EQ(index, 0u);
            EXPECT_TRUE(Contains(Log(), "Could not read file " + chunk));
        }
    }
}

TEST_F(CopyPassTest, WhatEachPassListsOfTheOtherModes)
{
    Queue(dirmake, "", "/payload");
    Queue(fileappend, src + "x", "/payload/x");
    Queue(filedelete, "", "tes022/1234/current/old.bin");
    Queue(dirdelete, "tes022/1234/previous", "");
    Queue(filemove, "tes022/1234/current/a", "tes022/1234/previous/a");

    std::ostringstream waveB;
    unsigned long index = 0;
    ASSERT_TRUE(client->populateDynPart(box, &waveB, index, kCapacity));
    EXPECT_EQ(index, 5u);
    EXPECT_EQ(waveB.str(),
              "\t<File order=\"1\"><Hash></Hash><Destination>/payload</Destination><Mode>dirmake</Mode>\n"
              "<Algorithm>MD5</Algorithm>\n</File>\n"
              "\t<File order=\"3\"><Hash></Hash><Destination>tes022/1234/current/old.bin</Destination>\n"
              "<Mode>filedelete</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"
              "\t<File order=\"4\"><Hash></Hash><Destination>tes022/1234/previous</Destination>\n"
              "<Mode>dirdelete</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"
              "\t<File order=\"5\"><Hash></Hash><SourceTESSA>tes022/1234/current/a</SourceTESSA>\n"
              "<Destination>tes022/1234/previous/a</Destination>\n<Mode>filemove</Mode>\n"
              "<Algorithm>MD5</Algorithm>\n</File>\n");
    EXPECT_EQ(client->cfgEntries[1].splitState, 0);
    EXPECT_TRUE(Contains(Log(), "fileappend ignored"));

    for (cfgEntry& e : client->cfgEntries)
        e.splitState = 0;
    ASSERT_EQ(std::system(("rm -rf " + box + "payload").c_str()), 0);
    std::ostringstream waveC;
    index = 0;
    ASSERT_TRUE(client->populateDynPartWaveCPlus(box, &waveC, index, kCapacity));
    EXPECT_EQ(index, 5u);
    EXPECT_EQ(waveC.str(), "");   // the folder is made, not listed
    struct stat info;
    EXPECT_EQ(::stat((box + "payload").c_str(), &info), 0);
    const Strings log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Unhandled mode"), 4);
    EXPECT_TRUE(Contains(log, "Entering populateDynPartWaveCPlus"));
}

TEST_F(CopyPassTest, WaveBFreshInstallPassCopiesAndListsSevenEntries)
{
    Queue(dirmake, "", "tes022/1234");
    Queue(dirmake, "", "tes022/1234/previous");
    Queue(dirmake, "", "tes022/1234/current");
    const cfgEntry pkg = QueueFile("package.xml", 700, "tes022/1234/current/package.xml");
    const cfgEntry fw = QueueFile("fw.bin", 200, "tes022/1234/current/fw.bin");
    Queue(filecopy, pkg.source, "tes022/1234/previous/package.xml", 700);
    Queue(filecopy, fw.source, "tes022/1234/previous/fw.bin", 200);

    std::ostringstream doc;
    unsigned long index = 0;
    ASSERT_TRUE(client->populateDynPart(box, &doc, index, 1048576 + 4000));
    EXPECT_EQ(index, 7u);
    std::string expected;
    for (const cfgEntry& e : client->cfgEntries) {
        std::ostringstream element;
        ASSERT_TRUE(AddCfgEntry(&element, e, false));
        expected += element.str();
    }
    EXPECT_EQ(doc.str(), expected);
    for (const char* folder : {"current", "previous"}) {
        EXPECT_EQ(readWholeFile(box + "1234/" + folder + "/package.xml"), readWholeFile(pkg.source));
        EXPECT_EQ(readWholeFile(box + "1234/" + folder + "/fw.bin"), readWholeFile(fw.source));
    }
}

} // namespace
