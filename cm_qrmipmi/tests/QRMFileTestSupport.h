#ifndef CM_QRMIPMI_TESTS_QRMFILETESTSUPPORT_H
#define CM_QRMIPMI_TESTS_QRMFILETESTSUPPORT_H

// What the file and file-utility tests share.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "PlatformLayer.h"
#include "QRMString.h"
#include "ScopedSeam.h"
#include "SimPlatform.h"

inline QRMString S(const std::string& text)
{
    return QRMString(text.c_str(), QRMString::QRM_ENCODING_UTF8);
}

inline std::string Text(const QRMString& s)
{
    return s.GetUTF8String();
}

// Every test works in a fresh directory under /tmp, made from the mkdtemp
// template given, with shell commands recorded: they succeed without
// running unless a test asks for the real shell, and never download.
class ScratchDirectoryTest : public ::testing::Test {
protected:
    explicit ScratchDirectoryTest(const char* pattern) : m_pattern(pattern) {}

    void SetUp() override
    {
        std::vector<char> name(m_pattern.begin(), m_pattern.end());
        name.push_back('\0');
        ASSERT_NE(nullptr, mkdtemp(name.data()));
        m_dir = name.data();
        ASSERT_NE(nullptr, getcwd(m_previous, sizeof(m_previous)));
        ASSERT_EQ(0, chdir(m_dir.c_str()));
        m_platform.answerOthers(0);
    }

    void TearDown() override
    {
        if (chdir(m_previous) != 0)
            ADD_FAILURE() << "cannot return to " << m_previous;
        const std::string command = "rm -rf '" + m_dir + "'";
        if (system(command.c_str()) != 0)
            ADD_FAILURE() << "cannot remove " << m_dir;
    }

    static void Write(const std::string& path, const std::string& content)
    {
        std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
        out << content;
    }

    static std::string Read(const std::string& path)
    {
        std::ifstream in(path.c_str(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static bool IsDir(const std::string& path)
    {
        struct stat info;
        return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }

    static bool PathExists(const std::string& path)
    {
        struct stat info;
        return lstat(path.c_str(), &info) == 0;
    }

    std::string m_pattern;
    std::string m_dir;
    char m_previous[4096];
    SimPlatform m_platform;
    ScopedSeam<CPlatformLayer> m_installed{m_platform};
};

#endif
