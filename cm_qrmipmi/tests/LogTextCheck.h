#ifndef CM_QRMIPMI_TESTS_LOGTEXTCHECK_H
#define CM_QRMIPMI_TESTS_LOGTEXTCHECK_H

// Helpers for comparing library log text whose date and time vary.

#include <cctype>
#include <string>

namespace logcheck {

inline bool Digits(const std::string& s, size_t& pos, size_t min, size_t max, int* value = nullptr)
{
    size_t n = 0;
    int v = 0;
    while (pos + n < s.size() && n < max && std::isdigit(static_cast<unsigned char>(s[pos + n]))) {
        v = v * 10 + (s[pos + n] - '0');
        ++n;
    }
    if (n < min)
        return false;
    pos += n;
    if (value)
        *value = v;
    return true;
}

inline bool Literal(const std::string& s, size_t& pos, const char* text)
{
    const std::string t(text);
    if (s.compare(pos, t.size(), t) != 0)
        return false;
    pos += t.size();
    return true;
}

// Length of a "M/D/YYYY hh:mmAM" stamp at pos (month and day without
// leading zeros, 12-hour clock), or 0.
inline size_t StampAt(const std::string& s, size_t start)
{
    size_t pos = start;
    int month = 0, day = 0, hour = 0, minute = 0;
    if (pos < s.size() && s[pos] == '0')
        return 0;
    if (!Digits(s, pos, 1, 2, &month) || !Literal(s, pos, "/"))
        return 0;
    if (s[pos] == '0' || !Digits(s, pos, 1, 2, &day) || !Literal(s, pos, "/"))
        return 0;
    if (!Digits(s, pos, 4, 4) || !Literal(s, pos, " "))
        return 0;
    if (!Digits(s, pos, 2, 2, &hour) || !Literal(s, pos, ":") || !Digits(s, pos, 2, 2, &minute))
        return 0;
    if (!Literal(s, pos, "AM") && !Literal(s, pos, "PM"))
        return 0;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 1 || hour > 12 || minute > 59)
        return 0;
    return pos - start;
}

// The text with every date-and-time stamp replaced by "<STAMP>".
inline std::string MaskStamps(const std::string& text)
{
    std::string out;
    for (size_t pos = 0; pos < text.size();) {
        const bool boundary = pos == 0 || !std::isdigit(static_cast<unsigned char>(text[pos - 1]));
        const size_t length = boundary ? StampAt(text, pos) : 0;
        if (length > 0) {
            out += "<STAMP>";
            pos += length;
        } else {
            out += text[pos++];
        }
    }
    return out;
}

inline std::string Pad(const std::string& text, size_t width)
{
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// Whether the text holds a line "<prefix><line number><suffix>", the number
// right-aligned in three columns as the internal log writes it.
inline bool HasLine(const std::string& text, const std::string& prefix, const std::string& suffix)
{
    for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
        if (at != 0 && text[at - 1] != '\n')
            continue;
        size_t pos = at + prefix.size();
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
        if (Digits(text, pos, 1, 10) && text.compare(pos, suffix.size(), suffix) == 0 &&
            pos - (at + prefix.size()) >= 3)
            return true;
    }
    return false;
}

} // namespace logcheck

#endif
