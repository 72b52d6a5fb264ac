// The controller-log query: the request document byte for byte, the
// exchange through a drop box of its own (size, request, digest, answer,
// clean-up) and what each failure leaves behind.

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <sstream>

#include "DropBoxQueryTest.h"
#include "OpenDescriptors.h"

using Strings = std::vector<std::string>;

namespace {

const char* const kHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TESSA_Update>\n";
const char* const kFooter = "</TESSA_Update>\n\n";

cfgEntry Entry(exmlMode mode, int32_t algorithmLabel, int32_t order = 1)
{
    cfgEntry entry;
    entry.order = order;
    entry.mode = mode;
    entry.algorithmLabel = algorithmLabel;
    return entry;
}

std::string Document(const std::vector<cfgEntry>& entries)
{
    std::ostringstream document;
    EXPECT_EQ(CreateVCLConfigFile(&document, entries), 1);
    return document.str();
}

// One File element of the query modes, with the MD5 Algorithm line.
std::string QueryRequest(const std::string& modeWord)
{
    return std::string(kHeader) + "\t<File order=\"1\">\n\t\t\t\t<Mode>" + modeWord +
           "</Mode>\n\t\t<Algorithm>MD5</Algorithm>\n\t</File>\n" + kFooter;
}

} // namespace

TEST(VclRequestDocument, EachModeWritesItsLinesAndTheAlgorithmByLabel)
{
    const struct {
        cfgEntry entry;
        const char* element;   // between the File lines
    } cases[] = {
        {Entry(vcl_query_current_records, 1), "\t\t\t\t<Mode>vcl_query_current_records</Mode>\n\t\t<Algorithm>MD5</Algorithm>\n"},
        {Entry(vcl_query_history_records, 0), "\t\t\t\t<Mode>vcl_query_history_records</Mode>\n\t\t<Algorithm>SHA1</Algorithm>\n"},
        {Entry(vcl_query_event_records, 2), "\t\t\t\t<Mode>vcl_query_event_records</Mode>\n"},
        {Entry(vcl_update_records, 7), "\t\t\t\t<Mode>vcl_update_records</Mode>\n\t\t\t\t<Source>input.xml</Source>\n"},
        // A mode outside the log modes asks for the current records.
        {Entry(filecopy, 1), "\t\t\t\t<Mode>vcl_query_current_records</Mode>\n\t\t<Algorithm>MD5</Algorithm>\n"},
        {Entry(static_cast<exmlMode>(0), 2), "\t\t\t\t<Mode>vcl_query_current_records</Mode>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry.mode);
        EXPECT_EQ(Document({c.entry}),
                  std::string(kHeader) + "\t<File order=\"1\">\n" + c.element + "\t</File>\n" + kFooter);
    }

    cfgEntry inventory = Entry(vcl_update_entire_inventory, 1, 12);
    inventory.hash = "0123";
    inventory.source = "inv.xml";
    EXPECT_EQ(Document({inventory, Entry(vcl_query_event_records, 1, 13)}),
              std::string(kHeader) +
                  "\t<File order=\"12\">\n\t\t<Hash>0123</Hash>\n\t\t<Source>inv.xml</Source>\n"
                  "\t\t<Mode>vcl_update_entire_inventory</Mode>\n\t\t<Algorithm>MD5</Algorithm>\n\t</File>\n"
                  "\t<File order=\"13\">\n\t\t\t\t<Mode>vcl_query_event_records</Mode>\n"
                  "\t\t<Algorithm>MD5</Algorithm>\n\t</File>\n" + kFooter);
    EXPECT_EQ(Document({}), std::string(kHeader) + kFooter);
}

class QueryVCL : public DropBoxQueryTest {};

TEST_F(QueryVCL, CurrentRecordsAreAskedThroughAFreshOneMegabyteDropBox)
{
    std::stringstream out;
    out << "earlier ";
    ASSERT_TRUE(client->QueryVCL(out, vcl_query_current_records));

    // The controller read exactly this request, and its digest matched.
    ASSERT_EQ(Requests().size(), 1u);
    EXPECT_EQ(Requests()[0], QueryRequest("vcl_query_current_records"));
    EXPECT_EQ(DigestsMatched(), std::vector<bool>{true});
    EXPECT_EQ(out.str(), "earlier " + kVclAnswer);

    EXPECT_EQ(createdUnits(), "20 00");   // 32 units of 32 KiB
    EXPECT_EQ(exchangeSteps(), (Strings{"07", "05", "06", "09", "09", "09", "09", "09", "05", "06", "08"}));
    EXPECT_EQ(tessa.DeletedWords().size(), 1u);
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
    EXPECT_TRUE(client->cfgEntries.empty());
    EXPECT_TRUE(Contains(host.commands, "sync"));
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "update.xml path: "));
    EXPECT_TRUE(Contains(log, "/tmp/SECUPD/update.xml"));
    EXPECT_TRUE(Contains(log, "Update.xml Hash: "));
    EXPECT_TRUE(Contains(log, "Contents of Output.xml"));
    EXPECT_TRUE(Contains(log, "Delete Drop Box succeeded."));
    EXPECT_TRUE(Contains(log, "QueryVCL succeeded"));
}

TEST_F(QueryVCL, TheRequestIsClosedBeforeAnyCommandRuns)
{
    std::vector<size_t> open;
    host.answer("sync", [&open](const std::string&) {
        open.push_back(DescriptorsOpenOn("/tmp/SECUPD/update.xml").size());
        return 0;
    });
    std::stringstream out;
    ASSERT_TRUE(client->QueryVCL(out, vcl_query_current_records));
    ASSERT_FALSE(open.empty());
    EXPECT_EQ(open, std::vector<size_t>(open.size(), 0));
}

// The answer lies in the drop box: one larger than the drop box the call
// was granted is refused, not read.
TEST_F(QueryVCL, AnAnswerUpToTheGrantedSizeIsReadWhole)
{
    const std::string whole(1048576, 'x');   // 32 units of 32 KiB
    dropBox.SetAnswer(whole);
    std::stringstream out;
    ASSERT_TRUE(client->QueryVCL(out, vcl_query_current_records));
    EXPECT_EQ(out.str(), whole);
}

TEST_F(QueryVCL, HistoryAndEventRecordsNameTheirMode)
{
    for (exmlMode mode : {vcl_query_history_records, vcl_query_event_records}) {
        std::stringstream out;
        ASSERT_TRUE(client->QueryVCL(out, mode));
        EXPECT_EQ(out.str(), kVclAnswer);
    }
    ASSERT_EQ(Requests().size(), 2u);
    EXPECT_EQ(Requests()[0], QueryRequest("vcl_query_history_records"));
    EXPECT_EQ(Requests()[1], QueryRequest("vcl_query_event_records"));
}

TEST_F(QueryVCL, AnswerIsReadUpToItsFirstZeroByte)
{
    dropBox.SetAnswer(std::string("<VCL>before", 11) + std::string(1, '\0') + "after</VCL>");
    std::stringstream out;
    ASSERT_TRUE(client->QueryVCL(out, vcl_query_current_records));
    EXPECT_EQ(out.str(), "<VCL>before");

    dropBox.SetAnswer("");   // an empty answer is an empty text, not a failure
    std::stringstream empty;
    ASSERT_TRUE(client->QueryVCL(empty, vcl_query_current_records));
    EXPECT_EQ(empty.str(), "");
}

TEST_F(QueryVCL, OnESXiTheDropBoxIs32Megabytes)
{
    client->hostOsIndex = ESXi;
    // The attach is refused; the detach that follows rescans the volumes.
    tessa.ScriptCodes(0x05, {0xC1});
    host.answerPrefix("esxcli ", 0);
    host.answerPrefix("ls /vmfs/volumes/", 256);
    std::stringstream out;
    EXPECT_FALSE(client->QueryVCL(out, vcl_query_current_records));
    EXPECT_EQ(createdUnits(), "00 04");   // 1024 units of 32 KiB
}

// An exception that is no KOLT number while the drop box is attached (the
// memory running out between two steps): 31, and the drop box is detached
// and deleted like after any other failure, not left for the next run.
TEST_F(QueryVCL, UnexpectedExceptionReleasesTheDropBox)
{
    host.answer("sync", [](const std::string&) -> int { throw std::bad_alloc(); });
    const size_t dropBoxes = tessa.DynamicPartitions().size();
    std::stringstream out;
    out << "kept";
    EXPECT_FALSE(client->QueryVCL(out, vcl_query_current_records));
    EXPECT_EQ(client->getKOLTError(), KOLT_INTERNALERROR);
    EXPECT_EQ(exchangeSteps(), (Strings{"07", "05", "06", "08"}));
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
    EXPECT_EQ(tessa.DynamicPartitions().size(), dropBoxes);
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(out.str(), "kept");
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "KOLT internal error"));
    EXPECT_FALSE(Contains(log, "DetachPartition Failed."));
    EXPECT_FALSE(Contains(log, "DeleteDropBox Failed."));
}

// Which failure leaves what behind: a drop box this call created is
// detached where it may be attached and always deleted; one it never
// created is left alone.
namespace {

enum QueryFault { NoSession, Mode11, Mode15, Mode0, CreateRefused, FirstAttach, SecondAttach, FirstDetach,
                  SecondDetach, HandOver, DeleteRefused, LabelLost, NoAnswer, AnswerTooLarge };

struct QueryFailure {
    const char* name;
    QueryFault fault;
    uint8_t error;
    Strings steps;
    const char* line;
};

const Strings kWholeExchange = {"07", "05", "06", "09", "09", "09", "09", "09", "05", "06", "08"};

const QueryFailure kQueryFailures[] = {
    {"NoSession", NoSession, KOLT_NOSESSION, {}, "QueryVCL called with NO active session"},
    {"Mode11", Mode11, KOLT_INVALIDVCLREQUEST, {}, "Invalid update VCL request."},
    {"Mode15", Mode15, KOLT_INVALIDVCLREQUEST, {}, "Invalid update VCL request."},
    {"Mode0", Mode0, KOLT_INVALIDVCLREQUEST, {}, "Invalid update VCL request."},
    {"CreateRefused", CreateRefused, KOLT_CREATEFAILED, {"07"}, "CreateDropBox failed"},
    {"FirstAttach", FirstAttach, KOLT_VCLATTACHFAILED, {"07", "05", "06", "08"}, "AttachPartition failed."},
    {"SecondAttach", SecondAttach, KOLT_VCLATTACHFAILED, kWholeExchange, "AttachPartition failed."},
    {"FirstDetach", FirstDetach, KOLT_DETACHFAILED, {"07", "05", "06", "08"}, "DetachPartition failed"},
    {"SecondDetach", SecondDetach, KOLT_DETACHFAILED, kWholeExchange, "DetachPartition failed"},
    {"HandOver", HandOver, KOLT_DIGESTHANDOVERFAILED, {"07", "05", "06", "09", "09", "09", "09", "09", "08"},
     "SecureTessaCopy failed"},
    {"DeleteRefused", DeleteRefused, KOLT_DELETEDROPBOXFAILED,
     {"07", "05", "06", "09", "09", "09", "09", "09", "05", "06", "08", "08"}, "Delete Drop Box Failed."},
    {"LabelLost", LabelLost, KOLT_PARTITIONUNREACHABLE, kWholeExchange, "DynamicPartition volumeLabel empty"},
    {"NoAnswer", NoAnswer, KOLT_NOANSWERDOCUMENT, kWholeExchange, "Output.xml file does NOT exist"},
    {"AnswerTooLarge", AnswerTooLarge, KOLT_NOANSWERDOCUMENT, kWholeExchange,
     "output.xml is larger than the drop box (1048576 bytes)"},
};

} // namespace

class QueryVCLFailure : public DropBoxQueryTest, public testing::WithParamInterface<QueryFailure> {};

TEST_P(QueryVCLFailure, StoresItsNumberAndUndoesOnlyWhatTheCallDid)
{
    const QueryFailure& c = GetParam();
    exmlMode mode = vcl_query_current_records;
    switch (c.fault) {
    case NoSession: client->session.active = 0; break;
    case Mode11: mode = vcl_update_entire_inventory; break;
    case Mode15: mode = vcl_query_dependency; break;
    case Mode0: mode = static_cast<exmlMode>(0); break;
    case CreateRefused: tessa.ScriptCodes(0x07, {0xC1}); break;
    case FirstAttach: tessa.ScriptCodes(0x05, {0xC1}); break;
    case SecondAttach: tessa.ScriptCodes(0x05, {0x00, 0xC1}); break;
    case FirstDetach: tessa.ScriptCodes(0x06, {0xC1}); break;
    case SecondDetach: tessa.ScriptCodes(0x06, {0x00, 0xC1}); break;
    case HandOver: tessa.ScriptCodes(0x09, std::vector<uint8_t>(5, 0xC1)); break;
    case DeleteRefused: tessa.ScriptCodes(0x08, {0xC1}); break;
    case LabelLost: dropBox.SetOnRequest([] { tessaPartInfo[0].volumeLabel.clear(); }); break;
    case NoAnswer: dropBox.SetAnswers(false); break;
    case AnswerTooLarge: dropBox.SetAnswer(std::string(1048577, 'x')); break;
    }
    std::stringstream out;
    out << "kept";
    EXPECT_FALSE(client->QueryVCL(out, mode));
    EXPECT_EQ(client->getKOLTError(), c.error);
    EXPECT_EQ(exchangeSteps(), c.steps);
    // The answer reaches the caller before the final detach and delete.
    const bool answerRead = c.fault == SecondDetach || c.fault == DeleteRefused;
    EXPECT_EQ(out.str(), answerRead ? "kept" + kVclAnswer : "kept");
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, c.line));
    EXPECT_TRUE(Contains(log, "QueryVCL failed"));
    if (c.fault != CreateRefused) {
        EXPECT_TRUE(Contains(log, "QueryVCL failed with error code: " + std::to_string(c.error)));
    }
    if (c.steps.empty()) {
        struct stat info;
        EXPECT_NE(::stat("/tmp/SECUPD/update.xml", &info), 0);
        EXPECT_FALSE(Contains(log, "DeleteDropBox Failed."));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, QueryVCLFailure, testing::ValuesIn(kQueryFailures),
                         [](const testing::TestParamInfo<QueryFailure>& info) { return std::string(info.param.name); });

TEST_F(QueryVCL, UsbStorageBlockedIsThrownToTheCallerAndTheDropBoxStays)
{
    host.answer(parthost::kUsbLoaded, 256);
    host.answer("modprobe usb_storage  > /dev/null 2>&1", 256);
    std::stringstream out;
    unsigned char thrown = 0;
    try {
        client->QueryVCL(out, vcl_query_current_records);
    } catch (unsigned char error) {
        thrown = error;
    }
    EXPECT_EQ(thrown, KOLT_USBBLOCKLISTED);
    EXPECT_EQ(client->getKOLTError(), KOLT_USBBLOCKLISTED);
    EXPECT_EQ(exchangeSteps(), Strings{"07"});
    EXPECT_EQ(tessa.DynamicPartitions().size(), 2u);   // the stale one and this call's
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "USB Blocklisted. Update failure"));
    EXPECT_TRUE(Contains(log, "QueryVCL failed with error code: 65"));
}

// A request that does not reach the drop box whole is a write error of this
// side (27): the controller is never handed a digest, and the drop box is
// detached and deleted. A link planted at the request's name is not
// followed.
namespace {

struct UnwritableRequest {
    const char* name;
    std::function<void()> arrange;
    const char* line;
};

const UnwritableRequest kUnwritableRequests[] = {
    {"PlantedLink",
     [] {
         ASSERT_EQ(::mkdir("/tmp/SECUPD", 0755), 0);
         std::ofstream("/tmp/victim") << "precious";
         ASSERT_EQ(::symlink("/tmp/victim", "/tmp/SECUPD/update.xml"), 0);
     },
     "Opening /tmp/SECUPD/update.xml failed: Too many levels of symbolic links (errno 40)"},
    {"DiskFull",
     [] {
         ASSERT_EQ(::mkdir("/tmp/SECUPD", 0755), 0);
         ASSERT_EQ(::mount("zagofull", "/tmp/SECUPD", "tmpfs", 0, "size=4k,mode=0755"), 0) << std::strerror(errno);
         std::ofstream("/tmp/SECUPD/filler") << std::string(4096, 'f');
     },
     "Writing /tmp/SECUPD/update.xml failed: No space left on device (errno 28)"},
    {"ReadOnly",
     [] {
         ASSERT_EQ(::mkdir("/tmp/SECUPD", 0755), 0);
         ASSERT_EQ(::mount("zagoro", "/tmp/SECUPD", "tmpfs", MS_RDONLY, "size=64k,mode=0755"), 0)
             << std::strerror(errno);
     },
     "Opening /tmp/SECUPD/update.xml failed: Read-only file system (errno 30)"},
};

} // namespace

class QueryVCLUnwritableRequest : public DropBoxQueryTest, public testing::WithParamInterface<UnwritableRequest> {};

TEST_P(QueryVCLUnwritableRequest, IsAWriteErrorAndNothingIsHandedOver)
{
    const UnwritableRequest& c = GetParam();
    c.arrange();
    if (HasFatalFailure())
        return;
    std::stringstream out;
    out << "kept";
    EXPECT_FALSE(client->QueryVCL(out, vcl_query_current_records));
    EXPECT_EQ(client->getKOLTError(), KOLT_PARTITIONUNREACHABLE);
    EXPECT_EQ(exchangeSteps(), (Strings{"07", "05", "06", "08"}));
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(out.str(), "kept");
    EXPECT_EQ(readWholeFile("/tmp/victim"), c.name == std::string("PlantedLink") ? "precious" : "");
    const Strings log = Log();
    EXPECT_TRUE(Contains(log, c.line));
    EXPECT_TRUE(Contains(log, "QueryVCL failed with error code: 27"));
}

INSTANTIATE_TEST_SUITE_P(Causes, QueryVCLUnwritableRequest, testing::ValuesIn(kUnwritableRequests),
                         [](const testing::TestParamInfo<UnwritableRequest>& info) {
                             return std::string(info.param.name);
                         });
