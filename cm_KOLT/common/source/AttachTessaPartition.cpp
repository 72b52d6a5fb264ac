#include "SecureTessa.h"

#include <sys/statfs.h>

bool secureTessa::AttachTessaPartition(unsigned short row)
{
    try {
        // Row 0 is the drop box: its word is a dynamic one and must never
        // go out as a static word.
        if (row == 0 || row >= TESSA_PARTITION_ROWS) {
            TESSA_LOG("Invalid Tessa partition specfied");
            throw static_cast<unsigned char>(KOLT_INVALIDPARTITION);
        }
        if (!tessaPartInfo[row].present) {
            TESSA_LOG("Tessa partition is not present.");
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
