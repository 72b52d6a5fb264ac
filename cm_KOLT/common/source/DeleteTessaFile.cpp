#include "SecureTessa.h"

#include "TessaPath.h"

bool secureTessa::DeleteTessaFile(std::string path)
{
    try {
        // The controller deletes what the entry names: a path that names no
        // place on a partition (a ".." name, say) is not handed to it.
        TessaPath::Fault fault = TessaPath::Fault::none;
        const std::optional<TessaPath> place = TessaPath::parse(path, &fault);
        if (!place) {
            TESSA_LOG(std::string("DeleteTessaFile: the path names no place on a partition, it holds ") +
                      TessaPath::describe(fault) + ": " + path);
            storeErrorInfo(KOLT_EMPTYDESTINATION);
            return false;
        }
        cfgEntry entry;
        entry.order = static_cast<int32_t>(entryCounter + 1);
        entry.mode = filedelete;
        entry.algorithmLabel = 1;
        entry.destination = path;
        entry.partIndex = getPartIndex(place->partitionName());
        cfgEntries.push_back(entry);
        ++entryCounter;
        return true;
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}
