#include "SecureTessa.h"

#include <strings.h>

#include <cctype>
#include <cstdio>

#include "TessaRequestBytes.h"

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

namespace {

const unsigned char kGetPartitionIndexInfo = 3;
const unsigned char kGetPartitionInfo = 4;

const unsigned char kStaticClass = 0x00;
const unsigned char kDynamicClass = 0x80;

// Only bits 0 to 7 of a bit word name partitions this client works with.
const unsigned int kPartitionBits = 8;

// Response bytes of the two bit words of a GetPartitionIndexInfo answer.
const unsigned int kStaticWordByte = 5;
const unsigned int kDynamicWordByte = 9;

// Sends GetPartitionIndexInfo and keeps both words in the session record;
// false when the controller did not answer it, or not with both words.
bool queryPartitionWords(secureTessa& client)
{
    tessaClearRecord(IPMIReqBuf);
    tessaPutHandle(IPMIReqBuf, client.session.handle);
    if (client.IPMIRequest(kGetPartitionIndexInfo, &IPMIReqBuf, 7, 13) != 0)
        return false;
    if (!tessaAnswerHolds(IPMIReqBuf, kDynamicWordByte + 1))
        return false;
    client.session.staticBits = tessaBigEndianAnswerWord(IPMIReqBuf, kStaticWordByte);
    client.session.dynamicBits = tessaBigEndianAnswerWord(IPMIReqBuf, kDynamicWordByte);
    return true;
}

// Sends GetPartitionInfo for one bit of a class; the answer stays in
// IPMIReqBuf. True when the controller answered.
bool queryPartitionInfo(secureTessa& client, unsigned char partitionClass, unsigned int bit)
{
    tessaClearRecord(IPMIReqBuf);
    tessaPutHandle(IPMIReqBuf, client.session.handle);
    IPMIReqBuf.request[5] = partitionClass;
    IPMIReqBuf.request[6] = static_cast<unsigned char>(bit);
    return client.IPMIRequest(kGetPartitionInfo, &IPMIReqBuf, 9, 14) == 0;
}

} // namespace

unsigned short secureTessa::getPartIndexInfo()
{
    try {
        if (!IsSessionActive()) {
            TESSA_LOG("TESSA session not started");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        // A failed query leaves the words last known.
        queryPartitionWords(*this);
        return session.staticBits;
    } catch (unsigned char error) {
        storeErrorInfo(error);
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return 0;
}

unsigned short secureTessa::getDynPartIndexInfo()
{
    try {
        if (!IsSessionActive()) {
            TESSA_LOG("TESSA session not started");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        queryPartitionWords(*this);
        return session.dynamicBits;
    } catch (unsigned char error) {
        storeErrorInfo(error);
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return 0;
}

bool secureTessa::getPartInfo(unsigned short staticWord)
{
    try {
        if (!IsSessionActive()) {
            TESSA_LOG("TESSA session not started");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        for (unsigned int bit = 0; bit < kPartitionBits; ++bit) {
            if ((staticWord & tessaBitWord(bit)) == 0)
                continue;
            // An unanswered bit, or one answered without its name, simply
            // stays unmarked.
            std::string name;
            if (!queryPartitionInfo(*this, kStaticClass, bit) || !tessaAnswerPartitionName(IPMIReqBuf, name))
                continue;
            const unsigned short row = getPartIndex(name);
            // The name's digits may give up to 999: only rows of the table
            // are marked.
            if (row == 0 || row >= TESSA_PARTITION_ROWS) {
                TESSA_LOG("The partition name [" + name + "]is inconsistent with the standard.");
                continue;
            }
            tessaPartInfo[row].partIdWord = swapBytes(tessaBitWord(bit));
            tessaPartInfo[row].present = true;
        }
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}

bool secureTessa::getDynPartInfo(unsigned short dynamicWord)
{
    try {
        if (!IsSessionActive()) {
            TESSA_LOG("TESSA session not started");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        for (unsigned int bit = 0; bit < kPartitionBits; ++bit) {
            if ((dynamicWord & tessaBitWord(bit)) == 0)
                continue;
            // Only the lowest bit is asked about; its name is not examined.
            if (queryPartitionInfo(*this, kDynamicClass, bit)) {
                tessaPartInfo[0].partIdWord = swapBytes(tessaBitWord(bit));
                tessaPartInfo[0].present = true;
            }
            break;
        }
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}

bool secureTessa::deleteDynPartWithName(const unsigned short& dynamicWord, const std::string& name)
{
    try {
        if (!IsSessionActive()) {
            TESSA_LOG("TESSA session not started");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        const unsigned short word = dynamicWord;
        for (unsigned int bit = 0; bit < kPartitionBits; ++bit) {
            if ((word & tessaBitWord(bit)) == 0)
                continue;
            std::string partitionName;
            if (!queryPartitionInfo(*this, kDynamicClass, bit) ||
                !tessaAnswerPartitionName(IPMIReqBuf, partitionName)) {
                TESSA_LOG("secureTessa::deleteDynPartWithName GetPartitionInfo failed");
                continue;
            }
            TESSA_LOG("deleteDynPartWithName partition name = " + partitionName);
            if (strcasecmp(partitionName.c_str(), name.c_str()) != 0)
                continue;
            if (DeleteDropBox(tessaBitWord(bit)))
                TESSA_LOG("deleteDynPartWithName DeleteDropBox successful");
            else
                TESSA_LOG("deleteDynPartWithName DeleteDropBox failed");
            break;
        }
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}
