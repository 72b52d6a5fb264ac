#include "SecureTessa.h"

#include <cstring>

#include "PlatformLayer.h"
#include "TessaRequestBytes.h"

namespace {

const unsigned char kSingleIPMICommand = 0x26;
const unsigned char kCapabilityCheck = 0x01;
const unsigned char kStage = 0x02;
const unsigned char kStageAndUpdate = 0x04;
const unsigned char kStatusPoll = 0x08;
const unsigned char kDigestSchemeQuery = 0x20;
const unsigned char kResetRequest = 0x40;

const unsigned int kOperationByte = 5;     // request bytes counted from NetFn
const unsigned int kSignedPackageByte = 7;
const unsigned int kCompletionCode = 2;    // response bytes
const unsigned int kResponseData2 = 5;
const unsigned int kResponseData3 = 6;
const unsigned int kVCStateByte = 4;       // response data byte 1

const int kStatusPollLimit = 3000;
const int kStatusPollPauseSeconds = 2;

const unsigned char kKoltStageFailed = 66;
const unsigned char kKoltStageNotSupported = 67;
const unsigned char kKoltTomelUpdateRequired = 68;

void fillSingleCommand(_QRMIPMICommandData& record, uint16_t handle, unsigned char operation)
{
    tessaPutHandle(record, handle);
    record.request[kOperationByte] = operation;
}

} // namespace

bool secureTessa::checkIfWaveCPlusIPMISupported()
{
    try {
        TESSA_LOG("Entering checkIfWaveCPlusIPMISupported");
        tessaClearRecord(IPMIReqBuf);
        if (!IsSessionActive()) {
            TESSA_LOG("No Active Session to check GUID Compatibility");
            storeErrorInfo(KOLT_NOSESSION);
            TESSA_LOG("checkIfWaveCPlusIPMISupported Command is failed");
            return false;
        }
        fillSingleCommand(IPMIReqBuf, session.handle, kCapabilityCheck);
        // An answer that ends before the byte read here tells nothing: the
        // byte left out would read as "supported".
        if (IPMIRequest(kSingleIPMICommand, &IPMIReqBuf, 8, 8) != 0 ||
            !tessaAnswerHolds(IPMIReqBuf, kResponseData2)) {
            TESSA_LOG("checkIfWaveCPlusIPMISupported Command is failed");
            return false;
        }
        TESSA_LOG("checkIfWaveCPlusIPMISupported Command is successful");
        if (IPMIReqBuf.response[kCompletionCode] == 0 && IPMIReqBuf.response[kResponseData2] == 0) {
            TESSA_LOG("checkIfWaveCPlusIPMISupported IPMI is success and also GUID check is enabled");
            return true;
        }
        TESSA_LOG("checkIfWaveCPlusIPMISupported IPMI Command is false and also GUID check is false");
        return false;
    } catch (...) {
        TESSA_LOG("checkIfWaveCPlusIPMISupported Command is failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}

int secureTessa::QuerySupportedSecurtyMethod()
{
    try {
        TESSA_LOG("Entering QuerySupportedSecurtyMethod");
        tessaClearRecord(IPMIReqBuf);
        if (!IsSessionActive()) {
            TESSA_LOG("No Active Session to check GUID Compatibility");
            storeErrorInfo(KOLT_NOSESSION);
            TESSA_LOG("QuerySupportedSecurtyMethod Command is failed");
            return DIGEST_MD5;
        }
        fillSingleCommand(IPMIReqBuf, session.handle, kDigestSchemeQuery);
        if (IPMIRequest(kSingleIPMICommand, &IPMIReqBuf, 8, 8) != 0 ||
            !tessaAnswerHolds(IPMIReqBuf, kResponseData3))
            return DIGEST_MD5;
        TESSA_LOG("QuerySupportedSecurtyMethod Command is successful");
        if (IPMIReqBuf.response[kCompletionCode] != 0)
            return DIGEST_MD5;
        const unsigned char schemes = IPMIReqBuf.response[kResponseData3];
        if (schemes & 0x02) {
            TESSA_LOG("QuerySupportedSecurtyMethod IPMI is success and also GPG is Supported");
            return DIGEST_GPG;
        }
        if (schemes & 0x01)
            TESSA_LOG("QuerySupportedSecurtyMethod IPMI is success and also SHA256 is Supported");
        else
            TESSA_LOG("QuerySupportedSecurtyMethod IPMI is success and setting default as SHA256");
        return DIGEST_SHA256;
    } catch (...) {
        TESSA_LOG("QuerySupportedSecurtyMethod Command is failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return DIGEST_MD5;
    }
}

int secureTessa::pollForVCStatus()
{
    _QRMIPMICommandData record;
    tessaClearRecord(record);
    record.request[0] = 0x30;
    record.request[1] = 0xA9;
    record.request[2] = 0x1E;
    record.requestLength = 3;
    record.responseLength = 30;
    // The completion code is not looked at: older controllers answer this
    // command with a refusal whose state byte reads as ready. An accepted
    // answer that ends before its state byte, or a reply without even a
    // completion code, answered nothing and must not read as ready.
    const bool answered = ProcessIPMICommand(&record) && tessaAnswerHolds(record, kCompletionCode) &&
                          (record.response[kCompletionCode] != 0 || tessaAnswerHolds(record, kVCStateByte));
    if (!answered) {
        TESSA_LOG("IPMI Command ERROR");
        return -1;
    }
    switch (record.response[kVCStateByte]) {
    case 0: TESSA_LOG("VC is  Ready..."); return 0;
    case 1: TESSA_LOG("VC is not Ready..."); return 1;
    case 2: TESSA_LOG("VC is Reloading..."); return 2;
    case 3: TESSA_LOG("VC is Disabled..."); return 3;
    case 4: TESSA_LOG("VC is Recovering..."); return 4;
    case 5: TESSA_LOG("VC is In use..."); return 5;
    default: return 0;
    }
}

int secureTessa::pollForStatus()
{
    try {
        TESSA_LOG("Entering pollForStatus() Function");
        // Every answer that is not final counts, with its pause, against one
        // limit: a controller that keeps refusing the poll must not hold
        // the run for ever.
        for (int polls = 0;;) {
            tessaClearRecord(IPMIReqBuf);
            if (!IsSessionActive()) {
                TESSA_LOG("No Active Session to perform Stage/Update");
                storeErrorInfo(KOLT_NOSESSION);
                TESSA_LOG("Polling Command is failed");
                return -1;
            }
            fillSingleCommand(IPMIReqBuf, session.handle, kStatusPoll);
            // A status the answer left out would read as " Polling Success".
            if (OEMIPMIRequest(eTessaCommand, kSingleIPMICommand, &IPMIReqBuf, 8, 8) != 0 ||
                !tessaAnswerHolds(IPMIReqBuf, kResponseData2))
                return -1;
            if (IPMIReqBuf.response[kCompletionCode] == 0) {
                TESSA_LOG("Stage or Update TESSA command Is successful ");
                switch (IPMIReqBuf.response[kResponseData2]) {
                case 0: TESSA_LOG(" Polling Success"); return 0;
                case 1: TESSA_LOG(" Polling Failed"); return -1;
                case 2: TESSA_LOG("Pending Staging/Update in Progress"); break;
                case 3: TESSA_LOG("Success Update Staged and Reboot Required"); return 1;
                case 4: TESSA_LOG("Success Update Applied or Update Staged: Reboot not Required"); return 0;
                case 5: TESSA_LOG("Not Supported: Device or Actaion not supported"); return -1;
                case 6: TESSA_LOG("Tomel firmware Update Required"); return -1;
                case 7: TESSA_LOG("VC is Disabled"); return -1;
                case 38: TESSA_LOG("SHA256 Checksum match Failed"); return -1;
                default: TESSA_LOG("Unknow return code and continue to poll again"); break;
                }
            }
            CPlatformLayer::Sleep(kStatusPollPauseSeconds);
            if (++polls >= kStatusPollLimit) {
                TESSA_LOG("Leaving pollForStatus() Function");
                return -1;
            }
        }
    } catch (...) {
        TESSA_LOG("Polling Command is failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return -1;
    }
}

bool secureTessa::sendIPMICommandToStageAndUpdate(bool update, digestType digest)
{
    try {
        TESSA_LOG("Entering sendIPMICommandToStageAndUpdate() Function");
        tessaClearRecord(IPMIReqBuf);
        if (!IsSessionActive()) {
            TESSA_LOG("No Active Session to perform Stage/Update");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        fillSingleCommand(IPMIReqBuf, session.handle, update ? kStageAndUpdate : kStage);
        IPMIReqBuf.request[kSignedPackageByte] = digest == DIGEST_GPG ? 1 : 0;
        _QRMIPMICommandData request;
        std::memcpy(&request, &IPMIReqBuf, sizeof(request));
        // Answers that are not final are asked again after a pause, against
        // the same limit as the status poll.
        for (int attempts = 0;;) {
            std::memcpy(&IPMIReqBuf, &request, sizeof(request));
            if (OEMIPMIRequest(eTessaCommand, kSingleIPMICommand, &IPMIReqBuf, 8, 8) != 0 ||
                !tessaAnswerHolds(IPMIReqBuf, kResponseData2)) {
                TESSA_LOG("Stage and Update Command is failed");
                throw kKoltStageFailed;
            }
            TESSA_LOG("Stage or Update TESSA command Is successful ");
            if (IPMIReqBuf.response[kCompletionCode] == 0) {
                switch (IPMIReqBuf.response[kResponseData2]) {
                case 1:
                    TESSA_LOG("sendIPMICommandToStageAndUpdate request Not Accepted and Stage Only Failed");
                    throw kKoltStageFailed;
                case 2: {
                    const int status = pollForStatus();
                    if (status == 0 || status == 1)
                        return true;
                    throw kKoltStageFailed;
                }
                case 3:
                case 4:
                    TESSA_LOG("sendIPMICommandToStageAndUpdate: Stage or StageUpdate Successful & reboot not required");
                    return true;
                case 5:
                    TESSA_LOG("sendIPMICommandToStageAndUpdate: Stage or StageUpdate not supported for this device");
                    throw kKoltStageNotSupported;
                case 6:
                    TESSA_LOG("sendIPMICommandToStageAndUpdate: Tomel update required");
                    throw kKoltTomelUpdateRequired;
                case 7:
                    TESSA_LOG("sendIPMICommandToStageAndUpdate: VC is disabled ");
                    throw static_cast<unsigned char>(KOLT_TESSADISABLED);
                default:
                    break;
                }
            }
            CPlatformLayer::Sleep(kStatusPollPauseSeconds);
            if (++attempts >= kStatusPollLimit) {
                TESSA_LOG("sendIPMICommandToStageAndUpdate: no final answer from the controller");
                throw kKoltStageFailed;
            }
        }
    } catch (unsigned char error) {
        storeErrorInfo(error);
        TESSA_LOG("Stage or Update Command is failed");
        return false;
    } catch (...) {
        TESSA_LOG("Stage or Update Command is failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}

bool secureTessa::StagevACResetRequestSIPMI()
{
    try {
        TESSA_LOG("Entering StagevACResetRequestSIPMI() Function");
        _QRMIPMICommandData record;
        tessaClearRecord(record);
        record.request[0] = 0x30;
        record.request[1] = 0xA2;
        record.request[2] = kSingleIPMICommand;
        fillSingleCommand(record, session.handle, kResetRequest);
        record.requestLength = 8;
        record.responseLength = 8;
        // Without a reply the result is false, and the call still ends with
        // its closing line.
        bool result = false;
        if (ProcessIPMICommand(&record)) {
            TESSA_LOG("Stage or Update TESSA command Is successful ");
            if (record.response[kCompletionCode] == 1) {
                TESSA_LOG("sendIPMICommandToStageAndUpdate request Not Accepted and Stage Only Failed");
                storeErrorInfo(kKoltStageFailed);
                TESSA_LOG("Stage or Update Command is failed");
                return false;
            }
            result = record.response[kCompletionCode] == 0 && tessaAnswerHolds(record, kResponseData2) &&
                     record.response[kResponseData2] == 9;
        }
        TESSA_LOG("Entering StagevACResetRequestSIPMI() Function - End");
        return result;
    } catch (...) {
        TESSA_LOG("Stage or Update Command is failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}
