// Deleting a dynamic partition by its plain word, or the drop box that row 0
// names.

#include "KoltTestSupport.h"

namespace {

class DeleteDropBoxTest : public TessaClientTest {};

} // namespace

TEST_F(DeleteDropBoxTest, PlainWordTravelsHighByteFirst)
{
    secureTessa& t = OpenClient();
    tessa.AddDynamicPartition(1, "SECUPD");
    EXPECT_TRUE(t.DeleteDropBox(0x0002));
    EXPECT_EQ(NewFrames(), std::vector<std::string>{"30 A2 08 34 12 00 02 00 00 00 00"});
    EXPECT_EQ(tessa.DeletedWords(), std::vector<uint16_t>{0x0002});
    const std::vector<std::string> log = NewLog();
    EXPECT_TRUE(Contains(log, "DeleteDropBox 0 != iBitMap "));
    EXPECT_TRUE(Contains(log, "DeleteDropBox succeeded"));
}

TEST_F(DeleteDropBoxTest, ZeroWordUsesRowZero)
{
    secureTessa& t = OpenClient();
    tessa.AddDynamicPartition(2, "SECUPD");
    tessaPartInfo[0].partIdWord = 0x0400;
    EXPECT_TRUE(t.DeleteDropBox(0));
    EXPECT_EQ(NewFrames(), std::vector<std::string>{"30 A2 08 34 12 00 04 00 00 00 00"});
    EXPECT_TRUE(Contains(NewLog(), "DeleteDropBox 0 == iBitMap "));
}

// Before any drop box was recorded row 0 holds 0: a zero word is sent, the
// controller names no partition with it, and the refusal gives 44.
TEST_F(DeleteDropBoxTest, NothingRecordedSendsAZeroWordAndFailsWith44)
{
    secureTessa& t = OpenClient();
    EXPECT_FALSE(t.DeleteDropBox(0));
    EXPECT_EQ(t.getKOLTError(), KOLT_DELETEPARTITIONFAILED);
    const std::vector<std::string> frames = NewFrames();
    ASSERT_FALSE(frames.empty());
    for (const std::string& frame : frames)
        EXPECT_EQ(frame, "30 A2 08 34 12 00 00 00 00 00 00");
    const std::vector<std::string> log = NewLog();
    EXPECT_TRUE(Contains(log, "DeleteDynamicPartition failed"));
    EXPECT_TRUE(Contains(log, "DeleteDropBox failed"));
}

TEST_F(DeleteDropBoxTest, WithoutSessionNothingIsSent)
{
    OpenClient();
    client->session.active = 0;
    EXPECT_FALSE(client->DeleteDropBox(0x0001));
    EXPECT_EQ(client->getKOLTError(), KOLT_NOSESSION);
    EXPECT_TRUE(NewFrames().empty());
    EXPECT_TRUE(Contains(NewLog(), "DeleteDropBox called with NO active session"));
}
