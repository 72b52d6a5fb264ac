#include "SecureTessa.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "Md5Wrapper.h"
#include "Sha.h"
#include "TessaPath.h"

namespace {

bool needsSourceAndDestination(exmlMode mode)
{
    return mode == filecopy || mode == dircopy || mode == filemove || mode == dirmove || mode == fileappend ||
           mode == signedunzip;
}

// A digest is only stored when it really is one: the MD5 routine answers
// "-1" for a file it could not read, and that text would later be compared
// (and handed to the controller) like a digest.
bool isHexDigest(const std::string& text, size_t length)
{
    if (text.size() != length)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

md5wrapper& fileHasher()
{
    static md5wrapper hasher;
    return hasher;
}

std::string md5OfFile(const std::string& path)
{
    const std::string digest = fileHasher().getHashFromFile(path);
    if (!isHexDigest(digest, 32))
        throw static_cast<unsigned char>(KOLT_STATFAILED);
    return digest;
}

std::string sha256OfFile(const std::string& path)
{
    char text[65] = {0};
    try {
        CSHA sha;
        sha.CalculateSHA256(path, true, text);
    } catch (const std::string& message) {
        TESSA_LOG(message);
        throw static_cast<unsigned char>(KOLT_STATFAILED);
    }
    const std::string digest(text);
    if (!isHexDigest(digest, 64))
        throw static_cast<unsigned char>(KOLT_STATFAILED);
    return digest;
}

} // namespace

// A source that is not a regular file (a folder, a device) has no digest
// and no size worth staging: it fails like a missing one.
static bool statRegular(const std::string& path, struct stat& info, uint8_t& errorOut)
{
    if (stat(path.c_str(), &info) != 0) {
        errorOut = static_cast<uint8_t>(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        errorOut = static_cast<uint8_t>(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
        return false;
    }
    return true;
}

namespace {

// The checks every staging entry passes first: a source and a destination
// where the entry needs them, and an open copy transaction; each failure
// sets its error class and throws its number. True when the same source
// and destination are queued already.
bool admittedBefore(secureTessa& client, const std::string& source, const std::string& destination,
                    bool needsSourceAndDestination)
{
    if (needsSourceAndDestination && source.empty()) {
        client.addFileErrorClass = 4;
        throw static_cast<unsigned char>(KOLT_EMPTYSOURCE);
    }
    if (needsSourceAndDestination && destination.empty()) {
        client.addFileErrorClass = 3;
        throw static_cast<unsigned char>(KOLT_EMPTYDESTINATION);
    }
    if (client.l_state == 0) {
        client.addFileErrorClass = 6;
        throw static_cast<unsigned char>(KOLT_NOTRANSACTION);
    }
    for (const cfgEntry& queued : client.cfgEntries)
        if (queued.source == source && queued.destination == destination)
            return true;
    return false;
}

// The place a staged path names on a partition. One that names none (an
// empty, "." or ".." name, a backslash) is refused like a missing path,
// with the same error class and number, before anything is read.
TessaPath stagedPlace(secureTessa& client, const std::string& text, bool isSource)
{
    TessaPath::Fault fault = TessaPath::Fault::none;
    const std::optional<TessaPath> place = TessaPath::parse(text, &fault);
    if (place)
        return *place;
    TESSA_LOG(std::string(isSource ? "Source" : "Destination") + " names no place on a partition, it holds " +
              TessaPath::describe(fault) + ": " + text);
    client.addFileErrorClass = isSource ? 4 : 3;
    throw static_cast<unsigned char>(isSource ? KOLT_EMPTYSOURCE : KOLT_EMPTYDESTINATION);
}

// Checks every partition path an entry of `mode` carries (its destination,
// and the source of a move or a folder deletion, which lies in managed
// storage too) and gives the one whose partition names the entry's row;
// nothing for the modes that carry none.
std::optional<TessaPath> rowPlace(secureTessa& client, exmlMode mode, const std::string& source,
                                  const std::string& destination)
{
    switch (mode) {
    case filemove:
    case dirmove: {
        const TessaPath from = stagedPlace(client, source, true);
        stagedPlace(client, destination, false);
        return from;
    }
    case dirdelete:
        return stagedPlace(client, source, true);
    case filecopy:
    case fileappend:
    case filedelete:
    case dirmake:
    case signedunzip:
        return stagedPlace(client, destination, false);
    default:
        return std::nullopt;
    }
}

} // namespace

bool secureTessa::AddFile(std::string source, std::string destination, exmlMode mode, digestType digest)
{
    try {
        if (admittedBefore(*this, source, destination, needsSourceAndDestination(mode)))
            return true;
        const std::optional<TessaPath> place = rowPlace(*this, mode, source, destination);

        cfgEntry entry;
        entry.mode = mode;
        struct stat info;
        switch (mode) {
        case filecopy:
            entry.source = source;
            entry.destination = destination;
            if (!statRegular(source, info, accessState))
                throw static_cast<unsigned char>(KOLT_STATFAILED);
            entry.sourceMode = info.st_mode;
            entry.size = static_cast<uint64_t>(info.st_size);
            if (digest == DIGEST_SHA256) {
                entry.hash = sha256OfFile(source);
                entry.hashAlgorithm = 2;
            } else if (digest == DIGEST_MD5) {
                entry.hash = md5OfFile(source);
                entry.hashAlgorithm = 1;
            }
            entry.partIndex = getPartIndex(place->partitionName());
            break;
        case filemove:
        case dirmove:
            entry.source = source;
            entry.destination = destination;
            entry.partIndex = getPartIndex(place->partitionName());
            break;
        case filedelete:
        case dirmake:
            entry.destination = destination;
            entry.partIndex = getPartIndex(place->partitionName());
            break;
        case dirdelete:
            entry.source = source;
            entry.partIndex = getPartIndex(place->partitionName());
            break;
        case fileappend:
            entry.source = source;
            entry.destination = destination;
            if (!statRegular(source, info, accessState))
                throw static_cast<unsigned char>(KOLT_STATFAILED);
            entry.sourceMode = info.st_mode;
            entry.size = static_cast<uint64_t>(info.st_size);
            entry.hash = md5OfFile(source);
            entry.partIndex = getPartIndex(place->partitionName());
            break;
        case ssib:
            entry.source = source;
            if (!statRegular(source, info, accessState))
                throw static_cast<unsigned char>(KOLT_STATFAILED);
            entry.sourceMode = info.st_mode;
            entry.size = static_cast<uint64_t>(info.st_size);
            entry.hash = md5OfFile(source);
            break;
        case signedunzip: {
            entry.source = source;
            entry.destination = destination;
            struct stat signature, package;
            uint8_t sourceErrno = 0, signatureErrno = 0, packageErrno = 0;
            const bool haveSource = statRegular(source, info, sourceErrno);
            const bool haveSignature = statRegular(source + ".sig", signature, signatureErrno);
            const bool havePackage = statRegular("package.xml", package, packageErrno);
            if (!haveSource) {
                accessState = sourceErrno;
                throw static_cast<unsigned char>(KOLT_STATFAILED);
            }
            if (!haveSignature) {
                accessState = signatureErrno;
                throw static_cast<unsigned char>(KOLT_NOSIGFILE);
            }
            if (!havePackage) {
                accessState = packageErrno;
                throw static_cast<unsigned char>(KOLT_NOPACKAGEXML);
            }
            entry.sourceMode = info.st_mode;
            entry.size = static_cast<uint64_t>(info.st_size) + static_cast<uint64_t>(signature.st_size) +
                         static_cast<uint64_t>(package.st_size);
            entry.partIndex = getPartIndex(place->partitionName());
            break;
        }
        default:
            break;
        }

        entry.order = static_cast<int32_t>(entryCounter);
        entry.algorithmLabel = digest == DIGEST_SHA256 ? 2 : 1;
        entry.omitDestination = digest == DIGEST_SHA256;
        cfgEntries.push_back(entry);
        ++entryCounter;
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
        return false;
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}

bool secureTessa::AddFile(std::string source, std::string destination, bool)
{
    try {
        if (admittedBefore(*this, source, destination, true))
            return true;
        stagedPlace(*this, destination, false);
        struct stat info;
        if (!statRegular(source, info, accessState))
            throw static_cast<unsigned char>(KOLT_STATFAILED);

        cfgEntry entry;
        entry.mode = filecopy;
        entry.source = source;
        entry.destination = destination;
        entry.sourceMode = info.st_mode;
        entry.size = static_cast<uint64_t>(info.st_size);
        entry.hash = md5OfFile(source);
        entry.algorithmLabel = 1;
        entry.partIndex = static_cast<uint16_t>(GetPartNum(destination));
        entry.order = static_cast<int32_t>(entryCounter + 1);
        cfgEntries.push_back(entry);
        ++entryCounter;
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
        return false;
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}

int GetPartNum(std::string path)
{
    if (path.empty())
        return 0;
    const std::string first = TessaPath::firstComponentOf(path);
    return static_cast<int>(static_cast<int32_t>(std::strtol(first.c_str(), nullptr, 10)));
}
