#include "SecureTessa.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <sstream>
#include <string>

#include <unistd.h>

#include "LinuxUtils.h"
#include "Md5Wrapper.h"
#include "Sha.h"
#include "TessaPath.h"
#include "TessaResources.h"

const char* updFileName = "update.xml";
const char* updFileNameWaveCPlus = "input_secupd.xml";
const uint64_t eps = 1048576;

char DynMountPoint[kMountPointBufferBytes];
char targetFilePath[kTargetFilePathBytes];

namespace {

// Thrown inside a pass; the pass stores nothing itself, the copy
// transaction turns a failed pass into its own error.
const unsigned char kPassFailed = KOLT_PARTITIONUNREACHABLE;

const uint64_t kMinimumPayloadBytes = 65536;
const uint64_t kDropBoxUnitBytes = 32768;
// Chunks are streamed through a buffer of this size, never held whole.
const size_t kChunkBlockBytes = 65536;
// Bits 6 to 15 of splitState carry the next chunk number.
const unsigned int kSplitStateMask = 0x3F;
const unsigned int kSplitDone = 1;
const unsigned int kSplitInProgress = 2;
const unsigned int kMaxChunkNumber = 0x3FF;
// The drop box is attached and detached as a dynamic partition of row 0.
const unsigned short kDropBoxRow = 0;

struct FileCloser {
    void operator()(FILE* file) const
    {
        if (file != nullptr)
            std::fclose(file);
    }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

uint64_t spaceAbove(uint64_t bytes, uint64_t reserve)
{
    return bytes > reserve ? bytes - reserve : 0;
}

const char* algorithmElement(int32_t label)
{
    switch (label) {
    case 0:
        return "<Algorithm>SHA1</Algorithm>\n";
    case 1:
        return "<Algorithm>MD5</Algorithm>\n";
    case 2:
        return "<Algorithm>SHA256</Algorithm>\n";
    default:
        return "";
    }
}

// Copies up to `limit` bytes of source, from `offset` on, into a new chunk
// file, block by block. The number of bytes copied; 0 when nothing could
// be read. Throws kPassFailed when the chunk cannot be written whole.
uint64_t writeChunk(const std::string& source, uint64_t offset, uint64_t limit, const std::string& chunkPath)
{
    FileHandle in(std::fopen(source.c_str(), "rb"));
    if (!in || offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) ||
        fseeko(in.get(), static_cast<off_t>(offset), SEEK_SET) != 0)
        return 0;

    std::FILE* out = std::fopen(chunkPath.c_str(), "wb");
    if (out == nullptr) {
        TESSA_LOG("Could not create chunk file " + chunkPath + ": " + std::strerror(errno));
        throw kPassFailed;
    }
    FileHandle outHandle(out);
    std::unique_ptr<char[]> block(new char[kChunkBlockBytes]);
    uint64_t copied = 0;
    while (copied < limit) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunkBlockBytes, limit - copied));
        const size_t got = std::fread(block.get(), 1, want, in.get());
        if (got > 0 && std::fwrite(block.get(), 1, got, out) != got) {
            TESSA_LOG("Could not write chunk file " + chunkPath + ": " + std::strerror(errno));
            throw kPassFailed;
        }
        copied += got;
        if (got < want) {
            if (std::ferror(in.get())) {
                TESSA_LOG("Could not read file " + source);
                throw kPassFailed;
            }
            break;
        }
    }
    outHandle.release();
    if (std::fclose(out) != 0) {
        TESSA_LOG("Could not close chunk file " + chunkPath + ": " + std::strerror(errno));
        throw kPassFailed;
    }
    return copied;
}

// One copy pass over the queue; the WaveC pass lists only what it copies.
class CopyPass {
public:
    CopyPass(std::vector<cfgEntry>& queue, const std::string& mountPoint, std::ostringstream* document,
             uint64_t capacity, bool waveC)
        : m_queue(queue),
          m_mountPoint(mountPoint),
          m_document(document),
          m_capacity(capacity),
          m_remaining(capacity),
          m_waveC(waveC)
    {
    }

    // The first entry not yet done, or throws kPassFailed.
    unsigned long run(unsigned long index)
    {
        for (unsigned long i = index; i < m_queue.size(); ++i) {
            cfgEntry& entry = m_queue[i];
            TESSA_LOG("SrcName: ");
            TESSA_LOG(entry.source);
            TESSA_LOG("DstName: ");
            TESSA_LOG(entry.destination);

            switch (entry.mode) {
            case filecopy:
                if ((entry.splitState & kSplitStateMask) != kSplitInProgress &&
                    entry.size <= spaceAbove(m_capacity, eps)) {
                    if (entry.size > spaceAbove(m_remaining, eps)) {
                        TESSA_LOG("FileSize > AvailableSpace");
                        return i;
                    }
                    TESSA_LOG("filecopy");
                    copy(entry);
                    list(entry);
                    entry.splitState = kSplitDone;
                } else {
                    return split(entry, i);
                }
                break;
            case filemove:
            case dirmove:
            case filedelete:
            case dirdelete:
                if (m_waveC) {
                    TESSA_LOG("Unhandled mode");
                    break;
                }
                TESSA_LOG(entry.mode == filemove  ? "filemove"
                          : entry.mode == dirmove ? "dirmove"
                          : entry.mode == filedelete ? "filedelete"
                                                     : "dirdelete");
                list(entry);
                entry.splitState = kSplitDone;
                break;
            case fileappend:
                TESSA_LOG(m_waveC ? "Unhandled mode" : "fileappend ignored");
                break;
            case dirmake:
                TESSA_LOG("dirmake");
                copy(entry);
                // The WaveC controller reads only the copies; the folder is
                // made in the drop box and not listed.
                if (!m_waveC)
                    list(entry);
                entry.splitState = kSplitDone;
                break;
            case ssib:
                if (m_waveC) {
                    TESSA_LOG("Unhandled mode");
                    break;
                }
                TESSA_LOG("ssib");
                copy(entry);
                list(entry);
                break;
            default:
                TESSA_LOG("Unhandled mode");
                break;
            }
            m_remaining = spaceAbove(m_remaining, entry.size);
        }
        return static_cast<unsigned long>(m_queue.size());
    }

private:
    void copy(const cfgEntry& entry)
    {
        if (doCopy(m_mountPoint, entry.destination, entry.source, entry.mode) != 0) {
            TESSA_LOG("doCopy failed");
            throw kPassFailed;
        }
        TESSA_LOG("doCopy succeeded");
    }

    void list(const cfgEntry& entry, bool chunk = false)
    {
        if (!AddCfgEntry(m_document, entry, chunk)) {
            TESSA_LOG("AddCfgEntry failed");
            throw kPassFailed;
        }
    }

    // Writes the next chunk of the entry at queue position i and ends the
    // pass: the first entry not yet done.
    unsigned long split(cfgEntry& entry, unsigned long i)
    {
        TESSA_LOG("Split File: Creating Chunk");
        const unsigned int number = entry.splitState >> 6;
        const uint64_t staged = entry.stagedBytes > 0 ? static_cast<uint64_t>(entry.stagedBytes) : 0;
        // A chunk never takes more than the space this pass has left, and
        // never more than what the entry still has to stage.
        const uint64_t room = std::min(spaceAbove(m_capacity, eps), spaceAbove(m_remaining, eps));
        const uint64_t limit = std::min(room, spaceAbove(entry.size, staged));
        if (room == 0 && m_remaining < m_capacity) {
            // Earlier entries filled this pass; the next pass starts here.
            TESSA_LOG("FileSize > AvailableSpace");
            return i;
        }
        if (limit == 0) {
            TESSA_LOG("Could not read file");
            throw kPassFailed;
        }

        const std::string chunkName = "FileChunk" + std::to_string(number);
        const std::string chunkPath = m_mountPoint + chunkName;
        const uint64_t copied = writeChunk(entry.source, staged, limit, chunkPath);
        if (copied == 0) {
            TESSA_LOG("Could not read file");
            throw kPassFailed;
        }
        runCommand("sync");
        entry.stagedBytes = static_cast<int64_t>(staged + copied);

        static md5wrapper hasher;
        cfgEntry chunk;
        chunk.order = static_cast<int32_t>(i);
        chunk.mode = number == 0 ? filecopy : fileappend;
        chunk.algorithmLabel = 1;
        chunk.size = copied;
        chunk.source = chunkName;
        chunk.destination = entry.destination;
        chunk.hash = hasher.getHashFromFile(chunkPath);
        chunk.omitDestination = false;
        if (chunk.hash == "-1") {
            // The controller would check the chunk against a text that is
            // no digest.
            TESSA_LOG("Could not read file " + chunkPath);
            throw kPassFailed;
        }
        list(chunk, true);

        unsigned long next = i;
        if (static_cast<uint64_t>(entry.stagedBytes) < entry.size) {
            if (number + 1 > kMaxChunkNumber) {
                TESSA_LOG("Too many chunks for " + entry.source);
                throw kPassFailed;
            }
            entry.splitState = static_cast<uint16_t>(((number + 1) << 6) + kSplitInProgress);
        } else {
            entry.splitState = kSplitDone;
            TESSA_LOG("Last Split File Chunk");
            next = i + 1;
        }
        TESSA_LOG("Split File: Chunk ");
        TESSA_LOG(chunkName);
        return next;
    }

    std::vector<cfgEntry>& m_queue;
    const std::string& m_mountPoint;
    std::ostringstream* m_document;
    const uint64_t m_capacity;
    uint64_t m_remaining;
    const bool m_waveC;
};

} // namespace

void AddCfgHdr(std::ostringstream* document)
{
    TESSA_LOG("Adding the config file header");
    *document << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              << "<TESSA_Update>\n";
}

bool AddCfgEntry(std::ostringstream* document, cfgEntry entry, bool chunk)
{
    try {
        // The controller acts on what the element names: every partition
        // path in it (the source of a move or a folder deletion as well) has
        // to name a place there.
        const std::optional<TessaPath> place = TessaPath::parse(entry.destination);
        const bool sourceOnPartition = entry.mode == filemove || entry.mode == dirmove || entry.mode == dirdelete;
        if (!place || (sourceOnPartition && !TessaPath::parse(entry.source))) {
            TESSA_LOG("No element for an entry that names no place on a partition: " + entry.source + " -> " +
                      entry.destination);
            TESSA_LOG("doCopy failed");
            return false;
        }
        const std::string source = chunk ? entry.source : place->inPartition();
        std::string destination = entry.destination;
        // An ssib document lands in the drop box root under its own name on
        // the host.
        if (entry.mode == ssib)
            destination = getFileName(entry.source);
        else if (entry.mode == dirdelete)
            destination = entry.source;

        // Texts go in as they stand: the controller reads them unescaped.
        std::string element = "\t<File order=\"" + std::to_string(entry.order) + "\">";
        if (entry.mode != signedunzip)
            element += "<Hash>" + entry.hash + "</Hash>";
        switch (entry.mode) {
        case filecopy:
            element += "<Source>" + source + "</Source>";
            if (!entry.omitDestination)
                element += "<Destination>" + destination + "</Destination>";
            element += "<Mode>filecopy</Mode>";
            break;
        case dircopy:
            element += "<SourceTESSA>" + destination + "</SourceTESSA>\n";
            element += "<Destination>" + destination + "</Destination>\n";
            element += "<Mode>dircopy</Mode>\n";
            break;
        case filemove:
            element += "<SourceTESSA>" + entry.source + "</SourceTESSA>\n";
            element += "<Destination>" + destination + "</Destination>\n";
            element += "<Mode>filemove</Mode>\n";
            break;
        case dirmove:
            element += "<SourceTESSA>" + entry.source + "</SourceTESSA>\n";
            element += "<Destination>" + destination + "</Destination>";
            element += "<Mode>dirmove</Mode>\n";
            break;
        case filedelete:
            element += "<Destination>" + destination + "</Destination>\n";
            element += "<Mode>filedelete</Mode>\n";
            break;
        case dirdelete:
            element += "<Destination>" + destination + "</Destination>\n";
            element += "<Mode>dirdelete</Mode>\n";
            break;
        case fileappend:
            element += "<Source>" + source + "</Source>";
            element += "<Destination>" + destination + "</Destination>";
            element += "<Mode>fileappend</Mode>";
            break;
        case dirmake:
            element += "<Destination>" + destination + "</Destination>";
            element += "<Mode>dirmake</Mode>\n";
            break;
        case ssib:
            element += "<Source>" + destination + "</Source>\n";
            element += "<Mode>ssib</Mode>\n";
            break;
        case signedunzip:
            element += "<Source>" + source + "</Source>";
            element += "<Destination>" + place->partitionName() + "/.</Destination>";
            element += "<Mode>signedunzip</Mode>";
            break;
        default:
            break;
        }
        if (!destination.empty() && entry.mode != signedunzip)
            element += algorithmElement(entry.algorithmLabel);
        element += "</File>\n";
        *document << element;
        return true;
    } catch (...) {
        TESSA_LOG("doCopy failed");
        return false;
    }
}

int doCopy(std::string mountPoint, std::string destination, std::string source, exmlMode mode)
{
    TESSA_LOG("doCopy");
    // Whatever a destination was built from, root's copy never lands
    // outside the drop box, nor anywhere but where its text names.
    TessaPath::Fault fault = TessaPath::Fault::none;
    const std::optional<TessaPath> place = TessaPath::parse(destination, &fault);
    if (!place) {
        TESSA_LOG(fault == TessaPath::Fault::parentName
                      ? "doCopy refused: destination leaves the drop box: " + destination
                      : std::string("doCopy refused: destination holds ") + TessaPath::describe(fault) + ": " +
                            destination);
        return -1;
    }
    // The drop box root stands for the partition the destination names.
    const std::string target = place->under(mountPoint);

    std::string command;
    for (const std::string& folder : place->folders()) {
        // One level per command; a folder that is there already is no
        // failure.
        command = "mkdir " + shellWord(mountPoint + folder) + " > /dev/null 2>&1";
        TESSA_LOG("Creating directory");
        TESSA_LOG(command);
        TESSA_LOG(runCommand(command) < 0 ? "failed" : "succeeded");
    }

    switch (mode) {
    case dirmake:
        command = "/bin/mkdir -p " + shellWord(target) + " > /dev/null 2>&1";
        TESSA_LOG("Cmd: " + command);
        break;
    case filecopy:
    case signedunzip:
        command = "/bin/cp " + shellWord(source) + " " + shellWord(target) + " > /dev/null";
        TESSA_LOG("Cmd: " + command);
        break;
    case ssib:
        command = "/bin/cp " + shellWord(source) + " " + shellWord(mountPoint) + " > /dev/null";
        TESSA_LOG("Cmd: " + command);
        break;
    default:
        break;
    }
    TESSA_LOG("Executing command ");
    TESSA_LOG(command);
    if (command.empty())
        return 0;
    return runCommand(command);
}

bool secureTessa::populateDynPart(std::string mountPoint, std::ostringstream* document, unsigned long& index,
                                  unsigned long capacity)
{
    try {
        CopyPass pass(cfgEntries, mountPoint, document, capacity, false);
        index = pass.run(index);
        return true;
    } catch (...) {
        TESSA_LOG("populateDynPart failed");
        return false;
    }
}

bool secureTessa::populateDynPartWaveCPlus(std::string mountPoint, std::ostringstream* document,
                                           unsigned long& index, unsigned long capacity)
{
    TESSA_LOG("Entering populateDynPartWaveCPlus");
    unsigned int error = KOLT_INTERNALERROR;
    try {
        CopyPass pass(cfgEntries, mountPoint, document, capacity, true);
        index = pass.run(index);
        TESSA_LOG("Leaving populateDynPartWaveCPlus");
        return true;
    } catch (unsigned char number) {
        error = number;
    } catch (...) {
    }
    TESSA_LOG("populateDynPart failed with error code " + std::to_string(error));
    TESSA_LOG("Leaving populateDynPartWaveCPlus");
    return false;
}

namespace {

// The drop-box size a queue needs, unlimited: the files to copy, rounded
// up to whole units, the reserve, and for a signed archive room for its
// signature and the package descriptor.
uint64_t payloadBytesOf(const std::vector<cfgEntry>& queue, uint64_t start)
{
    uint64_t sum = start;
    for (const cfgEntry& entry : queue) {
        if (entry.mode == filecopy || entry.mode == signedunzip)
            sum += entry.size;
    }
    if (sum < kMinimumPayloadBytes)
        sum = kMinimumPayloadBytes;
    else
        sum = (sum + kDropBoxUnitBytes - 1) / kDropBoxUnitBytes * kDropBoxUnitBytes;
    sum += eps;
    if (!queue.empty() && queue.front().mode == signedunzip)
        sum += 4 * eps;
    return sum;
}

// A payload beyond what a drop box can hold asks for the largest one;
// without a known limit, for the largest size the request can name.
uint64_t dropBoxCeiling(uint32_t maxDropBoxBytes)
{
    return maxDropBoxBytes != 0 ? maxDropBoxBytes
                                : std::numeric_limits<unsigned int>::max() / kDropBoxUnitBytes * kDropBoxUnitBytes;
}

// An ESXi host mounts nothing smaller.
const uint64_t kESXiMinimumDropBoxBytes = 33554432;

uint64_t withESXiMinimum(uint64_t bytes, int32_t hostOsIndex)
{
    if (hostOsIndex == ESXi && bytes < kESXiMinimumDropBoxBytes) {
        TESSA_LOG("Resetting PayloadSize for ESXi");
        return kESXiMinimumDropBoxBytes;
    }
    return bytes;
}

} // namespace

void secureTessa::CalculateAndAdjustPayloadSize(unsigned int& total)
{
    total = static_cast<unsigned int>(std::min(payloadBytesOf(cfgEntries, total), dropBoxCeiling(maxDropBoxBytes)));
}

namespace {

// The document and its path for one pass.
void setTargetFilePath(const char* mountPoint, const char* documentName)
{
    std::snprintf(targetFilePath, kTargetFilePathBytes, "%s%s", mountPoint, documentName);
}

// Writes the document text whole, or throws 27.
void writeDocument(const std::string& text)
{
    std::FILE* file = std::fopen(targetFilePath, "wb");
    if (file == nullptr) {
        TESSA_LOG(std::string("Could not create ") + targetFilePath + ": " + std::strerror(errno));
        throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
    }
    FileHandle handle(file);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    handle.release();
    if (std::fclose(file) != 0 || !written) {
        TESSA_LOG(std::string("Could not write ") + targetFilePath);
        throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
    }
}

// Removes what earlier passes left in the drop box before a new pass.
void clearEarlierPasses(const std::vector<cfgEntry>& queue, unsigned long index, const std::string& mountPoint)
{
    for (unsigned long i = 0; i < index && i < queue.size(); ++i) {
        if (queue[i].mode != filecopy && queue[i].mode != fileappend)
            continue;
        // Nothing was copied to a text that names no place.
        if (const std::optional<TessaPath> place = TessaPath::parse(queue[i].destination))
            ::unlink(place->under(mountPoint).c_str());
    }
    runCommand("rm -f " + shellWord(mountPoint) + "FileChunk*" + " > /dev/null 2>&1");
}

// Names the drop box's mount point in DynMountPoint, or throws 27.
std::string dropBoxMountPoint(secureTessa& client)
{
    if (!client.getDynPartDrive(dynDriveName, DynMountPoint, sizeof(DynMountPoint))) {
        TESSA_LOG("Dynamic Partition Mount Point NOT found");
        throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
    }
    TESSA_LOG("Dynamic Partition Mount Point: ");
    TESSA_LOG(DynMountPoint);
    return DynMountPoint;
}

// The drop box of a copy transaction and its attachment, given back on the
// way out in the opposite order: detached, then deleted.
struct CopyDropBox {
    explicit CopyDropBox(secureTessa& client)
        : box(client, TESSA_SITE, {"DeleteDropBox succeeded", "DeleteDropBox Failed"}),
          attachment(client, TESSA_SITE, {"DetachPartition succeeded", "DetachPartition Failed"})
    {
    }

    // usb-storage block-listed stops the whole update: the drop box stays
    // for the next session start to delete.
    void failedWith(unsigned char error)
    {
        if (error == KOLT_USBBLOCKLISTED)
            box.keep();
    }

    ScopedDropBox box;
    ScopedAttachment attachment;
};

// Creates the drop box; the size granted, or throws 64.
unsigned int createDropBox(ScopedDropBox& box, unsigned int requested)
{
    unsigned int granted = 0;
    if (!box.create(requested, &granted) || granted == 0)
        throw static_cast<unsigned char>(KOLT_DROPBOXCREATEFAILED);
    TESSA_LOG("CreateDropBox succeeded");
    return granted;
}

// Creates a drop box sized for the whole queue; the size granted. An empty
// queue is refused before anything is asked: with no document there is
// nothing to hand over.
unsigned int createQueueDropBox(secureTessa& client, ScopedDropBox& box)
{
    if (client.cfgEntries.empty()) {
        TESSA_LOG("No files queued for the copy");
        throw static_cast<unsigned char>(KOLT_INTERNALERROR);
    }
    unsigned int requested = 0;
    client.CalculateAndAdjustPayloadSize(requested);
    return createDropBox(box, requested);
}

// Attaches the drop box, which mounts it on the host; its mount point, or
// throws 27.
std::string attachDropBox(secureTessa& client, ScopedAttachment& attachment)
{
    if (!attachment.attachDropBox(tessaPartInfo[kDropBoxRow].partIdWord)) {
        TESSA_LOG("AttachPartition failed");
        throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
    }
    TESSA_LOG("AttachPartition succeeded");
    return dropBoxMountPoint(client);
}

// Ends a pass's document; its text.
std::string finishDocument(std::ostringstream& document)
{
    TESSA_LOG("Adding the config file footer");
    document << "</TESSA_Update>\n\n";
    const std::string text = document.str();
    TESSA_LOG("update.xml Contents: ");
    TESSA_LOG(text);
    return text;
}

std::string sha256Of(const std::string& text)
{
    char sha[65] = {0};
    CSHA().CalculateSHA256(text, false, sha);
    return sha;
}

// Writes the document into the mounted drop box under `name`, or throws 27.
void placeDocument(const char* name, const std::string& text)
{
    setTargetFilePath(DynMountPoint, name);
    TESSA_LOG("Dynamic Partition volumeLabel: ");
    TESSA_LOG(targetFilePath);
    writeDocument(text);
}

// Flushes what a pass wrote through to the drop box's device.
void flushDropBox(const std::string& mountPoint)
{
    runCommand("sync");
    syncAll(mountPoint);
}

// Detaches the drop box after a pass, or throws 23. A drop box the
// controller would not detach stays: the next session start detaches
// everything and deletes a drop box an earlier run left.
void detachDropBox(CopyDropBox& dropBox)
{
    if (!dropBox.attachment.detach()) {
        TESSA_LOG("DetachPartition failed");
        dropBox.box.keep();
        throw static_cast<unsigned char>(KOLT_DETACHFAILED);
    }
    TESSA_LOG("DetachPartition succeeded");
}

// One pass of a copy that may take several: the document's header, the drop
// box attached and cleared of what earlier passes left, and the queue from
// `index` on copied into it; its text. Throws 27 when the pass fails.
std::string copyOnePass(secureTessa& client, CopyDropBox& dropBox, unsigned long& index, unsigned int granted,
                        bool waveC, std::string& mountPoint)
{
    std::ostringstream document;
    AddCfgHdr(&document);
    mountPoint = attachDropBox(client, dropBox.attachment);

    clearEarlierPasses(client.cfgEntries, index, mountPoint);
    const bool copied = waveC ? client.populateDynPartWaveCPlus(mountPoint, &document, index, granted)
                              : client.populateDynPart(mountPoint, &document, index, granted);
    if (!copied) {
        TESSA_LOG("populateDynPart failed");
        throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
    }
    return finishDocument(document);
}

void logLine(const char* line) noexcept
{
    if (line == nullptr)
        return;
    try {
        TESSA_LOG(line);
    } catch (...) {
    }
}

// Runs the steps of a copy transaction with what it holds on the controller
// and the host (a `Held`, made from the client), and ends every copy
// transaction that fails the same way: the number is stored and logged
// while the owners still hold what they hold, then they give it back on
// their way out (all but what Held::failedWith keeps), then comes the exit
// line of a failure that is no KOLT number. createFailedLine follows a
// failed create (64); either line may be null.
template <class Held, class Steps>
bool runCopyTransaction(secureTessa& client, const char* createFailedLine, const char* exitLine, Steps steps)
{
    bool unexpected = false;
    {
        Held held(client);
        try {
            return steps(held);
        } catch (unsigned char error) {
            client.storeErrorInfo(error);
            held.failedWith(error);
            logLine("copyPayload failed");
            if (error == KOLT_DROPBOXCREATEFAILED)
                logLine(createFailedLine);
        } catch (...) {
            // Memory running out between two steps: 31, and the owners give
            // back what they hold as after a failed pass.
            client.storeErrorInfo(KOLT_INTERNALERROR);
            held.failedWith(KOLT_INTERNALERROR);
            unexpected = true;
            logLine("copyPayload failed");
            logLine("KOLT internal error");
        }
    }
    if (unexpected)
        logLine(exitLine);
    client.l_state = 0;
    return false;
}

} // namespace

bool secureTessa::CompleteCopyFileWaveCPlus(digestType digest)
{
    TESSA_LOG("Entering CompleteCopyFileWaveCPlus");
    return runCopyTransaction<CopyDropBox>(
        *this, "create drop box failed", "Exiting CompleteCopyFileWaveCPlus", [&](CopyDropBox& dropBox) {
            const unsigned int granted = createQueueDropBox(*this, dropBox.box);

            std::string hash;
            unsigned long index = 0;
            const std::string mountPoint = attachDropBox(*this, dropBox.attachment);

            clearEarlierPasses(cfgEntries, index, mountPoint);
            std::ostringstream document;
            AddCfgHdr(&document);
            if (!populateDynPartWaveCPlus(mountPoint, &document, index, granted)) {
                TESSA_LOG("populateDynPart failed");
                throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
            }
            // The controller reads one document, after the one pass: a
            // second pass would replace what this one copied.
            if (index < cfgEntries.size()) {
                TESSA_LOG("Payload size exceeds Maximum Dynamic partition size.");
                throw static_cast<unsigned char>(KOLT_PAYLOADTOOLARGE);
            }

            const std::string text = finishDocument(document);
            if (digest != DIGEST_GPG) {
                hash = sha256Of(text);
                TESSA_LOG("update.xml Hash: ");
                TESSA_LOG(hash);
                placeDocument(updFileNameWaveCPlus, text);
            }
            flushDropBox(mountPoint);
            detachDropBox(dropBox);

            if (digest != DIGEST_GPG) {
                if (!SecureTessaCopyWaveCPlus(session, hash, digest)) {
                    TESSA_LOG("SecureTessaCopy failed");
                    throw static_cast<unsigned char>(KOLT_DIGESTHANDOVERFAILED);
                }
                // The controller checks the document against the digest: a
                // refusal (or no answer within the polls) means nothing will
                // be staged from this drop box.
                const int status = pollForStatus();
                if (status != 0 && status != 1) {
                    TESSA_LOG("SecureTessaCopy hash check verification failed");
                    throw static_cast<unsigned char>(KOLT_DIGESTHANDOVERFAILED);
                }
                TESSA_LOG("SecureTessaCopy succeeded and hash check verification passed");
            }
            l_state = 0;
            TESSA_LOG("Exiting CompleteCopyFileWaveCPlus");
            // The stage command that follows takes the package from the drop
            // box; the caller deletes it afterwards.
            dropBox.box.keep();
            return true;
        });
}

bool secureTessa::CompleteCopyFile()
{
    return runCopyTransaction<CopyDropBox>(*this, "Creat Drop Box Failed", nullptr, [&](CopyDropBox& dropBox) {
        const unsigned int granted = createQueueDropBox(*this, dropBox.box);

        static md5wrapper hasher;
        unsigned long index = 0;
        while (index < cfgEntries.size()) {
            std::string mountPoint;
            const std::string text = copyOnePass(*this, dropBox, index, granted, false, mountPoint);
            const std::string hash = hasher.getHashFromString(text);
            TESSA_LOG("update.xml Hash: ");
            TESSA_LOG(hash);
            placeDocument(updFileName, text);
            flushDropBox(mountPoint);
            detachDropBox(dropBox);
            if (!SecureTessaCopy(session, hash, 0)) {
                TESSA_LOG("SecureTessaCopy failed");
                throw static_cast<unsigned char>(KOLT_DIGESTHANDOVERFAILED);
            }
            TESSA_LOG("SecureTessaCopy succeeded");
        }

        if (!dropBox.box.remove()) {
            TESSA_LOG("DeleteDropBox Failed");
            // Not asked again on the way out: the next session start deletes
            // a drop box an earlier run left.
            dropBox.box.keep();
            throw static_cast<unsigned char>(KOLT_DELETEDROPBOXFAILED);
        }
        TESSA_LOG("DeleteDropBox succeeded");
        if (!VerifyCopyFiles()) {
            TESSA_LOG("Copy verification Failed");
            throw static_cast<unsigned char>(KOLT_COPYMISMATCH);
        }
        TESSA_LOG("Copy verification Succeeded");
        l_state = 0;
        return true;
    });
}

// ---------------------------------------------------------------------------
// The older secure-update sequence

namespace {

const unsigned char kBeginSecureUpdate = 0x20;
const unsigned char kProcessSecureUpdate = 0x22;
const unsigned char kEndSecureUpdate = 0x23;
const unsigned short kBeginSecureUpdateValue = 1200;
// The begin request names the size in 16 bits of 32 KiB units.
const uint64_t kSecureUpdateUnitShift = 15;
const uint64_t kMaxSecureUpdateUnits = 0xFFFF;
const size_t kSecureUpdateDigestBytes = 16;

std::string returnCode(unsigned char code)
{
    char text[8];
    std::snprintf(text, sizeof(text), "%04x", static_cast<unsigned int>(code));
    return text;
}

void putHandle(unsigned short handle)
{
    IPMIReqBuf.request[3] = static_cast<unsigned char>(handle & 0xFF);
    IPMIReqBuf.request[4] = static_cast<unsigned char>(handle >> 8);
}

// Sends the filled request; true only when the controller answered and
// its answer was success. A request that got no answer leaves a completion
// code of 0 behind (the library clears the answer before it sends), so the
// code alone would take silence for success.
bool sentWithSuccess(secureTessa& client, unsigned char subCommand, unsigned short requestLength,
                     unsigned short responseLength)
{
    const unsigned char status = client.IPMIRequest(subCommand, &IPMIReqBuf, requestLength, responseLength);
    return status == 0 && IPMIReqBuf.response[2] == 0;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool secureTessa::beginSecureUpdate(sessionHandle handle, unsigned int payloadBytes)
{
    TESSA_LOG("Entering beginSecureUpdate");
    const uint64_t units = static_cast<uint64_t>(payloadBytes) >> kSecureUpdateUnitShift;
    if (units > kMaxSecureUpdateUnits) {
        // Cut to 16 bits the size would announce a far smaller drop box
        // than the archive needs.
        TESSA_LOG("beginSecureUpdate : Payload Size of " + std::to_string(units) +
                  " units is more than the request can name");
        return false;
    }
    TESSA_LOG("beginSecureUpdate : Payload Size : " + std::to_string(units));

    std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
    putHandle(handle.handle);
    IPMIReqBuf.request[5] = static_cast<unsigned char>(kBeginSecureUpdateValue & 0xFF);
    IPMIReqBuf.request[6] = static_cast<unsigned char>(kBeginSecureUpdateValue >> 8);
    IPMIReqBuf.request[8] = static_cast<unsigned char>(units & 0xFF);
    IPMIReqBuf.request[9] = static_cast<unsigned char>(units >> 8);
    if (!sentWithSuccess(*this, kBeginSecureUpdate, 12, 8)) {
        TESSA_LOG("beginSecureUpdate : pfnBeginSecureUpdate failed : Return Code - 0x" +
                  returnCode(IPMIReqBuf.response[2]));
        return false;
    }
    TESSA_LOG("beginSecureUpdate Succeeded");
    return true;
}

bool secureTessa::processSecureUpdate(sessionHandle handle, std::string digest)
{
    TESSA_LOG("Entering processSecureUpdate");
    // Anything but an MD5 in hexadecimal would hand the controller a digest
    // no document has; it is refused before anything is sent.
    unsigned char bytes[kSecureUpdateDigestBytes] = {0};
    bool wellFormed = digest.size() == 2 * kSecureUpdateDigestBytes;
    for (size_t k = 0; wellFormed && k < kSecureUpdateDigestBytes; ++k) {
        const int high = hexValue(digest[2 * k]);
        const int low = hexValue(digest[2 * k + 1]);
        wellFormed = high >= 0 && low >= 0;
        bytes[k] = static_cast<unsigned char>(high * 16 + low);
    }
    if (!wellFormed) {
        TESSA_LOG("processSecureUpdate : the digest is not 32 hexadecimal characters: " + digest);
        return false;
    }

    std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
    putHandle(handle.handle);
    std::memcpy(&IPMIReqBuf.request[7], bytes, sizeof(bytes));
    if (!sentWithSuccess(*this, kProcessSecureUpdate, 29, 6)) {
        TESSA_LOG("processSecureUpdate : pfnProcessSecureUpdate failed : Return Code - 0x" +
                  returnCode(IPMIReqBuf.response[2]));
        return false;
    }
    return true;
}

bool secureTessa::endSecureUpdate(sessionHandle handle)
{
    TESSA_LOG("Entering endSecureUpdate");
    std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
    putHandle(handle.handle);
    if (!sentWithSuccess(*this, kEndSecureUpdate, 9, 6))
        return false;
    TESSA_LOG("endSecureUpdate Succeeded");
    return true;
}

// ---------------------------------------------------------------------------
// Signed-unzip staging and the direct payload copy

namespace {

// Travels with a signed archive, from the working directory.
const char* const kPackageXml = "package.xml";

// A secure update begun on the controller, which then holds its drop box
// for it; ended on the way out unless ended before, so that the controller
// takes its drop box back.
class OpenSecureUpdate {
public:
    explicit OpenSecureUpdate(secureTessa& client) : m_client(client) {}
    ~OpenSecureUpdate()
    {
        if (!m_open)
            return;
        try {
            TESSA_LOG(m_client.endSecureUpdate(m_client.session) ? "EndSecureUpdate succeeded"
                                                                 : "EndSecureUpdate Failed");
        } catch (...) {
        }
    }
    OpenSecureUpdate(const OpenSecureUpdate&) = delete;
    OpenSecureUpdate& operator=(const OpenSecureUpdate&) = delete;

    bool begin(unsigned int payloadBytes)
    {
        m_open = m_client.beginSecureUpdate(m_client.session, payloadBytes);
        return m_open;
    }
    // Ends it now; asked once, whatever the controller answers.
    bool end()
    {
        m_open = false;
        return m_client.endSecureUpdate(m_client.session);
    }

private:
    secureTessa& m_client;
    bool m_open = false;
};

// What the signed unzip holds, in the order it takes them: the secure update
// begun on the controller, and the drop box it offers, mounted on the host.
struct SignedUnzipHold {
    explicit SignedUnzipHold(secureTessa& client)
        : update(client), mount(client, TESSA_SITE, {nullptr, "umountDynPartition failed."})
    {
    }

    // A failed staging gives the mount up before the update ends: the end
    // takes the disk back, and a mount left on it would stay at the mount
    // point, on a disk that is gone, until the next run.
    void failedWith(unsigned char) {}

    OpenSecureUpdate update;
    ScopedDropBoxMount mount;
};

} // namespace

bool secureTessa::populateDynPart(std::ostringstream* document)
{
    TESSA_LOG("Entering populateDynPart");
    try {
        if (cfgEntries.empty()) {
            TESSA_LOG("No files queued for the copy");
            throw static_cast<unsigned char>(KOLT_INTERNALERROR);
        }
        const cfgEntry entry = cfgEntries.front();
        const std::string mountPoint(DynMountPoint);
        // A copy that failed ends with a non-zero status (the shell's, not a
        // negative one): every failure counts.
        if (doCopy(mountPoint, entry.destination, entry.source, entry.mode) != 0) {
            TESSA_LOG("doCopy of Payload zip failed");
            throw static_cast<unsigned char>(KOLT_INTERNALERROR);
        }
        TESSA_LOG("doCopy of Payload zip succeeded");
        if (doCopy(mountPoint, entry.destination + ".sig", entry.source + ".sig", entry.mode) != 0) {
            TESSA_LOG("doCopy of Signature file failed");
            throw static_cast<unsigned char>(KOLT_INTERNALERROR);
        }
        TESSA_LOG("doCopy of Signature file succeeded");
        // The descriptor goes into the root of the archive's partition.
        const std::optional<TessaPath> archive = TessaPath::parse(entry.destination);
        const std::optional<TessaPath> package = archive ? archive->inRoot(kPackageXml) : std::nullopt;
        if (!package || doCopy(mountPoint, package->text(), kPackageXml, entry.mode) != 0) {
            TESSA_LOG("doCopy of Package XML file failed");
            throw static_cast<unsigned char>(KOLT_INTERNALERROR);
        }
        TESSA_LOG("doCopy of Package XML file succeeded");
        if (!AddCfgEntry(document, entry, false)) {
            TESSA_LOG("AddCfgEntry failed");
            throw static_cast<unsigned char>(KOLT_INTERNALERROR);
        }
        return true;
    } catch (unsigned char) {
        TESSA_LOG("populateDynPart failed");
        return false;
    }
}

bool secureTessa::CompleteSignedUnzip()
{
    TESSA_LOG("CompleteSighnedUnzip Started");
    static md5wrapper hasher;
    return runCopyTransaction<SignedUnzipHold>(*this, nullptr, nullptr, [&](SignedUnzipHold& held) {
        // Nothing to unpack: the controller is not asked to begin at all.
        if (cfgEntries.empty()) {
            TESSA_LOG("No files queued for the copy");
            throw static_cast<unsigned char>(KOLT_INTERNALERROR);
        }
        const uint64_t size = withESXiMinimum(payloadBytesOf(cfgEntries, 0), hostOsIndex);
        if (size > maxDropBoxBytes) {
            TESSA_LOG("Payload size exceeds Maximum Dynamic partition size.");
            throw static_cast<unsigned char>(KOLT_PAYLOADTOOLARGE);
        }
        if (!held.update.begin(static_cast<unsigned int>(size))) {
            TESSA_LOG("Begin Secure Update failed.");
            throw static_cast<unsigned char>(KOLT_BEGINSECUREUPDATEFAILED);
        }

        std::ostringstream document;
        AddCfgHdr(&document);
        // The controller offers the drop box itself once the update began.
        if (!held.mount.mount()) {
            TESSA_LOG("mountDynPartition did not succeed.");
            throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
        }
        const std::string mountPoint = dropBoxMountPoint(*this);
        if (!populateDynPart(&document)) {
            TESSA_LOG("populateDynPart failed");
            throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
        }

        const std::string text = finishDocument(document);
        const std::string hash = hasher.getHashFromString(text);
        TESSA_LOG("update.xml Hash: ");
        TESSA_LOG(hash);
        placeDocument(updFileName, text);
        flushDropBox(mountPoint);

        if (!held.mount.unmount())
            TESSA_LOG("umountDynPartition failed.");
        ESX_RemoveEntries(0, tessaPartInfo[kDropBoxRow].partIdWord, kDropBoxRow);

        if (!processSecureUpdate(session, hash)) {
            TESSA_LOG("processSecureUpdate failed");
            throw static_cast<unsigned char>(KOLT_PROCESSSECUREUPDATEFAILED);
        }
        if (!held.update.end()) {
            TESSA_LOG("EndSecureUpdate Failed");
            throw static_cast<unsigned char>(KOLT_ENDSECUREUPDATEFAILED);
        }
        TESSA_LOG("EndSecureUpdate succeeded");
        l_state = 0;
        return true;
    });
}

bool secureTessa::copyPayloadtoDynamicPartition()
{
    TESSA_LOG("Entering copyPayloadtoDynamicPartition");
    return runCopyTransaction<CopyDropBox>(
        *this, "create drop box failed", "Exiting copyPayloadtoDynamicPartition", [&](CopyDropBox& dropBox) {
            const unsigned int requested = static_cast<unsigned int>(std::min(
                withESXiMinimum(payloadBytesOf(cfgEntries, 0), hostOsIndex), dropBoxCeiling(maxDropBoxBytes)));
            const unsigned int granted = createDropBox(dropBox.box, requested);

            const unsigned long count = cfgEntries.size();
            unsigned long index = 0;
            while (index < count) {
                std::string mountPoint;
                const std::string text = copyOnePass(*this, dropBox, index, granted, true, mountPoint);
                TESSA_LOG("update.xml Hash: ");
                TESSA_LOG(sha256Of(text));
                placeDocument(updFileNameWaveCPlus, text);
                flushDropBox(mountPoint);
                detachDropBox(dropBox);
            }
            l_state = 0;
            TESSA_LOG("Exiting copyPayloadtoDynamicPartition");
            // The drop box stays, detached, for the caller.
            dropBox.box.keep();
            return true;
        });
}

bool secureTessa::deleteDynamicPartition()
{
    const bool deleted = DeleteDropBox(0);
    TESSA_LOG(deleted ? "DeleteDropBox succeeded" : "DeleteDropBox Failed");
    return deleted;
}
