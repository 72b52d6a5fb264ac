#include "SecureTessa.h"

#include <cstring>

#include "PlatformLayer.h"

namespace {

const unsigned char kAttachPartitions = 5;
const unsigned short kAttachRequestLength = 13;
const unsigned short kAttachResponseLength = 7;
const int kAttachAttempts = 5;
// The controller's USB disk needs time to settle after it was mounted.
const int kSettleSeconds = 10;

} // namespace

void putPartitionWords(_QRMIPMICommandData* record, unsigned short handle, unsigned short staticWord,
                       unsigned short dynamicWord)
{
    record->request[3] = static_cast<unsigned char>(handle & 0xFF);
    record->request[4] = static_cast<unsigned char>(handle >> 8);
    record->request[5] = static_cast<unsigned char>(staticWord & 0xFF);
    record->request[6] = static_cast<unsigned char>(staticWord >> 8);
    record->request[7] = 0;
    record->request[8] = 0;
    record->request[9] = static_cast<unsigned char>(dynamicWord & 0xFF);
    record->request[10] = static_cast<unsigned char>(dynamicWord >> 8);
    record->request[11] = 0;
    record->request[12] = 0;
}

bool secureTessa::AttachPartition(unsigned short staticWord, unsigned short dynamicWord, unsigned short row)
{
    try {
        if (CPlatformLayer::isUSBblocklisted()) {
            TESSA_LOG("USB is blocklisted so stop the ZOR update");
            throw static_cast<unsigned char>(KOLT_USBBLOCKLISTED);
        }
        TESSA_LOG("USB not blocklisted so continue ZOR update");
        if (row >= TESSA_PARTITION_ROWS) {
            TESSA_LOG("Invalid Partition Id specfied");
            throw static_cast<unsigned char>(KOLT_INVALIDPARTITION);
        }
        if (!IsSessionActive()) {
            TESSA_LOG("AttachPartition called with NO active session");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }

        // Every attempt attaches again; a failed mount is detached first.
        for (int attempt = 1;; ++attempt) {
            std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
            putPartitionWords(&IPMIReqBuf, session.handle, staticWord, dynamicWord);
            if (IPMIRequest(kAttachPartitions, &IPMIReqBuf, kAttachRequestLength, kAttachResponseLength) != 0) {
                TESSA_LOG("AttachPartitions IPMI Request failed");
                throw static_cast<unsigned char>(KOLT_ATTACHFAILED);
            }
            TESSA_LOG("AttachPartitions IPMI Request succeeded");

            if (staticWord != 0) {
                session.staticBits = static_cast<uint16_t>(session.staticBits | staticWord);
                TessaPartitionEntry& entry = tessaPartInfo[row];
                std::string mountPoint;
                getPartDrive(entry.volumeLabel, &mountPoint);
                entry.mountPath = mountPoint;
                TESSA_LOG("Mount Point: ");
                TESSA_LOG(mountPoint);
                if (!mountStatPartition(entry.volumeLabel)) {
                    TESSA_LOG("mountStatPartition did not succeed. Detaching partition and Retrying");
                    TESSA_LOG(DetachPartition(staticWord, 0, row, false) ? "DetachPartition succeeded"
                                                                         : "DetachPartition failed");
                    if (attempt == kAttachAttempts)
                        throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
                    continue;
                }
                TESSA_LOG("AttachPartition succeeded");
            }

            if (dynamicWord != 0 && !mountDynPartition()) {
                TESSA_LOG("mountDynPartition did not succeed. Detaching partition and Retrying");
                TESSA_LOG(DetachPartition(0, dynamicWord, 0, false) ? "DetachPartition succeeded"
                                                                    : "DetachPartition failed");
                if (attempt == kAttachAttempts)
                    throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
                continue;
            }

            TESSA_LOG("AttachPartition succeeded");
            CPlatformLayer::Sleep(kSettleSeconds);
            return true;
        }
    } catch (unsigned char error) {
        storeErrorInfo(error);
        TESSA_LOG("AttachPartition failed");
        if (error == KOLT_USBBLOCKLISTED) {
            TESSA_LOG("USB Blocklisted. Update failure");
            throw;
        }
        if (error == KOLT_PARTITIONUNREACHABLE) {
            const bool detached = staticWord != 0 ? DetachPartition(staticWord, 0, row, false)
                                                  : DetachPartition(0, dynamicWord, 0, false);
            if (!detached)
                TESSA_LOG("DetachPartition failed");
            // The mount failure is what went wrong, whatever the detach said.
            storeErrorInfo(error);
        }
        return false;
    } catch (...) {
        TESSA_LOG("AttachPartition failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}
