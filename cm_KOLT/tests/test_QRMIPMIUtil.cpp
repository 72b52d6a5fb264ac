// Loading and releasing the IPMI library for the client.

#include "KoltTestSupport.h"

namespace {

class LibraryLoadTest : public KoltHostTest {};

} // namespace

TEST_F(LibraryLoadTest, LoadedWithFiveSendsFiftyMillisecondsApart)
{
    dir.write("zordebuglog", "");
    const std::unique_ptr<secureTessa> client = ClientWithoutLifeCycle();   // starts the KOLT log
    ASSERT_EQ(InitQRMIPMILibrary(), 0u);
    ASSERT_NE(pQRMIPMILibHandle, nullptr);
    EXPECT_EQ(device.openedPaths, std::vector<std::string>{"/dev/ipmi0"});

    // A code the library resends: its own retry settings show.
    controller.Script(0x30, 0xBD, SimIpmiStep::Code(0x0A), 10);
    _QRMIPMICommandData record;
    std::memset(&record, 0, sizeof(record));
    record.request[0] = 0x30;
    record.request[1] = 0xBD;
    record.requestLength = 2;
    record.responseLength = 9;
    EXPECT_TRUE(ProcessIPMIReuestResponseUsingQRMIPMI(&record));
    EXPECT_EQ(controller.AcceptedSends(), 5u);
    EXPECT_EQ(libSleeps.milliseconds, std::vector<unsigned long long>(5, 50u));

    EXPECT_EQ(ReleaseQRMIPMILibrary(), 0);
    EXPECT_EQ(pQRMIPMILibHandle, nullptr);
    EXPECT_EQ(device.closedFds, std::vector<int>{device.fdToHand});
    EXPECT_EQ(ReleaseQRMIPMILibrary(), 0);   // nothing loaded: nothing to do

    const std::vector<std::string> log = KoltLogMessages(dir.file("KOLT_DBG.log"));
    EXPECT_TRUE(Contains(log, "Intialization of QRM IPMI Library successful"));
    EXPECT_TRUE(Contains(log, "InstallIPMI CPlatformLayer:UninstallZemo success"));
}

TEST_F(LibraryLoadTest, NoDeviceGives257AndTheObjectWaitsForRelease)
{
    device.existingPaths.clear();
    EXPECT_EQ(InitQRMIPMILibrary(), 257u);
    EXPECT_NE(pQRMIPMILibHandle, nullptr);
    EXPECT_EQ(ReleaseQRMIPMILibrary(), 0);
    EXPECT_EQ(pQRMIPMILibHandle, nullptr);
}

TEST_F(LibraryLoadTest, MissingDriverModulesGiveOne)
{
    host.loaded.clear();
    EXPECT_EQ(InitQRMIPMILibrary(), 1u);
    EXPECT_TRUE(device.openedPaths.empty());
}

TEST_F(LibraryLoadTest, SecondLoadReleasesTheLibraryHeld)
{
    ASSERT_EQ(InitQRMIPMILibrary(), 0u);
    EXPECT_TRUE(device.closedFds.empty());
    ASSERT_EQ(InitQRMIPMILibrary(), 0u);
    // The first library's device was closed before the second opened it.
    EXPECT_EQ(device.closedFds, std::vector<int>{device.fdToHand});
    EXPECT_EQ(device.openedPaths, (std::vector<std::string>{"/dev/ipmi0", "/dev/ipmi0"}));
    EXPECT_EQ(ReleaseQRMIPMILibrary(), 0);
    EXPECT_EQ(device.closedFds, (std::vector<int>{device.fdToHand, device.fdToHand}));
}
