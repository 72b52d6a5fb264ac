#ifndef CM_KOLT_TESSAIPMIDUMP_H
#define CM_KOLT_TESSAIPMIDUMP_H

#include <string>

#include "QRMIPMICommandData.h"

// Text forms of request and response records for the KOLT debug log.

// The byte as two lower-case hexadecimal digits.
std::string tessaHexByte(unsigned char value);
// " 0x.." for each of the first count bytes; never past the buffer's end,
// whatever count says.
std::string tessaHexBytes(const unsigned char* buffer, unsigned int count);
// prefix + " IPMIRequest[ 0x.. ...]\n" over the request length.
std::string tessaRequestDump(const _QRMIPMICommandData& record, const std::string& prefix);
// " IPMIResponse[ 0x.. ...]\n" over the response length.
std::string tessaResponseDump(const _QRMIPMICommandData& record);

#endif
