// The state flag request and the file-system flush.

#include "KoltControllerTest.h"

namespace {

using Strings = std::vector<std::string>;

class StateFlagTest : public KoltControllerTest {};

TEST_F(StateFlagTest, FlagGoesInByteSixWithTheSessionHandleAndClearsTheError)
{
    OpenSession();
    client->storeErrorInfo(KOLT_DELETEPARTITIONFAILED);

    EXPECT_EQ(client->setStateFlag(5), 0);

    EXPECT_EQ(NewFrames(), Strings{"30 A2 11 34 12 00 05"});
    EXPECT_EQ(tessa.StateFlags(), std::vector<uint8_t>{5});
    EXPECT_EQ(client->getKOLTError(), KOLT_SUCCESS);
}

TEST_F(StateFlagTest, WithoutASessionTheRequestStillGoesOutWithTheHandleTheRecordHolds)
{
    client->storeErrorInfo(KOLT_SUCCESS);

    // The controller refuses a request without its session's handle.
    EXPECT_EQ(client->setStateFlag(5), 1);

    EXPECT_EQ(NewFrames(), Strings{"30 A2 11 00 00 00 05"});
    EXPECT_TRUE(tessa.StateFlags().empty());
    EXPECT_EQ(client->getKOLTError(), KOLT_SETSTATEFLAGFAILED);
    EXPECT_EQ(client->getKOLTError(), 49);
    EXPECT_TRUE(Contains(Log(), "IPMI call for setStateFlag failed."));
}

TEST_F(StateFlagTest, AFlagTheControllerNeverAnswersFails)
{
    OpenSession();
    controller.ScriptSub(0x30, 0xA2, SimTessaController::SetStateFlag, SimIpmiStep::Silence());

    EXPECT_EQ(client->setStateFlag(5), 1);

    EXPECT_EQ(client->getKOLTError(), KOLT_SETSTATEFLAGFAILED);
    EXPECT_TRUE(tessa.StateFlags().empty());
}

TEST_F(StateFlagTest, ABusyControllerIsAskedAgainTwoSecondsLater)
{
    OpenSession();
    tessa.ScriptCodes(SimTessaController::SetStateFlag, {0x08});

    EXPECT_EQ(client->setStateFlag(5), 0);

    EXPECT_EQ(NewFrames(), Strings(2, "30 A2 11 34 12 00 05"));
    EXPECT_EQ(host.sleeps, std::vector<int>{2});
    EXPECT_EQ(tessa.StateFlags(), std::vector<uint8_t>{5});
}

TEST_F(StateFlagTest, SyncAllFlushesEveryFileSystemWhateverTheOutcome)
{
    for (int status : {0, 256}) {
        host.answer("sync", status);
        host.take();

        EXPECT_EQ(syncAll("/tmp/SECUPD/"), 0);

        EXPECT_EQ(host.take(), Strings{"sync"});
    }
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "Entering syncAll and the mount point is /tmp/SECUPD/"));
    EXPECT_TRUE(Contains(log, "Leaving syncAll"));
    EXPECT_TRUE(NewFrames().empty());
}

} // namespace
