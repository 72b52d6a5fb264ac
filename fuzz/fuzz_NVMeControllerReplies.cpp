// Discovery, flashing and the result documents on controllers whose
// replies come from the fuzz input. Each controller is a controller model
// (as in the tests) whose answers the input may replace or corrupt: any
// NVMe status, failing ioctls, reply bytes overwritten anywhere in the
// buffer, odd sysfs attributes and node listings. Every document the run
// writes must be a well-formed document.
//
// An empty input is a host with one healthy ZAGO controller; the input's
// choices default to the healthy answer when it runs out.

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzSupport.h"
#include "InventoryXMLWriter.h"
#include "NVMEZAGOLinuxAdapter.h"
#include "NVMeControllerModel.h"
#include "NVMeHostAccess.h"
#include "NVMePCISSDInventory.h"
#include "UpdateXMLWriter.h"

namespace {

const char kPackage[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SoftwareComponent>\n <SupportedDevices>\n"
    "  <Device componentID=\"104530\">\n"
    "   <PCIInfo deviceID=\"0A1F\" subDeviceID=\"2151\" vendorID=\"1B4B\" subVendorID=\"1028\"/>\n"
    "   <Display lang=\"en\">ZAGO &amp; &lt;BOSS&gt; \xC3\xA9</Display>\n"
    "  </Device>\n </SupportedDevices>\n</SoftwareComponent>\n";

std::string ControllerName(size_t index) { return "nvme" + std::to_string(index); }

// One host of the run: node listing, sysfs attributes and controller
// nodes, every answer open to the fuzz input.
class FuzzNVMeHost : public INVMeHostAccess {
public:
    explicit FuzzNVMeHost(FuzzedDataProvider& input) : m_input(input)
    {
        const size_t count = 1 + m_input.ConsumeIntegralInRange<size_t>(0, 2);
        for (size_t i = 0; i < count; ++i)
            m_controllers.push_back(makeController(i));
    }

    int openDevice(const char* path, int) override
    {
        for (size_t i = 0; i < m_controllers.size(); ++i) {
            if (std::string(path) == "/dev/" + ControllerName(i)) {
                if (m_input.ConsumeIntegralInRange<int>(0, 15) == 15) {
                    errno = EACCES;
                    return -1;
                }
                const int fd = m_nextFd++;
                m_open[fd] = m_controllers[i];
                return fd;
            }
        }
        errno = ENOENT;
        return -1;
    }

    int closeDevice(int fd) override
    {
        if (m_open.erase(fd) == 0) {
            errno = EBADF;
            return -1;
        }
        return 0;
    }

    int adminCommand(int fd, nvme_passthru_cmd* cmd) override
    {
        auto open = m_open.find(fd);
        if (open == m_open.end()) {
            errno = EBADF;
            return -1;
        }
        uint8_t* data = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(cmd->addr));
        const bool dataIn = (cmd->opcode & 0x02) != 0;
        // The kernel reads or writes exactly data_len bytes of the buffer.
        if (data != nullptr && cmd->data_len > 0) {
            volatile uint8_t touch = data[0];
            touch = data[cmd->data_len - 1];
            (void)touch;
        }

        int error = 0;
        int result = open->second->execute(*cmd, data, error);
        switch (m_input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            break;
        case 1:  // the reply arrives damaged
            if (dataIn && data != nullptr)
                corrupt(data, cmd->data_len);
            break;
        case 2:  // another NVMe status, reply as it came
            result = m_input.ConsumeIntegral<uint16_t>();
            cmd->result = m_input.ConsumeIntegral<uint32_t>();
            break;
        default:  // the ioctl itself fails
            error = m_input.ConsumeBool() ? EINTR : EIO;
            result = -1;
            break;
        }
        if (result < 0)
            errno = error;
        return result;
    }

    FILE* openListing(const char*) override
    {
        std::string listing;
        switch (m_input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            break;
        case 1:
            listing = m_input.ConsumeRandomLengthString(300);
            break;
        case 2:
            errno = EMFILE;
            return nullptr;
        default:
            listing = "nvme0n1\nnvme-fabrics\n";
            break;
        }
        for (size_t i = 0; i < m_controllers.size(); ++i)
            listing += ControllerName(i) + "\n";
        return memoryStream(listing);
    }

    int closeListing(FILE* stream) override { return std::fclose(stream); }

    FILE* openAttribute(const char* path) override
    {
        std::string content;
        if (!attribute(path, content))
            return nullptr;
        switch (m_input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            break;
        case 1:
            content = m_input.ConsumeRandomLengthString(200);
            break;
        case 2:
            errno = EACCES;
            return nullptr;
        default:
            content += std::string(m_input.ConsumeIntegralInRange<size_t>(0, 200), 'f');
            break;
        }
        return memoryStream(content);
    }

    int statAttribute(const char* path, struct stat* info) override
    {
        std::string ignored;
        if (!attribute(path, ignored)) {
            errno = ENOENT;
            return -1;
        }
        std::memset(info, 0, sizeof(*info));
        info->st_mode = S_IFREG | 0444;
        info->st_size = 4096;  // what sysfs reports for every attribute
        return 0;
    }

private:
    std::shared_ptr<NVMeControllerModel> makeController(size_t index)
    {
        // Mostly ZAGO controllers, now and then a plain NVMe SSD.
        if (m_input.ConsumeIntegralInRange<int>(0, 7) == 7) {
            auto plain = std::make_shared<NVMeControllerModel>();
            plain->setIdentify("PLAINSN" + std::to_string(index), "Plain SSD", "1.0", 1);
            return plain;
        }
        auto zago = std::make_shared<ZagoControllerModel>();
        zago->setAdapterIds(0x1B4B, 0xA1F, 0x1028, 0x2151);
        zago->setAdapterSerial("SN000" + std::to_string(index));
        zago->setIdentify("SN000" + std::to_string(index), "ZAGO BOSS-N1", "0.9", 1);
        zago->setFirmwareNumbers(2, 5, 0, 17);
        if (m_input.ConsumeBool()) {
            zago->setIdentifyRaw(m_input.ConsumeBytesAsString(20), m_input.ConsumeBytesAsString(40),
                                 m_input.ConsumeBytesAsString(8));
            zago->setAdapterSerial(m_input.ConsumeBytesAsString(20));
        }
        for (unsigned d = 0; d < 2; ++d) {
            if (!m_input.ConsumeBool())
                continue;
            ZagoDisk disk;
            disk.present = true;
            disk.slotId = m_input.ConsumeIntegral<uint16_t>();
            disk.serial = m_input.ConsumeBytesAsString(20);
            disk.model = m_input.ConsumeBytesAsString(40);
            disk.firmware = m_input.ConsumeBytesAsString(8);
            disk.controllerId = m_input.ConsumeIntegral<uint16_t>();
            disk.vendorId = 0x1B4B;
            disk.deviceId = 0x2241;
            zago->setDisk(d, disk);
        }
        return zago;
    }

    // Healthy contents of the attribute files of the controllers.
    bool attribute(const std::string& path, std::string& content) const
    {
        static const std::map<std::string, std::string> kPciIds = {
            {"vendor", "0x1b4b\n"}, {"device", "0x0a1f\n"}, {"subsystem_vendor", "0x1028\n"},
            {"subsystem_device", "0x2151\n"}};
        for (size_t i = 0; i < m_controllers.size(); ++i) {
            const std::string address = "0000:3b:00." + std::to_string(i);
            if (path == "/sys/class/nvme/" + ControllerName(i) + "/address") {
                content = address + "\n";
                return true;
            }
            const std::string pciDirectory = "/sys/bus/pci/devices/" + address + "/";
            if (path.compare(0, pciDirectory.size(), pciDirectory) == 0) {
                auto id = kPciIds.find(path.substr(pciDirectory.size()));
                if (id == kPciIds.end())
                    return false;
                content = id->second;
                return true;
            }
        }
        return false;
    }

    void corrupt(uint8_t* data, size_t length)
    {
        const int patches = m_input.ConsumeIntegralInRange<int>(1, 4);
        for (int p = 0; p < patches; ++p) {
            const size_t offset = m_input.ConsumeIntegralInRange<size_t>(0, length - 1);
            std::vector<uint8_t> bytes = m_input.ConsumeBytes<uint8_t>(
                m_input.ConsumeIntegralInRange<size_t>(1, std::min<size_t>(64, length - offset)));
            if (!bytes.empty())
                std::memcpy(data + offset, bytes.data(), bytes.size());
        }
    }

    FILE* memoryStream(const std::string& text)
    {
        m_texts.push_back(std::unique_ptr<std::string>(new std::string(text)));
        std::string& stored = *m_texts.back();
        if (stored.empty())
            return fopen("/dev/null", "r");
        return fmemopen(&stored[0], stored.size(), "r");
    }

    FuzzedDataProvider& m_input;
    std::vector<std::shared_ptr<NVMeControllerModel>> m_controllers;
    std::map<int, std::shared_ptr<NVMeControllerModel>> m_open;
    int m_nextFd = 100;
    std::vector<std::unique_ptr<std::string>> m_texts;
};

class HostInstalled {
public:
    explicit HostInstalled(INVMeHostAccess* host) : m_previous(CNVMeHostAccess::SetForTesting(host)) {}
    ~HostInstalled() { CNVMeHostAccess::SetForTesting(m_previous); }

private:
    INVMeHostAccess* m_previous;
};

void Inventory()
{
    std::remove("result.xml");
    {
        CNVMePCISSDInventory inventory("result.xml");
        inventory.GetInventory();
    }
    fuzz::RequireWellFormed(fuzz::ReadFile("result.xml"), "SVMInventory");
}

void Update(FuzzedDataProvider& input)
{
    // Mostly whole dwords, sometimes not; up to three pieces.
    size_t size = 4 * (1 + input.ConsumeIntegralInRange<size_t>(0, 3 * 1024));
    if (input.ConsumeIntegralInRange<int>(0, 7) == 7)
        size = input.ConsumeIntegralInRange<size_t>(0, 64);
    fuzz::WriteFile("image.bin", std::string(size, '\x5A').data(), size);

    std::remove("result.xml");
    std::vector<CDeviceInfo*> devices;
    {
        NVMEZAGOLinuxAdapter adapter;
        std::string image = "image.bin";
        adapter.UpdateZagoCtrlDevices(image, devices);
        CUpdateXMLWriter().GetXML(devices, "result.xml");
        for (CDeviceInfo* device : devices)
            delete device;
    }
    fuzz::RequireWellFormed(fuzz::ReadFile("result.xml"), "SVMExecution");
}

// The disks behind the ZAGO controllers, listed and flashed through the
// controllers' pass-through commands.
void Disks()
{
    std::remove("result.xml");
    std::vector<CDeviceInfo*> devices;
    {
        NVMEZAGOLinuxAdapter adapter;
        std::vector<deviceDescriptor*> descriptors;
        adapter.enumerateRootPortAttachedNVMEControllers(descriptors);
        adapter.enumerateZagoCtrlPhysicalDevices(descriptors);
        fuzz::WriteFile("image.bin", std::string(5000, '\x5A').data(), 5000);
        for (deviceDescriptor* descriptor : descriptors) {
            if (descriptor->kind != deviceDescriptor::KIND_ZAGO_DISK)
                continue;
            const pdDeviceHandle* disk = reinterpret_cast<const pdDeviceHandle*>(descriptor->rootPort);
            zagoDeviceiHandle handle;
            std::memset(&handle, 0, sizeof(handle));
            std::memcpy(handle.devicePath, disk->devicePath, sizeof(handle.devicePath));
            handle.handle = disk->slotID;
            adapter.ctrlWriteBuffer(&handle, "image.bin");
        }
        adapter.setDeviceInfo(descriptors, devices);
        CInventoryXMLWriter().GetXML(devices, "result.xml");
        for (CDeviceInfo* device : devices)
            delete device;
    }
    fuzz::RequireWellFormed(fuzz::ReadFile("result.xml"), "SVMInventory");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnterScratchDirectory();
    fuzz::WriteFile("package.xml", kPackage, sizeof(kPackage) - 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const int run = input.ConsumeIntegralInRange<int>(0, 2);
    FuzzNVMeHost host(input);
    HostInstalled installed(&host);
    if (run == 0)
        Inventory();
    else if (run == 1)
        Update(input);
    else
        Disks();
    return 0;
}
