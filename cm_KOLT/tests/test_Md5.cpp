// MD5 routines and the wrapper that gives digests as text.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>

#include "DigestTestSupport.h"
#include "Md5.h"
#include "Md5Wrapper.h"
#include "TempDir.h"

namespace {

const char* const kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";

struct Vector {
    const char* message;
    const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const Vector kRfc1321[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

std::string Hex(const unsigned char* bytes, size_t count)
{
    std::string text;
    char two[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof(two), "%02x", bytes[i]);
        text += two;
    }
    return text;
}

} // namespace

TEST(Md5, TextDigestsMatchTheRfcTestSuite)
{
    md5wrapper wrapper;
    for (const Vector& v : kRfc1321) {
        SCOPED_TRACE(v.message);
        EXPECT_EQ(wrapper.getHashFromString(v.message), v.digest);
        EXPECT_EQ(wrapper.hashit(v.message), v.digest);
    }
    // Bytes after a zero byte belong to the text too.
    EXPECT_EQ(wrapper.getHashFromString(std::string("a\0b", 3)), "70350f6027bce3713f6b76473084309b");
}

TEST(Md5, ConvToStringGivesTwoLowerCaseDigitsPerByte)
{
    md5wrapper wrapper;
    unsigned char bytes[16] = {0x00, 0x01, 0x0a, 0x0f, 0x10, 0x7f, 0x80, 0x9a, 0xab, 0xbc, 0xcd, 0xde, 0xef, 0xf0, 0xfe, 0xff};
    EXPECT_EQ(wrapper.convToString(bytes), "00010a0f107f809aabbccddeeff0feff");
}

// Any split of the input over MD5Update calls gives the one-shot digest,
// and MD5Final leaves nothing of the message in the context.
TEST(Md5, RoutinesTakeInputInAnyPiecesAndWipeTheContext)
{
    const std::string message = PseudoRandomBytes(200, 3);
    MD5 md5;
    MD5_CTX context;
    unsigned char whole[16];
    md5.MD5Init(&context);
    md5.MD5Update(&context, reinterpret_cast<unsigned char*>(const_cast<char*>(message.data())), message.size());
    md5.MD5Final(whole, &context);
    EXPECT_EQ(Hex(whole, 16), md5wrapper().getHashFromString(message));

    MD5_CTX zero;
    std::memset(&zero, 0, sizeof(zero));
    EXPECT_EQ(std::memcmp(&context, &zero, sizeof(context)), 0);

    for (size_t first = 0; first <= message.size(); first += 7) {
        for (size_t second : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(65)}) {
            second = std::min(second, message.size() - first);
            SCOPED_TRACE(std::to_string(first) + "+" + std::to_string(second));
            unsigned char* data = reinterpret_cast<unsigned char*>(const_cast<char*>(message.data()));
            md5.MD5Init(&context);
            md5.MD5Update(&context, data, first);
            md5.MD5Update(&context, data + first, second);
            md5.MD5Update(&context, data + first + second, message.size() - first - second);
            unsigned char pieces[16];
            md5.MD5Final(pieces, &context);
            EXPECT_EQ(std::memcmp(pieces, whole, 16), 0);
        }
    }
}

TEST(Md5, EncodeAndDecodeAreLittleEndian)
{
    MD5 md5;
    unsigned int words[2] = {0x04030201, 0xddccbbaa};
    unsigned char bytes[8];
    md5.Encode(bytes, words, 8);
    const unsigned char expected[8] = {0x01, 0x02, 0x03, 0x04, 0xaa, 0xbb, 0xcc, 0xdd};
    EXPECT_EQ(std::memcmp(bytes, expected, 8), 0);
    unsigned int back[2] = {0, 0};
    md5.Decode(back, bytes, 8);
    EXPECT_EQ(back[0], words[0]);
    EXPECT_EQ(back[1], words[1]);
}

// File digests agree with md5sum and with the digest of the same bytes as
// text, at every block boundary and for a file of a few MiB.
TEST(Md5, FileDigestsMatchMd5sum)
{
    TempDir dir;
    md5wrapper wrapper;
    for (size_t size : kDigestFileSizes) {
        SCOPED_TRACE(size);
        const std::string content = PseudoRandomBytes(size, static_cast<unsigned>(size) + 1);
        dir.write("f.bin", content);
        const std::string digest = wrapper.getHashFromFile(dir.file("f.bin"));
        EXPECT_EQ(digest.size(), 32u);
        EXPECT_EQ(digest, CoreutilsDigest("md5sum", dir.file("f.bin")));
        EXPECT_EQ(digest, wrapper.getHashFromString(content));
    }
    dir.write("empty", "");
    EXPECT_EQ(wrapper.getHashFromFile(dir.file("empty")), kEmptyMd5);
}

// Files and texts around the padding limits and the block size give the
// digests md5sum gave.
TEST(Md5, DigestsAtTheBlockBoundariesMatchKnownValues)
{
    TempDir dir;
    md5wrapper wrapper;
    for (const KnownDigests& k : kLettersADigests) {
        SCOPED_TRACE(k.length);
        const std::string message(k.length, 'a');
        dir.write("m.bin", message);
        EXPECT_EQ(wrapper.getHashFromFile(dir.file("m.bin")), k.md5);
        EXPECT_EQ(wrapper.getHashFromString(message), k.md5);
    }
}

// "-1" stands in for the digest of a file that cannot be read: never the
// digest of the bytes that happened to come before the failure. A
// directory opens but fails its first read, which once gave the digest of
// the empty message.
TEST(Md5, UnreadableSourceGivesMinusOneNeverADigest)
{
    TempDir dir;
    md5wrapper wrapper;
    dir.write("sub/keep", "x");
    for (const std::string& path : {dir.file("missing"), dir.file("sub"), dir.file("sub/"), dir.file("missing/child"),
                                     std::string()}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(wrapper.getHashFromFile(path), "-1");
    }
    // The same wrapper digests again afterwards.
    EXPECT_EQ(wrapper.getHashFromFile(dir.file("sub/keep")), wrapper.getHashFromString("x"));
}
