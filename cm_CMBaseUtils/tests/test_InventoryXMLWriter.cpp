#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <memory>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "IDeviceXMLWriter.h"
#include "InventoryXMLWriter.h"
#include "Logger.h"
#include "ResultDocumentTestDevices.h"
#include "TempDir.h"

namespace {

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SVMInventory lang=\"en\">";
const std::string kTail = "</SVMInventory>";

std::unique_ptr<CDeviceInfo> pciDevice(const std::string& enumId = "")
{
    std::unique_ptr<CDeviceInfo> d = sampleControllerRecord();
    d->setStatus(0);
    d->setEnumId(enumId);
    return d;
}

// Writes the document for `devices` into out.xml through the interface, as
// the front ends do, and returns the file's content.
std::string document(TempDir& dir, const std::vector<CDeviceInfo*>& devices)
{
    std::unique_ptr<IDeviceXMLWriter> writer(new CInventoryXMLWriter());
    EXPECT_TRUE(writer->GetXML(devices, dir.file("out.xml")));
    writer.reset();
    return dir.read("out.xml");
}

// Value of an XPath string expression over a parsed document; "<invalid>"
// when the text is no well-formed XML.
std::string xpathString(const std::string& xml, const char* expression)
{
    xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "out.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr)
        return "<invalid>";
    xmlXPathContextPtr context = xmlXPathNewContext(doc);
    xmlXPathObjectPtr result = xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expression), context);
    std::string value;
    if (result != nullptr && result->type == XPATH_STRING && result->stringval != nullptr)
        value = reinterpret_cast<const char*>(result->stringval);
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(context);
    xmlFreeDoc(doc);
    return value;
}

class InventoryWriter : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CLogger::GetInstance()->Initialize(dir.file("debug.log"))); }
    TempDir dir;
};

} // namespace

TEST_F(InventoryWriter, EmptyListGivesRootElementOnly)
{
    EXPECT_EQ(document(dir, {}), kHead + kTail);
}

TEST_F(InventoryWriter, PciDeviceEntry)
{
    auto d = pciDevice();
    EXPECT_EQ(document(dir, {d.get()}),
              kHead +
                  "<Device  vendorID=\"abc\" deviceID=\"a1f\" subVendorID=\"10\" subDeviceID=\"0\"  display=\"X\" >"
                  "<Application componentType=\"FRMW\"  version=\"1.0\"  display=\"M\"/></Device>" +
                  kTail);
}

TEST_F(InventoryWriter, PciDeviceEntryWithSerialNumber)
{
    auto d = pciDevice("Serial Number: S1");
    EXPECT_EQ(document(dir, {d.get()}),
              kHead +
                  "<Device  vendorID=\"abc\" deviceID=\"a1f\" subVendorID=\"10\" subDeviceID=\"0\"  display=\"X\" "
                  "enum = \"Serial Number: S1\" ><Application componentType=\"FRMW\"  version=\"1.0\"  "
                  "display=\"M\"/></Device>" +
                  kTail);
}

TEST_F(InventoryWriter, NonPciDeviceEntryKeepsEmptyComponentId)
{
    auto d = pciDevice("E1");
    d->setDeviceType(CDeviceInfo::NON_PCI_DEVICE);
    EXPECT_EQ(document(dir, {d.get()}),
              kHead +
                  "<Device  componentID=\"\" display=\"X\" enum = \"E1\" ><Application componentType=\"FRMW\" "
                  "version=\"1.0\" display=\"M\"/></Device>" +
                  kTail);
}

// Any status but 0 gives the failure entry, whatever the device type.
struct FailureCase {
    CDeviceInfo::eDeviceType type;
    int status;
};

class FailureEntries : public InventoryWriter, public testing::WithParamInterface<FailureCase> {};

TEST_P(FailureEntries, StandAloneStatusElement)
{
    auto d = pciDevice("E1");
    d->setDeviceType(GetParam().type);
    d->setStatus(GetParam().status);
    d->setErrorMsg("Payload directory is not proper.");
    EXPECT_EQ(document(dir, {d.get()}),
              kHead + "<SPStatus result =\"false\" ><Message id=\"0\" >Payload directory is not proper.</Message></SPStatus>" +
                  kTail);
}

INSTANTIATE_TEST_SUITE_P(Statuses, FailureEntries,
                         testing::Values(FailureCase{CDeviceInfo::PCI_DEVICE, 2},
                                         FailureCase{CDeviceInfo::NON_PCI_DEVICE, 1},
                                         FailureCase{CDeviceInfo::DEVICE_TYPE_NONE, 2},
                                         FailureCase{CDeviceInfo::PCI_DEVICE, -1}),
                         [](const testing::TestParamInfo<FailureCase>& info) {
                             std::string status = info.param.status < 0 ? "Minus" + std::to_string(-info.param.status)
                                                                        : std::to_string(info.param.status);
                             return "Type" + std::to_string(info.param.type) + "Status" + status;
                         });

TEST_F(InventoryWriter, MessageIdIsSignedDecimal)
{
    auto d = pciDevice();
    d->setStatus(1);
    d->setMessageID(-7);
    d->setErrorMsg("m");
    EXPECT_EQ(document(dir, {d.get()}), kHead + "<SPStatus result =\"false\" ><Message id=\"-7\" >m</Message></SPStatus>" + kTail);
}

TEST_F(InventoryWriter, DeviceOfNoTypeLeavesNoTrace)
{
    auto none = pciDevice();
    none->setDeviceType(CDeviceInfo::DEVICE_TYPE_NONE);
    auto pci = pciDevice();
    std::string text = document(dir, {none.get(), pci.get(), none.get()});
    EXPECT_EQ(text, document(dir, {pci.get()}));
}

TEST_F(InventoryWriter, EntriesFollowListOrderOnOneLine)
{
    auto a = pciDevice("A");
    auto b = pciDevice("B");
    b->setStatus(1);
    b->setErrorMsg("failed");
    std::string text = document(dir, {b.get(), a.get()});
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_LT(text.find("<SPStatus"), text.find("<Device"));
    EXPECT_EQ(text.substr(text.size() - kTail.size()), kTail);
}

TEST_F(InventoryWriter, ExistingFileIsReplaced)
{
    dir.write("out.xml", std::string(5000, 'z'));
    EXPECT_EQ(document(dir, {}), kHead + kTail);
}

TEST_F(InventoryWriter, WithoutFileNameTheDocumentGoesToStandardOutput)
{
    auto d = pciDevice();
    testing::internal::CaptureStdout();
    {
        CInventoryXMLWriter writer;
        EXPECT_TRUE(writer.GetXML({d.get()}, ""));
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.substr(0, kHead.size()), kHead);
    EXPECT_EQ(out.find('\n'), std::string::npos);
    EXPECT_NE(out.find("display=\"M\"/></Device></SVMInventory>"), std::string::npos);
}

// A result file that cannot be written must not pass for a finished run:
// the document still reaches standard output, the log says why, and the
// writer throws.
TEST_F(InventoryWriter, UnwritableFileSendsTheDocumentToStandardOutputAndThrows)
{
    testing::internal::CaptureStdout();
    {
        CInventoryXMLWriter writer;
        EXPECT_THROW(writer.GetXML({}, dir.file("missing/out.xml")), CResultDocumentError);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kHead + kTail);
    EXPECT_FALSE(dir.exists("missing"));
    std::string log = dir.read("debug.log");
    EXPECT_NE(log.find("CInventoryXMLWriter::GetXML() udpate xml file opened"), std::string::npos);
    EXPECT_NE(log.find("ERROR: CInventoryXMLWriter::GetXML() creating a temporary file for result file " +
                       dir.file("missing/out.xml") + " failed: No such file or directory"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("ERROR: CInventoryXMLWriter::print() "), std::string::npos) << log;
    EXPECT_EQ(log.find("copying the contents to Inventory XML file"), std::string::npos);
    EXPECT_NE(log.find("CInventoryXMLWriter::GetXML() Exiting"), std::string::npos);
}

TEST_F(InventoryWriter, LogsItsSteps)
{
    auto pci = pciDevice();
    auto other = pciDevice();
    other->setDeviceType(CDeviceInfo::NON_PCI_DEVICE);
    auto failed = pciDevice();
    failed->setStatus(1);
    document(dir, {pci.get(), other.get(), failed.get()});
    std::string log = dir.read("debug.log");
    const char* steps[] = {"CInventoryXMLWriter::CInventoryXMLWriter() In Constructor Method",
                           "CInventoryXMLWriter::GetXML() Entering",
                           "CInventoryXMLWriter::GetXML() udpate xml file opened",
                           "CInventoryXMLWriter::addXMLHeader() In addXMLHeader Method",
                           "CInventoryXMLWriter::addInventoryHeader() In addInventoryHeader Method",
                           "CInventoryXMLWriter::GetXML() Found one PCI Device",
                           "CInventoryXMLWriter::GetXML() Found one Non PCI Device",
                           "CInventoryXMLWriter::GetXML() Update failed for one Device",
                           "CInventoryXMLWriter::addInventoryFooter() In addInventoryFooter Method",
                           "CInventoryXMLWriter::print() Entering",
                           "CInventoryXMLWriter::print() copying the contents to Inventory XML file",
                           "CInventoryXMLWriter::print() Exiting",
                           "CInventoryXMLWriter::GetXML() Exiting",
                           "CInventoryXMLWriter::CInventoryXMLWriter() In Destructor Method"};
    size_t at = 0;
    for (const char* step : steps) {
        size_t found = log.find(step, at);
        ASSERT_NE(found, std::string::npos) << step;
        at = found;
    }
    EXPECT_NE(log.find("InventoryXMLWriter:"), std::string::npos);
}

// Texts from controllers and packages may hold markup characters; the
// document must stay well-formed and give the texts back unchanged.
TEST_F(InventoryWriter, MarkupCharactersAreEscapedEverywhere)
{
    const std::string nasty = "a&b<c>d\"e'f";
    auto pci = pciDevice("Serial Number: " + nasty);
    SPCIInfo ids;
    ids.vendorID = nasty;
    ids.deviceID = nasty;
    ids.subVendorID = nasty;
    ids.subDeviceID = nasty;
    pci->setPCIInfo(ids);
    pci->setDisplay(nasty);
    pci->setComponentType(nasty);
    pci->setVersion(nasty);
    pci->setDeviceName(nasty);
    auto nonPci = pciDevice(nasty);
    nonPci->setDeviceType(CDeviceInfo::NON_PCI_DEVICE);
    nonPci->setComponentID(nasty);
    auto failed = pciDevice();
    failed->setStatus(1);
    failed->setErrorMsg(nasty);

    std::string xml = document(dir, {pci.get(), nonPci.get(), failed.get()});

    EXPECT_EQ(xpathString(xml, "string(/SVMInventory/Device[1]/@enum)"), "Serial Number: " + nasty);
    for (const char* attribute : {"vendorID", "deviceID", "subVendorID", "subDeviceID", "display"})
        EXPECT_EQ(xpathString(xml, (std::string("string(/SVMInventory/Device[1]/@") + attribute + ")").c_str()), nasty)
            << attribute;
    for (const char* attribute : {"componentType", "version", "display"})
        EXPECT_EQ(xpathString(xml, (std::string("string(/SVMInventory/Device[1]/Application/@") + attribute + ")").c_str()),
                  nasty)
            << attribute;
    EXPECT_EQ(xpathString(xml, "string(/SVMInventory/Device[2]/@componentID)"), nasty);
    EXPECT_EQ(xpathString(xml, "string(/SVMInventory/Device[2]/@enum)"), nasty);
    EXPECT_EQ(xpathString(xml, "string(/SVMInventory/SPStatus/Message)"), nasty);
}

TEST_F(InventoryWriter, ControlCharactersThatXmlForbidsAreLeftOut)
{
    auto d = pciDevice(std::string("Serial Number: S\x01\x1f" "1\t2", 21));
    std::string xml = document(dir, {d.get()});
    EXPECT_EQ(xpathString(xml, "string(/SVMInventory/Device/@enum)"), "Serial Number: S1\t2");
}

// A line break in a field (a package display name written over several
// lines, a controller text) must neither break the document's single line
// nor be turned into a blank by the reader's attribute normalisation.
TEST_F(InventoryWriter, LineBreaksInFieldsKeepTheDocumentOnOneLine)
{
    auto d = pciDevice("Serial Number: S1");
    d->setDisplay("\n  ZAGO Boot\r\nController\n");
    auto failed = pciDevice();
    failed->setStatus(1);
    failed->setErrorMsg("line one\nline two");
    std::string xml = document(dir, {d.get(), failed.get()});
    EXPECT_EQ(xml.find('\n'), std::string::npos);
    EXPECT_EQ(xml.find('\r'), std::string::npos);
    EXPECT_EQ(xpathString(xml, "string(/SVMInventory/Device/@display)"), "\n  ZAGO Boot\r\nController\n");
    EXPECT_EQ(xpathString(xml, "string(/SVMInventory/SPStatus/Message)"), "line one\nline two");
}

// The document declares UTF-8: a controller text with bytes that are no
// UTF-8 (0xFF padding, Latin-1) must not make it unreadable, while real
// UTF-8 from package.xml stays as it is.
TEST_F(InventoryWriter, BytesThatAreNoUtf8AreLeftOut)
{
    auto d = pciDevice("Serial Number: \xff\xffSN\xe9" "1\xc0\xaf\xed\xa0\x80\xef\xbf\xbf");
    d->setDisplay("ZAGO\xe2\x84\xa2 Boot \xc3\xa9\xf0\x9f\x98\x80");
    d->setDeviceName("M\xe2\x84");  // cut sequence at the end
    std::string xml = document(dir, {d.get()});
    EXPECT_EQ(xpathString(xml, "string(/SVMInventory/Device/@enum)"), "Serial Number: SN1");
    EXPECT_EQ(xpathString(xml, "string(/SVMInventory/Device/@display)"), "ZAGO\xe2\x84\xa2 Boot \xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(xpathString(xml, "string(/SVMInventory/Device/Application/@display)"), "M");
}

// U+FFFE and U+FFFF are no XML characters: like the bytes that are no
// UTF-8 they are left out, while the characters next to them stay.
TEST(XMLEscape, NoncharactersFFFEAndFFFFAreLeftOut)
{
    struct Case {
        const char* name;
        std::string text;
        std::string expected;
    } cases[] = {
        {"U+FFFE", "a\xef\xbf\xbe" "b", "ab"},
        {"U+FFFF", "a\xef\xbf\xbf" "b", "ab"},
        {"both, repeated", "\xef\xbf\xbe\xef\xbf\xbf\xef\xbf\xbe", ""},
        {"U+FFFD stays", "\xef\xbf\xbd", "\xef\xbf\xbd"},
        {"U+FFFC stays", "\xef\xbf\xbc", "\xef\xbf\xbc"},
        {"U+FFBE stays", "\xef\xbe\xbe", "\xef\xbe\xbe"},
        {"U+EFFE stays", "\xee\xbf\xbe", "\xee\xbf\xbe"},
        {"U+10FFFE stays", "\xf4\x8f\xbf\xbe", "\xf4\x8f\xbf\xbe"},
        {"cut U+FFFE", "a\xef\xbf", "a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(XMLEscape(c.text), c.expected) << c.name;
}

TEST_F(InventoryWriter, DocumentWithNoncharactersInFieldsStaysReadable)
{
    auto d = pciDevice("Serial Number: S\xef\xbf\xbe" "1");
    d->setDisplay("ZAGO\xef\xbf\xbf Boot");
    std::string xml = document(dir, {d.get()});
    EXPECT_EQ(xpathString(xml, "string(/SVMInventory/Device/@enum)"), "Serial Number: S1");
    EXPECT_EQ(xpathString(xml, "string(/SVMInventory/Device/@display)"), "ZAGO Boot");
}

TEST(XMLEscape, LeavesOrdinaryTextAlone)
{
    EXPECT_EQ(XMLEscape("ZAGO BOSS-N1 2.5.0.17 1bd4"), "ZAGO BOSS-N1 2.5.0.17 1bd4");
    EXPECT_EQ(XMLEscape("&<>\"'"), "&amp;&lt;&gt;&quot;&apos;");
    EXPECT_EQ(XMLEscape("a\tb\nc\rd"), "a&#9;b&#10;c&#13;d");
}
