#include "NVMEZAGOLinuxAdapter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "FileIO.h"
#include "Logger.h"
#include "NVMECommonUtils.h"
#include "PlatformLayer.h"
#include "StringUtils.h"

#define ZAGO_LOG_UNIT "cm_NVM_ePCISSD/src/NVMEZAGOLinuxAdapter"

namespace {

const char* const kListNodesCommand = "ls -a /dev | grep -i -e 'nvme[0-9]$' -e 'nvme[1-9][0-9]$'";

uint16_t readLE16(const unsigned char* reply, size_t offset)
{
    return static_cast<uint16_t>(reply[offset] | (reply[offset + 1] << 8));
}

// A fixed-length text field of a reply, ending early at a zero byte so that
// a short or padded reply never puts NUL characters into the texts.
std::string replyText(const unsigned char* reply, size_t offset, size_t length)
{
    const char* text = reinterpret_cast<const char*>(reply + offset);
    return std::string(text, strnlen(text, length));
}

std::string fieldText(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// Copies at most size-1 characters and always terminates.
void copyBounded(char* destination, size_t size, const std::string& text)
{
    std::memset(destination, 0, size);
    std::memcpy(destination, text.c_str(), std::min(text.size(), size - 1));
}

} // namespace

NVMEZAGOLinuxAdapter::NVMEZAGOLinuxAdapter() { ZLOG("NVMEZAGOLinuxAdapter::NVMEZAGOLinuxAdapter()"); }

NVMEZAGOLinuxAdapter::~NVMEZAGOLinuxAdapter() { ZLOG("NVMEZAGOLinuxAdapter::~NVMEZAGOLinuxAdapter()"); }

deviceDescriptor* NVMEZAGOLinuxAdapter::newDescriptor()
{
    std::unique_ptr<deviceDescriptor> descriptor(new (std::nothrow) deviceDescriptor());
    if (!descriptor)
        return nullptr;
    m_descriptors.push_back(std::move(descriptor));
    return m_descriptors.back().get();
}

rootPortDeviceDescriptor* NVMEZAGOLinuxAdapter::newRootPort()
{
    std::unique_ptr<rootPortDeviceDescriptor> rootPort(new (std::nothrow) rootPortDeviceDescriptor());
    if (!rootPort)
        return nullptr;
    m_rootPorts.push_back(std::move(rootPort));
    return m_rootPorts.back().get();
}

bool NVMEZAGOLinuxAdapter::executeIOCTL(std::string devicePath, nvme_passthru_cmd& cmd, int& status)
{
    ZLOG("NVMEZAGOLinuxAdapter::executeIOCTL() Entering");
    INVMeHostAccess* host = CNVMeHostAccess::Get();

    int fd = host->openDevice(devicePath.c_str(), O_RDWR);
    if (fd < 0) {
        ZLOG("executeIOCTL: error on open " + std::to_string(errno));
        return false;
    }

    status = host->adminCommand(fd, &cmd);
    int ioctlErrno = errno;
    ZLOG("executeIOCTL: ioctl return value = " + std::to_string(status));
    ZLOG("executeIOCTL: cmd result " + std::to_string(cmd.result));

    bool issued = true;
    if (status < 0) {
        ZLOG("executeIOCTL: ioctl return value = " + std::to_string(status));
        ZLOG("executeIOCTL: error on ioctl " + std::to_string(ioctlErrno));
        ZLOG("executeIOCTL: cmd result " + std::to_string(cmd.result));
        issued = false;
    }

    host->closeDevice(fd);
    ZLOG("NVMEZAGOLinuxAdapter::executeIOCTL() Exiting");
    return issued;
}

void* NVMEZAGOLinuxAdapter::alignedAlloc(unsigned long size)
{
    void* buffer = nullptr;
    int rc = posix_memalign(&buffer, static_cast<size_t>(getpagesize()), size);
    if (rc != 0) {
        // posix_memalign reports through its result, not errno.
        errno = rc;
        ZLOG("alignedAlloc: error on posix_memalign " + std::to_string(errno));
        return nullptr;
    }
    std::memset(buffer, 0, size);
    return buffer;
}

bool NVMEZAGOLinuxAdapter::readFileContents(const char* path, char* buffer, size_t bufferSize)
{
    if (buffer == nullptr || bufferSize == 0 || path == nullptr)
        return false;

    INVMeHostAccess* host = CNVMeHostAccess::Get();
    FILE* file = host->openAttribute(path);
    if (file == nullptr)
        return false;

    struct stat info;
    if (host->statAttribute(path, &info) != 0) {
        std::fclose(file);
        return false;
    }

    // sysfs reports 4096 bytes for a one-line attribute, far more than the
    // callers' buffers hold: the read is bounded by the buffer (keeping
    // room for the terminator), and succeeds only when the whole file fit.
    std::memset(buffer, 0, bufferSize);
    size_t count = std::fread(buffer, 1, bufferSize - 1, file);
    bool whole = std::feof(file) || (std::fgetc(file) == EOF && std::feof(file));
    if (!whole || std::ferror(file)) {
        std::memset(buffer, 0, bufferSize);
        std::fclose(file);
        return false;
    }
    buffer[count] = '\0';
    buffer[std::strcspn(buffer, "\n")] = '\0';
    std::fclose(file);
    return true;
}

void NVMEZAGOLinuxAdapter::DiscoverZagoCtrlDevices(std::vector<CDeviceInfo*>& devices)
{
    ZLOG("NVMEZAGOLinuxAdapter::DiscoverZagoCtrlDevices() Entering");
    std::vector<deviceDescriptor*> descriptors;
    enumerateRootPortAttachedNVMEControllers(descriptors);
    setDeviceInfo(descriptors, devices);
    ZLOG("NVMEZAGOLinuxAdapter::DiscoverZagoCtrlDevices() Exiting");
}

void NVMEZAGOLinuxAdapter::enumerateRootPortAttachedNVMEControllers(std::vector<deviceDescriptor*>& descriptors)
{
    ZLOG("NVMEZAGOLinuxAdapter::enumerateRootPortAttachedNVMEControllers() Entering");
    getStorageControllersDevicePathList(descriptors);
    setRootPortAttachedDeviceDescriptor(descriptors);
    ZLOG("NVMEZAGOLinuxAdapter::enumerateRootPortAttachedNVMEControllers() Exiting");
}

bool NVMEZAGOLinuxAdapter::getNVMEMountedDevices(std::vector<std::string>& names)
{
    ZLOG("NVMEZAGOLinuxAdapter::getNVMEMountedDevices() Entering");
    INVMeHostAccess* host = CNVMeHostAccess::Get();

    std::string command = std::string(kListNodesCommand) + " 2>&1";
    FILE* listing = host->openListing(command.c_str());
    if (listing == nullptr) {
        ZLOG("getNVMEMountedDevices: error on popen " + std::to_string(errno));
        return false;
    }

    bool found = false;
    char line[256];
    while (std::fgets(line, sizeof(line), listing) != nullptr) {
        line[std::strcspn(line, "\n")] = '\0';
        ZLOG(std::string("getNVMEMountedDevices: Adding device to list ") + line);
        names.push_back(line);
        found = true;
    }

    host->closeListing(listing);
    ZLOG("NVMEZAGOLinuxAdapter::getNVMEMountedDevices() Exiting");
    return found;
}

void NVMEZAGOLinuxAdapter::getStorageControllersDevicePathList(std::vector<deviceDescriptor*>& descriptors)
{
    std::vector<std::string> names;
    if (!getNVMEMountedDevices(names))
        ZLOG("getStorageControllersDevicePathList: No mounted nvme devices found");

    for (const std::string& name : names) {
        std::string devicePath = "/dev/" + name;
        std::string addressFile = "/sys/class/nvme/" + name + "/address";

        char address[100] = {0};
        if (!readFileContents(addressFile.c_str(), address, sizeof(address))) {
            ZLOG("getStorageControllersDevicePathList(): Faild to read contents of " + addressFile);
            continue;
        }

        std::string pciDirectory = std::string("/sys/bus/pci/devices/") + address;
        char vendor[50] = {0};
        char subVendor[50] = {0};
        char device[50] = {0};
        char subDevice[50] = {0};
        if (!readFileContents((pciDirectory + "/vendor").c_str(), vendor, sizeof(vendor)) ||
            !readFileContents((pciDirectory + "/subsystem_vendor").c_str(), subVendor, sizeof(subVendor)) ||
            !readFileContents((pciDirectory + "/device").c_str(), device, sizeof(device)) ||
            !readFileContents((pciDirectory + "/subsystem_device").c_str(), subDevice, sizeof(subDevice))) {
            ZLOG("getStorageControllersDevicePathList(): Faild to read PCI details from " + pciDirectory);
            continue;
        }

        deviceDescriptor* descriptor = newDescriptor();
        if (descriptor == nullptr)
            continue;
        rootPortDeviceDescriptor* rootPort = newRootPort();
        if (rootPort == nullptr) {
            m_descriptors.pop_back();
            continue;
        }

        rootPort->reserved = 0;
        copyBounded(rootPort->devicePath, sizeof(rootPort->devicePath), devicePath);

        descriptor->kind = deviceDescriptor::KIND_NVME;
        descriptor->vendorID = 0;
        unsigned int value = 0;
        if (std::sscanf(vendor, "%X", &value) == 1)
            descriptor->vendorID = value;
        if (std::sscanf(subVendor, "%X", &value) == 1)
            descriptor->subVendorID = value;
        if (std::sscanf(device, "%X", &value) == 1)
            descriptor->deviceID = value;
        if (std::sscanf(subDevice, "%X", &value) == 1)
            descriptor->subDeviceID = value;
        descriptor->rootPort = rootPort;
        descriptors.push_back(descriptor);
    }
}

void NVMEZAGOLinuxAdapter::setRootPortAttachedDeviceDescriptor(std::vector<deviceDescriptor*>& descriptors)
{
    for (deviceDescriptor* descriptor : descriptors) {
        if (descriptor->kind >= deviceDescriptor::KIND_ZAGO_DISK)
            continue;
        if (descriptor->rootPort == nullptr) {
            ZLOG("NVMEZAGOLinuxAdapter::setRootPortAttachedDeviceInfo() Found NULL !!!");
            continue;
        }

        std::string devicePath = descriptor->rootPort->devicePath;
        if (getCtrlAdapaterInfo(devicePath, descriptor)) {
            descriptor->kind = deviceDescriptor::KIND_ZAGO;
            ZLOG("NVMEZAGOLinuxAdapter::setRootPortAttachedDeviceInfo() Found a ZAGO device !!!");
        }
        if (!sendRootPortCtrlIdentifyCmd(devicePath, descriptor))
            ZLOG("NVMEZAGOLinuxAdapter::setRootPortAttachedDeviceInfo() ctrl identify command failed !!!");
    }
}

bool NVMEZAGOLinuxAdapter::getCtrlAdapaterInfo(std::string devicePath, deviceDescriptor* descriptor)
{
    using namespace ZagoAdmin;
    ZLOG("NVMEZAGOLinuxAdapter::getCtrlAdapaterInfo() Entering");

    // Cleared, so that a reply shorter than the buffer leaves zeros, not
    // heap leftovers, in the fields read below.
    unsigned char* reply = static_cast<unsigned char*>(std::calloc(REPLY_SIZE, 1));
    if (reply == nullptr) {
        ZLOG("getCtrlAdapaterInfo: malloc failure ");
        return false;
    }

    int status = -1;
    nvme_passthru_cmd cmd;
    std::memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = OPC_VENDOR_INFO;
    cmd.cdw10 = VENDOR_INFO_CDW10;
    cmd.cdw12 = VENDOR_INFO_ADAPTER;
    cmd.cdw14 = ADAPTER_INFO_CDW14;
    cmd.addr = reinterpret_cast<uint64_t>(reply);
    cmd.data_len = REPLY_SIZE;

    bool isZago = executeIOCTL(devicePath, cmd, status) && status == 0;
    if (isZago) {
        std::snprintf(descriptor->firmwareRevision, sizeof(descriptor->firmwareRevision), "%d.%d.%d.%d",
                      readLE16(reply, AI_FIRMWARE), readLE16(reply, AI_FIRMWARE + 2),
                      readLE16(reply, AI_FIRMWARE + 4), readLE16(reply, AI_FIRMWARE + 6));
        ZLOG("getCtrlAdapaterInfo: serial number = " + replyText(reply, AI_SERIAL, AI_SERIAL_LEN));
        ZLOG("getCtrlAdapaterInfo: Firmware revision = " +
             fieldText(descriptor->firmwareRevision, sizeof(descriptor->firmwareRevision)));
        descriptor->vendorID = readLE16(reply, AI_VENDOR_ID);
        descriptor->subVendorID = readLE16(reply, AI_SUBVENDOR_ID);
        descriptor->deviceID = readLE16(reply, AI_DEVICE_ID);
        descriptor->subDeviceID = readLE16(reply, AI_SUBDEVICE_ID);
    }

    std::free(reply);
    ZLOG("NVMEZAGOLinuxAdapter::getCtrlAdapaterInfo() Exiting");
    return isZago;
}

bool NVMEZAGOLinuxAdapter::sendRootPortCtrlIdentifyCmd(std::string devicePath, deviceDescriptor* descriptor)
{
    ZLOG("NVMEZAGOLinuxAdapter::sendRootPortCtrlIdentifyCmd() Entering");
    nvme_passthru_cmd cmd;
    std::memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = ZagoAdmin::OPC_IDENTIFY;
    cmd.cdw10 = ZagoAdmin::IDENTIFY_CNS_CONTROLLER;
    ZLOG("NVMEZAGOLinuxAdapter::sendRootPortCtrlIdentifyCmd() Exit");
    return sendCtrlIdentifyCmd(cmd, devicePath, descriptor);
}

bool NVMEZAGOLinuxAdapter::sendCtrlIdentifyCmd(nvme_passthru_cmd& cmd, std::string devicePath,
                                               deviceDescriptor* descriptor)
{
    using namespace ZagoAdmin;
    ZLOG("NVMEZAGOLinuxAdapter::sendCtrlIdentifyCmd() Entering");

    unsigned char* reply = static_cast<unsigned char*>(std::calloc(REPLY_SIZE, 1));
    if (reply == nullptr) {
        ZLOG("sendCtrlIdentifyCmd: malloc failure");
        return false;
    }

    int status = -1;
    cmd.addr = reinterpret_cast<uint64_t>(reply);
    cmd.data_len = REPLY_SIZE;

    bool answered = executeIOCTL(devicePath, cmd, status) && status == 0;
    if (answered) {
        std::string model = CStringUtils::trim_string(replyText(reply, ID_MODEL, ID_MODEL_LEN));
        std::string serial = CStringUtils::trim_string(replyText(reply, ID_SERIAL, ID_SERIAL_LEN));
        std::string firmware = CStringUtils::trim_string(replyText(reply, ID_FIRMWARE, ID_FIRMWARE_LEN));

        // The fields keep at most 39 and 19 characters.
        copyBounded(descriptor->modelNumber, sizeof(descriptor->modelNumber), model);
        copyBounded(descriptor->serialNumber, sizeof(descriptor->serialNumber), serial);
        descriptor->controllerID = readLE16(reply, ID_CONTROLLER_ID);

        // A ZAGO controller reports its real firmware level in the
        // adapter information; Identify only carries a placeholder.
        if (descriptor->kind != deviceDescriptor::KIND_ZAGO) {
            copyBounded(descriptor->firmwareRevision, ID_FIRMWARE_LEN + 1, firmware);
            ZLOG("sendCtrlIdentifyCmd: firmware revision = " +
                 fieldText(descriptor->firmwareRevision, sizeof(descriptor->firmwareRevision)));
        }
        ZLOG("sendCtrlIdentifyCmd: modelNumber = " + model);
        ZLOG("sendCtrlIdentifyCmd: serialNumber = " + serial);
    }

    std::free(reply);
    ZLOG("NVMEZAGOLinuxAdapter::sendCtrlIdentifyCmd() Exiting");
    return answered;
}

void NVMEZAGOLinuxAdapter::setDeviceInfo(std::vector<deviceDescriptor*>& descriptors,
                                         std::vector<CDeviceInfo*>& devices)
{
    for (deviceDescriptor* descriptor : descriptors) {
        CDeviceInfo* device = new (std::nothrow) CDeviceInfo();
        if (device == nullptr)
            continue;

        std::string model = fieldText(descriptor->modelNumber, sizeof(descriptor->modelNumber));
        std::string serial = fieldText(descriptor->serialNumber, sizeof(descriptor->serialNumber));
        std::string firmware = fieldText(descriptor->firmwareRevision, sizeof(descriptor->firmwareRevision));

        firmware = CStringUtils::trim_string(firmware);
        std::string compactSerial;
        for (char c : serial)
            if (c != ' ')
                compactSerial += c;
        model = CStringUtils::trim_string(model);

        ZLOG("setDeviceInfo: modelNumber = " + model);
        ZLOG("setDeviceInfo: serialNumber = " + compactSerial);
        ZLOG("setDeviceInfo: fwRevision = " + firmware);

        device->setPCIInfo(descriptor->deviceID, descriptor->subDeviceID, descriptor->vendorID,
                           descriptor->subVendorID);
        device->setEnumId("Serial Number: " + compactSerial);
        setBasicDeviceInfo(device, model, "FRMW");
        device->setVersion(firmware);
        device->setDeviceHandle(descriptor);
        device->setStatus(0);

        if (descriptor->kind == deviceDescriptor::KIND_ZAGO)
            devices.push_back(device);
        else
            delete device;
    }
}

// ---- Firmware download and activation ------------------------------------

namespace {

const uint32_t kPieceSize = 4096;
const uint32_t kCommitReplaceActivateAtReset = 0x08; // commit action 1, slot 0
const uint32_t kCommitReplaceActivateNow = 0x18;     // commit action 3, slot 0

// Status code type and status code of a completion. The type's upper bits
// must stay: a vendor-specific or path-related status that shares its low
// bits with a success row would otherwise count as a successful update.
const unsigned int kStatusCodeMask = 0x7FF;

} // namespace

bool NVMEZAGOLinuxAdapter::UpdateZagoCtrlDevices(std::string& imagePath, std::vector<CDeviceInfo*>& devices)
{
    ZLOG("NVMEZAGOLinuxAdapter::UpdateZagoCtrlDevices() Entering");

    DiscoverZagoCtrlDevices(devices);
    if (devices.empty()) {
        ZLOG("UpdateZagoCtrlDevices: No NVME/ZAGO devices discovered");
        return false;
    }

    // The filter only takes records out of the list; the ones it drops are
    // no longer owned by anybody else, so they are released here.
    std::vector<CDeviceInfo*> discovered = devices;
    bool supported = FilterSupportedDeviceInfo(devices);
    for (CDeviceInfo* record : discovered) {
        if (std::find(devices.begin(), devices.end(), record) == devices.end())
            delete record;
    }
    if (!supported) {
        ZLOG("UpdateZagoCtrlDevices: No device match with package.xml");
        return false;
    }
    ZLOG("UpdateZagoCtrlDevices: Filtering of devices from package xml successful");

    bool updated = false;
    for (CDeviceInfo* device : devices) {
        deviceDescriptor* descriptor = static_cast<deviceDescriptor*>(device->getDeviceHandle());
        nvme_passthru_cmd download;
        nvme_passthru_cmd commit;
        std::memset(&download, 0, sizeof(download));
        std::memset(&commit, 0, sizeof(commit));

        std::string devicePath;
        bool prepared = descriptor != nullptr && descriptor->rootPort != nullptr;
        if (prepared && descriptor->kind == deviceDescriptor::KIND_ZAGO) {
            devicePath = fieldText(descriptor->rootPort->devicePath, sizeof(descriptor->rootPort->devicePath));
            download.opcode = ZagoAdmin::OPC_FIRMWARE_DOWNLOAD;
            commit.opcode = ZagoAdmin::OPC_FIRMWARE_COMMIT;
            commit.cdw10 = kCommitReplaceActivateAtReset;
        } else if (prepared && descriptor->kind == deviceDescriptor::KIND_NVME) {
            devicePath = fieldText(descriptor->rootPort->devicePath, sizeof(descriptor->rootPort->devicePath));
            download.opcode = ZagoAdmin::OPC_FIRMWARE_DOWNLOAD;
            commit.opcode = ZagoAdmin::OPC_FIRMWARE_COMMIT;
            commit.cdw10 = kCommitReplaceActivateNow;
        } else if (prepared && descriptor->kind == deviceDescriptor::KIND_ZAGO_DISK) {
            const pdDeviceHandle* disk = reinterpret_cast<const pdDeviceHandle*>(descriptor->rootPort);
            devicePath = fieldText(disk->devicePath, sizeof(disk->devicePath));
            download.opcode = ZagoAdmin::OPC_DISK_PASSTHRU_WRITE;
            download.nsid = disk->slotID;
            download.cdw14 = ZagoAdmin::OPC_FIRMWARE_DOWNLOAD;
            commit.opcode = ZagoAdmin::OPC_DISK_PASSTHRU_WRITE;
            commit.nsid = disk->slotID;
            commit.cdw14 = ZagoAdmin::OPC_FIRMWARE_COMMIT;
            commit.cdw10 = CPlatformLayer::IsFileExits("CA1") ? kCommitReplaceActivateAtReset : kCommitReplaceActivateNow;
        } else {
            // A record without a usable descriptor cannot be flashed; left
            // alone it would keep discovery's status 0 and read as updated.
            prepared = false;
        }

        if (!prepared) {
            device->setStatus(1);
            device->setErrorMsg("ERROR: Failed to Update Firmware");
            ZLOG("UpdateZagoCtrlDevices: no usable device descriptor, nothing sent");
            continue;
        }

        if (!writeBuffer(devicePath.c_str(), download, imagePath)) {
            device->setStatus(1);
            device->setErrorMsg("ERROR: Failed to Update Firmware");
            ZLOG("UpdateZagoCtrlDevices: writeBuffer failed for " + devicePath);
        } else {
            unsigned int status = 0;
            if (!firmwareActivate(devicePath, commit, status)) {
                device->setStatus(1);
                device->setErrorMsg("ERROR: Failed to activate Firmware");
                ZLOG("UpdateZagoCtrlDevices: Failed to activate firmware for " + devicePath);
            } else if (commit.cdw10 == kCommitReplaceActivateAtReset && (status & kStatusCodeMask) == 0) {
                // Activated at the next reset, whatever the More or
                // do-not-retry bits say: the host must be rebooted.
                device->setStatus(0);
                device->setRebootRequired(true);
                device->setErrorMsg("Firmware update is successful.");
            } else {
                setPDFirmwareActivationStatus(device, status, devicePath);
            }
        }

        if (device->getStatus() == 0)
            updated = true;
    }

    ZLOG("NVMEZAGOLinuxAdapter::UpdateZagoCtrlDevices() Exit");
    return updated;
}

bool NVMEZAGOLinuxAdapter::writeBuffer(const char* devicePath, nvme_passthru_cmd& cmd, std::string imagePath)
{
    ZLOG("NVMEZAGOLinuxAdapter::writeBuffer() Entering");

    // Only a regular file is an image: a FIFO would hang the run, a device
    // would be read as firmware.
    CUniqueFd image(OpenRegularFileForReading(imagePath));
    if (!image.valid()) {
        const int openErrno = errno;
        ZLOG("writeBuffer: error on open() payload path " + std::to_string(openErrno));
        if (openErrno == EINVAL)
            ZLOG("writeBuffer: payload is not a regular file: " + imagePath);
        return false;
    }

    INVMeHostAccess* host = CNVMeHostAccess::Get();
    bool written = false;
    void* buffer = nullptr;
    int device = -1;

    do {
        struct stat info;
        if (fstat(image.get(), &info) != 0) {
            ZLOG("writeBuffer: error on stat " + std::to_string(errno));
            break;
        }

        // The piece offsets are 32-bit dword counts; a larger file taken as
        // 32 bits would flash only its remainder and report success.
        if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > UINT32_MAX) {
            ZLOG("writeBuffer: Invalid payload size " + std::to_string(static_cast<long long>(info.st_size)));
            break;
        }
        uint32_t size = static_cast<uint32_t>(info.st_size);
        if (size == 0 || size % 4 != 0) {
            ZLOG("writeBuffer: Invalid payload size " + std::to_string(size));
            break;
        }

        buffer = alignedAlloc(size);
        if (buffer == nullptr) {
            ZLOG("Memory allocation failure");
            break;
        }

        // One read(2) moves at most about 2 GiB; an image up to the 4 GiB
        // limit takes several. A file that shrank meanwhile fails here.
        size_t got = ReadFully(image.get(), buffer, size);
        if (got != size) {
            ZLOG("writeBuffer: error on read " + std::to_string(errno));
            break;
        }

        device = host->openDevice(devicePath, O_RDWR);
        if (device < 0) {
            ZLOG("writeBuffer: error on open() device path " + std::to_string(errno));
            break;
        }

        uint32_t pieceLength = kPieceSize;
        uint32_t offset = 0;
        uint32_t remaining = size;
        unsigned int pieces = 0;
        while (remaining > 0) {
            if (remaining < pieceLength)
                pieceLength = remaining;
            cmd.addr = reinterpret_cast<uintptr_t>(static_cast<unsigned char*>(buffer) + offset);
            cmd.data_len = pieceLength;
            cmd.cdw10 = pieceLength / 4 - 1;
            cmd.cdw11 = offset / 4;
            int rc = host->adminCommand(device, &cmd);
            if (rc != 0) {
                int ioctlErrno = errno;
                ZLOG("writeBuffer: ioctl return value = " + std::to_string(rc));
                ZLOG("writeBuffer: error on ioctl " + std::to_string(ioctlErrno));
                break;
            }
            ++pieces;
            offset += pieceLength;
            remaining -= pieceLength;
        }
        if (remaining == 0) {
            ZLOG("writeBuffer: no of writes = " + std::to_string(pieces));
            written = true;
        }
    } while (false);

    if (device >= 0)
        host->closeDevice(device);
    free(buffer);
    ZLOG("NVMEZAGOLinuxAdapter::writeBuffer() Exiting");
    return written;
}

bool NVMEZAGOLinuxAdapter::firmwareActivate(std::string devicePath, nvme_passthru_cmd& cmd, unsigned int& status)
{
    ZLOG("NVMEZAGOLinuxAdapter::firmwareActivate() Entering");
    int result = -1;
    bool issued = executeIOCTL(devicePath, cmd, result);
    if (issued) {
        status = static_cast<unsigned int>(result);
        ZLOG("NVMEZAGOLinuxAdapter::firmwareActivate() Exiting");
    }
    return issued;
}

void NVMEZAGOLinuxAdapter::setPDFirmwareActivationStatus(CDeviceInfo* device, unsigned int status,
                                                         std::string devicePath)
{
    const char* const success = "Firmware update is successful.";
    switch (status & kStatusCodeMask) {
    case 0x000:
        device->setStatus(0);
        device->setRebootRequired(false);
        device->setErrorMsg(success);
        break;
    case 0x106:
        device->setStatus(1);
        device->setRebootRequired(false);
        device->setErrorMsg("ERROR: Invalid firmware slot");
        ZLOG("setPDFirmwareActivationStatus: Firmware Activate failed with invalid firmware slot for " + devicePath);
        break;
    case 0x107:
        device->setStatus(1);
        device->setRebootRequired(false);
        device->setErrorMsg("ERROR: Invalid firmware image");
        ZLOG("setPDFirmwareActivationStatus: Firmware Activate failed with invalid firmware image for " + devicePath);
        break;
    case 0x10B:
        device->setStatus(0);
        device->setRebootRequired(true);
        device->setErrorMsg(success);
        ZLOG("setPDFirmwareActivationStatus: Firmware Activate requires conventional reset for " + devicePath);
        break;
    case 0x110:
        device->setStatus(0);
        device->setRebootRequired(true);
        device->setErrorMsg(success);
        ZLOG("setPDFirmwareActivationStatus: Firmware Activate requires NVM Subsystem reset for " + devicePath);
        break;
    case 0x111:
        device->setStatus(0);
        device->setRebootRequired(true);
        device->setErrorMsg(success);
        ZLOG("setPDFirmwareActivationStatus: Firmware Activate requires reset for " + devicePath);
        break;
    case 0x113:
        device->setStatus(1);
        device->setRebootRequired(false);
        device->setErrorMsg("ERROR: The downloaded image is prohibited from the activation by the controller");
        ZLOG("setPDFirmwareActivationStatus: Firmware Activation is prohibited by the controller for " + devicePath);
        break;
    case 0x114:
        device->setStatus(1);
        device->setRebootRequired(false);
        device->setErrorMsg("ERROR: The firmware image hass Overlapping Range");
        ZLOG("setPDFirmwareActivationStatus: Firmware Activate failed since firmware image has overlapping range for " +
             devicePath);
        break;
    case 0x11E:
        device->setStatus(1);
        device->setRebootRequired(false);
        device->setErrorMsg("ERROR: Failed to activate Firmware");
        ZLOG("setPDFirmwareActivationStatus: Firmware Activate failed for " + devicePath);
        break;
    default:
        device->setStatus(1);
        device->setRebootRequired(false);
        device->setErrorMsg("ERROR: Failed to activate Firmware");
        ZLOG("setPDFirmwareActivationStatus: Firmware Activate Some other error occurred for " + devicePath);
        break;
    }
}

// ---- Physical-disk pass-through ------------------------------------------

namespace {

const uint32_t kDiskCount = 2;
const uint32_t kPhysicalDiskStatusByte = 4;
const uint32_t kPhysicalDiskSlotId = 104;
const uint32_t kPciIdentityCdw10 = 0x804;
const uint32_t kPciIdentityCdw14 = 0x1E;  // NVMe-MI Receive
const uint32_t kPciIdentityRequestType = 3;
const size_t kPciVendorId = 8;
const size_t kPciDeviceId = 10;
const size_t kPciSubVendorId = 12;
const size_t kPciSubDeviceId = 14;
const uint32_t kCtrlWritePieceDwords = 0x3FF;  // every piece is 4096 bytes

} // namespace

pdDeviceHandle* NVMEZAGOLinuxAdapter::newDiskHandle()
{
    std::unique_ptr<pdDeviceHandle> handle(new (std::nothrow) pdDeviceHandle());
    if (!handle)
        return nullptr;
    m_diskHandles.push_back(std::move(handle));
    return m_diskHandles.back().get();
}

void NVMEZAGOLinuxAdapter::releaseDiskEntry(deviceDescriptor* descriptor, pdDeviceHandle* handle)
{
    if (descriptor != nullptr) {
        m_descriptors.erase(std::remove_if(m_descriptors.begin(), m_descriptors.end(),
                                           [descriptor](const std::unique_ptr<deviceDescriptor>& owned) {
                                               return owned.get() == descriptor;
                                           }),
                            m_descriptors.end());
    }
    if (handle != nullptr) {
        m_diskHandles.erase(std::remove_if(m_diskHandles.begin(), m_diskHandles.end(),
                                           [handle](const std::unique_ptr<pdDeviceHandle>& owned) {
                                               return owned.get() == handle;
                                           }),
                            m_diskHandles.end());
    }
}

void NVMEZAGOLinuxAdapter::enumerateZagoCtrlPhysicalDevices(std::vector<deviceDescriptor*>& descriptors)
{
    // Only the controllers present at entry; appending may move the list's
    // storage, so every access indexes it anew.
    const size_t controllers = descriptors.size();
    for (size_t i = 0; i < controllers; ++i) {
        if (descriptors[i] != nullptr && descriptors[i]->kind == deviceDescriptor::KIND_ZAGO &&
            descriptors[i]->rootPort != nullptr)
            addZAGOPDToDeviceDescList(descriptors, descriptors[i]->rootPort);
    }
}

void NVMEZAGOLinuxAdapter::addZAGOPDToDeviceDescList(std::vector<deviceDescriptor*>& descriptors,
                                                     rootPortDeviceDescriptor* rootPort)
{
    if (rootPort == nullptr)
        return;
    const std::string controllerPath = fieldText(rootPort->devicePath, sizeof(rootPort->devicePath));

    for (unsigned int index = 0; index < kDiskCount; ++index) {
        unsigned int commandStatus = 0xFF;
        unsigned short slotID = 0xFFFF;
        if (!getPhysicalDeviceInfoCmd(controllerPath, index, slotID, commandStatus) || commandStatus != 0) {
            ZLOG("addZAGOPDToDeviceDescList(): getPhysicalDeviceInfoCmd returned false");
            continue;
        }

        pdDeviceHandle* handle = newDiskHandle();
        deviceDescriptor* descriptor = handle != nullptr ? newDescriptor() : nullptr;
        if (handle == nullptr || descriptor == nullptr) {
            releaseDiskEntry(descriptor, handle);
            continue;
        }
        descriptor->kind = deviceDescriptor::KIND_ZAGO_DISK;

        if (!sendZagoPdCtrlIdentifyCmd(controllerPath, slotID, descriptor) ||
            !sendPDNvmeReadDataStrutureCmd(controllerPath, slotID, descriptor)) {
            releaseDiskEntry(descriptor, handle);
            continue;
        }

        copyBounded(handle->devicePath, sizeof(handle->devicePath), controllerPath);
        handle->slotID = slotID;
        descriptor->rootPort = reinterpret_cast<rootPortDeviceDescriptor*>(handle);
        descriptors.push_back(descriptor);
    }
}

bool NVMEZAGOLinuxAdapter::getPhysicalDeviceInfoCmd(std::string devicePath, unsigned int index,
                                                    unsigned short& slotID, unsigned int& commandStatus)
{
    using namespace ZagoAdmin;
    ZLOG("NVMEZAGOLinuxAdapter::getPhysicalDeviceInfoCmd() Entering");

    unsigned char* reply = static_cast<unsigned char*>(std::calloc(REPLY_SIZE, 1));
    if (reply == nullptr) {
        ZLOG("getPhysicalDeviceInfoCmd: malloc failure");
        return false;
    }

    slotID = 0xFFFF;
    int status = -1;
    nvme_passthru_cmd cmd;
    std::memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = OPC_VENDOR_INFO;
    cmd.cdw10 = VENDOR_INFO_CDW10;
    cmd.cdw12 = VENDOR_INFO_DISK;
    cmd.cdw14 = index;
    cmd.addr = reinterpret_cast<uint64_t>(reply);
    cmd.data_len = REPLY_SIZE;

    // A reply the controller rejected holds no disk information: only a
    // command completed with status 0 is read.
    bool answered = false;
    if (executeIOCTL(devicePath, cmd, status) && status == 0) {
        unsigned int headerStatus = reply[kPhysicalDiskStatusByte];
        if (headerStatus != 0) {
            ZLOG("getPhysicalDeviceInfoCmd: Non-Zero command status " + std::to_string(headerStatus));
        } else {
            slotID = readLE16(reply, kPhysicalDiskSlotId);
            commandStatus = 0;
            ZLOG("getPhysicalDeviceInfoCmd(): cmdHeaderStatus = " + std::to_string(headerStatus) +
                 "getPhysicalDeviceInfoCmd: SlotID = " + std::to_string(slotID));
            answered = true;
        }
    }

    std::free(reply);
    ZLOG("NVMEZAGOLinuxAdapter::getPhysicalDeviceInfoCmd() Exiting");
    return answered;
}

bool NVMEZAGOLinuxAdapter::sendZagoPdCtrlIdentifyCmd(std::string devicePath, unsigned short slotID,
                                                     deviceDescriptor* descriptor)
{
    ZLOG("NVMEZAGOLinuxAdapter::sendZagoPdCtrlIdentifyCmd() Entering");
    nvme_passthru_cmd cmd;
    std::memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = ZagoAdmin::OPC_DISK_PASSTHRU_READ;
    cmd.nsid = slotID;
    cmd.cdw10 = ZagoAdmin::IDENTIFY_CNS_CONTROLLER;
    cmd.cdw14 = ZagoAdmin::OPC_IDENTIFY;
    ZLOG("NVMEZAGOLinuxAdapter::sendZagoPdCtrlIdentifyCmd() Exit");
    return sendCtrlIdentifyCmd(cmd, devicePath, descriptor);
}

bool NVMEZAGOLinuxAdapter::sendPDNvmeReadDataStrutureCmd(std::string devicePath, unsigned short slotID,
                                                         deviceDescriptor* descriptor)
{
    using namespace ZagoAdmin;
    ZLOG("NVMEZAGOLinuxAdapter::sendNvmeReadDataStrutureCmd() Entering");
    if (descriptor == nullptr)
        return false;

    unsigned char* reply = static_cast<unsigned char*>(std::calloc(REPLY_SIZE, 1));
    if (reply == nullptr) {
        ZLOG("sendNvmeReadDataStrutureCmd: malloc failure");
        return false;
    }

    int status = -1;
    nvme_passthru_cmd cmd;
    std::memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = OPC_DISK_PASSTHRU_READ;
    cmd.nsid = slotID;
    cmd.cdw10 = kPciIdentityCdw10;
    cmd.cdw12 = (kPciIdentityRequestType << 24) | (static_cast<uint32_t>(descriptor->controllerID >> 8) << 16) |
                (descriptor->controllerID & 0xFFu);
    cmd.cdw14 = kPciIdentityCdw14;
    cmd.addr = reinterpret_cast<uint64_t>(reply);
    cmd.data_len = REPLY_SIZE;

    // Identities are taken only from a request the disk accepted; a
    // rejected one leaves the descriptor as it was and the disk unlisted.
    bool accepted = executeIOCTL(devicePath, cmd, status) && status == 0;
    if (accepted) {
        descriptor->vendorID = readLE16(reply, kPciVendorId);
        descriptor->deviceID = readLE16(reply, kPciDeviceId);
        descriptor->subVendorID = readLE16(reply, kPciSubVendorId);
        descriptor->subDeviceID = readLE16(reply, kPciSubDeviceId);
    }

    std::free(reply);
    ZLOG("NVMEZAGOLinuxAdapter::sendNvmeReadDataStrutureCmd() Exiting");
    return accepted;
}

bool NVMEZAGOLinuxAdapter::ctrlWriteBuffer(zagoDeviceiHandle* handle, std::string imagePath)
{
    ZLOG("NVMEZAGOLinuxAdapter::ctrlWriteBuffer() Entering");
    if (handle == nullptr)
        return false;

    FILE* image = std::fopen(imagePath.c_str(), "rbe");
    if (image == nullptr) {
        ZLOG("ctrlWriteBuffer: error on fopen " + std::to_string(errno));
        return false;
    }

    // Every exit below closes what was opened before it.
    struct stat info;
    if (stat(imagePath.c_str(), &info) != 0) {
        ZLOG("ctrlWriteBuffer: error on stat " + std::to_string(errno));
        std::fclose(image);
        return false;
    }

    unsigned char* buffer = static_cast<unsigned char*>(std::malloc(kPieceSize));
    if (buffer == nullptr) {
        ZLOG("ctrlWriteBuffer(): malloc failure");
        std::fclose(image);
        return false;
    }

    INVMeHostAccess* host = CNVMeHostAccess::Get();
    const std::string devicePath = fieldText(handle->devicePath, sizeof(handle->devicePath));
    int device = host->openDevice(devicePath.c_str(), O_RDWR);
    if (device < 0) {
        ZLOG("ctrlWriteBuffer: error on open " + std::to_string(errno));
        std::free(buffer);
        std::fclose(image);
        return false;
    }

    bool sent = false;
    uint64_t offset = 0;
    for (;;) {
        nvme_passthru_cmd cmd;
        std::memset(&cmd, 0, sizeof(cmd));
        std::memset(buffer, 0, kPieceSize);
        size_t got = std::fread(buffer, 1, kPieceSize, image);
        if (got == 0) {
            if (std::feof(image) && !std::ferror(image)) {
                ZLOG("ctrlWriteBuffer: end of file");
                sent = true;
            } else {
                ZLOG("ctrlWriteBuffer: fread failure");
            }
            break;
        }
        // The piece offset travels as a 32-bit dword count.
        if (offset / 4 > UINT32_MAX) {
            ZLOG("ctrlWriteBuffer: image too large for the dword offset");
            break;
        }

        cmd.opcode = ZagoAdmin::OPC_DISK_PASSTHRU_WRITE;
        cmd.nsid = handle->handle;
        cmd.cdw10 = kCtrlWritePieceDwords;
        cmd.cdw11 = static_cast<uint32_t>(offset / 4);
        cmd.cdw14 = ZagoAdmin::OPC_FIRMWARE_DOWNLOAD;
        cmd.addr = reinterpret_cast<uint64_t>(buffer);
        cmd.data_len = kPieceSize;
        int rc = host->adminCommand(device, &cmd);
        if (rc != 0) {
            int ioctlErrno = errno;
            ZLOG("ctrlWriteBuffer: ioctl return value = " + std::to_string(rc));
            ZLOG("ctrlWriteBuffer: error on ioctl " + std::to_string(ioctlErrno));
            break;
        }
        offset += kPieceSize;
    }

    host->closeDevice(device);
    std::free(buffer);
    std::fclose(image);
    ZLOG("NVMEZAGOLinuxAdapter::ctrlWriteBuffer() Exiting");
    return sent;
}
