// The drop-box size asked for a queue: payload bytes summed in 64 bits,
// at least 64 KiB, whole 32 KiB units, the 1 MiB reserve, and never more
// than the controller's largest drop box.

#include "CopyPassTest.h"

namespace {

class PayloadSize : public CopyPassTest {};

TEST_F(PayloadSize, Table)
{
    const uint64_t KiB = 1024, MiB = 1024 * KiB, GiB = 1024 * MiB;
    const struct {
        std::vector<std::pair<exmlMode, uint64_t>> queue;
        uint32_t maxDropBox;
        unsigned int requested;
    } cases[] = {
        {{}, 306184192, 65536 + 1048576},
        {{{filecopy, 40 * KiB}}, 306184192, 1114112},
        {{{filecopy, 65536}}, 306184192, 65536 + 1048576},
        {{{filecopy, 65537}}, 306184192, 98304 + 1048576},
        // dirmake, package.xml (10 KiB) and a 20 MiB image: 641 units + 1 MiB.
        {{{dirmake, 0}, {filecopy, 10 * KiB}, {filecopy, 20971520}}, 306184192, 641 * 32768 + 1048576},
        // Sizes of other modes do not count.
        {{{filedelete, 50 * MiB}, {filecopy, 40 * KiB}}, 306184192, 1114112},
        {{{signedunzip, 40 * KiB}}, 306184192, 1114112 + 4 * 1048576},
        // Only a signedunzip at the head adds the unpacking room.
        {{{filecopy, 1}, {signedunzip, 40 * KiB}}, 306184192, 1114112},
        {{{filecopy, 300 * MiB}}, 306184192, 306184192},
        {{{filecopy, 100 * MiB}}, 30408704, 30408704},
        // 4 GiB and 40 KiB would wrap to 40 KiB in 32 bits.
        {{{filecopy, 4 * GiB}, {filecopy, 40 * KiB}}, 306184192, 306184192},
        {{{filecopy, 5 * GiB}}, 30408704, 30408704},
        // Without a known limit the largest size a request can name.
        {{{filecopy, 5 * GiB}}, 0, 0xFFFF8000u},
    };
    for (const auto& c : cases) {
        client->cfgEntries.clear();
        for (const auto& item : c.queue) {
            cfgEntry e;
            e.mode = item.first;
            e.size = item.second;
            client->cfgEntries.push_back(e);
        }
        client->maxDropBoxBytes = c.maxDropBox;
        unsigned int total = 0;
        client->CalculateAndAdjustPayloadSize(total);
        EXPECT_EQ(total, c.requested) << c.queue.size() << " entries, limit " << c.maxDropBox;
    }
}

} // namespace
