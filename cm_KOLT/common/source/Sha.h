#ifndef CM_KOLT_SHA_H
#define CM_KOLT_SHA_H

// SHA-256 engine (FIPS 180-4) with hexadecimal helpers. One object serves
// one digest at a time and resets itself after each. Failures are thrown
// as std::string texts that begin "FileDigest ERROR".

#include <cstddef>
#include <string>

// The SHA-256 compression over whole 64-byte blocks. The engine takes the
// processor's SHA instructions where it has them and the portable code
// otherwise; both are open here so that each can be checked on its own.
void Sha256BlocksPortable(unsigned int state[8], const unsigned char* blocks, size_t count);
bool Sha256AcceleratedAvailable();
// Only where Sha256AcceleratedAvailable() is true.
void Sha256BlocksAccelerated(unsigned int state[8], const unsigned char* blocks, size_t count);

class CSHA {
public:
    CSHA();

    void Reset();
    // Throws on a negative length.
    void AddData(const char* data, int length);
    // Writes the 32 binary digest bytes (no terminator), then resets.
    // Throws when no AddData came first.
    void FinalDigest(char* digest);
    // Compresses the block buffer into the state words.
    void Transform();
    // The 32 binary digest bytes of the file (an empty file included);
    // throws when it cannot be opened or read to its end.
    void DigestFile(const std::string& path, char* digest);
    // Digest of the file named by input (isFile) or of input's bytes, as 64
    // lower-case hexadecimal characters and a zero byte: output holds 65.
    void CalculateSHA256(const std::string& input, bool isFile, char* output);

    // Hexadecimal conversions. The readers accept '0'-'9' and 'A'-'F' only;
    // the writers produce lower case.
    static bool Hex2Char(const char* text, unsigned char& value);
    static bool Hex2Binary(const char* text, unsigned char* bytes, int count);
    static void Binary2Hex(const unsigned char* bytes, int count, char* text);
    static void Char2Hex(unsigned char value, char* text);

private:
    void Compress(const unsigned char* blocks, size_t count);

    bool m_bAddData;
    unsigned int m_auiHash[8];
    unsigned int m_auiCount[2];   // message length in bits, low word first
    unsigned char m_aucBuffer[64];

    static const unsigned int sm_H256[8];

public:
    static const unsigned int sm_K256[64];
};

#endif
