#include "Md5Wrapper.h"

#include <cstdio>
#include <limits>
#include <memory>

#include "Md5.h"

namespace {

const char* const kUnreadable = "-1";

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

} // namespace

md5wrapper::md5wrapper() : md5(new MD5) {}

md5wrapper::~md5wrapper()
{
    delete md5;
}

std::string md5wrapper::getHashFromString(std::string text)
{
    MD5_CTX context;
    md5->MD5Init(&context);
    // The routines count in unsigned int; feed longer texts in pieces.
    unsigned char* data = reinterpret_cast<unsigned char*>(&text[0]);
    size_t left = text.size();
    do {
        const unsigned int piece =
            left > std::numeric_limits<unsigned int>::max() ? std::numeric_limits<unsigned int>::max()
                                                            : static_cast<unsigned int>(left);
        md5->MD5Update(&context, data, piece);
        data += piece;
        left -= piece;
    } while (left != 0);
    unsigned char digest[16];
    md5->MD5Final(digest, &context);
    return convToString(digest);
}

std::string md5wrapper::convToString(unsigned char* bytes)
{
    char text[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
    return std::string(text, 32);
}

std::string md5wrapper::hashit(std::string text)
{
    return getHashFromString(text);
}

std::string md5wrapper::getHashFromFile(std::string filename)
{
    // A larger stream buffer saves system calls; the digest still takes the
    // file in 1024-byte blocks and never holds more of it. Declared first so
    // that it outlives the stream.
    char streamBuffer[64 * 1024];
    std::unique_ptr<FILE, FileCloser> file(std::fopen(filename.c_str(), "rb"));
    if (!file)
        return kUnreadable;
    std::setvbuf(file.get(), streamBuffer, _IOFBF, sizeof(streamBuffer));

    MD5_CTX context;
    md5->MD5Init(&context);
    unsigned char block[1024];
    size_t got;
    while ((got = std::fread(block, 1, sizeof(block), file.get())) > 0)
        md5->MD5Update(&context, block, static_cast<unsigned int>(got));

    // fread also ends on a read error (or on a directory, which opens but
    // does not read); the digest of the bytes read so far would pass for
    // the file's own, so the file counts as unreadable.
    const bool readError = std::ferror(file.get()) != 0;
    unsigned char digest[16];
    md5->MD5Final(digest, &context);
    file.reset();
    if (readError)
        return kUnreadable;
    return convToString(digest);
}
