#include "SecureTessa.h"

bool secureTessa::DetachTessaPartition(unsigned short row)
{
    try {
        if (const char* fault = numberedPartitionRowFault(row)) {
            TESSA_LOG(fault);
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
