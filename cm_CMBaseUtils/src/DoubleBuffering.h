#ifndef CM_CMBASEUTILS_DOUBLEBUFFERING_H
#define CM_CMBASEUTILS_DOUBLEBUFFERING_H

#include <fstream>

// Hands out the contents of an open input file stream as blocks of a chosen
// length, reading the file in half-buffer pieces into a caller-supplied
// buffer of even size. Errors are thrown as const char* texts. The reader
// owns neither the stream nor the buffer.
class CDoubleBuffering {
public:
    CDoubleBuffering(std::ifstream& file, char* buffer, int size, int dataLen);
    ~CDoubleBuffering() {}

    // Copies the next iDataLen bytes (-1: the default length) into
    // destination; returns how many were copied, 0 once the data has ended.
    int GetData(char* destination, int iDataLen);

private:
    CDoubleBuffering(const CDoubleBuffering&) = delete;
    CDoubleBuffering& operator=(const CDoubleBuffering&) = delete;

    int readHalf(char* destination);

    std::ifstream& m_rFile;
    int m_iSize;
    int m_iHalfSize;
    int m_iDefaultDataLen;
    int m_iReadPos;
    int m_iDataEnd;
    int m_iSecondHalfLoaded;
    char* m_pBuffer;
    bool m_bEndOfData;
    // A failed read poisons the reader: every later call reports it again
    // rather than hand out a block built from a partial refill.
    bool m_bReadError;
};

#endif
