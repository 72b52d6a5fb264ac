#ifndef CM_CMBASEUTILS_STRINGUTILS_H
#define CM_CMBASEUTILS_STRINGUTILS_H

#include <cstdint>
#include <string>

// Stateless text helpers shared by the NVMe side.
class CStringUtils {
public:
    // Input without leading and trailing blanks (isspace in the "C" locale);
    // an all-blank input yields "".
    static std::string trim_string(const std::string& input);
    static std::string toLowerCase(std::string input);
    // Value of the hexadecimal number at the start of the text (optional
    // blanks and "0x" first); 0 when there is none, UINT64_MAX on overflow.
    static uint64_t Hex2Dec(std::string input);

private:
    CStringUtils() = delete;
};

#endif
