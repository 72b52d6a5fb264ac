// A place on a controller partition: what a staged text parses into, what
// it is refused for, and every text rendered from it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TessaPath.h"

namespace {

using Strings = std::vector<std::string>;
using Fault = TessaPath::Fault;

const char* const kMount = "/tmp/SECUPD/";

TEST(TessaPath, StagedTextsAndTheirRenderings)
{
    const struct {
        std::string text;
        std::string partition;
        std::string inPartition;
        Strings folders;
        std::string packageBeside;   // the entry "package.xml" in the same root
    } cases[] = {
        {"tes022/1234/current/fw.bin", "tes022", "1234/current/fw.bin", {"1234", "1234/current"},
         "tes022/package.xml"},
        {"tes022/1234", "tes022", "1234", {}, "tes022/package.xml"},
        {"/payload/fw.bin", "", "payload/fw.bin", {"payload"}, "/package.xml"},
        {"/payload", "", "payload", {}, "/package.xml"},
        // A text without "/" is its own first component and its own path
        // inside the partition.
        {"package.xml", "package.xml", "package.xml", {}, "package.xml"},
        {"tes022", "tes022", "tes022", {}, "package.xml"},
        // The empty text is the root.
        {"", "", "", {}, "package.xml"},
        // Dots that are not a whole name, blanks and the document's
        // characters are names like any other.
        {"tes022/..a/b../.../fw.bin", "tes022", "..a/b../.../fw.bin", {"..a", "..a/b..", "..a/b../..."},
         "tes022/package.xml"},
        {"tes022/a b/x;y&<z>.bin", "tes022", "a b/x;y&<z>.bin", {"a b"}, "tes022/package.xml"},
        // The partition's name is only looked up: any text without a
        // separator names one.
        {"../payload/fw.bin", "..", "payload/fw.bin", {"payload"}, "../package.xml"},
        {"12abc/x", "12abc", "x", {}, "12abc/package.xml"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Fault fault = Fault::emptyName;
        const std::optional<TessaPath> place = TessaPath::parse(c.text, &fault);
        ASSERT_TRUE(place.has_value());
        EXPECT_EQ(fault, Fault::none);
        EXPECT_EQ(place->text(), c.text);
        EXPECT_EQ(place->partitionName(), c.partition);
        EXPECT_EQ(place->inPartition(), c.inPartition);
        EXPECT_EQ(place->under(kMount), kMount + c.inPartition);
        EXPECT_EQ(place->folders(), c.folders);
        const std::optional<TessaPath> package = place->inRoot("package.xml");
        ASSERT_TRUE(package.has_value());
        EXPECT_EQ(package->text(), c.packageBeside);
        EXPECT_EQ(package->under(kMount), std::string(kMount) + "package.xml");
    }
}

TEST(TessaPath, TextsThatNameNoPlace)
{
    const struct {
        std::string text;
        Fault fault;
    } cases[] = {
        {"tes022//fw.bin", Fault::emptyName},
        {"tes022/1234/", Fault::emptyName},
        {"tes022/", Fault::emptyName},
        {"/", Fault::emptyName},
        {"//payload", Fault::emptyName},
        {"tes022/./fw.bin", Fault::dotName},
        {"/payload/.", Fault::dotName},
        {".", Fault::dotName},
        {"tes022/../victim/current/fw.bin", Fault::parentName},
        {"tes022/1234/current/..", Fault::parentName},
        {"/payload/../../x", Fault::parentName},
        {"..", Fault::parentName},
        {"tes022/1234\\current/fw.bin", Fault::separator},
        {"tes022\\1234/fw.bin", Fault::separator},
        {"C:\\pkg\\a.bin", Fault::separator},
        {std::string("tes022/fw.bin\0/../x", 19), Fault::nulByte},
        {std::string("tes\0/x", 6), Fault::nulByte},
        // The first fault from the left is the one reported.
        {"tes022//../x", Fault::emptyName},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Fault fault = Fault::none;
        EXPECT_FALSE(TessaPath::parse(c.text, &fault).has_value());
        EXPECT_EQ(fault, c.fault);
        EXPECT_FALSE(TessaPath::parse(c.text).has_value());
    }
}

TEST(TessaPath, BuiltFromNamesEachCheckedAsOneName)
{
    const std::optional<TessaPath> file = TessaPath::on("tes022", {"1234", "current", "fw.bin"});
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->text(), "tes022/1234/current/fw.bin");
    const std::optional<TessaPath> folder = TessaPath::on("", {"payload"});
    ASSERT_TRUE(folder.has_value());
    EXPECT_EQ(folder->text(), "/payload");

    // A name holding a separator would be two levels, not the one asked for.
    const struct {
        std::string partition;
        Strings names;
        Fault fault;
    } refused[] = {
        {"tes022", {"1234/5678", "current"}, Fault::separator},
        {"tes022", {"1234", "a\\b"}, Fault::separator},
        {"tes/022", {"1234"}, Fault::separator},
        {"tes022", {"1234", ".."}, Fault::parentName},
        {"tes022", {"", "current"}, Fault::emptyName},
        {"tes022", {}, Fault::emptyName},
    };
    for (const auto& c : refused) {
        Fault fault = Fault::none;
        EXPECT_FALSE(TessaPath::on(c.partition, c.names, &fault).has_value()) << c.partition;
        EXPECT_EQ(fault, c.fault) << c.partition;
    }
    EXPECT_FALSE(file->inRoot("..").has_value());
    EXPECT_FALSE(file->inRoot("a/b").has_value());
}

TEST(TessaPath, OneName)
{
    for (const char* name : {"fw.bin", "...", "..a", "a b", "1234"})
        EXPECT_TRUE(TessaPath::isName(name)) << name;
    for (const std::string& name : {std::string(), std::string("."), std::string(".."), std::string("a/b"),
                                    std::string("a\\b"), std::string("a\0b", 3)})
        EXPECT_FALSE(TessaPath::isName(name)) << name;
}

// What a partition-row lookup reads, of any text, checked or not.
TEST(TessaPath, FirstComponentOfAnyText)
{
    const struct {
        const char* text;
        const char* first;
    } cases[] = {{"tes022/x", "tes022"}, {"x", "x"}, {"", ""}, {"/x", ""}, {"22/../x", "22"}, {"a\\b/c", "a\\b"}};
    for (const auto& c : cases)
        EXPECT_EQ(TessaPath::firstComponentOf(c.text), c.first) << c.text;
}

} // namespace
