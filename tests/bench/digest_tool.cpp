// digest_tool md5|sha256 FILE...
// Prints "<digest>  <file>" per file, as md5sum and sha256sum do, computed
// by the staging code's own digest routines. Exit 1 when a file cannot be
// digested, 2 on wrong usage.

#include <cstdio>
#include <cstring>
#include <string>

#include "Md5Wrapper.h"
#include "Sha.h"

int main(int argc, char** argv)
{
    if (argc < 3 || (std::strcmp(argv[1], "md5") != 0 && std::strcmp(argv[1], "sha256") != 0)) {
        std::fprintf(stderr, "usage: %s md5|sha256 FILE...\n", argv[0]);
        return 2;
    }
    const bool md5 = std::strcmp(argv[1], "md5") == 0;
    int status = 0;
    for (int i = 2; i < argc; ++i) {
        std::string digest;
        if (md5) {
            md5wrapper wrapper;
            digest = wrapper.getHashFromFile(argv[i]);
            if (digest == "-1") {
                std::fprintf(stderr, "%s: cannot read\n", argv[i]);
                status = 1;
                continue;
            }
        } else {
            try {
                char text[65];
                CSHA().CalculateSHA256(argv[i], true, text);
                digest = text;
            } catch (const std::string& error) {
                std::fprintf(stderr, "%s\n", error.c_str());
                status = 1;
                continue;
            }
        }
        std::printf("%s  %s\n", digest.c_str(), argv[i]);
    }
    return status;
}
