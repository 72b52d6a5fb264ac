#ifndef CM_KOLT_TESTS_KOLTTESTSUPPORT_H
#define CM_KOLT_TESTS_KOLTTESTSUPPORT_H

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "SecureTessa.h"
#include "HostNamespace.h"
#include "PlatformLayer.h"
#include "SimPlatform.h"
#include "TempDir.h"

// The KOLT debug log "KOLT_DBG.log" of the working directory, read from a
// mark on: the messages of the lines one source file wrote.
class KoltLog {
public:
    void skipToEnd() { m_skip = lines().size(); }

    std::vector<std::string> messagesFrom(const std::string& sourceFile) const
    {
        std::vector<std::string> messages;
        const std::vector<std::string> all = lines();
        for (size_t i = m_skip; i < all.size(); ++i) {
            // "[time] : <file>:<line>: <message>"
            const std::string& line = all[i];
            const size_t start = line.find("] : ");
            if (start == std::string::npos)
                continue;
            const size_t colon = line.find(':', start + 4);
            const size_t text = colon == std::string::npos ? colon : line.find(": ", colon + 1);
            if (text == std::string::npos)
                continue;
            if (line.compare(start + 4, colon - start - 4, sourceFile) == 0)
                messages.push_back(line.substr(text + 2));
        }
        return messages;
    }

private:
    static std::vector<std::string> lines()
    {
        std::vector<std::string> all;
        std::ifstream in("KOLT_DBG.log");
        std::string line;
        while (std::getline(in, line))
            all.push_back(line);
        return all;
    }
    size_t m_skip = 0;
};

// A client whose host is not detected yet.
inline std::unique_ptr<secureTessa> makeUndetectedClient(SimPlatform&)
{
    auto client = std::make_unique<secureTessa>();
    client->hostOsIndex = -1;
    return client;
}

// A test with its own working directory (the KOLT log switched on there),
// the recorded platform layer installed, and a client made on request. A
// fixture that stages host files creates `ns` in its SetUp, after this one.
class KoltClientTest : public testing::Test {
protected:
    void SetUp() override
    {
        work.write("zordebuglog", "");
        previous = CPlatformLayer::SetPlatformImplForTesting(&platform);
    }
    void TearDown() override
    {
        client.reset();
        CPlatformLayer::SetPlatformImplForTesting(previous);
    }

    // A fresh client whose host is not detected yet; the record of commands
    // and the log start after its construction.
    secureTessa& newClient()
    {
        client.reset();
        client = makeUndetectedClient(platform);
        platform.take();
        log.skipToEnd();
        return *client;
    }

    TempDir work;
    std::unique_ptr<HostNamespace> ns;
    SimPlatform platform;
    IPlatformImpl* previous = nullptr;
    std::unique_ptr<secureTessa> client;
    KoltLog log;
};

#endif
