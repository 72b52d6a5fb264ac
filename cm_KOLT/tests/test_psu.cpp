// Power-supply count and version queries through the plain request path.

#include "KoltControllerTest.h"

namespace {

using Strings = std::vector<std::string>;

class PowerSupplyTest : public KoltControllerTest {
protected:
    SimTessaController::PowerSupply Supply(const std::string& text, uint8_t flags, uint8_t presence0,
                                           uint8_t presence1)
    {
        SimTessaController::PowerSupply psu;
        psu.presence[0] = presence0;
        psu.presence[1] = presence1;
        psu.version = 0x0A0B0C0D;
        psu.text = text;
        psu.flags = flags;
        return psu;
    }
};

TEST_F(PowerSupplyTest, CountComesFromParameterEA)
{
    tessa.SetPowerSupplyCount(3);
    int count = -7;

    EXPECT_EQ(client->getPSCount(count), 0);

    EXPECT_EQ(count, 3);
    EXPECT_EQ(NewFrames(), Strings{"06 59 00 EA 00 00"});
}

TEST_F(PowerSupplyTest, ARefusedCountQueryFailsAndLeavesTheCount)
{
    controller.Script(0x06, 0x59, SimIpmiStep::Code(0xCC));
    int count = -7;

    EXPECT_EQ(client->getPSCount(count), -1);

    EXPECT_EQ(count, -7);
    EXPECT_TRUE(Contains(Log(), "IPMI Command ERROR"));
}

TEST_F(PowerSupplyTest, ACountQueryThatNeverGetsAReplyIsSentTenTimesTwoSecondsApart)
{
    controller.Script(0x06, 0x59, SimIpmiStep::Silence(), 10);
    int count = -7;

    EXPECT_EQ(client->getPSCount(count), -1);

    EXPECT_EQ(NewFrames(), Strings(10, "06 59 00 EA 00 00"));
    EXPECT_EQ(host.sleeps, std::vector<int>(10, 2));
    EXPECT_EQ(count, -7);
}

TEST_F(PowerSupplyTest, VersionTextAndFlagOfOneSupply)
{
    tessa.SetPowerSupply(2, Supply("PS-1", 0x01, 0x01, 0x00));
    unsigned int version = 0, flag = 9;
    std::string text = "earlier content";

    EXPECT_EQ(client->getPSUVersion(2, version, text, flag), 0);

    EXPECT_EQ(NewFrames(), Strings{"30 B0 0A 02"});
    EXPECT_EQ(version, 0x0A0B0C0Du);
    EXPECT_EQ(text, "PS-1");
    EXPECT_EQ(flag, 1u);
}

TEST_F(PowerSupplyTest, EightCharactersWithoutATerminatorAreTheWholeText)
{
    tessa.SetPowerSupply(1, Supply("ABCDEFGH", 0x00, 0x01, 0x01));
    unsigned int version = 0, flag = 9;
    std::string text;

    EXPECT_EQ(client->getPSUVersion(1, version, text, flag), 0);

    EXPECT_EQ(text, "ABCDEFGH");
}

TEST_F(PowerSupplyTest, TheTextStopsAtEightBytesWhatFollowsIt)
{
    // Every byte of the answer non-zero: the text field has no end of its own.
    controller.SetHandler(0x30, 0xB0, [](const SimIpmiRequest&) {
        SimIpmiReply reply;
        reply.data.assign(27, 'X');
        return reply;
    });
    unsigned int version = 0, flag = 0;
    std::string text;

    EXPECT_EQ(client->getPSUVersion(1, version, text, flag), 0);

    EXPECT_EQ(text, "XXXXXXXX");
    EXPECT_EQ(version, 0x58585858u);
    EXPECT_EQ(flag, 0u);   // 'X' has bit 0 clear
}

struct FlagCase {
    const char* name;
    uint8_t flags;
    uint8_t presence0;
    uint8_t presence1;
    unsigned int flag;
};

void PrintTo(const FlagCase& c, std::ostream* os) { *os << c.name; }

const FlagCase kFlags[] = {
    {"BitZeroAndFirstPresenceByte", 0x01, 0x01, 0x00, 1},
    {"BitZeroAndSecondPresenceByte", 0x03, 0x00, 0x80, 1},
    {"BitZeroWithoutPresence", 0x01, 0x00, 0x00, 0},
    {"PresenceWithoutBitZero", 0xFE, 0x01, 0x01, 0},
};

class PowerSupplyFlag : public PowerSupplyTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(PowerSupplyFlag, NeedsBitZeroAndAPresenceByte)
{
    const FlagCase& c = GetParam();
    tessa.SetPowerSupply(1, Supply("PS", c.flags, c.presence0, c.presence1));
    unsigned int version = 0, flag = 9;
    std::string text;

    EXPECT_EQ(client->getPSUVersion(1, version, text, flag), 0);

    EXPECT_EQ(flag, c.flag);
}

INSTANTIATE_TEST_SUITE_P(Psu, PowerSupplyFlag, ::testing::ValuesIn(kFlags),
                         [](const ::testing::TestParamInfo<FlagCase>& info) { return info.param.name; });

TEST_F(PowerSupplyTest, ARefusedVersionQueryFailsAndLeavesTheOutputs)
{
    // The controller knows no power supply 4 and says so.
    tessa.SetPowerSupply(1, Supply("PS-1", 0x01, 0x01, 0x00));
    unsigned int version = 77, flag = 9;
    std::string text = "before";

    EXPECT_EQ(client->getPSUVersion(4, version, text, flag), -1);

    EXPECT_EQ(NewFrames(), Strings{"30 B0 0A 04"});
    EXPECT_EQ(version, 77u);
    EXPECT_EQ(text, "before");
    EXPECT_EQ(flag, 9u);
    EXPECT_TRUE(Contains(Log(), "IPMI Command ERROR"));
}

// An answer that ends before the last byte a query reads fails the query:
// the bytes left out would read as zeros. The count is answer byte 9
// (completion code first), the version's flag byte answer byte 22.
TEST_F(PowerSupplyTest, AnAnswerEndingBeforeTheBytesReadFailsTheQuery)
{
    tessa.SetPowerSupplyCount(3);
    tessa.SetPowerSupply(1, Supply("PS-1", 0x01, 0x01, 0x00));
    int count = -7;
    unsigned int version = 77, flag = 9;
    std::string text = "before";
    for (size_t bytes : {1, 9}) {
        controller.Script(0x06, 0x59, SimIpmiStep::Short(bytes));
        EXPECT_EQ(client->getPSCount(count), -1) << bytes;
        EXPECT_EQ(count, -7) << bytes;
    }
    for (size_t bytes : {1, 14, 22}) {
        controller.Script(0x30, 0xB0, SimIpmiStep::Short(bytes));
        EXPECT_EQ(client->getPSUVersion(1, version, text, flag), -1) << bytes;
        EXPECT_EQ(version, 77u) << bytes;
        EXPECT_EQ(text, "before") << bytes;
        EXPECT_EQ(flag, 9u) << bytes;
    }
    EXPECT_TRUE(Contains(Log(), "IPMI Command ERROR"));

    controller.Script(0x06, 0x59, SimIpmiStep::Short(10));
    EXPECT_EQ(client->getPSCount(count), 0);
    EXPECT_EQ(count, 3);
    controller.Script(0x30, 0xB0, SimIpmiStep::Short(23));
    EXPECT_EQ(client->getPSUVersion(1, version, text, flag), 0);
    EXPECT_EQ(version, 0x0A0B0C0Du);
    EXPECT_EQ(text, "PS-1");
    EXPECT_EQ(flag, 1u);
}

TEST_F(PowerSupplyTest, QueriesUseTheirOwnRecordAndLeaveTheSharedOneAlone)
{
    tessa.SetPowerSupplyCount(2);
    std::memset(&IPMIReqBuf, 0x5A, sizeof(IPMIReqBuf));
    const _QRMIPMICommandData before = IPMIReqBuf;
    int count = 0;

    EXPECT_EQ(client->getPSCount(count), 0);

    EXPECT_EQ(std::memcmp(&IPMIReqBuf, &before, sizeof(before)), 0);
}

} // namespace
