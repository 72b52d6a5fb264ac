// The IPMI library's string class on arbitrary bytes: both decoders, the
// UTF-8 encoder, the C-string copy, splitting, trimming, replacing and the
// number readers, with the properties every caller relies on checked.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ios>
#include <stdexcept>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "QRMString.h"

namespace {

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz: QRMString: %s\n", what);
        std::abort();
    }
}

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUTF8(const std::string& text)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t i = 0, n = text.size();
    while (i < n) {
        unsigned char c = s[i];
        size_t width;
        unsigned int cp;
        if (c < 0x80) { ++i; continue; }
        if (c >= 0xC2 && c <= 0xDF) { width = 2; cp = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { width = 3; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { width = 4; cp = c & 0x07; }
        else return false;
        if (i + width > n)
            return false;
        for (size_t k = 1; k < width; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if ((width == 3 && cp < 0x800) || (width == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += width;
    }
    return true;
}

bool HasSurrogates(const QRMString& text)
{
    for (unsigned short unit : text)
        if (unit >= 0xD800 && unit <= 0xDFFF)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string textBytes = input.ConsumeRandomLengthString(512);
    const std::string searchBytes = input.ConsumeRandomLengthString(16);
    const std::string replacementBytes = input.ConsumeRandomLengthString(16);
    const std::string setBytes = input.ConsumeRemainingBytesAsString();

    const QRMString text(textBytes.c_str(), QRMString::QRM_ENCODING_UTF8);
    const QRMString latin(textBytes.c_str(), QRMString::QRM_ENCODING_SINGLE_BYTE);
    const QRMString search(searchBytes.c_str(), QRMString::QRM_ENCODING_UTF8);
    const QRMString replacement(replacementBytes.c_str(), QRMString::QRM_ENCODING_UTF8);
    const QRMString set(setBytes.c_str(), QRMString::QRM_ENCODING_UTF8);

    // The C-string constructors stop at the first NUL byte.
    const std::string cText = textBytes.c_str();
    const std::string utf8 = text.GetUTF8String();
    if (IsValidUTF8(cText))
        Require(utf8 == cText, "valid UTF-8 does not survive decoding and encoding");
    Require(latin.size() == cText.size(), "single-byte decoding changed the length");
    Require(text.GetWstring().size() == text.size(), "wide copy changed the length");

    // The C-string copy: refused when it does not fit, whole when it does.
    // (The copy constructor stops at a zero unit.)
    QRMString copy(text);
    const std::string copyUtf8 = copy.GetUTF8String();
    std::vector<char> buffer(copyUtf8.size() + 1);
    unsigned long length = buffer.size();
    Require(copy.GetCString(buffer.data(), length) == 0 && length == copyUtf8.size(), "C-string copy failed");
    if (!copyUtf8.empty()) {
        unsigned long tooSmall = copyUtf8.size();
        Require(copy.GetCString(buffer.data(), tooSmall) == 1, "C-string copy into a short buffer");
    }

    // No byte sequence decodes to U+0000 (copies stop at a zero unit and
    // would silently lose the rest).
    Require(text.find(static_cast<unsigned short>(0)) == QRMString::npos, "decoding produced U+0000");
    Require(set.find(static_cast<unsigned short>(0)) == QRMString::npos, "decoding produced U+0000");

    std::vector<QRMString> pieces;
    if (text.SubStrings(set, pieces)) {
        size_t units = 0;
        for (const QRMString& piece : pieces) {
            Require(!piece.empty() && piece.find_first_of(set) == QRMString::npos, "piece holds a delimiter");
            units += piece.size();
        }
        size_t delimiters = 0;
        for (unsigned short unit : text)
            delimiters += set.find(unit) != QRMString::npos ? 1 : 0;
        Require(units + delimiters == text.size(), "pieces and delimiters do not add up to the text");
    }

    // Trimming takes whole characters off both ends and nothing else.
    const QRMString trimmed = text.TrimWhiteSpaces(set);
    const size_t at = trimmed.empty() ? 0 : text.find(trimmed);
    Require(at != QRMString::npos, "trimmed text is not a part of the text");
    if (!HasSurrogates(text) && !HasSurrogates(set)) {
        const auto inSet = [&set](unsigned short unit) { return set.find(unit) != QRMString::npos; };
        if (trimmed.empty()) {
            for (unsigned short unit : text)
                Require(inSet(unit), "trimmed to nothing, yet a unit outside the set");
        } else {
            Require(!inSet(trimmed.front()) && !inSet(trimmed.back()), "trimmed text starts or ends in the set");
            for (size_t i = 0; i < text.size(); ++i)
                if (i < at || i >= at + trimmed.size())
                    Require(inSet(text[i]), "trimmed a unit outside the set");
        }
    }
    // A start past the end of a non-empty string is the caller's error,
    // reported by the standard library's out-of-range exception.
    try {
        QRMString part = text.SubString(searchBytes.size(), replacementBytes.size());
        Require(part.size() <= replacementBytes.size(), "sub-string longer than asked for");
    } catch (const std::out_of_range&) {
        Require(!text.empty() && searchBytes.size() > text.size(), "out of range inside the string");
    }
    text.ContainsAny(set, static_cast<unsigned int>(setBytes.size()));
    text.ContainsSpecialCharacters();
    text.IsPermissableFileName();
    text.GetIntValue(std::dec);
    text.GetIntValue(std::hex);
    text.GetDoubleValue();

    // Ends on every input (libFuzzer's time-out catches a loop).
    QRMString replaced(text);
    replaced.ReplaceAll(search, replacement);
    // A non-empty replacement without any unit of the search text keeps
    // apart what it separates: no occurrence can be left.
    if (!search.empty() && !replacement.empty() && replacement.find_first_of(search) == QRMString::npos)
        Require(replaced.find(search) == QRMString::npos, "an occurrence was left");

    QRMString numbers(text);
    numbers.AppendNumber(static_cast<int>(size), QRMString("%08x", QRMString::QRM_ENCODING_UTF8));
    numbers.AppendNumber(static_cast<long long>(size) * -1);
    numbers.AppendUNumber(static_cast<unsigned int>(size));
    if (IsValidUTF8(cText))
        Require(text == cText.c_str(), "comparison with its own UTF-8 text failed");
    return 0;
}
