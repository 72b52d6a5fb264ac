#include "TessaIPMIDump.h"

#include <algorithm>
#include <cstdio>

std::string tessaHexByte(unsigned char value)
{
    char text[3];
    std::snprintf(text, sizeof(text), "%02x", value);
    return text;
}

std::string tessaHexBytes(const unsigned char* buffer, unsigned int count)
{
    // The lengths come from callers and from the library; the buffers are
    // fixed, so a length beyond them must not walk into the next field.
    const unsigned int bounded = std::min<unsigned int>(count, QRMIPMI_MAX_BUFFER_LENGTH);
    std::string text;
    text.reserve(bounded * 5);
    for (unsigned int i = 0; i < bounded; ++i)
        text += " 0x" + tessaHexByte(buffer[i]);
    return text;
}

std::string tessaRequestDump(const _QRMIPMICommandData& record, const std::string& prefix)
{
    return prefix + " IPMIRequest[" + tessaHexBytes(record.request, record.requestLength) + "]\n";
}

std::string tessaResponseDump(const _QRMIPMICommandData& record)
{
    return " IPMIResponse[" + tessaHexBytes(record.response, record.responseLength) + "]\n";
}
