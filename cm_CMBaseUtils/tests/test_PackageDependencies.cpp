// The package reader's dependency records, read from fixture "package.xml"
// files, including dependencies whose elements and attributes are missing.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Logger.h"
#include "PackageReaderTestSupport.h"
#include "SoftwareComponentInfo.h"
#include "TempDir.h"

namespace {

std::string fixture(const std::string& name) { return testData("dependencies/" + name); }

// Owns the records the reader hands out.
struct Records {
    std::vector<CDeviceInfo*> list;
    ~Records()
    {
        for (CDeviceInfo* r : list)
            delete r;
    }
};

std::vector<std::string> pci(const SPCIInfo& p)
{
    return {p.componentID, p.deviceID, p.subDeviceID, p.vendorID, p.subVendorID, p.display};
}

std::vector<std::string> os(const SOSInfo& o)
{
    return {o.majorVersion, o.minorVersion, o.spMajorVersion, o.spMinorVersion, o.osVendor,
            o.osArch,       o.reserved1,    o.reserved2,      o.buildNumber};
}

using Strings = std::vector<std::string>;

class PackageDependencies : public PackageFileTest {};

} // namespace

TEST_F(PackageDependencies, RecordsOfTheFixture)
{
    dir.write("package.xml", fixture("package.xml"));
    CSoftwareComponentInfo reader;
    Records r;
    r.list = reader.getDependencyInfo();
    ASSERT_EQ(r.list.size(), 6u);

    // A hard dependency with every item present.
    CDeviceInfo* d = r.list[0];
    EXPECT_EQ(d->getDeviceType(), CDeviceInfo::NON_PCI_DEVICE);
    EXPECT_EQ(d->getDependencyType(), CDeviceInfo::HARD_DEPENDENCY);
    EXPECT_EQ(d->getParentComponentID(), "700");
    EXPECT_EQ(d->getParentDeviceType(), CDeviceInfo::PCI_DEVICE);
    ASSERT_EQ(d->getParentPCIInfo().size(), 2u);
    // Identifiers as written, no zero filling; the second PCIInfo lacks two.
    EXPECT_EQ(pci(d->getParentPCIInfo()[0]), (Strings{"", "a1f", "1f", "1d49", "1028", ""}));
    EXPECT_EQ(pci(d->getParentPCIInfo()[1]), (Strings{"", "b2", "", "1d49", "", ""}));
    EXPECT_EQ(d->getDependencyContext(), "PreOS");
    EXPECT_EQ(d->getComponentID(), "101");
    EXPECT_EQ(d->getComponentType(), "DRVR");
    EXPECT_EQ(d->getVersion(), "3.1");
    EXPECT_TRUE(contains(d->getFilePath(), "drivers/zago.bin"));
    EXPECT_EQ(d->getReleaseID(), "R1");
    EXPECT_EQ(d->getDisplay(), "ZAGO Driver");
    EXPECT_EQ(d->getDetail(), "Needed for the new firmware");
    // Each Brand starts a walk over its later siblings: Brand, then DepBrand
    // again from the DepBrand.
    EXPECT_EQ(d->getDepenendencyPlatforms(), (Strings{"0x0A1B", "0x0A1C", "0x0B00", "0x0B00"}));
    ASSERT_EQ(d->getDependencyOS().size(), 2u);
    EXPECT_EQ(os(d->getDependencyOS()[0]), (Strings{"7", "9", "1", "2", "RedHat", "x64", "", "", "1160"}));
    // Missing attributes of the second element are absent, not taken over.
    EXPECT_EQ(os(d->getDependencyOS()[1]), (Strings{"15", "", "", "", "SUSE", "", "", "", ""}));
    EXPECT_EQ(pci(d->getPCIInfo()), (Strings{"", "", "", "", "", ""}));

    // A soft dependency with three PCI identities, two of them equal: one
    // record per distinct identity, otherwise alike.
    CDeviceInfo* s1 = r.list[1];
    CDeviceInfo* s2 = r.list[2];
    for (CDeviceInfo* s : {s1, s2}) {
        EXPECT_EQ(s->getDependencyType(), CDeviceInfo::SOFT_DEPENDENCY);
        EXPECT_EQ(s->getDeviceType(), CDeviceInfo::PCI_DEVICE);
        EXPECT_EQ(s->getParentComponentID(), "700");
        EXPECT_EQ(s->getDependencyContext(), "OS");
        EXPECT_EQ(s->getComponentID(), "102");
        EXPECT_EQ(s->getComponentType(), "FRMW");
        EXPECT_EQ(s->getReleaseID(), "");
        EXPECT_EQ(s->getDisplay(), "Backplane");
        EXPECT_TRUE(s->getDepenendencyPlatforms().empty());
        EXPECT_TRUE(s->getDependencyOS().empty());
    }
    EXPECT_EQ(pci(s1->getPCIInfo()), (Strings{"", "1f", "2", "3", "4", ""}));
    EXPECT_EQ(pci(s2->getPCIInfo()), (Strings{"", "aa", "bb", "cc", "dd", ""}));

    // The repeated dependency of Device 700 was dropped; the same one under
    // Device 800 stays.
    CDeviceInfo* again = r.list[3];
    EXPECT_EQ(again->getComponentID(), "101");
    EXPECT_EQ(again->getParentComponentID(), "800");
    EXPECT_EQ(again->getParentDeviceType(), CDeviceInfo::NON_PCI_DEVICE);
    EXPECT_TRUE(again->getParentPCIInfo().empty());

    // Everything missing: defaults and empty values, no crash.
    CDeviceInfo* empty = r.list[4];
    EXPECT_EQ(empty->getParentComponentID(), "800");
    EXPECT_EQ(empty->getDependencyType(), CDeviceInfo::HARD_DEPENDENCY);
    EXPECT_EQ(empty->getDeviceType(), CDeviceInfo::PCI_DEVICE);
    EXPECT_EQ(empty->getDependencyContext(), "OS");
    EXPECT_EQ(empty->getComponentID(), "");
    EXPECT_EQ(empty->getComponentType(), "");
    EXPECT_EQ(empty->getVersion(), "");
    EXPECT_EQ(empty->getReleaseID(), "");
    EXPECT_EQ(empty->getDisplay(), "");
    EXPECT_EQ(empty->getDetail(), "");
    EXPECT_EQ(empty->getDepenendencyPlatforms(), (Strings{"0x0C00"})); // the Model without systemID is skipped
    ASSERT_EQ(empty->getDependencyOS().size(), 1u);
    EXPECT_EQ(os(empty->getDependencyOS()[0]), Strings(9, ""));
    EXPECT_EQ(pci(empty->getPCIInfo()), Strings(6, ""));

    // A Device without componentID.
    CDeviceInfo* orphan = r.list[5];
    EXPECT_EQ(orphan->getComponentID(), "900");
    EXPECT_EQ(orphan->getParentComponentID(), "");
    EXPECT_EQ(orphan->getDependencyType(), CDeviceInfo::SOFT_DEPENDENCY);
    EXPECT_EQ(orphan->getParentDeviceType(), CDeviceInfo::NON_PCI_DEVICE);

    const std::string messages = log();
    for (const char* line :
         {"CSoftwareComponentInfo::getDependencyInfo() Entered Method",
          "CSoftwareComponentInfo::getDependencyInfo() Found SoftDependecny",
          "CSoftwareComponentInfo::getDependencyInfo() Found HardDependency",
          "CSoftwareComponentInfo::getDependencyInfo() got the parent componentID info from package.xml",
          "CSoftwareComponentInfo::getDependencyInfo() failed to get the parent componentID info from package.xml",
          "CSoftwareComponentInfo::getDependencyInfo() failed to get the context info from package.xml for dependent "
          "device so setting Deafult as OS",
          "CSoftwareComponentInfo::getDependencyInfo() failed to get the releaseID info from package.xml for "
          "dependent device",
          "CSoftwareComponentInfo::getDependencyInfo() failed to get the Display info from package.xml for dependent "
          "device",
          "CSoftwareComponentInfo::getDependencyInfo() failed to get the Detail info from package.xml for dependent "
          "device",
          "CSoftwareComponentInfo::getDependencyInfo() failed to get the MajorVersion info from package.xml for "
          "dependent device",
          "CSoftwareComponentInfo::getDependencyInfo() Found a PCI Device",
          "CSoftwareComponentInfo::getDependencyInfo() Adding dependency info for a PCI Device",
          "CSoftwareComponentInfo::AddDependencyInfo() Found a duplicate entry",
          "CSoftwareComponentInfo::getPlatformInfo() Entering",
          "CSoftwareComponentInfo::getDependencyInfo() Exiting"}) {
        EXPECT_TRUE(contains(messages, line)) << line;
    }
}

TEST_F(PackageDependencies, NoPackageOrNoDependenciesGiveAnEmptyList)
{
    const std::vector<std::string> packages = {
        "",                                                               // no file
        "<SoftwareComponent><SupportedDevices>",                          // does not parse
        "<SoftwareComponent><SupportedDevices><Device componentID=\"1\"/>" // no dependency
        "</SupportedDevices></SoftwareComponent>",
        "<SoftwareComponent><Dependency componentID=\"1\"/></SoftwareComponent>", // outside a Device
    };
    for (const std::string& package : packages) {
        std::remove("package.xml");
        if (!package.empty())
            dir.write("package.xml", package);
        CSoftwareComponentInfo reader;
        Records r;
        r.list = reader.getDependencyInfo();
        EXPECT_TRUE(r.list.empty()) << package;
    }
    EXPECT_TRUE(contains(log(), "CSoftwareComponentInfo::getDependencyInfo() ParseXmlUsingXpath failed"));
}

TEST_F(PackageDependencies, DependenciesMayBeWrittenInAnyCaseInsideDevices)
{
    dir.write("package.xml",
              "<SoftwareComponent><SupportedDevices><Device componentID=\"1\">"
              "<Dependency componentID=\"2\"><display>D</display><DEPPCIINFO deviceID=\"9\"/>"
              "<brand><model systemID=\"7\"/></brand></Dependency>"
              "</Device></SupportedDevices></SoftwareComponent>");
    CSoftwareComponentInfo reader;
    Records r;
    r.list = reader.getDependencyInfo();
    ASSERT_EQ(r.list.size(), 1u);
    EXPECT_EQ(r.list[0]->getDisplay(), "D");
    EXPECT_EQ(r.list[0]->getPCIInfo().deviceID, "9");
    EXPECT_EQ(r.list[0]->getDepenendencyPlatforms(), (Strings{"0x7"}));
}

TEST_F(PackageDependencies, AddDependencyInfoRejectsOnlyEqualRecordsOfTheSameParent)
{
    CSoftwareComponentInfo reader;
    Records r;
    auto make = [](const char* component, const char* parent) {
        CDeviceInfo* d = new CDeviceInfo();
        d->setComponentID(component);
        d->setParentComponentID(parent);
        return d;
    };
    CDeviceInfo* a = make("1", "P");
    reader.AddDependencyInfo(r.list, a);
    std::unique_ptr<CDeviceInfo> same(make("1", "P"));
    CDeviceInfo* sameRaw = same.get();
    reader.AddDependencyInfo(r.list, sameRaw); // stays the caller's
    CDeviceInfo* otherParent = make("1", "Q");
    reader.AddDependencyInfo(r.list, otherParent);
    CDeviceInfo* otherComponent = make("2", "P");
    reader.AddDependencyInfo(r.list, otherComponent);
    ASSERT_EQ(r.list.size(), 3u);
    EXPECT_EQ(r.list[0], a);
    EXPECT_EQ(r.list[1], otherParent);
    EXPECT_EQ(r.list[2], otherComponent);
}

TEST_F(PackageDependencies, PlatformWalkRunsOverFollowingSiblings)
{
    const std::string xml = "<D><Display/><Brand><Model systemID=\"A\"/><Other systemID=\"X\"/></Brand>"
                            "<Other/><DepBrand><DepModel systemID=\"B\"/><DepModel/></DepBrand></D>";
    xmlDocPtr doc = xmlParseMemory(xml.c_str(), static_cast<int>(xml.size()));
    ASSERT_NE(doc, nullptr);
    CSoftwareComponentInfo reader;
    xmlNodePtr first = xmlDocGetRootElement(doc)->children;
    EXPECT_EQ(reader.getPlatformInfo(first), (Strings{"0xA", "0xB"}));
    EXPECT_EQ(reader.getPlatformInfo(first->next->next->next), (Strings{"0xB"}));
    EXPECT_TRUE(reader.getPlatformInfo(nullptr).empty());
    xmlFreeDoc(doc);
}
