#include "SecureTessa.h"

#include <cstring>

#include "LinuxUtils.h"

namespace {

const unsigned char kSetStateFlag = 0x11;

} // namespace

int secureTessa::setStateFlag(unsigned char flag)
{
    try {
        // Sent with whatever handle the record holds: the controller judges it.
        std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
        IPMIReqBuf.request[3] = static_cast<unsigned char>(session.handle & 0xFF);
        IPMIReqBuf.request[4] = static_cast<unsigned char>(session.handle >> 8);
        IPMIReqBuf.request[6] = flag;
        if (IPMIRequest(kSetStateFlag, &IPMIReqBuf, 7, 7) != 0) {
            TESSA_LOG("IPMI call for setStateFlag failed.");
            storeErrorInfo(KOLT_SETSTATEFLAGFAILED);
            return 1;
        }
        storeErrorInfo(KOLT_SUCCESS);
        return 0;
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return 1;
}

int syncAll(std::string mountPoint)
{
    TESSA_LOG("Entering syncAll and the mount point is " + mountPoint);
    // Flushes every file system; the result tells nothing about the one
    // partition of interest.
    runCommand("sync");
    TESSA_LOG("Leaving syncAll");
    return 0;
}
