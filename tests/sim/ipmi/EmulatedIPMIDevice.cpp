#include "EmulatedIPMIDevice.h"

#include <fcntl.h>
#include <linux/ipmi.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <stdexcept>

#include <umockdev.h>

namespace {

[[noreturn]] void fail(const std::string& what, GError* error)
{
    std::string message = what + ": " + (error ? error->message : "unknown error");
    g_clear_error(&error);
    throw std::runtime_error("umockdev: " + message);
}

} // namespace

struct EmulatedIPMIDevice::Impl {
    UMockdevTestbed* testbed = nullptr;
    SimManagementController* controller = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    int master = -1;   // the testbed's end of the node's pty
    int slave = -1;    // our own open of the node, to drain it

    // A byte waits on the node exactly while the model holds an answer.
    void SyncReadable()
    {
        tcflush(slave, TCIFLUSH);
        if (controller->HasPendingAnswer()) {
            ssize_t n = write(master, "!", 1);
            (void)n;
        }
    }

    // Resolves every pointer of the argument first, so that the model works
    // on local memory which umockdev copies back to the program on completion.
    void Send(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
    {
        GError* error = nullptr;
        UMockdevIoctlData* reqData = umockdev_ioctl_data_resolve(arg, 0, sizeof(struct ipmi_req), &error);
        if (reqData == nullptr) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
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
        int rc = controller->Send(req);
        int err = rc == 0 ? 0 : errno;
        SyncReadable();
        umockdev_ioctl_client_complete(client, rc, err);
        if (data)
            g_object_unref(data);
        if (addr)
            g_object_unref(addr);
        g_object_unref(reqData);
    }

    void Receive(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
    {
        GError* error = nullptr;
        UMockdevIoctlData* recvData = umockdev_ioctl_data_resolve(arg, 0, sizeof(struct ipmi_recv), &error);
        if (recvData == nullptr) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        auto* recv = reinterpret_cast<struct ipmi_recv*>(recvData->data);
        UMockdevIoctlData* addr =
            umockdev_ioctl_data_resolve(recvData, offsetof(struct ipmi_recv, addr), recv->addr_len, &error);
        g_clear_error(&error);
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(
            recvData, offsetof(struct ipmi_recv, msg) + offsetof(struct ipmi_msg, data), recv->msg.data_len, &error);
        g_clear_error(&error);
        int rc = (addr && data) ? controller->Receive(recv) : (errno = EFAULT, -1);
        int err = rc == 0 ? 0 : errno;
        SyncReadable();
        umockdev_ioctl_client_complete(client, rc, err);
        if (data)
            g_object_unref(data);
        if (addr)
            g_object_unref(addr);
        g_object_unref(recvData);
    }
};

namespace {

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
{
    auto* impl = static_cast<EmulatedIPMIDevice::Impl*>(user);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (request == IPMICTL_SEND_COMMAND)
        impl->Send(client, arg);
    else if (request == IPMICTL_RECEIVE_MSG_TRUNC)
        impl->Receive(client, arg);
    else if (request == IPMICTL_SET_GETS_EVENTS_CMD || request == IPMICTL_SET_MY_ADDRESS_CMD ||
             request == IPMICTL_SET_MY_LUN_CMD)
        umockdev_ioctl_client_complete(client, 0, 0);   // the driver accepts its settings
    else
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
}

} // namespace

EmulatedIPMIDevice::EmulatedIPMIDevice(UMockdevTestbed* testbed, SimManagementController& controller)
    : m_impl(new Impl)
{
    m_impl->testbed = testbed;
    m_impl->controller = &controller;
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed,
                                          "P: /devices/virtual/ipmi/ipmi0\n"
                                          "N: ipmi0\n"
                                          "E: SUBSYSTEM=ipmi\n"
                                          "E: DEVNAME=/dev/ipmi0\n"
                                          "A: dev=239:0\n",
                                          &error))
        fail("cannot add /dev/ipmi0", error);

    gchar* root = umockdev_testbed_get_root_dir(testbed);
    const std::string node = std::string(root) + "/dev/ipmi0";
    g_free(root);
    m_impl->master = umockdev_testbed_get_dev_fd(testbed, "/dev/ipmi0");
    m_impl->slave = open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios rawMode;
    if (m_impl->master < 0 || m_impl->slave < 0 || tcgetattr(m_impl->slave, &rawMode) != 0)
        throw std::runtime_error("umockdev: /dev/ipmi0 is not a usable pty");
    cfmakeraw(&rawMode);
    if (tcsetattr(m_impl->slave, TCSANOW, &rawMode) != 0)
        throw std::runtime_error("umockdev: cannot make /dev/ipmi0 raw");

    m_impl->handler = umockdev_ioctl_base_new();
    g_signal_connect(m_impl->handler, "handle-ioctl", G_CALLBACK(OnIoctl), m_impl.get());
    if (!umockdev_testbed_attach_ioctl(testbed, "/dev/ipmi0", m_impl->handler, &error)) {
        g_object_unref(m_impl->handler);
        close(m_impl->slave);
        fail("cannot attach the ioctl handler to /dev/ipmi0", error);
    }
}

EmulatedIPMIDevice::~EmulatedIPMIDevice()
{
    umockdev_testbed_detach_ioctl(m_impl->testbed, "/dev/ipmi0", nullptr);
    g_object_unref(m_impl->handler);
    close(m_impl->slave);
}

EmulatedIPMIHost::EmulatedIPMIHost(SimManagementController& controller)
{
    m_testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(m_testbed);
    m_root = root;
    g_free(root);
    m_device.reset(new EmulatedIPMIDevice(m_testbed, controller));
}

EmulatedIPMIHost::~EmulatedIPMIHost()
{
    m_device.reset();
    g_object_unref(m_testbed);
}

EmulatedRun EmulatedIPMIHost::run(const std::string& executable, const std::vector<std::string>& args,
                                  const std::string& workDir, int timeoutSeconds)
{
    return RunUnderUmockdev(m_root, executable, args, workDir, timeoutSeconds);
}
