#include "LinuxUtils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <new>
#include <string>

#include "LinuxImpl.h"
#include "PlatformLayer.h"
#include "ScsiHostAccess.h"
#include "SecureTessa.h"

namespace {

// Reads until length bytes are in or the device ends; -1 on a read error.
long long readFully(int fd, unsigned char* buffer, uint32_t length, uint64_t offset)
{
    IScsiHostAccess* host = CScsiHostAccess::Get();
    uint64_t done = 0;
    while (done < length) {
        ssize_t n = host->readAt(fd, buffer + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<uint64_t>(n);
    }
    return static_cast<long long>(done);
}

uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t le32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

const unsigned kDirEntryBytes = 32;
const unsigned kAttributeByte = 11;
const unsigned char kVolumeLabelAttribute = 0x08;
const unsigned kLabelBytes = 11;
const unsigned kMaxFat32Clusters = 99;
const uint32_t kFat32ClusterMask = 0x0FFFFFFF;
// Cluster numbers from here on are reserved, bad or end-of-chain marks.
const uint32_t kFat32EndOfChain = 0x0FFFFFF8;

// What the parser needs of the boot sector, copied out once: the sector may
// sit in the window, which later reads refill.
struct BootSector {
    uint32_t bytesPerSector;
    uint32_t sectorsPerCluster;
    uint32_t reservedSectors;
    uint32_t fatCount;
    uint32_t rootEntries;
    uint64_t totalSectors;
    uint64_t sectorsPerFat;
    uint32_t rootCluster;
};

bool hasFatTypeText(const unsigned char* boot)
{
    return std::memcmp(boot + 0x52, "MSWIN", 5) == 0 || std::memcmp(boot + 0x52, "FAT32   ", 8) == 0 ||
           std::memcmp(boot + 0x36, "FAT16   ", 8) == 0 || std::memcmp(boot + 0x36, "MSDOS", 5) == 0 ||
           std::memcmp(boot + 0x36, "FAT12   ", 8) == 0;
}

BootSector readBootSector(const unsigned char* boot)
{
    BootSector b;
    b.bytesPerSector = le16(boot + 0x0B);
    b.sectorsPerCluster = boot[0x0D];
    b.reservedSectors = le16(boot + 0x0E);
    b.fatCount = boot[0x10];
    b.rootEntries = le16(boot + 0x11);
    uint16_t total16 = le16(boot + 0x13);
    b.totalSectors = total16 != 0 ? total16 : le32(boot + 0x20);
    uint16_t fat16 = le16(boot + 0x16);
    b.sectorsPerFat = fat16 != 0 ? fat16 : le32(boot + 0x24);
    b.rootCluster = le32(boot + 0x2C);
    return b;
}

// The FAT12/FAT16 root directory: the last label entry before the first
// unused entry wins.
void scanFixedRoot(device* dev, unsigned long long rootOffset, uint32_t entries, unsigned char** label)
{
    if (entries == 0)
        return;
    unsigned char* dir = get_buffer(dev, rootOffset, entries * kDirEntryBytes);
    if (dir == nullptr)
        return;
    unsigned char* found = nullptr;
    for (uint32_t i = 0; i < entries; ++i) {
        unsigned char* entry = dir + i * kDirEntryBytes;
        if (entry[kAttributeByte] == 0)
            break;
        if (entry[kAttributeByte] == kVolumeLabelAttribute)
            found = entry;
    }
    if (found != nullptr)
        *label = found;
}

// The FAT32 root directory, cluster by cluster along its chain: the first
// label entry wins.
void scanClusterChain(device* dev, unsigned long long offset, const BootSector& b, uint64_t firstDataSector,
                      uint64_t clusterCount, unsigned char** label)
{
    const uint32_t clusterBytes = b.sectorsPerCluster * b.bytesPerSector;
    uint32_t cluster = b.rootCluster;
    for (unsigned n = 0; n < kMaxFat32Clusters; ++n) {
        // Clusters 0 and 1 have no data, the top numbers mark bad clusters
        // and chain ends, and a number past the data region points outside
        // the file system: none of them is a directory to read.
        if (cluster < 2 || cluster >= kFat32EndOfChain || cluster - 2 >= clusterCount)
            return;
        uint64_t sector = firstDataSector + static_cast<uint64_t>(cluster - 2) * b.sectorsPerCluster;
        unsigned char* dir = get_buffer(dev, offset + sector * b.bytesPerSector, clusterBytes);
        if (dir == nullptr)
            return;
        for (uint32_t i = 0; i < clusterBytes / kDirEntryBytes; ++i) {
            unsigned char* entry = dir + i * kDirEntryBytes;
            if (entry[kAttributeByte] == 0)
                return;
            if (entry[kAttributeByte] == kVolumeLabelAttribute) {
                *label = entry;
                return;
            }
        }
        if (n + 1 == kMaxFat32Clusters)
            return;
        uint64_t fatEntry = static_cast<uint64_t>(b.reservedSectors) * b.bytesPerSector + static_cast<uint64_t>(cluster) * 4;
        unsigned char* next = get_buffer(dev, offset + fatEntry, 4);
        if (next == nullptr)
            return;
        cluster = le32(next) & kFat32ClusterMask;
    }
}

} // namespace

device::~device()
{
    if (fd >= 0)
        CScsiHostAccess::Get()->closeDevice(fd);
}

unsigned char* get_buffer(device* dev, unsigned long long offset, unsigned int length)
{
    if (dev == nullptr)
        return nullptr;
    // Offsets travel to pread as a signed 64-bit off_t.
    const unsigned long long maxOffset = static_cast<unsigned long long>(std::numeric_limits<off_t>::max());
    if (offset > maxOffset || length > maxOffset - offset)
        return nullptr;
    const unsigned long long end = offset + length;

    if (end <= kFatStartBufferBytes) {
        if (!dev->start) {
            dev->start.reset(new (std::nothrow) unsigned char[kFatStartBufferBytes]());
            if (!dev->start)
                return nullptr;
        }
        if (dev->startValid < end) {
            long long got = readFully(dev->fd, dev->start.get(), static_cast<uint32_t>(end), 0);
            dev->startValid = got > 0 ? static_cast<uint32_t>(got) : 0;
            if (got < static_cast<long long>(end))
                return nullptr;
        }
        return dev->start.get() + offset;
    }

    if (length > kFatLongestRead)
        return nullptr;
    if (dev->windowValid > 0 && offset >= dev->windowStart && end <= dev->windowStart + dev->windowValid)
        return dev->window.data() + (offset - dev->windowStart);
    // The window grows to the longest stretch asked for, so a caller always
    // gets every byte it is going to scan.
    size_t capacity = length > kFatWindowBytes ? length : kFatWindowBytes;
    if (dev->window.size() < capacity) {
        try {
            dev->window.resize(capacity);
        } catch (const std::bad_alloc&) {
            dev->windowValid = 0;
            return nullptr;
        }
    }
    dev->windowStart = offset;
    dev->windowValid = 0;
    long long got = readFully(dev->fd, dev->window.data(), length, offset);
    if (got > 0)
        dev->windowValid = static_cast<uint32_t>(got);
    if (got < static_cast<long long>(length))
        return nullptr;
    return dev->window.data();
}

int getLabel(device* dev, unsigned long long offset, unsigned char** label)
{
    const unsigned char* boot = get_buffer(dev, offset, 512);
    if (boot == nullptr)
        return -1;
    if (!hasFatTypeText(boot))
        return 0;
    const BootSector b = readBootSector(boot);
    if (b.bytesPerSector != 512 && b.bytesPerSector != 1024 && b.bytesPerSector != 2048 && b.bytesPerSector != 4096)
        return -1;
    // No cluster size means no usable geometry at all.
    if (b.sectorsPerCluster == 0)
        return -1;

    const uint64_t fatRegion = static_cast<uint64_t>(b.fatCount) * b.sectorsPerFat;
    const uint64_t rootSectors = (static_cast<uint64_t>(b.rootEntries) * kDirEntryBytes + b.bytesPerSector - 1) / b.bytesPerSector;
    const uint64_t firstDataSector = b.reservedSectors + fatRegion;
    // A volume smaller than its own metadata has no data region to look in.
    if (b.totalSectors < rootSectors + firstDataSector)
        return 0;
    const uint64_t clusters = (b.totalSectors - rootSectors - firstDataSector) / b.sectorsPerCluster;

    if (clusters <= 65524)
        scanFixedRoot(dev, offset + firstDataSector * b.bytesPerSector, b.rootEntries, label);
    else
        scanClusterChain(dev, offset, b, firstDataSector, clusters, label);
    return 0;
}

device* open_dev(const char* path)
{
    CScsiDeviceHandle handle = CScsiDeviceHandle::openReadOnly(path);
    if (!handle.valid())
        return nullptr;
    device* dev = new (std::nothrow) device();
    if (dev != nullptr)
        dev->fd = handle.release();
    return dev;
}

std::string getLabel(std::string path)
{
    std::unique_ptr<device> dev(open_dev(path.c_str()));
    if (!dev)
        return std::string();
    unsigned char* entry = nullptr;
    getLabel(dev.get(), 0, &entry);
    if (entry == nullptr)
        return std::string();
    const char* name = reinterpret_cast<const char*>(entry);
    return std::string(name, strnlen(name, kLabelBytes));
}

std::string executeCmd(const std::string& command)
{
    TESSA_LOG(command);
    std::string result;
    IScsiHostAccess* host = CScsiHostAccess::Get();
    FILE* stream = host->openCommand(command.c_str());
    if (stream == nullptr) {
        TESSA_LOG("executeCmd : popen failed");
    } else {
        char buffer[513] = {0};
        size_t got = std::fread(buffer, 1, 512, stream);
        host->closeCommand(stream);
        result.assign(buffer, strnlen(buffer, got));
    }
    TESSA_LOG(result);
    return result;
}

bool isSafePartitionLabel(const std::string& label)
{
    if (label.size() != 6)
        return false;
    for (char c : label) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

bool isSafeDiskDevicePath(const std::string& path)
{
    static const std::string prefix = "/dev/sd";
    if (path.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::string rest = path.substr(prefix.size());
    if (!rest.empty() && rest.back() == '1')
        rest.pop_back();
    if (rest.empty() || rest.size() > 3)
        return false;
    for (char c : rest) {
        if (c < 'a' || c > 'z')
            return false;
    }
    return true;
}

// Host operating-system detection.

const char* ESXiKernel = "VMkernel";

namespace {

// Release files are read a line at a time into a buffer of this size.
const std::streamsize kReleaseLineBuffer = 1024;

bool pathExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// Reads the next line of at most kReleaseLineBuffer - 1 characters. A longer
// line cannot be compared whole, and neither can anything after a read
// error: both end the scan of the file as "no more lines", so such a file
// simply does not match.
bool nextReleaseLine(std::ifstream& in, std::string& line)
{
    line.clear();
    if (!in.is_open() || !in.good())
        return false;
    char buffer[kReleaseLineBuffer];
    in.getline(buffer, kReleaseLineBuffer);
    if (in.fail())
        return false;
    // gcount() counts the newline too, unless the file ended first.
    std::streamsize stored = in.gcount();
    if (!in.eof() && stored > 0)
        --stored;
    line.assign(buffer, static_cast<size_t>(stored));
    return true;
}

// The first line of an existing file; empty when it is too long or cannot
// be read.
std::string firstReleaseLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    nextReleaseLine(in, line);
    return line;
}

// Whether any line of the file contains `text`.
bool anyReleaseLineContains(const std::string& path, const std::string& text)
{
    std::ifstream in(path);
    std::string line;
    while (nextReleaseLine(in, line))
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

bool contains(const std::string& line, const char* text) { return line.find(text) != std::string::npos; }

// The kernel name is one fact of the host: the platform layer holds it (and
// tests replace it there, as no mount namespace can change uname()).
bool kernelIsVMkernel() { return CPlatformLayer::isESXiSystem(); }

// The host: its index and the line that says why (none for a host that
// nothing recognised).
struct DetectedHost {
    int index;
    const char* message;
};

// VMware release lines, tested in this order: a 4.1 line also holds
// "VMware ESX 4".
const struct {
    const char* text;
    int index;
    const char* message;
} kVMwareReleases[] = {
    {"VMware ESX Server 3", ESX, "getLinuxOSVer: ESX 3 Found"},
    {"VMware ESX 4.1", ESX4_1, "getLinuxOSVer: ESX 4 Found"},
    {"VMware ESX 4", ESX4, "getLinuxOSVer: ESX 4 Found"},
};

// The kernel name first, then the release files in their order of
// precedence; an unrecognised host is handled as Red Hat.
DetectedHost detectHost()
{
    if (kernelIsVMkernel())
        return {ESXi, "getLinuxOSVer: ESXi Found"};

    if (pathExists(ESXRel)) {
        const std::string line = firstReleaseLine(ESXRel);
        for (const auto& release : kVMwareReleases)
            if (contains(line, release.text))
                return {release.index, release.message};
        TESSA_LOG("getLinuxOSVer: Unrecognized VMWare Found");
    }

    if (pathExists(RedHatRel)) {
        const std::string line = firstReleaseLine(RedHatRel);
        if (contains(line, "Red Hat"))
            return {REDHAT, "getLinuxOSVer REDHAT found"};
        if (contains(line, "XenServer"))
            return {XENSERVER, "getLinuxOSVer Xenserver found"};
        if (pathExists(NewPNBRel)) {
            // The newer image carries a CentOS-like release line; its own
            // file decides, and the CentOS test is not made.
            if (anyReleaseLineContains(NewPNBRel, "RVX_MAJOR_VERSION"))
                return {UVO_NEW, "getLinuxOSVer: NEW UVO(PNB) Found"};
        } else if (contains(line, "Cent")) {
            return {CENTOS, "getLinuxOSVer CentOS found"};
        }
    }

    if (pathExists(SuseRel))
        return {SUSE, "getLinuxOSVer: SLES Found"};
    // A missing file has no lines.
    if (anyReleaseLineContains(RVXRel, "RVX_MAJOR_VERSION"))
        return {UVO, "getLinuxOSVer: UVO(RVX) Found"};
    if (anyReleaseLineContains(PNBRel, "PNB_MAJOR_VERSION"))
        return {UVO, "getLinuxOSVer: UVO(PNB) Found"};
    return {REDHAT, nullptr};
}

} // namespace

bool secureTessa::getLinuxOSVer()
{
    if (hostOsIndex != -1) {
        TESSA_LOG("getLinuxOSVer OS Version previously set");
        return true;
    }
    if (setuid(0) != 0) {
        TESSA_LOG("getLinuxOSVer:user is not root");
        return false;
    }
    const DetectedHost host = detectHost();
    hostOsIndex = host.index;
    if (host.message != nullptr)
        TESSA_LOG(host.message);
    return true;
}

bool secureTessa::isESXiOS()
{
    TESSA_LOG("Enter secureTessa::isESXiOS");
    bool esxi = false;
    getLinuxOSVer();
    if (hostOsIndex == ESXi) {
        TESSA_LOG("ESXi OS Found");
        esxi = true;
    }
    TESSA_LOG("Exit secureTessa::isESXiOS");
    return esxi;
}

// ---------------------------------------------------------------------------
// Mount points, mounting and unmounting

namespace {

const char* const kESXiVolumes = "/vmfs/volumes/";
const int kMountAttempts = 60;
const int kMountPauseSeconds = 1;
// How long a busy drop box is waited for before it is left mounted.
const int kBusyUnmountWaits = 60;
const int kBusyPauseSeconds = 1;
const char* const kRemoveDeviceLinks = "rm -f /dev/sectesupd-* > /dev/null 2>&1";

int runShell(const std::string& command)
{
    return CPlatformLayer::ExecuteCmd(command, false, 0);
}

std::string mountPointOf(int hostOsIndex, const std::string& name)
{
    return (hostOsIndex == ESXi ? std::string(kESXiVolumes) : RHatPartDir) + name + "/";
}

// The mount folders have fixed names in a folder every user may write to.
// Whatever another user put there first (a link pointing elsewhere, a file,
// a folder of their own) must never receive a mount or a later "rm -rf".
// A link or file is removed (the link itself, never what it points to); a
// folder of another owner is refused.
bool clearMountFolder(const std::string& folder)
{
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0)
        return errno == ENOENT;
    if (S_ISDIR(info.st_mode))
        return info.st_uid == 0;
    TESSA_LOG("Removing " + folder + ": it is not a folder");
    return unlink(folder.c_str()) == 0 || errno == ENOENT;
}

bool isOwnFolder(const std::string& folder)
{
    struct stat info;
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == 0;
}

// A folder that is still a mount point (its file system differs from its
// parent's): removing its tree would delete the partition's files.
bool isMountedFolder(const std::string& folder)
{
    struct stat info;
    struct stat parent;
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    if (stat((folder + "/..").c_str(), &parent) != 0)
        return true;
    return info.st_dev != parent.st_dev;
}

void removeMountFolder(const std::string& folder, const std::string& redirect)
{
    if (isMountedFolder(folder)) {
        TESSA_LOG(folder + " is still mounted and is not removed");
        return;
    }
    runShell("rm -rf " + folder + redirect);
}

// The steps both mounts share; the drop box is mounted read-write, a
// numbered partition read-only.
bool mountPartition(secureTessa& client, std::string label, bool dropBox)
{
    TESSA_LOG(dropBox ? "mountDynPartition" : "mountStatPartition");
    if (!isSafePartitionLabel(label)) {
        TESSA_LOG("Not a partition label: " + label + ".  Partition Not Mounted");
        return false;
    }
    const std::string link = StatSecTesDev + label;
    const std::string device = client.getDevicePath(label);
    if (device.empty()) {
        TESSA_LOG("Correct Volume Label not found.  Partition Not Mounted");
        return false;
    }
    // The hypervisor mounts the volume itself.
    if (dropBox && client.hostOsIndex == ESXi)
        return true;
    if (!isSafeDiskDevicePath(device)) {
        TESSA_LOG("Not a disk device: " + device + ".  Partition Not Mounted");
        return false;
    }

    const std::string folder = RHatPartDir + label;
    if (!clearMountFolder(folder)) {
        TESSA_LOG(folder + " is not a folder of its own.  Partition Not Mounted");
        return false;
    }
    const std::string mkdirCommand = "mkdir -p " + folder;
    TESSA_LOG("Creating directory " + (dropBox ? mkdirCommand : std::string("mkdir -p ")));
    if (runShell(mkdirCommand) != 0) {
        TESSA_LOG("mkdir failed");
        return false;
    }
    TESSA_LOG("Directory Created");
    // Made again in the window between the check and mkdir: not ours to
    // mount on, nor to remove.
    if (!isOwnFolder(folder)) {
        TESSA_LOG(folder + " is not a folder of its own.  Partition Not Mounted");
        return false;
    }

    const std::string linkCommand = "ln -sf " + device + " " + link;
    TESSA_LOG("Creating Link " + linkCommand);
    if (runShell(linkCommand) != 0) {
        TESSA_LOG("Link creation failed");
        removeMountFolder(folder, "");
        return false;
    }
    TESSA_LOG("Link created");

    TESSA_LOG("Mounting partition " + link + " on " + folder);
    const std::string mountCommand = dropBox
        ? "mount -n -t vfat -oshortname=mixed,rw " + link + " " + folder
        : "mount -t vfat -oshortname=mixed,ro " + link + " " + folder + " > /dev/null 2>&1";
    TESSA_LOG(mountCommand);
    for (int attempt = 0; attempt < kMountAttempts; ++attempt) {
        CPlatformLayer::Sleep(kMountPauseSeconds);
        if (runShell(mountCommand) == 0) {
            TESSA_LOG(dropBox ? "Dynamic Partition Mounted" : "Partition Mounted");
            client.currentDropBox = link;
            return true;
        }
        TESSA_LOG("Mount Failed. Re-trying");
    }
    TESSA_LOG("mount failed");
    removeMountFolder(folder, "");
    runShell("rm -f " + link);
    return false;
}

} // namespace

bool secureTessa::getPartDrive(std::string name, std::string* mountPoint)
{
    if (mountPoint != nullptr)
        *mountPoint = mountPointOf(hostOsIndex, name);
    return true;
}

bool secureTessa::getDynPartDrive(const char* name, char* buffer, size_t bufferSize)
{
    if (buffer == nullptr || bufferSize == 0)
        return false;
    buffer[0] = '\0';
    if (name == nullptr)
        return false;
    const std::string mountPoint = mountPointOf(hostOsIndex, name);
    if (mountPoint.size() >= bufferSize) {
        TESSA_LOG("Mount point does not fit its buffer: " + mountPoint);
        return false;
    }
    std::memcpy(buffer, mountPoint.c_str(), mountPoint.size() + 1);
    return true;
}

bool secureTessa::mountDynPartition()
{
    return mountPartition(*this, dynDriveName, true);
}

bool secureTessa::mountStatPartition(std::string label)
{
    return mountPartition(*this, label, false);
}

bool secureTessa::unmountDynPartition()
{
    TESSA_LOG("-- umountDynPartition Entry");
    if (!getLinuxOSVer()) {
        TESSA_LOG("getLinuxOSVer failed");
        return false;
    }
    if (hostOsIndex == ESXi) {
        TESSA_LOG("Unmount not needed for ESXi");
        currentDropBox.clear();
        return true;
    }

    // Stacked mounts come off one per call; the call after the last one
    // fails (EINVAL: nothing mounted there).
    const std::string folder = RHatPartDir + dynDriveName;
    int error = 0;
    int busyWaits = 0;
    for (;;) {
        TESSA_LOG("Unmounting dir -> " + folder);
        error = CPlatformLayer::Umount(folder);
        if (error == 0) {
            TESSA_LOG("Umount Successful");
            continue;
        }
        TESSA_LOG("Umount Error Num = " + std::to_string(error));
        if (error != EBUSY || busyWaits == kBusyUnmountWaits)
            break;
        ++busyWaits;
        CPlatformLayer::Sleep(kBusyPauseSeconds);
    }

    // Only a folder known to be unmounted (or gone) may be removed: "rm -rf"
    // on a mounted drop box would empty the partition.
    const bool unmounted = error == EINVAL || error == ENOENT;
    if (unmounted)
        removeMountFolder(folder, " > /dev/null 2>&1");
    runShell(kRemoveDeviceLinks);
    if (!unmounted) {
        TESSA_LOG(folder + " is left mounted");
        return false;
    }
    currentDropBox.clear();
    return true;
}

bool secureTessa::unmountStatPartition(std::string label)
{
    TESSA_LOG("-- umountStatPartition Entry");
    if (!getLinuxOSVer())
        return false;
    if (!isSafePartitionLabel(label)) {
        TESSA_LOG("Not a partition label: " + label);
        return false;
    }
    const std::string folder = RHatPartDir + label;
    const bool unmounted = runShell("umount " + folder + " > /dev/null 2>&1") == 0;
    TESSA_LOG("static partition umounted.");
    // A failed umount may leave the partition mounted there.
    if (unmounted)
        removeMountFolder(folder, " > /dev/null 2>&1");
    runShell(kRemoveDeviceLinks);
    currentDropBox.clear();
    return unmounted;
}
