#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "Logger.h"
#include "TempDir.h"

namespace {

std::vector<std::string> logLinesContaining(const std::string& text, const std::string& needle)
{
    std::vector<std::string> out;
    std::string::size_type pos = 0;
    while (pos < text.size()) {
        std::string::size_type end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (line.find(needle) != std::string::npos)
            out.push_back(line);
        pos = end + 1;
    }
    return out;
}

bool endsWith(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

SPCIInfo pci(const char* comp, const char* dev, const char* subDev, const char* ven, const char* subVen,
             const char* display)
{
    SPCIInfo p;
    p.componentID = comp;
    p.deviceID = dev;
    p.subDeviceID = subDev;
    p.vendorID = ven;
    p.subVendorID = subVen;
    p.display = display;
    return p;
}

} // namespace

TEST(DeviceInfo, NewRecordHasDefaults)
{
    CDeviceInfo d;
    EXPECT_EQ(d.getStatus(), -1);
    EXPECT_EQ(d.getDependencyType(), CDeviceInfo::HARD_DEPENDENCY);
    EXPECT_EQ(d.getDeviceType(), CDeviceInfo::DEVICE_TYPE_NONE);
    EXPECT_EQ(d.getParentDeviceType(), CDeviceInfo::DEVICE_TYPE_NONE);
    EXPECT_EQ(d.getMessageID(), 0);
    EXPECT_EQ(d.getUpdateStatus(), 0);
    EXPECT_FALSE(d.getRebootRequired());
    EXPECT_FALSE(d.getColdPowerCycleRequired());
    EXPECT_EQ(d.getDeviceHandle(), nullptr);
    EXPECT_EQ(d.getDeviceUdpateID(), 0u);
    EXPECT_EQ(d.getDeviceSpecificID(), 0u);
    EXPECT_EQ(d.getBus(), 0);
    EXPECT_EQ(d.get_DeviceBus(), 0);
    EXPECT_EQ(d.get_DeviceBusFunction(), 0);
    for (const std::string& s :
         {d.getReleaseID(), d.getComponentID(), d.getParentComponentID(), d.getComponentType(), d.getDeviceName(),
          d.getVersion(), d.getDependencyContext(), d.getErrorMsg(), d.getDisplay(), d.getDetail(),
          d.getCurrentVersion(), d.getEnumId(), d.getDeviceIdentifier(), d.getFQDDInfo()})
        EXPECT_TRUE(s.empty());
    SPCIInfo p = d.getPCIInfo();
    EXPECT_TRUE(p.componentID.empty() && p.deviceID.empty() && p.subDeviceID.empty() && p.vendorID.empty() &&
                p.subVendorID.empty() && p.display.empty());
    EXPECT_TRUE(d.getDepenendencyPlatforms().empty());
    EXPECT_TRUE(d.getParentPCIInfo().empty());
    EXPECT_TRUE(d.getDependencyOS().empty());
    EXPECT_TRUE(d.getApplicationInfo()->empty());
    _BDFInfo bdf = d.getBDFInfo();
    EXPECT_EQ(bdf.busNumber, 0);
    EXPECT_EQ(bdf.deviceNumber, 0);
    EXPECT_EQ(bdf.functionNumber, 0);
    KWTCSystemInfo* sys = d.getSystemInfo();
    EXPECT_TRUE(sys->str1.empty() && sys->str2.empty() && sys->str3.empty() && sys->str4.empty());
}

TEST(DeviceInfo, SetPCIInfoFromNumbersReplacesWholeIdentityAndLogs)
{
    TempDir dir;
    ASSERT_TRUE(CLogger::GetInstance()->Initialize("dev.log"));

    CDeviceInfo d;
    d.setPCIInfo(pci("104529", "x", "x", "x", "x", "Old Name"));
    d.setDisplay("Record Display");
    d.setPCIInfo(0xA1F, 0x10, 0xABC, 0);

    SPCIInfo p = d.getPCIInfo();
    EXPECT_EQ(p.deviceID, "a1f");
    EXPECT_EQ(p.subDeviceID, "10");
    EXPECT_EQ(p.vendorID, "abc");
    EXPECT_EQ(p.subVendorID, "0");
    EXPECT_EQ(p.componentID, "");
    EXPECT_EQ(p.display, "");
    EXPECT_EQ(d.getDisplay(), "Record Display");

    d.setPCIInfo(0xFFFFFFFFu, 0x1, 0x1B4B, 0x1028);
    EXPECT_EQ(d.getPCIInfo().deviceID, "ffffffff");

    std::vector<std::string> lines = logLinesContaining(dir.read("dev.log"), "CDeviceInfo::setPCIInfo()");
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_TRUE(endsWith(lines[0], ": CDeviceInfo::setPCIInfo() Device id  a1f")) << lines[0];
    EXPECT_TRUE(endsWith(lines[1], ": CDeviceInfo::setPCIInfo() SubDevice id  10")) << lines[1];
    EXPECT_TRUE(endsWith(lines[2], ": CDeviceInfo::setPCIInfo() Vendor id  abc")) << lines[2];
    EXPECT_TRUE(endsWith(lines[3], ": CDeviceInfo::setPCIInfo() SubVendor id  0")) << lines[3];
    EXPECT_NE(lines[0].find(" DeviceInfo:"), std::string::npos) << lines[0];
}

TEST(DeviceInfo, SetBDFInfoStoresAllFourAndLogsThreeDecimalNumbers)
{
    TempDir dir;
    ASSERT_TRUE(CLogger::GetInstance()->Initialize("dev.log"));

    CDeviceInfo d;
    d.setBDFInfo(200, 31, 7, 0xBEEF);
    _BDFInfo b = d.getBDFInfo();
    EXPECT_EQ(b.busNumber, 200);
    EXPECT_EQ(b.deviceNumber, 31);
    EXPECT_EQ(b.functionNumber, 7);
    EXPECT_EQ(b.value, 0xBEEF);

    std::string log = dir.read("dev.log");
    std::vector<std::string> lines = logLinesContaining(log, "CDeviceInfo::setBDFInfo()");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(endsWith(lines[0], ": CDeviceInfo::setBDFInfo() Bus Number is  200")) << lines[0];
    EXPECT_TRUE(endsWith(lines[1], ": CDeviceInfo::setBDFInfo() Device Number is  31")) << lines[1];
    EXPECT_TRUE(endsWith(lines[2], ": CDeviceInfo::setBDFInfo() Function Number is  7")) << lines[2];
    EXPECT_EQ(log.find("48879"), std::string::npos);

    _BDFInfo other = {1, 2, 3, 4};
    d.setBDFInfo(other);
    EXPECT_EQ(d.getBDFInfo().value, 1);
    EXPECT_EQ(d.getBDFInfo().functionNumber, 4);
}

TEST(DeviceInfo, GettersReturnCopiesExceptApplicationAndSystemInfo)
{
    CDeviceInfo d;
    d.setPCIInfo(pci("1", "0a1f", "2151", "1b4b", "1028", "Name"));
    SPCIInfo p = d.getPCIInfo();
    p.deviceID = "ffff";
    EXPECT_EQ(d.getPCIInfo().deviceID, "0a1f");

    std::vector<std::string> platforms = {"0A1B", "0A1C"};
    d.setDependencyPlatforms(platforms);
    platforms.push_back("x");
    std::vector<std::string> got = d.getDepenendencyPlatforms();
    EXPECT_EQ(got.size(), 2u);
    got.clear();
    EXPECT_EQ(d.getDepenendencyPlatforms().size(), 2u);

    std::vector<SPCIInfo> parents = {pci("1", "a", "b", "c", "d", "")};
    d.setParentPCIInfo(parents);
    parents.clear();
    EXPECT_EQ(d.getParentPCIInfo().size(), 1u);

    SOSInfo os;
    os.majorVersion = "7";
    os.osVendor = "Linux";
    os.buildNumber = "123";
    d.setDependencyOS({os});
    ASSERT_EQ(d.getDependencyOS().size(), 1u);
    EXPECT_EQ(d.getDependencyOS()[0].buildNumber, "123");

    KWTCSystemInfo sys;
    sys.str1 = "a";
    sys.str4 = "d";
    d.setSystemInfo(&sys);
    sys.str1 = "changed";
    EXPECT_EQ(d.getSystemInfo()->str1, "a");
    d.getSystemInfo()->str2 = "own field";
    EXPECT_EQ(d.getSystemInfo()->str2, "own field");

    d.setApplicationInfo(nullptr);
    EXPECT_TRUE(d.getApplicationInfo()->empty());
    d.setApplicationInfo(new CDeviceApplicationInfo());
    EXPECT_EQ(d.getApplicationInfo()->size(), 1u);

    int marker = 0;
    d.setDeviceHandle(&marker);
    EXPECT_EQ(d.getDeviceHandle(), &marker);
}

TEST(DeviceInfo, ScalarAccessorsRoundTrip)
{
    CDeviceInfo d;
    d.setMessageID(5);
    d.setStatus(2);
    d.setUpdateStatus(9);
    d.setRebootRequired(true);
    d.setColdPowerCycleRequired(true);
    d.setDeviceUdpateID(0xFFFFFFFFu);
    d.setDeviceSpecificID(0xFFFF);
    d.setBus(3);
    d.setDeviceBus(4);
    d.setDeviceBusFunction(5);
    d.setDeviceType(CDeviceInfo::NON_PCI_DEVICE);
    d.setParentDeviceType(CDeviceInfo::PCI_DEVICE);
    d.setDependencyType(CDeviceInfo::SOFT_DEPENDENCY);
    EXPECT_EQ(d.getMessageID(), 5);
    EXPECT_EQ(d.getStatus(), 2);
    EXPECT_EQ(d.getUpdateStatus(), 9);
    EXPECT_TRUE(d.getRebootRequired());
    EXPECT_TRUE(d.getColdPowerCycleRequired());
    EXPECT_EQ(d.getDeviceUdpateID(), 0xFFFFFFFFu);
    EXPECT_EQ(d.getDeviceSpecificID(), 0xFFFF);
    EXPECT_EQ(d.getBus(), 3);
    EXPECT_EQ(d.get_DeviceBus(), 4);
    EXPECT_EQ(d.get_DeviceBusFunction(), 5);
    EXPECT_EQ(d.getDeviceType(), CDeviceInfo::NON_PCI_DEVICE);
    EXPECT_EQ(d.getParentDeviceType(), CDeviceInfo::PCI_DEVICE);
    EXPECT_EQ(d.getDependencyType(), CDeviceInfo::SOFT_DEPENDENCY);
    EXPECT_EQ(static_cast<int>(CDeviceInfo::SOFT_DEPENDENCY), 2);
    EXPECT_EQ(static_cast<int>(CDeviceInfo::NON_PCI_DEVICE), 2);
}

TEST(DeviceInfo, GetFilePathConvertsBackslashesInPlace)
{
    CDeviceInfo d;
    const std::string base = d.getFilePath();
    ASSERT_FALSE(base.empty());
    EXPECT_EQ(base.back(), '/');

    d.setFilePath("FOLDER01\\ZAGO\\fw_2.5.1.bin");
    EXPECT_EQ(d.getFilePath(), base + "FOLDER01/ZAGO/fw_2.5.1.bin");
    // The record keeps the converted path, so a copy compares equal to a
    // record set with the slashed form.
    CDeviceInfo slashed;
    slashed.setFilePath("FOLDER01/ZAGO/fw_2.5.1.bin");
    EXPECT_TRUE(d == slashed);

    d.setFilePath("/abs/x");
    EXPECT_EQ(d.getFilePath(), base + "/abs/x");
}

TEST(DeviceInfo, EqualityOperatorComparesIdentityFieldsOnly)
{
    CDeviceInfo a;
    a.setComponentType("FRMW");
    a.setComponentID("104529");
    a.setVersion("2.5.1");
    a.setDisplay("ZAGO");
    a.setDetail("detail");
    a.setFilePath("p/f.bin");
    a.setPCIInfo(pci("104529", "0a1f", "2151", "1b4b", "1028", "Display A"));
    a.setStatus(0);

    CDeviceInfo b(a);
    b.setPCIInfo(pci("104529", "0a1f", "2151", "1b4b", "1028", "Display B"));
    b.setStatus(1);
    b.setEnumId("Serial Number: X");
    b.setDependencyContext("OS");
    EXPECT_TRUE(a == b);

    struct Change {
        const char* name;
        void (*apply)(CDeviceInfo&);
    };
    const Change changes[] = {
        {"componentType", [](CDeviceInfo& d) { d.setComponentType("APAC"); }},
        {"componentID", [](CDeviceInfo& d) { d.setComponentID("1"); }},
        {"dependencyType", [](CDeviceInfo& d) { d.setDependencyType(CDeviceInfo::SOFT_DEPENDENCY); }},
        {"version", [](CDeviceInfo& d) { d.setVersion("2.5.2"); }},
        {"display", [](CDeviceInfo& d) { d.setDisplay("zago"); }},
        {"detail", [](CDeviceInfo& d) { d.setDetail("x"); }},
        {"filePath", [](CDeviceInfo& d) { d.setFilePath("p/g.bin"); }},
        {"pci componentID",
         [](CDeviceInfo& d) { d.setPCIInfo(pci("9", "0a1f", "2151", "1b4b", "1028", "Display A")); }},
        {"pci deviceID (case)",
         [](CDeviceInfo& d) { d.setPCIInfo(pci("104529", "0A1F", "2151", "1b4b", "1028", "Display A")); }},
        {"pci subVendorID",
         [](CDeviceInfo& d) { d.setPCIInfo(pci("104529", "0a1f", "2151", "1b4b", "1029", "Display A")); }},
    };
    for (const Change& c : changes) {
        CDeviceInfo changed(a);
        c.apply(changed);
        EXPECT_FALSE(a == changed) << c.name;
    }
}

TEST(DeviceInfo, CheckForEqualityComparesLocationAndEnumId)
{
    CDeviceInfo a;
    a.setComponentType("FRMW");
    a.setComponentID("1");
    a.setVersion("1.0");
    a.setEnumId("Serial Number: S1");
    a.setFQDDInfo("NVMe.1");
    a.setPCIInfo(pci("", "a1f", "2151", "1b4b", "1028", "x"));
    a.setBDFInfo(1, 2, 3, 10);

    CDeviceInfo b(a);
    b.setBDFInfo(1, 2, 3, 99); // the 16-bit value is not compared
    b.setPCIInfo(pci("", "a1f", "2151", "1b4b", "1028", "other display"));
    b.setDetail("not compared");
    EXPECT_TRUE(a.checkForEquality(&b));

    CDeviceInfo c(a);
    c.setBDFInfo(1, 2, 4, 10);
    EXPECT_FALSE(a.checkForEquality(&c));
    CDeviceInfo e(a);
    e.setEnumId("Serial Number: S2");
    EXPECT_FALSE(a.checkForEquality(&e));
    CDeviceInfo f(a);
    f.setFQDDInfo("NVMe.2");
    EXPECT_FALSE(a.checkForEquality(&f));
    CDeviceInfo g(a);
    g.setVersion("1.1");
    EXPECT_FALSE(a.checkForEquality(&g));
}

TEST(DeviceInfo, CheckForEqualityMICTreatsEmptyVersionAsWildcard)
{
    CDeviceInfo a;
    a.setComponentType("FRMW");
    a.setComponentID("1");
    a.setPCIInfo(pci("1", "a1f", "2151", "1b4b", "1028", ""));
    a.setVersion("1.0");

    CDeviceInfo b(a);
    b.setVersion("");
    b.setEnumId("ignored");
    EXPECT_TRUE(a.checkForEqualityMIC(&b));
    EXPECT_TRUE(b.checkForEqualityMIC(&a));

    CDeviceInfo c(a);
    c.setVersion("2.0");
    EXPECT_FALSE(a.checkForEqualityMIC(&c));

    CDeviceInfo d(a);
    d.setPCIInfo(pci("2", "a1f", "2151", "1b4b", "1028", ""));
    EXPECT_FALSE(a.checkForEqualityMIC(&d));

    CDeviceInfo e(a);
    e.setPCIInfo(pci("1", "a1f", "2151", "1b4b", "1029", ""));
    EXPECT_FALSE(a.checkForEqualityMIC(&e));
}

TEST(DeviceInfo, CopiesOwnTheirApplicationRecordsAndFreeEachOnce)
{
    // Runs under the sanitizer build too: a record shared between the
    // original and a copy shows up there as a double free, a lost one as a
    // leak.
    int handleTarget = 42;
    {
        CDeviceInfo original;
        CDeviceApplicationInfo* app = new CDeviceApplicationInfo();
        app->str1 = "app";
        original.setApplicationInfo(app);
        original.setDeviceHandle(&handleTarget);
        original.setComponentID("104529");

        CDeviceInfo copy(original);
        ASSERT_EQ(copy.getApplicationInfo()->size(), 1u);
        EXPECT_NE((*copy.getApplicationInfo())[0], app);
        EXPECT_EQ((*copy.getApplicationInfo())[0]->str1, "app");
        EXPECT_EQ(copy.getDeviceHandle(), &handleTarget);
        EXPECT_EQ(copy.getComponentID(), "104529");

        CDeviceInfo assigned;
        assigned.setApplicationInfo(new CDeviceApplicationInfo());
        assigned.setApplicationInfo(new CDeviceApplicationInfo());
        assigned = original;
        ASSERT_EQ(assigned.getApplicationInfo()->size(), 1u);
        EXPECT_NE((*assigned.getApplicationInfo())[0], app);

        CDeviceInfo& self = assigned;
        assigned = self;
        ASSERT_EQ(assigned.getApplicationInfo()->size(), 1u);
        EXPECT_EQ((*assigned.getApplicationInfo())[0]->str1, "app");

        // operator== takes its operand by value: the temporary copy must
        // not free the original's records.
        EXPECT_TRUE(original == copy);
        EXPECT_EQ((*original.getApplicationInfo())[0]->str1, "app");

        std::vector<CDeviceInfo> many(3, original);
        EXPECT_EQ(many[2].getApplicationInfo()->size(), 1u);
    }
    EXPECT_EQ(handleTarget, 42);
}
