#ifndef CM_KOLT_MD5_H
#define CM_KOLT_MD5_H

// MD5 message digest (RFC 1321): the reference routines as members of a
// class without state, so that every caller keeps its own context.

// Digest in progress: state words, message length in bits (low word
// first) and the input that does not yet fill a 64-byte block.
struct MD5_CTX {
    unsigned int state[4];
    unsigned int count[2];
    unsigned char buffer[64];
};

class MD5 {
public:
    void MD5Init(MD5_CTX* context);
    void MD5Update(MD5_CTX* context, unsigned char* input, unsigned int inputLen);
    // Writes the 16 digest bytes and wipes the context.
    void MD5Final(unsigned char digest[16], MD5_CTX* context);

    void MD5Transform(unsigned int state[4], unsigned char block[64]);
    void Encode(unsigned char* output, unsigned int* input, unsigned int len);
    void Decode(unsigned int* output, unsigned char* input, unsigned int len);
    void MD5_memcpy(unsigned char* output, unsigned char* input, unsigned int len);
    void MD5_memset(unsigned char* output, int value, unsigned int len);
};

#endif
