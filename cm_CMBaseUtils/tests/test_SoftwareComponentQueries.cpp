// Further queries of the package reader over fixture "package.xml" files,
// and its look-up of devices in an inventory document.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Logger.h"
#include "PackageReaderTestSupport.h"
#include "SoftwareComponentInfo.h"
#include "TempDir.h"

namespace {

std::string fixture(const std::string& name) { return testData("queries/" + name); }

struct Entry {
    std::string componentID, deviceID, subDeviceID, vendorID, subVendorID, display;
    bool operator==(const Entry& o) const
    {
        return componentID == o.componentID && deviceID == o.deviceID && subDeviceID == o.subDeviceID &&
               vendorID == o.vendorID && subVendorID == o.subVendorID && display == o.display;
    }
};
std::ostream& operator<<(std::ostream& out, const Entry& e)
{
    return out << "{" << e.componentID << "," << e.deviceID << "," << e.subDeviceID << "," << e.vendorID << ","
               << e.subVendorID << "," << e.display << "}";
}
std::vector<Entry> entries(const std::vector<SPCIInfo>& list)
{
    std::vector<Entry> out;
    for (const SPCIInfo& p : list)
        out.push_back({p.componentID, p.deviceID, p.subDeviceID, p.vendorID, p.subVendorID, p.display});
    return out;
}

class PackageQueries : public PackageFileTest {};

} // namespace

TEST_F(PackageQueries, AnswersOverTheFullFixture)
{
    dir.write("package.xml", fixture("package.xml"));
    CSoftwareComponentInfo reader;

    EXPECT_EQ(reader.GetComponentTypeDisplayString(), "Application");
    EXPECT_EQ(reader.GetPackageID(), ""); // the root starts with an element
    EXPECT_EQ(reader.GetComponentType(), "FRMW");
    EXPECT_EQ(reader.GetComponentVersion(), "2.5.0.17");
    EXPECT_EQ(reader.GetComponentID(), "700");
    EXPECT_EQ(reader.GetComponentDisplayString(), "ZAGO Boot Controller");
    EXPECT_TRUE(reader.getPresenceOfRollbackInfo());

    const std::map<std::string, std::string> names = reader.getCompIDMarkNameInfo();
    EXPECT_EQ(names, (std::map<std::string, std::string>{{"700", "ZAGO Boot Controller"},
                                                         {"012", "Second Card"},
                                                         {"95", "Backplane"},
                                                         {"abc", "Shouting Display"},
                                                         {"ABC", "Upper Case Id"}}));

    std::string id = "Abc"; // "ABC" and "abc" both match; the later key wins
    EXPECT_EQ(reader.getMarketingNameForNonPCIDevice(id), "Shouting Display");
    id = "0700";
    EXPECT_EQ(reader.getMarketingNameForNonPCIDevice(id), "");
    id = "95";
    EXPECT_EQ(reader.getMarketingNameForNonPCIDevice(id), "Backplane");

    EXPECT_EQ(entries(reader.GetAllSupportedDevices()),
              (std::vector<Entry>{{"700", "0a1f", "001f", "1f00", "1f000", ""},
                                  {"012", "0002", "0003", "0004", "0005", "Second Card"},
                                  {"95", "", "", "", "", ""},
                                  {"abc", "", "", "", "", ""},
                                  {"ABC", "", "", "", "", ""}}));

    std::string messages = log();
    EXPECT_TRUE(contains(messages, "Found the component id as 700"));
    EXPECT_TRUE(contains(messages, "GUID Tag found in package.xml"));
    EXPECT_TRUE(contains(messages, "GetCompIDMarkNameInfo() Got the marketing name/Display name for a Non-PCI "
                                   "Device with Component ID  95 as Backplane"));
    EXPECT_TRUE(contains(messages, "CSoftwareComponentInfo::GetSupportedDevices() No PCI Info present.Pushing "
                                   "ComponentID 95"));
    EXPECT_TRUE(contains(messages, "CSoftwareComponentInfo::GetComponentDisplayString()  ZAGO Boot Controller"));
}

TEST_F(PackageQueries, ContextTypesKeepTheFirstOfEachPriority)
{
    dir.write("package.xml", fixture("package.xml"));
    CSoftwareComponentInfo reader;
    std::map<unsigned int, CContextList> contexts;
    EXPECT_TRUE(reader.GetSupportedContextTypes(contexts));
    ASSERT_EQ(contexts.size(), 3u);
    const CContextList& os = contexts.at(2);
    EXPECT_EQ(os.contextName, "OS");
    EXPECT_EQ(os.invModule, "inv.so");
    EXPECT_EQ(os.invInterface, "GetInventory");
    EXPECT_EQ(os.updateModule, "upd.so");
    EXPECT_EQ(os.updateInterface, "Update");
    EXPECT_EQ(contexts.at(0).contextName, "Bad"); // "abc" reads as 0
    // No name, an INV_MODULE without value, and "priority" (names compared
    // exactly) changes nothing.
    EXPECT_EQ(contexts.at(9).contextName, "");
    EXPECT_EQ(contexts.at(9).invModule, "");

    // Entries already in the map stay; the package still answers true.
    std::map<unsigned int, CContextList> preset;
    preset[2].contextName = "mine";
    EXPECT_TRUE(reader.GetSupportedContextTypes(preset));
    EXPECT_EQ(preset.at(2).contextName, "mine");
    EXPECT_EQ(preset.size(), 3u);

    // A package without CONTEXT_TYPE answers false whatever the map holds.
    dir.write("package.xml", packageWithDevices("<Device componentID=\"1\"/>"));
    EXPECT_FALSE(reader.GetSupportedContextTypes(preset));
    EXPECT_EQ(preset.size(), 3u);
    EXPECT_TRUE(contains(log(), "CSoftwareComponentInfo::GetSupportedDevices() Error during calculating xpath "
                                "expression"));
}

TEST_F(PackageQueries, MinComponentIdReadsDecimalPrefixes)
{
    struct Case {
        std::vector<std::string> ids; // "-" for a Device without componentID
        std::string lowest;
    };
    const std::vector<Case> cases = {
        {{"700", "012", "95"}, "12"},
        {{"007"}, "7"},
        {{"abc", "x1"}, "0"},
        {{" 42", "-3", "+8"}, "-3"},
        {{"12abc", "13"}, "12"},
        {{"-", "50"}, "50"},
        {{"-"}, ""},
        {{}, ""},
    };
    for (const Case& c : cases) {
        std::string devices;
        for (const std::string& id : c.ids)
            devices += id == "-" ? "<Device/>" : "<Device componentID=\"" + id + "\"/>";
        dir.write("package.xml", packageWithDevices(devices));
        CSoftwareComponentInfo reader;
        EXPECT_EQ(reader.GetMinComponentID(), c.lowest) << devices;
    }
}

TEST_F(PackageQueries, ComponentDisplayStringLooksAtFirstChildrenOnly)
{
    struct Case {
        const char* devices;
        const char* display;
    };
    const std::vector<Case> cases = {
        {"<Device componentID=\"1\"><PCIInfo/><Display>Second</Display></Device>"
         "<Device componentID=\"2\"><display>First Child</display></Device>",
         "First Child"},
        {"<Device componentID=\"1\"><Display/></Device><Device componentID=\"2\"><Display>Later</Display></Device>",
         ""},
        {"<Device componentID=\"1\"/><Device componentID=\"2\"><PCIInfo/></Device>", ""},
    };
    for (const Case& c : cases) {
        dir.write("package.xml", packageWithDevices(c.devices));
        CSoftwareComponentInfo reader;
        EXPECT_EQ(reader.GetComponentDisplayString(), c.display) << c.devices;
    }
    EXPECT_TRUE(contains(log(), "CSoftwareComponentInfo::GetComponentDisplayString() failed to get the Display info "
                                "from package.xml for device"));
}

TEST_F(PackageQueries, PackageIdAndValueReadTheHeldDocument)
{
    dir.write("package.xml",
              "<SoftwareComponent>PKG-42<ComponentType value=\"FRMW\"><Display/><Display>Firmware</Display>"
              "</ComponentType><SupportedDevices/></SoftwareComponent>");
    CSoftwareComponentInfo reader;
    EXPECT_EQ(reader.GetPackageID(), "PKG-42");
    EXPECT_EQ(reader.GetComponentTypeDisplayString(), "Firmware");
    EXPECT_EQ(reader.GetValue("//SoftwareComponent/ComponentType", "value"), "FRMW");
    // An attribute the node lacks falls back to the node's text.
    EXPECT_EQ(reader.GetValue("//SoftwareComponent", "nothere"), "PKG-42");
    EXPECT_EQ(reader.GetValue("//Nothing", ""), "");

    // The held document is the one parsed last: a re-parsing query over a
    // removed file leaves none, and GetValue then answers empty.
    std::remove("package.xml");
    EXPECT_EQ(reader.GetComponentType(), "");
    EXPECT_EQ(reader.GetPackageID(), "");
    EXPECT_TRUE(contains(log(), "Exiting GetStringFromPackageXML function"));
}

TEST_F(PackageQueries, MissingElementsAndFilesGiveEmptyAnswers)
{
    dir.write("package.xml", fixture("package_sparse.xml"));
    CSoftwareComponentInfo reader;
    EXPECT_EQ(reader.GetComponentType(), "");
    EXPECT_EQ(reader.GetComponentVersion(), "");
    EXPECT_EQ(reader.GetComponentTypeDisplayString(), "");
    EXPECT_EQ(reader.GetComponentID(), ""); // the first Device has no id
    EXPECT_EQ(reader.GetMinComponentID(), "0");
    EXPECT_EQ(reader.GetComponentDisplayString(), "");
    EXPECT_FALSE(reader.getPresenceOfRollbackInfo());
    EXPECT_EQ(reader.getCompIDMarkNameInfo(), (std::map<std::string, std::string>{}));
    EXPECT_EQ(entries(reader.GetAllSupportedDevices()),
              (std::vector<Entry>{{"", "", "", "", "", ""}, {"nodigits", "", "", "", "", ""}}));
    std::map<unsigned int, CContextList> contexts;
    EXPECT_TRUE(reader.GetSupportedContextTypes(contexts));
    EXPECT_EQ(contexts.size(), 1u);
    EXPECT_EQ(contexts.at(0).contextName, "");

    std::remove("package.xml");
    CSoftwareComponentInfo none;
    EXPECT_EQ(none.GetComponentType(), "");
    EXPECT_EQ(none.GetComponentVersion(), "");
    EXPECT_EQ(none.GetComponentID(), "");
    EXPECT_EQ(none.GetMinComponentID(), "");
    EXPECT_EQ(none.GetComponentDisplayString(), "");
    EXPECT_FALSE(none.getPresenceOfRollbackInfo());
    EXPECT_TRUE(none.getCompIDMarkNameInfo().empty());
    std::string id = "1";
    EXPECT_EQ(none.getMarketingNameForNonPCIDevice(id), "");
    EXPECT_TRUE(none.GetAllSupportedDevices().empty());
    EXPECT_FALSE(none.GetSupportedContextTypes(contexts));
    EXPECT_TRUE(contains(log(), "ParseXmlUsingXpath failed"));
}

TEST_F(PackageQueries, AnswersFollowTheFileOnDisk)
{
    dir.write("package.xml", packageWithDevices("<Device componentID=\"5\"><Display>A</Display></Device>"));
    CSoftwareComponentInfo reader;
    EXPECT_EQ(reader.GetComponentID(), "5");
    dir.write("package.xml", packageWithDevices("<Device componentID=\"6\"><Display>B</Display></Device>"));
    EXPECT_EQ(reader.GetComponentID(), "6");
    std::string id = "6";
    EXPECT_EQ(reader.getMarketingNameForNonPCIDevice(id), "B");
}

namespace {

const char* const kInventory = "<?xml version=\"1.0\"?>\n"
                               "<SVMInventory lang=\"en\">\n"
                               "  <Device componentID=\"700\" display=\"A\"/>\n"
                               "  <Device componentID=\"12\" display=\"B\"/>\n"
                               "  <Device componentID=\"700\" display=\"C\"/>\n"
                               "  <Device componentID=\"AbC\" display=\"D\"/>\n"
                               "</SVMInventory>\n";

struct LookUp {
    bool answer;
    std::string output;
};

LookUp lookUp(const std::string& id, const std::string& inventory = kInventory)
{
    CSoftwareComponentInfo reader;
    std::stringstream in(inventory);
    std::stringstream out;
    bool answer = reader.GetInvFromVCL(id, out, in);
    return {answer, out.str()};
}

} // namespace

TEST_F(PackageQueries, InventoryLookUpWritesEveryMatchingDevice)
{
    struct Case {
        std::string id;
        bool answer;
        std::string output;
    };
    const std::vector<Case> cases = {
        {"700", true, "<Device componentID=\"700\" display=\"A\"/><Device componentID=\"700\" display=\"C\"/>"},
        {"12", true, "<Device componentID=\"12\" display=\"B\"/>"},
        {"AbC", true, "<Device componentID=\"AbC\" display=\"D\"/>"},
        {"abc", true, ""}, // attribute values compare exactly
        {"999", true, ""},
        // Ids that are not plain hexadecimal never reach the expression: each
        // of these would otherwise select other or all devices.
        {"700\" or \"1\"=\"1", false, ""},
        {"x\"] | //Device[@componentID=\"700", false, ""},
        {"12\"] | /*[\"", false, ""},
        {"7 00", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        LookUp got = lookUp(c.id);
        EXPECT_EQ(got.answer, c.answer) << c.id;
        EXPECT_EQ(got.output, c.output) << c.id;
    }
    std::string messages = log();
    EXPECT_TRUE(contains(messages, "CIdentityModuleInventory::GetInvFromVCL:: component ID found"));
    EXPECT_TRUE(contains(messages, "CIdentityModuleInventory::GetInvFromVCL:: component ID not found"));
}

TEST_F(PackageQueries, InventoryLookUpOverMalformedTextAnswersFalse)
{
    LookUp got = lookUp("700", "<SVMInventory><Device componentID=\"700\">");
    EXPECT_FALSE(got.answer);
    EXPECT_EQ(got.output, "");
    got = lookUp("700", "");
    EXPECT_FALSE(got.answer);
}

TEST_F(PackageQueries, InventoryLookUpLeavesTheHeldDocumentAlone)
{
    dir.write("package.xml", "<SoftwareComponent>PKG-7<SupportedDevices/></SoftwareComponent>");
    CSoftwareComponentInfo reader;
    std::stringstream in(kInventory);
    std::stringstream out;
    EXPECT_TRUE(reader.GetInvFromVCL("12", out, in));
    EXPECT_EQ(reader.GetPackageID(), "PKG-7");
}

TEST_F(PackageQueries, GetnodesetReportsEvaluationErrors)
{
    CSoftwareComponentInfo reader;
    xmlDocPtr doc = xmlParseMemory(kInventory, static_cast<int>(std::string(kInventory).size()));
    ASSERT_NE(doc, nullptr);
    xmlXPathObjectPtr found = reader.getnodeset(doc, BAD_CAST "//Device");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->nodesetval->nodeNr, 4);
    xmlXPathFreeObject(found);
    EXPECT_EQ(reader.getnodeset(doc, BAD_CAST "//Nothing"), nullptr);
    EXPECT_EQ(reader.getnodeset(doc, BAD_CAST "//Device[@"), nullptr);
    xmlFreeDoc(doc);
    std::string messages = log();
    EXPECT_TRUE(contains(messages, "CIdentityModuleInventory::getnodeset :: Error in xmlXPathEvalExpression"));
}
