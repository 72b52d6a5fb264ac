#ifndef CM_KOLT_TESSAREQUESTBYTES_H
#define CM_KOLT_TESSAREQUESTBYTES_H

// Byte placement in managed-storage requests and answers, counted from the
// NetFn byte as the request record stores them: bytes 3-4 carry the session
// handle little-endian; partition bit words travel big-endian.

#include <cstdint>
#include <cstring>
#include <string>

#include "QRMIPMICommandData.h"

// A cleared record: no byte of an earlier request can travel with the next.
inline void tessaClearRecord(_QRMIPMICommandData& record)
{
    std::memset(&record, 0, sizeof(record));
}

inline void tessaPutHandle(_QRMIPMICommandData& record, uint16_t handle)
{
    record.request[3] = static_cast<unsigned char>(handle & 0xFF);
    record.request[4] = static_cast<unsigned char>(handle >> 8);
}

// A plain bit word, high byte first.
inline void tessaPutBigEndian(_QRMIPMICommandData& record, unsigned int position, uint16_t word)
{
    record.request[position] = static_cast<unsigned char>(word >> 8);
    record.request[position + 1] = static_cast<unsigned char>(word & 0xFF);
}

// A wire-ordered word (bytes already exchanged), low byte first, which puts
// the plain word on the wire high byte first.
inline void tessaPutLittleEndian(_QRMIPMICommandData& record, unsigned int position, uint16_t word)
{
    record.request[position] = static_cast<unsigned char>(word & 0xFF);
    record.request[position + 1] = static_cast<unsigned char>(word >> 8);
}

// Whether the answer reaches response byte `position`. A controller may
// answer with fewer bytes than the request asked for, and the bytes it did
// not send read as 0, which would pass for an answer ("standard managed
// storage", "enabled", no partitions): a reader of a fixed byte checks
// this first and takes a short answer as a failed request. The length
// counts NetFn and command, as the response bytes do.
inline bool tessaAnswerHolds(const _QRMIPMICommandData& record, unsigned int position)
{
    return record.responseLength > position;
}

inline uint16_t tessaBigEndianAnswerWord(const _QRMIPMICommandData& record, unsigned int position)
{
    return static_cast<uint16_t>((record.response[position] << 8) | record.response[position + 1]);
}

// Bytes 7-12 of a GetPartitionInfo answer: the partition name.
const unsigned int kTessaAnswerNameByte = 7;
const unsigned int kTessaAnswerNameLength = 6;

// The six-character partition name of a GetPartitionInfo answer, shorter
// when a zero byte comes first; false when the answer ends before the
// name's field does.
inline bool tessaAnswerPartitionName(const _QRMIPMICommandData& record, std::string& name)
{
    if (!tessaAnswerHolds(record, kTessaAnswerNameByte + kTessaAnswerNameLength - 1))
        return false;
    const char* field = reinterpret_cast<const char*>(&record.response[kTessaAnswerNameByte]);
    name.assign(field, strnlen(field, kTessaAnswerNameLength));
    return true;
}

// The plain word of bit i.
inline uint16_t tessaBitWord(unsigned int bit)
{
    return static_cast<uint16_t>(1u << bit);
}

#endif
