#include "SecureTessa.h"

#include <cstring>

#include "TessaRequestBytes.h"

namespace {

const unsigned int kCompletionCode = 2;

// Get System Info Parameters (NetFn application), parameter 0xEA: the
// power-supply count.
const unsigned char kAppNetFn = 0x06;
const unsigned char kGetSystemInfoParameters = 0x59;
const unsigned char kPowerSupplyCountParameter = 0xEA;
const unsigned int kPowerSupplyCountByte = 11;

const unsigned char kOEMNetFn = 0x30;
const unsigned char kPowerSupplyQuery = 0xB0;
const unsigned char kPowerSupplyRecord = 0x0A;
const unsigned int kPresenceBytes[] = {4, 5};
const unsigned int kVersionByte = 9;      // 4 bytes, little-endian
const unsigned int kTextByte = 13;        // up to 8 characters
const unsigned int kTextLength = 8;
const unsigned int kFlagsByte = 24;

_QRMIPMICommandData emptyRecord()
{
    _QRMIPMICommandData record;
    std::memset(&record, 0, sizeof(record));
    return record;
}

// A reply arrived, the controller accepted the request and its answer
// reaches lastByte: a refusal (an unknown power supply, say) carries no
// data worth reading, and bytes a short answer left out read as 0.
bool answered(_QRMIPMICommandData& record, unsigned int lastByte)
{
    if (ProcessIPMICommand(&record) && tessaAnswerHolds(record, lastByte) &&
        record.response[kCompletionCode] == 0)
        return true;
    TESSA_LOG("IPMI Command ERROR");
    return false;
}

} // namespace

int secureTessa::getPSCount(int& count)
{
    _QRMIPMICommandData record = emptyRecord();
    record.request[0] = kAppNetFn;
    record.request[1] = kGetSystemInfoParameters;
    record.request[3] = kPowerSupplyCountParameter;
    record.requestLength = 6;
    record.responseLength = 30;
    if (!answered(record, kPowerSupplyCountByte))
        return -1;
    count = record.response[kPowerSupplyCountByte];
    return 0;
}

int secureTessa::getPSUVersion(unsigned char psu, unsigned int& version, std::string& text, unsigned int& flag)
{
    _QRMIPMICommandData record = emptyRecord();
    record.request[0] = kOEMNetFn;
    record.request[1] = kPowerSupplyQuery;
    record.request[2] = kPowerSupplyRecord;
    record.request[3] = psu;
    record.requestLength = 4;
    record.responseLength = 30;
    if (!answered(record, kFlagsByte))
        return -1;

    const unsigned char* r = record.response;
    const bool present = r[kPresenceBytes[0]] != 0 || r[kPresenceBytes[1]] != 0;
    flag = (r[kFlagsByte] & 0x01) && present ? 1 : 0;
    version = static_cast<unsigned int>(r[kVersionByte]) | static_cast<unsigned int>(r[kVersionByte + 1]) << 8
              | static_cast<unsigned int>(r[kVersionByte + 2]) << 16
              | static_cast<unsigned int>(r[kVersionByte + 3]) << 24;
    // Eight characters fill the field without a terminating zero.
    const char* field = reinterpret_cast<const char*>(r + kTextByte);
    text.assign(field, strnlen(field, kTextLength));
    return 0;
}
