#include "SecureTessa.h"

bool secureTessa::DeleteTessaFile(std::string path)
{
    try {
        cfgEntry entry;
        entry.order = static_cast<int32_t>(entryCounter + 1);
        entry.mode = filedelete;
        entry.algorithmLabel = 1;
        entry.destination = path;
        entry.partIndex = getPartIndex(path.substr(0, path.find('/')));
        cfgEntries.push_back(entry);
        ++entryCounter;
        return true;
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}
