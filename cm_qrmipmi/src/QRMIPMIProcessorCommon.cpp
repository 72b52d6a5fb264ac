#define QRM_LOG_UNIT "cm_qrmipmi/src/QRMIPMIProcessorCommon"

#include <cstdio>

#include "LQRMIPMIProcessor.h"
#include "QRMIPMIDeviceAccess.h"
#include "QRMLogger.h"

namespace {

// Completion codes after which a resend cannot help; every other code is
// worth another try after the retry interval.
bool IsFinalCompletionCode(unsigned char code)
{
    switch (code) {
    case 0x00: case 0x01: case 0x02: case 0x03: case 0x04: case 0x05:
    case 0x06: case 0x08: case 0x10: case 0xC1: case 0xC2: case 0xC7:
    case 0xC8: case 0xC9: case 0xCC: case 0xCE:
        return true;
    default:
        return false;
    }
}

void AppendBytes(std::string& text, const unsigned char* bytes, unsigned int length)
{
    char hex[8];
    for (unsigned int i = 0; i < length; ++i) {
        snprintf(hex, sizeof(hex), " 0x%02x", bytes[i]);
        text += hex;
    }
}

} // namespace

void sleep_in_ms(unsigned long long milliseconds)
{
    QRMIPMISleeperAccess::Get()->SleepMilliseconds(milliseconds);
}

std::string FormatIPMIExchange(CQRMIPMICommandData& command)
{
    // The lengths are the caller's: never dump beyond the buffers.
    unsigned int requestLength = command.GetRequestBufferLength();
    unsigned int responseLength = command.GetResponseBufferLength();
    if (requestLength > QRMIPMI_MAX_BUFFER_LENGTH)
        requestLength = QRMIPMI_MAX_BUFFER_LENGTH;
    if (responseLength > QRMIPMI_MAX_BUFFER_LENGTH)
        responseLength = QRMIPMI_MAX_BUFFER_LENGTH;

    std::string text = "\nIPMI Request : ";
    if (const unsigned char* request = command.GetRequestBufferData())
        AppendBytes(text, request, requestLength);
    text += "     ";
    text += " IPMI Response : ";
    text += " ";
    if (const unsigned char* response = command.GetResponseBufferData(0))
        AppendBytes(text, response, responseLength);
    text += "\n";
    return text;
}

void IPMIProcessor::LogIPMIResponse(CQRMIPMICommandData& command)
{
    std::string text = FormatIPMIExchange(command);
    QRMLOG(QRM_LOG_INFO, "%s", text.c_str());
}

QRMIPMIResult IPMIProcessor::ExecuteCommand(CQRMIPMICommandData& command)
{
    QRMLOG(QRM_LOG_INFO, "Entering IPMIProcessor::ExecuteCommand");
    const unsigned int retryCount = command.GetRetryCount();
    const unsigned int retryInterval = command.GetRetryInterval();
    unsigned int left = retryCount;

    for (;;) {
        QRMIPMIResult result = Process(command);
        if (result != QRMIPMI_RESULT_SUCCESS)
            return result;

        unsigned char completionCode = *command.GetResponseBufferData(2);
        if (IsFinalCompletionCode(completionCode)) {
            left = 0;
        } else {
            sleep_in_ms(retryInterval);
            if (left > 0)
                --left;
        }
        QRMLOG(QRM_LOG_INFO,
               "IPMIProcessor::ExecuteCommand Got IPMI return code as %x and number of retries left are %d out of %d",
               completionCode, static_cast<int>(left), static_cast<int>(retryCount));
        LogIPMIResponse(command);

        // A retriable code that outlasts the retries is handed back as it is:
        // judging it is the caller's business.
        if (left == 0 || completionCode == 0x00)
            break;
    }

    LogIPMIResponse(command);
    QRMLOG(QRM_LOG_INFO, "Leaving IPMIProcessor::ExecuteCommand");
    return QRMIPMI_RESULT_SUCCESS;
}
