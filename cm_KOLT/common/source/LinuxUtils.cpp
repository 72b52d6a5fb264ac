#include "LinuxUtils.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "PlatformLayer.h"
#include "ScsiHostAccess.h"

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

int runCommand(const std::string& command)
{
    return CPlatformLayer::ExecuteCmd(command, false, 0);
}

int captureCommand(const std::string& command, size_t maxBytes, std::string& output)
{
    return CPlatformLayer::ExecuteCmdCapture(command, maxBytes, output);
}

std::string shellWord(const std::string& text)
{
    static const char* const plain =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./+,:=@%-";
    if (!text.empty() && text.find_first_not_of(plain) == std::string::npos)
        return text;
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += "'";
    return quoted;
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
