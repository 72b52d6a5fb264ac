#include "SecureTessa.h"

#include <cctype>
#include <cstdio>

TessaPartitionEntry::TessaPartitionEntry()
    : index(0), attrWord(0), sizeMiB(0), kind(0), attrFlag(0), partIdWord(0), present(false),
      sizeBytes(0), extraA(0), extraB(0), extraC(0)
{
}

TessaPartitionEntry::TessaPartitionEntry(uint16_t rowIndex, const std::string& rowName, uint16_t rowSizeMiB,
                                         const std::string& label, uint32_t rowKind, uint8_t rowAttrFlag,
                                         const std::string& rowGeneration)
    : index(rowIndex), name(rowName), attrWord(1), sizeMiB(rowSizeMiB), volumeLabel(label), kind(rowKind),
      attrFlag(rowAttrFlag), generation(rowGeneration), partIdWord(0), present(false),
      sizeBytes(static_cast<uint64_t>(rowSizeMiB) * 1048576u), extraA(0), extraB(0), extraC(0)
{
}

const char* dynDriveName = "SECUPD";

// Built first so that it is destroyed last.
TessaPartitionEntry tessaDynPartInfo[TESSA_PARTITION_ROWS];
TessaPartitionEntry tessaPartInfo[TESSA_PARTITION_ROWS];

namespace {

struct DefinedPartition {
    uint16_t row;
    const char* name;
    uint16_t sizeMiB;
    uint32_t kind;
};

const DefinedPartition kDefinedPartitions[] = {
    {1, "UEFI", 25, 1},         {2, "Service_Diags", 15, 2}, {3, "UVO", 100, 3},
    {4, "Online_Diags", 35, 1}, {5, "WinPE", 200, 1},        {21, "DriverStore", 150, 1},
    {22, "FirmwareImages", 160, 1}, {23, "VantorialLog", 2, 1},
};

std::string rowLabel(unsigned int row)
{
    if (row == 0)
        return dynDriveName;
    char label[16];
    std::snprintf(label, sizeof(label), "TES%03u", row);
    return label;
}

bool buildPartitionTable()
{
    for (unsigned int row = 0; row < TESSA_PARTITION_ROWS; ++row) {
        const uint8_t attrFlag = row <= 20 ? 1 : 0;
        tessaPartInfo[row] = TessaPartitionEntry(static_cast<uint16_t>(row), "Reserved", 0, rowLabel(row), 0,
                                                 attrFlag, "N/A");
    }
    for (const DefinedPartition& p : kDefinedPartitions) {
        TessaPartitionEntry& entry = tessaPartInfo[p.row];
        entry = TessaPartitionEntry(p.row, p.name, p.sizeMiB, rowLabel(p.row), p.kind, entry.attrFlag, "WaveA");
    }
    return true;
}

// Runs during start-up, right after the tables above are constructed.
const bool partitionTableBuilt = buildPartitionTable();

bool isDecimalDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

} // namespace

unsigned short secureTessa::getPartIndex(std::string name)
{
    TESSA_LOG("KOLT info : PartName = [" + name + "]");
    if (name.size() < 6) {
        TESSA_LOG("KOLT error : PartName length is lesser than expected!!!");
        return 0;
    }
    // Only the three digits after the prefix count; the result may name no
    // row at all ("TES300"), so callers range-check it before indexing.
    if (isDecimalDigit(name[3]) && isDecimalDigit(name[4]) && isDecimalDigit(name[5]))
        return static_cast<unsigned short>((name[3] - '0') * 100 + (name[4] - '0') * 10 + (name[5] - '0'));
    return 0;
}
