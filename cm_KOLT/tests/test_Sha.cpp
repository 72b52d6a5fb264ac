// SHA-256 engine, its file and text digests, its errors and the
// hexadecimal helpers.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "DigestTestSupport.h"
#include "Sha.h"
#include "TempDir.h"

namespace {

const char* const kEmptySha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const char* const kNoData = "FileDigest ERROR: in CSHA::FinalDigest(), No data Added before call!";
const char* const kNegativeLength = "FileDigest ERROR: in CSHA::AddData(), Data Length should be >= 0!";

std::string Thrown(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::string& text) {
        return text;
    }
    return "<nothing thrown>";
}

std::string TextDigest(CSHA& sha, const std::string& text)
{
    char output[65];
    sha.CalculateSHA256(text, false, output);
    return output;
}

std::string HexOf(const char* bytes, int count)
{
    char text[2 * 64 + 1];
    CSHA::Binary2Hex(reinterpret_cast<const unsigned char*>(bytes), count, text);
    return text;
}

struct Vector {
    std::string message;
    const char* digest;
};

// FIPS 180-4 examples (one block, two blocks, the 896-bit message) and the
// long message of one million 'a'.
const Vector kFips[] = {
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"", kEmptySha256},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

} // namespace

TEST(Sha, TextDigestsMatchTheFipsExamples)
{
    CSHA sha;
    for (const Vector& v : kFips) {
        SCOPED_TRACE(v.message.substr(0, 20));
        EXPECT_EQ(TextDigest(sha, v.message), v.digest);
    }
}

// Whatever the pieces AddData gets, the digest is that of the whole; pieces
// around the 64-byte block and the 55/56-byte padding limits matter most.
TEST(Sha, AddDataInAnyPiecesGivesTheDigestOfTheWhole)
{
    const std::string message = PseudoRandomBytes(300, 5);
    CSHA sha;
    for (size_t length : {0, 1, 55, 56, 63, 64, 65, 119, 120, 128, 300}) {
        const std::string whole = TextDigest(sha, message.substr(0, length));
        for (size_t first = 0; first <= length; ++first) {
            for (size_t second : {size_t(0), size_t(1), size_t(8), size_t(64), size_t(130)}) {
                second = std::min(second, length - first);
                SCOPED_TRACE(std::to_string(length) + ": " + std::to_string(first) + "+" + std::to_string(second));
                sha.AddData(message.data(), static_cast<int>(first));
                sha.AddData(message.data() + first, static_cast<int>(second));
                sha.AddData(message.data() + first + second, static_cast<int>(length - first - second));
                char digest[32];
                sha.FinalDigest(digest);
                ASSERT_EQ(HexOf(digest, 32), whole);
            }
        }
    }
}

// The engine takes the processor's SHA instructions where it has them; both
// block functions must give the same states, one block or many at a time.
TEST(Sha, AcceleratedAndPortableBlocksAgree)
{
    const std::string data = PseudoRandomBytes(64 * 37, 9);
    const unsigned char* blocks = reinterpret_cast<const unsigned char*>(data.data());
    unsigned int start[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

    // "abc" in one padded block gives the FIPS example's state words.
    unsigned char abc[64] = {'a', 'b', 'c', 0x80};
    abc[63] = 24;
    const unsigned int abcState[8] = {0xba7816bf, 0x8f01cfea, 0x414140de, 0x5dae2223,
                                      0xb00361a3, 0x96177a9c, 0xb410ff61, 0xf20015ad};
    unsigned int state[8];
    std::memcpy(state, start, sizeof(state));
    Sha256BlocksPortable(state, abc, 1);
    EXPECT_EQ(std::memcmp(state, abcState, sizeof(state)), 0);

    if (!Sha256AcceleratedAvailable()) {
        std::printf("no SHA instructions on this processor: the portable blocks serve every digest\n");
        return;
    }
    std::memcpy(state, start, sizeof(state));
    Sha256BlocksAccelerated(state, abc, 1);
    EXPECT_EQ(std::memcmp(state, abcState, sizeof(state)), 0);

    for (size_t count : {1, 2, 3, 16, 37}) {
        SCOPED_TRACE(count);
        unsigned int portable[8], accelerated[8], oneByOne[8];
        std::memcpy(portable, start, sizeof(start));
        std::memcpy(accelerated, start, sizeof(start));
        std::memcpy(oneByOne, start, sizeof(start));
        Sha256BlocksPortable(portable, blocks, count);
        Sha256BlocksAccelerated(accelerated, blocks, count);
        for (size_t i = 0; i < count; ++i)
            Sha256BlocksAccelerated(oneByOne, blocks + 64 * i, 1);
        EXPECT_EQ(std::memcmp(portable, accelerated, sizeof(portable)), 0);
        EXPECT_EQ(std::memcmp(portable, oneByOne, sizeof(portable)), 0);
    }
}

// File digests agree with sha256sum and with the digest of the same bytes
// as text, across the 384-byte chunks and 512-byte halves the file is read
// in, the empty file included.
TEST(Sha, FileDigestsMatchSha256sum)
{
    TempDir dir;
    CSHA sha;
    for (size_t size : kDigestFileSizes) {
        SCOPED_TRACE(size);
        const std::string content = PseudoRandomBytes(size, static_cast<unsigned>(size) + 2);
        dir.write("f.bin", content);
        char output[65];
        std::memset(output, 'X', sizeof(output));
        sha.CalculateSHA256(dir.file("f.bin"), true, output);
        EXPECT_EQ(output[64], '\0');
        EXPECT_EQ(std::string(output), CoreutilsDigest("sha256sum", dir.file("f.bin")));
        EXPECT_EQ(std::string(output), TextDigest(sha, content));

        char binary[32];
        sha.DigestFile(dir.file("f.bin"), binary);
        EXPECT_EQ(HexOf(binary, 32), std::string(output));
    }
}

// Files and texts around the padding limits and the block size give the
// digests sha256sum gave. An empty file has the digest of the empty
// message, as an empty text has: a payload of no bytes is staged like any
// other.
TEST(Sha, DigestsAtTheBlockBoundariesMatchKnownValues)
{
    TempDir dir;
    CSHA sha;
    for (const KnownDigests& k : kLettersADigests) {
        SCOPED_TRACE(k.length);
        const std::string message(k.length, 'a');
        dir.write("m.bin", message);
        char output[65];
        std::memset(output, 'X', sizeof(output));
        EXPECT_EQ(Thrown([&] { sha.CalculateSHA256(dir.file("m.bin"), true, output); }), "<nothing thrown>");
        EXPECT_STREQ(output, k.sha256);
        char binary[32];
        sha.DigestFile(dir.file("m.bin"), binary);
        EXPECT_EQ(HexOf(binary, 32), k.sha256);
        EXPECT_EQ(TextDigest(sha, message), k.sha256);
    }
    // The empty file leaves the engine as every digest does: ready for the
    // next one, and refusing a digest of nothing added.
    dir.write("empty", "");
    char binary[32];
    sha.DigestFile(dir.file("empty"), binary);
    EXPECT_EQ(Thrown([&] { sha.FinalDigest(binary); }), kNoData);
    sha.AddData("abc", 3);
    sha.FinalDigest(binary);
    EXPECT_EQ(HexOf(binary, 32), kFips[0].digest);
}

// A file that cannot be opened, or that opens but cannot be read, ends in
// a "FileDigest ERROR" text, never in a digest; the engine serves the next
// digest unharmed.
TEST(Sha, UnreadableFileThrowsAndNeverGivesADigest)
{
    TempDir dir;
    dir.write("sub/keep", "abc");
    CSHA sha;
    const std::string open = "FileDigest ERROR: in IMessageDigest::DigestFile(): Cannot open File ";
    const std::string read = "FileDigest ERROR: in IMessageDigest::DigestFile(): Cannot read File ";
    struct Case {
        std::string path;
        std::string error;
    } cases[] = {
        {dir.file("missing"), open + dir.file("missing") + "!"},
        {dir.file("missing/child"), open + dir.file("missing/child") + "!"},
        {"", open + "!"},
        {dir.file("sub"), read + dir.file("sub") + "!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        char output[65] = "untouched";
        EXPECT_EQ(Thrown([&] { sha.CalculateSHA256(c.path, true, output); }), c.error);
        EXPECT_STREQ(output, "untouched");
        char binary[32];
        EXPECT_EQ(Thrown([&] { sha.DigestFile(c.path, binary); }), c.error);
        sha.AddData("abc", 3);
        EXPECT_EQ(TextDigest(sha, ""), kFips[0].digest);
    }
    char output[65];
    sha.CalculateSHA256(dir.file("sub/keep"), true, output);
    EXPECT_STREQ(output, kFips[0].digest);
}

TEST(Sha, EngineStateRules)
{
    CSHA sha;
    char digest[32];
    // Nothing added yet, and again right after a digest.
    EXPECT_EQ(Thrown([&] { sha.FinalDigest(digest); }), kNoData);
    sha.AddData("abc", 3);
    sha.FinalDigest(digest);
    EXPECT_EQ(HexOf(digest, 32), kFips[0].digest);
    EXPECT_EQ(Thrown([&] { sha.FinalDigest(digest); }), kNoData);

    // A zero length counts as added data: the digest of the empty message.
    sha.AddData("ignored", 0);
    sha.FinalDigest(digest);
    EXPECT_EQ(HexOf(digest, 32), kEmptySha256);

    // A negative length leaves the engine as it was.
    sha.AddData("ab", 2);
    EXPECT_EQ(Thrown([&] { sha.AddData("zzz", -1); }), kNegativeLength);
    sha.AddData("c", 1);
    sha.FinalDigest(digest);
    EXPECT_EQ(HexOf(digest, 32), kFips[0].digest);

    // Reset drops what was added, including the flag.
    sha.AddData("xyz", 3);
    sha.Reset();
    EXPECT_EQ(Thrown([&] { sha.FinalDigest(digest); }), kNoData);
    sha.AddData("abc", 3);
    sha.FinalDigest(digest);
    EXPECT_EQ(HexOf(digest, 32), kFips[0].digest);

    // Two text digests in a row are independent; the output is replaced.
    char output[65];
    std::memset(output, 'X', sizeof(output));
    sha.CalculateSHA256("abc", false, output);
    EXPECT_STREQ(output, kFips[0].digest);
    sha.CalculateSHA256("", false, output);
    EXPECT_STREQ(output, kEmptySha256);
}

TEST(Sha, HexWritersGiveLowerCase)
{
    char two[3] = {'X', 'X', 'X'};
    struct {
        unsigned char value;
        const char* text;
    } chars[] = {{0x00, "00"}, {0x09, "09"}, {0x0a, "0a"}, {0x5f, "5f"}, {0xa0, "a0"}, {0xff, "ff"}};
    for (const auto& c : chars) {
        CSHA::Char2Hex(c.value, two);
        EXPECT_STREQ(two, c.text);
    }

    const unsigned char bytes[] = {0xde, 0xad, 0x00, 0xbe, 0xef};
    char text[16];
    std::memset(text, 'X', sizeof(text));
    CSHA::Binary2Hex(bytes, 5, text);
    EXPECT_STREQ(text, "dead00beef");
    for (int count : {0, -3}) {
        std::memset(text, 'X', sizeof(text));
        CSHA::Binary2Hex(bytes, count, text);
        EXPECT_STREQ(text, "");
    }
}

// The readers take '0'-'9' and 'A'-'F' only: lower-case digits, which the
// writers produce, are refused.
TEST(Sha, HexReadersTakeUpperCaseOnly)
{
    struct {
        const char* text;
        bool ok;
        unsigned char value;   // what the byte holds afterwards (0x55 untouched)
    } chars[] = {
        {"00", true, 0x00}, {"9F", true, 0x9f}, {"A0", true, 0xa0}, {"FF", true, 0xff},
        {"ff", false, 0x55}, {"a0", false, 0x55}, {"G0", false, 0x55}, {"", false, 0x55},
        // The first digit is stored as soon as it is accepted.
        {"7f", false, 0x07}, {"B", false, 0x0b}, {"1 ", false, 0x01},
    };
    for (const auto& c : chars) {
        SCOPED_TRACE(c.text);
        unsigned char value = 0x55;
        EXPECT_EQ(CSHA::Hex2Char(c.text, value), c.ok);
        EXPECT_EQ(value, c.value);
    }

    struct {
        const char* text;
        int count;
        bool ok;
        std::vector<unsigned char> bytes;   // 0x55: not written
    } strings[] = {
        {"DEAD00BEEF", 5, true, {0xde, 0xad, 0x00, 0xbe, 0xef}},
        {"DEAD00BEEF", 2, true, {0xde, 0xad, 0x55, 0x55, 0x55}},
        {"DEad00BEEF", 5, false, {0xde, 0x55, 0x55, 0x55, 0x55}},
        {"DEAD0", 5, false, {0xde, 0xad, 0x55, 0x55, 0x55}},
        {"dead", 2, false, {0x55, 0x55, 0x55, 0x55, 0x55}},
        {"", 0, true, {0x55, 0x55, 0x55, 0x55, 0x55}},
        {"zz", -1, true, {0x55, 0x55, 0x55, 0x55, 0x55}},
    };
    for (const auto& s : strings) {
        SCOPED_TRACE(std::string(s.text) + "/" + std::to_string(s.count));
        std::vector<unsigned char> bytes(5, 0x55);
        EXPECT_EQ(CSHA::Hex2Binary(s.text, bytes.data(), s.count), s.ok);
        EXPECT_EQ(bytes, s.bytes);
    }
}
