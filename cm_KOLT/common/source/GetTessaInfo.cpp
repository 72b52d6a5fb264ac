#include "SecureTessa.h"

#include <cstring>
#include <sstream>

#include "TessaRequestBytes.h"

namespace {

const unsigned char kOEMNetFn = 0x30;
const unsigned char kGetSystemGeneration = 0xBD;
// Response byte of the generation answer's data byte 5.
const unsigned int kGenerationByte = 3 + 5;
// Response byte of the type and access-state answers' data byte 0.
const unsigned int kAnswerDataByte0 = 3;
const unsigned char kCapabilityQuery = 4;
const unsigned char kAccessStateRecovery = 2;
// The only package allowed to use managed storage in recovery state.
const char* const kRecoveryBypassComponentId = "28897";

struct GenerationRange {
    unsigned char low;
    unsigned char high;
    int type;
    const char* logLine;   // null: nothing is logged
};

// Everything above 21 that no row names is a WaveC (or WaveC Plus).
const GenerationRange kGenerations[] = {
    {0x00, 14, 0, "It is a pre WaveB system"},
    {15, 21, 1, nullptr},
    {0x30, 0x32, 3, "It is a WaveD system"},
    {0x40, 0x42, 4, "It is a WaveE system"},
    {0x50, 0x52, 5, "It is a WaveF system"},
    {0x60, 0x62, 6, "It is a WaveG system"},
    {0x70, 0x72, 7, "It is a WaveH system"},
};

int generationTypeOf(unsigned char value)
{
    for (const GenerationRange& range : kGenerations) {
        if (value >= range.low && value <= range.high) {
            if (range.logLine)
                TESSA_LOG(range.logLine);
            return range.type;
        }
    }
    TESSA_LOG("WaveC or WaveC Plus System");
    return 2;
}

} // namespace

int QuerySystemGeneration()
{
    IPMIReqBuf.request[0] = kOEMNetFn;
    IPMIReqBuf.request[1] = kGetSystemGeneration;
    IPMIReqBuf.requestLength = 2;
    IPMIReqBuf.responseLength = 9;
    // Without a reply the library leaves the response cleared, which would
    // read as completion code 0 and a pre-WaveB answer: only a delivered
    // reply that reaches the generation byte is judged.
    const bool delivered = ProcessIPMIReuestResponseUsingQRMIPMI(&IPMIReqBuf);
    if (!delivered || !tessaAnswerHolds(IPMIReqBuf, kGenerationByte) || IPMIReqBuf.response[2] != 0) {
        TESSA_LOG("Get System Generation Failed");
        return 0;
    }
    TESSA_LOG("Get System Generation Succesfull");
    return generationTypeOf(IPMIReqBuf.response[kGenerationByte]);
}

int secureTessa::GetSystemGeneration()
{
    TESSA_LOG("Entering GetSystemGeneration");
    if (GenerationType != -1) {
        TESSA_LOG("GetSystemGeneration : Returning Cached Value:" + std::to_string(GenerationType));
        return GenerationType;
    }
    return QuerySystemGeneration();
}

int secureTessa::GetTessaType()
{
    try {
        std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
        if (OEMIPMIRequest(eGetTessaType, 0, &IPMIReqBuf, 4, 6) != 0 ||
            !tessaAnswerHolds(IPMIReqBuf, kAnswerDataByte0)) {
            TESSA_LOG("There is no tessa present on this system.");
            storeErrorInfo(KOLT_NOTESSAPRESENT);
            return 0;
        }
        storeErrorInfo(KOLT_SUCCESS);
        switch (IPMIReqBuf.response[kAnswerDataByte0]) {
        case 0: return 1;   // standard
        case 1: return 2;   // Lite
        case 2: return 3;   // Liter
        default: return 0;  // none
        }
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return 0;
}

bool secureTessa::IsTessaEnabled()
{
    try {
        std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
        if (OEMIPMIRequest(eGetTessaAccessState, 0, &IPMIReqBuf, 4, 6) != 0 ||
            !tessaAnswerHolds(IPMIReqBuf, kAnswerDataByte0)) {
            TESSA_LOG("The getTessaAccessState IPMI command failed.");
            storeErrorInfo(KOLT_ACCESSSTATEFAILED);
            return false;
        }
        const unsigned char state = IPMIReqBuf.response[kAnswerDataByte0];
        if (state == 0) {
            accessState = 0;
            storeErrorInfo(KOLT_SUCCESS);
            return true;
        }
        if (byPassRecoveryState()) {
            TESSA_LOG("VC recovery state by pass is true.");
            if (state == kAccessStateRecovery) {
                TESSA_LOG("VC is in recovery state.");
                // Later readers of the answer see an enabled controller.
                IPMIReqBuf.response[kAnswerDataByte0] = 0;
                accessState = 0;
                storeErrorInfo(KOLT_SUCCESS);
                return true;
            }
        }
        accessState = state;
        storeErrorInfo(KOLT_SUCCESS);
        return false;
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}

bool secureTessa::byPassRecoveryState()
{
    std::string id;
    if (!get_comp_id(id)) {
        TESSA_LOG("byPassRecoveryState: Could not get Component ID");
        return false;
    }
    TESSA_LOG("byPassRecoveryState: Component ID is " + id);
    if (id == kRecoveryBypassComponentId) {
        TESSA_LOG("byPassRecoveryState: Component ID Matched for recovery state bypass.");
        return true;
    }
    TESSA_LOG("byPassRecoveryState: Component ID Didn't match for recovery state bypass.");
    return false;
}

int secureTessa::iSWaveCTomel()
{
    try {
        TESSA_LOG("Function secureTessa::iSWaveCTomel started");
        std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
        const int result = OEMIPMIRequest(eGetCapability, kCapabilityQuery, &IPMIReqBuf, 3, 23);
        if (result != 0)
            TESSA_LOG("Function secureTessa::iSWaveCTomel failed closed");
        else
            TESSA_LOG("Function secureTessa::iSWaveCTomel closed");
        return result;
    } catch (unsigned char error) {
        storeErrorInfo(error);
    } catch (...) {
        TESSA_LOG("iSWaveCTomel func - KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return -1;
}

int Ascii2Hex(std::string text)
{
    int value = 0;
    std::istringstream in(text);
    // A text without a leading hexadecimal digit leaves 0.
    in >> std::hex >> value;
    return value;
}
