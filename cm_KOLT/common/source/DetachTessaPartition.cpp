#include "SecureTessa.h"

bool secureTessa::DetachTessaPartition(unsigned short row)
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
        if (!DetachPartition(tessaPartInfo[row].partIdWord, 0, row, false)) {
            TESSA_LOG("Tessa partition did not got detached.");
            throw static_cast<unsigned char>(KOLT_DETACHFAILED);
        }
        TESSA_LOG("Tessa partition got detached.");
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
        return false;
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}

bool secureTessa::DetachTessaPartition(std::string name)
{
    try {
        return DetachTessaPartition(getPartIndex(name));
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}
