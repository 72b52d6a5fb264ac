// End to end: the transport, unchanged and in its own process, talks to an
// emulated /dev/ipmi0 through the real open/ioctl/poll calls; umockdev's
// preload routes the ioctls to the management-controller model here. The
// process starts through launchIsolated, so it never sees a real IPMI node.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <map>
#include <sstream>
#include <string>

#include <sys/ioctl.h>
#include <fcntl.h>
#include <linux/ipmi.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include "IsolatedLauncher.h"
#include "SimManagementController.h"

using ::testing::ElementsAre;

namespace {

// The emulated node is a pty: the test side makes it readable by writing a
// byte into the master while the model holds an answer, and drains it again
// once the last answer was taken, so the transport's poll sees what it would
// see on the real device.
struct ClientArg {
    SimManagementController* controller;
    int master;
    int slave;

    void SyncReadable()
    {
        tcflush(slave, TCIFLUSH);
        if (controller->HasPendingAnswer()) {
            ssize_t n = write(master, "!", 1);
            (void)n;
        }
    }
};

// Resolves every pointer of the argument first, so that the model works on
// local memory which umockdev copies back to the client on completion.
gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
{
    ClientArg& ctx = *static_cast<ClientArg*>(user);
    SimManagementController& controller = *ctx.controller;
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;

    if (request == IPMICTL_SEND_COMMAND) {
        UMockdevIoctlData* reqData = umockdev_ioctl_data_resolve(arg, 0, sizeof(struct ipmi_req), &error);
        if (reqData == nullptr) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return TRUE;
        }
        auto* req = reinterpret_cast<struct ipmi_req*>(reqData->data);
        UMockdevIoctlData* addr = nullptr;
        UMockdevIoctlData* data = nullptr;
        if (req->addr_len > 0 && req->addr_len <= sizeof(struct ipmi_addr))
            addr = umockdev_ioctl_data_resolve(reqData, offsetof(struct ipmi_req, addr), req->addr_len, &error);
        g_clear_error(&error);
        if (req->msg.data_len > 0)
            data = umockdev_ioctl_data_resolve(reqData, offsetof(struct ipmi_req, msg) + offsetof(struct ipmi_msg, data),
                                               req->msg.data_len, &error);
        g_clear_error(&error);
        int rc = controller.Send(req);
        int err = rc == 0 ? 0 : errno;
        ctx.SyncReadable();
        umockdev_ioctl_client_complete(client, rc, err);
        if (data)
            g_object_unref(data);
        if (addr)
            g_object_unref(addr);
        g_object_unref(reqData);
        return TRUE;
    }

    if (request == IPMICTL_RECEIVE_MSG_TRUNC) {
        UMockdevIoctlData* recvData = umockdev_ioctl_data_resolve(arg, 0, sizeof(struct ipmi_recv), &error);
        if (recvData == nullptr) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return TRUE;
        }
        auto* recv = reinterpret_cast<struct ipmi_recv*>(recvData->data);
        UMockdevIoctlData* addr = umockdev_ioctl_data_resolve(recvData, offsetof(struct ipmi_recv, addr), recv->addr_len, &error);
        g_clear_error(&error);
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(
            recvData, offsetof(struct ipmi_recv, msg) + offsetof(struct ipmi_msg, data), recv->msg.data_len, &error);
        g_clear_error(&error);
        int rc = (addr && data) ? controller.Receive(recv) : (errno = EFAULT, -1);
        int err = rc == 0 ? 0 : errno;
        ctx.SyncReadable();
        umockdev_ioctl_client_complete(client, rc, err);
        if (data)
            g_object_unref(data);
        if (addr)
            g_object_unref(addr);
        g_object_unref(recvData);
        return TRUE;
    }

    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
}

// name -> "result=.. length=.. response=.."
std::map<std::string, std::string> RunClient(const std::string& testbedRoot, std::string& raw)
{
    LaunchRequest request;
    request.executable = QRMIPMI_UMOCKDEV_CLIENT;
    request.umockdevRoot = testbedRoot;
    LaunchResult run = launchIsolated(request);
    raw = run.out + run.err;
    std::map<std::string, std::string> lines;
    std::istringstream out(run.out);
    std::string line;
    while (std::getline(out, line)) {
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

    UMockdevTestbed* testbed = umockdev_testbed_new();
    ASSERT_NE(testbed, nullptr);
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed,
                                                 "P: /devices/virtual/ipmi/ipmi0\n"
                                                 "N: ipmi0\n"
                                                 "E: SUBSYSTEM=ipmi\n"
                                                 "E: DEVNAME=/dev/ipmi0\n"
                                                 "A: dev=239:0\n",
                                                 &error))
        << (error ? error->message : "");

    gchar* rootText = umockdev_testbed_get_root_dir(testbed);
    const std::string root = rootText;
    g_free(rootText);
    ClientArg arg{&controller, umockdev_testbed_get_dev_fd(testbed, "/dev/ipmi0"),
                  open((root + "/dev/ipmi0").c_str(), O_RDWR | O_NOCTTY)};
    ASSERT_GE(arg.master, 0);
    ASSERT_GE(arg.slave, 0);
    struct termios rawMode;
    ASSERT_EQ(tcgetattr(arg.slave, &rawMode), 0);
    cfmakeraw(&rawMode);
    ASSERT_EQ(tcsetattr(arg.slave, TCSANOW, &rawMode), 0);

    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(OnIoctl), &arg);
    ASSERT_TRUE(umockdev_testbed_attach_ioctl(testbed, "/dev/ipmi0", handler, &error))
        << (error ? error->message : "");

    std::string raw;
    std::map<std::string, std::string> lines = RunClient(root, raw);

    umockdev_testbed_detach_ioctl(testbed, "/dev/ipmi0", nullptr);
    g_object_unref(handler);
    close(arg.slave);
    g_object_unref(testbed);

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
