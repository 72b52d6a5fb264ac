// The OEM request layer over the real IPMI library and a simulated
// controller: how each completion code is judged, how often the request
// reaches the device (library resends included), and the pauses asked of
// the platform layer.

#include <cstring>
#include <functional>
#include <memory>

#include "KoltTestSupport.h"

namespace {

const uint8_t kSub = 3;   // Getpartitionindexinfo
const Bytes kFrame{0x30, 0xA2, kSub, 0x34, 0x12, 0x00, 0x00};
const Bytes kPollFrame{0x30, 0xA2, 0x0A, 0x34, 0x12, kSub, 0x00, 0x00};

class RequestLayerTest : public KoltHostTest {
protected:
    void SetUp() override
    {
        dir.write("zordebuglog", "");
        client = ClientWithoutLifeCycle();
        LoadLibrary();
        client->session.active = 1;
        client->session.handle = 0x1234;
    }

    void TearDown() override
    {
        client.reset();
        KoltHostTest::TearDown();
    }

    unsigned char SendPartitionIndexQuery()
    {
        std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
        IPMIReqBuf.request[3] = static_cast<uint8_t>(client->session.handle & 0xFF);
        IPMIReqBuf.request[4] = static_cast<uint8_t>(client->session.handle >> 8);
        return client->IPMIRequest(kSub, &IPMIReqBuf, 7, 13);
    }

    std::vector<std::string> Log() const { return KoltLogMessages(dir.file("KOLT_DBG.log")); }

    TessaFamilyStub tessa{controller};
    std::unique_ptr<secureTessa> client;
};

struct CodeCase {
    const char* name;
    std::function<void(TessaFamilyStub&, SimManagementController&)> controllerSetUp;
    unsigned char result;
    size_t requestFrames;   // frames of the request itself
    size_t pollFrames;      // GetTESSAStatus frames after it
    std::vector<int> sleeps;
    const char* logLine;    // one line the judgement logs, or null
};

void PrintTo(const CodeCase& c, std::ostream* os) { *os << c.name; }

std::vector<int> Twice(size_t n) { return std::vector<int>(n, 2); }

const CodeCase kCodeCases[] = {
    {"Success", [](TessaFamilyStub&, SimManagementController&) {}, 0, 1, 0, {}, "TOMEL returned SUCCESS"},
    {"BusyTenTimes", [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, 8, 10); },
     2, 10, 0, Twice(9), "ESM_STATUS_DEVICE_BUSY"},
    {"BusyNineTimesThenSuccess",
     [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, 8, 9); t.Codes(kSub, {0}); },
     0, 10, 0, Twice(9), "ESM_STATUS_DEVICE_BUSY"},
    {"TimeoutIsBusy", [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, {3, 0}); },
     0, 2, 0, Twice(1), "ESM_STATUS_CMD_TIMEOUT"},
    {"PendingCodeSixIsBusy", [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, {6, 0}); },
     0, 2, 0, Twice(1), "ESM_STATUS_CMD_PENDING"},
    // The library itself resends codes it does not know as final: each of
    // the request layer's sends reaches the device five times.
    {"SpuriousInterruptIsBusyAndResentByTheLibrary",
     [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, 10, 50); },
     2, 50, 0, Twice(9), "ESM_STATUS_CMD_DEVICE_SPURIOUS_INTR"},
    {"QueueBusyResentByTheLibraryThenSuccess",
     [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, 22, 5); },
     0, 6, 0, Twice(1), "ESM_STATUS_PENDING_BUSY_QUEUE"},
    {"OverrunTenTimesIsSuccessWithoutPause",
     [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, 16, 10); },
     0, 10, 0, {}, "ESM_STATUS_CMD_DATA_OVERRUN"},
    {"OverrunThenSuccess", [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, {16, 0}); },
     0, 2, 0, {}, "ESM_STATUS_CMD_DATA_OVERRUN"},
    {"BusyThenOverrunToTheEnd",
     [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, {8}); t.Codes(kSub, 16, 9); },
     2, 10, 0, Twice(9), "ESM_STATUS_CMD_DATA_OVERRUN"},
    {"NotImplementedFails", [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, {1}); },
     1, 1, 0, {}, "ESM_STATUS_CMD_NOT_IMPLEMENTED"},
    {"AbortFails", [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, {5}); },
     1, 1, 0, {}, "ESM_STATUS_CMD_ABORT"},
    {"DeviceFullFailsAfterTheLibraryResentIt",
     [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, 19, 5); },
     1, 5, 0, {}, "ESM_STATUS_DEVICE_FULL"},
    {"PendingThenStatusesTwoTwoZero",
     [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, {2}); t.statuses = {2, 2, 0}; },
     0, 1, 3, {1, 1, 1}, "ESM_STATUS_CMD_PENDING"},
    {"PendingThenFailedStatus",
     [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, {2}); t.statuses = {2, 3}; },
     2, 1, 2, {1, 1}, "SubCmdStatus: 03"},
    {"PendingThenStatusQueryFails",
     [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, {2}); t.Codes(10, {1}); },
     2, 1, 1, {1}, "GetTESSAStatus Command returned: FAILURE.  Breaking out of Poll Loop"},
    // A status answer that ends before its status byte tells nothing; the
    // byte left out must not read as "done".
    {"PendingThenStatusAnswerWithoutItsStatus",
     [](TessaFamilyStub& t, SimManagementController& c) {
         t.Codes(kSub, {2});
         c.ScriptSub(0x30, 0xA2, 10, SimIpmiStep::Short(3));
     },
     2, 1, 1, {1}, "GetTESSAStatus Command returned: FAILURE.  Breaking out of Poll Loop"},
    {"PendingThenStatusAnswerEndingWithItsStatus",
     [](TessaFamilyStub& t, SimManagementController& c) {
         t.Codes(kSub, {2});
         c.ScriptSub(0x30, 0xA2, 10, SimIpmiStep::Short(4));
     },
     0, 1, 1, {1}, "SubCmdStatus: 00"},
    {"PendingThenStatusQueryBusyOnce",
     [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, {2}); t.Codes(10, {8, 0}); },
     0, 1, 2, {1, 2}, "ESM_STATUS_DEVICE_BUSY"},
    // 0xFF is resent by the library too; the request layer then waits 2 s
    // and polls as for a pending answer.
    {"ProcessingThenPolling",
     [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, 0xFF, 5); t.statuses = {0}; },
     0, 5, 1, {2, 1}, "TOMEL is processing"},
    {"ReturnCodeTwentyFails", [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, 20, 5); },
     1, 5, 0, {}, "Unrecognized TOMEL return code [0x14]"},
    {"UnknownCodeFails", [](TessaFamilyStub& t, SimManagementController&) { t.Codes(kSub, {0xC1}); },
     1, 1, 0, {}, "Unrecognized TOMEL return code [0xc1]"},
    {"LibraryExchangeFailedFailsAtOnce",
     [](TessaFamilyStub&, SimManagementController& c) { c.Script(0x30, 0xA2, SimIpmiStep::SendFailure(EIO)); },
     1, 1, 0, {}, "ProcessTessaIPMICommand: ZURMELCommand ERROR "},
    {"NoAnswerFailsAtOnce",
     [](TessaFamilyStub&, SimManagementController& c) { c.Script(0x30, 0xA2, SimIpmiStep::Silence()); },
     1, 1, 0, {}, "ProcessTessaIPMICommand: ZURMELCommand ERROR "},
    // A reply without a completion code answered nothing: its cleared
    // code byte must not read as success. The code alone is an answer.
    {"ReplyWithoutACompletionCodeFailsAtOnce",
     [](TessaFamilyStub&, SimManagementController& c) { c.Script(0x30, 0xA2, SimIpmiStep::Short(0)); },
     1, 1, 0, {}, "ProcessTessaIPMICommand: ZURMELCommand ERROR "},
    {"ReplyOfTheCompletionCodeAloneIsJudged",
     [](TessaFamilyStub&, SimManagementController& c) { c.Script(0x30, 0xA2, SimIpmiStep::Short(1)); },
     0, 1, 0, {}, "TOMEL returned SUCCESS"},
};

class CompletionCodeTable : public RequestLayerTest, public ::testing::WithParamInterface<CodeCase> {};

} // namespace

TEST_P(CompletionCodeTable, ResultFramesAndPauses)
{
    const CodeCase& c = GetParam();
    c.controllerSetUp(tessa, controller);

    EXPECT_EQ(SendPartitionIndexQuery(), c.result);

    const std::vector<Bytes> frames = Frames();
    ASSERT_EQ(frames.size(), c.requestFrames + c.pollFrames);
    for (size_t i = 0; i < c.requestFrames; ++i)
        EXPECT_EQ(frames[i], kFrame) << "frame " << i;
    for (size_t i = c.requestFrames; i < frames.size(); ++i)
        EXPECT_EQ(frames[i], kPollFrame) << "frame " << i;
    EXPECT_EQ(host.sleeps, c.sleeps);
    if (c.logLine) {
        EXPECT_TRUE(Contains(Log(), c.logLine)) << c.logLine;
    }
}

INSTANTIATE_TEST_SUITE_P(RequestLayer, CompletionCodeTable, ::testing::ValuesIn(kCodeCases),
                         [](const ::testing::TestParamInfo<CodeCase>& info) { return info.param.name; });

TEST_F(RequestLayerTest, PendingWithoutSessionPollsNothingAndStoresNoSession)
{
    client->session.active = 0;
    tessa.Codes(kSub, {2});

    EXPECT_EQ(SendPartitionIndexQuery(), 2);
    EXPECT_EQ(Frames().size(), 1u);
    EXPECT_TRUE(host.sleeps.empty());
    EXPECT_EQ(client->getKOLTError(), KOLT_NOSESSION);
}

TEST_F(RequestLayerTest, PollingLeavesTheAnswerInPlaceAndWritesOnlyItsCompletionCode)
{
    tessa.Codes(kSub, {2});
    tessa.extraData[kSub] = {0x00, 0x05, 0x00, 0x00, 0x00, 0x01};
    tessa.statuses = {2, 0};

    EXPECT_EQ(SendPartitionIndexQuery(), 0);
    EXPECT_EQ(IPMIReqBuf.response[2], 0x00);
    EXPECT_EQ(IPMIReqBuf.response[6], 0x05);
    EXPECT_EQ(IPMIReqBuf.response[10], 0x01);
    EXPECT_EQ(IPMIReqBuf.request[2], kSub);
    const std::vector<std::string> log = Log();
    EXPECT_TRUE(Contains(log, "Polling Count 0 "));
    EXPECT_TRUE(Contains(log, " PollTessaCmdComplete IPMIResponse[ 0x31 0xa2 0x00 0x34 0x12 0x02 0x00]"));
}

// Asked directly, the poll says whether the command completed: a status
// answer without even a completion code says nothing of the kind.
TEST_F(RequestLayerTest, PollWithoutAnyAnswerIsNoCompletion)
{
    controller.ScriptSub(0x30, 0xA2, 10, SimIpmiStep::Short(0));
    EXPECT_FALSE(client->PollTessaCmdComplete(1, kSub));

    tessa.statuses = {0};
    EXPECT_TRUE(client->PollTessaCmdComplete(1, kSub));
}

TEST_F(RequestLayerTest, AnswersCarryTheSessionHandleUnlessItIsZero)
{
    tessa.handle = 0x0507;
    EXPECT_EQ(SendPartitionIndexQuery(), 0);
    EXPECT_EQ(client->session.handle, 0x0507);
    EXPECT_TRUE(Contains(Log(), "New Tessa Handle = 1287"));

    tessa.handle = 0;
    EXPECT_EQ(SendPartitionIndexQuery(), 0);
    EXPECT_EQ(client->session.handle, 0x0507);

    // A failed answer never moves the handle.
    tessa.handle = 0x0999;
    tessa.Codes(kSub, {5});
    EXPECT_EQ(SendPartitionIndexQuery(), 1);
    EXPECT_EQ(client->session.handle, 0x0507);

    // Nor does an answer that ends inside the handle: its low byte alone
    // would name another session. Both bytes make a handle.
    controller.Script(0x30, 0xA2, SimIpmiStep::Short(2));
    EXPECT_EQ(SendPartitionIndexQuery(), 0);
    EXPECT_EQ(client->session.handle, 0x0507);
    controller.Script(0x30, 0xA2, SimIpmiStep::Short(3));
    EXPECT_EQ(SendPartitionIndexQuery(), 0);
    EXPECT_EQ(client->session.handle, 0x0999);
}

TEST_F(RequestLayerTest, DumpsNameTheSubCommandAndEndWithAnEmptyLine)
{
    EXPECT_EQ(SendPartitionIndexQuery(), 0);

    std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
    EXPECT_EQ(client->IPMIRequest(0x26, &IPMIReqBuf, 8, 8), 0);

    controller.SetReply(0x30, 0xAD, 0x00, {0x01});
    std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
    EXPECT_EQ(OEMIPMIRequest(eGetTessaType, 0, &IPMIReqBuf, 4, 6), 0);

    const std::vector<std::string> log = Log();
    const std::vector<std::string> expected{
        "Getpartitionindexinfo IPMIRequest[ 0x30 0xa2 0x03 0x34 0x12 0x00 0x00]",
        "",
        " IPMIResponse[ 0x31 0xa2 0x00 0x34 0x12]",
        "",
        "TOMEL returned SUCCESS",
        "",
        "New Tessa Handle = 4660",
        " IPMIRequest[ 0x30 0xa2 0x26 0x00 0x00 0x00 0x00 0x00]",
        "",
        " IPMIResponse[ 0x31 0xa2 0x00 0x34 0x12]",
        "",
        "TOMEL returned SUCCESS",
        "",
        "New Tessa Handle = 4660",
        "  IPMIRequest[ 0x30 0xad 0x00 0x00]",
        "",
        " IPMIResponse[ 0x31 0xad 0x00 0x01]",
        "",
        "TOMEL returned SUCCESS",
        "",
    };
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(log.end() - expected.size(), log.end()), expected);
}

TEST_F(RequestLayerTest, DumpsStopAtTheEndOfTheBuffersWhateverTheLengthsSay)
{
    _QRMIPMICommandData record;
    std::memset(&record, 0, sizeof(record));
    record.request[0] = 0x30;
    record.request[1] = 0xA2;
    record.requestLength = 400;    // refused by the library, never sent
    record.responseLength = 5000;
    EXPECT_EQ(ProcessTessaIPMICommand(&record), 1);
    EXPECT_FALSE(ProcessIPMICommand(&record));
    EXPECT_TRUE(Frames().empty());

    size_t requestDumps = 0;
    size_t responseDumps = 0;
    for (const std::string& line : Log()) {
        size_t bytes = 0;
        for (size_t pos = line.find(" 0x"); pos != std::string::npos; pos = line.find(" 0x", pos + 1))
            ++bytes;
        if (line.find("IPMIRequest[") != std::string::npos) {
            ++requestDumps;
            EXPECT_EQ(bytes, 255u);
        } else if (line.find("IPMIResponse[") != std::string::npos) {
            ++responseDumps;
            EXPECT_EQ(bytes, 255u);
        }
    }
    EXPECT_EQ(requestDumps, 2u);
    EXPECT_EQ(responseDumps, 10u);
}

TEST_F(RequestLayerTest, PlainRequestsAreTriedTenTimesTwoSecondsApart)
{
    controller.Script(0x06, 0x59, SimIpmiStep::SendFailure(EIO), 10);
    _QRMIPMICommandData record;
    std::memset(&record, 0, sizeof(record));
    record.request[0] = 0x06;
    record.request[1] = 0x59;
    record.requestLength = 6;
    record.responseLength = 30;

    EXPECT_FALSE(ProcessIPMICommand(&record));
    EXPECT_EQ(Frames().size(), 10u);
    EXPECT_EQ(host.sleeps, Twice(10));

    host.sleeps.clear();
    controller.Script(0x06, 0x59, SimIpmiStep::SendFailure(EIO));
    controller.SetReply(0x06, 0x59, 0xCC);
    EXPECT_TRUE(ProcessIPMICommand(&record));   // delivered: the caller judges 0xCC
    EXPECT_EQ(record.response[2], 0xCC);
    EXPECT_EQ(host.sleeps, Twice(1));
    const std::vector<std::string> log = Log();
    EXPECT_TRUE(Contains(log, "ProcessIPMICommand Passed"));
    EXPECT_TRUE(Contains(log, "ProcessIPMICommand END"));
}

// The controller-reset request judges the reply's completion code: a reply
// without one is a failed request, not "TOMEL returned SUCCESS".
TEST_F(RequestLayerTest, TomelResetJudgesOnlyAReplyWithACompletionCode)
{
    const struct {
        SimIpmiStep step;
        unsigned char result;
        const char* line;
    } cases[] = {
        {SimIpmiStep::Short(0), 1, "ZURMELCommand ERROR from Tomel reset"},
        {SimIpmiStep::Short(1), 0, "TOMEL returned SUCCESS"},
        {SimIpmiStep::Code(5), 5, "TOMEL returned TESSA_DISABLED"},
    };
    controller.SetReply(0x0B, 0xA2, 0x00);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        controller.Script(0x0B, 0xA2, c.step);
        const size_t logged = Log().size();
        _QRMIPMICommandData record;
        std::memset(&record, 0, sizeof(record));
        EXPECT_EQ(OEMIPMIRequestTomelReset(eTessaCommand, &record, 2, 3), c.result);
        const std::vector<std::string> log = Log();
        EXPECT_TRUE(Contains(std::vector<std::string>(log.begin() + static_cast<long>(logged), log.end()), c.line));
    }
}

TEST_F(RequestLayerTest, ColdResetIsDeliveredWhateverItsCompletionCode)
{
    // No handler: the model answers 0xC1.
    EXPECT_EQ(rstTomel(), 0);
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(Frames()[0], (Bytes{0x06, 0x02}));

    controller.Script(0x06, 0x02, SimIpmiStep::SendFailure(EIO), 10);
    EXPECT_EQ(rstTomel(), 1);
    EXPECT_TRUE(Contains(Log(), "ZURMELCommand ERROR from Tomel reset"));
}

TEST(RequestLayerWithoutLibrary, RequestsFailInsteadOfCrashing)
{
    ASSERT_EQ(pQRMIPMILibHandle, nullptr);
    _QRMIPMICommandData record;
    std::memset(&record, 0, sizeof(record));
    record.request[0] = 0x30;
    record.request[1] = 0xBD;
    record.requestLength = 2;
    EXPECT_FALSE(ProcessIPMIReuestResponseUsingQRMIPMI(&record));
    EXPECT_EQ(ProcessTessaIPMICommand(&record), 1);
}

TEST(IPMICommandNames, NamedAndUnnamedSubCommands)
{
    EXPECT_EQ(getIPMICommandName(0), "BeginTESSASession");
    EXPECT_EQ(getIPMICommandName(10), "GetTESSAStatus");
    EXPECT_EQ(getIPMICommandName(17), "setStateFlagCmd");
    EXPECT_EQ(getIPMICommandName(18), "BeginTESSASessionExtended");
    EXPECT_EQ(getIPMICommandName(35), "EndSecureUpdate");
    EXPECT_EQ(getIPMICommandName(48), "GetKaveSystemInfo");
    for (unsigned char unnamed : {13, 14, 15, 19, 33, 36, 38, 255})
        EXPECT_EQ(getIPMICommandName(unnamed), "") << int(unnamed);
}
