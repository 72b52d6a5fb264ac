#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "Logger.h"
#include "ResultDocumentTestDevices.h"
#include "TempDir.h"
#include "UpdateXMLWriter.h"

namespace {

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SVMExecution lang=\"en\">";
const std::string kTail = "</SVMExecution>";
const std::string kReboot = "<RebootRequired>1</RebootRequired>";

// The controller record of a successful flash as discovery and the update
// leave it.
std::unique_ptr<CDeviceInfo> pciDevice(int status, const std::string& message, bool reboot)
{
    std::unique_ptr<CDeviceInfo> d = sampleControllerRecord();
    d->setStatus(status);
    d->setErrorMsg(message);
    d->setRebootRequired(reboot);
    return d;
}

const std::string kPciElements =
    "<Device  vendorID=\"abc\" deviceID=\"a1f\" subVendorID=\"10\" subDeviceID=\"0\" display=\"X\" >"
    "<Application componentType=\"FRMW\" version=\"1.0\" display=\"M\" >";

std::string writeToFile(TempDir& dir, const std::vector<CDeviceInfo*>& devices)
{
    {
        CUpdateXMLWriter writer;
        EXPECT_TRUE(writer.GetXML(devices, "result.xml"));
    }
    return dir.read("result.xml");
}

} // namespace

TEST(UpdateXMLWriter, EmptyListGivesDeviceNotFound)
{
    TempDir dir;
    EXPECT_EQ(writeToFile(dir, {}),
              kHead + "<SPStatus result = \"false\" ><Message id=\"1\" >Device not found</Message></SPStatus>" + kTail);
}

// A PCI device keeps its Device and Application elements whatever its
// status; only a successful one's reboot need gives the marker, and a
// status never set counts as a failure.
TEST(UpdateXMLWriter, PciDeviceEntries)
{
    struct Case {
        const char* name;
        int status;
        const char* message;
        bool reboot;
        std::string entryEnd; // what follows the Application start tag
    } cases[] = {
        {"success with reboot need", 0, "Firmware update is successful.", true,
         "<SPStatus result = \"true\" ><Message id=\"0\" >Firmware update is successful.</Message>"
         "</SPStatus></Application></Device>" +
             kReboot},
        {"failure ignores its reboot flag", 1, "ERROR: Failed to activate Firmware", true,
         "<SPStatus result = \"false\" ><Message id=\"0\" >ERROR: Failed to activate Firmware</Message>"
         "</SPStatus></Application></Device>"},
        {"unset status", -1, "", false,
         "<SPStatus result = \"false\" ><Message id=\"0\" ></Message></SPStatus></Application></Device>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        auto d = pciDevice(c.status, c.message, c.reboot);
        EXPECT_EQ(writeToFile(dir, {d.get()}), kHead + kPciElements + c.entryEnd + kTail);
    }
}

TEST(UpdateXMLWriter, PayloadErrorRecordGivesBareFailedStatus)
{
    TempDir dir;
    CDeviceInfo d;
    d.setStatus(2);
    d.setErrorMsg("Payload directory is not proper.");
    EXPECT_EQ(writeToFile(dir, {&d}),
              kHead + "<SPStatus result = \"false\" ><Message id=\"0\" >Payload directory is not proper.</Message></SPStatus>" +
                  kTail);
}

TEST(UpdateXMLWriter, UntypedSuccessfulDeviceLeavesNoTrace)
{
    TempDir dir;
    CDeviceInfo d;
    d.setStatus(0);
    d.setRebootRequired(true);
    EXPECT_EQ(writeToFile(dir, {&d}), kHead + kTail);
}

TEST(UpdateXMLWriter, NonPciDevicesWithEnumAndFailure)
{
    TempDir dir;
    CDeviceInfo ok;
    ok.setDeviceType(CDeviceInfo::NON_PCI_DEVICE);
    ok.setStatus(0);
    ok.setComponentID("1234");
    ok.setDisplay("D");
    ok.setEnumId("Serial Number: S1");
    ok.setComponentType("FRMW");
    ok.setVersion("2.5.0.17");
    ok.setDeviceName("N");
    ok.setMessageID(7);
    ok.setErrorMsg("done");
    CDeviceInfo bad(ok);
    bad.setStatus(1);
    bad.setMessageID(-3);
    bad.setErrorMsg("failed");
    EXPECT_EQ(writeToFile(dir, {&ok, &bad}),
              kHead +
                  "<Device  componentID=\"1234\" display=\"D\" enum = \"Serial Number: S1\" >"
                  "<Application componentType=\"FRMW\" version=\"2.5.0.17\" display=\"N\" >"
                  "<SPStatus result = \"true\" ><Message id=\"7\" >done</Message></SPStatus></Application></Device>"
                  "<SPStatus result = \"false\" ><Message id=\"-3\" >failed</Message></SPStatus>" +
                  kTail);
}

TEST(UpdateXMLWriter, PciEnumTextEndsTheDeviceElement)
{
    TempDir dir;
    auto d = pciDevice(0, "ok", false);
    d->setEnumId("Serial Number: AB12CD");
    std::string doc = writeToFile(dir, {d.get()});
    EXPECT_NE(doc.find("display=\"X\" enum = \"Serial Number: AB12CD\" ><Application"), std::string::npos) << doc;
    EXPECT_EQ(doc.find(kReboot), std::string::npos);
}

TEST(UpdateXMLWriter, OneRebootMarkerAfterTheLastEntry)
{
    TempDir dir;
    auto first = pciDevice(0, "Firmware update is successful.", false);
    auto second = pciDevice(0, "Firmware update is successful.", true);
    auto third = pciDevice(0, "Firmware update is successful.", true);
    std::string doc = writeToFile(dir, {first.get(), second.get(), third.get()});
    std::string tail = "</Device>" + kReboot + kTail;
    ASSERT_GE(doc.size(), tail.size());
    EXPECT_EQ(doc.substr(doc.size() - tail.size()), tail);
    EXPECT_EQ(doc.find(kReboot), doc.rfind(kReboot));
    EXPECT_EQ(doc.find('\n'), std::string::npos);
}

TEST(UpdateXMLWriter, EmptyNameWritesToStandardOutputOnly)
{
    TempDir dir;
    testing::internal::CaptureStdout();
    {
        CUpdateXMLWriter writer;
        EXPECT_TRUE(writer.GetXML({}, ""));
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, kHead + "<SPStatus result = \"false\" ><Message id=\"1\" >Device not found</Message></SPStatus>" + kTail);
}

TEST(UpdateXMLWriter, UnwritableFileSendsTheDocumentToStandardOutputAndThrows)
{
    TempDir dir;
    dir.write("result.xml", "<earlier/>");
    ASSERT_EQ(symlink(dir.file("result.xml").c_str(), dir.file("link.xml").c_str()), 0);
    testing::internal::CaptureStdout();
    {
        CUpdateXMLWriter writer;
        try {
            writer.GetXML({}, dir.file("link.xml"));
            ADD_FAILURE() << "no exception";
        } catch (const CResultDocumentError& e) {
            EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos) << e.what();
        }
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.substr(0, kHead.size()), kHead);
    EXPECT_EQ(dir.read("result.xml"), "<earlier/>");
}

TEST(UpdateXMLWriter, ExistingFileIsReplaced)
{
    TempDir dir;
    dir.write("result.xml", std::string(500, 'x'));
    EXPECT_EQ(writeToFile(dir, {}),
              kHead + "<SPStatus result = \"false\" ><Message id=\"1\" >Device not found</Message></SPStatus>" + kTail);
}

TEST(UpdateXMLWriter, LogsTheRebootNeed)
{
    TempDir dir;
    ASSERT_TRUE(CLogger::GetInstance()->Initialize("debug.log"));
    auto d = pciDevice(0, "Firmware update is successful.", true);
    writeToFile(dir, {d.get()});
    std::string log = dir.read("debug.log");
    EXPECT_NE(log.find("         UpdateXMLWriter:"), std::string::npos);
    for (const char* line : {"CUpdateXMLWriter::GetXML() Entering", "CUpdateXMLWriter::GetXML() udpate xml file opened",
                             "CUpdateXMLWriter::GetXML() Found one PCI Device",
                             "CUpdateXMLWriter::addRebootRequiredStatus() Device need reboot",
                             "CUpdateXMLWriter::print() copying the contents to Update XML file",
                             "CUpdateXMLWriter::GetXML() Exiting",
                             "CUpdateXMLWriter::~CUpdateXMLWriter() In Destructor Method"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

// Controller texts and package names may hold markup characters; the
// document must stay well-formed and keep them as text.
TEST(UpdateXMLWriter, MarkupCharactersInFieldTextsAreEscaped)
{
    TempDir dir;
    auto d = pciDevice(1, "failed: <status> & \"more\"", false);
    d->setDisplay("A&B <Boot> \"Ctl\" 'x'");
    d->setDeviceName("M<1>");
    d->setEnumId("Serial Number: S&1");
    std::string doc = writeToFile(dir, {d.get()});
    EXPECT_NE(doc.find("display=\"A&amp;B &lt;Boot&gt; &quot;Ctl&quot; &apos;x&apos;\" enum = \"Serial Number: S&amp;1\" >"),
              std::string::npos)
        << doc;
    EXPECT_NE(doc.find("display=\"M&lt;1&gt;\" >"), std::string::npos) << doc;
    EXPECT_NE(doc.find(">failed: &lt;status&gt; &amp; &quot;more&quot;</Message>"), std::string::npos) << doc;
    EXPECT_EQ(system(("xmllint --noout '" + dir.file("result.xml") + "'").c_str()), 0);
}
