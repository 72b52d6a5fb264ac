// The dependency check of "package.xml": the capability test that gates
// it, the system-kind test, the exchange through a drop box of its own,
// what the controller's answer means for the caller, and what each failure
// leaves behind.

#include <cerrno>
#include <new>
#include <sstream>

#include "DependencyAnswer.h"
#include "DropBoxQueryTest.h"
#include "Md5Wrapper.h"
#include "KoltControllerTest.h"

using Strings = std::vector<std::string>;

namespace {

const char* const kPackage = "<?xml version=\"1.0\"?>\n<Package><Component id=\"1234\"/></Package>\n";
const char* const kPassed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Dependency><status>0</status></Dependency>\n";
const Strings kGates = {"BF", "BD"};

Strings Concat(Strings a, const Strings& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Strings kWholeExchange = {"07", "05", "06", "09", "09", "09", "09", "09", "05", "06", "08"};

} // namespace

// ---------------------------------------------------------------------------
// The answer's meaning, apart from how it was fetched.

TEST(DependencyAnswer, StatusZeroPassesOtherwiseTheCallerSeesTheAnswerAfterItsDeclaration)
{
    const struct {
        std::string text;
        bool passed;
        std::string forCaller;
    } cases[] = {
        {kPassed, true, ""},
        {"<status>0</status>", true, ""},
        {"<?xml version=\"1.0\"?>\n<status>1</status>\n", false, "\n<status>1</status>\n"},
        // Only the first declaration goes.
        {"<?xml?><a/><?pi?><b/>", false, "<a/><?pi?><b/>"},
        {"<status>1</status>", false, "<status>1</status>"},   // no declaration: whole answer
        {"?>", false, ""},
        {"", false, ""},
        {"<status>00</status>", false, "<status>00</status>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const DependencyVerdict verdict = judgeDependencyAnswer(c.text);
        EXPECT_EQ(verdict.passed, c.passed);
        EXPECT_EQ(verdict.forCaller, c.forCaller);
    }
}

TEST(DependencyAnswer, TextEndsAtTheFirstZeroByte)
{
    EXPECT_EQ(answerText(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(answerText(std::string("\0ab", 3)), "");
    EXPECT_EQ(answerText("abc"), "abc");
    EXPECT_EQ(answerText(""), "");
}

// ---------------------------------------------------------------------------
// Capability and system kind.

class DependencyCapability : public KoltControllerTest {
protected:
    void LoseTransport(uint8_t command) { controller.Script(0x30, command, SimIpmiStep::SendFailure(EIO), 10); }
};

TEST_F(DependencyCapability, ThresholdsDependOnTheSystemKind)
{
    // KindUnknown: the system request is lost; NoCode: it is answered
    // without a completion code, which tells no kind either.
    enum Kind { Modular, Monolithic, KindUnknown, NoCode };
    const struct {
        Kind kind;
        uint8_t d0;
        uint8_t d1;
        int supported;
    } cases[] = {
        {Modular, 2, 20, 1},       {Modular, 255, 255, 1},    {Modular, 1, 20, 0},
        {Modular, 2, 19, 0},       {Modular, 3, 10, 0},       {Modular, 1, 30, 0},
        {Monolithic, 1, 30, 1},    {Monolithic, 0, 30, 0},    {Monolithic, 1, 29, 0},
        {Monolithic, 2, 20, 0},    {KindUnknown, 1, 30, 1},   {KindUnknown, 2, 20, 0},
        {NoCode, 1, 30, 1},        {NoCode, 2, 20, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.kind << " " << int(c.d0) << "/" << int(c.d1));
        Mark();
        tessa.SetCapability({c.d0, c.d1, 0, 0});
        if (c.kind == Monolithic)
            controller.Script(0x30, 0xBD, SimIpmiStep::Code(0xC1));
        else if (c.kind == KindUnknown)
            LoseTransport(0xBD);
        else if (c.kind == NoCode)
            controller.Script(0x30, 0xBD, SimIpmiStep::Short(0));
        EXPECT_EQ(client->isDepCheckSupported(), c.supported);
        const Strings frames = NewFrames();
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames.front(), "30 BF 01");
        EXPECT_EQ(frames.back(), c.kind == KindUnknown ? "30 BF 01" : "30 BD");
        const Strings log = Log();
        EXPECT_TRUE(Contains(log, "Return Code 0"));
    }
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "Modular Tomel System"));
    EXPECT_TRUE(Contains(log, "Monolithic Tomel System"));
    EXPECT_TRUE(Contains(log, "IPMI Command ERROR"));
}

TEST_F(DependencyCapability, RefusedCapabilityIsUnsupportedAndALostOneUnknown)
{
    tessa.SetCapability({9, 99});
    controller.Script(0x30, 0xBF, SimIpmiStep::Code(0xC1));
    EXPECT_EQ(client->isDepCheckSupported(), 0);
    EXPECT_EQ(NewFrames(), Strings{"30 BF 01"});
    EXPECT_FALSE(Contains(Log(), "IPMI Command ERROR"));

    Mark();
    LoseTransport(0xBF);
    EXPECT_EQ(client->isDepCheckSupported(), -1);
    EXPECT_TRUE(NewFrames().empty());
    EXPECT_EQ(host.sleeps, std::vector<int>(10, 2));
    EXPECT_TRUE(Contains(Log(), "IPMI Command ERROR"));
}

// An accepted capability answer that ends before data byte 1 is a failed
// query, as a lost one is: the levels left out would read as 0, "not
// supported", and the check would be skipped as passed.
TEST_F(DependencyCapability, ACapabilityAnswerWithoutBothLevelsIsAFailedQuery)
{
    tessa.SetCapability({2, 20, 0, 0});
    const struct {
        size_t length;   // completion code included
        int supported;
    } cases[] = {{0, -1}, {1, -1}, {2, -1}, {3, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        Mark();
        const size_t logged = Log().size();
        controller.Script(0x30, 0xBF, SimIpmiStep::Short(c.length));
        EXPECT_EQ(client->isDepCheckSupported(), c.supported);
        const Strings all = Log();
        const Strings log(all.begin() + static_cast<long>(logged), all.end());
        EXPECT_EQ(Contains(log, "IPMI Command ERROR"), c.supported < 0);
        EXPECT_EQ(Contains(log, "Return Code 0"), c.supported >= 0);
        const Strings frames = c.supported < 0 ? Strings{"30 BF 01"} : Strings{"30 BF 01", "30 BD"};
        EXPECT_EQ(NewFrames(), frames);
    }
}

TEST_F(DependencyCapability, SystemKindHasThreeAnswers)
{
    EXPECT_EQ(client->isMonolithic(), 0);
    EXPECT_EQ(NewFrames(), Strings{"30 BD"});
    EXPECT_TRUE(Contains(Log(), "Modular Tomel System"));

    controller.Script(0x30, 0xBD, SimIpmiStep::Code(0xC1));
    EXPECT_EQ(client->isMonolithic(), 1);
    EXPECT_TRUE(Contains(Log(), "Monolithic Tomel System"));

    LoseTransport(0xBD);
    EXPECT_EQ(client->isMonolithic(), -1);
    EXPECT_TRUE(Contains(Log(), "IPMI Command ERROR"));

    // A reply without a completion code names no kind; the code alone does.
    controller.Script(0x30, 0xBD, SimIpmiStep::Short(0));
    EXPECT_EQ(client->isMonolithic(), -1);
    controller.Script(0x30, 0xBD, SimIpmiStep::Short(1));
    EXPECT_EQ(client->isMonolithic(), 0);
}

// ---------------------------------------------------------------------------
// The check through the drop box.

class DependencyCheck : public DropBoxQueryTest {
protected:
    void SetUp() override
    {
        DropBoxQueryTest::SetUp();
        if (HasFatalFailure())
            return;
        writeHere("package.xml", kPackage);
        tessa.SetCapability({2, 20});
        dropBox.SetAnswer(kPassed);
    }

    // Runs the check with "kept" in the caller's stream; the stream after.
    std::string Check(bool expected, exmlMode mode = vcl_query_dependency)
    {
        std::stringstream out;
        out << "kept";
        EXPECT_EQ(client->doDepCheck(out, mode), expected);
        return out.str();
    }
};

TEST_F(DependencyCheck, RequestDocumentCarriesThePackageDigest)
{
    const std::string digest = md5wrapper().getHashFromString(kPackage);
    cfgEntry entry;
    entry.order = 1;
    entry.mode = vcl_query_dependency;
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TESSA_Update>\n\t<File order=\"1\">\n"
                             "\t\t<Source>package.xml</Source>\n\t\t<Hash>" + digest + "</Hash>\n"
                             "\t\t<Mode>vcl_query_dependency</Mode>\n";
    const std::string tail = "\t</File>\n</TESSA_Update>\n\n";
    for (const auto& c : {std::make_pair(1, "\t\t<Algorithm>MD5</Algorithm>\n"), std::make_pair(2, "")}) {
        entry.algorithmLabel = c.first;
        std::ostringstream document;
        CreateVCLConfigFile(&document, {entry});
        EXPECT_EQ(document.str(), head + c.second + tail);
    }

    // The check sends the MD5 form and the package beside it.
    Check(true);
    ASSERT_EQ(Requests().size(), 1u);
    EXPECT_EQ(Requests()[0], head + "\t\t<Algorithm>MD5</Algorithm>\n" + tail);
    EXPECT_EQ(DigestsMatched(), std::vector<bool>{true});
    EXPECT_EQ(readWholeFile("/tmp/SECUPD/package.xml"), kPackage);
}

TEST_F(DependencyCheck, PassedCheckLeavesTheCallersStreamAlone)
{
    client->storeErrorInfo(KOLT_SUCCESS);
    EXPECT_EQ(Check(true), "kept");
    EXPECT_EQ(exchangeSteps(), Concat(kGates, kWholeExchange));
    EXPECT_EQ(createdUnits(), "20 00");
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
    EXPECT_EQ(tessa.DeletedWords().size(), 1u);
    EXPECT_EQ(client->getKOLTError(), KOLT_SUCCESS);
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "Dependency Checking is supported by the Tomel FW"));
    EXPECT_TRUE(Contains(log, "update.xml Hash: "));
    EXPECT_TRUE(Contains(log, "package.xml written"));
    EXPECT_TRUE(Contains(log, "Contents of output.xml"));
    EXPECT_TRUE(Contains(log, "doDepCheck succeeded"));
    EXPECT_TRUE(Contains(log, "Dependency Check successful"));
}

TEST_F(DependencyCheck, FailedCheckHandsTheAnswerWithoutDeclarationToTheCaller)
{
    const struct {
        std::string answer;
        std::string stream;
    } cases[] = {
        {"<?xml version=\"1.0\"?>\n<status>1</status>\n", "kept\n<status>1</status>\n"},
        {"<Dependency><status>1</status></Dependency>", "kept<Dependency><status>1</status></Dependency>"},
        {"", "kept"},
        // The answer ends at its first zero byte: a status behind it counts for nothing.
        {std::string("<?xml?><status>1</status>\0<status>0</status>", 45), "kept<status>1</status>"},
    };
    client->storeErrorInfo(KOLT_SUCCESS);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        dropBox.SetAnswer(c.answer);
        EXPECT_EQ(Check(false), c.stream);
        EXPECT_EQ(client->getKOLTError(), KOLT_SUCCESS);
    }
    EXPECT_EQ(tessa.DeletedWords().size(), 4u);
    EXPECT_TRUE(Contains(Log(), "Dependency Check failed"));
}

TEST_F(DependencyCheck, UnsupportedControllerIsReportedAsPassedWithoutADropBox)
{
    tessa.SetCapability({1, 19});
    EXPECT_EQ(Check(true), "kept");
    EXPECT_EQ(exchangeSteps(), kGates);

    controller.Script(0x30, 0xBF, SimIpmiStep::Code(0xC1));
    EXPECT_EQ(Check(true), "kept");
    EXPECT_EQ(tessa.CountSub(0x07), 0u);
    EXPECT_TRUE(Contains(Log(), "Dependency Checking is NOT supported by the Tomel FW.  Reporting success"));
}

TEST_F(DependencyCheck, UnansweredCapabilityCountsAsSupported)
{
    controller.Script(0x30, 0xBF, SimIpmiStep::SendFailure(EIO), 10);
    EXPECT_EQ(Check(true), "kept");
    EXPECT_EQ(exchangeSteps(), kWholeExchange);
    EXPECT_EQ(Requests().size(), 1u);
}

TEST_F(DependencyCheck, OnESXiTheDropBoxIsStillOneMegabyte)
{
    client->hostOsIndex = ESXi;
    tessa.ScriptCodes(0x05, {0xC1});
    host.answerPrefix("esxcli ", 0);
    host.answerPrefix("ls /vmfs/volumes/", 256);
    Check(false);
    EXPECT_EQ(createdUnits(), "20 00");
}

// An exception that is no KOLT number while the drop box is attached (the
// copy of the package runs out of memory): 31, and the drop box is detached
// and deleted like after any other failure, not left for the next run.
TEST_F(DependencyCheck, UnexpectedExceptionReleasesTheDropBox)
{
    host.answerPrefix("/bin/cp ", [](const std::string&) -> int { throw std::bad_alloc(); });
    const size_t dropBoxes = tessa.DynamicPartitions().size();
    EXPECT_EQ(Check(false), "kept");
    EXPECT_EQ(client->getKOLTError(), KOLT_INTERNALERROR);
    EXPECT_EQ(exchangeSteps(), Concat(kGates, {"07", "05", "06", "08"}));
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
    EXPECT_EQ(tessa.DynamicPartitions().size(), dropBoxes);
    EXPECT_TRUE(Requests().empty());
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "KOLT internal error"));
    EXPECT_FALSE(Contains(log, "DetachPartition Failed."));
    EXPECT_FALSE(Contains(log, "DeleteDropBox Failed."));
}

namespace {

enum DepFault { DepNoSession, QueryTypeWithoutSession, DepCreateRefused, DepFirstAttach, DepSecondAttach,
                DepFirstDetach, DepHandOver, DepDeleteRefused, DepLabelLost, DepNoAnswer, CopyFails, UsbBlocked,
                DepRequestUnwritable, DepAnswerTooLarge };

struct DepFailure {
    const char* name;
    DepFault fault;
    uint8_t error;
    Strings steps;   // after the two capability requests
    const char* line;
};

const DepFailure kDepFailures[] = {
    {"NoSession", DepNoSession, KOLT_NOSESSION, {}, "doDepCheck called with NO active session"},
    {"QueryTypeBeforeSession", QueryTypeWithoutSession, KOLT_BADQUERYTYPE, {},
     "doDepCheck called with incorrect queryType"},
    {"CreateRefused", DepCreateRefused, KOLT_CREATEFAILED, {"07"}, "CreateDropBox failed"},
    {"FirstAttach", DepFirstAttach, KOLT_VCLATTACHFAILED, {"07", "05", "06", "08"}, "AttachPartition failed."},
    {"SecondAttach", DepSecondAttach, KOLT_VCLATTACHFAILED, kWholeExchange, "AttachPartition failed."},
    {"FirstDetach", DepFirstDetach, KOLT_DETACHFAILED, {"07", "05", "06", "08"}, "DetachPartition failed"},
    {"HandOver", DepHandOver, KOLT_DIGESTHANDOVERFAILED, {"07", "05", "06", "09", "09", "09", "09", "09", "08"},
     "SecureTessaCopy failed"},
    {"DeleteRefused", DepDeleteRefused, KOLT_DELETEDROPBOXFAILED,
     {"07", "05", "06", "09", "09", "09", "09", "09", "05", "06", "08", "08"}, "Delete Drop Box Failed."},
    {"LabelLost", DepLabelLost, KOLT_PARTITIONUNREACHABLE, kWholeExchange, "DynamicPartition volumeLabel empty"},
    {"NoAnswer", DepNoAnswer, KOLT_NOANSWERDOCUMENT, kWholeExchange, "output.xml file does NOT exist"},
    // The package could not be placed: the mounted drop box is detached
    // before it is deleted.
    {"CopyFails", CopyFails, KOLT_INTERNALERROR, {"07", "05", "06", "08"}, "doCopy failed"},
    // Not thrown on: the drop box goes and the call fails.
    {"UsbBlocked", UsbBlocked, KOLT_USBBLOCKLISTED, {"07", "08"}, "USB Blocklisted. Update failure"},
    // A request that did not reach the drop box is this side's write error;
    // no digest is handed over.
    {"RequestUnwritable", DepRequestUnwritable, KOLT_PARTITIONUNREACHABLE, {"07", "05", "06", "08"},
     "Opening /tmp/SECUPD/update.xml failed: Too many levels of symbolic links (errno 40)"},
    {"AnswerTooLarge", DepAnswerTooLarge, KOLT_NOANSWERDOCUMENT, kWholeExchange,
     "output.xml is larger than the drop box (1048576 bytes)"},
};

} // namespace

class DependencyCheckFailure : public DependencyCheck, public testing::WithParamInterface<DepFailure> {};

TEST_P(DependencyCheckFailure, StoresItsNumberAndUndoesOnlyWhatTheCallDid)
{
    const DepFailure& c = GetParam();
    exmlMode mode = vcl_query_dependency;
    switch (c.fault) {
    case DepNoSession: client->session.active = 0; break;
    case QueryTypeWithoutSession:
        client->session.active = 0;
        mode = vcl_query_current_records;
        break;
    case DepCreateRefused: tessa.ScriptCodes(0x07, {0xC1}); break;
    case DepFirstAttach: tessa.ScriptCodes(0x05, {0xC1}); break;
    case DepSecondAttach: tessa.ScriptCodes(0x05, {0x00, 0xC1}); break;
    case DepFirstDetach: tessa.ScriptCodes(0x06, {0xC1}); break;
    case DepHandOver: tessa.ScriptCodes(0x09, std::vector<uint8_t>(5, 0xC1)); break;
    case DepDeleteRefused: tessa.ScriptCodes(0x08, {0xC1}); break;
    case DepLabelLost: dropBox.SetOnRequest([] { tessaPartInfo[0].volumeLabel.clear(); }); break;
    case DepNoAnswer: dropBox.SetAnswers(false); break;
    case CopyFails: host.answerPrefix("/bin/cp ", 256); break;
    case UsbBlocked:
        host.answer(parthost::kUsbLoaded, 256);
        host.answer("modprobe usb_storage  > /dev/null 2>&1", 256);
        break;
    case DepRequestUnwritable:
        ASSERT_EQ(::mkdir("/tmp/SECUPD", 0755), 0);
        writeHere("/tmp/victim", "precious");
        ASSERT_EQ(::symlink("/tmp/victim", "/tmp/SECUPD/update.xml"), 0);
        break;
    case DepAnswerTooLarge: dropBox.SetAnswer(std::string(1048577, 'x')); break;
    }
    EXPECT_EQ(Check(false, mode), "kept");
    EXPECT_EQ(client->getKOLTError(), c.error);
    EXPECT_EQ(exchangeSteps(), Concat(kGates, c.steps));
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, c.line));
    EXPECT_TRUE(Contains(log, "doDepCheck failed"));
    if (c.steps.empty()) {
        EXPECT_FALSE(Contains(log, "DeleteDropBox Failed."));
    }
    if (c.fault == DepRequestUnwritable) {
        EXPECT_EQ(readWholeFile("/tmp/victim"), "precious");
        EXPECT_TRUE(Requests().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Table, DependencyCheckFailure, testing::ValuesIn(kDepFailures),
                         [](const testing::TestParamInfo<DepFailure>& info) { return std::string(info.param.name); });
