// The stage-and-update protocol: capability and digest-scheme queries, the
// VC state, the status poll and the stage request with their pauses and
// limits, against the controller model with a scripted 0x26 sub-command.

#include <deque>

#include "KoltControllerTest.h"

namespace {

using Strings = std::vector<std::string>;

struct Answer {
    uint8_t code;
    uint8_t status;       // answer data byte 2 (after the handle)
    uint8_t schemes = 0;  // answer data byte 3
};

// Answer lengths, completion code included, for answers cut short: the
// whole answer, one without a completion code, one that ends with the
// handle, and one that ends with the status byte.
const size_t kWhole = SIZE_MAX;
const size_t kNoCode = 0;
const size_t kUpToHandle = 3;
const size_t kUpToStatus = 4;
const size_t kUpToSchemes = 5;

class StageAndUpdateTest : public KoltControllerTest {
protected:
    // Answers the single command from a script per operation; an operation
    // whose script ran out repeats its last answer.
    void Script(uint8_t operation, std::vector<Answer> answers) { scripts[operation] = {answers.begin(), answers.end()}; }

    void SetUp() override
    {
        KoltControllerTest::SetUp();
        tessa.SetSubHandler(0x26, [this](const std::vector<uint8_t>& data) {
            const uint8_t operation = data.size() > 3 ? data[3] : 0;
            operations.push_back(operation);
            std::deque<Answer>& script = scripts[operation];
            Answer answer = script.empty() ? Answer{0x00, 0} : script.front();
            if (script.size() > 1)
                script.pop_front();
            SimIpmiReply reply;
            reply.completionCode = answer.code;
            reply.data = {answer.status, answer.schemes, 0};
            return reply;
        });
    }

    // The next answer to the single command, cut to `length` bytes.
    void Cut(size_t length)
    {
        if (length != kWhole)
            controller.ScriptSub(0x30, 0xA2, 0x26, SimIpmiStep::Short(length));
    }

    // Log lines after the first `logged` ones.
    Strings LogAfter(size_t logged) const
    {
        const Strings all = Log();
        return Strings(all.begin() + static_cast<long>(std::min(logged, all.size())), all.end());
    }

    size_t Count(uint8_t operation) const
    {
        return static_cast<size_t>(std::count(operations.begin(), operations.end(), operation));
    }

    std::map<uint8_t, std::deque<Answer>> scripts;
    std::vector<uint8_t> operations;
};

TEST_F(StageAndUpdateTest, CapabilityAndDigestScheme)
{
    OpenSession();
    // An answer that ends before the byte a query reads is a failed query:
    // the byte left out would read as "supported" or "SHA-256".
    const struct {
        Answer answer;
        bool supported;
        size_t length;
        const char* line;
    } capabilities[] = {
        {{0x00, 0}, true, kWhole, "checkIfWaveCPlusIPMISupported IPMI is success and also GUID check is enabled"},
        {{0x00, 1}, false, kWhole, "checkIfWaveCPlusIPMISupported IPMI Command is false and also GUID check is false"},
        {{0x00, 0}, false, kNoCode, "checkIfWaveCPlusIPMISupported Command is failed"},
        {{0x00, 0}, false, kUpToHandle, "checkIfWaveCPlusIPMISupported Command is failed"},
        {{0x00, 0}, true, kUpToStatus, "checkIfWaveCPlusIPMISupported IPMI is success and also GUID check is enabled"},
    };
    for (const auto& c : capabilities) {
        SCOPED_TRACE(testing::Message() << int(c.answer.status) << " cut to " << c.length);
        Script(0x01, {c.answer});
        Cut(c.length);
        client->storeErrorInfo(0);
        const size_t logged = Log().size();
        EXPECT_EQ(client->checkIfWaveCPlusIPMISupported(), c.supported);
        EXPECT_EQ(client->getKOLTError(), 0);
        const Strings log = LogAfter(logged);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), c.line);
        EXPECT_EQ(Contains(log, "checkIfWaveCPlusIPMISupported Command is successful"),
                  c.supported || c.length == kWhole);
    }

    const struct {
        Answer answer;
        int scheme;
        size_t length;
    } cases[] = {{{0x00, 0, 0x03}, DIGEST_GPG, kWhole}, {{0x00, 0, 0x02}, DIGEST_GPG, kWhole},
                 {{0x00, 0, 0x01}, DIGEST_SHA256, kWhole}, {{0x00, 0, 0x00}, DIGEST_SHA256, kWhole},
                 {{0xC1, 0, 0x01}, DIGEST_MD5, kWhole},
                 // A failed query gives MD5, not the SHA-256 of an empty
                 // scheme byte.
                 {{0x00, 0, 0x01}, DIGEST_MD5, kNoCode}, {{0x00, 0, 0x01}, DIGEST_MD5, kUpToStatus},
                 {{0x00, 0, 0x02}, DIGEST_GPG, kUpToSchemes}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.answer.schemes) << " cut to " << c.length);
        Script(0x20, {c.answer});
        Cut(c.length);
        EXPECT_EQ(client->QuerySupportedSecurtyMethod(), c.scheme);
    }
    Mark();
    Script(0x01, {{0x00, 0}});
    client->checkIfWaveCPlusIPMISupported();
    EXPECT_EQ(NewFrames().back(), "30 A2 26 34 12 01 00 00");
}

TEST_F(StageAndUpdateTest, WithoutASessionNothingIsSent)
{
    client->storeErrorInfo(0);
    EXPECT_FALSE(client->checkIfWaveCPlusIPMISupported());
    EXPECT_EQ(client->QuerySupportedSecurtyMethod(), DIGEST_MD5);
    EXPECT_EQ(client->pollForStatus(), -1);
    EXPECT_FALSE(client->sendIPMICommandToStageAndUpdate(true, DIGEST_SHA256));
    EXPECT_EQ(client->getKOLTError(), KOLT_NOSESSION);
    EXPECT_TRUE(operations.empty());
    EXPECT_TRUE(Contains(Log(), "No Active Session to perform Stage/Update"));
}

TEST_F(StageAndUpdateTest, VCStates)
{
    tessa.SetVCStates({0, 1, 2, 3, 4, 5, 6, 255});
    const int expected[] = {0, 1, 2, 3, 4, 5, 0, 0};
    for (int state : expected)
        EXPECT_EQ(client->pollForVCStatus(), state);
    const Strings log = Log();
    for (const char* line : {"VC is  Ready...", "VC is not Ready...", "VC is Reloading...", "VC is Disabled...",
                             "VC is Recovering...", "VC is In use..."})
        EXPECT_TRUE(Contains(log, line)) << line;
    EXPECT_EQ(NewFrames().front(), "30 A9 1E");

    // The completion code is not looked at; a request without any answer is.
    controller.Script(0x30, 0xA9, SimIpmiStep::Code(0xC1));
    EXPECT_EQ(client->pollForVCStatus(), 0);
    controller.Script(0x30, 0xA9, SimIpmiStep::Silence(), 10);
    EXPECT_EQ(client->pollForVCStatus(), -1);
    EXPECT_TRUE(Contains(Log(), "IPMI Command ERROR"));

    // An accepted answer that ends before the state byte (data byte 1), or
    // a reply without a completion code, is no answer: never "ready".
    tessa.SetVCStates({1});
    const struct {
        size_t length;
        int state;
    } cut[] = {{0, -1}, {1, -1}, {2, -1}, {3, 1}};
    for (const auto& c : cut) {
        controller.Script(0x30, 0xA9, SimIpmiStep::Short(c.length));
        const size_t logged = Log().size();
        EXPECT_EQ(client->pollForVCStatus(), c.state) << c.length;
        const Strings log = LogAfter(logged);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), c.state < 0 ? "IPMI Command ERROR" : "VC is not Ready...") << c.length;
    }
}

// The status poll: its result, the pauses of 2 s it took, its last log line.
TEST_F(StageAndUpdateTest, StatusPollTable)
{
    OpenSession();
    const struct {
        std::vector<Answer> polls;
        int result;
        size_t pauses;
        const char* line;      // logged last, or null
        size_t length = kWhole;  // of the first poll's answer
    } cases[] = {
        {{{0x00, 0}}, 0, 0, " Polling Success"},
        // A poll answered without its status failed, whatever the byte left
        // out would read as.
        {{{0x00, 0}}, -1, 0, nullptr, kNoCode},
        {{{0x00, 0}}, -1, 0, nullptr, kUpToHandle},
        {{{0x00, 0}}, 0, 0, " Polling Success", kUpToStatus},
        {{{0x00, 1}}, -1, 0, " Polling Failed"},
        {{{0x00, 2}, {0x00, 2}, {0x00, 3}}, 1, 2, "Success Update Staged and Reboot Required"},
        {{{0x00, 4}}, 0, 0, "Success Update Applied or Update Staged: Reboot not Required"},
        {{{0x00, 5}}, -1, 0, "Not Supported: Device or Actaion not supported"},
        {{{0x00, 6}}, -1, 0, "Tomel firmware Update Required"},
        {{{0x00, 7}}, -1, 0, "VC is Disabled"},
        {{{0x00, 2}, {0x00, 38}}, -1, 1, "SHA256 Checksum match Failed"},
        {{{0x00, 9}, {0x00, 0}}, 0, 1, "Unknow return code and continue to poll again"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.line ? c.line : "no line") << " cut to " << c.length);
        Script(0x08, c.polls);
        Cut(c.length);
        host.sleeps.clear();
        const size_t logged = Log().size();
        EXPECT_EQ(client->pollForStatus(), c.result);
        EXPECT_EQ(host.sleeps, std::vector<int>(c.pauses, 2));
        const Strings log = LogAfter(logged);
        if (c.line != nullptr)
            EXPECT_TRUE(Contains(log, c.line));
        else
            EXPECT_FALSE(Contains(log, "Stage or Update TESSA command Is successful "));
    }
}

TEST_F(StageAndUpdateTest, AStatusThatStaysPendingEndsAfter3000Polls)
{
    OpenSession();
    Script(0x08, {{0x00, 2}});
    EXPECT_EQ(client->pollForStatus(), -1);
    EXPECT_EQ(Count(0x08), 3000u);
    EXPECT_EQ(host.sleeps, std::vector<int>(3000, 2));
    EXPECT_EQ(Log().back(), "Leaving pollForStatus() Function");
}

TEST_F(StageAndUpdateTest, StageRequestTable)
{
    OpenSession();
    const struct {
        std::vector<Answer> stage;
        std::vector<Answer> polls;
        bool result;
        uint8_t error;
        size_t stageRequests;
        size_t length = kWhole;   // of the first stage answer
    } cases[] = {
        {{{0x00, 3}}, {}, true, 0, 1},
        {{{0x00, 4}}, {}, true, 0, 1},
        {{{0x00, 2}}, {{0x00, 2}, {0x00, 2}, {0x00, 3}}, true, 0, 1},
        {{{0x00, 2}}, {{0x00, 38}}, false, 66, 1},
        {{{0x00, 1}}, {}, false, 66, 1},
        {{{0x00, 5}}, {}, false, 67, 1},
        {{{0x00, 6}}, {}, false, 68, 1},
        {{{0x00, 7}}, {}, false, 55, 1},
        // Not final: asked again.
        {{{0x00, 38}, {0x00, 0}, {0x00, 9}, {0x00, 3}}, {}, true, 0, 4},
        // A request the controller refuses.
        {{{0xC1, 3}}, {}, false, 66, 1},
        // An answer without its status byte is a failed request, not a
        // status 0 to ask again about.
        {{{0x00, 3}}, {}, false, 66, 1, kNoCode},
        {{{0x00, 3}}, {}, false, 66, 1, kUpToHandle},
        {{{0x00, 3}}, {}, true, 0, 1, kUpToStatus},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.stage.size() << " cut to " << c.length);
        Script(0x02, c.stage);
        Script(0x08, c.polls.empty() ? std::vector<Answer>{{0x00, 0}} : c.polls);
        Cut(c.length);
        operations.clear();
        client->storeErrorInfo(0);
        EXPECT_EQ(client->sendIPMICommandToStageAndUpdate(false, DIGEST_SHA256), c.result);
        EXPECT_EQ(client->getKOLTError(), c.error);
        EXPECT_EQ(Count(0x02), c.stageRequests);
    }
}

TEST_F(StageAndUpdateTest, OperationAndSignedPackageBytes)
{
    OpenSession();
    Script(0x02, {{0x00, 3}});
    Script(0x04, {{0x00, 3}});
    const struct {
        bool update;
        digestType digest;
        const char* frame;
    } cases[] = {{false, DIGEST_SHA256, "30 A2 26 34 12 02 00 00"},
                 {true, DIGEST_MD5, "30 A2 26 34 12 04 00 00"},
                 {true, DIGEST_GPG, "30 A2 26 34 12 04 00 01"}};
    for (const auto& c : cases) {
        Mark();
        ASSERT_TRUE(client->sendIPMICommandToStageAndUpdate(c.update, c.digest));
        EXPECT_EQ(NewFrames().back(), c.frame);
    }
}

// A controller that never gives a final answer to the stage request no
// longer holds the run for ever.
TEST_F(StageAndUpdateTest, AStageThatIsNeverFinalFailsAfter3000Requests)
{
    OpenSession();
    Script(0x02, {{0x00, 38}});
    EXPECT_FALSE(client->sendIPMICommandToStageAndUpdate(false, DIGEST_SHA256));
    EXPECT_EQ(client->getKOLTError(), 66);
    EXPECT_EQ(Count(0x02), 3000u);
    EXPECT_EQ(host.sleeps, std::vector<int>(3000, 2));
}

TEST_F(StageAndUpdateTest, ResetRequest)
{
    OpenSession();
    const struct {
        Answer answer;
        bool result;
        uint8_t error;
    } cases[] = {{{0x00, 9}, true, 0}, {{0x00, 0}, false, 0}, {{0x01, 0}, false, 66}, {{0xC1, 9}, false, 0}};
    for (const auto& c : cases) {
        Script(0x40, {c.answer});
        client->storeErrorInfo(0);
        EXPECT_EQ(client->StagevACResetRequestSIPMI(), c.result);
        EXPECT_EQ(client->getKOLTError(), c.error);
    }
}

// Only a refusal (completion code 1) leaves out the closing line; a request
// that never gets a reply is a failure that still ends with it.
TEST_F(StageAndUpdateTest, ResetRequestWithoutAReplyEndsWithItsClosingLine)
{
    OpenSession();
    controller.Script(0x30, 0xA2, SimIpmiStep::Silence(), 10);
    client->storeErrorInfo(0);

    EXPECT_FALSE(client->StagevACResetRequestSIPMI());

    EXPECT_EQ(Count(0x40), 0u);
    EXPECT_EQ(NewFrames().size(), 10u);
    EXPECT_EQ(client->getKOLTError(), 0);
    const Strings log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Entering StagevACResetRequestSIPMI() Function - End");
    EXPECT_FALSE(Contains(log, "Stage or Update TESSA command Is successful "));
}

} // namespace
