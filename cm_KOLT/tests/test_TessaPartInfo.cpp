// The 257-row partition table and the name-to-row rule.

#include <gtest/gtest.h>

#include "KoltTestSupport.h"

namespace {

struct RowCase {
    unsigned row;
    const char* name;
    uint16_t sizeMiB;
    uint32_t kind;
    uint8_t attrFlag;
    const char* generation;
    const char* label;
};

const RowCase kRows[] = {
    {0, "Reserved", 0, 0, 1, "N/A", "SECUPD"},
    {1, "UEFI", 25, 1, 1, "WaveA", "TES001"},
    {2, "Service_Diags", 15, 2, 1, "WaveA", "TES002"},
    {3, "UVO", 100, 3, 1, "WaveA", "TES003"},
    {4, "Online_Diags", 35, 1, 1, "WaveA", "TES004"},
    {5, "WinPE", 200, 1, 1, "WaveA", "TES005"},
    {6, "Reserved", 0, 0, 1, "N/A", "TES006"},
    {20, "Reserved", 0, 0, 1, "N/A", "TES020"},
    {21, "DriverStore", 150, 1, 0, "WaveA", "TES021"},
    {22, "FirmwareImages", 160, 1, 0, "WaveA", "TES022"},
    {23, "VantorialLog", 2, 1, 0, "WaveA", "TES023"},
    {24, "Reserved", 0, 0, 0, "N/A", "TES024"},
    {99, "Reserved", 0, 0, 0, "N/A", "TES099"},
    {100, "Reserved", 0, 0, 0, "N/A", "TES100"},
    {256, "Reserved", 0, 0, 0, "N/A", "TES256"},
};

} // namespace

TEST(TessaPartInfo, RowsAtStartUp)
{
    for (const RowCase& c : kRows) {
        const TessaPartitionEntry& e = tessaPartInfo[c.row];
        SCOPED_TRACE(c.row);
        EXPECT_EQ(e.index, c.row);
        EXPECT_EQ(e.name, c.name);
        EXPECT_EQ(e.attrWord, 1u);
        EXPECT_EQ(e.sizeMiB, c.sizeMiB);
        EXPECT_EQ(e.volumeLabel, c.label);
        EXPECT_EQ(e.kind, c.kind);
        EXPECT_EQ(e.attrFlag, c.attrFlag);
        EXPECT_EQ(e.generation, c.generation);
        EXPECT_EQ(e.sizeBytes, uint64_t(c.sizeMiB) * 1048576u);
    }
    unsigned sixCharacterLabels = 0;
    for (unsigned row = 0; row < TESSA_PARTITION_ROWS; ++row) {
        const TessaPartitionEntry& e = tessaPartInfo[row];
        EXPECT_EQ(e.index, row);
        EXPECT_TRUE(e.mountPath.empty());
        EXPECT_EQ(e.partIdWord, 0);
        EXPECT_FALSE(e.present);
        EXPECT_EQ(e.extraA, 0u);
        EXPECT_EQ(e.extraB, 0u);
        EXPECT_EQ(e.extraC, 0);
        sixCharacterLabels += e.volumeLabel.size() == 6;

        const TessaPartitionEntry& d = tessaDynPartInfo[row];
        EXPECT_TRUE(d.name.empty() && d.volumeLabel.empty() && d.generation.empty());
        EXPECT_EQ(d.index + d.attrWord + d.sizeMiB + d.kind + d.attrFlag + d.partIdWord + d.sizeBytes, 0u);
        EXPECT_FALSE(d.present);
    }
    EXPECT_EQ(sixCharacterLabels, TESSA_PARTITION_ROWS);
    EXPECT_STREQ(dynDriveName, "SECUPD");
}

namespace {

struct NameCase {
    std::string name;
    unsigned short row;
    bool lengthError;
};

const NameCase kNames[] = {
    {"TES022", 22, false},
    {"tes022", 22, false},      // the prefix is not compared
    {"XYZ001", 1, false},
    {"TES256", 256, false},
    {"TES0220x", 22, false},    // what follows the three digits is ignored
    {"TES300", 300, false},     // no such row: callers range-check
    {"ABC999", 999, false},
    {"SECUPD", 0, false},
    {"TESA22", 0, false},
    {"TES02X", 0, false},
    {"TES 22", 0, false},
    {"TES\xB2\xB3\xB9", 0, false},   // bytes above 0x7F are not digits
    {"TES01", 0, true},
    {"", 0, true},
};

} // namespace

TEST(TessaPartInfo, NameToRow)
{
    TempDir dir;
    dir.write("zordebuglog", "");
    OfflineClientHost offline;
    secureTessa client;
    for (const NameCase& c : kNames) {
        SCOPED_TRACE(c.name);
        const size_t mark = KoltLogMessages(dir.file("KOLT_DBG.log")).size();

        EXPECT_EQ(client.getPartIndex(c.name), c.row);

        std::vector<std::string> expected{"KOLT info : PartName = [" + c.name + "]"};
        if (c.lengthError)
            expected.push_back("KOLT error : PartName length is lesser than expected!!!");
        const std::vector<std::string> all = KoltLogMessages(dir.file("KOLT_DBG.log"));
        ASSERT_GE(all.size(), mark);
        EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(mark), all.end()), expected);
    }
}
