#define QRM_LOG_UNIT "cm_qrmipmi/src/QRMIPMICommandData"

#include "QRMIPMICommandData.h"

#include <cstring>

#include "QRMLogger.h"

CQRMIPMICommandData::CQRMIPMICommandData(_QRMIPMICommandData* data) : mData(data)
{
    QRMLOG(QRM_LOG_INFO, "CQRMIPMICommandData::CQRMIPMICommandData() Entering");
    if (mData != nullptr) {
        // Only the answer is cleared: the lengths and the request stay as the
        // caller wrote them.
        memset(mData->response, 0, sizeof(mData->response));
        if (mData->configuration != nullptr) {
            mData->configuration->PollingByte = 0;
            mData->configuration->PollingStatus = 0;
        }
    }
    QRMLOG(QRM_LOG_INFO, "CQRMIPMICommandData::CQRMIPMICommandData() Leaving");
}

CQRMIPMICommandData::~CQRMIPMICommandData()
{
    QRMLOG(QRM_LOG_INFO, "CQRMIPMICommandData::~CQRMIPMICommandData() Entering");
    QRMLOG(QRM_LOG_INFO, "CQRMIPMICommandData::~CQRMIPMICommandData() Leaving");
}

unsigned int CQRMIPMICommandData::GetPollInterval() const
{
    return (mData && mData->configuration) ? mData->configuration->PollInterval : 0;
}

void CQRMIPMICommandData::SetPollInterval(unsigned int value)
{
    if (mData && mData->configuration)
        mData->configuration->PollInterval = value;
}

unsigned int CQRMIPMICommandData::GetPollCount() const
{
    return (mData && mData->configuration) ? mData->configuration->PollCount : 0;
}

void CQRMIPMICommandData::SetPollCount(unsigned int value)
{
    if (mData && mData->configuration)
        mData->configuration->PollCount = value;
}

unsigned int CQRMIPMICommandData::GetRetryCount() const
{
    return (mData && mData->configuration) ? mData->configuration->RetryCount : 0;
}

void CQRMIPMICommandData::SetRetryCount(unsigned int value)
{
    if (mData && mData->configuration)
        mData->configuration->RetryCount = value;
}

unsigned int CQRMIPMICommandData::GetRetryInterval() const
{
    return (mData && mData->configuration) ? mData->configuration->RetryInterval : 0;
}

void CQRMIPMICommandData::SetRetryInterval(unsigned int value)
{
    if (mData && mData->configuration)
        mData->configuration->RetryInterval = value;
}

unsigned int CQRMIPMICommandData::GetPollingByte() const
{
    return (mData && mData->configuration) ? mData->configuration->PollingByte : 0;
}

unsigned char CQRMIPMICommandData::GetPollingStatus() const
{
    return (mData && mData->configuration) ? mData->configuration->PollingStatus : 0;
}

void CQRMIPMICommandData::SetPollingByteStatus(unsigned int pollingByte, unsigned char pollingStatus)
{
    if (mData && mData->configuration) {
        mData->configuration->PollingByte = pollingByte;
        mData->configuration->PollingStatus = pollingStatus;
    }
}

bool CQRMIPMICommandData::IsPollingRequired() const
{
    if (GetPollingByte() == 0xFFFFFFFFu) {
        QRMLOG(QRM_LOG_INFO, " CQRMIPMICommandData::IsPollingRequired(), Polling is not required ");
        return false;
    }
    QRMLOG(QRM_LOG_INFO, " CQRMIPMICommandData::IsPollingRequired(), Polling is required ");
    return true;
}

void CQRMIPMICommandData::SetConfigurationData(_QRMIPMIConfiguration* configuration)
{
    if (mData)
        mData->configuration = configuration;
}

_QRMIPMIConfiguration* CQRMIPMICommandData::GetConfigurationData() const
{
    return mData ? mData->configuration : nullptr;
}

unsigned char* CQRMIPMICommandData::GetRequestBufferData()
{
    return mData ? mData->request : nullptr;
}

unsigned char* CQRMIPMICommandData::GetResponseBufferData(unsigned int index)
{
    if (mData == nullptr || index >= QRMIPMI_MAX_BUFFER_LENGTH)
        return nullptr;
    return mData->response + index;
}

unsigned int CQRMIPMICommandData::GetRequestBufferLength() const
{
    return mData ? mData->requestLength : 0;
}

unsigned int CQRMIPMICommandData::GetResponseBufferLength() const
{
    return mData ? mData->responseLength : 0;
}

void CQRMIPMICommandData::SetResponseBufferLength(unsigned int length)
{
    if (mData)
        mData->responseLength = length;
}

void CQRMIPMICommandData::SetRequestBufferData(unsigned char* data, unsigned int length)
{
    if (length > QRMIPMI_MAX_BUFFER_LENGTH) {
        QRMLOG(QRM_LOG_INFO, "CQRMIPMICommandData::SetRequestBufferData(), Requested Buffer length is greater than Maximum Request length");
        return;
    }
    if (mData == nullptr)
        return;
    mData->requestLength = length;
    if (data != nullptr)
        memmove(mData->request, data, length);
}

void CQRMIPMICommandData::SetResponseBufferData(unsigned char* data, unsigned int length)
{
    if (length > QRMIPMI_MAX_BUFFER_LENGTH) {
        QRMLOG(QRM_LOG_INFO, "CQRMIPMICommandData::SetResponseBufferData(), Response length is greater than Maximum Buffer length");
        return;
    }
    if (mData == nullptr)
        return;
    mData->responseLength = length;
    if (data != nullptr)
        memmove(mData->response, data, length);
}
