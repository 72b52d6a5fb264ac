#include "SecureTessa.h"

#include <cstring>

#include "PlatformLayer.h"
#include "TessaIPMIDump.h"
#include "TessaRequestBytes.h"

_QRMIPMICommandData IPMIReqBuf;

namespace {

const unsigned char kOEMNetFn = 0x30;
const int kMaxTessaSends = 10;
const int kBusyPauseSeconds = 2;
const int kTomelProcessingPauseSeconds = 2;
const int kPendingPolls = 3000;
// Response bytes: the completion code, and the session handle of the
// managed-storage family's answers.
const unsigned int kCompletionCodeByte = 2;
const unsigned int kHandleHighByte = 4;

enum CodeClass { Returned, Busy, Overrun, Fails, ReturnCode };

struct CompletionCodeInfo {
    const char* name;
    CodeClass cls;
};

// Completion codes 1 to 22 of managed-storage answers; the rest are
// controller return codes judged by GetErrorCode.
const CompletionCodeInfo kCompletionCodes[] = {
    /*  0 */ {nullptr, ReturnCode},
    /*  1 */ {"ESM_STATUS_CMD_NOT_IMPLEMENTED", Returned},
    /*  2 */ {"ESM_STATUS_CMD_PENDING", Returned},
    /*  3 */ {"ESM_STATUS_CMD_TIMEOUT", Busy},
    /*  4 */ {"ESM_STATUS_CMD_CANCELLED", Fails},
    /*  5 */ {"ESM_STATUS_CMD_ABORT", Fails},
    /*  6 */ {"ESM_STATUS_CMD_PENDING", Busy},
    /*  7 */ {"ESM_STATUS_CMD_NO_SUCH_DEVICE", Fails},
    /*  8 */ {"ESM_STATUS_DEVICE_BUSY", Busy},
    /*  9 */ {"ESM_STATUS_CMD_DEVICE_BAD", Fails},
    /* 10 */ {"ESM_STATUS_CMD_DEVICE_SPURIOUS_INTR", Busy},
    /* 11 */ {"ESM_STATUS_CMD_RESOURCE_LOCKED", Fails},
    /* 12 */ {"ESM_STATUS_CMD_INVALID_INDEX", Fails},
    /* 13 */ {"ESM_STATUS_CMD_ERROR", Fails},
    /* 14 */ {"ESM_STATUS_CMD_DATA_NOT_READY", Busy},
    /* 15 */ {"ESM_STATUS_CMD_DATA_UNDERRUN", Fails},
    /* 16 */ {"ESM_STATUS_CMD_DATA_OVERRUN", Overrun},
    /* 17 */ {"ESM_STATUS_DEVICE_NOT_READY", Busy},
    /* 18 */ {"ESM_STATUS_DEVICE_EMPTY", Fails},
    /* 19 */ {"ESM_STATUS_DEVICE_FULL", Fails},
    /* 20 */ {nullptr, ReturnCode},
    /* 21 */ {"ESM_STATUS_PENDING_DOIO_QUEUE", Busy},
    /* 22 */ {"ESM_STATUS_PENDING_BUSY_QUEUE", Busy},
};

const char* const kTomelReturnTexts[] = {
    "TOMEL returned SUCCESS\n",
    "TOMEL returned FAILURE\n",
    "TOMEL returned PENDING\n",
    "TOMEL returned INVALID\n",
    "TOMEL returned OVERFLOW\n",
    "TOMEL returned TESSA_DISABLED\n",
    "TOMEL returned TESSA_BMAP_IMAGE_INVALID\n",
    "TOMEL returned TESSA_SESSION_IN_PROGRESS\n",
    "TOMEL returned TESSA_PARTITIONS_ATTACHED\n",
};

} // namespace

std::string getIPMICommandName(unsigned char subCommand)
{
    switch (subCommand) {
    case 0: return "BeginTESSASession";
    case 1: return "EndTESSASession";
    case 2: return "ResetTESSASessionWD";
    case 3: return "Getpartitionindexinfo";
    case 4: return "GetPartitionInfo";
    case 5: return "AttachPartitions";
    case 6: return "DetachPartitions";
    case 7: return "CreateDynamicPartition";
    case 8: return "DeleteDynamicPartition";
    case 9: return "SecureTESSAUpdate";
    case 10: return "GetTESSAStatus";
    case 11: return "ChangePartitionAccessType";
    case 12: return "RegisterSSIBTask";
    case 16: return "getStateFlagCmd";
    case 17: return "setStateFlagCmd";
    case 18: return "BeginTESSASessionExtended";
    case 32: return "BeginSecureUpdate";
    case 34: return "ProcessSecureUpdate";
    case 35: return "EndSecureUpdate";
    case 48: return "GetKaveSystemInfo";
    default: return "";
    }
}

unsigned char GetErrorCode(_QRMIPMICommandData* record)
{
    const unsigned char code = record->response[2];
    if (code < sizeof(kTomelReturnTexts) / sizeof(kTomelReturnTexts[0])) {
        TESSA_LOG(kTomelReturnTexts[code]);
        return code;
    }
    if (code == 0xFF) {
        TESSA_LOG("TOMEL is processing\n");
        // The controller took the request and works on it: the caller polls
        // for its end as for a pending answer.
        record->response[2] = 2;
        CPlatformLayer::Sleep(kTomelProcessingPauseSeconds);
        return 2;
    }
    if (bTessaDebugLog)
        TESSA_LOG("Unrecognized TOMEL return code [0x" + tessaHexByte(code) + "]");
    return 1;
}

unsigned char ProcessTessaIPMICommand(_QRMIPMICommandData* record)
{
    if (bTessaDebugLog) {
        const std::string prefix = record->request[1] == 0xA2 ? getIPMICommandName(record->request[2]) : " ";
        TESSA_LOG(tessaRequestDump(*record, prefix));
    }

    // Every send carries exactly what the caller filled: the library clears
    // the response and may repoint the configuration on each exchange.
    const _QRMIPMICommandData original = *record;
    bool busySeen = false;
    for (int attempt = 0; attempt < kMaxTessaSends; ++attempt) {
        *record = original;
        if (!ProcessIPMIReuestResponseUsingQRMIPMI(record)) {
            TESSA_LOG("ProcessTessaIPMICommand: ZURMELCommand ERROR \n");
            return 1;
        }
        if (bTessaDebugLog)
            TESSA_LOG(tessaResponseDump(*record));
        // A reply without even a completion code answered nothing; the
        // cleared byte would read as success.
        if (!tessaAnswerHolds(*record, kCompletionCodeByte)) {
            TESSA_LOG("ProcessTessaIPMICommand: ZURMELCommand ERROR \n");
            return 1;
        }

        const unsigned char code = record->response[kCompletionCodeByte];
        if (code >= sizeof(kCompletionCodes) / sizeof(kCompletionCodes[0])
            || kCompletionCodes[code].cls == ReturnCode)
            return GetErrorCode(record);

        const CompletionCodeInfo& info = kCompletionCodes[code];
        TESSA_LOG(info.name);
        const bool lastSend = attempt == kMaxTessaSends - 1;
        switch (info.cls) {
        case Returned:
            return code;   // 1 failure, 2 pending
        case Fails:
            return 1;
        case Busy:
            if (lastSend)
                return 2;
            busySeen = true;
            CPlatformLayer::Sleep(kBusyPauseSeconds);
            break;
        case Overrun:
            // An overrun on its own is taken as an answer once the sends are
            // used up; after a busy answer the controller never settled.
            if (lastSend)
                return busySeen ? 2 : 0;
            if (busySeen)
                CPlatformLayer::Sleep(kBusyPauseSeconds);
            break;
        case ReturnCode:
            break;
        }
    }
    return 2;
}

unsigned char OEMIPMIRequest(eOEMIPMIRequestType command, unsigned char dataByte, _QRMIPMICommandData* record,
                             unsigned short requestLength, unsigned short responseLength)
{
    record->request[0] = kOEMNetFn;
    record->request[1] = static_cast<unsigned char>(command);
    record->request[2] = dataByte;
    record->requestLength = requestLength;
    record->responseLength = responseLength;
    return ProcessTessaIPMICommand(record);
}

unsigned char OEMIPMIRequestTomelReset(eOEMIPMIRequestType command, _QRMIPMICommandData* record,
                                       unsigned short requestLength, unsigned short responseLength)
{
    record->request[0] = 0x0B;
    record->request[1] = static_cast<unsigned char>(command);
    record->requestLength = requestLength;
    record->responseLength = responseLength;
    if (!ProcessIPMICommand(record) || !tessaAnswerHolds(*record, kCompletionCodeByte)) {
        TESSA_LOG("ZURMELCommand ERROR from Tomel reset\n");
        return 1;
    }
    return GetErrorCode(record);
}

int rstTomel()
{
    _QRMIPMICommandData record;
    std::memset(&record, 0, sizeof(record));
    record.request[0] = 0x06;   // NetFn application
    record.request[1] = 0x02;   // Cold Reset
    record.requestLength = 2;
    record.responseLength = 0;
    if (ProcessIPMICommand(&record))
        return 0;
    TESSA_LOG("ZURMELCommand ERROR from Tomel reset\n");
    return 1;
}

unsigned char secureTessa::IPMIRequest(unsigned char subCommand, void* requestRecord, unsigned short requestLength,
                                       unsigned short responseLength)
{
    _QRMIPMICommandData* record = static_cast<_QRMIPMICommandData*>(requestRecord);
    record->request[0] = kOEMNetFn;
    record->request[1] = 0xA2;
    record->request[2] = subCommand;
    record->requestLength = requestLength;
    record->responseLength = responseLength;
    unsigned char result = ProcessTessaIPMICommand(record);

    if (result == 0) {
        // Every answer of the family carries the session handle; a new
        // session's handle arrives this way. An answer that ends inside the
        // handle carries none: half of one would name another session.
        const unsigned short handle =
            tessaAnswerHolds(*record, kHandleHighByte)
                ? static_cast<unsigned short>(record->response[3] | (record->response[4] << 8))
                : 0;
        if (handle != 0) {
            session.handle = handle;
            if (bTessaDebugLog)
                TESSA_LOG("New Tessa Handle = " + std::to_string(handle));
        }
        return 0;
    }

    if (bTessaDebugLog)
        TESSA_LOG(" IPMIRequest completion code =" + tessaHexByte(record->response[2]));
    if (record->response[2] == 2 && PollTessaCmdComplete(kPendingPolls, subCommand))
        result = record->response[2];
    return result;
}
