// Controller identity: generation, managed-storage type, access state with
// the recovery bypass, the capability query, and the hexadecimal reader.

#include "KoltControllerTest.h"

namespace {

using Strings = std::vector<std::string>;

class ControllerIdentityTest : public KoltControllerTest {};

struct GenerationCase {
    uint8_t dataByte5;
    int generation;
    const char* logLine;   // null: no generation line
};

void PrintTo(const GenerationCase& c, std::ostream* os) { *os << "byte " << int(c.dataByte5); }

const char* const kGenerationLines[] = {"It is a pre WaveB system", "It is a WaveD system", "It is a WaveE system",
                                        "It is a WaveF system",     "It is a WaveG system", "It is a WaveH system",
                                        "WaveC or WaveC Plus System"};

const GenerationCase kGenerations[] = {
    {0x00, 0, "It is a pre WaveB system"},
    {14, 0, "It is a pre WaveB system"},
    {15, 1, nullptr},
    {21, 1, nullptr},
    {22, 2, "WaveC or WaveC Plus System"},
    {0x2F, 2, "WaveC or WaveC Plus System"},
    {0x30, 3, "It is a WaveD system"},
    {0x32, 3, "It is a WaveD system"},
    {0x33, 2, "WaveC or WaveC Plus System"},
    {0x40, 4, "It is a WaveE system"},
    {0x52, 5, "It is a WaveF system"},
    {0x60, 6, "It is a WaveG system"},
    {0x62, 6, "It is a WaveG system"},
    {0x63, 2, "WaveC or WaveC Plus System"},
    {0x72, 7, "It is a WaveH system"},
    {0x73, 2, "WaveC or WaveC Plus System"},
    {0xFF, 2, "WaveC or WaveC Plus System"},
};

class GenerationTable : public ControllerIdentityTest, public ::testing::WithParamInterface<GenerationCase> {};

TEST_P(GenerationTable, DataByteFiveGivesTheGenerationType)
{
    const GenerationCase& c = GetParam();
    tessa.SetGenerationByte(c.dataByte5);

    EXPECT_EQ(client->GetSystemGeneration(), c.generation);

    EXPECT_EQ(NewFrames(), Strings{"30 BD"});
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "Entering GetSystemGeneration"));
    EXPECT_TRUE(Contains(log, "Get System Generation Succesfull"));
    for (const char* line : kGenerationLines) {
        const bool expected = c.logLine && std::string(c.logLine) == line;
        EXPECT_EQ(Contains(log, line), expected) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Identity, GenerationTable, ::testing::ValuesIn(kGenerations),
                         [](const ::testing::TestParamInfo<GenerationCase>& info) {
                             return "Byte" + std::to_string(info.param.dataByte5);
                         });

TEST_F(ControllerIdentityTest, WithoutACachedValueEveryCallAsksAndNothingIsCached)
{
    tessa.SetGenerationByte(0x20);
    EXPECT_EQ(client->GetSystemGeneration(), 2);
    tessa.SetGenerationByte(0x61);
    EXPECT_EQ(client->GetSystemGeneration(), 6);

    EXPECT_EQ(NewFrames(), (Strings{"30 BD", "30 BD"}));
    EXPECT_EQ(GenerationType, -1);
}

TEST_F(ControllerIdentityTest, ACachedValueIsReturnedWithoutAsking)
{
    GenerationType = 3;
    tessa.SetGenerationByte(0x20);

    EXPECT_EQ(client->GetSystemGeneration(), 3);
    EXPECT_EQ(client->GetSystemGeneration(), 3);

    EXPECT_TRUE(NewFrames().empty());
    EXPECT_TRUE(Contains(Log(), "GetSystemGeneration : Returning Cached Value:3"));
}

TEST_F(ControllerIdentityTest, TheQuerySendsOnlyNetFnAndCommandWhateverTheRecordHeld)
{
    std::memset(IPMIReqBuf.request, 0xA5, sizeof(IPMIReqBuf.request));

    EXPECT_EQ(QuerySystemGeneration(), 2);

    EXPECT_EQ(NewFrames(), Strings{"30 BD"});
}

// A failed query gives 0 (before WaveB) and says so; a query that got no
// answer at all is a failure too, although its cleared response would read
// as a successful pre-WaveB answer.
struct FailedGenerationCase {
    const char* name;
    SimIpmiStep step;
    size_t frames;   // accepted by the device (a refused send is not)
};

void PrintTo(const FailedGenerationCase& c, std::ostream* os) { *os << c.name; }

const FailedGenerationCase kFailedGenerations[] = {
    {"CompletionCode", SimIpmiStep::Code(0xC1), 1},
    {"NoAnswer", SimIpmiStep::Silence(), 1},
    {"SendRefused", SimIpmiStep::SendFailure(EIO), 0},
    // Completion code and data bytes 0 to 4: data byte 5 left out.
    {"AnswerEndsBeforeDataByteFive", SimIpmiStep::Short(6), 1},
    {"AnswerWithoutACompletionCode", SimIpmiStep::Short(0), 1},
};

class FailedGeneration : public ControllerIdentityTest,
                         public ::testing::WithParamInterface<FailedGenerationCase> {};

TEST_P(FailedGeneration, GivesZeroAndLogsTheFailure)
{
    const FailedGenerationCase& c = GetParam();
    tessa.SetGenerationByte(0x20);
    controller.Script(0x30, 0xBD, c.step);

    EXPECT_EQ(client->GetSystemGeneration(), 0);

    EXPECT_EQ(NewFrames(), Strings(c.frames, "30 BD"));
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "Get System Generation Failed"));
    EXPECT_FALSE(Contains(log, "Get System Generation Succesfull"));
    EXPECT_FALSE(Contains(log, "It is a pre WaveB system"));
    EXPECT_EQ(GenerationType, -1);
}

INSTANTIATE_TEST_SUITE_P(Identity, FailedGeneration, ::testing::ValuesIn(kFailedGenerations),
                         [](const ::testing::TestParamInfo<FailedGenerationCase>& info) { return info.param.name; });

TEST_F(ControllerIdentityTest, GenerationWithoutTheLibraryLoadedIsAFailure)
{
    ReleaseQRMIPMILibrary();

    EXPECT_EQ(QuerySystemGeneration(), 0);

    EXPECT_TRUE(Contains(Log(), "Get System Generation Failed"));
}

struct TypeCase {
    uint8_t typeByte;
    int type;
};

class TypeTable : public ControllerIdentityTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(TypeTable, DataByteZeroGivesTheTypeAndClearsTheError)
{
    tessa.SetTypeByte(GetParam().typeByte);
    client->storeErrorInfo(KOLT_INTERNALERROR);

    EXPECT_EQ(client->GetTessaType(), GetParam().type);

    EXPECT_EQ(NewFrames(), Strings{"30 AD 00 00"});
    EXPECT_EQ(client->getKOLTError(), KOLT_SUCCESS);
    // The member is the life cycle's to set.
    EXPECT_EQ(client->IsTessaPresent(), 4);
}

INSTANTIATE_TEST_SUITE_P(Identity, TypeTable,
                         ::testing::Values(TypeCase{0, 1}, TypeCase{1, 2}, TypeCase{2, 3}, TypeCase{3, 0},
                                           TypeCase{0xFF, 0}),
                         [](const ::testing::TestParamInfo<TypeCase>& info) {
                             return "Byte" + std::to_string(info.param.typeByte);
                         });

TEST_F(ControllerIdentityTest, AFailedTypeQueryMeansNoManagedStorage)
{
    controller.Script(0x30, 0xAD, SimIpmiStep::Code(0xC1));

    EXPECT_EQ(client->GetTessaType(), 0);

    EXPECT_EQ(client->getKOLTError(), KOLT_NOTESSAPRESENT);
    EXPECT_TRUE(Contains(Log(), "There is no tessa present on this system."));
}

// An answer that ends before the data byte a query reads is a failed
// query: the byte left out would read as 0, "standard" or "enabled". The
// completion code and the data byte alone are a whole answer.
TEST_F(ControllerIdentityTest, AnAnswerWithoutItsDataByteIsAFailedQuery)
{
    tessa.SetTypeByte(1);     // Lite
    tessa.SetAccessState(1);  // disabled
    for (size_t bytes : {0, 1}) {
        controller.Script(0x30, 0xAD, SimIpmiStep::Short(bytes));
        controller.Script(0x30, 0xAE, SimIpmiStep::Short(bytes));
        client->storeErrorInfo(KOLT_SUCCESS);
        EXPECT_EQ(client->GetTessaType(), 0) << bytes;
        EXPECT_EQ(client->getKOLTError(), KOLT_NOTESSAPRESENT) << bytes;
        client->accessState = 0x55;
        EXPECT_FALSE(client->IsTessaEnabled()) << bytes;
        EXPECT_EQ(client->getKOLTError(), KOLT_ACCESSSTATEFAILED) << bytes;
        EXPECT_EQ(client->accessState, 0x55) << bytes;
    }
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "There is no tessa present on this system."));
    EXPECT_TRUE(Contains(log, "The getTessaAccessState IPMI command failed."));

    controller.Script(0x30, 0xAD, SimIpmiStep::Short(2));
    controller.Script(0x30, 0xAE, SimIpmiStep::Short(2));
    EXPECT_EQ(client->GetTessaType(), 2);
    EXPECT_FALSE(client->IsTessaEnabled());
    EXPECT_EQ(client->getKOLTError(), KOLT_SUCCESS);
    EXPECT_EQ(client->accessState, 1);
}

TEST_F(ControllerIdentityTest, IsTessaPresentGivesTheKnownType)
{
    client->tessaType = 2;
    EXPECT_EQ(client->IsTessaPresent(), 2);
    EXPECT_TRUE(NewFrames().empty());
}

TEST_F(ControllerIdentityTest, EnabledAccessStateNeedsNoPackage)
{
    client->accessState = 7;
    client->storeErrorInfo(KOLT_INTERNALERROR);

    EXPECT_TRUE(client->IsTessaEnabled());

    EXPECT_EQ(NewFrames(), Strings{"30 AE 00 00"});
    EXPECT_EQ(client->accessState, 0);
    EXPECT_EQ(client->getKOLTError(), KOLT_SUCCESS);
    for (const std::string& line : Log())
        EXPECT_EQ(line.find("byPassRecoveryState"), std::string::npos) << line;
}

TEST_F(ControllerIdentityTest, AFailedAccessStateQueryStoresFortyFive)
{
    controller.Script(0x30, 0xAE, SimIpmiStep::Code(0xC1));

    EXPECT_FALSE(client->IsTessaEnabled());

    EXPECT_EQ(client->getKOLTError(), KOLT_ACCESSSTATEFAILED);
    EXPECT_TRUE(Contains(Log(), "The getTessaAccessState IPMI command failed."));
}

// Recovery state (2) is let through only for the package whose component
// id is "28897"; any other state that is not 0 stays disabled.
struct AccessCase {
    const char* name;
    uint8_t state;
    const char* componentId;   // null: no package descriptor
    bool enabled;
    uint8_t accessState;
    const char* bypassLine;    // the recovery bypass's verdict, or null
};

void PrintTo(const AccessCase& c, std::ostream* os) { *os << c.name; }

const char* const kMatched = "byPassRecoveryState: Component ID Matched for recovery state bypass.";
const char* const kNotMatched = "byPassRecoveryState: Component ID Didn't match for recovery state bypass.";
const char* const kNoId = "byPassRecoveryState: Could not get Component ID";

const AccessCase kAccessCases[] = {
    {"EnabledAsksNoPackage", 0, "28897", true, 0, nullptr},
    {"RecoveryWithTheBypassPackage", 2, "28897", true, 0, kMatched},
    {"RecoveryWithAnotherPackage", 2, "28898", false, 2, kNotMatched},
    {"RecoveryWithoutAPackage", 2, nullptr, false, 2, kNoId},
    {"DisabledWithTheBypassPackage", 1, "28897", false, 1, kMatched},
    {"OtherStateWithAnotherPackage", 0x80, "100", false, 0x80, kNotMatched},
};

class AccessState : public ControllerIdentityTest, public ::testing::WithParamInterface<AccessCase> {};

TEST_P(AccessState, RecoveryIsBypassedOnlyForTheNamedPackage)
{
    const AccessCase& c = GetParam();
    if (c.componentId)
        dir.write("package.xml", std::string("<?xml version=\"1.0\"?>\n<SoftwareComponent><SupportedDevices>"
                                             "<Device componentID=\"") +
                                     c.componentId + "\"/></SupportedDevices></SoftwareComponent>\n");
    tessa.SetAccessState(c.state);
    client->accessState = 0x55;
    client->storeErrorInfo(KOLT_INTERNALERROR);

    EXPECT_EQ(client->IsTessaEnabled(), c.enabled);

    EXPECT_EQ(NewFrames(), Strings{"30 AE 00 00"});
    EXPECT_EQ(client->accessState, c.accessState);
    EXPECT_EQ(client->getKOLTError(), KOLT_SUCCESS);
    // Whoever reads the answer later sees the state the verdict stands on.
    EXPECT_EQ(IPMIReqBuf.response[3], c.enabled ? 0 : c.state);
    const Strings log = Log();
    for (const char* line : {kMatched, kNotMatched, kNoId})
        EXPECT_EQ(Contains(log, line), c.bypassLine && std::string(c.bypassLine) == line) << line;
    const bool bypassed = c.bypassLine == kMatched;
    EXPECT_EQ(Contains(log, "VC recovery state by pass is true."), bypassed);
    EXPECT_EQ(Contains(log, "VC is in recovery state."), bypassed && c.state == 2);
    if (c.componentId && c.state != 0) {
        EXPECT_TRUE(Contains(log, std::string("byPassRecoveryState: Component ID is ") + c.componentId));
    }
}

INSTANTIATE_TEST_SUITE_P(Identity, AccessState, ::testing::ValuesIn(kAccessCases),
                         [](const ::testing::TestParamInfo<AccessCase>& info) { return info.param.name; });

TEST_F(ControllerIdentityTest, CapabilityQueryGivesTheRequestResult)
{
    EXPECT_EQ(client->iSWaveCTomel(), 0);
    EXPECT_EQ(NewFrames(), Strings{"30 BF 04"});
    EXPECT_TRUE(Contains(Log(), "Function secureTessa::iSWaveCTomel closed"));

    controller.Script(0x30, 0xBF, SimIpmiStep::Code(0xC1));
    EXPECT_EQ(client->iSWaveCTomel(), 1);
    EXPECT_TRUE(Contains(Log(), "Function secureTessa::iSWaveCTomel failed closed"));
}

TEST(Ascii2Hex, ReadsLeadingHexadecimalText)
{
    EXPECT_EQ(Ascii2Hex("1A"), 0x1A);
    EXPECT_EQ(Ascii2Hex("ff"), 0xFF);
    EXPECT_EQ(Ascii2Hex("0x7085"), 0x7085);
    EXPECT_EQ(Ascii2Hex(" 10 20"), 0x10);
    EXPECT_EQ(Ascii2Hex("12zz"), 0x12);
    EXPECT_EQ(Ascii2Hex("zz"), 0);
    EXPECT_EQ(Ascii2Hex(""), 0);
}

} // namespace
