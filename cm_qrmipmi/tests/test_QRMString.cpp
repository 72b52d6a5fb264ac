#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "QRMString.h"

namespace {

typedef std::basic_string<unsigned short> Units;

QRMString Utf8(const char* text)
{
    return QRMString(text, QRMString::QRM_ENCODING_UTF8);
}

Units U(std::initializer_list<unsigned short> units)
{
    // An empty list may have no storage at all, which the string would copy
    // from.
    return units.size() == 0 ? Units() : Units(units);
}

std::string Bytes(std::initializer_list<unsigned char> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(QRMStringConstruction, NullOrUnknownEncodingGivesEmptyString)
{
    EXPECT_TRUE(QRMString(static_cast<const char*>(nullptr), QRMString::QRM_ENCODING_UTF8).empty());
    EXPECT_TRUE(QRMString("abc", static_cast<QRMString::QRMCharEncodingType>(2)).empty());
    EXPECT_TRUE(QRMString(static_cast<const wchar_t*>(nullptr)).empty());
    EXPECT_TRUE(QRMString().empty());
}

TEST(QRMStringConstruction, SingleByteEncodingTakesEachByteAsOneUnit)
{
    QRMString s("A\xE9z", QRMString::QRM_ENCODING_SINGLE_BYTE);
    EXPECT_EQ(U({'A', 0xE9, 'z'}), static_cast<const Units&>(s));
}

struct Utf8DecodeCase {
    std::string bytes;
    Units units;
};

TEST(QRMStringConstruction, DecodesUtf8IntoUtf16Units)
{
    const std::vector<Utf8DecodeCase> cases = {
        {"plain", U({'p', 'l', 'a', 'i', 'n'})},
        {Bytes({0xC3, 0xA9}), U({0x00E9})},
        {Bytes({0xE2, 0x82, 0xAC}), U({0x20AC})},
        {Bytes({0xF0, 0x9F, 0x98, 0x80}), U({0xD83D, 0xDE00})},
        {Bytes({0xF4, 0x8F, 0xBF, 0xBF}), U({0xDBFF, 0xDFFF})},   // U+10FFFF
        {Bytes({0xF0, 0x90, 0x80, 0x80}), U({0xD800, 0xDC00})},   // U+10000
        // Lenient decoding: an ASCII letter is taken as continuation byte.
        {Bytes({0xC3, 0x41}), U({0x00C1})},
        {Bytes({'a', 0xC3, 0xA9, 'b', 0xE2, 0x82, 0xAC}), U({'a', 0xE9, 'b', 0x20AC})},
    };
    for (const Utf8DecodeCase& c : cases) {
        QRMString s(c.bytes.c_str(), QRMString::QRM_ENCODING_UTF8);
        EXPECT_EQ(c.units, static_cast<const Units&>(s)) << c.bytes;
    }
}

TEST(QRMStringConstruction, MalformedUtf8EndsWithoutReadingPastTheTerminator)
{
    // Forms that would run past the end, and bytes that lead nothing.
    const std::vector<std::string> inputs = {
        Bytes({'a', 0xC3}), Bytes({'a', 0xE2, 0x82}), Bytes({0xF0, 0x9F, 0x98}),
        Bytes({0xF8, 'x'}), Bytes({0xFF}),
    };
    for (const std::string& in : inputs) {
        // An exact-size heap copy lets the sanitizer build catch over-reads.
        std::vector<char> exact(in.begin(), in.end());
        exact.push_back('\0');
        QRMString s(exact.data(), QRMString::QRM_ENCODING_UTF8);
        EXPECT_FALSE(s.empty());
        EXPECT_LE(s.size(), in.size());
    }
    EXPECT_EQ(U({'a', 0xFFFD}), static_cast<const Units&>(Utf8(Bytes({'a', 0xC3}).c_str())));
    EXPECT_EQ(U({0xFFFD, 'x'}), static_cast<const Units&>(Utf8(Bytes({0xF8, 'x'}).c_str())));
}

// Taken as they stand these forms would decode to U+0000 (and cut every copy
// of the text there), to a character that has a shorter form (C0 AF is a
// disguised '/') or to no character at all.
TEST(QRMStringConstruction, OverlongAndOutOfRangeFormsBecomeReplacementCharacter)
{
    const std::vector<Utf8DecodeCase> cases = {
        {Bytes({0xC0, 0x80, 'x'}), U({0xFFFD, 'x'})},              // U+0000 in two bytes
        {Bytes({0xE0, 0x80, 0x80, 'x'}), U({0xFFFD, 'x'})},        // U+0000 in three bytes
        {Bytes({0x80, 0x80, 'x'}), U({0xFFFD, 'x'})},              // stray continuation bytes
        {Bytes({0xC1, 0x40, 'x'}), U({0xFFFD, 'x'})},              // ASCII taken as continuation
        {Bytes({'a', 0xC0, 0xAF, 'b'}), U({'a', 0xFFFD, 'b'})},     // '/' in two bytes
        {Bytes({0xE0, 0x9F, 0xBF}), U({0xFFFD})},                  // U+07FF in three bytes
        {Bytes({0xF0, 0x8F, 0xBF, 0xBF}), U({0xFFFD})},            // U+FFFF in four bytes
        {Bytes({0xF0, 0x80, 0x80, 0x80}), U({0xFFFD})},
        {Bytes({0xF4, 0x90, 0x80, 0x80}), U({0xFFFD})},            // U+110000
        {Bytes({0xF7, 0xBF, 0xBF, 0xBF, 'x'}), U({0xFFFD, 'x'})},
        // The smallest value of each width still decodes.
        {Bytes({0xC2, 0x80}), U({0x0080})},
        {Bytes({0xE0, 0xA0, 0x80}), U({0x0800})},
    };
    for (const Utf8DecodeCase& c : cases) {
        QRMString s(c.bytes.c_str(), QRMString::QRM_ENCODING_UTF8);
        EXPECT_EQ(c.units, static_cast<const Units&>(s)) << ::testing::PrintToString(c.bytes);
        EXPECT_EQ(c.units, static_cast<const Units&>(QRMString(s))) << "copy is cut";
    }
}

TEST(QRMStringConstruction, WideCharactersKeepTheirLow16Bits)
{
    EXPECT_EQ(U({'h', 0xE9}), static_cast<const Units&>(QRMString(L"h\u00E9")));
    const wchar_t wide[] = {static_cast<wchar_t>(0x1F600), 0};
    EXPECT_EQ(U({0xF600}), static_cast<const Units&>(QRMString(wide)));
    // No bits left: a zero unit would end every copy there.
    const wchar_t noLowBits[] = {'a', static_cast<wchar_t>(0x10000), 'b', 0};
    EXPECT_EQ(U({'a', 0xFFFD, 'b'}), static_cast<const Units&>(QRMString(noLowBits)));
}

TEST(QRMStringConstruction, CopyConstructorStopsAtZeroUnitAssignmentDoesNot)
{
    QRMString withZero(U({'a', 0, 'b'}));
    ASSERT_EQ(3u, withZero.size());
    QRMString copied(withZero);
    EXPECT_EQ(U({'a'}), static_cast<const Units&>(copied));
    QRMString assigned;
    assigned = withZero;
    EXPECT_EQ(U({'a', 0, 'b'}), static_cast<const Units&>(assigned));
    assigned = assigned;
    EXPECT_EQ(3u, assigned.size());
}

struct Utf8EncodeCase {
    Units units;
    std::string bytes;
};

TEST(QRMStringConversion, EncodesUnitsAsUtf8)
{
    const std::vector<Utf8EncodeCase> cases = {
        {U({0x007F}), Bytes({0x7F})},
        {U({0x0080}), Bytes({0xC2, 0x80})},
        {U({0x07FF}), Bytes({0xDF, 0xBF})},
        {U({0x0800}), Bytes({0xE0, 0xA0, 0x80})},
        {U({0xFFFF}), Bytes({0xEF, 0xBF, 0xBF})},
        {U({0xD83D, 0xDE00}), Bytes({0xF0, 0x9F, 0x98, 0x80})},
        {U({0xDBFF, 0xDFFF}), Bytes({0xF4, 0x8F, 0xBF, 0xBF})},
        {U({0xD800}), Bytes({0xED, 0xA0, 0x80})},
        {U({0xD800, 0x0041}), Bytes({0xED, 0xA0, 0x80, 0x41})},
        {U({0xDE00, 0xD83D}), Bytes({0xED, 0xB8, 0x80, 0xED, 0xA0, 0xBD})},
    };
    for (const Utf8EncodeCase& c : cases)
        EXPECT_EQ(c.bytes, QRMString(c.units).GetUTF8String());
}

TEST(QRMStringConversion, MultiByteTextRoundTripsThroughUtf16)
{
    const std::vector<std::string> texts = {
        "",
        "ascii only",
        "caf\xC3\xA9 \xE2\x82\xAC 5",
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",                 // CJK
        "grin \xF0\x9F\x98\x80 and \xF0\x9F\x8E\x89 end",        // two surrogate pairs
        "\xF4\x8F\xBF\xBF\xF0\x90\x80\x80\xEF\xBF\xBF\xC2\x80",  // edges of each form
    };
    for (const std::string& text : texts) {
        QRMString s(text.c_str(), QRMString::QRM_ENCODING_UTF8);
        EXPECT_EQ(text, s.GetUTF8String());
    }
    QRMString pair = Utf8("\xF0\x9F\x98\x80");
    EXPECT_EQ(2u, pair.size());
    EXPECT_EQ(std::wstring({static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}),
              pair.GetWstring());
}

TEST(QRMStringConversion, GetCStringCopiesUtf8AndTerminator)
{
    QRMString s = Utf8("\xC3\xA9t\xC3\xA9");
    char buffer[16];
    std::memset(buffer, 'X', sizeof(buffer));
    unsigned long length = sizeof(buffer);
    EXPECT_EQ(0, s.GetCString(buffer, length));
    EXPECT_EQ(5ul, length);
    EXPECT_STREQ("\xC3\xA9t\xC3\xA9", buffer);
}

TEST(QRMStringConversion, GetCStringRefusesNullZeroOrTooSmallBuffer)
{
    QRMString s = Utf8("hello");
    char buffer[8];
    std::memset(buffer, 'X', sizeof(buffer));
    unsigned long length = 0;
    EXPECT_EQ(1, s.GetCString(buffer, length));
    EXPECT_EQ(0ul, length);
    EXPECT_EQ('X', buffer[0]);
    length = 8;
    EXPECT_EQ(1, s.GetCString(nullptr, length));
    EXPECT_EQ(8ul, length);
    // Five bytes and the terminator need six.
    length = 5;
    EXPECT_EQ(1, s.GetCString(buffer, length));
    EXPECT_EQ(5ul, length);
    for (char c : buffer)
        EXPECT_EQ('X', c);
    length = 6;
    EXPECT_EQ(0, s.GetCString(buffer, length));
    EXPECT_STREQ("hello", buffer);
}

TEST(QRMStringConversion, NPosHasAllBitsSet)
{
    EXPECT_EQ(~0ull, QRMString::GetNPos());
}

TEST(QRMStringSearch, ContainsAny)
{
    const QRMString ten = Utf8("0123456789");
    EXPECT_FALSE(ten.ContainsAny(QRMString(), 0));
    EXPECT_TRUE(ten.ContainsAny(Utf8("9"), 0));
    EXPECT_TRUE(ten.ContainsAny(Utf8("15"), 3));
    EXPECT_FALSE(ten.ContainsAny(Utf8("12"), 3));
    EXPECT_FALSE(ten.ContainsAny(Utf8("9"), 10));
    EXPECT_FALSE(ten.ContainsAny(Utf8("9"), 100));
}

TEST(QRMStringSearch, SubString)
{
    EXPECT_TRUE(QRMString().SubString(5, 2).empty());
    EXPECT_THROW(Utf8("abc").SubString(5, 2), std::out_of_range);
    EXPECT_TRUE(Utf8("bc") == Utf8("abc").SubString(1, 100));
    EXPECT_TRUE(Utf8("b") == Utf8("abc").SubString(1, 1));
    EXPECT_TRUE(Utf8("abc").SubString(3, 1).empty());
}

TEST(QRMStringSearch, SubStringsSkipsEmptyPiecesAndAppends)
{
    std::vector<QRMString> pieces;
    pieces.push_back(Utf8("kept"));
    EXPECT_TRUE(Utf8(",a,,b,").SubStrings(Utf8(","), pieces));
    ASSERT_EQ(3u, pieces.size());
    EXPECT_TRUE(pieces[0] == "kept");
    EXPECT_TRUE(pieces[1] == "a");
    EXPECT_TRUE(pieces[2] == "b");

    EXPECT_FALSE(Utf8("a,b").SubStrings(QRMString(), pieces));
    EXPECT_EQ(3u, pieces.size());

    std::vector<QRMString> multi;
    EXPECT_TRUE(Utf8("k1=v1; k2 = v2").SubStrings(Utf8("=; "), multi));
    ASSERT_EQ(4u, multi.size());
    EXPECT_TRUE(multi[3] == "v2");

    std::vector<QRMString> none;
    EXPECT_TRUE(Utf8(",,,").SubStrings(Utf8(","), none));
    EXPECT_TRUE(none.empty());
}

TEST(QRMStringEdit, TrimWhiteSpaces)
{
    const QRMString original = Utf8("  ab  ");
    EXPECT_TRUE(Utf8("ab") == original.TrimWhiteSpaces(Utf8(" ")));
    EXPECT_TRUE(original == "  ab  ");
    EXPECT_TRUE(Utf8("   ").TrimWhiteSpaces(Utf8(" ")).empty());
    EXPECT_TRUE(Utf8("a b") == Utf8("\t a b\r\n").TrimWhiteSpaces(Utf8(" \t\r\n")));
    EXPECT_TRUE(Utf8("\xC3\xA9") == Utf8(" \xC3\xA9 ").TrimWhiteSpaces(Utf8(" ")));
}

struct TrimCase {
    Units text;
    Units set;
    Units expected;
};

// The set holds characters: one that shares UTF-8 bytes with a character of
// the text must not take those bytes away from it.
TEST(QRMStringEdit, TrimWhiteSpacesTrimsCharactersNotBytes)
{
    const std::vector<TrimCase> cases = {
        {U({0x00A9}), U({0x00E9}), U({0x00A9})},                    // C2 A9 and C3 A9
        {U({0x00E9, 'a', 0x00E9}), U({0x00E9}), U({'a'})},
        {U({0xD83D, 0xDE01}), U({0xD83D, 0xDE00}), U({0xD83D, 0xDE01})},   // F0 9F 98 81 / 80
        {U({0xD83D, 0xDE00, 'x', 0xD83D, 0xDE00}), U({0xD83D, 0xDE00}), U({'x'})},
        {U({0x20AC, ' ', 'x', ' ', 0x20AC}), U({' ', 0x20AC}), U({'x'})},
        {U({' ', 'a', 0, 'b', ' '}), U({' '}), U({'a', 0, 'b'})},   // inner units all kept
        {U({0xD800, 'a', 0xD800}), U({0xD800}), U({'a'})},          // lone surrogates
        {U({' ', ' '}), U({' '}), U({})},
        {U({'a'}), U({}), U({'a'})},
    };
    for (const TrimCase& c : cases) {
        const QRMString trimmed = QRMString(c.text).TrimWhiteSpaces(QRMString(c.set));
        EXPECT_EQ(c.expected, static_cast<const Units&>(trimmed))
            << ::testing::PrintToString(c.text);
    }
}

struct ReplaceCase {
    const char* text;
    const char* search;
    const char* replacement;
    const char* expected;
};

TEST(QRMStringEdit, ReplaceAll)
{
    const std::vector<ReplaceCase> cases = {
        {"a.b.c", ".", "_", "a_b_c"},
        {"abb", "ab", "a", "a"},            // a replacement forms a new occurrence
        {"aab", "ab", "b", "b"},
        {"xyz", "", "q", "xyz"},
        {"xyz", "nothing", "q", "xyz"},
        {"a.b", ".", "..", "a..b"},         // the replacement holds the search text
        {"aa", "a", "aa", "aaaa"},
        {"a b", " ", "", "ab"},
        // A replacement that forms a new occurrence with the text before it
        // would grow without end if searched again: the search goes on
        // behind the inserted text.
        {"aab", "ab", "bbaa", "abbaa"},
        {"abab", "ab", "aabb", "aabbaabb"},
        {"aab", "ab", "ba", "aba"},
        {"xaab", "ab", "ab", "xaab"},
    };
    for (const ReplaceCase& c : cases) {
        QRMString s = Utf8(c.text);
        QRMString& result = s.ReplaceAll(Utf8(c.search), Utf8(c.replacement));
        EXPECT_EQ(&s, &result);
        EXPECT_EQ(std::string(c.expected), s.GetUTF8String()) << c.text << " / " << c.search;
    }
}

TEST(QRMStringChecks, SpecialCharactersAndPermissibleFileNames)
{
    EXPECT_TRUE(Utf8("name.txt").ContainsSpecialCharacters());
    EXPECT_FALSE(Utf8("a b").ContainsSpecialCharacters());
    for (const char* c : {"~", "`", "!", "@", "#", "$", "%", "^", "&", "*", "(", ")", "_", "+",
                          "{", "}", ":", "\"", "<", ">", "?", "/", ".", ",", "'", ";", "]", "[",
                          "=", "-", "|", "\\"})
        EXPECT_TRUE(Utf8(c).ContainsSpecialCharacters()) << c;

    EXPECT_FALSE(QRMString().IsPermissableFileName());
    EXPECT_FALSE(Utf8("a:b").IsPermissableFileName());
    EXPECT_FALSE(Utf8("a%b").IsPermissableFileName());
    for (const char* c : {"\\", "/", ":", "?", "%", "*", "<", "\"", ">", "|"})
        EXPECT_FALSE((Utf8("x") + c).IsPermissableFileName()) << c;
    EXPECT_TRUE(Utf8("name.txt").IsPermissableFileName());
}

TEST(QRMStringNumbers, AppendNumbers)
{
    QRMString s = Utf8("x");
    EXPECT_EQ(0, s.AppendNumber(-5));
    EXPECT_TRUE(s == "x-5");

    QRMString u;
    EXPECT_EQ(0, u.AppendUNumber(UINT_MAX));
    EXPECT_TRUE(u == "4294967295");

    QRMString big;
    EXPECT_EQ(0, big.AppendNumber(5000000000LL));
    EXPECT_TRUE(big == "5000000000");

    QRMString extremes;
    extremes.AppendNumber(LLONG_MIN);
    extremes += " ";
    extremes.AppendUNumber(ULLONG_MAX);
    EXPECT_TRUE(extremes == "-9223372036854775808 18446744073709551615");

    QRMString formatted;
    EXPECT_EQ(0, formatted.AppendNumber(255, Utf8("0x%04X")));
    EXPECT_EQ(0, formatted.AppendNumber(5000000000LL, Utf8(" %lld")));
    EXPECT_TRUE(formatted == "0x00FF 5000000000");
}

TEST(QRMStringNumbers, AppendNumberWithHugeFormatStaysInItsBuffer)
{
    QRMString s;
    EXPECT_EQ(0, s.AppendNumber(7, Utf8("%4000d")));
    EXPECT_FALSE(s.empty());
    EXPECT_LT(s.size(), 4000u);
}

TEST(QRMStringNumbers, GetIntValueHonoursTheBase)
{
    EXPECT_EQ(255, Utf8("ff").GetIntValue(std::hex));
    EXPECT_EQ(255, Utf8("0xFF").GetIntValue(std::hex));
    EXPECT_EQ(12, Utf8(" 12abc").GetIntValue(std::dec));
    EXPECT_EQ(0, Utf8("abc").GetIntValue(std::dec));
    EXPECT_EQ(8, Utf8("10").GetIntValue(std::oct));
    EXPECT_EQ(0, QRMString().GetIntValue(std::dec));
}

TEST(QRMStringNumbers, GetDoubleValue)
{
    EXPECT_DOUBLE_EQ(3.5, Utf8("3.5").GetDoubleValue());
    EXPECT_DOUBLE_EQ(-0.25, Utf8(" -0.25xyz").GetDoubleValue());
    EXPECT_DOUBLE_EQ(0.0, Utf8("none").GetDoubleValue());
}

TEST(QRMStringOperators, CompareWithCAndWideStrings)
{
    const QRMString s = Utf8("caf\xC3\xA9");
    EXPECT_TRUE(s == "caf\xC3\xA9");
    EXPECT_TRUE("caf\xC3\xA9" == s);
    EXPECT_TRUE(s == L"caf\u00E9");
    EXPECT_TRUE(L"caf\u00E9" == s);
    EXPECT_FALSE(s == "cafe");
    EXPECT_FALSE(s == "caf\xC3\xA9 ");
    EXPECT_FALSE(L"caf" == s);
}

TEST(QRMStringOperators, ConcatenateWithCAndWideStrings)
{
    const QRMString mid = Utf8("\xE2\x82\xAC");
    EXPECT_TRUE(("a" + mid) == "a\xE2\x82\xAC");
    EXPECT_TRUE((mid + "b") == "\xE2\x82\xAC" "b");
    EXPECT_TRUE((L"w" + mid) == L"w\u20AC");
    EXPECT_TRUE((mid + L"w") == L"\u20ACw");
    QRMString s = Utf8("x");
    QRMString& same = (s += "\xC3\xA9");
    EXPECT_EQ(&s, &same);
    EXPECT_TRUE(s == "x\xC3\xA9");
}
