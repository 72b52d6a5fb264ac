#include "DoubleBuffering.h"

#include <cstring>

namespace {
const char* const kOddSize = "CDoubleBuffering: m_iSize should be Even Number!";
const char* const kBadStream = "CDoubleBuffering: Referenced File not Opened or in Bad State!";
const char* const kBadConstruction = "CDoubleBuffering: Illegal Construction Data!";
const char* const kBadDataLen = "CDoubleBuffering::GetData(): Illegal iDataLen!";
} // namespace

CDoubleBuffering::CDoubleBuffering(std::ifstream& file, char* buffer, int size, int dataLen)
    : m_rFile(file),
      m_iSize(size),
      m_iHalfSize(size / 2),
      m_iDefaultDataLen(dataLen),
      m_iReadPos(0),
      m_iDataEnd(0),
      m_iSecondHalfLoaded(0),
      m_pBuffer(buffer),
      m_bEndOfData(false),
      m_bReadError(false)
{
    if (m_iSize % 2 != 0)
        throw kOddSize;
    if (!m_rFile.is_open() || m_rFile.bad())
        throw kBadStream;
    if (m_iDefaultDataLen <= 0 || m_iDefaultDataLen > m_iHalfSize)
        throw kBadConstruction;
    m_iDataEnd = readHalf(m_pBuffer);
    m_iReadPos = 0;
    m_iSecondHalfLoaded = 0;
}

// One read of half a buffer. A short read at the end of the file is the
// normal end of data; a stream that fails for any other reason (an I/O
// error) would leave the half partly filled, so it is reported instead, as
// the stream in bad state that it now is.
int CDoubleBuffering::readHalf(char* destination)
{
    const bool wasGood = m_rFile.good();
    m_rFile.read(destination, m_iHalfSize);
    const int got = static_cast<int>(m_rFile.gcount());
    if (m_rFile.bad() || (wasGood && m_rFile.fail() && !m_rFile.eof())) {
        m_bReadError = true;
        throw kBadStream;
    }
    return got;
}

int CDoubleBuffering::GetData(char* destination, int iDataLen)
{
    if (iDataLen == -1)
        iDataLen = m_iDefaultDataLen;
    if (iDataLen <= 0 || iDataLen > m_iHalfSize)
        throw kBadDataLen;
    if (m_bReadError)
        throw kBadStream;
    if (m_bEndOfData)
        return 0;

    const int start = m_iReadPos;
    int target = start + iDataLen;
    if (target < m_iDataEnd) {
        std::memcpy(destination, m_pBuffer + start, iDataLen);
        m_iReadPos = target;
        return iDataLen;
    }

    if (m_rFile.eof()) {
        m_bEndOfData = true;
        const int remaining = m_iDataEnd - start;
        std::memcpy(destination, m_pBuffer + start, remaining);
        return remaining;
    }

    if (m_iSecondHalfLoaded == 0) {
        m_iDataEnd += readHalf(m_pBuffer + m_iDataEnd);
        if (m_iDataEnd >= target) {
            std::memcpy(destination, m_pBuffer + start, iDataLen);
            m_iReadPos = target;
            m_iSecondHalfLoaded = 1;
            return iDataLen;
        }
        m_bEndOfData = true;
        const int remaining = m_iDataEnd - start;
        std::memcpy(destination, m_pBuffer + start, remaining);
        return remaining;
    }

    // The buffer holds m_iSize valid bytes and the block wraps past its end.
    const int got = readHalf(m_pBuffer);
    m_iDataEnd = got;
    target -= m_iSize;
    const int tail = m_iSize - start;
    if (got >= target) {
        std::memcpy(destination, m_pBuffer + start, tail);
        std::memcpy(destination + tail, m_pBuffer, iDataLen - tail);
        m_iReadPos = target;
        m_iSecondHalfLoaded = 0;
        return iDataLen;
    }
    m_bEndOfData = true;
    std::memcpy(destination, m_pBuffer + start, tail);
    std::memcpy(destination + tail, m_pBuffer, got);
    return tail + got;
}
