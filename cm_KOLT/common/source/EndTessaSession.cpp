#include "SecureTessa.h"

#include <cstring>

namespace {

const unsigned char kEndSession = 0x01;

} // namespace

bool secureTessa::EndTessaSession()
{
    try {
        std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
        if (!IsSessionActive()) {
            TESSA_LOG("No Active Session Found");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        IPMIReqBuf.request[3] = static_cast<unsigned char>(session.handle & 0xFF);
        IPMIReqBuf.request[4] = static_cast<unsigned char>(session.handle >> 8);
        if (IPMIRequest(kEndSession, &IPMIReqBuf, 7, 5) != 0) {
            // The session stays open as far as this client knows.
            TESSA_LOG("EndTessaSession failed");
            throw static_cast<unsigned char>(KOLT_ENDSESSIONFAILED);
        }
        session = sessionHandle();
        TESSA_LOG("EndTessaSession succeeded");
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
        TESSA_LOG("EndTessaSession failed");
    } catch (...) {
        TESSA_LOG("EndTessaSession failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}
