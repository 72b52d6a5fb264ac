#ifndef CM_KOLT_TESTS_DIGESTTESTSUPPORT_H
#define CM_KOLT_TESTS_DIGESTTESTSUPPORT_H

// Files and reference digests for the digest tests: contents are fixed
// pseudo-random bytes, references come from coreutils run on the same file.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <random>
#include <string>

// The file sizes around the digests' block, chunk and buffer boundaries,
// and one of a few MiB that is not a multiple of any of them.
inline const size_t kDigestFileSizes[] = {0, 1, 55, 56, 63, 64, 65, 383, 384, 385, 511, 512, 513,
                                          1023, 1024, 1025, 4096, 3 * 1048576 + 7};

inline std::string PseudoRandomBytes(size_t length, unsigned seed)
{
    std::string out(length, '\0');
    std::mt19937 gen(seed);
    for (char& c : out)
        c = static_cast<char>(gen() & 0xFF);
    return out;
}

// The digest that "<tool> <path>" prints first on its line; fails the test
// when the tool does not run cleanly.
inline std::string CoreutilsDigest(const std::string& tool, const std::string& path)
{
    const std::string command = tool + " '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return "";
    }
    std::string output;
    char block[256];
    size_t got;
    while ((got = fread(block, 1, sizeof(block), pipe)) > 0)
        output.append(block, got);
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << ": " << output;
    return output.substr(0, output.find(' '));
}

#endif
