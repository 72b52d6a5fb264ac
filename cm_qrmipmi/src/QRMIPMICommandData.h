#ifndef CM_QRMIPMI_QRMIPMICOMMANDDATA_H
#define CM_QRMIPMI_QRMIPMICOMMANDDATA_H

#include <cstdint>

// Result of the library's operations.
typedef uint32_t QRMIPMIResult;

enum {
    QRMIPMI_RESULT_SUCCESS = 0,            // an answer arrived; its completion code is in response byte 2
    QRMIPMI_RESULT_DRIVER_UNAVAILABLE = 1, // IPMI kernel modules missing and not loadable
    QRMIPMI_RESULT_NO_DEVICE = 0x101,      // no command record, or no IPMI device opens (257)
    QRMIPMI_RESULT_EXCHANGE_FAILED = 0x140 // request not sent, no matching answer, answer too long (320)
};

// Size of each of the record's two buffers (NetFn and command included).
#define QRMIPMI_MAX_BUFFER_LENGTH 255

// Retry and polling settings of one request. Plain record: callers fill it
// field by field.
struct _QRMIPMIConfiguration {
    uint32_t PollInterval;
    uint32_t PollCount;
    uint32_t RetryCount;
    uint32_t RetryInterval;   // milliseconds
    uint32_t PollingByte;     // 0xFFFFFFFF: no polling required
    uint8_t PollingStatus;
};

// One IPMI exchange. Plain record without constructor: callers zero it
// before filling it.
//   request:  byte 0 NetFn (unshifted), byte 1 command, data from byte 2
//   response: byte 0 NetFn, byte 1 command, byte 2 completion code, data from byte 3
// Both lengths count the NetFn and command bytes.
struct _QRMIPMICommandData {
    _QRMIPMIConfiguration* configuration;   // not owned, may be null
    uint32_t requestLength;
    uint32_t responseLength;
    unsigned char request[QRMIPMI_MAX_BUFFER_LENGTH];
    unsigned char response[QRMIPMI_MAX_BUFFER_LENGTH];
};

// The library's view of one caller's record for the duration of a request.
// The record must outlive the wrapper; nothing is owned.
class CQRMIPMICommandData {
public:
    explicit CQRMIPMICommandData(_QRMIPMICommandData* data);
    virtual ~CQRMIPMICommandData();

    // Configuration fields; without an attached configuration the getters
    // return 0 and the setters change nothing.
    unsigned int GetPollInterval() const;
    void SetPollInterval(unsigned int value);
    unsigned int GetPollCount() const;
    void SetPollCount(unsigned int value);
    unsigned int GetRetryCount() const;
    void SetRetryCount(unsigned int value);
    unsigned int GetRetryInterval() const;
    void SetRetryInterval(unsigned int value);
    unsigned int GetPollingByte() const;
    unsigned char GetPollingStatus() const;
    void SetPollingByteStatus(unsigned int pollingByte, unsigned char pollingStatus);
    bool IsPollingRequired() const;

    void SetConfigurationData(_QRMIPMIConfiguration* configuration);
    _QRMIPMIConfiguration* GetConfigurationData() const;

    unsigned char* GetRequestBufferData();
    unsigned char* GetResponseBufferData(unsigned int index);
    unsigned int GetRequestBufferLength() const;
    unsigned int GetResponseBufferLength() const;
    void SetResponseBufferLength(unsigned int length);

    // Refuse (and leave the record unchanged) for lengths above the buffer
    // size; a null source only sets the length.
    void SetRequestBufferData(unsigned char* data, unsigned int length);
    void SetResponseBufferData(unsigned char* data, unsigned int length);

private:
    CQRMIPMICommandData(const CQRMIPMICommandData&) = delete;
    CQRMIPMICommandData& operator=(const CQRMIPMICommandData&) = delete;

    _QRMIPMICommandData* mData;
};

#endif
