#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "LQRMIPMIProcessor.h"
#include "LibraryLogFile.h"
#include "QRMLogger.h"
#include "SimIPMIDeviceAdapter.h"
#include "SimManagementController.h"
#include "TempDir.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const uint8_t kNetFn = 0x30;
const uint8_t kCmd = 0xA2;

// One row of the retry table.
struct RetryCase {
    const char* name;
    uint32_t retryCount;
    std::vector<SimIpmiStep> steps;      // consumed one per send
    std::deque<int> waits;               // forced wait outcomes
    bool alwaysReadable;                 // waits report readable although nothing is queued
    QRMIPMIResult result;
    size_t sends;                        // send attempts that reached the device
    size_t waitCount;
    std::vector<unsigned long long> sleepsMs;
    uint8_t completionCode;              // response byte 2 afterwards
    uint32_t responseLength;             // 99 = the caller's value, untouched
};

void PrintTo(const RetryCase& c, std::ostream* os) { *os << c.name; }

SimIpmiStep Code(uint8_t c) { return SimIpmiStep::Code(c); }

std::vector<unsigned long long> Pauses(size_t n) { return std::vector<unsigned long long>(n, 50); }

class AlwaysReadableDevice : public SimIPMIDevice {
public:
    using SimIPMIDevice::SimIPMIDevice;
    bool alwaysReadable = false;
    int WaitReadable(int fd, const struct timespec& timeout, bool& readable) override
    {
        int rc = SimIPMIDevice::WaitReadable(fd, timeout, readable);
        if (alwaysReadable && rc == 0) {
            readable = true;
            return 1;
        }
        return rc;
    }
};

class RetryTest : public ::testing::TestWithParam<RetryCase> {
protected:
    RetryTest() : device(controller), seams(&device, &sleeps)
    {
        memset(&record, 0, sizeof(record));
        record.configuration = &config;
        record.request[0] = kNetFn;
        record.request[1] = kCmd;
        record.request[2] = 0x05;
        record.requestLength = 3;
        record.responseLength = 99;
        controller.SetReply(kNetFn, kCmd, 0x00, {0x12, 0x34});
    }

    SimManagementController controller;
    AlwaysReadableDevice device;
    SimIPMISleepRecorder sleeps;
    SimIPMISeamGuard seams;
    _QRMIPMIConfiguration config = {60, 5, 5, 50, 0, 0};
    _QRMIPMICommandData record;
};

} // namespace

TEST_P(RetryTest, SendsWaitsAndPausesExactly)
{
    const RetryCase& c = GetParam();
    config.RetryCount = c.retryCount;
    for (const SimIpmiStep& step : c.steps)
        controller.Script(kNetFn, kCmd, step);
    device.waitScript = c.waits;
    device.alwaysReadable = c.alwaysReadable;

    IPMIProcessor processor;
    ASSERT_EQ(processor.Initialize(), 0u);
    CQRMIPMICommandData cmd(&record);
    EXPECT_EQ(processor.ExecuteCommand(cmd), c.result);

    EXPECT_EQ(controller.Requests().size(), c.sends);
    EXPECT_EQ(device.waitTimeouts.size(), c.waitCount);
    for (const auto& t : device.waitTimeouts) {
        EXPECT_EQ(t.tv_sec, 20);
        EXPECT_EQ(t.tv_nsec, 60000);
    }
    EXPECT_EQ(sleeps.milliseconds, c.sleepsMs);
    EXPECT_TRUE(sleeps.seconds.empty());
    EXPECT_EQ(record.response[2], c.completionCode);
    EXPECT_EQ(record.responseLength, c.responseLength);
    // The configuration is read, never changed.
    EXPECT_EQ(config.RetryCount, c.retryCount);
    EXPECT_EQ(config.RetryInterval, 50u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RetryTest,
    ::testing::Values(
        RetryCase{"Success", 5, {}, {}, false, 0, 1, 1, {}, 0x00, 5},
        RetryCase{"FinalErrorCodeStopsAtOnce", 5, {Code(0xC1)}, {}, false, 0, 1, 1, {}, 0xC1, 3},
        RetryCase{"BusyThenSuccess", 5, {Code(0xC0), Code(0xC0)}, {}, false, 0, 3, 3, Pauses(2), 0x00, 5},
        RetryCase{"BusyBeyondTheRetries", 5, {Code(0xC0), Code(0xC0), Code(0xC0), Code(0xC0), Code(0xC0), Code(0xC0)},
                  {}, false, 0, 5, 5, Pauses(5), 0xC0, 3},
        RetryCase{"TimeoutCodeBeyondTheRetries", 5, {Code(0xC3), Code(0xC3), Code(0xC3), Code(0xC3), Code(0xC3)},
                  {}, false, 0, 5, 5, Pauses(5), 0xC3, 3},
        RetryCase{"UnspecifiedThenReserved07ThenFinal", 5, {Code(0xFF), Code(0x07), Code(0xCC)}, {}, false,
                  0, 3, 3, Pauses(2), 0xCC, 3},
        RetryCase{"BusyWithOneRetry", 1, {Code(0xC0)}, {}, false, 0, 1, 1, Pauses(1), 0xC0, 3},
        RetryCase{"NoAnswerTimesOut", 5, {SimIpmiStep::Silence()}, {}, false, 320, 1, 5, Pauses(5), 0x00, 99},
        RetryCase{"RetryCountZeroSendsOnceWithoutWaiting", 0, {}, {}, false, 320, 1, 0, {}, 0x00, 99},
        RetryCase{"StaleIdSkippedWithoutPause", 5, {SimIpmiStep::Stale()}, {}, false, 0, 1, 2, {}, 0x00, 5},
        RetryCase{"OnlyStaleAnswerThenTimeouts", 5, {SimIpmiStep::Stale(false)}, {}, false, 320, 1, 5, Pauses(4),
                  0x00, 99},
        RetryCase{"OverLongAnswerFailsAtOnce", 5, {SimIpmiStep::OverLong(254)}, {}, false, 320, 1, 1, {}, 0x10, 99},
        RetryCase{"LongestAnswerFits", 5, {SimIpmiStep::OverLong(253)}, {}, false, 0, 1, 1, {}, 0x00, 255},
        RetryCase{"SendErrorNeverWaits", 5, {SimIpmiStep::SendFailure(ENXIO)}, {}, false, 320, 1, 0, {}, 0x01, 99},
        RetryCase{"WaitErrorCountsAsAttempt", 5, {}, {SimIPMIDevice::WaitError}, false, 0, 1, 2, Pauses(1), 0x00, 5},
        RetryCase{"EventWithoutDataRetriesAtOnce", 5, {}, {SimIPMIDevice::WaitEventNotReadable}, false, 0, 1, 2, {},
                  0x00, 5},
        RetryCase{"ReceiveErrorPausesAndRetries", 5, {SimIpmiStep::Silence()}, {}, true, 320, 1, 5, Pauses(5),
                  0x00, 99}),
    [](const ::testing::TestParamInfo<RetryCase>& info) { return std::string(info.param.name); });


TEST_F(RetryTest, EveryFinalCodeEndsAfterOneSendAndEveryOtherCodeIsRetried)
{
    const std::set<int> finals = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x08,
                                  0x10, 0xC1, 0xC2, 0xC7, 0xC8, 0xC9, 0xCC, 0xCE};
    IPMIProcessor processor;
    ASSERT_EQ(processor.Initialize(), 0u);
    config.RetryCount = 2;

    for (int code = 0; code <= 0xFF; ++code) {
        SimManagementController mc;
        SimIPMIDevice dev(mc);
        SimIPMISleepRecorder rec;
        SimIPMISeamGuard guard(&dev, &rec);
        mc.SetReply(kNetFn, kCmd, static_cast<uint8_t>(code));

        memset(record.response, 0, sizeof(record.response));
        CQRMIPMICommandData cmd(&record);
        ASSERT_EQ(processor.ExecuteCommand(cmd), 0u) << code;
        const bool final = finals.count(code) != 0;
        EXPECT_EQ(mc.Requests().size(), final ? 1u : 2u) << std::hex << code;
        EXPECT_EQ(rec.milliseconds.size(), final ? 0u : 2u) << std::hex << code;
        EXPECT_EQ(record.response[2], code);
    }
}

TEST_F(RetryTest, OverLongAnswerKeepsItsNetFnAndCommand)
{
    controller.Script(kNetFn, kCmd, SimIpmiStep::OverLong(300));
    LibraryLog log;
    IPMIProcessor processor;
    ASSERT_EQ(processor.Initialize(), 0u);
    CQRMIPMICommandData cmd(&record);
    EXPECT_EQ(processor.ExecuteCommand(cmd), 320u);
    EXPECT_EQ(record.response[0], kNetFn | 1);
    EXPECT_EQ(record.response[1], kCmd);
    EXPECT_EQ(record.response[2], 0x10);
    EXPECT_EQ(record.response[254], SimManagementController::kOverLongFill);   // cut at the buffer's end
    EXPECT_EQ(record.responseLength, 99u);
    EXPECT_THAT(log.Text(),
                HasSubstr("Overurn of data and Error in ioctl IPMICTL_RECEIVE_MSG_TRUNC and last error is 90: \n"));
}

TEST_F(RetryTest, StaleAnswerIsDiscardedAndLogged)
{
    gnMsgID = 12;
    controller.Script(kNetFn, kCmd, SimIpmiStep::Stale());
    LibraryLog log;
    IPMIProcessor processor;
    ASSERT_EQ(processor.Initialize(), 0u);
    CQRMIPMICommandData cmd(&record);
    EXPECT_EQ(processor.ExecuteCommand(cmd), 0u);
    EXPECT_THAT(std::vector<uint8_t>(record.response, record.response + record.responseLength),
                ElementsAre(kNetFn | 1, kCmd, 0x00, 0x12, 0x34));
    EXPECT_THAT(log.Text(), HasSubstr("Mismatch in message id for id number 12"));
}

TEST_F(RetryTest, BusyRetriesAreLoggedWithTheCountdown)
{
    controller.Script(kNetFn, kCmd, Code(0xC0), 5);
    LibraryLog log;
    IPMIProcessor processor;
    ASSERT_EQ(processor.Initialize(), 0u);
    CQRMIPMICommandData cmd(&record);
    EXPECT_EQ(processor.ExecuteCommand(cmd), 0u);
    std::string text = log.Text();
    for (int left = 4; left >= 0; --left)
        EXPECT_THAT(text, HasSubstr("IPMIProcessor::ExecuteCommand Got IPMI return code as c0 and number of retries left are " +
                                    std::to_string(left) + " out of 5"));
}

TEST_F(RetryTest, TimeoutsAreLoggedPerAttempt)
{
    controller.Script(kNetFn, kCmd, SimIpmiStep::Silence());
    config.RetryCount = 2;
    LibraryLog log;
    IPMIProcessor processor;
    ASSERT_EQ(processor.Initialize(), 0u);
    CQRMIPMICommandData cmd(&record);
    EXPECT_EQ(processor.ExecuteCommand(cmd), 320u);
    std::string text = log.Text();
    EXPECT_THAT(text, HasSubstr("IPMI Driver Not available for Receiving IPMI Command response for  1 time\n"));
    EXPECT_THAT(text, HasSubstr("IPMI Driver Not available for Receiving IPMI Command response for  2 time\n"));
    EXPECT_EQ(text.find("for  3 time"), std::string::npos);
}

// ---- exchange dump ---------------------------------------------------------

TEST(IPMIExchangeDump, Format)
{
    _QRMIPMICommandData rec;
    memset(&rec, 0, sizeof(rec));
    rec.request[0] = 0x06;
    rec.request[1] = 0x01;
    rec.requestLength = 2;
    CQRMIPMICommandData cmd(&rec);
    EXPECT_EQ(FormatIPMIExchange(cmd), "\nIPMI Request :  0x06 0x01      IPMI Response :  \n");

    rec.response[0] = 0x07;
    rec.response[1] = 0x01;
    rec.response[2] = 0xC0;
    rec.response[3] = 0xAB;
    rec.responseLength = 4;
    EXPECT_EQ(FormatIPMIExchange(cmd),
              "\nIPMI Request :  0x06 0x01      IPMI Response :   0x07 0x01 0xc0 0xab\n");
}

TEST(IPMIExchangeDump, CallerLengthsNeverReachBeyondTheBuffers)
{
    _QRMIPMICommandData rec;
    memset(&rec, 0, sizeof(rec));
    rec.requestLength = 0xFFFFFFFFu;
    rec.responseLength = 70000;
    CQRMIPMICommandData cmd(&rec);
    std::string text = FormatIPMIExchange(cmd);
    size_t count = 0;
    for (size_t pos = text.find(" 0x"); pos != std::string::npos; pos = text.find(" 0x", pos + 1))
        ++count;
    EXPECT_EQ(count, 2u * 255u);
}

TEST(IPMIExchangeDump, FirstDumpShowsTheCallersResponseLengthInZeros)
{
    SimManagementController controller;
    SimIPMIDevice device(controller);
    SimIPMISleepRecorder sleeps;
    SimIPMISeamGuard seams(&device, &sleeps);
    controller.SetReply(0x06, 0x01, 0x00, {0x20});

    _QRMIPMIConfiguration cfg = {60, 5, 5, 50, 0, 0};
    _QRMIPMICommandData rec;
    memset(&rec, 0, sizeof(rec));
    rec.configuration = &cfg;
    rec.request[0] = 0x06;
    rec.request[1] = 0x01;
    rec.requestLength = 2;
    rec.responseLength = 3;
    memset(rec.response, 0x77, sizeof(rec.response));

    LibraryLog log;
    IPMIProcessor processor;
    ASSERT_EQ(processor.Initialize(), 0u);
    CQRMIPMICommandData cmd(&rec);
    ASSERT_EQ(processor.ExecuteCommand(cmd), 0u);

    std::string text = log.Text();
    size_t first = text.find("IPMI Request :  0x06 0x01      IPMI Response :   0x00 0x00 0x00\n");
    size_t answer = text.find("IPMI Request :  0x06 0x01      IPMI Response :   0x07 0x01 0x00 0x20\n");
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_NE(answer, std::string::npos);
    EXPECT_LT(first, answer);
}
