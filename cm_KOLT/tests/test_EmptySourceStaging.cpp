// A payload file of no bytes is staged like any other: its entry carries
// the digest of the empty message under either digest scheme.

#include <gtest/gtest.h>

#include <string>

#include "KoltTestSupport.h"

namespace {

class EmptySourceStaging : public KoltHostTest {};

} // namespace

TEST_F(EmptySourceStaging, EmptyFileIsQueuedWithTheDigestOfNoBytes)
{
    std::unique_ptr<secureTessa> client = ClientWithoutLifeCycle();
    dir.write("empty.bin", "");
    const struct {
        const char* destination;
        digestType digest;
        const char* hash;
        int hashAlgorithm;
    } cases[] = {
        {"/payload/empty.bin", DIGEST_SHA256, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", 2},
        {"tes022/1234/current/empty.bin", DIGEST_MD5, "d41d8cd98f00b204e9800998ecf8427e", 1},
    };
    ASSERT_TRUE(client->StartCopyFile());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destination);
        EXPECT_TRUE(client->AddFile(dir.file("empty.bin"), c.destination, filecopy, c.digest));
    }
    ASSERT_EQ(client->cfgEntries.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(cases[i].destination);
        const cfgEntry& e = client->cfgEntries[i];
        EXPECT_EQ(e.destination, cases[i].destination);
        EXPECT_EQ(e.size, 0u);
        EXPECT_EQ(e.hash, cases[i].hash);
        EXPECT_EQ(e.hashAlgorithm, cases[i].hashAlgorithm);
    }
}
