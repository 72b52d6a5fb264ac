#include "SecureTessa.h"

#include <cctype>
#include <cstring>

#include "LinuxUtils.h"
#include "PlatformLayer.h"

namespace {

const unsigned char kDetachPartitions = 6;
const unsigned short kDetachRequestLength = 13;
const unsigned short kDetachResponseLength = 7;
// Bits 0 to 7 of both classes, wire-ordered.
const unsigned short kAllPartitionBits = 0xFF00;

const char* const kESX4Rescan =
    "for i in `/usr/sbin/esxcfg-scsidevs -A | /bin/awk '{print $1}' | uniq` ; do /usr/sbin/esxcfg-rescan $i &> "
    "/dev/null ; done";
const char* const ESXi_RESCAN_COMMAND = "esxcli storage filesystem rescan";
const char* const ESXi_LIST_MOUNTED_DEVICES = "ls /vmfs/volumes/ | grep ";
const int kRescanRounds = 5;
const int kRescanPauseSeconds = 2;
// The listing is read into a buffer of this size, kept terminated.
const size_t kScsiListingBytes = 1024;

// One number of a /proc/scsi/scsi address, starting `skip` characters
// after the first `key` in text: its digits, read whole. A number of one or
// two digits is given as the two characters the listing prints there (a
// one-digit number keeps the blank after it), so the removal command reads
// as it always has; a longer number comes whole. Empty when the key is
// missing or no whole number stands there: no digit, or digits running
// into something that is neither a blank nor the end of the line.
std::string addressNumber(const std::string& text, const char* key, size_t skip)
{
    const size_t at = text.find(key);
    if (at == std::string::npos || at + skip >= text.size())
        return std::string();
    const size_t start = at + skip;
    size_t end = start;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
        ++end;
    if (end == start)
        return std::string();
    if (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])))
        return std::string();
    if (end - start == 1 && end < text.size() && text[end] == ' ')
        ++end;
    return text.substr(start, end - start);
}

} // namespace

bool secureTessa::DetachPartition(unsigned short staticWord, unsigned short dynamicWord, unsigned short row,
                                  bool logFailure)
{
    try {
        std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
        if (!IsSessionActive()) {
            TESSA_LOG("DetachPartition called with NO active session");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        // Every path below reads or clears this row: a row beyond the table
        // is refused before anything is unmounted or sent.
        if (row >= TESSA_PARTITION_ROWS) {
            TESSA_LOG("Invalid partition Id specfied");
            throw static_cast<unsigned char>(KOLT_INVALIDPARTITION);
        }
        if (staticWord != 0 && !unmountStatPartition(tessaPartInfo[row].volumeLabel))
            TESSA_LOG("umountStatPartition volumeLabel NOT found");
        if (dynamicWord != 0 && !unmountDynPartition())
            TESSA_LOG("umountDynPartition failed.");

        putPartitionWords(&IPMIReqBuf, session.handle, staticWord, dynamicWord);
        if (IPMIRequest(kDetachPartitions, &IPMIReqBuf, kDetachRequestLength, kDetachResponseLength) != 0) {
            if (logFailure)
                TESSA_LOG("DetachPartitions IPMI Request failed");
            throw static_cast<unsigned char>(KOLT_DETACHFAILED);
        }
        TESSA_LOG("DetachPartitions IPMI Request succeeded");
        session.staticBits = static_cast<uint16_t>(session.staticBits & ~staticWord);
        tessaPartInfo[row].mountPath.clear();
        TESSA_LOG("DetachPartition succeeded");
        ESX_RemoveEntries(staticWord, dynamicWord, row);
        CleanMountedPartition();
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
        if (logFailure)
            TESSA_LOG("DetachPartition failed");
        return false;
    } catch (...) {
        TESSA_LOG("DetachPartition failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        return false;
    }
}

bool secureTessa::DetachAll()
{
    return DetachPartition(kAllPartitionBits, kAllPartitionBits, 1, false);
}

void secureTessa::ESX_RemoveEntries(unsigned short staticWord, unsigned short dynamicWord, unsigned short row)
{
    if (row >= TESSA_PARTITION_ROWS) {
        TESSA_LOG("done");
        return;
    }
    const std::string& volumeLabel = tessaPartInfo[row].volumeLabel;
    if (hostOsIndex == ESX) {
        TESSA_LOG("Removing " + volumeLabel + " from /proc/scsi/scsi");
        std::string label;
        if (staticWord != 0)
            label = volumeLabel;
        else if (dynamicWord != 0)
            label = dynDriveName;
        // Prints the line before the one naming the label: the disk's host,
        // channel, id and LUN.
        const std::string lookup = "/bin/cat /proc/scsi/scsi | /bin/sed -n " + shellWord("/" + label + "/{g;1!p;};h");
        std::string listing;
        captureCommand(lookup, kScsiListingBytes - 1, listing);
        if (!listing.empty()) {
            const std::string text = listing.substr(0, listing.find('\0'));
            TESSA_LOG("HBTL (" + volumeLabel + " ): " + text);
            const std::string host = addressNumber(text, "Host: ", 10);
            const std::string channel = addressNumber(text, "Channel: ", 9);
            const std::string id = addressNumber(text, "Id: ", 4);
            const std::string lun = addressNumber(text, "Lun: ", 5);
            TESSA_LOG("HBTL (" + host + ", " + channel + ", " + id + ", " + lun + ")");
            // Without all four numbers there is no address to remove: a
            // part of one would name another disk, and anything else
            // would end up in a shell command.
            if (!host.empty() && !channel.empty() && !id.empty() && !lun.empty()) {
                runCommand(std::string("echo \"scsi remove-single-entry ") + host + " " + channel + " " + id + " " +
                           lun + "\" > /proc/scsi/scsi");
            } else {
                TESSA_LOG("No SCSI address found for " + label);
            }
        }
    } else if (hostOsIndex == ESX4) {
        runCommand(kESX4Rescan);
    }
    TESSA_LOG("done");
}

void secureTessa::CleanMountedPartition()
{
    if (hostOsIndex == ESXi) {
        for (int round = 0; round < kRescanRounds; ++round) {
            TESSA_LOG("Running Rescan command to remove stale folder name : Try");
            if (runCommand(ESXi_RESCAN_COMMAND) != 0) {
                TESSA_LOG("Rescan Failed.");
            } else if (runCommand(ESXi_LIST_MOUNTED_DEVICES + shellWord(dynDriveName) + " > /dev/null 2>&1") != 0) {
                TESSA_LOG("SECUPD Removed");
                break;
            }
            CPlatformLayer::Sleep(kRescanPauseSeconds);
        }
    }
    TESSA_LOG("Leaving CleanMountedPartition");
}
