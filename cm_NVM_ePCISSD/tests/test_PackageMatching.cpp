#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "Logger.h"
#include "NVMECommonUtils.h"
#include "NVMeTestData.h"
#include "TempDir.h"

namespace {

// Display names play no part in matching.
const char* const kDisplay = "Z";

// A discovered controller: ids as discovery writes them.
std::unique_ptr<CDeviceInfo> controller(unsigned dev, unsigned subDev, unsigned vendor, unsigned subVendor)
{
    std::unique_ptr<CDeviceInfo> d(new CDeviceInfo());
    d->setPCIInfo(dev, subDev, vendor, subVendor);
    d->setDeviceType(CDeviceInfo::PCI_DEVICE);
    d->setStatus(0);
    return d;
}

class PackageMatching : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CLogger::GetInstance()->Initialize("debug.log")); }
    std::string log() { return dir.read("debug.log"); }
    TempDir dir;
};

} // namespace

TEST_F(PackageMatching, IdsCompareAsNumbersWhateverTheirCaseAndZeroFill)
{
    dir.write("package.xml", packageXml({{"0A1F", "01F3", "5A5A", "7c00"}}, kDisplay));
    auto d = controller(0xa1f, 0x1f3, 0x5a5a, 0x7c00);
    EXPECT_EQ(d->getPCIInfo().deviceID, "a1f");
    std::vector<CDeviceInfo*> list{d.get()};
    EXPECT_TRUE(FilterSupportedDeviceInfo(list));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], d.get());
}

TEST_F(PackageMatching, UnlistedDeviceIsTakenOutAndTheOtherKeepsItsPlace)
{
    dir.write("package.xml", packageXml({{"0A1F", "2151", "1B4B", "1028"}}, kDisplay));
    auto a = controller(0xa20, 0x2151, 0x1b4b, 0x1028);
    auto b = controller(0xa1f, 0x2151, 0x1b4b, 0x1028);
    std::vector<CDeviceInfo*> list{a.get(), b.get()};
    EXPECT_TRUE(FilterSupportedDeviceInfo(list));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], b.get());
    // The taken-out record is left alone, not deleted or changed.
    EXPECT_EQ(a->getStatus(), 0);

    std::string text = log();
    EXPECT_NE(text.find("NVMECommonUtils::FilterDeviceInfo Found 1 set of supported devies from package.xml \n"),
              std::string::npos);
    EXPECT_NE(text.find("NVMECommonUtils::FilterDeviceInfo Device vector size before filtering 2\n"), std::string::npos);
    EXPECT_NE(text.find("NVMECommonUtils::FilterDeviceInfo From system  Device ID a20 SubDevice ID 2151 Vendor ID 1b4b "
                        "SubVendor ID 1028\n"),
              std::string::npos);
    EXPECT_NE(text.find("NVMECommonUtils::FilterDeviceInfo From package.xml Device ID 0A1F SubDevice ID 2151 Vendor ID "
                        "1B4B SubVendor ID 1028\n"),
              std::string::npos);
    EXPECT_NE(text.find("NVMECommonUtils::FilterDeviceInfo Failed to find a match with package.xml for device element 0 "
                        "in device vector and  hence skipping this Drive \n"),
              std::string::npos);
    EXPECT_NE(text.find("NVMECommonUtils::FilterDeviceInfo Match Found with package.xml for device for element 1 in "
                        "device vector \n"),
              std::string::npos);
    EXPECT_NE(text.find("NVMECommonUtils::FilterDeviceInfo device vector size after filtering 1\n"), std::string::npos);
    EXPECT_NE(text.find("NVMECommonUtils::FilterDeviceInfo Leaving\n"), std::string::npos);
}

TEST_F(PackageMatching, FirstFittingEntryEndsTheSearch)
{
    dir.write("package.xml", packageXml({{"0A1F", "2151", "1B4B", "1028"}, {"a1f", "2151", "1b4b", "1028"}}, kDisplay));
    auto d = controller(0xa1f, 0x2151, 0x1b4b, 0x1028);
    std::vector<CDeviceInfo*> list{d.get()};
    EXPECT_TRUE(FilterSupportedDeviceInfo(list));
    std::string text = log();
    EXPECT_NE(text.find("From package.xml Device ID 0A1F"), std::string::npos);
    // The second entry is never looked at.
    EXPECT_EQ(text.find("From package.xml Device ID 0a1f"), std::string::npos);
    std::string match = "Match Found with package.xml";
    EXPECT_EQ(text.find(match), text.rfind(match));
}

TEST_F(PackageMatching, EachOfTheFourIdsMustMatch)
{
    dir.write("package.xml", packageXml({{"0A1F", "2151", "1B4B", "1028"}}, kDisplay));
    auto subVendor = controller(0xa1f, 0x2151, 0x1b4b, 0x1029);
    auto vendor = controller(0xa1f, 0x2151, 0x1b4c, 0x1028);
    auto subDevice = controller(0xa1f, 0x2150, 0x1b4b, 0x1028);
    auto device = controller(0xa1e, 0x2151, 0x1b4b, 0x1028);
    std::vector<CDeviceInfo*> list{subVendor.get(), vendor.get(), subDevice.get(), device.get()};
    EXPECT_FALSE(FilterSupportedDeviceInfo(list));
    EXPECT_TRUE(list.empty());
    EXPECT_NE(log().find("NVMECommonUtils::FilterDeviceInfo device vector size after filtering 0\n"), std::string::npos);
}

// The filter and the display-name look-up follow one rule: a controller
// whose device id is 0 is matched by an entry that says 0, never by one
// that lacks the id or holds something that is not a hexadecimal number.
TEST_F(PackageMatching, EntryWithoutAUsableIdNeverMatchesIdZero)
{
    struct Case {
        const char* name;
        const char* deviceAttribute;  // nullptr: no deviceID attribute
        bool matches;
    } cases[] = {
        {"Zero", "0", true},
        {"ZeroFilled", "0000", true},
        {"PrefixedZero", "0x0", true},
        {"BlanksAround", " 0 ", true},
        {"Missing", nullptr, false},
        {"Empty", "", false},
        {"Blank", "  ", false},
        {"NotHexadecimal", "zz", false},
        {"TrailingJunk", "0zz", false},
        {"PrefixOnly", "0x", false},
        {"Negative", "-0", false},
        {"Beyond64Bits", "10000000000000000", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string pciInfo = "<PCIInfo ";
        if (c.deviceAttribute != nullptr)
            pciInfo += std::string("deviceID=\"") + c.deviceAttribute + "\" ";
        pciInfo += "subDeviceID=\"2151\" vendorID=\"1B4B\" subVendorID=\"1028\"/>";
        dir.write("package.xml", "<?xml version=\"1.0\"?><SoftwareComponent><SupportedDevices><Device "
                                 "componentID=\"1\">" +
                                     pciInfo + "<Display>Named</Display></Device></SupportedDevices></SoftwareComponent>");

        auto d = controller(0, 0x2151, 0x1b4b, 0x1028);
        std::vector<CDeviceInfo*> list{d.get()};
        EXPECT_EQ(FilterSupportedDeviceInfo(list), c.matches);
        EXPECT_EQ(list.size(), c.matches ? 1u : 0u);

        setBasicDeviceInfo(d.get(), "model", "FRMW");
        EXPECT_EQ(d->getDisplay(), c.matches ? "Named" : "model");
    }
}

TEST_F(PackageMatching, NoUsablePackageEmptiesTheList)
{
    struct Case {
        const char* name;
        const char* content; // null: no file
    } cases[] = {
        {"absent", nullptr},
        {"no PCIInfo", "<SoftwareComponent><SupportedDevices><Device componentID=\"1\"/></SupportedDevices></SoftwareComponent>"},
        {"malformed", "<SoftwareComponent><SupportedDevices>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.content != nullptr)
            dir.write("package.xml", c.content);
        auto d = controller(0xa1f, 0x2151, 0x1b4b, 0x1028);
        std::vector<CDeviceInfo*> list{d.get()};
        EXPECT_FALSE(FilterSupportedDeviceInfo(list));
        EXPECT_TRUE(list.empty());
    }
    std::string text = log();
    EXPECT_NE(text.find("NVMECommonUtils::FilterDeviceInfo Could not find any devies from package.xml or package.xml is "
                        "not present \n"),
              std::string::npos);
    EXPECT_EQ(text.find("NVMECommonUtils::FilterDeviceInfo Found"), std::string::npos);
    EXPECT_EQ(text.find("NVMECommonUtils::FilterDeviceInfo Leaving"), std::string::npos);
}

TEST_F(PackageMatching, SupportedEntriesComeInFileOrder)
{
    dir.write("package.xml", packageXml({{"0A1F", "2151", "1B4B", "1028"}, {"0a20", "2152", "1b4b", "1028"}}, kDisplay));
    std::vector<SPCIInfo> got = GetSupportedPCIDevicesFrmPkgXML();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].deviceID, "0A1F");
    EXPECT_EQ(got[1].deviceID, "0a20");
    EXPECT_EQ(got[1].subDeviceID, "2152");
    std::string text = log();
    EXPECT_LT(text.find("NVMECommonUtils::GetSupportedPCIDevices Entering"),
              text.find("NVMECommonUtils::GetSupportedPCIDevices Leaving"));
}

TEST_F(PackageMatching, ErrorRecordCarriesStatusTwoAndTheMessage)
{
    std::vector<CDeviceInfo*> list;
    setErrorDeviceInfo(list, "Payload directory is not proper.");
    ASSERT_EQ(list.size(), 1u);
    std::unique_ptr<CDeviceInfo> owned(list[0]);
    EXPECT_EQ(owned->getStatus(), 2);
    EXPECT_EQ(owned->getErrorMsg(), "Payload directory is not proper.");
    EXPECT_EQ(owned->getDeviceType(), CDeviceInfo::DEVICE_TYPE_NONE);
    EXPECT_FALSE(owned->getRebootRequired());
}
