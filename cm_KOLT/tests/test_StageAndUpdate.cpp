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
    Script(0x01, {{0x00, 0}});
    EXPECT_TRUE(client->checkIfWaveCPlusIPMISupported());
    Script(0x01, {{0x00, 1}});
    client->storeErrorInfo(0);
    EXPECT_FALSE(client->checkIfWaveCPlusIPMISupported());
    EXPECT_EQ(client->getKOLTError(), 0);

    const struct {
        Answer answer;
        int scheme;
    } cases[] = {{{0x00, 0, 0x03}, DIGEST_GPG}, {{0x00, 0, 0x02}, DIGEST_GPG}, {{0x00, 0, 0x01}, DIGEST_SHA256},
                 {{0x00, 0, 0x00}, DIGEST_SHA256}, {{0xC1, 0, 0x01}, DIGEST_MD5}};
    for (const auto& c : cases) {
        Script(0x20, {c.answer});
        EXPECT_EQ(client->QuerySupportedSecurtyMethod(), c.scheme) << int(c.answer.schemes);
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
}

// The status poll: its result, the pauses of 2 s it took, its last log line.
TEST_F(StageAndUpdateTest, StatusPollTable)
{
    OpenSession();
    const struct {
        std::vector<Answer> polls;
        int result;
        size_t pauses;
        const char* line;
    } cases[] = {
        {{{0x00, 0}}, 0, 0, " Polling Success"},
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
        SCOPED_TRACE(c.line);
        Script(0x08, c.polls);
        host.sleeps.clear();
        EXPECT_EQ(client->pollForStatus(), c.result);
        EXPECT_EQ(host.sleeps, std::vector<int>(c.pauses, 2));
        EXPECT_TRUE(Contains(Log(), c.line));
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stage.size());
        Script(0x02, c.stage);
        Script(0x08, c.polls.empty() ? std::vector<Answer>{{0x00, 0}} : c.polls);
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
