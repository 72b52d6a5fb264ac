#include "SecureTessa.h"

#include <strings.h>

#include "TessaRequestBytes.h"

namespace {

const unsigned char kGetPartitionIndexInfo = 3;
const unsigned char kGetPartitionInfo = 4;

const unsigned char kStaticClass = 0x00;
const unsigned char kDynamicClass = 0x80;

// Only bits 0 to 7 of a bit word name partitions this client works with.
const unsigned int kPartitionBits = 8;

// Sends GetPartitionIndexInfo and keeps both words in the session record;
// false when the controller did not answer it.
bool queryPartitionWords(secureTessa& client)
{
    tessaClearRecord(IPMIReqBuf);
    tessaPutHandle(IPMIReqBuf, client.session.handle);
    if (client.IPMIRequest(kGetPartitionIndexInfo, &IPMIReqBuf, 7, 13) != 0)
        return false;
    client.session.staticBits = tessaBigEndianAnswerWord(IPMIReqBuf, 5);
    client.session.dynamicBits = tessaBigEndianAnswerWord(IPMIReqBuf, 9);
    return true;
}

// Sends GetPartitionInfo for one bit of a class; the answer stays in
// IPMIReqBuf. True when the controller answered.
bool queryPartitionInfo(secureTessa& client, unsigned char partitionClass, unsigned int bit)
{
    tessaClearRecord(IPMIReqBuf);
    tessaPutHandle(IPMIReqBuf, client.session.handle);
    IPMIReqBuf.request[5] = partitionClass;
    IPMIReqBuf.request[6] = static_cast<unsigned char>(bit);
    return client.IPMIRequest(kGetPartitionInfo, &IPMIReqBuf, 9, 14) == 0;
}

} // namespace

unsigned short secureTessa::getPartIndexInfo()
{
    try {
        if (!IsSessionActive()) {
            TESSA_LOG("TESSA session not started");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        // A failed query leaves the words last known.
        queryPartitionWords(*this);
        return session.staticBits;
    } catch (unsigned char error) {
        storeErrorInfo(error);
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return 0;
}

unsigned short secureTessa::getDynPartIndexInfo()
{
    try {
        if (!IsSessionActive()) {
            TESSA_LOG("TESSA session not started");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        queryPartitionWords(*this);
        return session.dynamicBits;
    } catch (unsigned char error) {
        storeErrorInfo(error);
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return 0;
}

bool secureTessa::getPartInfo(unsigned short staticWord)
{
    try {
        if (!IsSessionActive()) {
            TESSA_LOG("TESSA session not started");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        for (unsigned int bit = 0; bit < kPartitionBits; ++bit) {
            if ((staticWord & tessaBitWord(bit)) == 0)
                continue;
            // An unanswered bit simply stays unmarked.
            if (!queryPartitionInfo(*this, kStaticClass, bit))
                continue;
            const std::string name = tessaAnswerPartitionName(IPMIReqBuf);
            const unsigned short row = getPartIndex(name);
            // The name's digits may give up to 999: only rows of the table
            // are marked.
            if (row == 0 || row >= TESSA_PARTITION_ROWS) {
                TESSA_LOG("The partition name [" + name + "]is inconsistent with the standard.");
                continue;
            }
            tessaPartInfo[row].partIdWord = swapBytes(tessaBitWord(bit));
            tessaPartInfo[row].present = true;
        }
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}

bool secureTessa::getDynPartInfo(unsigned short dynamicWord)
{
    try {
        if (!IsSessionActive()) {
            TESSA_LOG("TESSA session not started");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        for (unsigned int bit = 0; bit < kPartitionBits; ++bit) {
            if ((dynamicWord & tessaBitWord(bit)) == 0)
                continue;
            // Only the lowest bit is asked about; its name is not examined.
            if (queryPartitionInfo(*this, kDynamicClass, bit)) {
                tessaPartInfo[0].partIdWord = swapBytes(tessaBitWord(bit));
                tessaPartInfo[0].present = true;
            }
            break;
        }
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}

bool secureTessa::deleteDynPartWithName(const unsigned short& dynamicWord, const std::string& name)
{
    try {
        if (!IsSessionActive()) {
            TESSA_LOG("TESSA session not started");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        const unsigned short word = dynamicWord;
        for (unsigned int bit = 0; bit < kPartitionBits; ++bit) {
            if ((word & tessaBitWord(bit)) == 0)
                continue;
            if (!queryPartitionInfo(*this, kDynamicClass, bit)) {
                TESSA_LOG("secureTessa::deleteDynPartWithName GetPartitionInfo failed");
                continue;
            }
            const std::string partitionName = tessaAnswerPartitionName(IPMIReqBuf);
            TESSA_LOG("deleteDynPartWithName partition name = " + partitionName);
            if (strcasecmp(partitionName.c_str(), name.c_str()) != 0)
                continue;
            if (DeleteDropBox(tessaBitWord(bit)))
                TESSA_LOG("deleteDynPartWithName DeleteDropBox successful");
            else
                TESSA_LOG("deleteDynPartWithName DeleteDropBox failed");
            break;
        }
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}
