// The controller model behaves like the Linux IPMI device towards the
// transport; these cases pin the kernel semantics the transport relies on.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "SimManagementController.h"

using ::testing::ElementsAre;

namespace {

struct Exchange {
    struct ipmi_system_interface_addr addr = {IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, 0};
    std::vector<unsigned char> data;
    struct ipmi_req req = {};

    Exchange(uint8_t netfn, uint8_t cmd, std::vector<unsigned char> bytes, long msgid) : data(std::move(bytes))
    {
        req.addr = reinterpret_cast<unsigned char*>(&addr);
        req.addr_len = sizeof(addr);
        req.msgid = msgid;
        req.msg.netfn = netfn;
        req.msg.cmd = cmd;
        req.msg.data = data.data();
        req.msg.data_len = static_cast<unsigned short>(data.size());
    }
};

struct Answer {
    unsigned char addr[8] = {};
    unsigned char data[253] = {};
    struct ipmi_recv recv = {};
    Answer(unsigned short room = 253)
    {
        recv.addr = addr;
        recv.addr_len = sizeof(addr);
        recv.msg.data = data;
        recv.msg.data_len = room;
    }
};

} // namespace

TEST(SimManagementController, AnswersFromTheHandlerTableWithTheResponseNetFn)
{
    SimManagementController mc;
    mc.SetHandler(0x30, 0xA2, [](const SimIpmiRequest& r) {
        SimIpmiReply reply;
        reply.data = r.data;   // echo
        return reply;
    });
    Exchange e(0x30, 0xA2, {0x01, 0x02}, 77);
    ASSERT_EQ(mc.Send(&e.req), 0);
    ASSERT_TRUE(mc.HasPendingAnswer());

    Answer a;
    ASSERT_EQ(mc.Receive(&a.recv), 0);
    EXPECT_EQ(a.recv.recv_type, IPMI_RESPONSE_RECV_TYPE);
    EXPECT_EQ(a.recv.msgid, 77);
    EXPECT_EQ(a.recv.msg.netfn, 0x31);
    EXPECT_EQ(a.recv.msg.cmd, 0xA2);
    ASSERT_EQ(a.recv.msg.data_len, 3);
    EXPECT_THAT(std::vector<unsigned char>(a.data, a.data + 3), ElementsAre(0x00, 0x01, 0x02));
    EXPECT_EQ(a.recv.addr_len, 8u);
    EXPECT_EQ(a.addr[0], IPMI_SYSTEM_INTERFACE_ADDR_TYPE);

    errno = 0;
    EXPECT_EQ(mc.Receive(&a.recv), -1);
    EXPECT_EQ(errno, EAGAIN);
}

TEST(SimManagementController, UnknownCommandsGetInvalidCommand)
{
    SimManagementController mc;
    Exchange e(0x06, 0x55, {}, 1);
    ASSERT_EQ(mc.Send(&e.req), 0);
    Answer a;
    ASSERT_EQ(mc.Receive(&a.recv), 0);
    EXPECT_EQ(a.recv.msg.data_len, 1);
    EXPECT_EQ(a.data[0], 0xC1);
}

TEST(SimManagementController, RefusesRequestsTheMessageHandlerWouldRefuse)
{
    SimManagementController mc;
    Exchange wrongChannel(0x06, 0x01, {}, 1);
    wrongChannel.addr.channel = 0;
    errno = 0;
    EXPECT_EQ(mc.Send(&wrongChannel.req), -1);
    EXPECT_EQ(errno, EINVAL);

    Exchange shortAddr(0x06, 0x01, {}, 2);
    shortAddr.req.addr_len = 4;
    EXPECT_EQ(mc.Send(&shortAddr.req), -1);
    EXPECT_EQ(errno, EINVAL);

    std::vector<unsigned char> big(IPMI_MAX_MSG_LENGTH + 1, 0);
    Exchange tooLong(0x06, 0x01, big, 3);
    EXPECT_EQ(mc.Send(&tooLong.req), -1);
    EXPECT_EQ(errno, EMSGSIZE);

    EXPECT_EQ(mc.Requests().size(), 3u);
    EXPECT_EQ(mc.AcceptedSends(), 0u);
    EXPECT_FALSE(mc.HasPendingAnswer());
}

TEST(SimManagementController, ScriptsAreConsumedPerRequestBeforeTheHandler)
{
    SimManagementController mc;
    mc.SetReply(0x30, 0x10, 0x00, {0x42});
    mc.Script(0x30, 0x10, SimIpmiStep::Code(0xC0), 2);
    mc.Script(0x30, 0x10, SimIpmiStep::SendFailure(EBUSY));
    mc.Script(0x30, 0x10, SimIpmiStep::Silence());

    std::vector<int> codes;
    for (long id = 1; id <= 5; ++id) {
        Exchange e(0x30, 0x10, {}, id);
        if (mc.Send(&e.req) != 0) {
            codes.push_back(-errno);
            continue;
        }
        Answer a;
        codes.push_back(mc.Receive(&a.recv) == 0 ? a.data[0] : 1000);
    }
    EXPECT_THAT(codes, ElementsAre(0xC0, 0xC0, -EBUSY, 1000, 0x00));
}

TEST(SimManagementController, StaleAnswerComesFirstWithAForeignId)
{
    SimManagementController mc;
    mc.SetReply(0x30, 0x10, 0x00);
    mc.Script(0x30, 0x10, SimIpmiStep::Stale());
    Exchange e(0x30, 0x10, {}, 9);
    ASSERT_EQ(mc.Send(&e.req), 0);
    EXPECT_EQ(mc.PendingAnswers(), 2u);
    Answer stale, right;
    ASSERT_EQ(mc.Receive(&stale.recv), 0);
    EXPECT_NE(stale.recv.msgid, 9);
    EXPECT_EQ(stale.data[1], SimManagementController::kStaleFill);
    ASSERT_EQ(mc.Receive(&right.recv), 0);
    EXPECT_EQ(right.recv.msgid, 9);
}

TEST(SimManagementController, OverLongAnswerIsTruncatedWithEMSGSIZE)
{
    SimManagementController mc;
    mc.Script(0x30, 0x10, SimIpmiStep::OverLong(300));
    Exchange e(0x30, 0x10, {}, 4);
    ASSERT_EQ(mc.Send(&e.req), 0);
    Answer a;
    errno = 0;
    EXPECT_EQ(mc.Receive(&a.recv), -1);
    EXPECT_EQ(errno, EMSGSIZE);
    EXPECT_EQ(a.recv.msg.data_len, 253);
    EXPECT_EQ(a.recv.msg.netfn, 0x31);
    EXPECT_EQ(a.recv.msg.cmd, 0x10);
    EXPECT_EQ(a.recv.msgid, 4);
    EXPECT_FALSE(mc.HasPendingAnswer());   // consumed, as the kernel does
}
