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

// Field text made safe for an XML attribute value or element text: the
// five markup characters become entity references, and control characters
// that XML 1.0 does not allow (everything below 0x20 but tab, line feed and
// carriage return) are left out. Texts come from controller replies and
// from package.xml, so they may hold anything.
inline std::string XMLEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                break;
            out += c;
        }
    }
    return out;
}

#endif
