// End to end: the transport, unchanged and in its own process, talks to an
// emulated /dev/ipmi0 through the real open/ioctl/poll calls; umockdev's
// preload routes the ioctls to the management-controller model here.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include <linux/ipmi.h>

#include "EmulatedIPMIDevice.h"
#include "SimManagementController.h"
#include "TempDir.h"

using ::testing::ElementsAre;

namespace {

// name -> "result=.. length=.. response=.."
std::map<std::string, std::string> Lines(const std::string& out)
{
    std::map<std::string, std::string> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        size_t blank = line.find(' ');
        if (blank != std::string::npos)
            lines[line.substr(0, blank)] = line.substr(blank + 1);
    }
    return lines;
}

} // namespace

TEST(IPMITransportUmockdev, RequestsTravelThroughTheEmulatedDevice)
{
    SimManagementController controller;
    controller.SetReply(0x06, 0x01, 0x00, {0x20, 0x01, 0x02, 0x03});
    controller.SetReply(0x30, 0xA2, 0x00, {0x5E});
    controller.Script(0x30, 0xA2, SimIpmiStep::Code(0xC0));

    TempDir dir;
    EmulatedRun run;
    {
        EmulatedIPMIHost host(controller);
        run = host.run(QRMIPMI_UMOCKDEV_CLIENT, {}, dir.path());
    }
    const std::string raw = run.out + run.err;
    std::map<std::string, std::string> lines = Lines(run.out);
    EXPECT_EQ(run.exitStatus, 0);

    SCOPED_TRACE(raw);
    // Nothing queued: the node does not poll readable.
    EXPECT_EQ(lines["idle-poll"], "rc=0 revents=0x0");
    EXPECT_EQ(lines["device-id"], "result=0 length=7 response=07010020010203");
    EXPECT_EQ(lines["oem-busy-once"], "result=0 length=4 response=31a2005e");
    EXPECT_EQ(lines["unknown"], "result=0 length=3 response=3199c1");

    auto requests = controller.Requests();
    ASSERT_EQ(requests.size(), 4u);
    std::vector<long> ids;
    for (const SimIpmiRequest& r : requests) {
        EXPECT_EQ(r.addrType, IPMI_SYSTEM_INTERFACE_ADDR_TYPE);
        EXPECT_EQ(r.channel, IPMI_BMC_CHANNEL);
        EXPECT_EQ(r.lun, 0);
        EXPECT_EQ(r.addrLen, 8u);
        ids.push_back(r.msgid);
    }
    EXPECT_THAT(ids, ElementsAre(1, 2, 3, 4));
    EXPECT_EQ(requests[0].netfn, 0x06);
    EXPECT_EQ(requests[0].cmd, 0x01);
    EXPECT_TRUE(requests[0].data.empty());
    EXPECT_EQ(requests[1].netfn, 0x30);
    EXPECT_EQ(requests[1].cmd, 0xA2);
    EXPECT_THAT(requests[1].data, ElementsAre(0x01, 0x02));
    EXPECT_THAT(requests[2].data, ElementsAre(0x01, 0x02));   // the resend after busy
    EXPECT_EQ(requests[3].cmd, 0x99);
    EXPECT_EQ(controller.PendingAnswers(), 0u);
}
