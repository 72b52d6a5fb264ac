// A client object right after construction, and the process-wide data of
// its unit.

#include "KoltTestSupport.h"

// Built where the IPMI library cannot load, the construction stops right
// after it: every member keeps its start value but the error number.
TEST(SecureTessaData, StartValuesOfEveryMember)
{
    TempDir dir;
    OfflineClientHost offline;
    dynHandleIdx = 9;
    secureTessa client;
    EXPECT_EQ(client.addFileErrorClass, 1u);
    EXPECT_EQ(client.session.handle, 0);
    EXPECT_EQ(client.session.active, 0);
    EXPECT_EQ(client.session.staticBits, 0);
    EXPECT_EQ(client.session.dynamicBits, 0);
    EXPECT_TRUE(client.cfgEntries.empty());
    EXPECT_EQ(client.l_state, 0u);
    EXPECT_EQ(client.koltError, KOLT_IPMILIBINITFAILED);
    EXPECT_EQ(client.tessaType, 4u);
    EXPECT_TRUE(client.currentDropBox.empty());
    EXPECT_EQ(client.hostOsIndex, -1);
    EXPECT_EQ(client.restartFlag, 0u);
    EXPECT_TRUE(client.componentId.empty());
    EXPECT_EQ(client.freshInstall, 0);
    EXPECT_EQ(client.ready, 0);
    // Read before anything writes them on some paths: zero, not garbage.
    EXPECT_EQ(client.maxDropBoxBytes, 0u);
    EXPECT_EQ(client.entryCounter, 0u);
    EXPECT_EQ(client.nFileSetupDone, 0u);
    EXPECT_EQ(client.accessState, 0);

    EXPECT_EQ(dynHandleIdx, 0);
    EXPECT_EQ(GenerationType, -1);
    EXPECT_NE(pQRMIPMILibHandle, nullptr);   // the failed library, until destruction
    EXPECT_FALSE(BenchFlag);
}

TEST(SecureTessaData, BenchMarkerSetsTheFlag)
{
    TempDir dir;
    dir.write("benchtest", "");
    OfflineClientHost offline;
    secureTessa client;
    EXPECT_TRUE(BenchFlag);
}

TEST(SecureTessaData, SwapBytesExchangesTheTwoBytes)
{
    TempDir dir;
    OfflineClientHost offline;
    secureTessa client;
    EXPECT_EQ(client.swapBytes(0x0102), 0x0201);
    EXPECT_EQ(client.swapBytes(0x0004), 0x0400);
    EXPECT_EQ(client.swapBytes(0xFF00), 0x00FF);
}
