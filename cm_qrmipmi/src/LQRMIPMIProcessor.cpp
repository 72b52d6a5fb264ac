#define QRM_LOG_UNIT "cm_qrmipmi/src/LQRMIPMIProcessor"

#include "LQRMIPMIProcessor.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "QRMIPMIDeviceAccess.h"
#include "QRMLogger.h"

std::atomic<uint32_t> gnMsgID{1};

namespace {

const char* const kIPMIDevicePaths[] = {"/dev/ipmi0", "/dev/ipmi/0", "/dev/ipmidev/0"};
const int kDeviceSearchPasses = 5;

// Room for the answer's data part (completion code first) behind the NetFn
// and command bytes.
const unsigned int kMaxAnswerDataLength = QRMIPMI_MAX_BUFFER_LENGTH - 2;

const unsigned char kCompletionCodeSendFailed = 0x01;
const unsigned char kCompletionCodeAnswerTooLong = 0x10;

} // namespace

IPMIProcessor::IPMIProcessor()
{
    QRMLOG(QRM_LOG_INFO, "Entering IPMIProcessor::IPMIProcessor");
    mFd = 0;
    QRMLOG(QRM_LOG_INFO, "Leaving IPMIProcessor::IPMIProcessor");
}

IPMIProcessor::~IPMIProcessor()
{
    QRMLOG(QRM_LOG_INFO, "Entering IPMIProcessor::~IPMIProcessor");
    Release();
    QRMLOG(QRM_LOG_INFO, "Leaving IPMIProcessor::~IPMIProcessor");
}

QRMIPMIResult IPMIProcessor::Initialize()
{
    QRMLOG(QRM_LOG_INFO, "Entering IPMIProcessor::Init()\n");
    IQRMIPMIDevice& device = *QRMIPMIDeviceAccess::Get();
    QRMIPMIResult result = QRMIPMI_RESULT_EXCHANGE_FAILED;

    for (int pass = 0; pass < kDeviceSearchPasses && result != QRMIPMI_RESULT_SUCCESS; ++pass) {
        for (const char* path : kIPMIDevicePaths) {
            QRMLOG(QRM_LOG_INFO, "Open IPMI device : %s", path);
            mFd = device.Open(path);
            if (mFd >= 0) {
                result = QRMIPMI_RESULT_SUCCESS;
                break;
            }
            int err = errno;
            QRMLOG(QRM_LOG_INFO, "Errno: %d, %s, open failed for device: %s", err, strerror(err), path);
        }
        if (result != QRMIPMI_RESULT_SUCCESS) {
            QRMLOG(QRM_LOG_INFO, "Can't Open any IPMI Device, retries left : %d\n", kDeviceSearchPasses - pass);
            QRMIPMISleeperAccess::Get()->SleepSeconds(1);
        }
    }

    if (result != QRMIPMI_RESULT_SUCCESS) {
        static const char kMessage[] = "Can't open IPMI device\n";
        ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof(kMessage) - 1);
        (void)ignored;
    }

    QRMLOG(QRM_LOG_INFO, "File Descriptor Value %d", mFd);
    QRMLOG(QRM_LOG_INFO, "Leaving IPMIProcessor::Init()\n");
    return result;
}

void IPMIProcessor::Release()
{
    QRMLOG(QRM_LOG_INFO, "Entering IPMIProcessor::Release()\n");
    if (mFd > 0) {
        QRMIPMIDeviceAccess::Get()->Close(mFd);
        mFd = 0;
    }
    QRMLOG(QRM_LOG_INFO, "Leaving IPMIProcessor::Release()\n");
}

QRMIPMIResult IPMIProcessor::Process(CQRMIPMICommandData& command)
{
    QRMLOG(QRM_LOG_INFO, "Entering IPMIProcessor::Process\n");
    LogIPMIResponse(command);

    QRMIPMIResult result = QRMIPMI_RESULT_EXCHANGE_FAILED;
    IQRMIPMIDevice& device = *QRMIPMIDeviceAccess::Get();
    unsigned char* request = command.GetRequestBufferData();
    unsigned char* response = command.GetResponseBufferData(0);
    unsigned int requestLength = command.GetRequestBufferLength();

    // NetFn and command must be present and the data must fit the buffer:
    // a shorter length would wrap the 16-bit data length handed to the
    // kernel, a longer one would send bytes from beyond the request buffer.
    if (request == nullptr || requestLength < 2 || requestLength > QRMIPMI_MAX_BUFFER_LENGTH) {
        QRMLOG(QRM_LOG_ERROR, "Invalid IPMI request length %u, request not sent", requestLength);
        QRMLOG(QRM_LOG_INFO, "Leaving IPMIProcessor::ExecuteCommand()");
        return result;
    }

    struct ipmi_system_interface_addr address;
    memset(&address, 0, sizeof(address));
    address.addr_type = IPMI_SYSTEM_INTERFACE_ADDR_TYPE;
    address.channel = IPMI_BMC_CHANNEL;
    address.lun = 0;

    uint32_t msgId = gnMsgID.fetch_add(1);

    struct ipmi_req req;
    memset(&req, 0, sizeof(req));
    req.addr = reinterpret_cast<unsigned char*>(&address);
    req.addr_len = sizeof(address);
    req.msgid = static_cast<long>(static_cast<unsigned long>(msgId));
    req.msg.netfn = request[0];
    req.msg.cmd = request[1];
    req.msg.data_len = static_cast<unsigned short>(requestLength - 2);
    req.msg.data = request + 2;

    if (device.SendCommand(mFd, &req) == -1) {
        response[2] = kCompletionCodeSendFailed;
        QRMLOG(QRM_LOG_INFO, "Leaving IPMIProcessor::ExecuteCommand()");
        return result;
    }

    unsigned char answerAddress[sizeof(struct ipmi_system_interface_addr)];
    memset(answerAddress, 0, sizeof(answerAddress));
    unsigned int retryCount = command.GetRetryCount();
    unsigned int retryInterval = command.GetRetryInterval();

    for (unsigned int attempt = 1; attempt <= retryCount; ++attempt) {
        struct timespec timeout;
        timeout.tv_sec = 20;
        timeout.tv_nsec = 60 * 1000;
        bool readable = false;
        int ready = device.WaitReadable(mFd, timeout, readable);
        if (ready <= 0) {
            QRMLOG(QRM_LOG_INFO, "IPMI Driver Not available for Receiving IPMI Command response for  %d time\n", static_cast<int>(attempt));
            sleep_in_ms(retryInterval);
            continue;
        }
        if (!readable)
            continue;

        struct ipmi_recv recv;
        memset(&recv, 0, sizeof(recv));
        recv.addr = answerAddress;
        recv.addr_len = sizeof(answerAddress);
        recv.msg.data = response + 2;
        recv.msg.data_len = kMaxAnswerDataLength;

        if (device.ReceiveMessage(mFd, &recv) == -1) {
            int err = errno;
            if (err == EMSGSIZE) {
                response[0] = recv.msg.netfn;
                response[1] = recv.msg.cmd;
                response[2] = kCompletionCodeAnswerTooLong;
                QRMLOG(QRM_LOG_INFO, "Overurn of data and Error in ioctl IPMICTL_RECEIVE_MSG_TRUNC and last error is %d: \n", err);
                break;
            }
            QRMLOG(QRM_LOG_INFO, "Error in ioctl IPMICTL_RECEIVE_MSG_TRUNC and last error is %d:", err);
            sleep_in_ms(retryInterval);
            continue;
        }

        if (recv.msgid != req.msgid) {
            QRMLOG(QRM_LOG_INFO, "Mismatch in message id for id number %d", static_cast<int>(msgId));
            continue;
        }

        if (recv.msg.data_len > kMaxAnswerDataLength) {
            // The device never reports more than it was given room for;
            // should it, the length would point past the response buffer.
            response[0] = recv.msg.netfn;
            response[1] = recv.msg.cmd;
            response[2] = kCompletionCodeAnswerTooLong;
            QRMLOG(QRM_LOG_ERROR, "Answer length %u exceeds the response buffer", static_cast<unsigned int>(recv.msg.data_len));
            break;
        }

        response[0] = recv.msg.netfn;
        response[1] = recv.msg.cmd;
        command.SetResponseBufferLength(recv.msg.data_len + 2u);
        result = QRMIPMI_RESULT_SUCCESS;
        break;
    }

    QRMLOG(QRM_LOG_INFO, "Leaving IPMIProcessor::ExecuteCommand()");
    return result;
}
