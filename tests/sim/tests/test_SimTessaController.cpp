// The management-controller model of the OEM managed-storage protocol,
// driven through the IPMI library's device seam, so the library's own
// resends stay in play: frames in, answers out, and the knobs.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "QRMIPMIInterfaceImpl.h"
#include "SimIPMIDeviceAdapter.h"
#include "SimManagementController.h"
#include "SimTessaController.h"
#include "TempDir.h"

using Bytes = std::vector<uint8_t>;

namespace {

// The model behind the library's device seam, with a library of its own.
struct Bench {
    SimManagementController controller;
    SimTessaController tessa{controller};
    SimIPMIDevice device{controller};
    SimIPMISleepRecorder sleeps;
    SimIPMISeamGuard seams{&device, &sleeps};
    QRMIPMIInterfaceImpl* library = new QRMIPMIInterfaceImpl;

    ~Bench()
    {
        library->Release();
        delete library;
    }
};

class TessaModelTest : public ::testing::Test {
protected:
    TessaModelTest() { Fresh(); }

    // A new controller in its starting state, and a new library.
    void Fresh()
    {
        bench.reset();
        bench.reset(new Bench);
    }

    struct Outcome {
        unsigned result;
        std::string answer;   // completion code and data, as the library hands them back
    };

    // One library exchange of `frame` (NetFn, command, data).
    Outcome Send(const Bytes& frame)
    {
        _QRMIPMICommandData record;
        std::memset(&record, 0, sizeof(record));
        std::memcpy(record.request, frame.data(), frame.size());
        record.requestLength = static_cast<uint32_t>(frame.size());
        Outcome out;
        out.result = bench->library->IPMIRequest(&record);
        Bytes answer;
        for (uint32_t i = 2; i < record.responseLength && i < sizeof(record.response); ++i)
            answer.push_back(record.response[i]);
        out.answer = SimHex(answer);
        return out;
    }

    void BeginSession()
    {
        ASSERT_EQ(Send({0x30, 0xA2, 0x12, 0x02, 0xB0, 0x04, 0x00, 0x00}).answer, "00 34 12 00 00 00 00");
    }

    TempDir dir;   // no library configuration file, no debug marker
    std::unique_ptr<Bench> bench;
    SimManagementController& controller() { return bench->controller; }
    SimTessaController& tessa() { return bench->tessa; }
};

struct Step {
    const char* what;
    Bytes frame;
    const char* answer;   // completion code first
};

} // namespace

TEST_F(TessaModelTest, ASessionWithAStaleDropBoxAnswersByteForByte)
{
    tessa().AddDynamicPartition(0, "SECUPD");
    const std::vector<Step> steps = {
        {"generation", {0x30, 0xBD}, "00 00 00 00 00 00 20"},
        {"type", {0x30, 0xAD, 0x00, 0x00}, "00 00 00 00"},
        {"access state", {0x30, 0xAE, 0x00, 0x00}, "00 00 00 00"},
        {"extended begin", {0x30, 0xA2, 0x12, 0x02, 0xB0, 0x04, 0x00, 0x00}, "00 34 12 00 00 00 00"},
        {"index info", {0x30, 0xA2, 0x03, 0x34, 0x12, 0x00, 0x00}, "00 34 12 00 07 00 00 00 01 00 00"},
        {"static bit 2", {0x30, 0xA2, 0x04, 0x34, 0x12, 0x00, 0x02, 0x00, 0x00},
         "00 34 12 00 02 54 45 53 30 32 32 00"},
        {"dynamic bit 0", {0x30, 0xA2, 0x04, 0x34, 0x12, 0x80, 0x00, 0x00, 0x00},
         "00 34 12 80 00 53 45 43 55 50 44 00"},
        {"detach all", {0x30, 0xA2, 0x06, 0x34, 0x12, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00}, "00 34 12 00 00"},
        {"delete bit 0", {0x30, 0xA2, 0x08, 0x34, 0x12, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00},
         "00 34 12 00 00 00 00 00 00"},
        {"index info after", {0x30, 0xA2, 0x03, 0x34, 0x12, 0x00, 0x00}, "00 34 12 00 07 00 00 00 00 00 00"},
        {"create 1 unit", {0x30, 0xA2, 0x07, 0x34, 0x12, 0x01, 0x00, 0x53, 0x45, 0x43, 0x55, 0x50, 0x44, 0x40},
         "00 34 12 00 00 00 00"},
        {"attach it", {0x30, 0xA2, 0x05, 0x34, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}, "00 34 12 00 00"},
        {"state flag", {0x30, 0xA2, 0x11, 0x34, 0x12, 0x00, 0x05}, "00 34 12 00 00"},
        {"status", {0x30, 0xA2, 0x0A, 0x34, 0x12, 0x07, 0x00, 0x00}, "00 34 12 00 00"},
        {"end", {0x30, 0xA2, 0x01, 0x34, 0x12, 0x00, 0x00}, "00 34 12"},
        {"after the end", {0x30, 0xA2, 0x03, 0x34, 0x12, 0x00, 0x00}, "05 34 12 00 00 00 00"},
    };
    for (const Step& step : steps) {
        Outcome out = Send(step.frame);
        EXPECT_EQ(out.result, 0u) << step.what;
        EXPECT_EQ(out.answer, step.answer) << step.what;
    }

    EXPECT_EQ(tessa().DeletedWords(), std::vector<uint16_t>{0x0001});
    auto dynamic = tessa().DynamicPartitions();
    ASSERT_EQ(dynamic.size(), 1u);
    EXPECT_EQ(dynamic[0].name, "SECUPD");   // the lowest free bit again
    EXPECT_EQ(dynamic[0].units, 1u);
    EXPECT_EQ(dynamic[0].attribute, 0x40);
    EXPECT_EQ(tessa().StateFlags(), Bytes{0x05});
    EXPECT_FALSE(tessa().SessionOpen());
    EXPECT_EQ(tessa().AttachedDynamicBits(), 0u);   // the end withdrew it
    EXPECT_EQ(tessa().SessionsBegun(), 1u);
    EXPECT_EQ(tessa().SessionsEnded(), 1u);

    // One frame per exchange, logged as sent.
    auto frames = controller().Frames();
    ASSERT_EQ(frames.size(), steps.size());
    for (size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(SimHex(frames[i]), SimHex(steps[i].frame)) << steps[i].what;
    EXPECT_EQ(SimHex(controller().Requests()[3].answer), "00 34 12 00 00 00 00");
}

TEST_F(TessaModelTest, FramesAControllerWouldRefuse)
{
    BeginSession();
    for (unsigned bit = 0; bit < 16; ++bit)
        if (bit != 3)
            tessa().AddDynamicPartition(bit, "DYN");
    const std::vector<Step> steps = {
        {"short index info", {0x30, 0xA2, 0x03, 0x34, 0x12}, "C7"},
        {"short create", {0x30, 0xA2, 0x07, 0x34, 0x12, 0x01, 0x00, 0x53}, "C7"},
        {"wrong handle", {0x30, 0xA2, 0x03, 0x35, 0x12, 0x00, 0x00}, "05 34 12 00 00 00 00"},
        {"undefined sub-command", {0x30, 0xA2, 0x30, 0x34, 0x12}, "01 34 12"},
        {"info of a missing static bit", {0x30, 0xA2, 0x04, 0x34, 0x12, 0x00, 0x05, 0x00, 0x00},
         "0C 34 12 00 00 00 00 00 00 00 00 00"},
        {"info of an unknown class", {0x30, 0xA2, 0x04, 0x34, 0x12, 0x40, 0x00, 0x00, 0x00},
         "0C 34 12 00 00 00 00 00 00 00 00 00"},
        {"attach of a missing bit", {0x30, 0xA2, 0x05, 0x34, 0x12, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
         "0C 34 12 00 00"},
        {"delete of a zero word", {0x30, 0xA2, 0x08, 0x34, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
         "0C 34 12 00 00 00 00 00 00"},
        {"create takes bit 3", {0x30, 0xA2, 0x07, 0x34, 0x12, 0x02, 0x00, 0x53, 0x45, 0x43, 0x55, 0x50, 0x44, 0x40},
         "00 34 12 00 00 00 00"},
        {"create with no free bit", {0x30, 0xA2, 0x07, 0x34, 0x12, 0x02, 0x00, 0x53, 0x45, 0x43, 0x55, 0x50, 0x44, 0x40},
         "13 34 12 00 00 00 00"},
    };
    for (const Step& step : steps) {
        Outcome out = Send(step.frame);
        EXPECT_EQ(out.result, 0u) << step.what;
        EXPECT_EQ(out.answer, step.answer) << step.what;
    }
    EXPECT_EQ(tessa().DynamicPartitions()[3].name, "SECUPD");
    EXPECT_EQ(tessa().DynamicBits(), 0xFFFF);
    EXPECT_EQ(tessa().AttachedStaticBits(), 0u);
}

// The library resends on its own every code outside its short list (0xFF
// and 0x0E among them), so a scripted code can cost several frames.
TEST_F(TessaModelTest, ScriptedCodesMeetTheLibrarysResends)
{
    struct Case {
        const char* what;
        Bytes codes;
        size_t frames;
        const char* answer;
        size_t partitions;   // created by the request
    };
    const Bytes create = {0x30, 0xA2, 0x07, 0x34, 0x12, 0x01, 0x00, 0x53, 0x45, 0x43, 0x55, 0x50, 0x44, 0x40};
    const std::vector<Case> cases = {
        {"busy 8: no resend by the library", {0x08}, 1, "08 34 12 00 00 00 00", 0},
        {"overrun 16", {0x10}, 1, "10 34 12 00 00 00 00", 0},
        {"pending 2: carried out", {0x02}, 1, "02 34 12 00 00 00 00", 1},
        {"0xFF five times: one partition", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 5, "FF 34 12 00 00 00 00", 1},
        {"0xFF then done: the resend is not carried out again", {0xFF}, 2, "00 34 12 00 00 00 00", 1},
        {"not ready 14, then done", {0x0E}, 2, "00 34 12 00 00 00 00", 1},
        {"unknown 0x30, then done", {0x30}, 2, "00 34 12 00 00 00 00", 1},
        {"failing 4", {0x04}, 1, "04 34 12 00 00 00 00", 0},
    };
    for (const Case& c : cases) {
        Fresh();
        BeginSession();
        tessa().ScriptCodes(SimTessaController::CreateDynamicPartition, c.codes);
        Outcome out = Send(create);
        EXPECT_EQ(out.result, 0u) << c.what;
        EXPECT_EQ(out.answer, c.answer) << c.what;
        EXPECT_EQ(tessa().CountSub(SimTessaController::CreateDynamicPartition), c.frames) << c.what;
        EXPECT_EQ(tessa().DynamicPartitions().size(), c.partitions) << c.what;
        // After anything else (here a status poll) the same create is a new request.
        Send({0x30, 0xA2, 0x0A, 0x34, 0x12, 0x07, 0x00, 0x00});
        Send(create);
        EXPECT_EQ(tessa().DynamicPartitions().size(), c.partitions + 1) << c.what;
    }
}

TEST_F(TessaModelTest, StatusesFollowTheirScriptPerPolledSubCommand)
{
    BeginSession();
    tessa().ScriptStatuses(SimTessaController::CreateDynamicPartition, {0x02, 0x02, 0x00});
    tessa().ScriptStatuses(SimTessaController::DeleteDynamicPartition, {0x07});
    const Bytes pollCreate = {0x30, 0xA2, 0x0A, 0x34, 0x12, 0x07, 0x00, 0x00};
    const Bytes pollDelete = {0x30, 0xA2, 0x0A, 0x34, 0x12, 0x08, 0x00, 0x00};
    EXPECT_EQ(Send(pollCreate).answer, "00 34 12 02 00");
    EXPECT_EQ(Send(pollDelete).answer, "00 34 12 07 00");
    EXPECT_EQ(Send(pollCreate).answer, "00 34 12 02 00");
    EXPECT_EQ(Send(pollCreate).answer, "00 34 12 00 00");
    EXPECT_EQ(Send(pollCreate).answer, "00 34 12 00 00");   // done once the script ran out
    EXPECT_EQ(Send(pollDelete).answer, "00 34 12 00 00");

    // A failing GetTESSAStatus is a completion code like any other.
    tessa().ScriptCodes(SimTessaController::GetStatus, {0x01});
    EXPECT_EQ(Send(pollCreate).answer, "01 34 12 00 00 00 00");
}

TEST_F(TessaModelTest, SessionKnobs)
{
    const Bytes begin = {0x30, 0xA2, 0x00, 0x00, 0xB0, 0x04, 0x00, 0x00};
    const Bytes extended = {0x30, 0xA2, 0x12, 0x02, 0xB0, 0x04, 0x00, 0x00};

    tessa().RefuseBegins(3);
    EXPECT_EQ(Send(extended).answer, "01 34 12 00 00 00 00");
    EXPECT_EQ(Send(begin).answer, "01 34 12 00 00 00 00");
    EXPECT_EQ(Send(extended).answer, "01 34 12 00 00 00 00");
    EXPECT_FALSE(tessa().SessionOpen());
    EXPECT_EQ(Send(begin).answer, "00 34 12 00 00 00 00");
    EXPECT_TRUE(tessa().SessionOpen());
    EXPECT_EQ(tessa().SessionsBegun(), 1u);

    // The controller moves to another handle: answers carry it and the old
    // one is refused.
    tessa().SetSessionHandle(0xBEEF);
    EXPECT_EQ(Send({0x30, 0xA2, 0x11, 0x34, 0x12, 0x00, 0x05}).answer, "05 EF BE 00 00 00 00");
    EXPECT_EQ(Send({0x30, 0xA2, 0x11, 0xEF, 0xBE, 0x00, 0x05}).answer, "00 EF BE 00 00");

    // A cold reset forgets the session.
    EXPECT_EQ(Send({0x06, 0x02}).answer, "00");
    EXPECT_EQ(tessa().ColdResets(), 1u);
    EXPECT_FALSE(tessa().SessionOpen());

    tessa().RefuseBegins(1, 0x08);
    EXPECT_EQ(Send(begin).answer, "08 EF BE 00 00 00 00");
    tessa().SetSessionHandle(0);
    EXPECT_EQ(Send(begin).answer, "00 00 00 00 00 00 00");
}

TEST_F(TessaModelTest, ACreateThatLeavesTheBitmapUnchanged)
{
    BeginSession();
    tessa().SetCreateLeavesBitmapUnchanged(true);
    EXPECT_EQ(Send({0x30, 0xA2, 0x07, 0x34, 0x12, 0x01, 0x00, 0x53, 0x45, 0x43, 0x55, 0x50, 0x44, 0x40}).answer,
              "00 34 12 00 00 00 00");
    EXPECT_EQ(tessa().DynamicBits(), 0u);
    EXPECT_EQ(Send({0x30, 0xA2, 0x03, 0x34, 0x12, 0x00, 0x00}).answer, "00 34 12 00 07 00 00 00 00 00 00");
}

TEST_F(TessaModelTest, PartitionNamesOutsideTheTableAreReportedAsSet)
{
    tessa().ClearPartitions();
    tessa().AddStaticPartition(0, "TES300");
    tessa().AddStaticPartition(9, "UEFI");
    BeginSession();
    EXPECT_EQ(Send({0x30, 0xA2, 0x03, 0x34, 0x12, 0x00, 0x00}).answer, "00 34 12 02 01 00 00 00 00 00 00");
    EXPECT_EQ(Send({0x30, 0xA2, 0x04, 0x34, 0x12, 0x00, 0x00, 0x00, 0x00}).answer,
              "00 34 12 00 00 54 45 53 33 30 30 00");
    // A name shorter than six characters is padded with zeros.
    EXPECT_EQ(Send({0x30, 0xA2, 0x04, 0x34, 0x12, 0x00, 0x09, 0x00, 0x00}).answer,
              "00 34 12 00 09 55 45 46 49 00 00 00");
}

TEST_F(TessaModelTest, IdentityAndPowerSupplyKnobs)
{
    tessa().SetGenerationByte(0x60);
    tessa().SetTypeByte(0x02);
    tessa().SetAccessState(0x02);
    tessa().SetCapability({0x02, 0x14});
    tessa().SetVCStates({0x01, 0x05});
    SimTessaController::PowerSupply psu;
    psu.presence[1] = 0x01;
    psu.version = 0x01020304;
    psu.text = "ABCDEFGH";
    psu.flags = 0x01;
    tessa().SetPowerSupply(1, psu);
    tessa().SetPowerSupplyCount(2);

    EXPECT_EQ(Send({0x30, 0xBD}).answer, "00 00 00 00 00 00 60");
    EXPECT_EQ(Send({0x30, 0xAD, 0x00, 0x00}).answer, "00 02 00 00");
    EXPECT_EQ(Send({0x30, 0xAE, 0x00, 0x00}).answer, "00 02 00 00");
    EXPECT_EQ(Send({0x30, 0xBF, 0x01}).answer, "00 02 14");
    EXPECT_EQ(Send({0x30, 0xA9, 0x1E}).answer, "00 00 01");
    EXPECT_EQ(Send({0x30, 0xA9, 0x1E}).answer, "00 00 05");
    EXPECT_EQ(Send({0x30, 0xA9, 0x1E}).answer, "00 00 05");   // the last state stays
    EXPECT_EQ(Send({0x30, 0xB0, 0x0A, 0x01}).answer,
              "00 00 00 01 00 00 00 04 03 02 01 41 42 43 44 45 46 47 48 00 00 00 01 00 00 00 00 00");
    EXPECT_EQ(Send({0x30, 0xB0, 0x0A, 0x02}).answer, "CC");
    EXPECT_EQ(Send({0x06, 0x59, 0x00, 0xEA, 0x00, 0x00}).answer, "00 11 00 00 00 00 00 00 00 02");

    // Completion codes of the identity commands come from the base model's script.
    controller().Script(0x30, 0xBD, SimIpmiStep::Code(0xC1));
    EXPECT_EQ(Send({0x30, 0xBD}).answer, "C1");
    EXPECT_EQ(Send({0x30, 0xBD}).answer, "00 00 00 00 00 00 60");
}

// A request lost on the way never reaches the model: nothing is carried
// out, and the library gives up after its own waits.
TEST_F(TessaModelTest, LostRequestsAreNotCarriedOut)
{
    BeginSession();
    controller().ScriptSub(0x30, 0xA2, SimTessaController::CreateDynamicPartition, SimIpmiStep::Silence());
    bench->device.waitTimeouts.clear();
    Outcome out = Send({0x30, 0xA2, 0x07, 0x34, 0x12, 0x01, 0x00, 0x53, 0x45, 0x43, 0x55, 0x50, 0x44, 0x40});
    EXPECT_EQ(out.result, 320u);
    EXPECT_EQ(tessa().CountSub(SimTessaController::CreateDynamicPartition), 1u);
    EXPECT_EQ(bench->device.waitTimeouts.size(), 5u);   // the library waited, it did not resend
    EXPECT_EQ(tessa().DynamicBits(), 0u);
    // Other sub-commands of the family are not touched by that script.
    EXPECT_EQ(Send({0x30, 0xA2, 0x03, 0x34, 0x12, 0x00, 0x00}).result, 0u);
}

// The host side learns of every change of the attached words, and only of
// changes, before the answer goes out.
TEST_F(TessaModelTest, TheAttachObserverSeesEveryChangeOfTheAttachedWords)
{
    tessa().AddDynamicPartition(0, "SECUPD");
    std::vector<std::string> seen;
    tessa().SetAttachObserver([this, &seen](uint16_t attachedStatic, uint16_t attachedDynamic) {
        // The managed-storage model can be read from the observer (not the
        // base controller: it is carrying the request).
        seen.push_back(std::to_string(attachedStatic) + "/" + std::to_string(attachedDynamic) + " model=" +
                       std::to_string(tessa().AttachedStaticBits()));
    });
    BeginSession();
    const Bytes attachBoth = {0x30, 0xA2, 0x05, 0x34, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(Send(attachBoth).answer, "00 34 12 00 00");
    EXPECT_EQ(Send(attachBoth).answer, "00 34 12 00 00");   // nothing changes
    EXPECT_EQ(Send({0x30, 0xA2, 0x06, 0x34, 0x12, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}).answer,
              "00 34 12 00 00");
    EXPECT_EQ(Send({0x30, 0xA2, 0x01, 0x34, 0x12, 0x00, 0x00}).answer, "00 34 12");   // end: detaches all
    BeginSession();
    EXPECT_EQ(Send(attachBoth).answer, "00 34 12 00 00");
    EXPECT_EQ(Send({0x06, 0x02}).answer, "00");   // cold reset

    EXPECT_EQ(seen, (std::vector<std::string>{"3/1 model=3", "2/1 model=2", "0/0 model=0", "3/1 model=3",
                                              "0/0 model=0"}));
    tessa().SetAttachObserver(nullptr);
}
