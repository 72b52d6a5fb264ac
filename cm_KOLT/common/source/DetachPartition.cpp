#include "SecureTessa.h"

#include "TessaRequestBytes.h"

namespace {

const unsigned char kDetachPartitions = 6;
// Bits 0 to 7 of both classes, wire-ordered.
const unsigned short kAllPartitionsWire = 0xFF00;

} // namespace

// Withdraws every partition an earlier run may have left exposed: the
// detach request naming bits 0 to 7 of both classes.
bool secureTessa::DetachAll()
{
    try {
        tessaClearRecord(IPMIReqBuf);
        if (!IsSessionActive()) {
            TESSA_LOG("DetachPartition called with NO active session");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        tessaPutHandle(IPMIReqBuf, session.handle);
        tessaPutLittleEndian(IPMIReqBuf, 5, kAllPartitionsWire);
        tessaPutLittleEndian(IPMIReqBuf, 9, kAllPartitionsWire);
        if (IPMIRequest(kDetachPartitions, &IPMIReqBuf, 13, 7) != 0)
            throw static_cast<unsigned char>(KOLT_DETACHFAILED);
        TESSA_LOG("DetachPartitions IPMI Request succeeded");
        session.staticBits = static_cast<uint16_t>(session.staticBits & ~swapBytes(kAllPartitionsWire));
        tessaPartInfo[1].mountPath.clear();
        TESSA_LOG("DetachPartition succeeded");
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
    } catch (...) {
        TESSA_LOG("DetachPartition failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}
