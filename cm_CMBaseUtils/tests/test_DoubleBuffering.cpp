#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "DoubleBuffering.h"
#include "TempDir.h"

namespace {

// A failed read leaves the stream in bad state; it is reported with the
// same text as a stream that was already bad.
const char* const kReadError = "CDoubleBuffering: Referenced File not Opened or in Bad State!";

std::string pattern(size_t length, unsigned seed = 7)
{
    std::string out(length, '\0');
    std::mt19937 gen(seed);
    for (char& c : out)
        c = static_cast<char>(gen() & 0xFF);
    return out;
}

// Buffer pre-filled with a marker, so bytes that never came from the file
// would show up in a comparison.
std::vector<char> markedBuffer(size_t size) { return std::vector<char>(size, static_cast<char>(0xEE)); }

std::string thrown(const std::function<void()>& action)
{
    try {
        action();
    } catch (const char* text) {
        return text;
    }
    return "<nothing thrown>";
}

// Reads the whole stream with the given request lengths (cycled); returns
// the counts and the bytes.
std::vector<int> drain(CDoubleBuffering& reader, const std::vector<int>& lengths, std::string& bytes, int limit = 100000)
{
    std::vector<int> counts;
    std::vector<char> block(4096);
    for (size_t i = 0; static_cast<int>(i) < limit; ++i) {
        int n = reader.GetData(block.data(), lengths[i % lengths.size()]);
        counts.push_back(n);
        if (n < 1)
            break;
        bytes.append(block.data(), n);
    }
    return counts;
}

class DoubleBuffering : public ::testing::Test {
protected:
    std::string writeFile(const std::string& content)
    {
        dir.write("f.bin", content);
        return dir.file("f.bin");
    }
    TempDir dir;
};

// A stream buffer that serves the first `good` bytes of its data and then
// fails like a disk read error (the stream sets badbit).
class FailingBuf : public std::streambuf {
public:
    FailingBuf(const std::string& data, size_t good) : m_data(data.substr(0, good))
    {
        setg(&m_data[0], &m_data[0], &m_data[0] + m_data.size());
    }

protected:
    int_type underflow() override { throw std::runtime_error("I/O error"); }

private:
    std::string m_data;
};

} // namespace

TEST_F(DoubleBuffering, CountsForTheDigestsBlockLength)
{
    struct Case {
        size_t length;
        std::vector<int> counts;
    };
    const std::vector<Case> cases = {
        {0, {0}},
        {100, {100, 0}},
        {384, {384, 0}},
        {512, {384, 128, 0}},
        {1000, {384, 384, 232, 0}},
        {1024, {384, 384, 256, 0}},
        {2048, {384, 384, 384, 384, 384, 128, 0}},
    };
    for (const Case& c : cases) {
        const std::string content = pattern(c.length);
        std::ifstream in(writeFile(content), std::ios::binary);
        std::vector<char> buffer = markedBuffer(1024);
        CDoubleBuffering reader(in, buffer.data(), 1024, 384);
        std::string bytes;
        EXPECT_EQ(drain(reader, {-1}, bytes), c.counts) << c.length;
        EXPECT_EQ(bytes, content) << c.length;
        char block[384];
        EXPECT_EQ(reader.GetData(block, -1), 0);
    }
}

TEST_F(DoubleBuffering, ReturnsTheFileExactlyAroundBufferBoundaries)
{
    // Sizes around the half and whole buffer, block lengths that divide the
    // half or straddle the wrap, and a file of several MiB.
    const std::vector<size_t> lengths = {0, 1, 2, 255, 256, 257, 511, 512, 513, 1023, 1024, 1025,
                                         1536, 4096, 4097, 3 * 1024 * 1024 + 17};
    const std::vector<std::vector<int>> requests = {{-1}, {1}, {512}, {100}, {511}, {7, 512, 300, -1, 1}};
    for (size_t length : lengths) {
        const std::string content = pattern(length, static_cast<unsigned>(length));
        const std::string path = writeFile(content);
        for (const std::vector<int>& request : requests) {
            if (length > 100000 && request == std::vector<int>{1})
                continue; // byte-by-byte over megabytes adds time, not coverage
            std::ifstream in(path, std::ios::binary);
            std::vector<char> buffer = markedBuffer(1024);
            CDoubleBuffering reader(in, buffer.data(), 1024, 384);
            std::string bytes;
            std::vector<int> counts = drain(reader, request, bytes, 10000000);
            ASSERT_EQ(bytes.size(), content.size()) << length << " request[0]=" << request[0];
            EXPECT_TRUE(bytes == content) << length << " request[0]=" << request[0];
            EXPECT_EQ(counts.back(), 0);
        }
    }
}

TEST_F(DoubleBuffering, SmallestBufferAndMixedLengths)
{
    const std::string content = pattern(37);
    std::ifstream in(writeFile(content), std::ios::binary);
    std::vector<char> buffer = markedBuffer(2);
    CDoubleBuffering reader(in, buffer.data(), 2, 1);
    std::string bytes;
    std::vector<int> counts = drain(reader, {-1}, bytes);
    EXPECT_EQ(bytes, content);
    EXPECT_EQ(counts.size(), 38u);

    const std::string longer = pattern(3000, 3);
    std::ifstream in2(writeFile(longer), std::ios::binary);
    std::vector<char> buffer2 = markedBuffer(1024);
    CDoubleBuffering mixed(in2, buffer2.data(), 1024, 384);
    std::string got;
    char block[512];
    EXPECT_EQ(mixed.GetData(block, 100), 100);
    got.append(block, 100);
    EXPECT_EQ(mixed.GetData(block, 512), 512);
    got.append(block, 512);
    EXPECT_EQ(mixed.GetData(block, -1), 384);
    got.append(block, 384);
    drain(mixed, {-1, 512, 3}, got);
    EXPECT_EQ(got, longer);
}

TEST_F(DoubleBuffering, ReadsStartAtTheStreamsPosition)
{
    const std::string content = pattern(900);
    std::ifstream in(writeFile(content), std::ios::binary);
    in.seekg(300);
    std::vector<char> buffer = markedBuffer(1024);
    CDoubleBuffering reader(in, buffer.data(), 1024, 384);
    std::string bytes;
    drain(reader, {-1}, bytes);
    EXPECT_EQ(bytes, content.substr(300));
}

TEST_F(DoubleBuffering, ConstructionErrorsInTheirOrder)
{
    const std::string path = writeFile("abc");
    std::vector<char> buffer(2048);
    std::ifstream closed;
    std::ifstream open(path, std::ios::binary);

    EXPECT_EQ(thrown([&] { CDoubleBuffering r(closed, buffer.data(), 1023, 384); }),
              "CDoubleBuffering: m_iSize should be Even Number!");
    EXPECT_EQ(thrown([&] { CDoubleBuffering r(open, buffer.data(), 1023, 384); }),
              "CDoubleBuffering: m_iSize should be Even Number!");
    EXPECT_EQ(thrown([&] { CDoubleBuffering r(closed, buffer.data(), 1024, 0); }),
              "CDoubleBuffering: Referenced File not Opened or in Bad State!");
    for (int bad : {0, -1, 513}) {
        EXPECT_EQ(thrown([&] { CDoubleBuffering r(open, buffer.data(), 1024, bad); }),
                  "CDoubleBuffering: Illegal Construction Data!")
            << bad;
    }
    EXPECT_EQ(thrown([&] { CDoubleBuffering r(open, buffer.data(), 0, 1); }),
              "CDoubleBuffering: Illegal Construction Data!");

    std::ifstream badStream(path, std::ios::binary);
    badStream.setstate(std::ios::badbit);
    EXPECT_EQ(thrown([&] { CDoubleBuffering r(badStream, buffer.data(), 1024, 384); }),
              "CDoubleBuffering: Referenced File not Opened or in Bad State!");
}

TEST_F(DoubleBuffering, IllegalLengthThrowsAlsoAfterTheEnd)
{
    std::ifstream in(writeFile(pattern(10)), std::ios::binary);
    std::vector<char> buffer(1024);
    CDoubleBuffering reader(in, buffer.data(), 1024, 384);
    char block[600];
    for (int bad : {0, -2, 513}) {
        EXPECT_EQ(thrown([&] { reader.GetData(block, bad); }), "CDoubleBuffering::GetData(): Illegal iDataLen!") << bad;
    }
    EXPECT_EQ(reader.GetData(block, 512), 10);
    EXPECT_EQ(reader.GetData(block, 512), 0);
    EXPECT_EQ(thrown([&] { reader.GetData(block, 513); }), "CDoubleBuffering::GetData(): Illegal iDataLen!");
}

TEST_F(DoubleBuffering, StreamWithFailOrEofBitIsAcceptedAndYieldsNothing)
{
    const std::string path = writeFile(pattern(700));
    for (std::ios::iostate state : {std::ios::failbit, std::ios::eofbit, std::ios::failbit | std::ios::eofbit}) {
        std::ifstream in(path, std::ios::binary);
        in.setstate(state);
        std::vector<char> buffer = markedBuffer(1024);
        CDoubleBuffering reader(in, buffer.data(), 1024, 384);
        char block[384];
        EXPECT_EQ(reader.GetData(block, -1), 0) << state;
        EXPECT_EQ(reader.GetData(block, -1), 0) << state;
    }
}

// A read error must be reported, never passed off as the end of the file
// with whatever the buffer held.
TEST_F(DoubleBuffering, ReadErrorIsReportedAndNoStaleBytesAreHandedOut)
{
    const std::string content = pattern(5000, 11);
    const std::string path = writeFile(content);
    for (size_t good : {0u, 100u, 511u, 512u, 700u, 1024u, 1500u, 2048u, 2100u}) {
        SCOPED_TRACE(good);
        std::ifstream in(path, std::ios::binary);
        FailingBuf failing(content, good);
        static_cast<std::ios&>(in).rdbuf(&failing);
        std::vector<char> buffer = markedBuffer(1024);
        std::string bytes;
        std::string error;
        try {
            CDoubleBuffering reader(in, buffer.data(), 1024, 384);
            try {
                drain(reader, {-1}, bytes);
            } catch (const char* text) {
                error = text;
                char block[384];
                // Every later call reports the error again.
                EXPECT_EQ(thrown([&] { reader.GetData(block, -1); }), kReadError);
                EXPECT_EQ(thrown([&] { reader.GetData(block, 1); }), kReadError);
            }
        } catch (const char* text) {
            error = text;
        }
        EXPECT_EQ(error, kReadError);
        // What was handed out before the error is the file's own beginning.
        EXPECT_LE(bytes.size(), good);
        EXPECT_EQ(bytes, content.substr(0, bytes.size()));
    }
}
