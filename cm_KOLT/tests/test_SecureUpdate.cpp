// The older secure-update sequence: the begin, process and end requests
// byte for byte, how the digest text becomes its 16 bytes, and which
// answers count as failures.

#include "KoltControllerTest.h"

namespace {

using Strings = std::vector<std::string>;

const unsigned int kMiB = 1048576;

class SecureUpdateTest : public KoltControllerTest {
protected:
    void SetUp() override
    {
        KoltControllerTest::SetUp();
        OpenSession();
        handle = client->session;
    }

    sessionHandle handle;
};

TEST_F(SecureUpdateTest, TheThreeRequestsByteForByte)
{
    ASSERT_TRUE(client->beginSecureUpdate(handle, 100 * kMiB));
    ASSERT_TRUE(client->processSecureUpdate(handle, "00112233445566778899AABBCCDDEEFF"));
    ASSERT_TRUE(client->endSecureUpdate(handle));

    EXPECT_EQ(NewFrames(), (Strings{
                               "30 A2 20 34 12 B0 04 00 80 0C 00 00",
                               "30 A2 22 34 12 00 00 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF "
                               "00 00 00 00 00 00",
                               "30 A2 23 34 12 00 00 00 00",
                           }));
    const SimTessaController::SecureUpdate seen = tessa.SecureUpdateState();
    EXPECT_EQ(seen.units, 3200u);
    EXPECT_EQ(seen.beginValue, 1200u);
    EXPECT_EQ(seen.ends, 1u);

    const Strings log = Log();
    EXPECT_TRUE(Contains(log, "beginSecureUpdate : Payload Size : 3200"));
    EXPECT_TRUE(Contains(log, "beginSecureUpdate Succeeded"));
    EXPECT_TRUE(Contains(log, "Entering processSecureUpdate"));
    EXPECT_TRUE(Contains(log, "endSecureUpdate Succeeded"));
}

TEST_F(SecureUpdateTest, UpperAndLowerCaseDigitsGiveTheSameDigestBytes)
{
    for (const char* digest : {"0123456789abcdefABCDEF0123456789", "0123456789ABCDEFabcdef0123456789"}) {
        SCOPED_TRACE(digest);
        ASSERT_TRUE(client->processSecureUpdate(handle, digest));
        EXPECT_EQ(tessa.SecureUpdateState().digest,
                  (std::vector<uint8_t>{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF, 0x01, 0x23,
                                        0x45, 0x67, 0x89}));
    }
}

// The request can name 65535 units of 32 KiB: a larger payload cut to its
// low 16 bits would announce a drop box far too small.
TEST_F(SecureUpdateTest, SizesTheRequestCannotNameAreRefusedUnsent)
{
    const struct {
        unsigned int bytes;
        bool sent;
        uint16_t units;
    } cases[] = {
        {0, true, 0},
        {32767, true, 0},              // less than a unit
        {65535u * 32768u, true, 0xFFFF},
        {65535u * 32768u + 32767u, true, 0xFFFF},
        {65536u * 32768u, false, 0},   // 2 GiB
        {0xFFFFFFFFu, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        Mark();
        EXPECT_EQ(client->beginSecureUpdate(handle, c.bytes), c.sent);
        EXPECT_EQ(NewFrames().size(), c.sent ? 1u : 0u);
        if (c.sent) {
            EXPECT_EQ(tessa.SecureUpdateState().units, c.units);
        }
    }
}

// Only a digest of 32 hexadecimal digits is an MD5: anything else would
// hand over bytes that no document has.
TEST_F(SecureUpdateTest, DigestsThatAreNoMD5AreRefusedUnsent)
{
    const std::string good = "0123456789abcdef0123456789abcdef";
    const Strings digests = {std::string(), good.substr(0, 29), good.substr(0, 30), good.substr(0, 31),
                             good + "0", "0123456789abcdef0123456789abcdeg", "0x23456789abcdef0123456789abcdef",
                             "-123456789abcdef0123456789abcdef", " 123456789abcdef0123456789abcdef"};
    for (const std::string& digest : digests) {
        SCOPED_TRACE(digest);
        Mark();
        EXPECT_FALSE(client->processSecureUpdate(handle, digest));
        EXPECT_TRUE(NewFrames().empty());
        EXPECT_TRUE(Contains(Log(), "processSecureUpdate : the digest is not 32 hexadecimal characters: " + digest));
    }
}

struct FailedAnswer {
    uint8_t sub;
    bool silent;        // no answer at all, else the completion code
    uint8_t code;
    const char* line;   // the failure line, or empty when none is written
};

class SecureUpdateFailure : public SecureUpdateTest, public testing::WithParamInterface<FailedAnswer> {};

TEST_P(SecureUpdateFailure, IsReportedAsFailure)
{
    const FailedAnswer& c = GetParam();
    controller.ScriptSub(0x30, 0xA2, c.sub, c.silent ? SimIpmiStep::Silence() : SimIpmiStep::Code(c.code), 10);
    bool ok = true;
    switch (c.sub) {
    case 0x20: ok = client->beginSecureUpdate(handle, kMiB); break;
    case 0x22: ok = client->processSecureUpdate(handle, "0123456789abcdef0123456789abcdef"); break;
    default: ok = client->endSecureUpdate(handle); break;
    }
    EXPECT_FALSE(ok);
    const Strings log = Log();
    if (*c.line != '\0') {
        EXPECT_TRUE(Contains(log, c.line));
    }
    EXPECT_FALSE(Contains(log, "beginSecureUpdate Succeeded"));
    EXPECT_FALSE(Contains(log, "endSecureUpdate Succeeded"));
}

// A request that got no answer leaves the cleared completion code 0
// behind; it still failed.
INSTANTIATE_TEST_SUITE_P(
    Answers, SecureUpdateFailure,
    testing::Values(
        FailedAnswer{0x20, false, 0xC1, "beginSecureUpdate : pfnBeginSecureUpdate failed : Return Code - 0x00c1"},
        FailedAnswer{0x22, false, 0xC1,
                     "processSecureUpdate : pfnProcessSecureUpdate failed : Return Code - 0x00c1"},
        FailedAnswer{0x23, false, 0xC1, ""},
        FailedAnswer{0x20, false, 0xD5, "beginSecureUpdate : pfnBeginSecureUpdate failed : Return Code - 0x00d5"},
        FailedAnswer{0x20, true, 0, "beginSecureUpdate : pfnBeginSecureUpdate failed : Return Code - 0x0000"},
        FailedAnswer{0x22, true, 0, "processSecureUpdate : pfnProcessSecureUpdate failed : Return Code - 0x0000"},
        FailedAnswer{0x23, true, 0, ""},
        // Overrun on every send: the request layer gives up without a busy
        // answer and reports success, but the controller never took the
        // request.
        FailedAnswer{0x20, false, 0x10, "beginSecureUpdate : pfnBeginSecureUpdate failed : Return Code - 0x0010"},
        FailedAnswer{0x22, false, 0x10,
                     "processSecureUpdate : pfnProcessSecureUpdate failed : Return Code - 0x0010"},
        FailedAnswer{0x23, false, 0x10, ""}));

} // namespace
