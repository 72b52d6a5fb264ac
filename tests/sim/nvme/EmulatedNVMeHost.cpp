#include "EmulatedNVMeHost.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <list>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include <umockdev.h>

#include "EmulatedIPMIDevice.h"
#include "IsolatedLauncher.h"


namespace {

std::string sysfsHex(uint16_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04x\\n", value);
    return text;
}

// One emulated controller node: its model and what was done on the node.
// umockdev gives every open of the node a client of its own.
struct NodeContext {
    NVMeControllerModel* model = nullptr;
    std::mutex mutex;
    std::map<UMockdevIoctlClient*, int> opens;  // connected clients and their open number
    int lastOpen = 0;
    std::vector<std::string> events;

    void note(UMockdevIoctlClient* client, const char* what, int opcode = -1)
    {
        std::lock_guard<std::mutex> lock(mutex);
        int number = 0;
        auto open = opens.find(client);
        if (open != opens.end())
            number = open->second;
        else if (std::strcmp(what, "open") == 0)
            number = opens[client] = ++lastOpen;
        std::string event = std::string(what) + " " + std::to_string(number);
        if (opcode >= 0) {
            char hex[8];
            std::snprintf(hex, sizeof(hex), " 0x%02x", opcode & 0xFF);
            event += hex;
        }
        events.push_back(event);
        if (std::strcmp(what, "close") == 0)
            opens.erase(client);
    }
};

void onClientConnected(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client, gpointer userData)
{
    static_cast<NodeContext*>(userData)->note(client, "open");
}

void onClientVanished(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client, gpointer userData)
{
    static_cast<NodeContext*>(userData)->note(client, "close");
}

// Answers one admin pass-through ioctl of the program with the model. The
// command record and its data buffer live in the program's memory: both
// are fetched through umockdev before they are read, and written back when
// the ioctl completes.
gboolean onIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client, gpointer userData)
{
    NodeContext* node = static_cast<NodeContext*>(userData);
    NVMeControllerModel* model = node->model;
    if (umockdev_ioctl_client_get_request(client) != NVME_IOCTL_ADMIN_CMD) {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }

    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    UMockdevIoctlData* record = umockdev_ioctl_data_resolve(arg, 0, sizeof(nvme_passthru_cmd), &error);
    if (record == nullptr) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
    }

    nvme_passthru_cmd* cmd = reinterpret_cast<nvme_passthru_cmd*>(record->data);
    nvme_passthru_cmd sent = *cmd;  // addr still the program's pointer
    node->note(client, "ioctl", cmd->opcode);
    UMockdevIoctlData* buffer = nullptr;
    uint8_t* data = nullptr;
    if (cmd->addr != 0 && cmd->data_len != 0) {
        buffer = umockdev_ioctl_data_resolve(record, offsetof(nvme_passthru_cmd, addr), cmd->data_len, &error);
        if (buffer == nullptr) {
            g_clear_error(&error);
            umockdev_ioctl_data_unref(record);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return TRUE;
        }
        data = buffer->data;
    }

    int modelError = 0;
    int result = model->execute(sent, data, modelError);
    cmd->result = sent.result;

    if (buffer != nullptr)
        umockdev_ioctl_data_unref(buffer);
    umockdev_ioctl_data_unref(record);
    umockdev_ioctl_client_complete(client, result, result < 0 ? modelError : 0);
    return TRUE;
}

} // namespace

struct EmulatedNVMeHost::Impl {
    UMockdevTestbed* testbed = nullptr;
    std::string root;
    std::list<EmulatedController> controllers;  // stable addresses for the handlers
    std::vector<UMockdevIoctlBase*> handlers;
    std::map<std::string, std::unique_ptr<NodeContext>> nodes;  // by controller name
    std::unique_ptr<EmulatedIPMIDevice> ipmi;
};

EmulatedNVMeHost::EmulatedNVMeHost() : m_impl(new Impl)
{
    m_impl->testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(m_impl->testbed);
    m_impl->root = root;
    g_free(root);
    // The preload shows the program the emulated /dev only when the tree
    // has one; without it `ls /dev` would list the machine's own nodes.
    std::filesystem::create_directories(m_impl->root + "/dev");
}

EmulatedNVMeHost::EmulatedNVMeHost(UMockdevTestbed* shared) : m_impl(new Impl)
{
    m_impl->testbed = UMOCKDEV_TESTBED(g_object_ref(shared));
    gchar* root = umockdev_testbed_get_root_dir(m_impl->testbed);
    m_impl->root = root;
    g_free(root);
    std::filesystem::create_directories(m_impl->root + "/dev");
}

EmulatedNVMeHost::~EmulatedNVMeHost()
{
    m_impl->ipmi.reset();
    for (const EmulatedController& controller : m_impl->controllers) {
        if (controller.model && controller.model->openError() == 0)
            umockdev_testbed_detach_ioctl(m_impl->testbed, ("/dev/" + controller.name).c_str(), nullptr);
    }
    for (UMockdevIoctlBase* handler : m_impl->handlers)
        g_object_unref(handler);
    g_object_unref(m_impl->testbed);
}

std::string EmulatedNVMeHost::rootDir() const { return m_impl->root; }

std::vector<std::string> EmulatedNVMeHost::nodeEvents(const std::string& name) const
{
    auto node = m_impl->nodes.find(name);
    if (node == m_impl->nodes.end())
        return std::vector<std::string>();
    std::lock_guard<std::mutex> lock(node->second->mutex);
    return node->second->events;
}

void EmulatedNVMeHost::addIPMIDevice(SimManagementController& controller)
{
    m_impl->ipmi.reset(new EmulatedIPMIDevice(m_impl->testbed, controller));
}

void EmulatedNVMeHost::addNode(const std::string& name)
{
    std::string description = "P: /devices/virtual/nvme-extra/" + name + "\nE: SUBSYSTEM=nvme-extra\nN: " + name + "\n\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(m_impl->testbed, description.c_str(), &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev: " + message);
    }
}

void EmulatedNVMeHost::addController(const EmulatedController& setup)
{
    m_impl->controllers.push_back(setup);
    EmulatedController& controller = m_impl->controllers.back();
    const bool opens = !controller.model || controller.model->openError() == 0;

    std::ostringstream description;
    description << "P: /devices/pci0000:00/" << controller.pciAddress << "\n"
                << "E: SUBSYSTEM=pci\n";
    if (controller.pciIdsReadable) {
        description << "A: vendor=" << sysfsHex(controller.sysfsIds.vendor) << "\n"
                    << "A: device=" << sysfsHex(controller.sysfsIds.device) << "\n"
                    << "A: subsystem_vendor=" << sysfsHex(controller.sysfsIds.subVendor) << "\n"
                    << "A: subsystem_device=" << sysfsHex(controller.sysfsIds.subDevice) << "\n";
    }
    description << "\n";
    description << "P: /devices/pci0000:00/" << controller.pciAddress << "/nvme/" << controller.name << "\n"
                << "E: SUBSYSTEM=nvme\n"
                << "E: DEVNAME=/dev/" << controller.name << "\n";
    if (controller.addressReadable)
        description << "A: address=" << controller.pciAddress << "\\n\n";
    if (opens)
        description << "N: " << controller.name << "\n";
    description << "\n";

    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(m_impl->testbed, description.str().c_str(), &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev: " + message);
    }

    std::string node = "/dev/" + controller.name;
    if (!opens) {
        std::filesystem::create_directories(m_impl->root + node);
        return;
    }
    if (!controller.model)
        return;

    std::unique_ptr<NodeContext> context(new NodeContext);
    context->model = controller.model.get();
    NodeContext* nodeContext = context.get();
    m_impl->nodes[controller.name] = std::move(context);

    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "client-connected", G_CALLBACK(onClientConnected), nodeContext);
    g_signal_connect(handler, "client-vanished", G_CALLBACK(onClientVanished), nodeContext);
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), nodeContext);
    if (!umockdev_testbed_attach_ioctl(m_impl->testbed, node.c_str(), handler, &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        g_object_unref(handler);
        throw std::runtime_error("umockdev: cannot attach ioctl handler: " + message);
    }
    m_impl->handlers.push_back(handler);
}

EmulatedRun EmulatedNVMeHost::run(const std::string& executable, const std::vector<std::string>& args,
                                  const std::string& workDir, int timeoutSeconds)
{
    const std::string sleepLog = m_impl->root + "/sleeps.log";
    std::remove(sleepLog.c_str());
    LaunchRequest request;
    request.executable = executable;
    request.args = args;
    request.workDir = workDir;
    request.umockdevRoot = m_impl->root;
    request.preload = std::string(ZAGO_SLEEP_PRELOAD) + ":libumockdev-preload.so.0";
    request.environment = {"ZAGO_SLEEP_LOG=" + sleepLog};
    request.timeoutSeconds = timeoutSeconds;
    return launchIsolated(request);
}

std::vector<std::string> EmulatedNVMeHost::sleeps() const
{
    std::vector<std::string> lines;
    std::ifstream in(m_impl->root + "/sleeps.log");
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}
