#include "SecureTessa.h"

bool secureTessa::StartCopyFile()
{
    try {
        if (l_state != 0) {
            storeErrorInfo(KOLT_TRANSACTIONOPEN);
            TESSA_LOG("l_state != 0");
            return false;
        }
        cfgEntries.clear();
        l_state = 1;
        entryCounter = 1;
        nFileSetupDone = 0;
        return true;
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}
