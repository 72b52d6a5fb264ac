#ifndef CM_KOLT_LINUXENUMERATEDEVICES_H
#define CM_KOLT_LINUXENUMERATEDEVICES_H

#include <scsi/sg.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Finds the host disk that carries a partition exposed by the management
// controller: lists the SCSI generic devices behind an emulated host adapter
// (where the USB mass-storage driver puts its disks), pairs them with the
// SCSI disks by SCSI address and reads the FAT volume label of each paired
// disk. In disk-only mode (no sg driver, or ESX service consoles) the
// generic devices are left out and every disk is a candidate.
class CLinuxEnumerateDevices {
public:
    struct sg_device_info {
        struct sg_scsi_id scsiId;
        // The disk paired with this device; in disk-only mode the disk itself.
        std::string diskPath;
    };

    // What SCSI_IOCTL_GET_IDLUN fills: id (bits 0-7), LUN (8-15), channel
    // (16-23) and host (24-31) packed in one word, then the host unique id.
    struct scsi_idlun {
        uint32_t four_in_one;
        uint32_t host_unique_id;
    };

    CLinuxEnumerateDevices();
    explicit CLinuxEnumerateDevices(bool diskOnly);
    ~CLinuxEnumerateDevices();

    // The three passes.
    bool GetAllSGDevices();
    bool GetEumlatedSGDevices();
    bool GetSDDevices();

    // Pairs diskPath with every generic device of the same SCSI address;
    // true when any matched.
    bool SearchSGDevice(std::string diskPath, scsi_idlun& idlun, int hostNumber);

    // Runs the passes and looks for a disk (or its first partition) whose
    // volume label is exactly label. True when the passes ran; path is set
    // only when the label was found.
    bool GetDeviceWithLabel(const std::string& label, std::string& path);

    const std::map<std::string, sg_device_info>& devices() const { return m_devices; }
    const std::vector<std::string>& genericPaths() const { return m_sgPaths; }

private:
    CLinuxEnumerateDevices(const CLinuxEnumerateDevices&) = delete;
    CLinuxEnumerateDevices& operator=(const CLinuxEnumerateDevices&) = delete;

    std::map<std::string, sg_device_info> m_devices;
    std::vector<std::string> m_sgPaths;
    bool m_diskOnly;
};

// Where the kernel lists the SCSI generic devices.
extern const char* const kSysfsScsiGeneric;
// Names probed per pass: generic devices when sysfs is missing, disks.
const int kGenericNameProbes = 4096;
const int kDiskNameProbes = 18278;

// prefix (default "/dev/sg") followed by n in decimal when numeric is
// non-zero, else by the Linux disk-name letters of n: a..z, aa..zz,
// aaa..zzz, and "xxxx" beyond (and for negative n).
std::string deviceName(const char* prefix, int n, bool numeric);
// The same into buffer of size bytes, zero byte included. A name that does
// not fit leaves an empty text (size permitting) and gives false.
bool MakeDeviceName(char* buffer, size_t size, const char* prefix, int n, int numeric);

// True when a volume label read from a disk names the wanted partition:
// the whole label, without its blank padding, byte for byte.
bool volumeLabelMatches(const std::string& volumeLabel, const std::string& wanted);

#endif
