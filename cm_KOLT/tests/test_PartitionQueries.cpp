// The partition queries: both bit words, the static partitions marked in
// the table by the names the controller reports, the drop box recorded in
// row 0, and a stale drop box deleted by name.

#include "KoltTestSupport.h"

namespace {

class PartitionQueryTest : public TessaClientTest {};

std::vector<unsigned> PresentRows()
{
    std::vector<unsigned> rows;
    for (unsigned row = 0; row < TESSA_PARTITION_ROWS; ++row)
        if (tessaPartInfo[row].present || tessaPartInfo[row].partIdWord != 0)
            rows.push_back(row);
    return rows;
}

} // namespace

TEST_F(PartitionQueryTest, IndexInfoReturnsAndKeepsBothWords)
{
    secureTessa& t = OpenClient();
    tessa.AddDynamicPartition(1, "SECUPD");
    EXPECT_EQ(t.getPartIndexInfo(), 0x0007);
    EXPECT_EQ(t.session.staticBits, 0x0007);
    EXPECT_EQ(t.session.dynamicBits, 0x0002);
    EXPECT_EQ(t.getDynPartIndexInfo(), 0x0002);
    EXPECT_EQ(NewFrames(), std::vector<std::string>(2, "30 A2 03 34 12 00 00"));
}

TEST_F(PartitionQueryTest, FailedIndexInfoReturnsTheWordsHeldAndStoresNoError)
{
    secureTessa& t = OpenClient();
    t.session.staticBits = 0x0011;
    t.session.dynamicBits = 0x0004;
    t.storeErrorInfo(7);
    tessa.ScriptCodes(SimTessaController::PartitionIndexInfo, {0x04, 0x04});
    EXPECT_EQ(t.getPartIndexInfo(), 0x0011);
    EXPECT_EQ(t.getDynPartIndexInfo(), 0x0004);
    EXPECT_EQ(t.getKOLTError(), 7);
}

// An answer that ends before the bytes a query reads is a failed query:
// the words or name characters left out would read as zeros. The index
// answer needs 9 bytes (completion code, handle, words up to byte 10 of the
// record), the name's answer 11 (its last character at byte 12).
TEST_F(PartitionQueryTest, AnswersEndingBeforeTheBytesReadAreFailedQueries)
{
    secureTessa& t = OpenClient();
    tessa.AddDynamicPartition(1, "SECUPD");
    t.session.staticBits = 0x0011;
    t.session.dynamicBits = 0x0004;
    controller.ScriptSub(0x30, 0xA2, SimTessaController::PartitionIndexInfo, SimIpmiStep::Short(8));
    EXPECT_EQ(t.getDynPartIndexInfo(), 0x0004);
    EXPECT_EQ(t.session.staticBits, 0x0011);
    controller.ScriptSub(0x30, 0xA2, SimTessaController::PartitionIndexInfo, SimIpmiStep::Short(9));
    EXPECT_EQ(t.getDynPartIndexInfo(), 0x0002);
    EXPECT_EQ(t.session.staticBits, 0x0007);

    controller.ScriptSub(0x30, 0xA2, SimTessaController::PartitionInfo, SimIpmiStep::Short(10));
    EXPECT_TRUE(t.getPartInfo(0x0004));
    EXPECT_FALSE(tessaPartInfo[22].present);
    controller.ScriptSub(0x30, 0xA2, SimTessaController::PartitionInfo, SimIpmiStep::Short(10));
    EXPECT_TRUE(t.deleteDynPartWithName(0x0002, "SECUPD"));
    std::vector<std::string> log = NewLog();
    EXPECT_FALSE(Contains(log, "The partition name [TES02]is inconsistent with the standard."));
    EXPECT_FALSE(Contains(log, "deleteDynPartWithName partition name = SECUP"));
    EXPECT_TRUE(Contains(log, "secureTessa::deleteDynPartWithName GetPartitionInfo failed"));

    controller.ScriptSub(0x30, 0xA2, SimTessaController::PartitionInfo, SimIpmiStep::Short(11));
    EXPECT_TRUE(t.getPartInfo(0x0004));
    EXPECT_TRUE(tessaPartInfo[22].present);
    controller.ScriptSub(0x30, 0xA2, SimTessaController::PartitionInfo, SimIpmiStep::Short(11));
    EXPECT_TRUE(t.deleteDynPartWithName(0x0002, "SECUPD"));
    EXPECT_EQ(tessa.DeletedWords(), std::vector<uint16_t>{0x0002});
}

TEST_F(PartitionQueryTest, PartInfoMarksTheRowsOfTheReportedNames)
{
    secureTessa& t = OpenClient();
    EXPECT_TRUE(t.getPartInfo(0x0005));
    EXPECT_EQ(NewFrames(), (std::vector<std::string>{"30 A2 04 34 12 00 00 00 00", "30 A2 04 34 12 00 02 00 00"}));
    EXPECT_TRUE(tessaPartInfo[1].present);
    EXPECT_EQ(tessaPartInfo[1].partIdWord, 0x0100);
    EXPECT_TRUE(tessaPartInfo[22].present);
    EXPECT_EQ(tessaPartInfo[22].partIdWord, 0x0400);
    EXPECT_EQ(PresentRows(), (std::vector<unsigned>{1, 22}));   // bit 1's "TES003" was not asked for
}

// Names whose digits give no row of the table (up to 999), or no number at
// all, mark nothing; a failed query of one bit does not stop the others.
TEST_F(PartitionQueryTest, NamesOutsideTheTableMarkNothing)
{
    secureTessa& t = OpenClient();
    tessa.ClearPartitions();
    tessa.AddStaticPartition(0, "TES300");
    tessa.AddStaticPartition(1, "TES999");
    tessa.AddStaticPartition(2, "SECUPD");
    tessa.AddStaticPartition(3, "TES256");
    tessa.AddStaticPartition(5, "TES004");
    tessa.ScriptCodes(SimTessaController::PartitionInfo, {0, 0, 0, 0x04});
    EXPECT_TRUE(t.getPartInfo(0xFF2F));   // bits 8 to 15 are never asked about
    EXPECT_EQ(NewFrames().size(), 5u);
    EXPECT_EQ(PresentRows(), std::vector<unsigned>{4});
    EXPECT_EQ(tessaPartInfo[4].partIdWord, 0x2000);
    const std::vector<std::string> log = NewLog();
    EXPECT_TRUE(Contains(log, "The partition name [TES300]is inconsistent with the standard."));
    EXPECT_TRUE(Contains(log, "The partition name [TES999]is inconsistent with the standard."));
    EXPECT_TRUE(Contains(log, "The partition name [SECUPD]is inconsistent with the standard."));
}

TEST_F(PartitionQueryTest, DynPartInfoRecordsTheLowestBitInRowZero)
{
    secureTessa& t = OpenClient();
    tessa.AddDynamicPartition(1, "SECUPD");
    tessa.AddDynamicPartition(2, "OTHER1");
    EXPECT_TRUE(t.getDynPartInfo(0x0100));   // only bit 8: nothing to ask
    EXPECT_TRUE(NewFrames().empty());
    EXPECT_TRUE(t.getDynPartInfo(0x0006));
    EXPECT_EQ(NewFrames(), std::vector<std::string>{"30 A2 04 34 12 80 01 00 00"});
    EXPECT_EQ(tessaPartInfo[0].partIdWord, 0x0200);
    EXPECT_TRUE(tessaPartInfo[0].present);
}

TEST_F(PartitionQueryTest, DynPartInfoThatFailsLeavesRowZero)
{
    secureTessa& t = OpenClient();
    tessaPartInfo[0].partIdWord = 0x0800;
    EXPECT_TRUE(t.getDynPartInfo(0x0001));   // no such partition: refused
    EXPECT_EQ(tessaPartInfo[0].partIdWord, 0x0800);
}

TEST_F(PartitionQueryTest, StaleDropBoxIsDeletedByNameIgnoringCase)
{
    secureTessa& t = OpenClient();
    tessa.AddDynamicPartition(0, "OTHER1");
    tessa.AddDynamicPartition(2, "SECUPD");
    tessa.AddDynamicPartition(3, "SECUPD");
    const unsigned short word = 0x000D;
    EXPECT_TRUE(t.deleteDynPartWithName(word, "secupd"));
    EXPECT_EQ(NewFrames(), (std::vector<std::string>{"30 A2 04 34 12 80 00 00 00", "30 A2 04 34 12 80 02 00 00",
                                                     "30 A2 08 34 12 00 04 00 00 00 00"}));
    EXPECT_EQ(tessa.DeletedWords(), std::vector<uint16_t>{0x0004});
    const std::vector<std::string> log = NewLog();
    EXPECT_TRUE(Contains(log, "deleteDynPartWithName partition name = OTHER1"));
    EXPECT_TRUE(Contains(log, "deleteDynPartWithName DeleteDropBox successful"));
}

TEST_F(PartitionQueryTest, NoMatchingNameDeletesNothing)
{
    secureTessa& t = OpenClient();
    tessa.AddDynamicPartition(0, "OTHER1");
    const unsigned short word = 0x0003;   // bit 1 has no partition: its query fails
    EXPECT_TRUE(t.deleteDynPartWithName(word, "SECUPD"));
    EXPECT_EQ(tessa.CountSub(SimTessaController::DeleteDynamicPartition), 0u);
    EXPECT_TRUE(Contains(NewLog(), "secureTessa::deleteDynPartWithName GetPartitionInfo failed"));
}

TEST_F(PartitionQueryTest, FailedDeleteOfAMatchStillReturnsTrueWith44)
{
    secureTessa& t = OpenClient();
    tessa.AddDynamicPartition(0, "SECUPD");
    tessa.ScriptCodes(SimTessaController::DeleteDynamicPartition, {0x04});
    const unsigned short word = 0x0001;
    EXPECT_TRUE(t.deleteDynPartWithName(word, "SECUPD"));
    EXPECT_EQ(t.getKOLTError(), KOLT_DELETEPARTITIONFAILED);
    EXPECT_TRUE(Contains(NewLog(), "deleteDynPartWithName DeleteDropBox failed"));
}

TEST_F(PartitionQueryTest, WithoutSessionEveryQueryFailsWithTwoAndSendsNothing)
{
    OpenClient();
    secureTessa& t = *client;
    t.session.active = 0;
    t.session.staticBits = 0x0007;
    const unsigned short word = 0x0001;
    EXPECT_EQ(t.getPartIndexInfo(), 0);
    EXPECT_EQ(t.getDynPartIndexInfo(), 0);
    EXPECT_FALSE(t.getPartInfo(0x0001));
    EXPECT_FALSE(t.getDynPartInfo(0x0001));
    EXPECT_FALSE(t.deleteDynPartWithName(word, "SECUPD"));
    EXPECT_EQ(t.getKOLTError(), KOLT_NOSESSION);
    EXPECT_TRUE(NewFrames().empty());
    const std::vector<std::string> log = NewLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "TESSA session not started"), 5);
}
