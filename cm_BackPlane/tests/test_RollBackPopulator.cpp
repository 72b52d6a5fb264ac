// The populator around the rollback wrapper: what it logs, and how it turns
// the wrapper's results into its own.

#include <new>

#include "RollbackWrapperTest.h"

#include "Logger.h"
#include "RollBackPopulator.h"

namespace {

class Populator : public RollbackWrapperTest {
protected:
    void SetUp() override { ASSERT_TRUE(CLogger::GetInstance()->Initialize(dir.file("debug_update.log"))); }

    // The populator's lines of the debug log, the prefix taken off.
    std::vector<std::string> DebugLog() const
    {
        static const std::regex line(R"(^\[[^\]]*\] : +RollBackPopulator: *\d+: (.*)$)");
        std::vector<std::string> lines;
        std::istringstream in(readWholeFile(dir.file("debug_update.log")));
        std::string text;
        std::smatch parts;
        while (std::getline(in, text))
            if (std::regex_match(text, parts, line))
                lines.push_back(parts[1]);
        return lines;
    }

    std::vector<std::string> PayloadList()
    {
        dir.write("payload/fw.bin", "firmware");
        return {dir.path() + "/payload/fw.bin"};
    }

    // The lines of one populator with a wrapper around one payload file, its
    // outcome line in the middle.
    static std::vector<std::string> RunLines(const std::string& outcome)
    {
        return {"CRollBackPopulator::CRollBackPopulator() START",
                "CRollBackPopulator::CRollBackPopulator() END",
                "CRollBackPopulator::PopulateRollbackPartition() start",
                "CRollBackPopulator::::PopulateRollbackPartition:Populate File Size is : 1",
                "CRollBackPopulator:: Calling m_pUpdateRollBackWrapper->doRollbackAndUpdate ",
                outcome,
                "CRollBackPopulator::::PopulateRollbackPartition() END",
                "CRollBackPopulator::~CRollBackPopulator()"};
    }
};

} // namespace

TEST_F(Populator, WithoutWrapperItRefusesWithMinusOne)
{
    {
        CRollBackPopulator populator(nullptr);
        EXPECT_EQ(populator.PopulateRollbackPartition({"/x/payload/fw.bin"}), -1);
    }
    EXPECT_EQ(DebugLog(), (std::vector<std::string>{"CRollBackPopulator::CRollBackPopulator() START",
                                                    "CRollBackPopulator::CRollBackPopulator() pUpdRollbackWrapper is NULL",
                                                    "CRollBackPopulator::CRollBackPopulator() END",
                                                    "CRollBackPopulator::PopulateRollbackPartition() start",
                                                    "Update Rollback Wrapper Not initialized: exiting",
                                                    "CRollBackPopulator::~CRollBackPopulator()"}));
}

struct ResultCase {
    const char* name;
    uint8_t generationByte;
    std::vector<uint8_t> vcStates;
    int result;
    std::string hex;
};

void PrintTo(const ResultCase& c, std::ostream* os) { *os << c.name; }

class PopulatorResult : public Populator, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(PopulatorResult, IsTheWrappersAndIsLoggedInHex)
{
    const ResultCase& c = GetParam();
    tessa.SetGenerationByte(c.generationByte);
    tessa.SetVCStates(c.vcStates);
    UpdRollbackWrapper& w = NewWrapper();
    {
        CRollBackPopulator populator(&w);
        EXPECT_EQ(populator.PopulateRollbackPartition(PayloadList()), c.result);
    }
    EXPECT_EQ(DebugLog(),
              RunLines("CRollBackPopulator::doRollbackAndUpdate Done succesfully with return code : " + c.hex));
    // The populator borrowed the wrapper: it is still whole.
    EXPECT_EQ(w.ready, 1);
    EXPECT_EQ(dir.read("rollback_attempt.txt"), "");
}

INSTANTIATE_TEST_SUITE_P(
    EarlyResults, PopulatorResult,
    ::testing::Values(ResultCase{"WaveG", 0x60, {0}, 20, "14"},
                      ResultCase{"VCNeverReady", 0x20, {1}, 69, "45"}),
    [](const ::testing::TestParamInfo<ResultCase>& info) { return info.param.name; });

// An exception out of the wrapper that is no KOLT number (memory running out
// in the middle of a request) is a failure of the rollback: -1 and its own
// line, never a result of 0 or the done line.
TEST_F(Populator, AnUnexpectedExceptionOutOfTheWrapperIsAFailure)
{
    UpdRollbackWrapper& w = NewWrapper();
    controller.SetHandler(0x30, 0xA9, [](const SimIpmiRequest&) -> SimIpmiReply { throw std::bad_alloc(); });
    {
        CRollBackPopulator populator(&w);
        EXPECT_EQ(populator.PopulateRollbackPartition(PayloadList()), -1);
    }
    EXPECT_EQ(DebugLog(), RunLines("CRollBackPopulator::::PopulateRollbackPartition: UnCatched Exception"));
}
