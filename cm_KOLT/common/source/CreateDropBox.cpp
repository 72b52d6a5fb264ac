#include "SecureTessa.h"

#include <cstring>

#include "TessaRequestBytes.h"

namespace {

const unsigned char kCreateDynamicPartition = 7;
const unsigned char kDeleteDynamicPartition = 8;

const unsigned int kUnitBytes = 32768;
const unsigned int kMaxDropBoxRequestBytes = 2147483648u;   // 2 GiB
// The size travels as a 16-bit count of units.
const unsigned int kMaxUnits = 0xFFFF;
const unsigned char kDropBoxAttribute = 0x40;

// The plain word of the partition that appeared between the two bitmaps:
// the lowest changed bit among 0 to 7, when it is set afterwards. 0 when no
// new partition can be named.
unsigned short newPartitionWord(unsigned short before, unsigned short after)
{
    const unsigned short changed = static_cast<unsigned short>(before ^ after);
    for (unsigned int bit = 0; bit < 8; ++bit) {
        const unsigned short word = tessaBitWord(bit);
        if (changed & word)
            return (after & word) ? word : 0;
    }
    return 0;
}

} // namespace

bool secureTessa::CreateDropBox(const char* /*name*/, unsigned int sizeBytes, unsigned int* grantedBytes)
{
    // Named only once a partition appeared; the clean-up deletes nothing else.
    unsigned short createdWord = 0;
    try {
        tessaClearRecord(IPMIReqBuf);
        if (!IsSessionActive()) {
            TESSA_LOG("CreateDropBox called with NO active session");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        const unsigned short before = getDynPartIndexInfo();

        if (sizeBytes > kMaxDropBoxRequestBytes) {
            TESSA_LOG("KOLT size greater than 2GB");
            throw static_cast<unsigned char>(KOLT_SIZETOOLARGE);
        }
        const unsigned int units = sizeBytes / kUnitBytes + (sizeBytes % kUnitBytes != 0 ? 1 : 0);
        // 2 GiB itself needs 65536 units, which the 16-bit field would carry
        // as 0.
        if (units > kMaxUnits) {
            TESSA_LOG("KOLT size needs more units than the create request can carry");
            throw static_cast<unsigned char>(KOLT_SIZETOOLARGE);
        }

        tessaClearRecord(IPMIReqBuf);
        tessaPutHandle(IPMIReqBuf, session.handle);
        tessaPutLittleEndian(IPMIReqBuf, 5, static_cast<uint16_t>(units));
        std::memcpy(&IPMIReqBuf.request[7], dynDriveName, 6);
        IPMIReqBuf.request[13] = kDropBoxAttribute;
        if (IPMIRequest(kCreateDynamicPartition, &IPMIReqBuf, 14, 9) != 0) {
            TESSA_LOG("CreateDropBox failed");
            throw static_cast<unsigned char>(KOLT_CREATEFAILED);
        }
        TESSA_LOG("CreateDynamicPartition succeeded");

        const unsigned short after = getDynPartIndexInfo();
        if (after == before) {
            TESSA_LOG("getDynPartIndexInfo BitMap = 0. Partition Invalid");
            tessaPartInfo[0].partIdWord = 0;
            throw static_cast<unsigned char>(KOLT_DROPBOXNOTIDENTIFIED);
        }
        TESSA_LOG("getDynPartIndexInfo BitMap != 0. Partition is Valid");
        createdWord = newPartitionWord(before, after);
        // A failed identification must not leave an earlier drop box's word
        // in row 0 for the copy code to act on.
        tessaPartInfo[0].partIdWord = 0;
        getDynPartInfo(static_cast<unsigned short>(after ^ before));
        currentDropBox = tessaPartInfo[0].volumeLabel;
        if (tessaPartInfo[0].partIdWord == 0) {
            TESSA_LOG("DynPartInfo bitmap = 0");
            throw static_cast<unsigned char>(KOLT_DROPBOXNOTIDENTIFIED);
        }

        if (grantedBytes != nullptr)
            *grantedBytes = units * kUnitBytes;
        TESSA_LOG("CreateDropBox succeeded");
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
        if (grantedBytes != nullptr)
            *grantedBytes = 0;
        TESSA_LOG("CreateDropBox failed");
        if (error == KOLT_DROPBOXNOTIDENTIFIED) {
            TESSA_LOG("Deleting created partition");
            // Only the partition that appeared, or a zero word: never bytes
            // an earlier query left behind.
            tessaClearRecord(IPMIReqBuf);
            tessaPutHandle(IPMIReqBuf, session.handle);
            tessaPutBigEndian(IPMIReqBuf, 5, createdWord);
            if (IPMIRequest(kDeleteDynamicPartition, &IPMIReqBuf, 14, 9) != 0)
                TESSA_LOG("DeleteDynamicPartition failed");
        }
    } catch (...) {
        TESSA_LOG("CreateDropBox failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        if (grantedBytes != nullptr)
            *grantedBytes = 0;
    }
    return false;
}
