#ifndef CM_KOLT_TESTS_KOLTTESTSUPPORT_H
#define CM_KOLT_TESTS_KOLTTESTSUPPORT_H

// Shared set-up of the managed-storage client tests: a simulated host
// (modules present, shell commands and pauses recorded), the IPMI library
// loaded over its device seam, and a management controller that answers
// the Tessa command family from per-sub-command scripts.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "HostNamespace.h"
#include "IPMIHostFakes.h"
#include "PlatformLayer.h"
#include "SecureTessa.h"
#include "SimIPMIDeviceAdapter.h"
#include "SimManagementController.h"
#include "SimPlatform.h"
#include "TempDir.h"

using Bytes = std::vector<uint8_t>;

// NetFn, command and data of one request as the device saw it.
inline Bytes FrameOf(const SimIpmiRequest& request)
{
    Bytes frame{request.netfn, request.cmd};
    frame.insert(frame.end(), request.data.begin(), request.data.end());
    return frame;
}

// Answers NetFn 0x30 command 0xA2: every answer carries `handle` in its
// first two data bytes; completion codes come from a queue per sub-command
// (0 once it is empty); GetTESSAStatus (10) answers the next status of
// `statuses` (0 once it is empty) after the handle.
class TessaFamilyStub {
public:
    explicit TessaFamilyStub(SimManagementController& controller)
    {
        controller.SetHandler(0x30, 0xA2, [this](const SimIpmiRequest& request) { return Answer(request); });
    }

    uint16_t handle = 0x1234;
    std::map<uint8_t, std::deque<uint8_t>> codes;
    std::deque<uint8_t> statuses;
    std::map<uint8_t, Bytes> extraData;   // after the handle, per sub-command

    void Codes(uint8_t subCommand, std::initializer_list<uint8_t> sequence)
    {
        codes[subCommand].insert(codes[subCommand].end(), sequence.begin(), sequence.end());
    }
    void Codes(uint8_t subCommand, uint8_t code, unsigned times)
    {
        codes[subCommand].insert(codes[subCommand].end(), times, code);
    }

private:
    SimIpmiReply Answer(const SimIpmiRequest& request)
    {
        SimIpmiReply reply;
        const uint8_t sub = request.data.empty() ? 0xFF : request.data[0];
        std::deque<uint8_t>& queue = codes[sub];
        if (!queue.empty()) {
            reply.completionCode = queue.front();
            queue.pop_front();
        }
        reply.data = {static_cast<uint8_t>(handle & 0xFF), static_cast<uint8_t>(handle >> 8)};
        if (sub == 10) {
            uint8_t status = 0;
            if (!statuses.empty()) {
                status = statuses.front();
                statuses.pop_front();
            }
            reply.data.push_back(status);
        }
        const Bytes& extra = extraData[sub];
        reply.data.insert(reply.data.end(), extra.begin(), extra.end());
        return reply;
    }
};

class KoltHostTest : public ::testing::Test {
protected:
    KoltHostTest() : device(controller) {}

    // Loads the library on the simulated host; pauses of the set-up are
    // forgotten so that tests see only their own.
    void LoadLibrary()
    {
        ASSERT_EQ(InitQRMIPMILibrary(), 0u);
        ASSERT_NE(pQRMIPMILibHandle, nullptr);
        host.sleeps.clear();
    }

    void TearDown() override { ReleaseQRMIPMILibrary(); }

    std::vector<Bytes> Frames() const
    {
        std::vector<Bytes> frames;
        for (const SimIpmiRequest& request : controller.Requests())
            frames.push_back(FrameOf(request));
        return frames;
    }

    HostNamespace ns;
    TempDir dir;
    FakeModuleHost host;
    FakeHostGuard hostGuard{host, ns};
    SimManagementController controller;
    SimIPMIDevice device;
    SimIPMISleepRecorder libSleeps;
    SimIPMISeamGuard seams{&device, &libSleeps};
};

// The lines of a KOLT log with the prefix "[<time>] : <file>:<line>: "
// taken off each line that has one (continuation lines of messages that
// hold a newline stay as they are).
inline std::vector<std::string> KoltLogMessages(const std::string& path)
{
    static const std::regex prefix(R"(^\[\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\] : [^:/]+:\d+: )");
    std::vector<std::string> messages;
    std::istringstream in(readWholeFile(path));
    std::string line;
    while (std::getline(in, line))
        messages.push_back(std::regex_replace(line, prefix, "", std::regex_constants::format_first_only));
    return messages;
}

inline bool Contains(const std::vector<std::string>& lines, const std::string& text)
{
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

// A KOLT log read from a mark on: the messages that one source file wrote.
class KoltLogReader {
public:
    explicit KoltLogReader(std::string path = "KOLT_DBG.log") : m_path(std::move(path)) {}

    void skipToEnd() { m_skip = lines().size(); }

    std::vector<std::string> messagesFrom(const std::string& sourceFile) const
    {
        static const std::regex prefixed(R"(^\[\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\] : ([^:/]+):\d+: (.*)$)");
        std::vector<std::string> messages;
        const std::vector<std::string> all = lines();
        std::smatch parts;
        for (size_t i = m_skip; i < all.size(); ++i)
            if (std::regex_match(all[i], parts, prefixed) && parts[1] == sourceFile)
                messages.push_back(parts[2]);
        return messages;
    }

private:
    std::vector<std::string> lines() const
    {
        std::vector<std::string> all;
        std::istringstream in(readWholeFile(m_path));
        std::string line;
        while (std::getline(in, line))
            all.push_back(line);
        return all;
    }

    std::string m_path;
    size_t m_skip = 0;
};

// A client test without a controller: its own working directory with the
// KOLT log switched on, the recorded platform layer installed, and a client
// made on request. A fixture that stages host files creates `ns` in its
// SetUp before calling this one's.
class KoltClientTest : public ::testing::Test {
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
        client = std::make_unique<secureTessa>();
        client->hostOsIndex = -1;
        platform.take();
        log.skipToEnd();
        return *client;
    }

    TempDir work;
    std::unique_ptr<HostNamespace> ns;
    SimPlatform platform;
    IPlatformImpl* previous = nullptr;
    std::unique_ptr<secureTessa> client;
    KoltLogReader log;
};

#endif
