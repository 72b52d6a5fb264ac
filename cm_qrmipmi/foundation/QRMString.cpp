#include "QRMString.h"

#include <algorithm>
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
        const unsigned int b0 = bytes[p];
        if (b0 < 0x80) {
            out.push_back(static_cast<unsigned short>(b0));
            p += 1;
            continue;
        }
        // Width of the form the lead byte announces. Continuation bytes are
        // not checked: the decoder is deliberately lenient. A form that
        // decodes below the smallest value of its width (an overlong form)
        // becomes U+FFFD: taken as it stands it could yield U+0000, which
        // ends the text for every later copy and every C-string consumer.
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
        const unsigned int b1 = bytes[p + 1];
        if (width == 2) {
            const unsigned int value = ((b0 & 0x1Fu) << 6) | (b1 & 0x3Fu);
            out.push_back(value < 0x80 ? kReplacementUnit : static_cast<unsigned short>(value));
        } else if (width == 3) {
            const unsigned int b2 = bytes[p + 2];
            const unsigned int value = ((b0 & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
            out.push_back(value < 0x800 ? kReplacementUnit : static_cast<unsigned short>(value));
        } else {
            const unsigned int b2 = bytes[p + 2];
            const unsigned int b3 = bytes[p + 3];
            const unsigned int plane = ((b0 & 0x07u) << 2) | ((b1 & 0x3Fu) >> 4);
            if (plane == 0 || plane > 0x10) {
                // Overlong, or beyond U+10FFFF: no surrogate pair stands for it.
                out.push_back(kReplacementUnit);
            } else {
                out.push_back(static_cast<unsigned short>(0xD800 | ((plane - 1) << 6) |
                                                          ((b1 & 0x0Fu) << 2) | ((b2 & 0x3Fu) >> 4)));
                out.push_back(static_cast<unsigned short>(0xDC00 | ((b2 & 0x0Fu) << 6) | (b3 & 0x3Fu)));
            }
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
    for (; *text != L'\0'; ++text) {
        const unsigned short unit =
            static_cast<unsigned short>(static_cast<unsigned long>(*text) & 0xFFFF);
        // A character such as U+10000 keeps no bits at all; a zero unit
        // would cut the text short, so it stands as U+FFFD instead.
        out.push_back(unit == 0 ? kReplacementUnit : unit);
    }
}

bool IsHighSurrogate(unsigned int unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(unsigned int unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Units taken by the character at i: two for a surrogate pair, else one.
size_t CharacterWidth(const QRMString::BaseString& units, size_t i)
{
    return IsHighSurrogate(units[i]) && i + 1 < units.size() && IsLowSurrogate(units[i + 1]) ? 2
                                                                                              : 1;
}

// The character at i; an unpaired surrogate stands for itself.
unsigned long CodePointAt(const QRMString::BaseString& units, size_t i)
{
    if (CharacterWidth(units, i) == 2)
        return 0x10000ul + ((static_cast<unsigned long>(units[i]) - 0xD800) << 10) +
               (static_cast<unsigned long>(units[i + 1]) - 0xDC00);
    return units[i];
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
        } else if (CharacterWidth(*this, i) == 2) {
            const unsigned long cp = CodePointAt(*this, i);
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
    // Character by character, a surrogate pair being one character: trimming
    // the bytes of the set's UTF-8 form would also strip the trailing byte
    // that, say, U+00A9 shares with U+00E9, and leave a broken character.
    std::vector<unsigned long> trimmed;
    for (size_t i = 0; i < set.size(); i += CharacterWidth(set, i))
        trimmed.push_back(CodePointAt(set, i));
    const auto inSet = [&trimmed](unsigned long c) {
        return std::find(trimmed.begin(), trimmed.end(), c) != trimmed.end();
    };

    size_t first = 0;
    while (first < size() && inSet(CodePointAt(*this, first)))
        first += CharacterWidth(*this, first);
    size_t end = first;   // one past the last character that stays
    for (size_t i = first; i < size(); i += CharacterWidth(*this, i)) {
        if (!inSet(CodePointAt(*this, i)))
            end = i + CharacterWidth(*this, i);
    }
    return QRMString(BaseString(*this, first, end - first));
}

QRMString& QRMString::ReplaceAll(const QRMString& search, const QRMString& replacement)
{
    if (search.empty())
        return *this;
    if (replacement.size() < search.size()) {
        // Text that a replacement forms with its neighbours is replaced too.
        // Nothing before the first occurrence changes, so searching again
        // from just before the replaced spot is the same as searching from
        // the start. Every pass shortens the text, so this ends.
        size_t from = 0;
        for (;;) {
            const size_t at = find(search, from);
            if (at == npos)
                break;
            replace(at, search.size(), replacement);
            from = at >= search.size() - 1 ? at - (search.size() - 1) : 0;
        }
        return *this;
    }
    // A replacement at least as long as the search text may form a new
    // occurrence with the text around it on every pass ("aab", "ab" to
    // "bbaa" grows without end), so the search continues behind the
    // inserted text: one pass over the original text.
    size_t at = find(search);
    if (at == npos)
        return *this;
    BaseString result;
    size_t from = 0;
    for (; at != npos; at = find(search, from)) {
        result.append(*this, from, at - from);
        result.append(replacement);
        from = at + search.size();
    }
    result.append(*this, from, npos);
    BaseString::swap(result);
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
