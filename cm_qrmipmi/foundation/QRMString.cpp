#include "QRMString.h"

#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

const unsigned short kReplacementUnit = 0xFFFD;

void AppendUTF8(QRMString::BaseString& out, const char* text)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    const size_t length = std::strlen(text);
    size_t p = 0;
    while (p < length) {
        const unsigned short b0 = bytes[p];
        if (b0 < 0x80) {
            out.push_back(b0);
            p += 1;
            continue;
        }
        // Width of the form the lead byte announces. Continuation bytes are
        // not checked: the decoder is deliberately lenient.
        size_t width = 0;
        if (b0 <= 0xDF)
            width = 2;
        else if (b0 <= 0xEF)
            width = 3;
        else if (b0 <= 0xF7)
            width = 4;
        if (width == 0) {
            // No UTF-8 lead byte at all.
            out.push_back(kReplacementUnit);
            p += 1;
            continue;
        }
        if (p + width - 1 >= length) {
            // The form would run past the terminator: the rest of the text
            // is one broken character.
            out.push_back(kReplacementUnit);
            break;
        }
        const unsigned short b1 = bytes[p + 1];
        if (width == 2) {
            out.push_back(static_cast<unsigned short>(((b0 & 0x1F) << 6) | (b1 & 0x3F)));
        } else if (width == 3) {
            const unsigned short b2 = bytes[p + 2];
            out.push_back(static_cast<unsigned short>(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) |
                                                      (b2 & 0x3F)));
        } else {
            const unsigned short b2 = bytes[p + 2];
            const unsigned short b3 = bytes[p + 3];
            const unsigned short plane =
                static_cast<unsigned short>(((b0 & 0x07) << 2) | ((b1 & 0x3F) >> 4));
            // 16-bit arithmetic: an overlong form (plane 0) wraps instead of
            // shifting a negative value.
            const unsigned short high = static_cast<unsigned short>(
                0xD800 | static_cast<unsigned short>((static_cast<unsigned int>(plane) - 1u) << 6) |
                ((b1 & 0x0F) << 2) | ((b2 & 0x3F) >> 4));
            const unsigned short low =
                static_cast<unsigned short>(0xDC00 | ((b2 & 0x0F) << 6) | (b3 & 0x3F));
            out.push_back(high);
            out.push_back(low);
        }
        p += width;
    }
}

void AppendSingleBytes(QRMString::BaseString& out, const char* text)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    const size_t length = std::strlen(text);
    out.reserve(out.size() + length);
    // Bytes from 0x80 up map to the code point of the same value (Latin-1).
    for (size_t i = 0; i < length; ++i)
        out.push_back(bytes[i]);
}

void AppendWide(QRMString::BaseString& out, const wchar_t* text)
{
    for (; *text != L'\0'; ++text)
        out.push_back(static_cast<unsigned short>(static_cast<unsigned long>(*text) & 0xFFFF));
}

size_t FirstZero(const QRMString::BaseString& units)
{
    for (size_t i = 0; i < units.size(); ++i) {
        if (units[i] == 0)
            return i;
    }
    return units.size();
}

bool SameUnits(const QRMString& left, const QRMString& right)
{
    return left.size() == right.size() &&
           static_cast<const QRMString::BaseString&>(left) ==
               static_cast<const QRMString::BaseString&>(right);
}

}  // namespace

QRMString::QRMString() {}

QRMString::QRMString(const char* text, QRMCharEncodingType encoding)
{
    if (text == nullptr)
        return;
    if (encoding == QRM_ENCODING_SINGLE_BYTE)
        AppendSingleBytes(*this, text);
    else if (encoding == QRM_ENCODING_UTF8)
        AppendUTF8(*this, text);
}

QRMString::QRMString(const wchar_t* text)
{
    if (text != nullptr)
        AppendWide(*this, text);
}

QRMString::QRMString(const BaseString& units) : BaseString(units) {}

QRMString::QRMString(const QRMString& other) : BaseString(other, 0, FirstZero(other)) {}

QRMString& QRMString::operator=(const QRMString& other)
{
    if (this != &other)
        BaseString::assign(other);
    return *this;
}

QRMString::~QRMString() {}

std::string QRMString::GetUTF8String() const
{
    std::string out;
    out.reserve(size() * 2);
    const size_t n = size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned int u = (*this)[i];
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u <= 0x7FF) {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && (*this)[i + 1] >= 0xDC00 &&
                   (*this)[i + 1] <= 0xDFFF) {
            const unsigned int w = (*this)[i + 1];
            const unsigned int cp = 0x10000 + ((u - 0xD800) << 10) + (w - 0xDC00);
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
            ++i;
        } else {
            out.push_back(static_cast<char>(0xE0 | (u >> 12)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    out.shrink_to_fit();
    return out;
}

std::wstring QRMString::GetWstring() const
{
    std::wstring out;
    out.reserve(size());
    for (unsigned short unit : *this)
        out.push_back(static_cast<wchar_t>(unit));
    return out;
}

int QRMString::GetCString(char* buffer, unsigned long& length)
{
    if (buffer == nullptr || length == 0)
        return 1;
    const std::string utf8 = GetUTF8String();
    // Refuse rather than cut: a cut could split a multi-byte character.
    if (utf8.size() + 1 > length)
        return 1;
    std::memcpy(buffer, utf8.c_str(), utf8.size() + 1);
    length = static_cast<unsigned long>(utf8.size());
    return 0;
}

unsigned long long QRMString::GetNPos()
{
    return static_cast<unsigned long long>(BaseString::npos);
}

bool QRMString::ContainsAny(const QRMString& set, unsigned int start) const
{
    if (set.empty() || start >= size())
        return false;
    return find_first_of(set, start) != npos;
}

QRMString QRMString::SubString(unsigned long start, unsigned long count) const
{
    if (empty())
        return QRMString();
    return QRMString(substr(start, count));
}

bool QRMString::SubStrings(const QRMString& delimiters, std::vector<QRMString>& pieces) const
{
    if (delimiters.empty())
        return false;
    size_t start = 0;
    for (;;) {
        const size_t d = find_first_of(delimiters, start);
        if (d == npos) {
            if (start < size())
                pieces.push_back(QRMString(substr(start)));
            return true;
        }
        if (start < d)
            pieces.push_back(QRMString(substr(start, d - start)));
        start = d + 1;
    }
}

QRMString QRMString::TrimWhiteSpaces(const QRMString& set) const
{
    const std::string text = GetUTF8String();
    const std::string bytes = set.GetUTF8String();
    const size_t first = text.find_first_not_of(bytes);
    if (first == std::string::npos)
        return QRMString();
    const size_t last = text.find_last_not_of(bytes);
    return QRMString(text.substr(first, last - first + 1).c_str(), QRM_ENCODING_UTF8);
}

QRMString& QRMString::ReplaceAll(const QRMString& search, const QRMString& replacement)
{
    if (search.empty())
        return *this;
    // Text that a replacement forms with its neighbours is replaced too.
    // Nothing before the first occurrence changes, so searching again from
    // just before the replaced spot is the same as searching from the start.
    // A replacement that holds the search text would never run out of
    // occurrences; then the search continues behind the inserted text.
    const bool selfReproducing = replacement.find(search) != npos;
    size_t from = 0;
    for (;;) {
        const size_t at = find(search, from);
        if (at == npos)
            break;
        replace(at, search.size(), replacement);
        if (selfReproducing)
            from = at + replacement.size();
        else
            from = at >= search.size() - 1 ? at - (search.size() - 1) : 0;
    }
    return *this;
}

bool QRMString::ContainsSpecialCharacters() const
{
    static const char kSpecial[] = "~`!@#$%^&*()_+{}:\"<>?/.,';][=-|\\";
    return ContainsAny(QRMString(kSpecial, QRM_ENCODING_UTF8), 0);
}

bool QRMString::IsPermissableFileName() const
{
    if (empty())
        return false;
    return !ContainsAny(QRMString("\\/:?%*<\">|", QRM_ENCODING_UTF8), 0);
}

namespace {

// Large enough for any number; a longer text from a caller's format is cut
// by snprintf, never written past the buffer.
const size_t kNumberBufferSize = 256;

}  // namespace

int QRMString::AppendNumber(int value, const QRMString& format)
{
    char buffer[kNumberBufferSize];
    buffer[0] = '\0';
    std::snprintf(buffer, sizeof(buffer), format.GetUTF8String().c_str(), value);
    AppendUTF8(*this, buffer);
    return 0;
}

int QRMString::AppendNumber(long long value, const QRMString& format)
{
    char buffer[kNumberBufferSize];
    buffer[0] = '\0';
    std::snprintf(buffer, sizeof(buffer), format.GetUTF8String().c_str(), value);
    AppendUTF8(*this, buffer);
    return 0;
}

int QRMString::AppendNumber(int value)
{
    return AppendNumber(value, QRMString("%d", QRM_ENCODING_UTF8));
}

int QRMString::AppendUNumber(unsigned int value)
{
    char buffer[kNumberBufferSize];
    std::snprintf(buffer, sizeof(buffer), "%u", value);
    AppendUTF8(*this, buffer);
    return 0;
}

int QRMString::AppendNumber(long long value)
{
    AppendUTF8(*this, std::to_string(value).c_str());
    return 0;
}

int QRMString::AppendUNumber(unsigned long long value)
{
    AppendUTF8(*this, std::to_string(value).c_str());
    return 0;
}

int QRMString::GetIntValue(std::ios_base& (*base)(std::ios_base&)) const
{
    std::wistringstream stream(GetWstring());
    if (base != nullptr)
        stream >> base;
    unsigned int value = 0;
    stream >> value;
    if (stream.fail() && value == static_cast<unsigned int>(-1))
        return 0;   // not a number, or out of range
    return static_cast<int>(value);
}

double QRMString::GetDoubleValue() const
{
    std::wistringstream stream(GetWstring());
    double value = 0;
    stream >> value;
    if (stream.fail())
        return 0;
    return value;
}

bool operator==(const char* left, const QRMString& right)
{
    return SameUnits(QRMString(left, QRMString::QRM_ENCODING_UTF8), right);
}

bool operator==(const QRMString& left, const char* right)
{
    return SameUnits(left, QRMString(right, QRMString::QRM_ENCODING_UTF8));
}

bool operator==(const wchar_t* left, const QRMString& right)
{
    return SameUnits(QRMString(left), right);
}

bool operator==(const QRMString& left, const wchar_t* right)
{
    return SameUnits(left, QRMString(right));
}

QRMString operator+(const char* left, const QRMString& right)
{
    QRMString result(left, QRMString::QRM_ENCODING_UTF8);
    result.append(right);
    return result;
}

QRMString operator+(const wchar_t* left, const QRMString& right)
{
    QRMString result(left);
    result.append(right);
    return result;
}

QRMString operator+(const QRMString& left, const char* right)
{
    QRMString result;
    result.assign(left);
    result.append(QRMString(right, QRMString::QRM_ENCODING_UTF8));
    return result;
}

QRMString operator+(const QRMString& left, const wchar_t* right)
{
    QRMString result;
    result.assign(left);
    result.append(QRMString(right));
    return result;
}

QRMString& operator+=(QRMString& left, const char* right)
{
    left.append(QRMString(right, QRMString::QRM_ENCODING_UTF8));
    return left;
}
