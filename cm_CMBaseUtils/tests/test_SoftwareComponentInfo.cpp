#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "Logger.h"
#include "PackageReaderTestSupport.h"
#include "PlatformLayer.h"
#include "SoftwareComponentInfo.h"
#include "TempDir.h"

namespace {

std::string fixture(const std::string& name) { return testData(name); }

SPCIInfo ids(const char* dev, const char* subDev, const char* ven, const char* subVen)
{
    SPCIInfo p;
    p.deviceID = dev;
    p.subDeviceID = subDev;
    p.vendorID = ven;
    p.subVendorID = subVen;
    return p;
}

void expectEntry(const SPCIInfo& e, const char* comp, const char* dev, const char* subDev, const char* ven,
                 const char* subVen, const char* display)
{
    EXPECT_EQ(e.componentID, comp);
    EXPECT_EQ(e.deviceID, dev);
    EXPECT_EQ(e.subDeviceID, subDev);
    EXPECT_EQ(e.vendorID, ven);
    EXPECT_EQ(e.subVendorID, subVen);
    EXPECT_EQ(e.display, display);
}

class PackageReader : public PackageFileTest {};

} // namespace

TEST_F(PackageReader, ReadsEverySupportedDeviceOfTheFixture)
{
    dir.write("package.xml", fixture("package.xml"));
    CSoftwareComponentInfo reader;
    std::vector<SPCIInfo> devices = reader.GetSupportedDevices();

    ASSERT_EQ(devices.size(), 5u);
    // Short identifiers are zero-filled to four digits, longer ones stay.
    expectEntry(devices[0], "104529", "0a1f", "001f", "1f00", "1f000", "ZAGO BOSS-N1 Monolithic");
    // Each PCIInfo takes the first Display that follows it.
    expectEntry(devices[1], "104530", "0A1F", "2151", "1B4B", "1028", "ZAGO BOSS-N1 Modular");
    expectEntry(devices[2], "104530", "0A20", "2152", "1B4B", "1028", "ZAGO BOSS-N1 Modular ET");
    // Element names inside a Device are matched in any letter case, and two
    // PCIInfo elements before one Display share it.
    expectEntry(devices[3], "104531", "0B11", "0001", "1B4B", "1028", "ZAGO BOSS-S2 Family");
    expectEntry(devices[4], "104531", "0B12", "0002", "1B4B", "1028", "ZAGO BOSS-S2 Family");

    std::string text = log();
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::CSoftwareComponentInfo() Entering Constructor Method"));
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::Init() Exiting"));
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::GetSupportedDevices() Found Some Device Nodes"));
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::GetSupportedDevices() Got the marketing name/Display name "
                               "for a PCI Device as ZAGO BOSS-N1 Modular ET"));
    EXPECT_TRUE(contains(text, " SoftwareComponentInfo:"));
}

TEST_F(PackageReader, DisplayNamesOfTheFixtureMatchIdentifiersAsNumbers)
{
    dir.write("package.xml", fixture("package.xml"));
    CSoftwareComponentInfo reader;

    struct Case {
        SPCIInfo device;
        const char* expected;
    };
    const Case cases[] = {
        // Discovery writes lower-case digits without leading zeros.
        {ids("a1f", "2151", "1b4b", "1028"), "ZAGO BOSS-N1 Modular"},
        {ids("0a1f", "2151", "1B4B", "1028"), "ZAGO BOSS-N1 Modular"},
        {ids("a20", "2152", "1b4b", "1028"), "ZAGO BOSS-N1 Modular ET"},
        {ids("b12", "2", "1b4b", "1028"), "ZAGO BOSS-S2 Family"},
        {ids("a1f", "1f", "1f00", "1f000"), "ZAGO BOSS-N1 Monolithic"},
        {ids("a1f", "2151", "1b4b", "1029"), ""},
        {ids("a1f", "2151", "1b4b", ""), ""},
        {ids("ffff", "ffff", "ffff", "ffff"), ""},
    };
    for (Case c : cases)
        EXPECT_EQ(reader.getMarketingNameForPCIDevice(c.device), c.expected)
            << c.device.deviceID << " " << c.device.subDeviceID << " " << c.device.vendorID << " "
            << c.device.subVendorID;
    EXPECT_TRUE(contains(log(), "CSoftwareComponentInfo::getMarketingNameForPCIDevice() Found a match with PCI "
                                "Devices from package.xml"));
}

TEST_F(PackageReader, LastMatchingEntryGivesTheDisplayNameEvenWhenEmpty)
{
    dir.write("package.xml",
              packageWithDevices("<Device componentID=\"1\"><PCIInfo deviceID=\"0A1F\" subDeviceID=\"1\" "
                                 "vendorID=\"1B4B\" subVendorID=\"1028\"/><Display>First</Display></Device>\n"
                                 "<Device componentID=\"2\"><PCIInfo deviceID=\"a1f\" subDeviceID=\"0001\" "
                                 "vendorID=\"1b4b\" subVendorID=\"1028\"/><Display>Second</Display></Device>\n"));
    CSoftwareComponentInfo reader;
    SPCIInfo device = ids("a1f", "1", "1b4b", "1028");
    EXPECT_EQ(reader.getMarketingNameForPCIDevice(device), "Second");

    dir.write("package.xml",
              packageWithDevices("<Device componentID=\"1\"><PCIInfo deviceID=\"0A1F\" subDeviceID=\"1\" "
                                 "vendorID=\"1B4B\" subVendorID=\"1028\"/><Display>First</Display></Device>\n"
                                 "<Device componentID=\"2\"><PCIInfo deviceID=\"a1f\" subDeviceID=\"0001\" "
                                 "vendorID=\"1b4b\" subVendorID=\"1028\"/></Device>\n"));
    EXPECT_EQ(reader.getMarketingNameForPCIDevice(device), "");
}

TEST_F(PackageReader, EntriesDoNotInheritValuesOfThePreviousEntry)
{
    dir.write("package.xml",
              packageWithDevices(
                  "<Device componentID=\"100\"><PCIInfo deviceID=\"1\" subDeviceID=\"2\" vendorID=\"3\" "
                  "subVendorID=\"4\"/><Display>Named</Display></Device>\n"
                  // No subVendorID, Display before PCIInfo.
                  "<Device componentID=\"200\"><Display>Too early</Display><PCIInfo deviceID=\"5\" "
                  "subDeviceID=\"6\" vendorID=\"7\"/></Device>\n"
                  // No componentID; empty attribute; Display without text followed by one with text.
                  "<Device><PCIInfo deviceID=\"\" subDeviceID=\"8\" vendorID=\"9\" subVendorID=\"a\"/>"
                  "<Display/><Display><b>markup</b></Display><Display>Later</Display></Device>\n"));
    CSoftwareComponentInfo reader;
    std::vector<SPCIInfo> devices = reader.GetSupportedDevices();
    ASSERT_EQ(devices.size(), 3u);
    expectEntry(devices[0], "100", "0001", "0002", "0003", "0004", "Named");
    expectEntry(devices[1], "200", "0005", "0006", "0007", "", "");
    expectEntry(devices[2], "", "", "0008", "0009", "000a", "Later");

    // An entry without subVendorID must not match through a stale value,
    // and an empty deviceID must not match a device id 0.
    SPCIInfo device = ids("5", "6", "7", "4");
    EXPECT_EQ(reader.getMarketingNameForPCIDevice(device), "");
    device = ids("0", "8", "9", "a");
    EXPECT_EQ(reader.getMarketingNameForPCIDevice(device), "");
}

TEST_F(PackageReader, XPathPartOfThePathIsCaseSensitive)
{
    dir.write("package.xml", "<SoftwareComponent><supporteddevices><Device componentID=\"1\"><PCIInfo "
                             "deviceID=\"1\" subDeviceID=\"1\" vendorID=\"1\" subVendorID=\"1\"/>"
                             "</Device></supporteddevices></SoftwareComponent>");
    CSoftwareComponentInfo reader;
    EXPECT_TRUE(reader.GetSupportedDevices().empty());
}

TEST_F(PackageReader, AnswersFollowTheFileOnDisk)
{
    CSoftwareComponentInfo reader; // no package.xml yet
    SPCIInfo device = ids("a1f", "2151", "1b4b", "1028");
    EXPECT_EQ(reader.getMarketingNameForPCIDevice(device), "");

    dir.write("package.xml", fixture("package.xml"));
    EXPECT_EQ(reader.getMarketingNameForPCIDevice(device), "ZAGO BOSS-N1 Modular");
    EXPECT_EQ(reader.GetSupportedDevices().size(), 5u);

    ASSERT_EQ(::remove(dir.file("package.xml").c_str()), 0);
    EXPECT_EQ(reader.getMarketingNameForPCIDevice(device), "");
    EXPECT_TRUE(reader.GetSupportedDevices().empty());
}

TEST_F(PackageReader, MissingPackageGivesEmptyAnswers)
{
    {
        CSoftwareComponentInfo reader;
        SPCIInfo device = ids("a1f", "2151", "1b4b", "1028");
        EXPECT_TRUE(reader.GetSupportedDevices().empty());
        EXPECT_EQ(reader.getMarketingNameForPCIDevice(device), "");
        EXPECT_EQ(reader.ParseXmlUsingXpath(), nullptr);
        char expr[] = "//Device";
        EXPECT_EQ(reader.ParseXmlUsingXpath(expr), nullptr);
    }
    std::string text = log();
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::Init() Entering"));
    EXPECT_FALSE(contains(text, "CSoftwareComponentInfo::Init() Exiting"));
    EXPECT_FALSE(contains(text, "not parsed successfully"));
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::GetSupportedDevices() Error during calculating xpath "
                               "expression"));
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::GetSupportedDevices() Exiting"));
}

// Only a regular file is parsed: a FIFO at the name would otherwise hold
// the run until somebody writes to it.
TEST_F(PackageReader, PackageNameHeldByAFifoGivesEmptyAnswersWithoutWaiting)
{
    ASSERT_EQ(mkfifo(dir.file("package.xml").c_str(), 0600), 0);
    CSoftwareComponentInfo reader;
    SPCIInfo device = ids("a1f", "2151", "1b4b", "1028");
    EXPECT_TRUE(reader.GetSupportedDevices().empty());
    EXPECT_EQ(reader.getMarketingNameForPCIDevice(device), "");
    EXPECT_EQ(reader.ParseXmlUsingXpath(), nullptr);
}

TEST_F(PackageReader, MalformedPackageGivesEmptyAnswers)
{
    const std::string contents[] = {fixture("package_malformed.xml"), "", "not xml at all",
                                    std::string("<SoftwareComponent>\0</SoftwareComponent>", 40)};
    for (const std::string& content : contents) {
        dir.write("package.xml", content);
        CSoftwareComponentInfo reader;
        SPCIInfo device = ids("a1f", "2151", "1b4b", "1028");
        EXPECT_TRUE(reader.GetSupportedDevices().empty());
        EXPECT_EQ(reader.getMarketingNameForPCIDevice(device), "");
        EXPECT_EQ(reader.ParseXmlUsingXpath(), nullptr);
    }
    std::string text = log();
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::Init() Document " + CPlatformLayer::getCurrentDirectory() +
                                   "package.xml not parsed successfully \n"));
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::Init() Exiting"));
}

TEST_F(PackageReader, ParseXmlUsingXpathReturnsTheDeviceNodes)
{
    dir.write("package.xml", fixture("package.xml"));
    CSoftwareComponentInfo reader;

    xmlXPathObjectPtr nodes = reader.ParseXmlUsingXpath();
    ASSERT_NE(nodes, nullptr);
    ASSERT_EQ(nodes->nodesetval->nodeNr, 4);
    xmlChar* componentID = reader.GetAttributeValue(nodes->nodesetval->nodeTab[3], "componentID");
    ASSERT_NE(componentID, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(componentID), "104532");
    xmlXPathFreeObject(nodes);

    char expr[] = "//SoftwareComponent/ComponentType";
    nodes = reader.ParseXmlUsingXpath(expr);
    ASSERT_NE(nodes, nullptr);
    EXPECT_EQ(nodes->nodesetval->nodeNr, 1);
    xmlXPathFreeObject(nodes);

    char none[] = "//NoSuchElement";
    EXPECT_EQ(reader.ParseXmlUsingXpath(none), nullptr);
    EXPECT_TRUE(contains(log(), "CSoftwareComponentInfo::GetNodeSet() Empty nodeset"));
}

TEST_F(PackageReader, GetNodeSetAndGetAttributeValueHandleAbsentParts)
{
    std::string xml = "<Root><E a=\"1\" empty=\"\"/></Root>";
    CSoftwareComponentInfo reader(xml);
    xmlDocPtr doc = xmlParseMemory(xml.c_str(), static_cast<int>(xml.size()));
    ASSERT_NE(doc, nullptr);

    unsigned char bad[] = "//[";
    EXPECT_EQ(reader.GetNodeSet(doc, bad), nullptr);
    EXPECT_TRUE(contains(log(), "CSoftwareComponentInfo::GetNodeSet() Error in xmlXPathEvalExpression"));

    unsigned char expr[] = "//E";
    EXPECT_EQ(reader.GetNodeSet(nullptr, expr), nullptr);

    xmlXPathObjectPtr nodes = reader.GetNodeSet(doc, expr);
    ASSERT_NE(nodes, nullptr);
    xmlNodePtr e = nodes->nodesetval->nodeTab[0];
    EXPECT_STREQ(reinterpret_cast<const char*>(reader.GetAttributeValue(e, "a")), "1");
    EXPECT_EQ(reader.GetAttributeValue(e, "missing"), nullptr);
    ASSERT_NE(reader.GetAttributeValue(e, "empty"), nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(reader.GetAttributeValue(e, "empty")), "");
    EXPECT_EQ(reader.GetAttributeValue(nullptr, "a"), nullptr);
    xmlXPathFreeObject(nodes);
    xmlFreeDoc(doc);
}

TEST_F(PackageReader, ConstructorFromTextLogsTextAndFailureWithEmptyPath)
{
    std::string broken = "<SoftwareComponent><unclosed></SoftwareComponent>";
    {
        CSoftwareComponentInfo reader(broken);
    }
    std::string good = "<SoftwareComponent/>";
    {
        CSoftwareComponentInfo reader(good);
    }
    std::string text = log();
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::CSoftwareComponentInfo(String) Entering Constructor Method"));
    EXPECT_TRUE(contains(text, ": " + broken + "\n"));
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::CSoftwareComponentInfo(string) Document  not parsed "
                               "successfully \n"));
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::CSoftwareComponentInfo(string) Exiting"));
    EXPECT_FALSE(contains(text, "Init() Entering"));
}

TEST_F(PackageReader, ConstructorFromFileNameParsesThatFileWithoutEntryMessage)
{
    dir.write("other.xml", "<broken>");
    char name[] = "other.xml";
    {
        CSoftwareComponentInfo reader(name);
    }
    std::string text = log();
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::Init() Document " + dir.path() +
                                   "/other.xml not parsed successfully \n"));
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::Init() Exiting"));
    EXPECT_FALSE(contains(text, "Entering Constructor Method"));

    // Queries still read this reader's own file.
    dir.write("other.xml", fixture("package.xml"));
    CSoftwareComponentInfo reader(name);
    EXPECT_EQ(reader.GetSupportedDevices().size(), 5u);
}

TEST(PackageReaderLog, MarkerOpensBaseUtilsLogWhenNoLogIsOpen)
{
    TempDir dir;
    dir.write(strEnableLogFileName, "");
    dir.write("package.xml", fixture("package.xml"));
    {
        CSoftwareComponentInfo reader;
    }
    ASSERT_TRUE(dir.exists("baseutils.log"));
    std::string text = dir.read("baseutils.log");
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::CSoftwareComponentInfo() Entering Constructor Method"));
    EXPECT_TRUE(contains(text, "CSoftwareComponentInfo::Init() Exiting"));
}

TEST(PackageReaderLog, WithoutMarkerNothingIsOpened)
{
    TempDir dir;
    dir.write("package.xml", fixture("package.xml"));
    {
        CSoftwareComponentInfo reader;
        EXPECT_EQ(reader.GetSupportedDevices().size(), 5u);
    }
    EXPECT_FALSE(dir.exists("baseutils.log"));
}

TEST(PackageReaderLog, AnOpenLogStaysTheLogOfTheRun)
{
    TempDir dir;
    ASSERT_TRUE(CLogger::GetInstance()->Initialize("debug_inv.log"));
    dir.write(strEnableLogFileName, "");
    {
        CSoftwareComponentInfo reader;
    }
    EXPECT_FALSE(dir.exists("baseutils.log"));
    EXPECT_TRUE(contains(dir.read("debug_inv.log"),
                         "CSoftwareComponentInfo::CSoftwareComponentInfo() Entering Constructor Method"));
}

TEST(PackageReaderConstants, InventoryQueryPieces)
{
    EXPECT_EQ(QUERYCOMPID + "104529" + XPATH_SUFFIX, "/SVMInventory/Device[@componentID = \"104529\"]");
}
