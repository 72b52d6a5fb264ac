// Creating the drop box: the size in 32 KiB units, the exact create frame,
// how the new partition is identified and recorded in row 0, and the
// clean-up when it cannot be.

#include "KoltTestSupport.h"

namespace {

const std::string kIndexInfo = "30 A2 03 34 12 00 00";
const std::string kDropBoxInfoBit0 = "30 A2 04 34 12 80 00 00 00";

std::string CreateFrame(const std::string& units)
{
    return "30 A2 07 34 12 " + units + " 53 45 43 55 50 44 40";
}

class CreateDropBoxTest : public TessaClientTest {};

struct SizeCase {
    const char* name;
    unsigned int sizeBytes;
    bool created;
    const char* units;        // request bytes 5-6, or null when nothing is sent
    unsigned int granted;
    unsigned char error;
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

const SizeCase kSizes[] = {
    {"Zero", 0, true, "00 00", 0, 0},
    {"OneByte", 1, true, "01 00", 32768, 0},
    {"OneUnit", 32768, true, "01 00", 32768, 0},
    {"OneUnitAndAByte", 32769, true, "02 00", 65536, 0},
    {"LargestUnitCount", 65535u * 32768u, true, "FF FF", 65535u * 32768u, 0},
    // 65536 units do not fit the 16-bit field: refused instead of asking
    // for a partition of size 0.
    {"NeedsOneUnitTooMany", 65535u * 32768u + 1, false, nullptr, 0, KOLT_SIZETOOLARGE},
    {"TwoGiB", 2147483648u, false, nullptr, 0, KOLT_SIZETOOLARGE},
    {"TwoGiBAndAByte", 2147483649u, false, nullptr, 0, KOLT_SIZETOOLARGE},
};

class CreateDropBoxSizes : public CreateDropBoxTest, public ::testing::WithParamInterface<SizeCase> {};

} // namespace

TEST_P(CreateDropBoxSizes, UnitsGrantedSizeAndFrames)
{
    const SizeCase& c = GetParam();
    secureTessa& t = OpenClient();
    unsigned int granted = 12345;
    EXPECT_EQ(t.CreateDropBox("SECUPD", c.sizeBytes, &granted), c.created);
    EXPECT_EQ(granted, c.granted);
    EXPECT_EQ(t.getKOLTError(), c.error);

    if (c.created) {
        EXPECT_EQ(NewFrames(), (std::vector<std::string>{kIndexInfo, CreateFrame(c.units), kIndexInfo,
                                                         kDropBoxInfoBit0}));
        EXPECT_EQ(tessaPartInfo[0].partIdWord, 0x0100);
        EXPECT_TRUE(tessaPartInfo[0].present);
        EXPECT_EQ(t.currentDropBox, "SECUPD");
        EXPECT_EQ(tessa.DynamicPartitions().at(0).name, "SECUPD");
        EXPECT_TRUE(Contains(NewLog(), "CreateDropBox succeeded"));
    } else {
        // The bitmap query comes first; nothing is created.
        EXPECT_EQ(NewFrames(), std::vector<std::string>{kIndexInfo});
        EXPECT_TRUE(tessa.DynamicPartitions().empty());
        EXPECT_TRUE(Contains(NewLog(), "CreateDropBox failed"));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, CreateDropBoxSizes, ::testing::ValuesIn(kSizes),
                         [](const ::testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

TEST_F(CreateDropBoxTest, AboveTwoGiBLogsTheSizeLine)
{
    secureTessa& t = OpenClient();
    unsigned int granted = 1;
    EXPECT_FALSE(t.CreateDropBox("SECUPD", 2147483649u, &granted));
    const std::vector<std::string> log = NewLog();
    EXPECT_TRUE(Contains(log, "KOLT size greater than 2GB"));
    EXPECT_EQ(tessa.CountSub(SimTessaController::CreateDynamicPartition), 0u);
}

// The plain word travels high byte first; row 0 keeps it wire-ordered, and
// a delete by row 0 puts the same two bytes on the wire as a delete by the
// plain word.
TEST_F(CreateDropBoxTest, NewBitBesideAnExistingPartitionIsRecordedWireOrdered)
{
    secureTessa& t = OpenClient();
    tessa.AddDynamicPartition(0, "OTHER1");
    unsigned int granted = 0;
    ASSERT_TRUE(t.CreateDropBox("SECUPD", 1048576, &granted));
    EXPECT_EQ(granted, 1048576u);
    EXPECT_EQ(tessaPartInfo[0].partIdWord, 0x0200);
    EXPECT_EQ(NewFrames().back(), "30 A2 04 34 12 80 01 00 00");

    Mark();
    EXPECT_TRUE(t.DeleteDropBox(0));
    EXPECT_EQ(NewFrames(), std::vector<std::string>{"30 A2 08 34 12 00 02 00 00 00 00"});
    EXPECT_EQ(tessa.DeletedWords(), std::vector<uint16_t>{0x0002});
    // Row 0 still names the deleted box until the next create.
    EXPECT_EQ(tessaPartInfo[0].partIdWord, 0x0200);
}

TEST_F(CreateDropBoxTest, CreateCommandRefusedGives22AndNoCleanUp)
{
    secureTessa& t = OpenClient();
    tessa.ScriptCodes(SimTessaController::CreateDynamicPartition, {0x04});
    unsigned int granted = 7;
    EXPECT_FALSE(t.CreateDropBox("SECUPD", 32768, &granted));
    EXPECT_EQ(t.getKOLTError(), KOLT_CREATEFAILED);
    EXPECT_EQ(granted, 0u);
    EXPECT_EQ(NewFrames(), (std::vector<std::string>{kIndexInfo, CreateFrame("01 00")}));
    const std::vector<std::string> log = NewLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "CreateDropBox failed"), 2);
}

TEST_F(CreateDropBoxTest, WithoutSessionNothingIsSent)
{
    OpenClient();
    client->session.active = 0;
    unsigned int granted = 7;
    EXPECT_FALSE(client->CreateDropBox("SECUPD", 32768, &granted));
    EXPECT_EQ(client->getKOLTError(), KOLT_NOSESSION);
    EXPECT_EQ(granted, 0u);
    EXPECT_TRUE(NewFrames().empty());
    EXPECT_TRUE(Contains(NewLog(), "CreateDropBox called with NO active session"));
}

// The controller takes the create but no partition appears: 35, row 0 no
// longer names the earlier box, and the clean-up names no partition.
TEST_F(CreateDropBoxTest, UnchangedBitmapGives35AndCleansUpWithAZeroWord)
{
    secureTessa& t = OpenClient();
    tessa.SetCreateLeavesBitmapUnchanged(true);
    tessa.AddDynamicPartition(1, "OTHER1");
    tessaPartInfo[0].partIdWord = 0x0200;   // an earlier drop box
    unsigned int granted = 7;
    EXPECT_FALSE(t.CreateDropBox("SECUPD", 32768, &granted));
    EXPECT_EQ(t.getKOLTError(), KOLT_DROPBOXNOTIDENTIFIED);
    EXPECT_EQ(granted, 0u);
    EXPECT_EQ(tessaPartInfo[0].partIdWord, 0);

    const std::vector<std::string> frames = NewFrames();
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(frames[0], kIndexInfo);
    EXPECT_EQ(frames[1], CreateFrame("01 00"));
    EXPECT_EQ(frames[2], kIndexInfo);
    // The refused clean-up is resent by the library itself.
    for (size_t i = 3; i < frames.size(); ++i)
        EXPECT_EQ(frames[i], "30 A2 08 34 12 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(tessa.DynamicPartitions().count(1), 1u);   // the other partition stays
    EXPECT_TRUE(tessa.DeletedWords().empty());

    const std::vector<std::string> log = NewLog();
    EXPECT_TRUE(Contains(log, "getDynPartIndexInfo BitMap = 0. Partition Invalid"));
    EXPECT_TRUE(Contains(log, "Deleting created partition"));
    EXPECT_TRUE(Contains(log, "DeleteDynamicPartition failed"));
}

// The new partition appears but its info query fails: the earlier box's
// word must not stand in for it, and the clean-up deletes the partition
// that appeared, by its own word.
TEST_F(CreateDropBoxTest, FailedIdentificationGives35AndDeletesTheNewPartition)
{
    secureTessa& t = OpenClient();
    tessa.AddDynamicPartition(0, "OTHER1");
    tessa.ScriptCodes(SimTessaController::PartitionInfo, {0x04});
    tessaPartInfo[0].partIdWord = 0x0100;   // an earlier drop box on bit 0
    unsigned int granted = 7;
    EXPECT_FALSE(t.CreateDropBox("SECUPD", 65536, &granted));
    EXPECT_EQ(t.getKOLTError(), KOLT_DROPBOXNOTIDENTIFIED);
    EXPECT_EQ(granted, 0u);
    EXPECT_EQ(tessaPartInfo[0].partIdWord, 0);

    EXPECT_EQ(NewFrames(), (std::vector<std::string>{kIndexInfo, CreateFrame("02 00"), kIndexInfo,
                                                     "30 A2 04 34 12 80 01 00 00",
                                                     "30 A2 08 34 12 00 02 00 00 00 00 00 00 00"}));
    EXPECT_EQ(tessa.DeletedWords(), std::vector<uint16_t>{0x0002});
    EXPECT_EQ(tessa.DynamicPartitions().count(0), 1u);   // the earlier partition stays
    const std::vector<std::string> log = NewLog();
    EXPECT_TRUE(Contains(log, "DynPartInfo bitmap = 0"));
    EXPECT_TRUE(Contains(log, "Deleting created partition"));
    EXPECT_FALSE(Contains(log, "DeleteDynamicPartition failed"));
}
