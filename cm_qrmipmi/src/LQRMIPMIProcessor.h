#ifndef CM_QRMIPMI_LQRMIPMIPROCESSOR_H
#define CM_QRMIPMI_LQRMIPMIPROCESSOR_H

#include <atomic>
#include <cstdint>
#include <string>

#include "QRMIPMICommandProcessorCreator.h"

// Message id of the next request, shared by every processor of the process;
// starts at 1 and wraps after 0xFFFFFFFF. Atomic because each thread sends
// through its own processor.
extern std::atomic<uint32_t> gnMsgID;

// Transport through the Linux IPMI message-handler device.
class IPMIProcessor : public IIPMICommandProcessor {
public:
    IPMIProcessor();
    ~IPMIProcessor() override;

    QRMIPMIResult ExecuteCommand(CQRMIPMICommandData& command) override;
    QRMIPMIResult Initialize() override;

    // One send and the wait for its answer: 0 or 320.
    QRMIPMIResult Process(CQRMIPMICommandData& command);
    void Release();
    void LogIPMIResponse(CQRMIPMICommandData& command);

    int GetDescriptor() const { return mFd; }

private:
    IPMIProcessor(const IPMIProcessor&) = delete;
    IPMIProcessor& operator=(const IPMIProcessor&) = delete;

    int mFd;
};

// Text of the exchange dump: the request bytes and the response bytes up to
// the record's lengths (never beyond the buffers).
std::string FormatIPMIExchange(CQRMIPMICommandData& command);

// Pause of the given milliseconds; an interrupted pause is not resumed.
void sleep_in_ms(unsigned long long milliseconds);

#endif
