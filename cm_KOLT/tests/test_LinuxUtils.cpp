// FAT volume labels read from raw devices: real FAT12, FAT16 and FAT32
// volumes made by dosfstools and mtools, patched directory entries, and
// hand-built boot sectors for the malformed cases.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "FatTestImages.h"
#include "LinuxUtils.h"
#include "PlatformLayer.h"
#include "RefusingScsiHost.h"
#include "ScopedSeam.h"
#include "SimPlatform.h"
#include "TempDir.h"

using namespace fatimg;

namespace {

const std::string kSecupd = "SECUPD     ";

size_t openDescriptors()
{
    size_t count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr)
            ++count;
        closedir(d);
    }
    return count;
}

class FatLabel : public ::testing::Test {
protected:
    // The images are plain files of the scratch folder, read with the real
    // calls.
    UseLinuxScsiHostAccess linuxCalls;
    TempDir scratch;
    std::string image = scratch.file("volume.img");

    // A small FAT16 volume without a label; the cases below write their own
    // root-directory entries into it.
    Geometry plainFat16()
    {
        EXPECT_TRUE(makeFat(image, 16, 32768, ""));
        return readGeometry(image);
    }

    // A FAT32 volume with one sector per cluster and no label.
    Geometry plainFat32()
    {
        EXPECT_TRUE(makeFat(image, 32, 40960, "", "-s 1"));
        return readGeometry(image);
    }
};

struct MadeVolume {
    const char* name;
    int bits;
    unsigned sizeKiB;
    const char* options;
};

class FatLabelByType : public FatLabel, public ::testing::WithParamInterface<MadeVolume> {};

TEST_P(FatLabelByType, LabelComesBackPaddedWithBlanks)
{
    const MadeVolume& v = GetParam();
    ASSERT_TRUE(makeFat(image, v.bits, v.sizeKiB, "SECUPD", v.options));
    EXPECT_EQ(getLabel(image), kSecupd);
}

INSTANTIATE_TEST_SUITE_P(Mkfs, FatLabelByType,
                         ::testing::Values(MadeVolume{"FAT12", 12, 2048, ""}, MadeVolume{"FAT16", 16, 32768, ""},
                                           MadeVolume{"FAT32", 32, 40960, "-s 1"},
                                           MadeVolume{"FAT32_8KiB_clusters", 32, 614400, "-s 16"},
                                           MadeVolume{"FAT16_4KiB_sectors", 16, 65536, "-S 4096 -s 1"}),
                         [](const ::testing::TestParamInfo<MadeVolume>& info) { return std::string(info.param.name); });

// Root-directory contents written over a plain FAT16 volume, and the label
// the reader must see (empty: none).
struct RootCase {
    const char* name;
    std::vector<std::pair<std::string, unsigned char>> entries;
    std::string expected;
};

class Fat16Root : public FatLabel, public ::testing::WithParamInterface<RootCase> {};

TEST_P(Fat16Root, LabelEntryIsPickedByAttributeByte)
{
    Geometry g = plainFat16();
    const RootCase& c = GetParam();
    for (size_t i = 0; i < c.entries.size(); ++i)
        writeEntry(image, g.rootDirOffset() + 32 * i, c.entries[i].first, c.entries[i].second);
    EXPECT_EQ(getLabel(image), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, Fat16Root,
    ::testing::Values(
        RootCase{"NoEntries", {}, ""},
        RootCase{"LastOfTwoLabelsWins", {{"FIRSTL", 0x08}, {"FILE    TXT", 0x20}, {"SECOND", 0x08}}, "SECOND     "},
        RootCase{"LongNamePartIsNoLabel", {{"SECUPD", 0x0F}}, ""},
        RootCase{"LabelWithArchiveBitIsNoLabel", {{"SECUPD", 0x28}}, ""},
        RootCase{"DeletedLabelStillCounts", {{"\xE5" "ECUPD", 0x08}}, "\xE5" "ECUPD     "},
        RootCase{"UnusedEntryEndsTheScan", {{"FILE    TXT", 0x20}, {"", 0x00}, {"SECUPD", 0x08}}, ""},
        RootCase{"LabelAfterFilesAndLongNames", {{"A", 0x0F}, {"FILE    TXT", 0x20}, {"SECUPD", 0x08}}, kSecupd}),
    [](const ::testing::TestParamInfo<RootCase>& info) { return std::string(info.param.name); });

TEST_F(FatLabel, Fat32TakesTheFirstOfTwoLabels)
{
    Geometry g = plainFat32();
    uint64_t root = g.clusterOffset(g.rootCluster);
    writeEntry(image, root, "FIRSTL", 0x08);
    writeEntry(image, root + 32, "SECOND", 0x08);
    EXPECT_EQ(getLabel(image), "FIRSTL     ");
}

TEST_F(FatLabel, FatTypeTextOnlyOpensTheGate)
{
    ASSERT_TRUE(makeFat(image, 16, 32768, "SECUPD"));
    const unsigned char none[8] = {0};
    writeAt(image, 0x36, none, 8);
    EXPECT_EQ(getLabel(image), "") << "no type text";

    // "MSWIN" at the FAT32 position on a volume with a FAT16 cluster count
    // is read as the FAT16 volume it is.
    writeAt(image, 0x52, "MSWIN", 5);
    EXPECT_EQ(getLabel(image), kSecupd);

    writeAt(image, 0x52, "\0\0\0\0\0", 5);
    writeAt(image, 0x36, "MSDOS   ", 8);
    EXPECT_EQ(getLabel(image), kSecupd);
}

TEST_F(FatLabel, Fat16RootDirectoryBeyondTheStartBuffer)
{
    // 160 reserved sectors put the root directory past the first 0x11000
    // bytes; 512 entries of it are 16 KiB, four times the smallest window.
    ASSERT_TRUE(makeFat(image, 16, 32768, "", "-R 160"));
    Geometry g = readGeometry(image);
    ASSERT_GT(g.rootDirOffset(), kFatStartBufferBytes);
    ASSERT_EQ(g.rootEntries, 512u);
    ASSERT_TRUE(fillRootThenLabel(image, scratch.path(), 200, "SECUPD"));
    std::vector<unsigned char> e = readAt(image, g.rootDirOffset() + 200 * 32, 32);
    ASSERT_EQ(e[11], 0x08) << "mlabel put the label elsewhere";

    EXPECT_EQ(getLabel(image), kSecupd);
}

TEST_F(FatLabel, Fat32LabelBeyondTheFirst4KiBOfAn8KiBCluster)
{
    ASSERT_TRUE(makeFat(image, 32, 614400, "", "-s 16"));
    Geometry g = readGeometry(image);
    ASSERT_EQ(g.clusterBytes(), 8192u);
    ASSERT_TRUE(fillRootThenLabel(image, scratch.path(), 150, "SECUPD"));
    std::vector<unsigned char> e = readAt(image, g.clusterOffset(g.rootCluster) + 150 * 32, 32);
    ASSERT_EQ(e[11], 0x08);

    EXPECT_EQ(getLabel(image), kSecupd);
}

// A FAT32 root directory chained over many one-sector clusters, every
// entry in use, with the label written as the first entry of cluster
// number labelCluster (counted from 1 along the chain).
class Fat32LongChain : public FatLabel {
protected:
    void chainRoot(uint32_t length, uint32_t labelCluster)
    {
        Geometry g = plainFat32();
        ASSERT_EQ(g.clusterBytes(), 512u);
        std::vector<unsigned char> full = fullDirectory(g.clusterBytes());
        for (uint32_t n = 0; n < length; ++n) {
            uint32_t cluster = g.rootCluster + n;
            writeAt(image, g.clusterOffset(cluster), full.data(), full.size());
            setFatEntry(image, g, cluster, n + 1 == length ? 0x0FFFFFFF : cluster + 1);
        }
        writeEntry(image, g.clusterOffset(g.rootCluster + labelCluster - 1), "SECUPD", 0x08);
    }
};

TEST_F(Fat32LongChain, LabelInThe99thClusterIsFound)
{
    chainRoot(120, 99);
    EXPECT_EQ(getLabel(image), kSecupd);
}

TEST_F(Fat32LongChain, LabelInThe100thClusterIsNotLookedFor)
{
    chainRoot(120, 100);
    EXPECT_EQ(getLabel(image), "");
}

TEST_F(Fat32LongChain, ChainEndsWithoutALabel)
{
    chainRoot(3, 3);
    EXPECT_EQ(getLabel(image), kSecupd);
    Geometry g = readGeometry(image);
    writeEntry(image, g.clusterOffset(g.rootCluster + 2), "FILE    TXT", 0x20);
    EXPECT_EQ(getLabel(image), "") << "end-of-chain mark after three full clusters";
}

// Hand-built boot sectors whose geometry is wrong in one way. Each must
// give no label, a defined return code and no read outside the file.
struct BadBoot {
    const char* name;
    Geometry geometry;
    unsigned typeAt;
    const char* typeText;
    int expectedCode;
};

Geometry fat16Like()
{
    Geometry g;
    g.sectorsPerCluster = 4;
    g.reservedSectors = 4;
    g.totalSectors16 = 0;
    g.totalSectors32 = 65536;
    g.sectorsPerFat16 = 64;
    return g;
}

Geometry fat32Like()
{
    Geometry g;
    g.rootEntries = 0;
    g.reservedSectors = 32;
    g.totalSectors32 = 81920;
    g.sectorsPerFat32 = 640;
    g.rootCluster = 2;
    return g;
}

template <typename F>
Geometry with(Geometry g, F change)
{
    change(g);
    return g;
}

class MalformedBootSector : public FatLabel, public ::testing::WithParamInterface<BadBoot> {};

TEST_P(MalformedBootSector, GivesNoLabelAndNoFault)
{
    const BadBoot& c = GetParam();
    std::vector<unsigned char> boot = bootSector(c.geometry, c.typeAt, c.typeText);
    writeAt(image, 0, boot.data(), boot.size());
    // A label entry where a sane reading of the fields would look, so that a
    // reader ignoring the fault would find something.
    writeEntry(image, 512 * 1024, "SECUPD", 0x08);
    ASSERT_EQ(truncate(image.c_str(), 2 * 1024 * 1024), 0);

    std::unique_ptr<device> dev(open_dev(image.c_str()));
    ASSERT_TRUE(dev);
    unsigned char* label = nullptr;
    EXPECT_EQ(getLabel(dev.get(), 0, &label), c.expectedCode);
    EXPECT_EQ(label, nullptr);
    EXPECT_EQ(getLabel(image), "");
}

INSTANTIATE_TEST_SUITE_P(
    Geometry, MalformedBootSector,
    ::testing::Values(
        BadBoot{"SectorSize520", with(fat16Like(), [](Geometry& g) { g.bytesPerSector = 520; }), 0x36, "FAT16   ", -1},
        BadBoot{"SectorSize0", with(fat16Like(), [](Geometry& g) { g.bytesPerSector = 0; }), 0x36, "FAT16   ", -1},
        BadBoot{"NoSectorsPerCluster", with(fat16Like(), [](Geometry& g) { g.sectorsPerCluster = 0; }), 0x36,
                "FAT16   ", -1},
        BadBoot{"TotalSectorsBelowMetadata", with(fat16Like(), [](Geometry& g) { g.totalSectors32 = 100; }), 0x36,
                "FAT16   ", 0},
        BadBoot{"Fat32TotalSectorsBelowMetadata", with(fat32Like(), [](Geometry& g) { g.totalSectors32 = 1000; }),
                0x52, "FAT32   ", 0},
        BadBoot{"Fat32RootCluster0", with(fat32Like(), [](Geometry& g) { g.rootCluster = 0; }), 0x52, "FAT32   ", 0},
        BadBoot{"Fat32RootCluster1", with(fat32Like(), [](Geometry& g) { g.rootCluster = 1; }), 0x52, "FAT32   ", 0},
        BadBoot{"Fat32RootClusterIsEndMark", with(fat32Like(), [](Geometry& g) { g.rootCluster = 0x0FFFFFF8; }), 0x52,
                "FAT32   ", 0},
        BadBoot{"Fat32RootClusterTopBits", with(fat32Like(), [](Geometry& g) { g.rootCluster = 0xFFFFFFFF; }), 0x52,
                "FAT32   ", 0},
        BadBoot{"Fat32RootClusterBeyondVolume", with(fat32Like(), [](Geometry& g) { g.rootCluster = 200000; }), 0x52,
                "FAT32   ", 0},
        BadBoot{"Fat16RootBeyondTheFile", with(fat16Like(), [](Geometry& g) { g.reservedSectors = 60000; }), 0x36,
                "FAT16   ", 0}),
    [](const ::testing::TestParamInfo<BadBoot>& info) { return std::string(info.param.name); });

TEST_F(FatLabel, Fat32ChainIntoReservedClusterNumbersEnds)
{
    for (uint32_t next : {0u, 1u, 0x0FFFFFF7u, 0x0FFFFFF8u}) {
        Geometry g = plainFat32();
        std::vector<unsigned char> full = fullDirectory(g.clusterBytes());
        writeAt(image, g.clusterOffset(g.rootCluster), full.data(), full.size());
        setFatEntry(image, g, g.rootCluster, next);
        // Whatever cluster 1 or the end marks would map to holds a label.
        writeEntry(image, g.clusterOffset(2) - 512, "SECUPD", 0x08);
        EXPECT_EQ(getLabel(image), "") << std::hex << next;
    }
}

TEST_F(FatLabel, SectorsPerFatAbove16BitsGiveTheRightDataStart)
{
    // 0x10001 sectors per FAT: a reader keeping 16 bits of it would look
    // for the root directory 64 MiB too early.
    Geometry g = fat32Like();
    g.sectorsPerFat32 = 0x10001;
    g.fatCount = 2;
    g.totalSectors32 = 0x10001 * 2 + 32 + 70000;
    std::vector<unsigned char> boot = bootSector(g, 0x52, "FAT32   ");
    writeAt(image, 0, boot.data(), boot.size());
    writeEntry(image, g.clusterOffset(2), "SECUPD", 0x08);
    Geometry cut = g;
    cut.sectorsPerFat32 = 1;
    writeEntry(image, cut.clusterOffset(2), "WRONG1", 0x08);
    ASSERT_EQ(truncate(image.c_str(), static_cast<off_t>(g.clusterOffset(3))), 0);
    EXPECT_EQ(getLabel(image), kSecupd);
}

TEST_F(FatLabel, LabelOnTheFirstPartitionOnly)
{
    std::string partition = scratch.file("part.img");
    ASSERT_TRUE(makeFat(partition, 16, 16384, "SECUPD"));
    ASSERT_TRUE(makeMbrDisk(image, partition, 2048));
    EXPECT_EQ(getLabel(image), "") << "the whole disk starts with its partition table";
    EXPECT_EQ(getLabel(partition), kSecupd);

    // The record reads a file system at any offset of the device.
    std::unique_ptr<device> dev(open_dev(image.c_str()));
    ASSERT_TRUE(dev);
    unsigned char* label = nullptr;
    EXPECT_EQ(getLabel(dev.get(), 2048ull * 512, &label), 0);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(label), 11), kSecupd);
}

TEST_F(FatLabel, UnreadablePathsGiveNoLabel)
{
    EXPECT_EQ(getLabel(scratch.file("missing.img")), "");
    EXPECT_EQ(open_dev(scratch.file("missing.img").c_str()), nullptr);
    scratch.write("short.img", std::string(100, 'x'));
    EXPECT_EQ(getLabel(scratch.file("short.img")), "");
    std::unique_ptr<device> dev(open_dev(scratch.file("short.img").c_str()));
    ASSERT_TRUE(dev);
    unsigned char* label = nullptr;
    EXPECT_EQ(getLabel(dev.get(), 0, &label), -1) << "no whole boot sector";
    EXPECT_EQ(getLabel(scratch.path()), "") << "a folder";
}

TEST_F(FatLabel, EveryDescriptorIsClosed)
{
    ASSERT_TRUE(makeFat(image, 12, 2048, "SECUPD"));
    size_t before = openDescriptors();
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(getLabel(image), kSecupd);
        EXPECT_EQ(getLabel(scratch.path()), "");
        delete open_dev(image.c_str());
    }
    EXPECT_EQ(openDescriptors(), before);
}

// The cache itself: what get_buffer hands out is always the device's bytes.
class DeviceCache : public FatLabel {
protected:
    void SetUp() override
    {
        // 256 KiB of a counting pattern: every 4-byte word holds its offset.
        std::vector<unsigned char> data(256 * 1024);
        for (uint32_t i = 0; i < data.size(); i += 4)
            put32(&data[i], i);
        writeAt(image, 0, data.data(), data.size());
        dev.reset(open_dev(image.c_str()));
        ASSERT_TRUE(dev);
    }

    static bool holdsOffsets(const unsigned char* p, uint64_t offset, uint32_t length)
    {
        for (uint32_t i = 0; i < length; i += 4) {
            if (get32(p + i) != offset + i)
                return false;
        }
        return true;
    }

    std::unique_ptr<device> dev;
};

TEST_F(DeviceCache, StartBufferStaysInPlaceWhenItGrows)
{
    unsigned char* boot = get_buffer(dev.get(), 0, 512);
    ASSERT_NE(boot, nullptr);
    unsigned char* later = get_buffer(dev.get(), 0x10000, 0x1000);
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(later, boot + 0x10000);
    EXPECT_TRUE(holdsOffsets(boot, 0, 0x11000));
    EXPECT_EQ(dev->startValid, 0x11000u);
}

TEST_F(DeviceCache, LongStretchesBeyondTheStartBufferComeWhole)
{
    for (uint32_t length : {4u, 4096u, 16384u, 65536u}) {
        unsigned char* p = get_buffer(dev.get(), 0x20000, length);
        ASSERT_NE(p, nullptr) << length;
        EXPECT_TRUE(holdsOffsets(p, 0x20000, length)) << length;
    }
    // Straddling the end of the start region goes to the window.
    unsigned char* p = get_buffer(dev.get(), 0x10800, 0x1000);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(holdsOffsets(p, 0x10800, 0x1000));
    // Inside the current window: served from it, same bytes.
    unsigned char* q = get_buffer(dev.get(), 0x11000, 0x100);
    EXPECT_EQ(q, p + 0x800);
}

TEST_F(DeviceCache, ReadsPastTheEndOrTooLongGiveNull)
{
    EXPECT_EQ(get_buffer(dev.get(), 256 * 1024 - 8, 16), nullptr);
    EXPECT_EQ(get_buffer(dev.get(), 0x40000, 4), nullptr);
    EXPECT_EQ(get_buffer(dev.get(), 0x20000, kFatLongestRead + 1), nullptr);
    EXPECT_EQ(get_buffer(dev.get(), ~0ull - 2, 16), nullptr);
    EXPECT_EQ(get_buffer(dev.get(), 1ull << 63, 16), nullptr);
    EXPECT_EQ(get_buffer(nullptr, 0, 16), nullptr);
    // A failed read leaves nothing claimed as cached.
    unsigned char* p = get_buffer(dev.get(), 0x20000, 64);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(holdsOffsets(p, 0x20000, 64));
}

TEST_F(DeviceCache, OffsetsBeyond4GiB)
{
    const uint64_t far = (5ull << 30) + 4096;
    unsigned char word[4];
    put32(word, 0xA5C3F00D);
    writeAt(image, far, word, 4);
    dev.reset(open_dev(image.c_str()));
    unsigned char* p = get_buffer(dev.get(), far, 4);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(get32(p), 0xA5C3F00Du);
}

} // namespace

namespace {

TEST(ShellTextChecks, PartitionLabels)
{
    for (const char* good : {"SECUPD", "TES001", "TES256", "TES022", "000000"})
        EXPECT_TRUE(isSafePartitionLabel(good)) << good;
    for (const char* bad : {"", "SECUP", "SECUPD2", "secupd", "SECUPd", "SEC UP", "SE;rm ", "$(id)A", "TES/01",
                            "SECUPD\n", "TES-01"})
        EXPECT_FALSE(isSafePartitionLabel(bad)) << bad;
    EXPECT_FALSE(isSafePartitionLabel(std::string("SECUP\0", 6)));
}

TEST(ShellTextChecks, DiskDevicePaths)
{
    for (const char* good : {"/dev/sda", "/dev/sdb1", "/dev/sdaa", "/dev/sdzzz", "/dev/sdzzz1"})
        EXPECT_TRUE(isSafeDiskDevicePath(good)) << good;
    for (const char* bad : {"", "/dev/sd", "/dev/sd1", "/dev/sda2", "/dev/sdaaaa", "/dev/sdA", "/dev/sg1",
                            "/dev/sda11", "/dev/sda;rm", "/dev/sda /", "dev/sda", "/dev/sdxxxx", "/dev/../sda"})
        EXPECT_FALSE(isSafeDiskDevicePath(bad)) << bad;
}

TEST(ShellTextChecks, ShellWordsQuoteOnlyWhatAShellWouldTouch)
{
    const struct {
        const char* text;
        const char* word;
    } cases[] = {
        {"/tmp/SECUPD/payload/fw_1.2-3+4,5:6=7@8%9.bin", "/tmp/SECUPD/payload/fw_1.2-3+4,5:6=7@8%9.bin"},
        {"TES022", "TES022"},
        {"", "''"},
        {"/tmp/SECUPD/a b", "'/tmp/SECUPD/a b'"},
        {"it's", "'it'\\''s'"},
        {"''", "''\\'''\\'''"},
        {"$(id)`id`;id|id&id>x<y", "'$(id)`id`;id|id&id>x<y'"},
        {"*?[a]~{b,c}!#", "'*?[a]~{b,c}!#'"},
        {"back\\slash \"quoted\"\nline", "'back\\slash \"quoted\"\nline'"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shellWord(c.text), c.word) << c.text;
}

// What the shell makes of a word is the text it was made from.
TEST(ShellTextChecks, AShellReadsEachWordBackAsItsText)
{
    for (const std::string text : {"plain/path.bin", "", " ", "a  b", "it's", "'", "\\'", "$HOME `id` $(id)", "*",
                                   "~", "a;b|c&d", "tab\there", "new\nline", "-n", "%s%%", "\\"}) {
        std::string output;
        EXPECT_EQ(captureCommand("printf '%s' " + shellWord(text), 4096, output), 0) << text;
        EXPECT_EQ(output, text);
    }
}

// The client's commands reach the shell through the platform layer alone,
// where tests script them.
TEST(ShellCommands, RunAndCaptureGoThroughThePlatformLayer)
{
    SimPlatform platform;
    ScopedSeam<CPlatformLayer> installed(&platform);
    platform.answer("sync", 0);
    platform.answer("probe", 256, "0123456789");
    EXPECT_EQ(runCommand("sync"), 0);
    std::string output = "stale";
    EXPECT_EQ(captureCommand("probe", 4, output), 256);
    EXPECT_EQ(output, "0123");
    EXPECT_EQ(platform.commands, (std::vector<std::string>{"sync", "probe"}));
}

} // namespace
