#ifndef CM_CMBASEUTILS_IDEVICEXMLWRITER_H
#define CM_CMBASEUTILS_IDEVICEXMLWRITER_H

#include <string>
#include <vector>

#include "DeviceInfo.h"

// A result document writer: writes the whole document for the device list
// to the named file, or to standard output when the name is empty or the
// file cannot be opened.
class IDeviceXMLWriter {
public:
    virtual ~IDeviceXMLWriter() {}
    virtual bool GetXML(const std::vector<CDeviceInfo*>& devices, std::string outputFileName) = 0;
};

#endif
