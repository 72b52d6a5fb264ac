#include "SecureTessa.h"

#include "TessaRequestBytes.h"

namespace {

const unsigned char kDeleteDynamicPartition = 8;

} // namespace

bool secureTessa::DeleteDropBox(unsigned short plainWord)
{
    try {
        tessaClearRecord(IPMIReqBuf);
        if (!IsSessionActive()) {
            TESSA_LOG("DeleteDropBox called with NO active session");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        tessaPutHandle(IPMIReqBuf, session.handle);
        if (plainWord != 0) {
            TESSA_LOG("DeleteDropBox 0 != iBitMap ");
            tessaPutBigEndian(IPMIReqBuf, 5, plainWord);
        } else {
            // Row 0 keeps the drop box's word wire-ordered.
            TESSA_LOG("DeleteDropBox 0 == iBitMap ");
            tessaPutLittleEndian(IPMIReqBuf, 5, tessaPartInfo[0].partIdWord);
        }
        if (IPMIRequest(kDeleteDynamicPartition, &IPMIReqBuf, 11, 11) != 0) {
            TESSA_LOG("DeleteDynamicPartition failed");
            throw static_cast<unsigned char>(KOLT_DELETEPARTITIONFAILED);
        }
        TESSA_LOG("DeleteDynamicPartition succeeded");
        TESSA_LOG("DeleteDropBox succeeded");
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
        TESSA_LOG("DeleteDropBox failed");
    } catch (...) {
        TESSA_LOG("DeleteDropBox failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}
