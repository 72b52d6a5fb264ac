// The library's front door over the transport: what a caller sees when the
// IPMI device is missing or the controller is busy.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "LQRMIPMIProcessor.h"
#include "QRMIPMIInterfaceImpl.h"
#include "SimIPMIDeviceAdapter.h"
#include "SimManagementController.h"
#include "TempDir.h"

namespace {

class IPMIRequestTest : public ::testing::Test {
protected:
    IPMIRequestTest() : device(controller), seams(&device, &sleeps)
    {
        memset(&record, 0, sizeof(record));
        record.request[0] = 0x30;
        record.request[1] = 0xA2;
        record.request[2] = 0x01;
        record.requestLength = 3;
    }

    TempDir dir;   // no "QRMIPMIConfig.xml", no "zordebuglog"
    SimManagementController controller;
    SimIPMIDevice device;
    SimIPMISleepRecorder sleeps;
    SimIPMISeamGuard seams;
    _QRMIPMICommandData record;
};

} // namespace

TEST_F(IPMIRequestTest, NoIPMIDeviceAtAllGives257AfterEverySearch)
{
    device.existingPaths.clear();
    QRMIPMIInterfaceImpl* library = new QRMIPMIInterfaceImpl;

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(library->IPMIRequest(&record), 257u);
    EXPECT_EQ(device.openedPaths.size(), 15u);
    EXPECT_EQ(sleeps.seconds, std::vector<unsigned>(5, 1u));

    // The session stays without device and searches again on the next request.
    EXPECT_EQ(library->IPMIRequest(&record), 257u);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(device.openedPaths.size(), 30u);
    EXPECT_EQ(sleeps.seconds, std::vector<unsigned>(10, 1u));
    EXPECT_EQ(err, "Can't open IPMI device\nCan't open IPMI device\n");
    EXPECT_TRUE(controller.Requests().empty());
    EXPECT_TRUE(sleeps.milliseconds.empty());

    library->Release();
    delete library;
}

TEST_F(IPMIRequestTest, BusyControllerIsAskedFiveTimesWithTheLibraryDefaults)
{
    controller.Script(0x30, 0xA2, SimIpmiStep::Code(0xC0), 10);
    QRMIPMIInterfaceImpl* library = new QRMIPMIInterfaceImpl;

    EXPECT_EQ(library->IPMIRequest(&record), 0u);
    EXPECT_EQ(controller.Requests().size(), 5u);
    EXPECT_EQ(sleeps.milliseconds, std::vector<unsigned long long>(5, 50u));
    EXPECT_EQ(record.response[2], 0xC0);   // handed back for the caller to judge
    EXPECT_EQ(record.responseLength, 3u);

    library->Release();
    EXPECT_EQ(device.closedFds, std::vector<int>{device.fdToHand});
    delete library;
}
