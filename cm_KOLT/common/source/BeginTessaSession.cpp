#include "SecureTessa.h"

#include <cstring>

namespace {

const unsigned char kBeginSession = 0x00;
const unsigned char kBeginSessionExtended = 0x12;
// Request byte 3 of the extended begin: the session kind it asks for.
const unsigned char kExtendedSessionKind = 2;

void prepareBegin(unsigned short timeout)
{
    std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
    IPMIReqBuf.request[4] = static_cast<unsigned char>(timeout & 0xFF);
    IPMIReqBuf.request[5] = static_cast<unsigned char>(timeout >> 8);
}

// A refused session on a controller before WaveB has its own number.
unsigned char sessionFailure(secureTessa& client)
{
    return client.GetSystemGeneration() <= 0 ? KOLT_SESSIONFAILED_PREWAVEB : KOLT_SESSIONFAILED;
}

} // namespace

bool secureTessa::BeginTessaSession(unsigned short timeout)
{
    try {
        if (IsSessionActive()) {
            TESSA_LOG("Session is already active");
            throw static_cast<unsigned char>(KOLT_SESSIONACTIVE);
        }
        storeErrorInfo(KOLT_SUCCESS);
        prepareBegin(timeout);
        // The new session's handle is picked up from the answer by the
        // request layer.
        if (IPMIRequest(kBeginSession, &IPMIReqBuf, 8, 9) != 0) {
            TESSA_LOG("Error starting session");
            throw sessionFailure(*this);
        }
        TESSA_LOG("Session started successfully");
        session.active = 1;
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
        TESSA_LOG("BeginTessaSession failed");
    } catch (...) {
        TESSA_LOG("BeginTessaSession failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}

bool secureTessa::BeginTessaSessionExtended(unsigned short timeout)
{
    try {
        if (IsSessionActive()) {
            // An open session is what the caller asked for: not a failure.
            TESSA_LOG("BeginTESSASessionExtended Session is already active");
            return true;
        }
        storeErrorInfo(KOLT_SUCCESS);
        prepareBegin(timeout);
        IPMIReqBuf.request[3] = kExtendedSessionKind;
        if (IPMIRequest(kBeginSessionExtended, &IPMIReqBuf, 8, 9) != 0) {
            TESSA_LOG("BeginTESSASessionExtended Error starting session");
            throw sessionFailure(*this);
        }
        TESSA_LOG("Session started successfully using BeginTESSASessionExtended command");
        session.active = 1;
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
        TESSA_LOG("BeginTESSASessionExtended failed");
    } catch (...) {
        TESSA_LOG("BeginTESSASessionExtended failed");
        TESSA_LOG("BeginTESSASessionExtended KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}
