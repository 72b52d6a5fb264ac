// Component id and vendor version read from package descriptors.
#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "KoltTestSupport.h"
#include "PlatformLayer.h"
#include "SecureTessa.h"
#include "SimPlatform.h"
#include "TempDir.h"

// libxml2's global clean-up, counted instead of run: the readers must leave
// libxml2's state to the documents other parts of the program still hold.
static int g_cleanups = 0;
extern "C" void xmlCleanupParser(void) { ++g_cleanups; }

namespace {

using Lines = std::vector<std::string>;

std::string package(const std::string& body, const std::string& rootAttributes = "")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SoftwareComponent" + rootAttributes + ">\n" + body +
           "</SoftwareComponent>\n";
}

class PackageIdentity : public KoltClientTest {
protected:
    void SetUp() override
    {
        KoltClientTest::SetUp();
        newClient();
    }
    Lines messages() { return log.messagesFrom("AddNFile.cpp"); }
};

struct IdCase {
    const char* name;
    std::string body;
    bool found;
    std::string id;
    int smallerLines;  // "This One Smaller"
};

void PrintTo(const IdCase& c, std::ostream* out) { *out << c.name; }

const IdCase kIds[] = {
    {"SmallestAcrossAllSupportedDevices",
     "<SupportedDevices><Device componentID=\"300\"/><Device componentID=\"25\"/></SupportedDevices>\n"
     "<SupportedDevices><Device componentID=\"1000\"/></SupportedDevices>\n",
     true, "25", 1},
    {"EqualNumbersKeepTheFirst",
     "<SupportedDevices><Device componentID=\"012\"/><Device componentID=\"12\"/></SupportedDevices>", true, "012", 0},
    {"LeadingZeroKept",
     "<SupportedDevices><Device componentID=\"042\"/><Device componentID=\"100\"/></SupportedDevices>", true, "042", 0},
    {"TextThatIsNoNumberCountsAsZero",
     "<SupportedDevices><Device componentID=\"5\"/><Device componentID=\"abc\"/></SupportedDevices>", true, "abc", 1},
    {"DevicesOutsideSupportedDevicesIgnored",
     "<Device componentID=\"1\"/><SupportedDevices><!-- c --><Device componentID=\"5\"/></SupportedDevices>", true,
     "5", 0},
    {"DevicesWithoutIdSkipped",
     "<SupportedDevices><Device/><Device componentID=\"\"/><Device componentID=\"7\"/><Device vendorID=\"1\"/>"
     "</SupportedDevices>",
     true, "7", 0},
    {"OnlyDevicesWithoutId", "<SupportedDevices><Device/><Device componentID=\"\"/></SupportedDevices>", false, "", 0},
    {"NoSupportedDevices", "<Name>x</Name>", false, "", 0},
    {"EmptySupportedDevices", "<SupportedDevices/>", false, "", 0},
};

class ComponentId : public PackageIdentity, public testing::WithParamInterface<IdCase> {};

} // namespace

TEST_P(ComponentId, SmallestComponentIdOfThePackage)
{
    const IdCase& c = GetParam();
    work.write("package.xml", package(c.body));
    std::string id = "unchanged";
    EXPECT_EQ(client->get_comp_id(id), c.found);
    const Lines lines = messages();
    if (c.found) {
        EXPECT_EQ(id, c.id);
        EXPECT_EQ(client->getKOLTError(), 0);
        EXPECT_EQ(lines.back(), "Smallest ComponentId:" + c.id);
    } else {
        EXPECT_EQ(id, "unchanged");
        EXPECT_EQ(client->getKOLTError(), 53);
        EXPECT_EQ(lines.back(), "Did not find SupportedDevices or Device or componentID");
    }
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "This One Smaller"), c.smallerLines);
    EXPECT_EQ(g_cleanups, 0);
}

INSTANTIATE_TEST_SUITE_P(Packages, ComponentId, testing::ValuesIn(kIds),
                         [](const testing::TestParamInfo<IdCase>& info) { return std::string(info.param.name); });

TEST_F(PackageIdentity, ComponentIdLogLines)
{
    work.write("package.xml",
               package("<SupportedDevices><Device componentID=\"300\"/><Device componentID=\"25\"/></SupportedDevices>"
                       "<SupportedDevices><Device componentID=\"1000\"/></SupportedDevices>"));
    std::string id;
    ASSERT_TRUE(client->get_comp_id(id));
    EXPECT_EQ(messages(), (Lines{"Getting component id from package.xml", "Found comp id:", "300", "Found comp id:",
                                 "25", "Found comp id:", "1000", "List of ComponentIds:", "300", "25",
                                 "This One Smaller", "1000", "Smallest ComponentId:25"}));
}

namespace {

struct BadPackage {
    const char* name;
    bool present;
    std::string content;
    std::string message;
};

void PrintTo(const BadPackage& c, std::ostream* out) { *out << c.name; }

const BadPackage kBadPackages[] = {
    {"Missing", false, "", "Could not open package.xml"},
    {"NotWellFormed", true, "<SoftwareComponent vendorVersion=\"A00\"><SupportedDevices>", "Could not open package.xml"},
    {"Empty", true, "", "Could not open package.xml"},
    {"OtherRoot", true, "<Package vendorVersion=\"A00\"><SupportedDevices><Device componentID=\"1\"/></SupportedDevices></Package>",
     "Root node is not SoftwareComponent"},
};

class UnreadablePackage : public PackageIdentity, public testing::WithParamInterface<BadPackage> {};

} // namespace

TEST_P(UnreadablePackage, BothReadersFailWith53)
{
    const BadPackage& c = GetParam();
    if (c.present)
        work.write("package.xml", c.content);

    std::string id = "unchanged";
    EXPECT_FALSE(client->get_comp_id(id));
    EXPECT_EQ(id, "unchanged");
    EXPECT_EQ(client->getKOLTError(), 53);
    EXPECT_EQ(messages().back(), c.message);

    client->storeErrorInfo(0);
    log.skipToEnd();
    std::string version = "stale";
    EXPECT_FALSE(client->getVendorVersion("package.xml", version));
    EXPECT_EQ(version, "");
    EXPECT_EQ(client->getKOLTError(), 53);
    EXPECT_EQ(messages().back(), c.message);
    EXPECT_EQ(g_cleanups, 0);
}

INSTANTIATE_TEST_SUITE_P(Packages, UnreadablePackage, testing::ValuesIn(kBadPackages),
                         [](const testing::TestParamInfo<BadPackage>& info) { return std::string(info.param.name); });

TEST_F(PackageIdentity, VendorVersionOfAPathWithBackslashes)
{
    work.write("stored/current/package.xml", package("", " vendorVersion=\"A00\""));
    std::string version;
    ASSERT_TRUE(client->getVendorVersion("stored\\current\\package.xml", version));
    EXPECT_EQ(version, "A00");
    EXPECT_EQ(messages(), (Lines{"Entering getVendorVersion", "path at 1:stored\\current\\package.xml",
                                 "path at 2:stored/current/package.xml",
                                 "VendorVersion from stored\\current\\package.xmlA00"}));
    // An absolute path reads the same way.
    ASSERT_TRUE(client->getVendorVersion(work.file("stored/current/package.xml"), version));
    EXPECT_EQ(version, "A00");
    EXPECT_EQ(g_cleanups, 0);
}

TEST_F(PackageIdentity, VendorVersionKeepsItsSpelling)
{
    work.write("package.xml", package("<SupportedDevices/>", " vendorVersion=\" a00 \" name=\"x\""));
    std::string version;
    ASSERT_TRUE(client->getVendorVersion("package.xml", version));
    EXPECT_EQ(version, " a00 ");
}

TEST_F(PackageIdentity, RootWithoutVendorVersionFailsWith53)
{
    for (const std::string& attributes : {std::string(), std::string(" vendorVersion=\"\"")}) {
        work.write("package.xml", package("<SupportedDevices><Device componentID=\"1\"/></SupportedDevices>", attributes));
        client->storeErrorInfo(0);
        std::string version = "stale";
        EXPECT_FALSE(client->getVendorVersion("package.xml", version)) << attributes;
        EXPECT_EQ(version, "");
        EXPECT_EQ(client->getKOLTError(), 53);
    }
}

TEST_F(PackageIdentity, DocumentsHeldElsewhereStayUsable)
{
    // The package reader keeps its document for the run; the readers here
    // parse and free their own without touching libxml2's global state.
    const std::string held = package("<SupportedDevices><Device componentID=\"9\"/></SupportedDevices>",
                                     " vendorVersion=\"B01\"");
    std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> doc(xmlReadMemory(held.data(), static_cast<int>(held.size()), "held.xml",
                                                                 nullptr, 0),
                                                   xmlFreeDoc);
    ASSERT_TRUE(doc);
    work.write("package.xml", held);
    std::string id;
    std::string version;
    ASSERT_TRUE(client->get_comp_id(id));
    ASSERT_TRUE(client->getVendorVersion("package.xml", version));
    EXPECT_EQ(id, "9");
    EXPECT_EQ(version, "B01");
    EXPECT_EQ(g_cleanups, 0);
    xmlChar* still = xmlGetProp(xmlDocGetRootElement(doc.get()), reinterpret_cast<const xmlChar*>("vendorVersion"));
    ASSERT_NE(still, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(still), "B01");
    xmlFree(still);
}

// The component id becomes a folder name on the firmware-image partition and
// text of the controller's request document: an id that is not one plain
// folder name is skipped like a Device without an id. The ids are written as
// the attribute text of the document (character references included).
TEST_F(PackageIdentity, OnlyIdsThatNameOneFolderCount)
{
    const struct {
        const char* attribute;
        bool usable;
    } cases[] = {
        {"108301", true},
        {"000042", true},
        {"abc", true},
        {"A-1_b.2", true},
        {"...", true},
        {".hidden", true},
        {"x..y", true},
        {"a b", true},
        {"&#xE9;t&#xE9;", true},
        {".", false},
        {"..", false},
        {"../victim", false},
        {"a/b", false},
        {"/1234", false},
        {"1234/", false},
        {"a\\b", false},
        {"..\\victim", false},
        {"12&#10;34", false},
        {"&#9;1234", false},
        {"1234&#13;", false},
        {"12&#127;", false},
        {"&lt;Mode&gt;", false},
        {"a&amp;b", false},
        {"&quot;1234", false},
        {"1&quot;/&gt;&lt;Mode&gt;dirdelete&lt;/Mode&gt;&lt;x a=&quot;", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attribute);
        work.write("package.xml",
                   package(std::string("<SupportedDevices><Device componentID=\"") + c.attribute +
                           "\"/></SupportedDevices>"));
        client->storeErrorInfo(0);
        log.skipToEnd();
        std::string id = "unchanged";
        EXPECT_EQ(client->get_comp_id(id), c.usable);
        if (c.usable) {
            EXPECT_NE(id, "unchanged");
            EXPECT_EQ(client->getKOLTError(), 0);
        } else {
            EXPECT_EQ(id, "unchanged");
            EXPECT_EQ(client->getKOLTError(), 53);
            EXPECT_EQ(messages().back(), "Did not find SupportedDevices or Device or componentID");
        }
    }
}

TEST_F(PackageIdentity, AnUnusableIdNeverWinsOverAUsableOne)
{
    // Read as numbers, both unusable ids would be smaller than 108301.
    work.write("package.xml",
               package("<SupportedDevices><Device componentID=\"108301\"/>"
                       "<Device componentID=\"../victim\"/>"
                       "<Device componentID=\"1&quot;&gt;&#10;x\"/></SupportedDevices>"));
    std::string id;
    ASSERT_TRUE(client->get_comp_id(id));
    EXPECT_EQ(id, "108301");
    EXPECT_EQ(messages(), (Lines{"Getting component id from package.xml", "Found comp id:", "108301", "Found comp id:",
                                 "componentID is no folder name, skipped: [../victim]", "Found comp id:",
                                 "componentID is no folder name, skipped: [1\">\\x0Ax]", "List of ComponentIds:",
                                 "108301", "Smallest ComponentId:108301"}));
}
