#include "NVMECommonUtils.h"

#include <cstdlib>
#include <exception>
#include <new>
#include <sstream>

#include "Logger.h"
#include "SoftwareComponentInfo.h"

#define ZAGO_LOG_UNIT "cm_NVM_ePCISSD/src/NVMECommonUtils"

bool generateXML(std::unique_ptr<IDeviceXMLWriter>& writer, std::vector<CDeviceInfo*>& devices,
                 std::string& outputFileName)
{
    ZLOG("Entering NVMECommonUtils::generateXML()");
    if (!writer) {
        ZLOG("ERROR: Failed to create auto_ptr to CUpdateXMLWriter");
        return false;
    }

    bool written = false;
    try {
        written = writer->GetXML(devices, outputFileName);
    } catch (const std::exception& e) {
        ZLOG("ERROR: pDeviceXmlWriter->GetXML() created an exception and it is caught !");
        if (e.what() != nullptr)
            ZLOG(std::string("Exception Is: ") + e.what());
        exit(1);
    } catch (...) {
        ZLOG("ERROR: pDeviceXmlWriter->GetXML() created an unkown exception");
        exit(1);
    }

    if (written) {
        ZLOG("INFO: Successfully created XML file for update.");
        if (devices.empty())
            ZLOG("WARNING: deviceInfo is empty. There seems to be no NVMe PCISSD disk ??");
    } else {
        ZLOG("ERROR: Failed to create XML file for update.");
    }
    ZLOG("Leaving NVMECommonUtils::generateXML()");
    return written;
}

void setBasicDeviceInfo(CDeviceInfo* device, std::string deviceName, std::string componentType)
{
    ZLOG("Entering NVMECommonUtils::setBasicDeviceInfo()");
    device->setDeviceName(deviceName);
    ZLOG("NVMECommonUtils::setBasicDeviceInfo() Setting the Device Name: " + deviceName);
    device->setComponentType(componentType);
    ZLOG("Setting the Component Type: " + componentType);
    device->setDeviceType(CDeviceInfo::PCI_DEVICE);
    ZLOG("Setting the Device Type");

    ZLOG("Before creating the object of Software Component Info");
    CSoftwareComponentInfo package;
    ZLOG("After creating the object of Software Component Info");
    SPCIInfo pciInfo = device->getPCIInfo();
    std::string marketingName = package.getMarketingNameForPCIDevice(pciInfo);
    device->setDisplay(marketingName.empty() ? deviceName : marketingName);
    ZLOG("Setting the Display name to Marketing name: " + marketingName);
    ZLOG("Leaving NVMECommonUtils :: setBasicDeviceInfo()");
}

// ---- Package matching and update error records -------------------------

std::vector<SPCIInfo> GetSupportedPCIDevicesFrmPkgXML()
{
    CSoftwareComponentInfo package;
    ZLOG("NVMECommonUtils::GetSupportedPCIDevices Entering");
    std::vector<SPCIInfo> supported = package.GetSupportedDevices();
    ZLOG("NVMECommonUtils::GetSupportedPCIDevices Leaving");
    return supported;
}

namespace {

std::string pciIdText(const SPCIInfo& pci)
{
    return " Device ID " + pci.deviceID + " SubDevice ID " + pci.subDeviceID + " Vendor ID " + pci.vendorID +
           " SubVendor ID " + pci.subVendorID;
}

} // namespace

bool FilterSupportedDeviceInfo(std::vector<CDeviceInfo*>& devices)
{
    std::vector<SPCIInfo> supported = GetSupportedPCIDevicesFrmPkgXML();
    ZLOG("NVMECommonUtils::FilterDeviceInfo Entering");
    if (supported.empty()) {
        ZLOG("NVMECommonUtils::FilterDeviceInfo Could not find any devies from package.xml or package.xml is not present \n");
        devices.clear();
        return false;
    }

    std::ostringstream found;
    found << "NVMECommonUtils::FilterDeviceInfo Found " << supported.size()
          << " set of supported devies from package.xml " << "\n";
    ZLOG(found);
    std::ostringstream before;
    before << "NVMECommonUtils::FilterDeviceInfo Device vector size before filtering " << devices.size() << "\n";
    ZLOG(before);

    bool matched = false;
    int element = -1;
    std::vector<CDeviceInfo*>::iterator it = devices.begin();
    while (it != devices.end()) {
        ++element;
        SPCIInfo device = (*it)->getPCIInfo();
        std::ostringstream system;
        system << "NVMECommonUtils::FilterDeviceInfo From system " << pciIdText(device) << "\n";
        ZLOG(system);

        bool match = false;
        for (const SPCIInfo& entry : supported) {
            std::ostringstream package;
            package << "NVMECommonUtils::FilterDeviceInfo From package.xml" << pciIdText(entry) << "\n";
            ZLOG(package);
            if (SamePCIIdentity(device, entry)) {
                match = true;
                break;
            }
        }

        if (match) {
            std::ostringstream line;
            line << "NVMECommonUtils::FilterDeviceInfo Match Found with package.xml for device for element " << element
                 << " in device vector " << "\n";
            ZLOG(line);
            matched = true;
            ++it;
        } else {
            std::ostringstream line;
            line << "NVMECommonUtils::FilterDeviceInfo Failed to find a match with package.xml for device element "
                 << element << " in device vector and  hence skipping this Drive " << "\n";
            ZLOG(line);
            it = devices.erase(it);
        }
    }

    std::ostringstream after;
    after << "NVMECommonUtils::FilterDeviceInfo device vector size after filtering " << devices.size() << "\n";
    ZLOG(after);
    ZLOG("NVMECommonUtils::FilterDeviceInfo Leaving");
    return matched;
}

void setErrorDeviceInfo(std::vector<CDeviceInfo*>& devices, const char* message)
{
    CDeviceInfo* record = nullptr;
    try {
        record = new CDeviceInfo();
        record->setStatus(2);
        record->setErrorMsg(message);
        devices.push_back(record);
    } catch (const std::bad_alloc& e) {
        delete record;
        ZLOG(std::string("NVMECommonUtils::setErrorDeviceInfo bad allocation exception ") + e.what());
    }
}
