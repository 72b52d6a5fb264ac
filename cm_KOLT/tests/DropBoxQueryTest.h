#ifndef CM_KOLT_TESTS_DROPBOXQUERYTEST_H
#define CM_KOLT_TESTS_DROPBOXQUERYTEST_H

// The controller-log query and the dependency check on a Linux host with
// the controller model. The model plays the controller's side of the
// exchange: once the four parts of the request's digest arrived (0xA2
// sub-command 0x09), it reads "update.xml" from the drop box, checks it
// against the digest and writes its answer "output.xml" there. The drop
// box's folder is /tmp/SECUPD in the test's private /tmp.

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "Md5Wrapper.h"
#include "PartitionHostTest.h"

class DropBoxQueryTest : public PartitionHostTest {
protected:
    using Strings = std::vector<std::string>;

    static constexpr const char* kBox = "/tmp/SECUPD/";

    void SetUp() override
    {
        PartitionHostTest::SetUp();
        if (HasFatalFailure())
            return;
        exposeAndMountable();
        host.answer("sync", 0);
        host.answerPrefix("umount ", 0);
        // The copy of package.xml runs in the test's namespace.
        host.answerPrefix("/bin/cp ", [](const std::string& command) { return std::system(command.c_str()); });
        tessa.SetSubHandler(0x09, [this](const std::vector<uint8_t>& data) { return playController(data); });
    }

    // The working directory lies below the hidden /tmp: written through it.
    static void writeHere(const std::string& name, const std::string& content)
    {
        std::ofstream(name, std::ios::binary | std::ios::trunc) << content;
    }

    // The managed-storage sub-commands of the exchange, in order, as
    // two-digit texts: create 07, attach 05, detach 06, digest 09, delete
    // 08 (queries of the partition table left out); other OEM commands by
    // their command byte ("BF", "BD").
    Strings exchangeSteps() const
    {
        Strings steps;
        for (const std::string& frame : framesSinceSetUp()) {
            if (frame.compare(0, 5, "30 A2") != 0) {
                steps.push_back(frame.substr(3, 2));
                continue;
            }
            const std::string sub = frame.substr(6, 2);
            if (sub != "03" && sub != "04")
                steps.push_back(sub);
        }
        return steps;
    }

    // The create frame's size field (units of 32 KiB, low byte first).
    std::string createdUnits() const
    {
        for (const std::string& frame : framesSinceSetUp())
            if (frame.compare(0, 8, "30 A2 07") == 0)
                return frame.substr(15, 5);
        return "";
    }

    // What the controller answers, written once the request's digest
    // arrived and matched; nothing when `answers` is false.
    std::string answer = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VCL><Record>1</Record></VCL>\n";
    bool answers = true;
    // Completion code of the digest parts.
    uint8_t handOverCode = 0x00;
    // Runs when the controller has read the request.
    std::function<void()> onRequest;

    // The requests the controller read, and whether each matched its digest.
    Strings requests;
    std::vector<bool> digestMatched;

private:
    SimIpmiReply playController(const std::vector<uint8_t>& data)
    {
        SimIpmiReply reply;
        reply.completionCode = handOverCode;
        if (data.size() > 3 && data[3] == 0x00) {
            m_digest.clear();
            m_parts = 0;
            return reply;
        }
        for (size_t i = 4; i < data.size() && i < 14 && data[i] != 0; ++i)
            m_digest += static_cast<char>(data[i]);
        if (++m_parts == 4) {
            const std::string request = readWholeFile(std::string(kBox) + "update.xml");
            requests.push_back(request);
            md5wrapper md5;
            const bool matched = !request.empty() && md5.getHashFromString(request) == m_digest;
            digestMatched.push_back(matched);
            if (matched && answers)
                std::ofstream(std::string(kBox) + "output.xml", std::ios::binary | std::ios::trunc) << answer;
            if (onRequest)
                onRequest();
        }
        return reply;
    }

    std::string m_digest;
    int m_parts = 0;
};

#endif
