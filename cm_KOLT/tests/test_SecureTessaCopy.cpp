// The hand-over of the request document's digest: the header and part
// frames of both protocols byte for byte, which failures count, and the
// power-cycle request.

#include "KoltControllerTest.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kMd5 = "0123456789abcdef0123456789abcdef";
const std::string kSha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

class DigestHandOverTest : public KoltControllerTest {
protected:
    void SetUp() override
    {
        KoltControllerTest::SetUp();
        for (uint8_t sub : {uint8_t(0x09), uint8_t(0x26)})
            tessa.SetSubHandler(sub, [this](const std::vector<uint8_t>&) {
                SimIpmiReply reply;
                if (!refusals.empty()) {
                    reply.completionCode = refusals.front();
                    refusals.erase(refusals.begin());
                }
                return reply;
            });
        OpenSession();
        handle = client->session;
    }

    // Completion codes of the next requests, in order (then 0).
    std::vector<uint8_t> refusals;
    sessionHandle handle;
};

TEST_F(DigestHandOverTest, OlderProtocolFrames)
{
    tessaPartInfo[0].partIdWord = 0x0100;
    EXPECT_TRUE(client->SecureTessaCopy(handle, kMd5, 0));
    tessaPartInfo[0].partIdWord = 0;
    EXPECT_EQ(NewFrames(), (Strings{
                               "30 A2 09 34 12 00 00 01 00 00 00 00 00",
                               "30 A2 09 34 12 01 30 31 32 33 34 35 36 37 38 39 00",
                               "30 A2 09 34 12 01 61 62 63 64 65 66 30 31 32 33 00",
                               "30 A2 09 34 12 01 34 35 36 37 38 39 61 62 63 64 00",
                               "30 A2 09 34 12 01 65 66 00 00 00 00 00 00 00 00 00",
                           }));
    EXPECT_TRUE(Contains(Log(), "Secure Tessa CopyPart 4 Hash: e f "));
}

TEST_F(DigestHandOverTest, NewerProtocolFrames)
{
    const struct {
        std::string digest;
        digestType type;
        Strings frames;
    } cases[] = {
        {kSha, DIGEST_SHA256,
         {"30 A2 26 34 12 10 00 00", "30 A2 26 34 12 10 01 62 61 37 38 31 36 62 66 38 66 00",
          "30 A2 26 34 12 10 01 30 31 63 66 65 61 34 31 34 31 00",
          "30 A2 26 34 12 10 01 34 30 64 65 35 64 61 65 32 32 00",
          "30 A2 26 34 12 10 01 32 33 62 30 30 33 36 31 61 33 00",
          "30 A2 26 34 12 10 01 39 36 31 37 37 61 39 63 62 34 00",
          "30 A2 26 34 12 10 01 31 30 66 66 36 31 66 32 30 30 00",
          "30 A2 26 34 12 10 01 31 35 61 64 00 00 00 00 00 00 00"}},
        // A length that is a multiple of ten still ends with a part, empty.
        {"0123456789", DIGEST_GPG,
         {"30 A2 26 34 12 10 00 01", "30 A2 26 34 12 10 01 30 31 32 33 34 35 36 37 38 39 00",
          "30 A2 26 34 12 10 01 00 00 00 00 00 00 00 00 00 00 00"}},
    };
    for (const auto& c : cases) {
        Mark();
        EXPECT_TRUE(client->SecureTessaCopyWaveCPlus(handle, c.digest, c.type));
        EXPECT_EQ(NewFrames(), c.frames);
    }
    EXPECT_TRUE(Contains(Log(), "input_secupd.xm HASH Value: " + kSha + " "));
    EXPECT_TRUE(Contains(Log(), "Secure Tessa CopyPart 6 Hash: 1 5 a d "));
}

// The header's answer does not count; every part's does.
TEST_F(DigestHandOverTest, WhichFailuresFailTheHandOver)
{
    const struct {
        bool newer;
        std::vector<uint8_t> refusals;
        bool delivered;
    } cases[] = {
        {false, {0xC1}, true},
        {false, {0x00, 0x00, 0x00, 0xC1}, false},   // part 3
        {false, {0x00, 0x00, 0x00, 0x00, 0xC1}, false},
        {true, {0xC1}, true},
        {true, {0x00, 0x00, 0xC1}, false},   // part 2 of 7
        {true, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC1}, false},
    };
    for (const auto& c : cases) {
        refusals = c.refusals;
        const bool delivered = c.newer ? client->SecureTessaCopyWaveCPlus(handle, kSha, DIGEST_SHA256)
                                       : client->SecureTessaCopy(handle, kMd5, 0);
        EXPECT_EQ(delivered, c.delivered) << c.newer << " " << c.refusals.size();
    }
    EXPECT_TRUE(Contains(Log(), "HASH header IPMI Command Failed"));
}

TEST_F(DigestHandOverTest, AnOlderDigestMustBeThirtyTwoCharacters)
{
    for (const std::string& digest : {std::string(), kMd5.substr(0, 31), kMd5 + "0", kSha}) {
        Mark();
        EXPECT_FALSE(client->SecureTessaCopy(handle, digest, 0)) << digest;
        EXPECT_TRUE(NewFrames().empty());
    }
}

TEST_F(DigestHandOverTest, PowerCycleIsStateFlagFive)
{
    EXPECT_EQ(client->regPowerCycle(), 0);
    EXPECT_EQ(tessa.StateFlags(), std::vector<uint8_t>{5});
    EXPECT_TRUE(Contains(Log(), "Setting the SSM flag succeeded"));

    controller.ScriptSub(0x30, 0xA2, SimTessaController::SetStateFlag, SimIpmiStep::Code(0xC1), 10);
    EXPECT_EQ(client->regPowerCycle(), -1);
    EXPECT_TRUE(Contains(Log(), "Setting the SSM flag failed"));
}

} // namespace
