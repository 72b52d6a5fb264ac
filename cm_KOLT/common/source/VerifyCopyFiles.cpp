#include "SecureTessa.h"

#include "Md5Wrapper.h"
#include "TessaPath.h"
#include "TessaResources.h"

namespace {

bool isMd5Text(const std::string& text)
{
    if (text.size() != 32)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace

bool secureTessa::VerifyCopyFiles()
{
    static md5wrapper hasher;
    // The partition attached for the check: detached at the end of the
    // check, or on the way out when the check stops early.
    ScopedAttachment partition(*this, TESSA_SITE, {nullptr, nullptr});
    try {
        if (cfgEntries.empty()) {
            TESSA_LOG("VerifyCopyFiles: nothing was queued, nothing to verify");
            return true;
        }
        for (const cfgEntry& entry : cfgEntries)
            if (entry.partIndex >= TESSA_PARTITION_ROWS)
                throw static_cast<unsigned char>(KOLT_INVALIDPARTITION);
        const std::string label = tessaPartInfo[cfgEntries.front().partIndex].volumeLabel;
        if (!partition.attachNumbered(label)) {
            TESSA_LOG("Attach partition failed");
            throw static_cast<unsigned char>(KOLT_ATTACHFAILED);
        }
        TESSA_LOG("AttachPartition succeeded");
        std::string mountPoint;
        getPartDrive(label, &mountPoint);
        TESSA_LOG("Dynamic Partition Mount Point found");
        TESSA_LOG(mountPoint);

        for (const cfgEntry& entry : cfgEntries) {
            if (entry.mode != filecopy && entry.mode != fileappend)
                continue;
            TESSA_LOG("Constructing the target file name");
            // The mount point stands for the partition the destination names.
            const std::optional<TessaPath> place = TessaPath::parse(entry.destination);
            if (!place) {
                // Nothing was copied to a text that names no place: there is
                // no copy to vouch for.
                TESSA_LOG("No place on the partition to verify: " + entry.destination);
                throw static_cast<unsigned char>(KOLT_COPYMISMATCH);
            }
            const std::string target = place->under(mountPoint);
            const std::string digest = hasher.getHashFromFile(target);
            TESSA_LOG("Verifying: ");
            TESSA_LOG(target);
            // "-1" stands for a file that could not be read, on either side:
            // two unreadable files are no proof of a good copy.
            if (isMd5Text(digest) && digest == entry.hash) {
                TESSA_LOG("Verify Successful");
                continue;
            }
            TESSA_LOG("File: " + target + "Target File Hash: " + digest + ", Payload File Hash: " + entry.hash);
            TESSA_LOG("The file copied to the tessa did not match the original file.");
            throw static_cast<unsigned char>(KOLT_COPYMISMATCH);
        }
        if (!partition.detach()) {
            TESSA_LOG("DetachPartition failed");
            throw static_cast<unsigned char>(KOLT_DETACHFAILED);
        }
        TESSA_LOG("DetachPartition succeeded");
        TESSA_LOG("VerifyCopyFiles Succeeded");
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
        TESSA_LOG("Verification failed.");
        return false;
    } catch (...) {
        TESSA_LOG("Verification failed.");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}
