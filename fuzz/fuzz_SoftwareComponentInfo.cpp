// The package reader on arbitrary "package.xml" contents: every query the
// program makes of the file, and the inventory look-up on the same bytes.

#include <cstddef>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "SoftwareComponentInfo.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnterScratchDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::WriteFile("package.xml", data, size);

    CSoftwareComponentInfo info;
    std::vector<SPCIInfo> devices = info.GetSupportedDevices();
    for (SPCIInfo& device : devices)
        info.getMarketingNameForPCIDevice(device);
    // A controller as discovery reports it: lower case, no leading zeros.
    SPCIInfo discovered{"", "a1f", "2151", "1b4b", "1028", ""};
    info.getMarketingNameForPCIDevice(discovered);
    SPCIInfo idless{"", "", "", "", "", ""};
    info.getMarketingNameForPCIDevice(idless);

    info.GetComponentType();
    info.GetComponentVersion();
    info.GetComponentTypeDisplayString();
    info.GetPackageID();
    std::string componentId = info.GetComponentID();
    info.GetMinComponentID();
    info.GetComponentDisplayString();
    info.getPresenceOfRollbackInfo();
    for (auto& entry : info.getCompIDMarkNameInfo()) {
        std::string id = entry.first;
        info.getMarketingNameForNonPCIDevice(id);
    }
    info.GetAllSupportedDevices();
    std::map<unsigned int, CContextList> contexts;
    info.GetSupportedContextTypes(contexts);
    for (CDeviceInfo* dependency : info.getDependencyInfo())
        delete dependency;

    std::stringstream inventory(std::string(reinterpret_cast<const char*>(data), size));
    std::stringstream found;
    info.GetInvFromVCL(componentId.empty() ? "1" : componentId, found, inventory);
    return 0;
}
