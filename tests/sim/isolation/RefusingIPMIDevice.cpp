#include "RefusingIPMIDevice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "QRMEnvironmentInfo.h"
#include "QRMIPMISession.h"
#include "QRMIPMISessionHandler.h"
#include "QRMLogger.h"
#include "TestProcessState.h"

namespace {

int refuse(const std::string& call)
{
    ADD_FAILURE() << "the IPMI device seam was reached without a simulated device installed (" << call
                  << "); refused so that no real management controller is touched";
    errno = EPERM;
    return -1;
}

// Answers only the closes of sessions an earlier test left open, while
// they are taken down: their descriptors came from that test's device.
class ClosingIPMIDevice : public IQRMIPMIDevice {
public:
    int Open(const char* path) override { return refuse(std::string("open ") + (path ? path : "(null)")); }
    int SendCommand(int, struct ipmi_req*) override { return refuse("send"); }
    int WaitReadable(int, const struct timespec&, bool& readable) override
    {
        readable = false;
        return refuse("wait");
    }
    int ReceiveMessage(int, struct ipmi_recv*) override { return refuse("receive"); }
    int Close(int) override { return 0; }
};

void resetIPMILibrary()
{
    static ClosingIPMIDevice closing;
    QRMIPMIDeviceAccess::SetForTesting(&closing);
    QRMIPMISleeperAccess::SetForTesting(nullptr);
    QRMUnameAccess::SetForTesting(nullptr);
    QRMIPMISessionHandler::DestroyInstance();
    QRMIPMISession::mIPMIXMLConfig.Release();
    QRMIPMISession::SetConfigurationFileName(QRMString("QRMIPMIConfig.xml", QRMString::QRM_ENCODING_UTF8));
    QRMLogger::Terminate();
    // Terminate leaves a user log on the standard error stream in place.
    QRMLogger::mUserLogFile = nullptr;
    QRMIPMIDeviceAccess::SetForTesting(&RefusingIPMIDevice::instance());
}

// The seam is a constant-initialised pointer: safe to set before main.
[[maybe_unused]] const bool installed = (QRMIPMIDeviceAccess::SetForTesting(&RefusingIPMIDevice::instance()), true),
                            registered = resetBeforeEachTest(&resetIPMILibrary);

} // namespace

RefusingIPMIDevice& RefusingIPMIDevice::instance()
{
    // Never destroyed: the seam may still point at it during static
    // destruction.
    static RefusingIPMIDevice* refusing = new RefusingIPMIDevice;
    return *refusing;
}

int RefusingIPMIDevice::Open(const char* path) { return refuse(std::string("open ") + (path ? path : "(null)")); }

int RefusingIPMIDevice::SendCommand(int fd, struct ipmi_req* /*request*/)
{
    return refuse("send on " + std::to_string(fd));
}

int RefusingIPMIDevice::WaitReadable(int fd, const struct timespec& /*timeout*/, bool& readable)
{
    readable = false;
    return refuse("wait on " + std::to_string(fd));
}

int RefusingIPMIDevice::ReceiveMessage(int fd, struct ipmi_recv* /*answer*/)
{
    return refuse("receive on " + std::to_string(fd));
}

int RefusingIPMIDevice::Close(int fd) { return refuse("close " + std::to_string(fd)); }
