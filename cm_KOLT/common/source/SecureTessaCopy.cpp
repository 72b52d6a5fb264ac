#include "SecureTessa.h"

#include "TessaRequestBytes.h"

namespace {

const unsigned char kSecureTessaUpdate = 0x09;
const unsigned char kSingleIPMICommand = 0x26;
const unsigned char kDigestHandOver = 0x10;
const size_t kMd5Characters = 32;
const size_t kPartCharacters = 10;
const unsigned char kPowerCycleStateFlag = 5;

// "Secure Tessa Copy" lines list the characters of a part one by one.
std::string spacedCharacters(const std::string& part)
{
    std::string text;
    for (char c : part) {
        text += c;
        text += ' ';
    }
    return text;
}

} // namespace

bool secureTessa::SecureTessaCopy(sessionHandle handle, std::string digest, unsigned short value)
{
    // The four parts carry exactly 32 characters: anything else is not an
    // MD5 text, and the controller would check the document against a
    // digest that was never computed.
    if (digest.size() != kMd5Characters) {
        TESSA_LOG("Secure Tessa Copy: the digest is not 32 characters long: " + std::to_string(digest.size()));
        return false;
    }
    tessaClearRecord(IPMIReqBuf);
    tessaPutHandle(IPMIReqBuf, handle.handle);
    IPMIReqBuf.request[5] = 0x00;
    tessaPutLittleEndian(IPMIReqBuf, 6, tessaPartInfo[0].partIdWord);
    IPMIReqBuf.request[11] = static_cast<unsigned char>(value & 0xFF);
    IPMIReqBuf.request[12] = static_cast<unsigned char>(value >> 8);
    IPMIRequest(kSecureTessaUpdate, &IPMIReqBuf, 13, 7);

    // Every part must arrive: a controller that missed one would compare
    // the document with a digest that has a hole in it.
    bool delivered = true;
    for (unsigned int part = 0; part < 4; ++part) {
        const std::string characters = digest.substr(part * kPartCharacters, kPartCharacters);
        tessaClearRecord(IPMIReqBuf);
        tessaPutHandle(IPMIReqBuf, handle.handle);
        IPMIReqBuf.request[5] = 0x01;
        characters.copy(reinterpret_cast<char*>(&IPMIReqBuf.request[6]), characters.size());
        TESSA_LOG("Secure Tessa CopyPart " + std::to_string(part + 1) + " Hash: " + spacedCharacters(characters));
        if (IPMIRequest(kSecureTessaUpdate, &IPMIReqBuf, 17, 7) != 0)
            delivered = false;
    }
    return delivered;
}

bool secureTessa::SecureTessaCopyWaveCPlus(sessionHandle handle, std::string digest, digestType digest_type)
{
    TESSA_LOG("input_secupd.xm HASH Value: " + digest + " ");
    tessaClearRecord(IPMIReqBuf);
    tessaPutHandle(IPMIReqBuf, handle.handle);
    IPMIReqBuf.request[5] = kDigestHandOver;
    IPMIReqBuf.request[6] = 0x00;
    IPMIReqBuf.request[7] = digest_type == DIGEST_GPG ? 1 : 0;
    if (OEMIPMIRequest(eTessaCommand, kSingleIPMICommand, &IPMIReqBuf, 8, 8) != 0)
        TESSA_LOG("HASH header IPMI Command Failed");
    return SendHashPart(handle, digest);
}

bool secureTessa::SendHashPart(sessionHandle handle, std::string digest)
{
    TESSA_LOG("Entering SendHashPart()");
    bool delivered = true;
    for (size_t part = 0; part <= digest.size() / kPartCharacters; ++part) {
        TESSA_LOG("Sending Part" + std::to_string(part));
        const std::string characters = digest.substr(part * kPartCharacters, kPartCharacters);
        tessaClearRecord(IPMIReqBuf);
        tessaPutHandle(IPMIReqBuf, handle.handle);
        IPMIReqBuf.request[5] = kDigestHandOver;
        IPMIReqBuf.request[6] = 0x01;
        characters.copy(reinterpret_cast<char*>(&IPMIReqBuf.request[7]), characters.size());
        TESSA_LOG("Secure Tessa CopyPart " + std::to_string(part) + " Hash: " + spacedCharacters(characters));
        if (OEMIPMIRequest(eTessaCommand, kSingleIPMICommand, &IPMIReqBuf, 18, 8) != 0)
            delivered = false;
    }
    TESSA_LOG("Exiting SendHashPart()");
    return delivered;
}

int secureTessa::regPowerCycle()
{
    if (setStateFlag(kPowerCycleStateFlag) == 0) {
        TESSA_LOG("Setting the SSM flag succeeded");
        return 0;
    }
    TESSA_LOG("Setting the SSM flag failed");
    return -1;
}
