#ifndef CM_NVM_EPCISSD_TESTS_NVMETESTDATA_H
#define CM_NVM_EPCISSD_TESTS_NVMETESTDATA_H

// Test-only: the package.xml texts and firmware images the NVMe tests feed
// the program.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The PCI ids of one PCIInfo entry, as package.xml writes them.
struct PackagePciIds {
    const char* device;
    const char* subDevice;
    const char* vendor;
    const char* subVendor;
};

// A package.xml laid out as the update package ships it: one Device
// (componentID 104530) listing `entries`, each PCIInfo followed by a
// Display holding `display`.
inline std::string packageXml(const std::vector<PackagePciIds>& entries, const std::string& display)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SoftwareComponent>\n <SupportedDevices>\n"
                      "  <Device componentID=\"104530\">\n";
    for (const PackagePciIds& e : entries)
        xml += std::string("   <PCIInfo deviceID=\"") + e.device + "\" subDeviceID=\"" + e.subDevice +
               "\" vendorID=\"" + e.vendor + "\" subVendorID=\"" + e.subVendor + "\"/>\n   <Display lang=\"en\">" +
               display + "</Display>\n";
    xml += "  </Device>\n </SupportedDevices>\n</SoftwareComponent>\n";
    return xml;
}

// Image bytes that differ at every position of a piece and between pieces,
// so a piece sent from the wrong offset or cut short shows.
inline std::string patterned(size_t size)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 4096 * 13 + 1) & 0xFF);
    return data;
}

inline std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

#endif
