#include "Sha.h"

#include <climits>
#include <cstring>
#include <fstream>

#include "DoubleBuffering.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

static_assert(sizeof(unsigned int) == 4, "SHA-256 works on 32-bit words");

const unsigned int CSHA::sm_K256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

const unsigned int CSHA::sm_H256[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

namespace {

const char* const kNegativeLength = "FileDigest ERROR: in CSHA::AddData(), Data Length should be >= 0!";
const char* const kNoData = "FileDigest ERROR: in CSHA::FinalDigest(), No data Added before call!";
const char* const kCannotOpen = "FileDigest ERROR: in IMessageDigest::DigestFile(): Cannot open File ";
const char* const kCannotRead = "FileDigest ERROR: in IMessageDigest::DigestFile(): Cannot read File ";

inline unsigned int Ror(unsigned int x, int n)
{
    return (x >> n) | (x << (32 - n));
}

inline unsigned int LoadBigEndian(const unsigned char* p)
{
    return (static_cast<unsigned int>(p[0]) << 24) | (static_cast<unsigned int>(p[1]) << 16) |
           (static_cast<unsigned int>(p[2]) << 8) | static_cast<unsigned int>(p[3]);
}

inline void StoreBigEndian(unsigned int value, unsigned char* p)
{
    p[0] = static_cast<unsigned char>(value >> 24);
    p[1] = static_cast<unsigned char>(value >> 16);
    p[2] = static_cast<unsigned char>(value >> 8);
    p[3] = static_cast<unsigned char>(value);
}

// Accepts the digits the readers take; lower-case letters are refused.
inline bool HexDigit(char c, unsigned char& value)
{
    if (c >= '0' && c <= '9') {
        value = static_cast<unsigned char>(c - '0');
        return true;
    }
    if (c >= 'A' && c <= 'F') {
        value = static_cast<unsigned char>(c - 'A' + 10);
        return true;
    }
    return false;
}

using BlockFunction = void (*)(unsigned int*, const unsigned char*, size_t);

} // namespace

void Sha256BlocksPortable(unsigned int state[8], const unsigned char* blocks, size_t count)
{
    const unsigned int* const k = CSHA::sm_K256;
    for (; count != 0; --count, blocks += 64) {
        unsigned int w[64];
        for (int t = 0; t < 16; ++t)
            w[t] = LoadBigEndian(blocks + 4 * t);
        for (int t = 16; t < 64; ++t) {
            const unsigned int s0 = Ror(w[t - 15], 7) ^ Ror(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const unsigned int s1 = Ror(w[t - 2], 17) ^ Ror(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }

        unsigned int a = state[0], b = state[1], c = state[2], d = state[3];
        unsigned int e = state[4], f = state[5], g = state[6], h = state[7];

        // Eight rounds per step, the roles of the working variables rotated
        // by name instead of by moving values.
#define SHA256_ROUND(a, b, c, d, e, f, g, h, t)                                                        \
    do {                                                                                               \
        const unsigned int t1 =                                                                        \
            h + (Ror(e, 6) ^ Ror(e, 11) ^ Ror(e, 25)) + (g ^ (e & (f ^ g))) + k[t] + w[t];             \
        const unsigned int t2 = (Ror(a, 2) ^ Ror(a, 13) ^ Ror(a, 22)) + ((a & b) | (c & (a | b)));     \
        d += t1;                                                                                       \
        h = t1 + t2;                                                                                   \
    } while (0)

        for (int t = 0; t < 64; t += 8) {
            SHA256_ROUND(a, b, c, d, e, f, g, h, t);
            SHA256_ROUND(h, a, b, c, d, e, f, g, t + 1);
            SHA256_ROUND(g, h, a, b, c, d, e, f, t + 2);
            SHA256_ROUND(f, g, h, a, b, c, d, e, t + 3);
            SHA256_ROUND(e, f, g, h, a, b, c, d, t + 4);
            SHA256_ROUND(d, e, f, g, h, a, b, c, t + 5);
            SHA256_ROUND(c, d, e, f, g, h, a, b, t + 6);
            SHA256_ROUND(b, c, d, e, f, g, h, a, t + 7);
        }
#undef SHA256_ROUND

        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#if defined(__x86_64__) || defined(__i386__)

bool Sha256AcceleratedAvailable()
{
    unsigned int eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const bool ssse3 = (ecx & bit_SSSE3) != 0;
    const bool sse41 = (ecx & bit_SSE4_1) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    const bool sha = (ebx & bit_SHA) != 0;
    return ssse3 && sse41 && sha;
}

// Four rounds per step: the message words of the step plus their round
// constants feed two SHA256RNDS2, the state travelling as ABEF and CDGH.
__attribute__((target("sha,sse4.1,ssse3")))
void Sha256BlocksAccelerated(unsigned int state[8], const unsigned char* blocks, size_t count)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; count != 0; --count, blocks += 64) {
        const __m128i abefSaved = abef;
        const __m128i cdghSaved = cdgh;
        __m128i m[4];
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i) {
            if (i < 4) {
                m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byteSwap);
            } else {
                __m128i x = _mm_sha256msg1_epu32(m[i & 3], m[(i - 3) & 3]);
                x = _mm_add_epi32(x, _mm_alignr_epi8(m[(i - 1) & 3], m[(i - 2) & 3], 4));
                m[i & 3] = _mm_sha256msg2_epu32(x, m[(i - 1) & 3]);
            }
            __m128i wk = _mm_add_epi32(m[i & 3], _mm_loadu_si128(reinterpret_cast<const __m128i*>(&CSHA::sm_K256[4 * i])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
            wk = _mm_shuffle_epi32(wk, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
        }
        abef = _mm_add_epi32(abef, abefSaved);
        cdgh = _mm_add_epi32(cdgh, cdghSaved);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), hgfe);
}

#else

bool Sha256AcceleratedAvailable()
{
    return false;
}

void Sha256BlocksAccelerated(unsigned int state[8], const unsigned char* blocks, size_t count)
{
    Sha256BlocksPortable(state, blocks, count);
}

#endif

CSHA::CSHA()
{
    Reset();
}

void CSHA::Reset()
{
    std::memcpy(m_auiHash, sm_H256, sizeof(m_auiHash));
    m_auiCount[0] = m_auiCount[1] = 0;
    m_bAddData = false;
}

void CSHA::Transform()
{
    Compress(m_aucBuffer, 1);
}

void CSHA::Compress(const unsigned char* blocks, size_t count)
{
    static const BlockFunction compress =
        Sha256AcceleratedAvailable() ? Sha256BlocksAccelerated : Sha256BlocksPortable;
    compress(m_auiHash, blocks, count);
}

void CSHA::AddData(const char* data, int length)
{
    if (length < 0)
        throw std::string(kNegativeLength);

    const unsigned int pending = (m_auiCount[0] >> 3) & 0x3F;
    const unsigned int bits = static_cast<unsigned int>(length) << 3;
    m_auiCount[0] += bits;
    if (m_auiCount[0] < bits)
        m_auiCount[1]++;
    m_auiCount[1] += static_cast<unsigned int>(length) >> 29;

    const unsigned char* in = reinterpret_cast<const unsigned char*>(data);
    unsigned int left = static_cast<unsigned int>(length);
    if (pending != 0) {
        const unsigned int room = 64 - pending;
        if (left < room) {
            std::memcpy(m_aucBuffer + pending, in, left);
            m_bAddData = true;
            return;
        }
        std::memcpy(m_aucBuffer + pending, in, room);
        Transform();
        in += room;
        left -= room;
    }
    if (left >= 64) {
        Compress(in, left / 64);
        in += left & ~63u;
        left &= 63;
    }
    if (left != 0)
        std::memcpy(m_aucBuffer, in, left);
    m_bAddData = true;
}

void CSHA::FinalDigest(char* digest)
{
    if (!m_bAddData)
        throw std::string(kNoData);

    unsigned int used = (m_auiCount[0] >> 3) & 0x3F;
    m_aucBuffer[used++] = 0x80;
    if (64 - used < 8) {
        std::memset(m_aucBuffer + used, 0, 64 - used);
        Transform();
        used = 0;
    }
    std::memset(m_aucBuffer + used, 0, 56 - used);
    StoreBigEndian(m_auiCount[1], m_aucBuffer + 56);
    StoreBigEndian(m_auiCount[0], m_aucBuffer + 60);
    Transform();

    for (int i = 0; i < 8; ++i)
        StoreBigEndian(m_auiHash[i], reinterpret_cast<unsigned char*>(digest) + 4 * i);
    Reset();
}

void CSHA::DigestFile(const std::string& path, char* digest)
{
    std::ifstream file(path.c_str(), std::ios::in | std::ios::binary);
    if (file.fail() || file.bad())
        throw std::string(kCannotOpen) + path + "!";

    Reset();
    // The reader reports a failed read (also a directory, which opens but
    // does not read) as a stream in bad state. The bytes up to it must not
    // end in a digest that would pass for the file's own.
    try {
        char buffer[1024];
        CDoubleBuffering reader(file, buffer, sizeof(buffer), 384);
        char chunk[384];
        int got;
        while ((got = reader.GetData(chunk, -1)) > 0)
            AddData(chunk, got);
    } catch (const char*) {
        Reset();
        throw std::string(kCannotRead) + path + "!";
    }
    file.close();
    // A file read to its end is a message, also one of no bytes: an empty
    // payload has a digest like any other file.
    m_bAddData = true;
    FinalDigest(digest);
}

void CSHA::CalculateSHA256(const std::string& input, bool isFile, char* output)
{
    char digest[32];
    if (isFile) {
        DigestFile(input, digest);
    } else {
        // AddData counts in int; longer texts go in pieces.
        const char* data = input.data();
        size_t left = input.size();
        do {
            const int piece = left > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(left);
            AddData(data, piece);
            data += piece;
            left -= piece;
        } while (left != 0);
        FinalDigest(digest);
    }
    Binary2Hex(reinterpret_cast<const unsigned char*>(digest), 32, output);
}

void CSHA::Char2Hex(unsigned char value, char* text)
{
    static const char saucHex[] = "0123456789abcdef";
    text[0] = saucHex[value >> 4];
    text[1] = saucHex[value & 0x0F];
    text[2] = 0;
}

void CSHA::Binary2Hex(const unsigned char* bytes, int count, char* text)
{
    text[0] = 0;
    for (int i = 0; i < count; ++i)
        Char2Hex(bytes[i], text + 2 * i);
}

bool CSHA::Hex2Char(const char* text, unsigned char& value)
{
    unsigned char high;
    if (!HexDigit(text[0], high))
        return false;
    value = high;
    unsigned char low;
    if (!HexDigit(text[1], low))
        return false;
    value = static_cast<unsigned char>(16 * high + low);
    return true;
}

bool CSHA::Hex2Binary(const char* text, unsigned char* bytes, int count)
{
    for (int i = 0; i < count; ++i) {
        unsigned char high, low;
        if (!HexDigit(text[2 * i], high) || !HexDigit(text[2 * i + 1], low))
            return false;
        bytes[i] = static_cast<unsigned char>(16 * high + low);
    }
    return true;
}
