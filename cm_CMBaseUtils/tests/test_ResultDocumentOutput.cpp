#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "ResultDocumentOutput.h"
#include "TempDir.h"

TEST(ResultDocumentOutput, UnopenableFileIsNoErrorAndLeavesTheStreamClosed)
{
    TempDir dir;
    std::ofstream file;
    std::string error;
    EXPECT_TRUE(OpenResultFile(file, dir.file("missing/out.xml"), error));
    EXPECT_FALSE(file.is_open());
    EXPECT_EQ(error, "");
    EXPECT_FALSE(dir.exists("missing"));
}

TEST(ResultDocumentOutput, ExceptionWhileOpeningIsHandedBack)
{
    TempDir dir;
    std::ofstream file;
    file.exceptions(std::ios::failbit);
    std::string error;
    EXPECT_FALSE(OpenResultFile(file, dir.file("missing/out.xml"), error));
    EXPECT_NE(error, "");
}

TEST(ResultDocumentOutput, OpenFileTakesTheTextAndReplacesOldContent)
{
    TempDir dir;
    dir.write("out.xml", std::string(300, 'z'));
    std::string error;
    bool toFile = false;
    {
        std::ofstream file;
        ASSERT_TRUE(OpenResultFile(file, "out.xml", error));
        testing::internal::CaptureStdout();
        EXPECT_TRUE(WriteResultText(file, "<a/>", toFile, error));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
    EXPECT_TRUE(toFile);
    EXPECT_EQ(dir.read("out.xml"), "<a/>");
}

TEST(ResultDocumentOutput, ClosedFileSendsTheTextToStandardOutput)
{
    std::ofstream file;
    std::string error;
    bool toFile = true;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(WriteResultText(file, "<a/>", toFile, error));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "<a/>");
    EXPECT_FALSE(toFile);
}

TEST(ResultDocumentOutput, ExceptionWhileWritingIsHandedBack)
{
    TempDir dir;
    std::ofstream file;
    std::string error;
    ASSERT_TRUE(OpenResultFile(file, "out.xml", error));
    // A stream that went bad fails the next write; with failures raising
    // exceptions that write throws.
    file.setstate(std::ios::badbit);
    file.exceptions(std::ios::failbit);
    bool toFile = false;
    EXPECT_FALSE(WriteResultText(file, "<a/>", toFile, error));
    EXPECT_NE(error, "");
}
