#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "QRMIPMIXMLConfiguration.h"
#include "TempDir.h"

namespace {

QRMString S(const char* text) { return QRMString(text, QRMString::QRM_ENCODING_UTF8); }

std::string Nested(const std::string& keys)
{
    return "<?xml version=\"1.0\"?>\n"
           "<QRMIPMIConfig>\n"
           "  <Device name=\"Default\">\n"
           "    <Settings name=\"Default\">\n" + keys + "\n"
           "    </Settings>\n"
           "  </Device>\n"
           "</QRMIPMIConfig>\n";
}

// The reader keeps its document for the life of the process; the tests'
// short-lived readers hand it back themselves.
class TestConfig : public QRMIPMIXMLConfig {
public:
    using QRMIPMIXMLConfig::QRMIPMIXMLConfig;
    ~TestConfig() override { Release(); }
};

class XMLConfigTest : public ::testing::Test {
protected:
    // Value of a key, or -999 when the key is not answered.
    int Get(QRMIPMIXMLConfig& config, const char* key)
    {
        int value = -999;
        return config.GetConfigInt(S(key), &value) ? value : -999;
    }

    TempDir dir;
};

TEST_F(XMLConfigTest, ReadsKeysThreeLevelsBelowTheRoot)
{
    dir.write("QRMIPMIConfig.xml", Nested("<RetryCount>3</RetryCount><RetryInterval>75</RetryInterval>"
                                          "<PollingCount>9</PollingCount><PollingInterval>11</PollingInterval>"));
    TestConfig config(S("QRMIPMIConfig.xml"));
    EXPECT_TRUE(config.Initialize());
    EXPECT_EQ(Get(config, "RetryCount"), 3);
    EXPECT_EQ(Get(config, "RetryInterval"), 75);
    EXPECT_EQ(Get(config, "PollingCount"), 9);
    EXPECT_EQ(Get(config, "PollingInterval"), 11);
    // Names are compared exactly.
    EXPECT_EQ(Get(config, "retrycount"), -999);
    EXPECT_EQ(Get(config, "Missing"), -999);
}

TEST_F(XMLConfigTest, MissingKeyLeavesValueUntouched)
{
    dir.write("QRMIPMIConfig.xml", Nested("<RetryCount>3</RetryCount>"));
    TestConfig config(S("QRMIPMIConfig.xml"));
    int value = 1234;
    EXPECT_FALSE(config.GetConfigInt(S("RetryInterval"), &value));
    EXPECT_EQ(value, 1234);
    // GetConfigInt initialises on demand.
    EXPECT_TRUE(config.GetConfigInt(S("RetryCount"), &value));
    EXPECT_EQ(value, 3);
}

TEST_F(XMLConfigTest, ValueConversion)
{
    const struct {
        const char* text;
        int value;
    } cases[] = {{" 7", 7}, {"abc", 0}, {"12ab", 12}, {"-3", -3}, {"+8", 8}, {"", 0}, {"\n  42\n", 42}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        dir.write("QRMIPMIConfig.xml", Nested(std::string("<RetryCount>") + c.text + "</RetryCount>"));
        TestConfig config(S("QRMIPMIConfig.xml"));
        EXPECT_EQ(Get(config, "RetryCount"), c.value);
    }
}

// Cut to an int these would come back as unrelated numbers (4294967295 as -1).
TEST_F(XMLConfigTest, ValuesBeyondTheIntRangeAreNotAnswered)
{
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", -999},
        {"4294967295", -999},
        {"-2147483649", -999},
        {"99999999999999999999999", -999},
        {"-99999999999999999999999", -999},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        dir.write("QRMIPMIConfig.xml", Nested(std::string("<RetryCount>") + c.text + "</RetryCount>"));
        TestConfig config(S("QRMIPMIConfig.xml"));
        EXPECT_EQ(Get(config, "RetryCount"), c.value);
    }
}

TEST_F(XMLConfigTest, DocumentsWithoutTheTwoDefaultLevels)
{
    const struct {
        const char* name;
        std::string xml;
    } cases[] = {
        {"keys directly under a Default child of the root",
         "<R><D name=\"Default\"><RetryCount>3</RetryCount></D></R>"},
        {"keys directly under the root", "<R name=\"Default\"><RetryCount>3</RetryCount></R>"},
        {"lower-case default",
         "<R><D name=\"default\"><S name=\"Default\"><RetryCount>3</RetryCount></S></D></R>"},
        {"trailing blank",
         "<R><D name=\"Default\"><S name=\"Default \"><RetryCount>3</RetryCount></S></D></R>"},
        {"other attribute", "<R><D id=\"Default\"><S name=\"Default\"><RetryCount>3</RetryCount></S></D></R>"},
        {"only the first Default child of the root counts",
         "<R><D name=\"Default\"><S name=\"Other\"/></D>"
         "<D name=\"Default\"><S name=\"Default\"><RetryCount>3</RetryCount></S></D></R>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir.write("QRMIPMIConfig.xml", c.xml);
        TestConfig config(S("QRMIPMIConfig.xml"));
        EXPECT_TRUE(config.Initialize());
        EXPECT_EQ(config.GetDefaultConfigNode(), nullptr);
        EXPECT_EQ(Get(config, "RetryCount"), -999);
    }
}

TEST_F(XMLConfigTest, FirstDefaultChildAtEachLevelWins)
{
    dir.write("QRMIPMIConfig.xml",
              "<R><X name=\"Other\"><S name=\"Default\"><RetryCount>1</RetryCount></S></X>"
              "<D name=\"Default\"><S name=\"Other\"><RetryCount>2</RetryCount></S>"
              "<S name=\"Default\"><RetryCount>3</RetryCount></S>"
              "<S name=\"Default\"><RetryCount>4</RetryCount></S></D></R>");
    TestConfig config(S("QRMIPMIConfig.xml"));
    EXPECT_EQ(Get(config, "RetryCount"), 3);
    xmlNodePtr node = config.GetDefaultConfigNode();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(config.GetDefaultConfigNode(), node);
}

TEST_F(XMLConfigTest, MissingOrMalformedFileFailsAndIsRetried)
{
    TestConfig config(S("QRMIPMIConfig.xml"));
    EXPECT_FALSE(config.Initialize());
    EXPECT_EQ(Get(config, "RetryCount"), -999);

    dir.write("QRMIPMIConfig.xml", "<R><D name=\"Default\">");   // not well-formed
    EXPECT_FALSE(config.Initialize());
    dir.write("QRMIPMIConfig.xml", "");
    EXPECT_FALSE(config.Initialize());

    dir.write("QRMIPMIConfig.xml", Nested("<RetryCount>3</RetryCount>"));
    EXPECT_TRUE(config.Initialize());
    EXPECT_EQ(Get(config, "RetryCount"), 3);

    // Parsed once: later changes are not seen.
    dir.write("QRMIPMIConfig.xml", Nested("<RetryCount>8</RetryCount>"));
    EXPECT_TRUE(config.Initialize());
    EXPECT_EQ(Get(config, "RetryCount"), 3);
}

TEST_F(XMLConfigTest, OnlyARegularFileIsRead)
{
    // A pipe without a writer would hold the parser for good.
    ASSERT_EQ(0, mkfifo("QRMIPMIConfig.xml", 0600));
    TestConfig config(S("QRMIPMIConfig.xml"));
    EXPECT_FALSE(config.Initialize());
    ASSERT_EQ(0, unlink("QRMIPMIConfig.xml"));
    ASSERT_EQ(0, mkdir("QRMIPMIConfig.xml", 0700));
    EXPECT_FALSE(config.Initialize());
    ASSERT_EQ(0, rmdir("QRMIPMIConfig.xml"));

    // A link to a regular file is read like the file.
    dir.write("settings.xml", Nested("<RetryCount>3</RetryCount>"));
    ASSERT_EQ(0, symlink("settings.xml", "QRMIPMIConfig.xml"));
    EXPECT_TRUE(config.Initialize());
    EXPECT_EQ(Get(config, "RetryCount"), 3);
}

TEST_F(XMLConfigTest, FileNameIsResolvedInTheWorkingDirectoryAndCanBeChanged)
{
    dir.write("other.xml", Nested("<RetryCount>6</RetryCount>"));
    TestConfig config(S("QRMIPMIConfig.xml"));
    EXPECT_FALSE(config.Initialize());
    config.SetConfigurationFileName(S("other.xml"));
    EXPECT_TRUE(config.Initialize());
    EXPECT_EQ(Get(config, "RetryCount"), 6);
}

TEST_F(XMLConfigTest, ReleaseForgetsTheDocument)
{
    dir.write("QRMIPMIConfig.xml", Nested("<RetryCount>3</RetryCount>"));
    TestConfig config(S("QRMIPMIConfig.xml"));
    EXPECT_EQ(Get(config, "RetryCount"), 3);
    EXPECT_TRUE(config.Release());
    dir.write("QRMIPMIConfig.xml", Nested("<RetryCount>4</RetryCount>"));
    EXPECT_EQ(Get(config, "RetryCount"), 4);
    EXPECT_TRUE(config.Release());
}

TEST_F(XMLConfigTest, DestroyingTheReaderLeavesItsDocument)
{
    dir.write("QRMIPMIConfig.xml", Nested("<RetryCount>3</RetryCount>"));
    QRMIPMIXMLConfig* config = new QRMIPMIXMLConfig(S("QRMIPMIConfig.xml"));
    EXPECT_EQ(Get(*config, "RetryCount"), 3);
    xmlNodePtr node = config->GetDefaultConfigNode();
    ASSERT_NE(node, nullptr);
    delete config;
    // Still readable: only the file name went with the reader.
    EXPECT_STREQ(reinterpret_cast<const char*>(node->name), "Settings");
    xmlFreeDoc(node->doc);
}

} // namespace
