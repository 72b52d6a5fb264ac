#ifndef CM_CMBASEUTILS_IDEVICEXMLWRITER_H
#define CM_CMBASEUTILS_IDEVICEXMLWRITER_H

#include <string>
#include <vector>

#include "DeviceInfo.h"

// A result document writer: writes the whole document for the device list
// to the named file, or to standard output when the name is empty. A
// document that cannot reach the named file goes to standard output, and
// the writer then throws (see CResultDocumentError).
class IDeviceXMLWriter {
public:
    virtual ~IDeviceXMLWriter() {}
    virtual bool GetXML(const std::vector<CDeviceInfo*>& devices, std::string outputFile) = 0;
};

// Field text made safe for an XML attribute value or element text: the
// five markup characters become entity references; tab, line feed and
// carriage return become character references, so that the value survives
// attribute normalisation and the document stays on one line; control
// characters that XML 1.0 does not allow, and bytes that are no valid UTF-8
// (the document declares UTF-8), are left out. Texts come from controller
// replies and from package.xml, so they may hold anything.
inline std::string XMLEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    const size_t size = text.size();
    for (size_t i = 0; i < size;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            case '\t': out += "&#9;"; break;
            case '\n': out += "&#10;"; break;
            case '\r': out += "&#13;"; break;
            default:
                if (c >= 0x20)
                    out += static_cast<char>(c);
            }
            ++i;
            continue;
        }

        // Length and allowed second byte of a UTF-8 sequence (no overlong
        // forms, no surrogates, nothing above U+10FFFF).
        size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        }
        bool valid = length != 0 && i + length <= size;
        for (size_t k = 1; valid && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            valid = k == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
        }
        // U+FFFE and U+FFFF are no XML characters either.
        if (valid && length == 3 && c == 0xEF && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
            static_cast<unsigned char>(text[i + 2]) >= 0xBE)
            valid = false;
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            ++i;
        }
    }
    return out;
}

#endif
