#ifndef CM_NVM_EPCISSD_NVMECOMMONUTILS_H
#define CM_NVM_EPCISSD_NVMECOMMONUTILS_H

#include <memory>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "IDeviceXMLWriter.h"

// Hands a front end's device list to its result writer. Ends the process
// with status 1 when the writer throws: a half-written result document must
// not be taken for a finished run.
bool generateXML(std::unique_ptr<IDeviceXMLWriter>& writer, std::vector<CDeviceInfo*>& devices,
                 std::string& outputFileName);

// Gives a discovered controller's record its name, component type, PCI
// device type and display name (the package's marketing name for its PCI
// identity, or the name itself when "package.xml" has none).
void setBasicDeviceInfo(CDeviceInfo* device, std::string deviceName, std::string componentType);

// ---- Package matching and update error records -------------------------

// The supported PCI identities that "package.xml" of the working directory
// lists, in file order; empty when the file is absent, unreadable or lists
// none.
std::vector<SPCIInfo> GetSupportedPCIDevicesFrmPkgXML();

// Keeps only the devices whose four PCI identifiers (compared as numbers)
// match an entry of "package.xml"; the others are only taken out of the
// list, never deleted. True when at least one device matched.
bool FilterSupportedDeviceInfo(std::vector<CDeviceInfo*>& devices);

// Appends a record that carries only a failure (status 2) and its message.
void setErrorDeviceInfo(std::vector<CDeviceInfo*>& devices, const char* message);

#endif
