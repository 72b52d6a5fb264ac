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

// Digests of messages of n letters 'a' around the padding limits (55 bytes
// pad within their block, 56 to 63 need a second one) and the block size,
// taken with md5sum and sha256sum.
struct KnownDigests {
    size_t length;
    const char* md5;
    const char* sha256;
};
inline const KnownDigests kLettersADigests[] = {
    {0, "d41d8cd98f00b204e9800998ecf8427e", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {55, "ef1772b6dff9a122358552954ad0df65", "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {56, "3b0c8ac703f828b04c6c197006d17218", "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    {63, "b06521f39153d618550606be297466d5", "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
    {64, "014842d480b571495a4a0363793f7367", "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    {65, "c743a45e0d2e6a95cb859adae0248435", "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
    {119, "8a7bd0732ed6a28ce75f6dabc90e1613", "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
    {120, "5f61c0ccad4cac44c75ff505e1f1e537", "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
};

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
