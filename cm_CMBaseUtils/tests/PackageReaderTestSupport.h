#ifndef CM_CMBASEUTILS_TESTS_PACKAGEREADERTESTSUPPORT_H
#define CM_CMBASEUTILS_TESTS_PACKAGEREADERTESTSUPPORT_H

// Test-only: what the package reader's tests share.

#include <gtest/gtest.h>

#include <string>

#include "Logger.h"
#include "TempDir.h"

// A file of this subsystem's test data folder; `name` may lead with a
// subfolder.
inline std::string testData(const std::string& name)
{
    return readWholeFile(std::string(ZAGO_TEST_DATA_DIR) + "/" + name);
}

// A package.xml whose SupportedDevices element holds `devices`.
inline std::string packageWithDevices(const std::string& devices)
{
    return "<?xml version=\"1.0\"?>\n<SoftwareComponent>\n  <SupportedDevices>\n" + devices +
           "  </SupportedDevices>\n</SoftwareComponent>\n";
}

inline bool contains(const std::string& text, const std::string& needle)
{
    return text.find(needle) != std::string::npos;
}

// A fresh working directory with the debug log open, so tests can see the
// reader's messages.
class PackageFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CLogger::GetInstance()->Initialize("test.log")); }
    std::string log() const { return dir.read("test.log"); }

    TempDir dir;
};

#endif
