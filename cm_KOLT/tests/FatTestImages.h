#ifndef CM_KOLT_TESTS_FATTESTIMAGES_H
#define CM_KOLT_TESTS_FATTESTIMAGES_H

// FAT volumes for the label tests: real ones made by dosfstools and mtools
// in the test's scratch folder, patched where a case needs an odd byte, and
// hand-built boot sectors for the malformed cases. Nothing here touches a
// real disk.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fatimg {

// The tools live in /sbin or /usr/sbin, which a test's PATH may lack.
inline bool runTool(const std::string& command)
{
    std::string line = "PATH=/usr/sbin:/sbin:/usr/bin:/bin " + command + " >/dev/null 2>&1";
    return std::system(line.c_str()) == 0;
}

// mkfs.vfat -C <path> <KiB> -F <bits> [-n <label>] <options>
inline bool makeFat(const std::string& path, int bits, unsigned sizeKiB, const std::string& label,
                    const std::string& options = "")
{
    std::string cmd = "mkfs.vfat -C '" + path + "' " + std::to_string(sizeKiB) + " -F " + std::to_string(bits);
    if (!label.empty())
        cmd += " -n " + label;
    if (!options.empty())
        cmd += " " + options;
    unlink(path.c_str());
    return runTool(cmd);
}

// Copies count one-byte files F0000.TXT, F0001.TXT, ... into the root
// directory (one short-name entry each), then sets the label with mlabel,
// which takes the first free entry: the label lands at entry count.
inline bool fillRootThenLabel(const std::string& image, const std::string& folder, unsigned count,
                              const std::string& label)
{
    std::string files = folder + "/files";
    if (!runTool("mkdir -p '" + files + "'"))
        return false;
    std::string list;
    for (unsigned i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "F%04u.TXT", i);
        std::ofstream(files + "/" + name) << "x";
        list += " '" + files + "/" + name + "'";
    }
    return runTool("MTOOLS_SKIP_CHECK=1 mcopy -i '" + image + "'" + list + " ::") &&
           runTool("MTOOLS_SKIP_CHECK=1 mlabel -i '" + image + "' ::" + label);
}

inline void writeAt(const std::string& path, uint64_t offset, const void* data, size_t length)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0)
        return;
    ssize_t n = pwrite(fd, data, length, static_cast<off_t>(offset));
    (void)n;
    close(fd);
}

inline std::vector<unsigned char> readAt(const std::string& path, uint64_t offset, size_t length)
{
    std::vector<unsigned char> out(length);
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return {};
    ssize_t n = pread(fd, out.data(), length, static_cast<off_t>(offset));
    close(fd);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

inline void put16(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

inline void put32(unsigned char* p, uint32_t v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

inline uint32_t get16(const unsigned char* p) { return p[0] | (p[1] << 8); }
inline uint32_t get32(const unsigned char* p) { return get16(p) | (get16(p + 2) << 16); }

// A directory entry: 11-character name (blank padded) and attribute byte.
inline std::vector<unsigned char> entry(const std::string& name, unsigned char attribute)
{
    std::vector<unsigned char> e(32, 0);
    std::string padded = (name + "           ").substr(0, 11);
    std::memcpy(e.data(), padded.data(), 11);
    e[11] = attribute;
    return e;
}

// bytes of directory with every entry in use by a file.
inline std::vector<unsigned char> fullDirectory(uint32_t bytes)
{
    std::vector<unsigned char> out;
    for (uint32_t i = 0; i < bytes / 32; ++i) {
        std::vector<unsigned char> e = entry("FILE    TXT", 0x20);
        out.insert(out.end(), e.begin(), e.end());
    }
    return out;
}

// Boot-sector fields as a FAT volume carries them; layout() turns them into
// byte positions.
struct Geometry {
    uint32_t bytesPerSector = 512;
    uint32_t sectorsPerCluster = 1;
    uint32_t reservedSectors = 1;
    uint32_t fatCount = 2;
    uint32_t rootEntries = 512;
    uint32_t totalSectors16 = 0;
    uint32_t sectorsPerFat16 = 0;
    uint32_t totalSectors32 = 0;
    uint32_t sectorsPerFat32 = 0;
    uint32_t rootCluster = 2;

    uint64_t totalSectors() const { return totalSectors16 ? totalSectors16 : totalSectors32; }
    uint64_t sectorsPerFat() const { return sectorsPerFat16 ? sectorsPerFat16 : sectorsPerFat32; }
    uint64_t firstDataSector() const { return reservedSectors + uint64_t(fatCount) * sectorsPerFat(); }
    uint64_t rootSectors() const { return (uint64_t(rootEntries) * 32 + bytesPerSector - 1) / bytesPerSector; }
    // FAT12/FAT16: the fixed root directory follows the FATs.
    uint64_t rootDirOffset() const { return firstDataSector() * bytesPerSector; }
    uint32_t clusterBytes() const { return sectorsPerCluster * bytesPerSector; }
    // FAT32: clusters start right after the FATs.
    uint64_t clusterOffset(uint32_t cluster) const
    {
        return (firstDataSector() + uint64_t(cluster - 2) * sectorsPerCluster) * bytesPerSector;
    }
    uint64_t fatEntryOffset(uint32_t cluster) const { return uint64_t(reservedSectors) * bytesPerSector + cluster * 4ull; }
    uint64_t fatCopyBytes() const { return sectorsPerFat() * bytesPerSector; }
};

inline Geometry readGeometry(const std::string& path)
{
    std::vector<unsigned char> b = readAt(path, 0, 512);
    Geometry g;
    if (b.size() < 512)
        return g;
    g.bytesPerSector = get16(&b[0x0B]);
    g.sectorsPerCluster = b[0x0D];
    g.reservedSectors = get16(&b[0x0E]);
    g.fatCount = b[0x10];
    g.rootEntries = get16(&b[0x11]);
    g.totalSectors16 = get16(&b[0x13]);
    g.sectorsPerFat16 = get16(&b[0x16]);
    g.totalSectors32 = get32(&b[0x20]);
    g.sectorsPerFat32 = get32(&b[0x24]);
    g.rootCluster = get32(&b[0x2C]);
    return g;
}

// A boot sector from its fields; typeAt is 0x36 (FAT12/FAT16) or 0x52
// (FAT32), typeText the 8 bytes there.
inline std::vector<unsigned char> bootSector(const Geometry& g, unsigned typeAt, const std::string& typeText)
{
    std::vector<unsigned char> b(512, 0);
    b[0] = 0xEB;
    b[1] = 0x58;
    b[2] = 0x90;
    put16(&b[0x0B], g.bytesPerSector);
    b[0x0D] = static_cast<unsigned char>(g.sectorsPerCluster);
    put16(&b[0x0E], g.reservedSectors);
    b[0x10] = static_cast<unsigned char>(g.fatCount);
    put16(&b[0x11], g.rootEntries);
    put16(&b[0x13], g.totalSectors16);
    put16(&b[0x16], g.sectorsPerFat16);
    put32(&b[0x20], g.totalSectors32);
    put32(&b[0x24], g.sectorsPerFat32);
    put32(&b[0x2C], g.rootCluster);
    std::memcpy(&b[typeAt], typeText.data(), typeText.size() < 8 ? typeText.size() : 8);
    b[510] = 0x55;
    b[511] = 0xAA;
    return b;
}

// Writes value into entry cluster of every FAT copy.
inline void setFatEntry(const std::string& path, const Geometry& g, uint32_t cluster, uint32_t value)
{
    unsigned char v[4];
    put32(v, value);
    for (uint32_t copy = 0; copy < g.fatCount; ++copy)
        writeAt(path, g.fatEntryOffset(cluster) + copy * g.fatCopyBytes(), v, 4);
}

inline void writeEntry(const std::string& path, uint64_t offset, const std::string& name, unsigned char attribute)
{
    std::vector<unsigned char> e = entry(name, attribute);
    writeAt(path, offset, e.data(), e.size());
}

// A disk image whose first sector is an MBR with one FAT partition (type
// 0x0C) starting at startSector; the partition's bytes are copied from
// partitionImage. Gives the whole-disk image; the partition alone stays in
// partitionImage, as /dev/sdX1 would show it.
inline bool makeMbrDisk(const std::string& diskImage, const std::string& partitionImage, uint32_t startSector)
{
    std::ifstream in(partitionImage, std::ios::binary);
    if (!in)
        return false;
    std::vector<char> part((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<unsigned char> mbr(512, 0);
    unsigned char* p = &mbr[446];
    p[4] = 0x0C;
    put32(p + 8, startSector);
    put32(p + 12, static_cast<uint32_t>(part.size() / 512));
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    unlink(diskImage.c_str());
    writeAt(diskImage, 0, mbr.data(), mbr.size());
    writeAt(diskImage, uint64_t(startSector) * 512, part.data(), part.size());
    return true;
}

} // namespace fatimg

#endif
