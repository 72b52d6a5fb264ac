#include "SecureTessa.h"

#include <sys/statfs.h>

const char* numberedPartitionRowFault(unsigned short row)
{
    // Row 0 is the drop box: its word is a dynamic one and must never go
    // out as a static word.
    if (row == 0 || row >= TESSA_PARTITION_ROWS)
        return "Invalid Tessa partition specfied";
    if (!tessaPartInfo[row].present)
        return "Tessa partition is not present.";
    return nullptr;
}

bool secureTessa::AttachTessaPartition(unsigned short row)
{
    try {
        if (const char* fault = numberedPartitionRowFault(row)) {
            TESSA_LOG(fault);
            throw static_cast<unsigned char>(KOLT_INVALIDPARTITION);
        }
        if (!AttachPartition(tessaPartInfo[row].partIdWord, 0, row)) {
            TESSA_LOG("AttachTessaPartition failed");
            throw static_cast<unsigned char>(KOLT_ATTACHFAILED);
        }
        TESSA_LOG("AttachTessaPartition successful");
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
        if (error == KOLT_USBBLOCKLISTED) {
            TESSA_LOG("Throwing USBBlocklisted Error from attachtessa(PartId) partition");
            throw;
        }
        return false;
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}

bool secureTessa::AttachTessaPartition(std::string name)
{
    unsigned short row = 0;
    try {
        row = getPartIndex(name);
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
    // Outside the handler: error 65 leaves as an exception.
    return AttachTessaPartition(row);
}

void secureTessa::LxGetVolNameInfo(unsigned short row, const char*)
{
    if (!AttachTessaPartition(row))
        throw static_cast<unsigned char>(KOLT_ATTACHFAILED);
    if (hostOsIndex != ESXi) {
        struct statfs info;
        (void)statfs((RHatPartDir + tessaPartInfo[row].volumeLabel).c_str(), &info);
    }
    if (!DetachTessaPartition(row))
        throw static_cast<unsigned char>(KOLT_ATTACHFAILED);
}
