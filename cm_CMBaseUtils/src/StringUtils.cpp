#include "StringUtils.h"

#include <cctype>
#include <limits>

namespace {

// Blanks of the "C" locale; bytes from 0x80 up are never blank.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string CStringUtils::trim_string(const std::string& input)
{
    std::string::size_type start = 0;
    while (start < input.size() && isBlank(input[start]))
        ++start;
    if (start == input.size())
        return std::string();

    std::string::size_type end = input.size() - 1;
    while (end > start && isBlank(input[end]))
        --end;
    return input.substr(start, end - start + 1);
}

std::string CStringUtils::toLowerCase(std::string input)
{
    for (std::string::size_type i = 0; i < input.size(); ++i)
        input[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(input[i])));
    return input;
}

uint64_t CStringUtils::Hex2Dec(std::string input)
{
    std::string::size_type pos = 0;
    while (pos < input.size() && isBlank(input[pos]))
        ++pos;
    if (pos + 1 < input.size() && input[pos] == '0' && (input[pos + 1] == 'x' || input[pos + 1] == 'X'))
        pos += 2;

    const uint64_t maxValue = std::numeric_limits<uint64_t>::max();
    uint64_t value = 0;
    bool overflow = false;
    for (; pos < input.size(); ++pos) {
        int digit = hexDigitValue(input[pos]);
        if (digit < 0)
            break;
        if (value > (maxValue >> 4))
            overflow = true;
        else
            value = (value << 4) | static_cast<uint64_t>(digit);
    }
    return overflow ? maxValue : value;
}
