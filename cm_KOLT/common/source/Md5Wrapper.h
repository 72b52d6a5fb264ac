#ifndef CM_KOLT_MD5WRAPPER_H
#define CM_KOLT_MD5WRAPPER_H

// MD5 digests of texts and files as 32 lower-case hexadecimal characters.
// Keeps no state between calls, so one instance serves every caller.

#include <string>

class MD5;

class md5wrapper {
public:
    md5wrapper();
    ~md5wrapper();

    std::string getHashFromString(std::string text);
    // "-1" when the file cannot be opened or read to its end: callers store
    // and compare that text in place of a digest, and it never equals one.
    std::string getHashFromFile(std::string filename);
    // Same as getHashFromString.
    std::string hashit(std::string text);
    // The 16 digest bytes as 32 characters.
    std::string convToString(unsigned char* bytes);

private:
    md5wrapper(const md5wrapper&) = delete;
    md5wrapper& operator=(const md5wrapper&) = delete;

    MD5* md5;
};

#endif
