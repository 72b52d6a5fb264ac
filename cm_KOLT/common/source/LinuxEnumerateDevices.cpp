#include "LinuxEnumerateDevices.h"

#include <scsi/scsi.h>
#include <sys/stat.h>

#include <cstring>

#include "LinuxUtils.h"
#include "ScsiHostAccess.h"
#include "SecureTessa.h"

const char* const kSysfsScsiGeneric = "/sys/class/scsi_generic";

std::string deviceName(const char* prefix, int n, bool numeric)
{
    std::string name = prefix != nullptr ? prefix : "/dev/sg";
    if (numeric)
        return name + std::to_string(n);
    if (n < 0 || n > 18277)
        return name + "xxxx";
    if (n < 26) {
        name += static_cast<char>('a' + n);
    } else if (n < 702) {
        name += static_cast<char>('a' + (n - 26) / 26);
        name += static_cast<char>('a' + n % 26);
    } else {
        name += static_cast<char>('a' + (n - 702) / 676);
        name += static_cast<char>('a' + ((n - 26) / 26) % 26);
        name += static_cast<char>('a' + n % 26);
    }
    return name;
}

bool MakeDeviceName(char* buffer, size_t size, const char* prefix, int n, int numeric)
{
    if (buffer == nullptr || size == 0)
        return false;
    const std::string name = deviceName(prefix, n, numeric != 0);
    // A name cut short would name another device ("/dev/sg12" for
    // "/dev/sg1234"): one that does not fit is not written at all.
    if (name.size() >= size) {
        buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return true;
}

bool volumeLabelMatches(const std::string& volumeLabel, const std::string& wanted)
{
    // A prefix match would take "SECUPD2" (or any disk whose label merely
    // starts with the name) for the partition and mount it read-write.
    std::string::size_type end = volumeLabel.find_last_not_of(' ');
    if (end == std::string::npos || wanted.empty())
        return false;
    return volumeLabel.compare(0, end + 1, wanted) == 0;
}

CLinuxEnumerateDevices::CLinuxEnumerateDevices() : m_diskOnly(false) {}

CLinuxEnumerateDevices::CLinuxEnumerateDevices(bool diskOnly) : m_diskOnly(diskOnly)
{
    TESSA_LOG("CEnumerateDevices::CLinuxEnumerateDevices");
}

CLinuxEnumerateDevices::~CLinuxEnumerateDevices()
{
    TESSA_LOG("CEnumerateDevices::~CLinuxEnumerateDevices");
}

bool CLinuxEnumerateDevices::GetAllSGDevices()
{
    TESSA_LOG("CEnumerateDevices::GetAllSGDevices Start");
    IScsiHostAccess* host = CScsiHostAccess::Get();
    struct stat info;
    if (host->statPath(kSysfsScsiGeneric, &info) == 0 && S_ISDIR(info.st_mode)) {
        TESSA_LOG("CEnumerateDevices::GetAllSGDevices sysfs_sg_dir exists");
        std::vector<std::string> names;
        if (!host->listDirectory(kSysfsScsiGeneric, names))
            return false;
        for (const std::string& name : names) {
            if (name != "." && name != "..")
                m_sgPaths.push_back("/dev/" + name);
        }
    } else {
        for (int n = 0; n < kGenericNameProbes; ++n) {
            std::string path = deviceName("/dev/sg", n, false);
            if (CScsiDeviceHandle::openReadOnly(path).valid())
                m_sgPaths.push_back(path);
        }
    }
    TESSA_LOG("CEnumerateDevices::GetAllSGDevices Start");
    return true;
}

bool CLinuxEnumerateDevices::GetEumlatedSGDevices()
{
    if (m_sgPaths.empty())
        return false;
    IScsiHostAccess* host = CScsiHostAccess::Get();
    bool stored = false;
    for (const std::string& path : m_sgPaths) {
        CScsiDeviceHandle device = CScsiDeviceHandle::openReadOnly(path);
        if (!device.valid())
            continue;
        int emulated = 0;
        if (host->control(device.get(), SG_EMULATED_HOST, &emulated) != 0 || emulated == 0)
            continue;
        sg_device_info entry;
        std::memset(&entry.scsiId, 0, sizeof entry.scsiId);
        if (host->control(device.get(), SG_GET_SCSI_ID, &entry.scsiId) != 0)
            continue;
        m_devices[path] = entry;
        stored = true;
    }
    return stored;
}

bool CLinuxEnumerateDevices::GetSDDevices()
{
    IScsiHostAccess* host = CScsiHostAccess::Get();
    bool answered = false;
    for (int n = 0; n < kDiskNameProbes; ++n) {
        std::string path = deviceName("/dev/sd", n, false);
        CScsiDeviceHandle device = CScsiDeviceHandle::openReadOnly(path);
        if (!device.valid())
            continue;
        scsi_idlun idlun = {0, 0};
        int hostNumber = 0;
        if (host->control(device.get(), SCSI_IOCTL_GET_IDLUN, &idlun) != 0 ||
            host->control(device.get(), SCSI_IOCTL_GET_BUS_NUMBER, &hostNumber) != 0)
            continue;
        answered = true;
        if (m_diskOnly) {
            sg_device_info entry;
            std::memset(&entry.scsiId, 0, sizeof entry.scsiId);
            entry.diskPath = path;
            m_devices[path] = entry;
        } else {
            SearchSGDevice(path, idlun, hostNumber);
        }
    }
    return answered;
}

bool CLinuxEnumerateDevices::SearchSGDevice(std::string diskPath, scsi_idlun& idlun, int hostNumber)
{
    const int id = static_cast<int>(idlun.four_in_one & 0xFF);
    const int lun = static_cast<int>((idlun.four_in_one >> 8) & 0xFF);
    const int channel = static_cast<int>((idlun.four_in_one >> 16) & 0xFF);
    bool matched = false;
    for (auto& device : m_devices) {
        const sg_scsi_id& sg = device.second.scsiId;
        if (sg.host_no == hostNumber && sg.scsi_id == id && sg.lun == lun && sg.channel == channel) {
            device.second.diskPath = diskPath;
            matched = true;
        }
    }
    return matched;
}

bool CLinuxEnumerateDevices::GetDeviceWithLabel(const std::string& label, std::string& path)
{
    TESSA_LOG("CEnumerateDevices::GetDeviceWithLabel Start");
    if (!m_diskOnly) {
        if (!GetAllSGDevices()) {
            TESSA_LOG("CEnumerateDevices::GetAllSGDevices failed");
            return false;
        }
        if (!GetEumlatedSGDevices()) {
            TESSA_LOG("CEnumerateDevices::GetEumlatedSGDevices failed");
            return false;
        }
    }
    if (!GetSDDevices()) {
        TESSA_LOG("CEnumerateDevices::GetSDDevices failed");
        return false;
    }
    for (const auto& device : m_devices) {
        if (device.second.diskPath.empty())
            continue;
        std::string candidate = device.second.diskPath;
        TESSA_LOG(candidate);
        std::string volume = getLabel(candidate);
        if (volume.empty()) {
            // No file system on the whole disk: the controller may have put
            // a partition table in front of it.
            candidate += "1";
            volume = getLabel(candidate);
        }
        TESSA_LOG(volume);
        if (volumeLabelMatches(volume, label)) {
            path = candidate;
            TESSA_LOG("CEnumerateDevices::GetDeviceWithLabel -> found a device");
            TESSA_LOG(path);
            break;
        }
    }
    TESSA_LOG("CEnumerateDevices::GetDeviceWithLabel :End");
    return true;
}
