#ifndef CM_KOLT_TESTS_COPYPASSTEST_H
#define CM_KOLT_TESTS_COPYPASSTEST_H

// A client for the copy-pass tests: a drop box stood in for by a folder of
// the test's own, source files beside it, and the pass's shell commands
// (mkdir, cp) carried out by the shell on those folders; "sync" is only
// recorded. The KOLT log is on.

#include <sys/stat.h>

#include <fstream>
#include <random>

#include "KoltTestSupport.h"
#include "Md5Wrapper.h"

class CopyPassTest : public KoltHostTest {
protected:
    void SetUp() override
    {
        dir.write("zordebuglog", "");
        client = ClientWithoutLifeCycle();
        box = dir.path() + "/box/";
        src = dir.path() + "/src/";
        ASSERT_EQ(::mkdir(box.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(src.c_str(), 0755), 0);
        host.answer("sync", 0);
        host.runOthersInShell();
    }

    void TearDown() override
    {
        client.reset();
        KoltHostTest::TearDown();
    }

    // A source file of `size` pseudo-random bytes; its path.
    std::string Source(const std::string& name, size_t size)
    {
        std::mt19937 random(static_cast<unsigned>(size) * 31u + static_cast<unsigned>(name.size()));
        std::string content(size, '\0');
        for (char& c : content)
            c = static_cast<char>(random() & 0xFF);
        std::ofstream(src + name, std::ios::binary) << content;
        return src + name;
    }

    cfgEntry Queue(exmlMode mode, const std::string& source, const std::string& destination, uint64_t size = 0)
    {
        cfgEntry e;
        e.order = static_cast<int32_t>(client->cfgEntries.size() + 1);
        e.mode = mode;
        e.algorithmLabel = 1;
        e.source = source;
        e.destination = destination;
        e.size = size;
        if (mode == filecopy)
            e.hash = md5wrapper().getHashFromFile(source);
        client->cfgEntries.push_back(e);
        return e;
    }

    cfgEntry QueueFile(const std::string& name, size_t size, const std::string& destination)
    {
        return Queue(filecopy, Source(name, size), destination, size);
    }

    std::vector<std::string> Log() const { return KoltLogMessages(dir.file("KOLT_DBG.log")); }

    std::unique_ptr<secureTessa> client;
    std::string box;
    std::string src;
};

#endif
