// Opening and ending Tessa sessions against the management-controller
// model: the frames sent, the handle kept, the error numbers stored.

#include "KoltControllerTest.h"

namespace {

using Strings = std::vector<std::string>;

class TessaSessionTest : public KoltControllerTest {};

TEST_F(TessaSessionTest, ExtendedBeginAsksForTheSessionKindAndTimeoutAndTakesTheHandle)
{
    client->storeErrorInfo(KOLT_INTERNALERROR);

    EXPECT_TRUE(client->BeginTessaSessionExtended(1200));

    EXPECT_EQ(NewFrames(), Strings{"30 A2 12 02 B0 04 00 00"});
    EXPECT_EQ(client->session.active, 1);
    EXPECT_EQ(client->session.handle, 0x1234);
    EXPECT_EQ(client->getKOLTError(), KOLT_SUCCESS);
    EXPECT_TRUE(tessa.SessionOpen());
    EXPECT_TRUE(Contains(Log(), "Session started successfully using BeginTESSASessionExtended command"));
}

TEST_F(TessaSessionTest, PlainBeginSendsTheTimeoutLittleEndianAfterAZeroByte)
{
    tessa.SetSessionHandle(0xBEEF);

    EXPECT_TRUE(client->BeginTessaSession(60));

    EXPECT_EQ(NewFrames(), Strings{"30 A2 00 00 3C 00 00 00"});
    EXPECT_EQ(client->session.active, 1);
    EXPECT_EQ(client->session.handle, 0xBEEF);
    EXPECT_EQ(client->getKOLTError(), KOLT_SUCCESS);
    EXPECT_TRUE(Contains(Log(), "Session started successfully"));
}

TEST_F(TessaSessionTest, PlainBeginWithASessionOpenFailsWithTwentyNineAndSendsNothing)
{
    OpenSession();

    EXPECT_FALSE(client->BeginTessaSession(1200));

    EXPECT_TRUE(NewFrames().empty());
    EXPECT_EQ(client->getKOLTError(), KOLT_SESSIONACTIVE);
    EXPECT_EQ(client->session.active, 1);
    EXPECT_EQ(client->session.handle, 0x1234);
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "Session is already active"));
    EXPECT_TRUE(Contains(log, "BeginTessaSession failed"));
}

TEST_F(TessaSessionTest, ExtendedBeginWithASessionOpenSucceedsAndSendsNothingLeavingTheError)
{
    OpenSession();
    client->storeErrorInfo(KOLT_DELETEPARTITIONFAILED);

    EXPECT_TRUE(client->BeginTessaSessionExtended(1200));

    EXPECT_TRUE(NewFrames().empty());
    EXPECT_EQ(client->getKOLTError(), KOLT_DELETEPARTITIONFAILED);
    EXPECT_EQ(tessa.SessionsBegun(), 1u);
    EXPECT_TRUE(Contains(Log(), "BeginTESSASessionExtended Session is already active"));
}

TEST_F(TessaSessionTest, AnAnswerWithHandleZeroOpensTheSessionButKeepsThePreviousHandle)
{
    // After an end the previous handle is 0.
    OpenSession();
    ASSERT_TRUE(client->EndTessaSession());
    tessa.SetSessionHandle(0);

    EXPECT_TRUE(client->BeginTessaSessionExtended(1200));
    EXPECT_EQ(client->session.active, 1);
    EXPECT_EQ(client->session.handle, 0);

    // A handle the record still holds stays.
    ASSERT_TRUE(client->EndTessaSession());
    client->session.handle = 0x5678;
    EXPECT_TRUE(client->BeginTessaSession(1200));
    EXPECT_EQ(client->session.active, 1);
    EXPECT_EQ(client->session.handle, 0x5678);
}

TEST_F(TessaSessionTest, EndSendsTheHandleLittleEndianAndClearsTheWholeRecord)
{
    OpenSession();
    client->session.staticBits = 0x0007;
    client->session.dynamicBits = 0x0002;

    EXPECT_TRUE(client->EndTessaSession());

    EXPECT_EQ(NewFrames(), Strings{"30 A2 01 34 12 00 00"});
    EXPECT_EQ(client->session.handle, 0);
    EXPECT_EQ(client->session.active, 0);
    EXPECT_EQ(client->session.staticBits, 0);
    EXPECT_EQ(client->session.dynamicBits, 0);
    EXPECT_FALSE(tessa.SessionOpen());
    EXPECT_EQ(tessa.SessionsEnded(), 1u);
    EXPECT_TRUE(Contains(Log(), "EndTessaSession succeeded"));
}

TEST_F(TessaSessionTest, EndAfterAnEndFailsWithTwoAndSendsNothing)
{
    OpenSession();
    ASSERT_TRUE(client->EndTessaSession());
    Mark();

    EXPECT_FALSE(client->EndTessaSession());

    EXPECT_TRUE(NewFrames().empty());
    EXPECT_EQ(client->getKOLTError(), KOLT_NOSESSION);
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "No Active Session Found"));
    EXPECT_TRUE(Contains(log, "EndTessaSession failed"));
}

TEST_F(TessaSessionTest, RefusedEndStoresThirtyAndKeepsTheSessionOpen)
{
    OpenSession();
    client->session.staticBits = 0x0005;
    tessa.ScriptCodes(SimTessaController::EndSession, {SimTessaController::kAbort});

    EXPECT_FALSE(client->EndTessaSession());

    EXPECT_EQ(NewFrames(), Strings{"30 A2 01 34 12 00 00"});
    EXPECT_EQ(client->getKOLTError(), KOLT_ENDSESSIONFAILED);
    EXPECT_EQ(client->session.active, 1);
    EXPECT_EQ(client->session.handle, 0x1234);
    EXPECT_EQ(client->session.staticBits, 0x0005);
    const Strings log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "EndTessaSession failed"), 2);
}

TEST_F(TessaSessionTest, EndThatGetsNoAnswerFailsWithThirty)
{
    OpenSession();
    controller.ScriptSub(0x30, 0xA2, SimTessaController::EndSession, SimIpmiStep::Silence());

    EXPECT_FALSE(client->EndTessaSession());

    EXPECT_EQ(client->getKOLTError(), KOLT_ENDSESSIONFAILED);
    EXPECT_EQ(client->session.active, 1);
}

// A refused begin: the error number tells a controller before WaveB from a
// later one, by the cached generation, or by asking the controller while
// nothing is cached yet.
struct RefusedBeginCase {
    const char* name;
    bool extended;
    int cachedGeneration;          // -1: nothing cached
    uint8_t generationByte;        // the controller's answer when asked
    unsigned char error;
    size_t generationQueries;
};

void PrintTo(const RefusedBeginCase& c, std::ostream* os) { *os << c.name; }

const RefusedBeginCase kRefusedBegins[] = {
    {"PlainBeforeWaveB", false, 0, 0x20, KOLT_SESSIONFAILED_PREWAVEB, 0},
    {"PlainWaveB", false, 1, 0x20, KOLT_SESSIONFAILED, 0},
    {"PlainWaveG", false, 6, 0x20, KOLT_SESSIONFAILED, 0},
    {"ExtendedBeforeWaveB", true, 0, 0x20, KOLT_SESSIONFAILED_PREWAVEB, 0},
    {"ExtendedWaveC", true, 2, 0x05, KOLT_SESSIONFAILED, 0},
    {"UncachedAsksThePreWaveBController", true, -1, 0x0E, KOLT_SESSIONFAILED_PREWAVEB, 1},
    {"UncachedAsksTheWaveBController", false, -1, 0x0F, KOLT_SESSIONFAILED, 1},
};

class RefusedBegin : public TessaSessionTest, public ::testing::WithParamInterface<RefusedBeginCase> {};

TEST_P(RefusedBegin, StoresTheNumberOfTheGenerationAndLeavesTheSessionClosed)
{
    const RefusedBeginCase& c = GetParam();
    GenerationType = c.cachedGeneration;
    tessa.SetGenerationByte(c.generationByte);
    tessa.RefuseBegins(1);

    const bool begun = c.extended ? client->BeginTessaSessionExtended(1200) : client->BeginTessaSession(1200);

    EXPECT_FALSE(begun);
    EXPECT_EQ(client->getKOLTError(), c.error);
    EXPECT_EQ(client->session.active, 0);
    EXPECT_EQ(client->session.handle, 0);
    EXPECT_EQ(tessa.CountSub(c.extended ? SimTessaController::BeginSessionExtended : SimTessaController::BeginSession),
              1u);
    EXPECT_EQ(tessa.CountFrames(0x30, 0xBD), c.generationQueries);
    // Asking does not fill the cache.
    EXPECT_EQ(GenerationType, c.cachedGeneration);
    const Strings log = Log();
    if (c.extended) {
        EXPECT_TRUE(Contains(log, "BeginTESSASessionExtended Error starting session"));
        EXPECT_TRUE(Contains(log, "BeginTESSASessionExtended failed"));
    } else {
        EXPECT_TRUE(Contains(log, "Error starting session"));
        EXPECT_TRUE(Contains(log, "BeginTessaSession failed"));
    }
}

INSTANTIATE_TEST_SUITE_P(Sessions, RefusedBegin, ::testing::ValuesIn(kRefusedBegins),
                         [](const ::testing::TestParamInfo<RefusedBeginCase>& info) { return info.param.name; });

TEST_F(TessaSessionTest, BeginAfterAFailedOneClearsTheError)
{
    GenerationType = 2;
    tessa.RefuseBegins(1);
    ASSERT_FALSE(client->BeginTessaSessionExtended(1200));
    ASSERT_EQ(client->getKOLTError(), KOLT_SESSIONFAILED);

    EXPECT_TRUE(client->BeginTessaSession(1200));
    EXPECT_EQ(client->getKOLTError(), KOLT_SUCCESS);
    EXPECT_TRUE(tessa.SessionOpen());
}

TEST_F(TessaSessionTest, ABusyBeginIsResentTwoSecondsApart)
{
    tessa.ScriptCodes(SimTessaController::BeginSessionExtended, {0x08, 0x08});

    EXPECT_TRUE(client->BeginTessaSessionExtended(1200));

    EXPECT_EQ(NewFrames(), Strings(3, "30 A2 12 02 B0 04 00 00"));
    EXPECT_EQ(host.sleeps, (std::vector<int>{2, 2}));
    EXPECT_EQ(client->session.handle, 0x1234);
}

} // namespace
