// One IPMI request through the library's front door, with the device seam
// answering from the fuzz input: opens that fail, waits that time out or
// are interrupted, answers of any length, type and message id, truncated
// and over-reported answers. Every iteration ends with the session
// released, so the next one starts from scratch.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzSupport.h"
#include "QRMIPMIDeviceAccess.h"
#include "QRMIPMIInterfaceImpl.h"

namespace {

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz: IPMI reply: %s\n", what);
        std::abort();
    }
}

const int kFd = 5;

// An IPMI device whose every outcome comes from the fuzz input. When the
// input runs out, each call takes its first (well-behaved) outcome.
class FuzzIPMIDevice : public IQRMIPMIDevice {
public:
    FuzzedDataProvider* input = nullptr;

    int Open(const char*) override
    {
        if (input->ConsumeIntegralInRange<int>(0, 15) == 15) {
            errno = ENOENT;
            return -1;
        }
        return kFd;
    }

    int SendCommand(int fd, struct ipmi_req* request) override
    {
        Require(fd == kFd, "send on a descriptor that was not opened");
        Require(request != nullptr && request->addr != nullptr &&
                    request->addr_len >= static_cast<int>(sizeof(ipmi_system_interface_addr)),
                "send without a system interface address");
        // The kernel copies data_len bytes from the request: they must be
        // readable, and never more than an IPMI message holds.
        Require(request->msg.data_len <= 272, "request longer than any IPMI message");
        std::vector<unsigned char> copy(request->msg.data, request->msg.data + request->msg.data_len);
        if (input->ConsumeIntegralInRange<int>(0, 15) == 15) {
            errno = EBUSY;
            return -1;
        }
        mMsgId = request->msgid;
        mNetFn = request->msg.netfn;
        mCmd = request->msg.cmd;
        return 0;
    }

    int WaitReadable(int fd, const struct timespec&, bool& readable) override
    {
        Require(fd == kFd, "wait on a descriptor that was not opened");
        readable = false;
        switch (input->ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            readable = true;
            return 1;
        case 1:
            return 0;
        case 2:
            return 1;  // an event, not a readable one
        default:
            errno = EINTR;
            return -1;
        }
    }

    int ReceiveMessage(int fd, struct ipmi_recv* answer) override
    {
        Require(fd == kFd, "receive on a descriptor that was not opened");
        Require(answer != nullptr && answer->msg.data != nullptr, "receive without a buffer");
        const unsigned short room = answer->msg.data_len;
        switch (input->ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            break;
        case 1:
            errno = EAGAIN;
            return -1;
        case 2:
            errno = input->ConsumeBool() ? EINTR : EBADF;
            return -1;
        default:
            // A device that reports more than it was given room for; it
            // writes nothing beyond the room.
            answer->recv_type = IPMI_RESPONSE_RECV_TYPE;
            answer->msgid = mMsgId;
            answer->msg.netfn = static_cast<unsigned char>(mNetFn | 4);
            answer->msg.cmd = mCmd;
            answer->msg.data_len = input->ConsumeIntegral<unsigned short>();
            return 0;
        }

        answer->recv_type = input->ConsumeBool() ? input->ConsumeIntegral<int>() : IPMI_RESPONSE_RECV_TYPE;
        answer->msgid = input->ConsumeBool() ? input->ConsumeIntegral<long>() : mMsgId;
        answer->msg.netfn = static_cast<unsigned char>(mNetFn | 4);
        answer->msg.cmd = mCmd;
        if (answer->addr != nullptr && answer->addr_len >= static_cast<unsigned int>(sizeof(ipmi_system_interface_addr))) {
            ipmi_system_interface_addr address;
            std::memset(&address, 0, sizeof(address));
            address.addr_type = IPMI_SYSTEM_INTERFACE_ADDR_TYPE;
            address.channel = IPMI_BMC_CHANNEL;
            std::memcpy(answer->addr, &address, sizeof(address));
            answer->addr_len = sizeof(address);
        }

        // The kernel hands over at least the completion code; a longer answer
        // than the room is cut to it and reported with EMSGSIZE.
        size_t length = 1 + input->ConsumeIntegralInRange<size_t>(0, 299);
        std::vector<unsigned char> data = input->ConsumeBytes<unsigned char>(length);
        data.resize(length, 0);
        const size_t copied = length < room ? length : room;
        std::memcpy(answer->msg.data, data.data(), copied);
        answer->msg.data_len = static_cast<unsigned short>(copied);
        if (length > room) {
            errno = EMSGSIZE;
            return -1;
        }
        return 0;
    }

    int Close(int fd) override
    {
        Require(fd == kFd, "close of a descriptor that was not opened");
        return 0;
    }

private:
    long mMsgId = 0;
    unsigned char mNetFn = 0;
    unsigned char mCmd = 0;
};

class NoSleeper : public IQRMIPMISleeper {
public:
    void SleepSeconds(unsigned int) override {}
    void SleepMilliseconds(unsigned long long) override {}
};

FuzzIPMIDevice gDevice;
NoSleeper gSleeper;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnterScratchDirectory();
    QRMIPMIDeviceAccess::SetForTesting(&gDevice);
    QRMIPMISleeperAccess::SetForTesting(&gSleeper);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    gDevice.input = &input;

    _QRMIPMIConfiguration configuration;
    std::memset(&configuration, 0, sizeof(configuration));
    const bool ownSettings = input.ConsumeBool();
    configuration.RetryCount = input.ConsumeIntegralInRange<uint32_t>(0, 6);
    configuration.RetryInterval = input.ConsumeIntegral<uint32_t>();
    configuration.PollCount = input.ConsumeIntegralInRange<uint32_t>(0, 6);
    configuration.PollInterval = input.ConsumeIntegral<uint32_t>();

    _QRMIPMICommandData record;
    std::memset(&record, 0, sizeof(record));
    record.configuration = ownSettings ? &configuration : nullptr;
    record.requestLength = input.ConsumeBool() ? input.ConsumeIntegral<uint32_t>() : 3;
    record.responseLength = input.ConsumeIntegral<uint32_t>();
    record.request[0] = 0x30;
    record.request[1] = 0xA2;
    record.request[2] = 0x01;
    std::vector<unsigned char> request = input.ConsumeBytes<unsigned char>(input.ConsumeIntegralInRange<size_t>(0, 255));
    if (!request.empty())
        std::memcpy(record.request, request.data(), request.size());

    QRMIPMIInterfaceImpl library;
    const QRMIPMIResult result = library.IPMIRequest(&record);
    if (result == 0)
        Require(record.responseLength >= 2 && record.responseLength <= QRMIPMI_MAX_BUFFER_LENGTH,
                "answer length outside the response buffer");
    library.Release();
    return 0;
}
