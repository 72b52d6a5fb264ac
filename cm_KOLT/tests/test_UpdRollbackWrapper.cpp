// The rollback wrapper's construction and the orchestration of one rollback
// against the management-controller model.

#include "RollbackWrapperTest.h"

#include <functional>

namespace {

const std::string kRuleUsb = std::string(kUdevRulesEtc) + "98-secupdusb.rules";

bool Exists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

class WrapperConstruction : public RollbackWrapperTest {};

class Orchestration : public RollbackWrapperTest {
protected:
    // doRollbackAndUpdate as the populator calls it, with the payload file
    // beside the executable.
    int Run(std::vector<std::string> paths)
    {
        return wrapper->doRollbackAndUpdate(paths, nullptr, nullptr, true, message, false, false, "");
    }
    std::vector<std::string> Payload()
    {
        dir.write("payload/fw.bin", "firmware");
        return {dir.path() + "/payload/fw.bin"};
    }

    std::string message = "untouched";
};

struct RefusedCase {
    const char* name;
    std::function<void(RollbackWrapperTest&)> arrange;
    int thrown;
    std::string line;   // the constructor's failure line
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RefusedConstruction : public RollbackWrapperTest, public ::testing::WithParamInterface<RefusedCase> {
public:
    using RollbackWrapperTest::host;
    using RollbackWrapperTest::tessa;
};

const char* const kNotReady = " Error in Update Rollback Wrapper Constructor Could not initialize Secure Tessa error code ";

} // namespace

TEST_F(WrapperConstruction, HealthyControllerGivesAReadyWrapperWithSessionOpen)
{
    UpdRollbackWrapper& w = NewWrapper();
    EXPECT_EQ(w.ready, 1);
    EXPECT_EQ(w.rollbackMethod, 0);
    EXPECT_EQ(w.getKOLTError(), 0);
    EXPECT_EQ(GenerationType, 2);
    EXPECT_TRUE(tessa.SessionOpen());
    EXPECT_TRUE(Contains(Log(), "Secure Tessa initialized successfully"));

    wrapper.reset();
    EXPECT_FALSE(tessa.SessionOpen());
    EXPECT_EQ(pQRMIPMILibHandle, nullptr);
    EXPECT_FALSE(Exists(kRuleUsb));
}

TEST_P(RefusedConstruction, ThrowsTheNumberAndLeavesNothingBehind)
{
    const RefusedCase& c = GetParam();
    c.arrange(*this);
    EXPECT_EQ(ConstructionError(), c.thrown);
    EXPECT_EQ(wrapper, nullptr);
    const std::vector<std::string> log = Log();
    EXPECT_TRUE(Contains(log, c.line)) << testing::PrintToString(log);
    // The base part already built was taken down by the throw.
    EXPECT_EQ(pQRMIPMILibHandle, nullptr);
    EXPECT_FALSE(Exists(kRuleUsb));
    EXPECT_FALSE(tessa.SessionOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Causes, RefusedConstruction,
    ::testing::Values(
        // The client stored an error while it was built.
        RefusedCase{"LibraryCannotLoad", [](RollbackWrapperTest& t) {
                        static_cast<RefusedConstruction&>(t).host.loaded.clear();
                    },
                    KOLT_IPMILIBINITFAILED, "Could not create Secure Tessa object"},
        // Initialisation stored an error.
        RefusedCase{"StorageDisabled", [](RollbackWrapperTest& t) {
                        static_cast<RefusedConstruction&>(t).tessa.SetAccessState(1);
                    },
                    KOLT_TESSADISABLED, kNotReady + std::string("55")},
        RefusedCase{"NoSession", [](RollbackWrapperTest& t) {
                        static_cast<RefusedConstruction&>(t).tessa.RefuseBegins(1000);
                    },
                    KOLT_SESSIONFAILED, kNotReady + std::string("63")},
        // Not ready without an error of its own: never 0, which the caller
        // would take as a staged copy.
        RefusedCase{"NoManagedStorageType", [](RollbackWrapperTest& t) {
                        static_cast<RefusedConstruction&>(t).tessa.SetTypeByte(5);
                    },
                    KOLT_NOTESSAPRESENT, kNotReady + std::string("20")}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

TEST_F(Orchestration, WaveGIsLeftAloneWith20)
{
    tessa.SetGenerationByte(0x60);
    NewWrapper();
    dir.write("rollback_attempt.txt", "left from before");
    EXPECT_EQ(Run(Payload()), 20);
    EXPECT_TRUE(NewFrames().empty());
    EXPECT_TRUE(host.sleeps.empty());
    EXPECT_EQ(NewLog(), (std::vector<std::string>{
                            "Entering to doRollbackAndUpdate",
                            "Exiting doRollbackAndUpdate - this is WaveG server [KOLT_NOTESSAPRESENT]"}));
    EXPECT_TRUE(dir.exists("rollback_attempt.txt"));
    EXPECT_EQ(dir.read("rollback_attempt.txt"), "");
    EXPECT_EQ(message, "untouched");
    EXPECT_EQ(wrapper->rollbackMethod, 0);
}

TEST_F(Orchestration, VCNeverReadyIs69After100PollsFiveSecondsApart)
{
    tessa.SetVCStates({1});
    NewWrapper();
    EXPECT_EQ(Run(Payload()), 69);
    EXPECT_EQ(NewFrames(), std::vector<std::string>(100, "30 A9 1E"));
    EXPECT_EQ(host.sleeps, std::vector<int>(100, 5));
    const std::vector<std::string> log = NewLog();
    EXPECT_TRUE(Contains(log, "Not able to update.Please make the VC available"));
    EXPECT_FALSE(Contains(log, "Leaving doRollbackAndUpdate"));
    EXPECT_EQ(dir.read("rollback_attempt.txt"), "");
    EXPECT_EQ(message, "untouched");
    EXPECT_EQ(wrapper->rollbackMethod, 0);
}

TEST_F(Orchestration, OlderMethodSkipsESXiHostsWithSuccess)
{
    UpdRollbackWrapper& w = NewWrapper();
    w.hostOsIndex = ESXi;
    std::string text = "untouched";
    char category[] = "BIOS";
    char file[] = "/x/fw.bin";
    for (bool ssibTask : {false, true}) {
        SCOPED_TRACE(ssibTask);
        EXPECT_EQ(w.rollbackUsingWaveBMethod(Payload(), category, file, true, text, ssibTask, false, ""), 0);
    }
    EXPECT_EQ(text, "untouched");
    EXPECT_TRUE(NewFrames().empty());
    EXPECT_TRUE(w.cfgEntries.empty());
    EXPECT_TRUE(Contains(NewLog(), "Rollback Is not Supported On ESXi. Exiting"));
}

TEST_F(Orchestration, OlderMethodRefusesAnSsibTaskBeforeTouchingTheController)
{
    UpdRollbackWrapper& w = NewWrapper();
    std::string text;
    char category[] = "BIOS";
    char file[] = "/x/fw.bin";
    EXPECT_EQ(w.rollbackUsingWaveBMethod(Payload(), category, file, true, text, true, false, ""), -1);
    EXPECT_EQ(text, "KOLT createComponentIdFile failed");
    EXPECT_TRUE(NewFrames().empty());
    EXPECT_TRUE(w.cfgEntries.empty());
    const std::vector<std::string> log = NewLog();
    EXPECT_TRUE(Contains(log, "Creating the compid.xml & ssibinput.xml for creating the SSIB Task"));
    EXPECT_TRUE(Contains(log, "The component-id and SSIB documents cannot be created by this program"));
    EXPECT_FALSE(Contains(log, "Entering addPayloadFiles"));
}
