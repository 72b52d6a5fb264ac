#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "LQRMIPMIProcessor.h"
#include "LibraryLogFile.h"
#include "QRMIPMICommandProcessorCreator.h"
#include "QRMLogger.h"
#include "SimIPMIDeviceAdapter.h"
#include "SimManagementController.h"
#include "TempDir.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const char* const kAllPaths[] = {"/dev/ipmi0", "/dev/ipmi/0", "/dev/ipmidev/0"};

class ProcessorTest : public ::testing::Test {
protected:
    ProcessorTest() : device(controller), seams(&device, &sleeps)
    {
        memset(&record, 0, sizeof(record));
        record.configuration = &config;
    }

    void SetRequest(std::vector<uint8_t> bytes)
    {
        memcpy(record.request, bytes.data(), bytes.size());
        record.requestLength = static_cast<uint32_t>(bytes.size());
    }

    SimManagementController controller;
    SimIPMIDevice device;
    SimIPMISleepRecorder sleeps;
    SimIPMISeamGuard seams;
    _QRMIPMIConfiguration config = {60, 5, 5, 50, 0, 0};
    _QRMIPMICommandData record;
};

} // namespace

// ---- device search -------------------------------------------------------

struct SearchCase {
    const char* name;
    std::vector<std::string> existing;
    std::vector<std::string> expectedOpens;
    QRMIPMIResult expectedResult;
    size_t expectedSecondSleeps;
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

class DeviceSearchTest : public ProcessorTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(DeviceSearchTest, TriesThePathsInOrderAndPausesBetweenPasses)
{
    const SearchCase& c = GetParam();
    device.existingPaths = std::set<std::string>(c.existing.begin(), c.existing.end());

    IPMIProcessor processor;
    EXPECT_EQ(processor.GetDescriptor(), 0);
    EXPECT_EQ(processor.Initialize(), c.expectedResult);
    EXPECT_EQ(device.openedPaths, c.expectedOpens);
    EXPECT_EQ(sleeps.seconds, std::vector<unsigned>(c.expectedSecondSleeps, 1u));
    EXPECT_TRUE(sleeps.milliseconds.empty());
    EXPECT_EQ(processor.GetDescriptor(), c.expectedResult == 0 ? device.fdToHand : -1);
}

std::vector<std::string> AllPathsTimes(int passes)
{
    std::vector<std::string> v;
    for (int i = 0; i < passes; ++i)
        v.insert(v.end(), std::begin(kAllPaths), std::end(kAllPaths));
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DeviceSearchTest,
    ::testing::Values(
        SearchCase{"FirstPath", {"/dev/ipmi0", "/dev/ipmi/0", "/dev/ipmidev/0"}, {"/dev/ipmi0"}, 0, 0},
        SearchCase{"SecondPath", {"/dev/ipmi/0", "/dev/ipmidev/0"}, {"/dev/ipmi0", "/dev/ipmi/0"}, 0, 0},
        SearchCase{"ThirdPathOnlyAfterTheOthers", {"/dev/ipmidev/0"},
                   {"/dev/ipmi0", "/dev/ipmi/0", "/dev/ipmidev/0"}, 0, 0},
        SearchCase{"NoDevice", {}, AllPathsTimes(5), 320, 5}),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

TEST_F(ProcessorTest, NoDeviceMeansNoProcessorAndAMessageOnStandardError)
{
    device.existingPaths.clear();
    LibraryLog log;

    ::testing::internal::CaptureStderr();
    IIPMICommandProcessor* processor = IPMICommandProcessorCreator::Create();
    std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(processor, nullptr);
    EXPECT_EQ(err, "Can't open IPMI device\n");
    EXPECT_EQ(device.openedPaths.size(), 15u);
    EXPECT_EQ(sleeps.seconds, std::vector<unsigned>(5, 1u));
    EXPECT_TRUE(device.closedFds.empty());   // descriptor -1 is never closed

    std::string text = log.Text();
    EXPECT_THAT(text, HasSubstr("Errno: 2, No such file or directory, open failed for device: /dev/ipmidev/0"));
    EXPECT_THAT(text, HasSubstr("Can't Open any IPMI Device, retries left : 5\n"));
    EXPECT_THAT(text, HasSubstr("Can't Open any IPMI Device, retries left : 1\n"));
    EXPECT_THAT(text, HasSubstr("File Descriptor Value -1"));
    EXPECT_EQ(text.find("IPMICommandProcessorCreator::Create() Leaving"), std::string::npos);
}

TEST_F(ProcessorTest, CreateOpensTheDeviceAndDestructionClosesItOnce)
{
    IIPMICommandProcessor* processor = IPMICommandProcessorCreator::Create();
    ASSERT_NE(processor, nullptr);
    EXPECT_EQ(device.openedPaths, std::vector<std::string>{"/dev/ipmi0"});
    EXPECT_TRUE(sleeps.seconds.empty());

    static_cast<IPMIProcessor*>(processor)->Release();
    static_cast<IPMIProcessor*>(processor)->Release();
    EXPECT_EQ(device.closedFds, std::vector<int>{device.fdToHand});
    delete processor;
    EXPECT_EQ(device.closedFds, std::vector<int>{device.fdToHand});
}

TEST_F(ProcessorTest, NeverOpenedProcessorClosesNothing)
{
    { IPMIProcessor processor; }
    EXPECT_TRUE(device.closedFds.empty());
}

// ---- the request as the device sees it -----------------------------------

TEST_F(ProcessorTest, RequestReachesTheSystemInterfaceExactlyAsGiven)
{
    IPMIProcessor processor;
    ASSERT_EQ(processor.Initialize(), 0u);
    gnMsgID = 100;

    // Bytes behind the request length must not travel.
    memset(record.request, 0xEE, sizeof(record.request));
    SetRequest({0x30, 0xA2, 0x01, 0x02, 0x03});
    controller.SetReply(0x30, 0xA2, 0x00, {0x44, 0x55});

    CQRMIPMICommandData cmd(&record);
    ASSERT_EQ(processor.ExecuteCommand(cmd), 0u);

    auto requests = controller.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const SimIpmiRequest& r = requests[0];
    EXPECT_EQ(r.addrType, 0x0C);
    EXPECT_EQ(r.channel, 0x0F);
    EXPECT_EQ(r.lun, 0);
    EXPECT_EQ(r.addrLen, 8u);
    EXPECT_EQ(r.netfn, 0x30);
    EXPECT_EQ(r.cmd, 0xA2);
    EXPECT_THAT(r.data, ElementsAre(0x01, 0x02, 0x03));
    EXPECT_EQ(r.msgid, 100);

    // The answer: response NetFn, command, completion code, data.
    EXPECT_EQ(record.responseLength, 5u);
    EXPECT_THAT(std::vector<uint8_t>(record.response, record.response + 5),
                ElementsAre(0x31, 0xA2, 0x00, 0x44, 0x55));
}

TEST_F(ProcessorTest, ShortestAndLongestRequestsTravelWhole)
{
    IPMIProcessor processor;
    ASSERT_EQ(processor.Initialize(), 0u);

    SetRequest({0x06, 0x01});
    {
        CQRMIPMICommandData cmd(&record);
        EXPECT_EQ(processor.ExecuteCommand(cmd), 0u);
    }
    std::vector<uint8_t> longest(255);
    for (size_t i = 0; i < longest.size(); ++i)
        longest[i] = static_cast<uint8_t>(i);
    longest[0] = 0x30;
    SetRequest(longest);
    {
        CQRMIPMICommandData cmd(&record);
        EXPECT_EQ(processor.ExecuteCommand(cmd), 0u);
    }

    auto requests = controller.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].netfn, 0x06);
    EXPECT_EQ(requests[0].cmd, 0x01);
    EXPECT_TRUE(requests[0].data.empty());
    EXPECT_EQ(requests[1].data, std::vector<uint8_t>(longest.begin() + 2, longest.end()));
    // Unknown commands are answered "invalid command" and not retried.
    EXPECT_EQ(record.response[2], 0xC1);
}

TEST_F(ProcessorTest, MessageIdsRiseByOnePerSendAcrossRetries)
{
    IPMIProcessor processor;
    ASSERT_EQ(processor.Initialize(), 0u);
    gnMsgID = 41;
    SetRequest({0x30, 0x10});
    controller.SetReply(0x30, 0x10, 0x00);
    controller.Script(0x30, 0x10, SimIpmiStep::Code(0xC0), 2);

    for (int i = 0; i < 2; ++i) {
        CQRMIPMICommandData cmd(&record);
        ASSERT_EQ(processor.ExecuteCommand(cmd), 0u);
    }
    std::vector<long> ids;
    for (const auto& r : controller.Requests())
        ids.push_back(r.msgid);
    EXPECT_THAT(ids, ElementsAre(41, 42, 43, 44));
    EXPECT_EQ(gnMsgID.load(), 45u);
}

TEST_F(ProcessorTest, MessageIdWrapsAfterTheLargestValue)
{
    IPMIProcessor processor;
    ASSERT_EQ(processor.Initialize(), 0u);
    gnMsgID = 0xFFFFFFFFu;
    SetRequest({0x06, 0x01});
    controller.SetReply(0x06, 0x01, 0x00);
    for (int i = 0; i < 2; ++i) {
        CQRMIPMICommandData cmd(&record);
        ASSERT_EQ(processor.ExecuteCommand(cmd), 0u);
    }
    auto requests = controller.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].msgid, 0xFFFFFFFFL);   // zero-extended, not -1
    EXPECT_EQ(requests[1].msgid, 0);
}

// ---- requests the transport refuses ---------------------------------------

class RefusedLengthTest : public ProcessorTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(RefusedLengthTest, IsNeitherSentNorCounted)
{
    IPMIProcessor processor;
    ASSERT_EQ(processor.Initialize(), 0u);
    gnMsgID = 7;
    SetRequest({0x06, 0x01});
    record.requestLength = GetParam();
    record.responseLength = GetParam();   // the dump must stay inside the buffers too

    CQRMIPMICommandData cmd(&record);
    EXPECT_EQ(processor.ExecuteCommand(cmd), 320u);
    EXPECT_TRUE(controller.Requests().empty());
    EXPECT_TRUE(device.waitTimeouts.empty());
    EXPECT_EQ(gnMsgID.load(), 7u);
    EXPECT_EQ(record.response[2], 0x00);
}

INSTANTIATE_TEST_SUITE_P(Lengths, RefusedLengthTest, ::testing::Values(0u, 1u, 256u, 100000u, 0xFFFFFFFFu));

// ---- message ids shared by threads ------------------------------------------

namespace {

// Answers each thread's request at once, from the thread's own slot, so that
// threads never see each other's answers.
class PerThreadEchoDevice : public IQRMIPMIDevice {
public:
    int Open(const char*) override { return 9; }
    int SendCommand(int, struct ipmi_req* req) override
    {
        Pending() = req->msgid;
        std::lock_guard<std::mutex> lock(mMutex);
        ids.push_back(req->msgid);
        return 0;
    }
    int WaitReadable(int, const struct timespec&, bool& readable) override
    {
        readable = true;
        return 1;
    }
    int ReceiveMessage(int, struct ipmi_recv* recv) override
    {
        recv->msgid = Pending();
        recv->msg.netfn = 0x07;
        recv->msg.cmd = 0x01;
        recv->msg.data[0] = 0x00;
        recv->msg.data_len = 1;
        return 0;
    }
    int Close(int) override { return 0; }

    std::vector<long> ids;

private:
    static long& Pending()
    {
        thread_local long pending = -1;
        return pending;
    }
    std::mutex mMutex;
};

} // namespace

TEST(ProcessorThreads, EverySendGetsItsOwnMessageId)
{
    PerThreadEchoDevice echo;
    SimIPMISleepRecorder sleeps;
    SimIPMISeamGuard seams(&echo, &sleeps);
    gnMsgID = 1;

    const int kThreads = 8;
    const int kRequests = 500;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&failures]() {
            IPMIProcessor processor;
            if (processor.Initialize() != 0) {
                ++failures;
                return;
            }
            _QRMIPMIConfiguration cfg = {60, 5, 5, 50, 0, 0};
            for (int i = 0; i < kRequests; ++i) {
                _QRMIPMICommandData rec;
                memset(&rec, 0, sizeof(rec));
                rec.configuration = &cfg;
                rec.request[0] = 0x06;
                rec.request[1] = 0x01;
                rec.requestLength = 2;
                CQRMIPMICommandData cmd(&rec);
                if (processor.ExecuteCommand(cmd) != 0 || rec.response[2] != 0x00)
                    ++failures;
            }
        });
    }
    for (auto& t : threads)
        t.join();

    EXPECT_EQ(failures.load(), 0);
    std::set<long> unique(echo.ids.begin(), echo.ids.end());
    EXPECT_EQ(echo.ids.size(), static_cast<size_t>(kThreads * kRequests));
    EXPECT_EQ(unique.size(), echo.ids.size());
    EXPECT_EQ(*unique.begin(), 1);
    EXPECT_EQ(*unique.rbegin(), kThreads * kRequests);
    EXPECT_EQ(gnMsgID.load(), static_cast<uint32_t>(kThreads * kRequests + 1));
}
