#ifndef CM_NVM_EPCISSD_NVMEZAGOLINUXADAPTER_H
#define CM_NVM_EPCISSD_NVMEZAGOLINUXADAPTER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "NVMeHostAccess.h"

// The controller's node under /dev.
struct rootPortDeviceDescriptor {
    uint64_t reserved;
    char devicePath[256];
};

// One listed NVMe controller (or, kind 2, a disk behind a ZAGO controller).
struct deviceDescriptor {
    enum { KIND_NVME = 0, KIND_ZAGO = 1, KIND_ZAGO_DISK = 2 };

    uint32_t kind;
    uint32_t vendorID;
    uint32_t deviceID;
    uint32_t subVendorID;
    uint32_t subDeviceID;
    rootPortDeviceDescriptor* rootPort;
    uint16_t controllerID;
    char modelNumber[40];
    char serialNumber[20];
    char firmwareRevision[30];
};

// Admin command set of the controllers this program talks to.
namespace ZagoAdmin {
const uint8_t OPC_FIRMWARE_COMMIT = 0x10;
const uint8_t OPC_FIRMWARE_DOWNLOAD = 0x11;
const uint8_t OPC_IDENTIFY = 0x06;
const uint8_t OPC_VENDOR_INFO = 0xE2;       // adapter / physical-disk information
const uint8_t OPC_DISK_PASSTHRU_READ = 0xC2;
const uint8_t OPC_DISK_PASSTHRU_WRITE = 0xC3;

const uint32_t VENDOR_INFO_CDW10 = 0x400;
const uint32_t VENDOR_INFO_ADAPTER = 0xE0;  // cdw12 selector
const uint32_t VENDOR_INFO_DISK = 0xE1;     // cdw12 selector
const uint32_t ADAPTER_INFO_CDW14 = 0x0D;
const uint32_t IDENTIFY_CNS_CONTROLLER = 1;

const uint32_t REPLY_SIZE = 4096;

// Adapter-information reply.
const size_t AI_VENDOR_ID = 0x18;
const size_t AI_SUBVENDOR_ID = 0x1A;
const size_t AI_DEVICE_ID = 0x1C;
const size_t AI_SUBDEVICE_ID = 0x1E;
const size_t AI_SERIAL = 0x40;
const size_t AI_SERIAL_LEN = 20;
const size_t AI_FIRMWARE = 0xA8;  // four little-endian 16-bit numbers

// Identify Controller data structure.
const size_t ID_SERIAL = 4;
const size_t ID_SERIAL_LEN = 20;
const size_t ID_MODEL = 24;
const size_t ID_MODEL_LEN = 40;
const size_t ID_FIRMWARE = 64;
const size_t ID_FIRMWARE_LEN = 8;
const size_t ID_CONTROLLER_ID = 78;
} // namespace ZagoAdmin

// ---- Firmware download and activation ----------------------------------

// The record behind a disk descriptor's rootPort (kind 2): the node of the
// ZAGO controller in front of the disk and the disk's slot id, which the
// disk pass-through commands carry as namespace id.
struct pdDeviceHandle {
    char devicePath[256];
    uint16_t slotID;
};

// ---- Physical-disk pass-through ------------------------------------------

// A disk behind a ZAGO controller as ctrlWriteBuffer addresses it: the
// controller's node and the disk's handle, sent as namespace id.
struct zagoDeviceiHandle {
    unsigned char reserved;
    char devicePath[256];
    uint16_t handle;
};

// All traffic with the NVMe controllers. Every host access goes through
// CNVMeHostAccess.
class NVMEZAGOLinuxAdapter {
public:
    NVMEZAGOLinuxAdapter();
    ~NVMEZAGOLinuxAdapter();

    // Sends one admin command to the controller node. True when the ioctl
    // was issued and returned 0 or more; `status` receives the ioctl's
    // value (unchanged when the node does not open).
    bool executeIOCTL(std::string devicePath, nvme_passthru_cmd& cmd, int& status);

    // Zero-filled, page-aligned buffer (release with free), or null.
    void* alignedAlloc(unsigned long size);

    // Reads one short attribute file into `buffer` (`bufferSize` bytes),
    // cut at the first newline. The text must fit with its terminator;
    // a longer file fails instead of being truncated.
    bool readFileContents(const char* path, char* buffer, size_t bufferSize);

    // Discovery: appends one new record per ZAGO controller, in listing
    // order. The caller owns the records; their device handles point at
    // descriptors owned by this adapter.
    void DiscoverZagoCtrlDevices(std::vector<CDeviceInfo*>& devices);

    void enumerateRootPortAttachedNVMEControllers(std::vector<deviceDescriptor*>& descriptors);
    void getStorageControllersDevicePathList(std::vector<deviceDescriptor*>& descriptors);
    bool getNVMEMountedDevices(std::vector<std::string>& names);
    void setRootPortAttachedDeviceDescriptor(std::vector<deviceDescriptor*>& descriptors);
    bool getCtrlAdapaterInfo(std::string devicePath, deviceDescriptor* descriptor);
    bool sendRootPortCtrlIdentifyCmd(std::string devicePath, deviceDescriptor* descriptor);
    bool sendCtrlIdentifyCmd(nvme_passthru_cmd& cmd, std::string devicePath,
                             deviceDescriptor* descriptor);
    void setDeviceInfo(std::vector<deviceDescriptor*>& descriptors, std::vector<CDeviceInfo*>& devices);

    // ---- Firmware download and activation ------------------------------

    // Discovers the ZAGO controllers into `devices`, keeps those that
    // "package.xml" supports and flashes the image into each of them. The
    // records that the package does not support are released. True when at
    // least one controller ended with status 0.
    bool UpdateZagoCtrlDevices(std::string& imagePath, std::vector<CDeviceInfo*>& devices);

    // Sends the image in pieces of at most 4096 bytes through one open node.
    // True when every piece was accepted.
    bool writeBuffer(const char* devicePath, nvme_passthru_cmd& cmd, std::string imagePath);

    // Issues the commit; `status` receives the controller's NVMe status only
    // when the command could be issued (return value true).
    bool firmwareActivate(std::string devicePath, nvme_passthru_cmd& cmd, unsigned int& status);

    // Status, message and reboot need of a device from its commit status.
    void setPDFirmwareActivationStatus(CDeviceInfo* device, unsigned int status, std::string devicePath);

    // ---- Physical-disk pass-through ------------------------------------

    // Appends a disk descriptor (kind 2) for every disk that answers behind
    // each ZAGO controller of the list as it stood at entry.
    void enumerateZagoCtrlPhysicalDevices(std::vector<deviceDescriptor*>& descriptors);
    // The same for one controller: disk 0, then disk 1.
    void addZAGOPDToDeviceDescList(std::vector<deviceDescriptor*>& descriptors, rootPortDeviceDescriptor* rootPort);
    // Slot id of disk `index` (0 or 1); true when the disk answered, and
    // then `commandStatus` is 0.
    bool getPhysicalDeviceInfoCmd(std::string devicePath, unsigned int index, unsigned short& slotID,
                                  unsigned int& commandStatus);
    // The disk's Identify data into the descriptor.
    bool sendZagoPdCtrlIdentifyCmd(std::string devicePath, unsigned short slotID, deviceDescriptor* descriptor);
    // The disk's PCI identity into the descriptor (its controllerID must be
    // set); true when the disk accepted the request.
    bool sendPDNvmeReadDataStrutureCmd(std::string devicePath, unsigned short slotID, deviceDescriptor* descriptor);
    // Sends the image file to the disk in zero-padded 4096-byte pieces.
    bool ctrlWriteBuffer(zagoDeviceiHandle* handle, std::string imagePath);

private:
    NVMEZAGOLinuxAdapter(const NVMEZAGOLinuxAdapter&) = delete;
    NVMEZAGOLinuxAdapter& operator=(const NVMEZAGOLinuxAdapter&) = delete;

    // Zero-filled descriptors that live as long as the adapter: device
    // records keep them as device handles. Null when out of memory.
    deviceDescriptor* newDescriptor();
    rootPortDeviceDescriptor* newRootPort();

    std::vector<std::unique_ptr<deviceDescriptor>> m_descriptors;
    std::vector<std::unique_ptr<rootPortDeviceDescriptor>> m_rootPorts;

    // Disk records of the pass-through (live as long as the adapter, like
    // the descriptors that point at them).
    pdDeviceHandle* newDiskHandle();
    void releaseDiskEntry(deviceDescriptor* descriptor, pdDeviceHandle* handle);
    std::vector<std::unique_ptr<pdDeviceHandle>> m_diskHandles;
};

#endif
