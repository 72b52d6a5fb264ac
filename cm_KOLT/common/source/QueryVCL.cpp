#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DependencyAnswer.h"
#include "FileIO.h"
#include "LinuxEnumerateDevices.h"
#include "LinuxUtils.h"
#include "Md5Wrapper.h"
#include "PlatformLayer.h"
#include "SecureTessa.h"
#include "TessaRequestBytes.h"
#include "TessaResources.h"

// The ESXi search: the hypervisor mounts the partition's volume itself once
// the controller's virtual USB device (vendor 0624, product 0250) is there.
static const std::string ESXi_RESCAN_COMMAND = "esxcli storage filesystem rescan";
static const std::string ESXi_IS_SECUPD_ATTACHED_COMMAND = "lsusb | grep -i 0624:0250 > /dev/null";
static const std::string ESXi_AUTOMOUNT_COMMAND = "esxcli storage filesystem automount";
static const std::string ESXi_LIST_MOUNTED_DEVICES = "ls /vmfs/volumes/ | grep ";
static const std::string ESXi_DEVICE_PATH = "/vmfs/volumes/SECUPD/";

static const char* const kSgLoadedProbe = "lsmod | grep -w sg >/dev/null;echo $?";
static const char* const kBlockdevReport = "/sbin/blockdev --report /dev/sd* > /dev/null 2>&1";
// The controller's USB disk shows up some seconds after the attach: 60
// attempts, 5 s apart on Linux hosts, 2 s once the device is listed on ESXi.
static const int kSearchAttempts = 60;
static const int kLinuxAttemptPause = 5;
static const int kESXiSettlePause = 2;

bool secureTessa::isSGDriverLoaded()
{
    std::string status = executeCmd(kSgLoadedProbe);
    return std::strtol(status.c_str(), nullptr, 10) == 0;
}

std::string secureTessa::getDevicePath(std::string& label)
{
    TESSA_LOG("getDevicePath: Entering");
    if (label.empty()) {
        TESSA_LOG("getDevicePath: Volume name is empty ");
        return std::string();
    }
    // The label ends up in a shell command on ESXi and names the mount
    // point later: only a partition label of the table is accepted.
    if (!isSafePartitionLabel(label)) {
        TESSA_LOG("getDevicePath: Volume name is not a partition label: " + label);
        return std::string();
    }

    if (hostOsIndex == ESXi) {
        for (int attempt = 0; attempt < kSearchAttempts; ++attempt) {
            TESSA_LOG("getDevicePath: going through ESXi way of mounting ");
            runCommand(ESXi_RESCAN_COMMAND);
            if (runCommand(ESXi_IS_SECUPD_ATTACHED_COMMAND) != 0)
                continue;
            TESSA_LOG("getDevicePAth: SECUPD attached on ESXi");
            runCommand(ESXi_AUTOMOUNT_COMMAND);
            runCommand(ESXi_RESCAN_COMMAND);
            CPlatformLayer::Sleep(kESXiSettlePause);
            if (runCommand(ESXi_LIST_MOUNTED_DEVICES + shellWord(label) + " > /dev/null") == 0) {
                TESSA_LOG("getDevicePath: ESXi mount path found");
                return ESXi_DEVICE_PATH;
            }
            TESSA_LOG("getDevicePath: Device Not Found and Trying to Find again");
        }
    } else {
        bool diskOnly = false;
        if (!isSGDriverLoaded()) {
            TESSA_LOG("getDevicePath: SG driver is not loaded ");
            diskOnly = true;
        }
        if (hostOsIndex == ESX || hostOsIndex == ESX4 || hostOsIndex == ESX4_1)
            diskOnly = true;
        for (int attempt = 0; attempt < kSearchAttempts; ++attempt) {
            runCommand(kBlockdevReport);
            CLinuxEnumerateDevices devices(diskOnly);
            std::string path;
            CPlatformLayer::Sleep(kLinuxAttemptPause);
            if (devices.GetDeviceWithLabel(label, path)) {
                TESSA_LOG("CEnumerateDevices found a device ");
                if (!path.empty()) {
                    TESSA_LOG(path);
                    return path;
                }
            }
            TESSA_LOG("Trying to find device ");
        }
    }
    TESSA_LOG("Could not find the device after all the retries ");
    return std::string();
}

// ---------------------------------------------------------------------------
// Controller-log query and dependency check through the drop box

// The one request of the last query or dependency check; separate from the
// client's staging queue, which a query never touches.
static std::vector<cfgEntry> VclRequest;

static const char* const kAnswerFileName = "output.xml";
static const char* const kPackageFileName = "package.xml";
static const unsigned int kOneMiB = 1048576;
// ESXi mounts the drop box as a VMFS-visible volume, which needs more room.
static const unsigned int kESXiQueryBytes = 33554432;
static const unsigned short kDropBoxRow = 0;
static const unsigned char kCapabilityCommand = 0xBF;
static const unsigned char kSystemCommand = 0xBD;
static const unsigned char kOEMNetFn = 0x30;
static const unsigned int kOEMResponseLength = 30;
// Response bytes of the plain OEM answers: the completion code, and the
// capability answer's data bytes 0 and 1.
static const unsigned int kOEMCompletionCode = 2;
static const unsigned int kCapabilityLevel0 = 3;
static const unsigned int kCapabilityLevel1 = 4;
// The answer is read in blocks of this size.
static const size_t kAnswerBlockBytes = 65536;

// Every line break of the request document is flushed as it is written.
static void newLine(std::ostringstream* document)
{
    document->put('\n');
    document->flush();
}

static void tabs(std::ostringstream* document, int count)
{
    for (int i = 0; i < count; ++i)
        *document << '\t';
}

int CreateVCLConfigFile(std::ostringstream* document, std::vector<cfgEntry> entries)
{
    static md5wrapper hasher;
    *document << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    newLine(document);
    *document << "<TESSA_Update>";
    newLine(document);
    for (const cfgEntry& entry : entries) {
        tabs(document, 1);
        *document << "<File" << " order=" << '"' << entry.order << '"' << ">";
        newLine(document);
        switch (entry.mode) {
        case vcl_update_records:
            tabs(document, 4);
            *document << "<Mode>vcl_update_records</Mode>";
            newLine(document);
            tabs(document, 4);
            *document << "<Source>input.xml</Source>";
            newLine(document);
            break;
        case vcl_update_entire_inventory:
            tabs(document, 2);
            *document << "<Hash>" << entry.hash << "</Hash>";
            newLine(document);
            tabs(document, 2);
            *document << "<Source>" << entry.source << "</Source>";
            newLine(document);
            tabs(document, 2);
            *document << "<Mode>vcl_update_entire_inventory</Mode>";
            newLine(document);
            break;
        case vcl_query_history_records:
            tabs(document, 4);
            *document << "<Mode>vcl_query_history_records</Mode>";
            newLine(document);
            break;
        case vcl_query_event_records:
            tabs(document, 4);
            *document << "<Mode>vcl_query_event_records</Mode>";
            newLine(document);
            break;
        case vcl_query_dependency:
            tabs(document, 2);
            *document << "<Source>" << kPackageFileName << "</Source>";
            newLine(document);
            tabs(document, 2);
            *document << "<Hash>" << hasher.getHashFromFile(kPackageFileName) << "</Hash>";
            newLine(document);
            tabs(document, 2);
            *document << "<Mode>vcl_query_dependency</Mode>";
            newLine(document);
            break;
        default:
            tabs(document, 4);
            *document << "<Mode>vcl_query_current_records</Mode>";
            newLine(document);
            break;
        }
        if (entry.algorithmLabel == 0 || entry.algorithmLabel == 1) {
            tabs(document, 2);
            *document << (entry.algorithmLabel == 0 ? "<Algorithm>SHA1</Algorithm>" : "<Algorithm>MD5</Algorithm>");
            newLine(document);
        }
        tabs(document, 1);
        *document << "</File>";
        newLine(document);
    }
    *document << "</TESSA_Update>";
    newLine(document);
    newLine(document);
    return 1;
}

std::string answerText(const std::string& bytes)
{
    return bytes.substr(0, bytes.find('\0'));
}

DependencyVerdict judgeDependencyAnswer(const std::string& text)
{
    DependencyVerdict verdict;
    if (text.find("<status>0</status>") != std::string::npos) {
        verdict.passed = true;
        return verdict;
    }
    // The answer is expected to open with an XML declaration; one without
    // is shown whole rather than cut somewhere arbitrary.
    const size_t declarationEnd = text.find("?>");
    verdict.forCaller = declarationEnd == std::string::npos ? text : text.substr(declarationEnd + 2);
    return verdict;
}

namespace {

// One request and its answer through a drop box this exchange creates:
// create, write "update.xml", hand its digest over, read "output.xml",
// delete. Steps throw KOLT numbers; whatever the exchange still holds when
// it ends (the drop box, its attachment) is given back then, and nothing
// it did not take.
class DropBoxExchange {
public:
    DropBoxExchange(secureTessa& client, bool dependencyCheck)
        : m_client(client),
          m_dependencyCheck(dependencyCheck),
          m_box(client, TESSA_SITE, {nullptr, "DeleteDropBox Failed."}),
          m_attachment(client, TESSA_SITE, {nullptr, "DetachPartition Failed."})
    {
    }

    bool create(unsigned int sizeBytes)
    {
        unsigned int granted = 0;
        if (!m_box.create(sizeBytes, &granted))
            return false;
        m_granted = granted;
        m_word = tessaPartInfo[kDropBoxRow].partIdWord;
        if (granted < sizeBytes) {
            TESSA_LOG("PartitionSize obtained is < ONE MEG");
            throw static_cast<unsigned char>(KOLT_PARTITIONTOOSMALL);
        }
        return true;
    }

    // Writes the request and returns the bytes of the controller's answer.
    std::string exchange(const std::string& document)
    {
        static md5wrapper hasher;
        const std::string hash = hasher.getHashFromString(document);
        TESSA_LOG(hash);
        TESSA_LOG("Initiating the update.");

        if (!m_attachment.attachDropBox(m_word)) {
            TESSA_LOG("AttachPartition failed.");
            throw static_cast<unsigned char>(KOLT_VCLATTACHFAILED);
        }
        TESSA_LOG("AttachPartition succeeded");
        TESSA_LOG("Finding where the dynamic partition was attached.");
        char mountPoint[kMountPointBufferBytes];
        if (!m_client.getDynPartDrive(dynDriveName, mountPoint, sizeof(mountPoint))) {
            TESSA_LOG("Unable to find Mount Point of the Dynamic Partition");
            throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
        }
        TESSA_LOG("Dynamic Partition Mount Point: ");
        TESSA_LOG(mountPoint);
        if (tessaPartInfo[kDropBoxRow].volumeLabel.empty()) {
            TESSA_LOG("Dynamic Partition volumeLabel is empty");
            TESSA_LOG("update.xml path could not be constructed");
            throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
        }

        const std::string requestPath = std::string(mountPoint) + updFileName;
        TESSA_LOG("update.xml path: ");
        TESSA_LOG(requestPath);
        {
            // The controller acts on what it reads: a request that did not
            // reach the drop box whole is this side's failure, not a digest
            // the controller refuses later.
            CUniqueFd request(OpenRegularFileForWriting(requestPath, true));
            std::string writeError = request.valid() ? std::string() : ErrnoText("Opening " + requestPath);
            TESSA_LOG(m_dependencyCheck ? "update.xml Hash: " : "Update.xml Hash: ");
            TESSA_LOG(hash);
            TESSA_LOG(m_dependencyCheck ? "update.xml Content: " : "Update.xml Content: ");
            TESSA_LOG(document);
            if (writeError.empty() &&
                !(WriteFully(request.get(), document.data(), document.size()) && request.close()))
                writeError = ErrnoText("Writing " + requestPath);
            if (!writeError.empty()) {
                TESSA_LOG(writeError);
                throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
            }
        }
        if (m_dependencyCheck) {
            TESSA_LOG("update.xml written");
            const int copied = doCopy(mountPoint, kPackageFileName, kPackageFileName, filecopy);
            // A package the copy did not place would be judged by whatever
            // the controller makes of a missing file.
            if (copied != 0) {
                TESSA_LOG("doCopy failed");
                throw static_cast<unsigned char>(KOLT_INTERNALERROR);
            }
            TESSA_LOG("package.xml written");
            syncAll(mountPoint);
        } else {
            runCommand("sync");
            TESSA_LOG("update.xml written");
            syncAll(mountPoint);
        }

        detach();
        if (!m_client.SecureTessaCopy(m_client.session, hash, 0)) {
            TESSA_LOG("SecureTessaCopy failed");
            throw static_cast<unsigned char>(KOLT_DIGESTHANDOVERFAILED);
        }
        TESSA_LOG("SecureTessaCopy succeeded");

        if (!m_attachment.attachDropBox(m_word)) {
            TESSA_LOG("AttachPartition failed.");
            throw static_cast<unsigned char>(KOLT_VCLATTACHFAILED);
        }
        TESSA_LOG("AttachPartition succeeded.");
        if (!m_client.getDynPartDrive(dynDriveName, mountPoint, sizeof(mountPoint))) {
            TESSA_LOG("Dynamic Partition mount point NOT found");
            throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
        }
        TESSA_LOG("Dynamic Partition mount point: ");
        TESSA_LOG(mountPoint);
        if (tessaPartInfo[kDropBoxRow].volumeLabel.empty()) {
            TESSA_LOG("DynamicPartition volumeLabel empty");
            throw static_cast<unsigned char>(KOLT_PARTITIONUNREACHABLE);
        }

        const std::string answerPath = std::string(mountPoint) + kAnswerFileName;
        TESSA_LOG("output.xml path: ");
        TESSA_LOG(answerPath);
        if (!CPlatformLayer::IsFileExistsAbs(answerPath)) {
            TESSA_LOG(m_dependencyCheck ? "output.xml file does NOT exist" : "Output.xml file does NOT exist");
            throw static_cast<unsigned char>(KOLT_NOANSWERDOCUMENT);
        }
        return readAnswer(answerPath);
    }

    // Detaches and deletes the drop box after a complete exchange.
    void finish()
    {
        detach();
        // A refused delete is asked once more on the way out.
        if (!m_box.remove()) {
            TESSA_LOG("Delete Drop Box Failed.");
            throw static_cast<unsigned char>(KOLT_DELETEDROPBOXFAILED);
        }
        TESSA_LOG("Delete Drop Box succeeded.");
    }

    // Leaves the drop box on the controller.
    void keepDropBox() { m_box.keep(); }

private:
    // The answer lies in the drop box, so it cannot be larger than the
    // drop box: one that claims to be is refused rather than read into
    // memory or judged by a part of it.
    std::string readAnswer(const std::string& answerPath) const
    {
        CUniqueFd answer(OpenRegularFileForReading(answerPath));
        if (!answer.valid()) {
            TESSA_LOG("Open of output.xml failed.");
            throw static_cast<unsigned char>(KOLT_NOANSWERDOCUMENT);
        }
        std::string bytes;
        std::string block(kAnswerBlockBytes, '\0');
        for (;;) {
            const size_t got = ReadFully(answer.get(), &block[0], block.size());
            const std::string readError = errno != 0 ? ErrnoText("Reading " + answerPath) : std::string();
            if (got > m_granted - bytes.size()) {
                TESSA_LOG("output.xml is larger than the drop box (" + std::to_string(m_granted) + " bytes)");
                throw static_cast<unsigned char>(KOLT_NOANSWERDOCUMENT);
            }
            bytes.append(block, 0, got);
            if (got == block.size())
                continue;
            if (!readError.empty()) {
                TESSA_LOG(readError);
                throw static_cast<unsigned char>(KOLT_NOANSWERDOCUMENT);
            }
            return bytes;
        }
    }

    void detach()
    {
        if (!m_attachment.detach()) {
            TESSA_LOG("DetachPartition failed");
            throw static_cast<unsigned char>(KOLT_DETACHFAILED);
        }
        TESSA_LOG("DetachPartition succeeded");
    }

    secureTessa& m_client;
    const bool m_dependencyCheck;
    // Given back in the opposite order: detached, then deleted.
    ScopedDropBox m_box;
    ScopedAttachment m_attachment;
    unsigned short m_word = 0;
    unsigned int m_granted = 0;
};

void putRequestEntry(exmlMode mode)
{
    VclRequest.clear();
    cfgEntry entry;
    entry.order = 1;
    entry.mode = mode;
    entry.algorithmLabel = DIGEST_MD5;
    entry.hash.clear();
    entry.splitState = 0;
    VclRequest.push_back(entry);
}

std::string requestDocument()
{
    std::unique_ptr<std::ostringstream> document(new std::ostringstream);
    CreateVCLConfigFile(document.get(), VclRequest);
    return document->str();
}

// A plain OEM request in a record of its own: true when a reply came back
// with a completion code (a reply without one would read as success).
bool sendOEM(_QRMIPMICommandData& record, unsigned char command, bool withDataByte)
{
    std::memset(&record, 0, sizeof(record));
    record.request[0] = kOEMNetFn;
    record.request[1] = command;
    record.requestLength = 2;
    if (withDataByte) {
        record.request[2] = 0x01;
        record.requestLength = 3;
    }
    record.responseLength = kOEMResponseLength;
    return ProcessIPMICommand(&record) && tessaAnswerHolds(record, kOEMCompletionCode);
}

} // namespace

bool secureTessa::QueryVCL(std::stringstream& answer, exmlMode mode)
{
    DropBoxExchange exchange(*this, false);
    try {
        std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
        if (!IsSessionActive()) {
            TESSA_LOG("QueryVCL called with NO active session");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        if (mode != vcl_query_current_records && mode != vcl_query_history_records &&
            mode != vcl_query_event_records) {
            TESSA_LOG("Invalid update VCL request.");
            throw static_cast<unsigned char>(KOLT_INVALIDVCLREQUEST);
        }
        putRequestEntry(mode);
        const std::string document = requestDocument();

        const unsigned int size = hostOsIndex == ESXi ? kESXiQueryBytes : kOneMiB;
        if (!exchange.create(size)) {
            TESSA_LOG("CreateDropBox failed");
            TESSA_LOG("QueryVCL failed");
            return false;
        }
        const std::string bytes = exchange.exchange(document);
        answer << answerText(bytes);
        TESSA_LOG("Contents of Output.xml");
        TESSA_LOG(answer.str());
        exchange.finish();
        TESSA_LOG("QueryVCL succeeded");
        return true;
    } catch (unsigned char error) {
        storeErrorInfo(error);
        TESSA_LOG("QueryVCL failed");
        TESSA_LOG("QueryVCL failed with error code: " + std::to_string(error));
        if (error == KOLT_USBBLOCKLISTED) {
            // The caller must stop the update; the drop box stays for it.
            TESSA_LOG("AttachPartition failed");
            TESSA_LOG("USB Blocklisted. Update failure");
            exchange.keepDropBox();
            throw;
        }
    } catch (...) {
        TESSA_LOG("QueryVCL failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}

bool secureTessa::doDepCheck(std::stringstream& answer, exmlMode mode)
{
    DropBoxExchange exchange(*this, true);
    try {
        if (isDepCheckSupported() == 0) {
            TESSA_LOG("Dependency Checking is NOT supported by the Tomel FW.  Reporting success");
            return true;
        }
        TESSA_LOG("Dependency Checking is supported by the Tomel FW");
        std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
        if (mode != vcl_query_dependency) {
            TESSA_LOG("doDepCheck called with incorrect queryType");
            throw static_cast<unsigned char>(KOLT_BADQUERYTYPE);
        }
        if (!IsSessionActive()) {
            TESSA_LOG("doDepCheck called with NO active session");
            throw static_cast<unsigned char>(KOLT_NOSESSION);
        }
        putRequestEntry(mode);
        const std::string document = requestDocument();

        // The answer is a short document whatever the host.
        if (!exchange.create(kOneMiB)) {
            TESSA_LOG("CreateDropBox failed");
            TESSA_LOG("doDepCheck failed");
            return false;
        }
        const std::string text = answerText(exchange.exchange(document));
        TESSA_LOG("Contents of output.xml");
        TESSA_LOG(text);
        exchange.finish();
        TESSA_LOG("doDepCheck succeeded");

        const DependencyVerdict verdict = judgeDependencyAnswer(text);
        if (verdict.passed) {
            TESSA_LOG("Dependency Check successful");
            return true;
        }
        TESSA_LOG("Dependency Check failed");
        TESSA_LOG(verdict.forCaller);
        answer << verdict.forCaller;
        return false;
    } catch (unsigned char error) {
        storeErrorInfo(error);
        TESSA_LOG("doDepCheck failed");
    } catch (...) {
        TESSA_LOG("doDepCheck failed");
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
    }
    return false;
}

int secureTessa::isDepCheckSupported()
{
    _QRMIPMICommandData capability;
    if (!sendOEM(capability, kCapabilityCommand, true)) {
        TESSA_LOG("IPMI Command ERROR");
        return -1;
    }
    if (capability.response[kOEMCompletionCode] != 0)
        return 0;
    // An accepted answer without both levels tells nothing: the bytes left
    // out would read as 0, "not supported".
    if (!tessaAnswerHolds(capability, kCapabilityLevel1)) {
        TESSA_LOG("IPMI Command ERROR");
        return -1;
    }
    TESSA_LOG("Return Code 0");
    const unsigned char level0 = capability.response[kCapabilityLevel0];
    const unsigned char level1 = capability.response[kCapabilityLevel1];

    _QRMIPMICommandData system;
    if (!sendOEM(system, kSystemCommand, false)) {
        TESSA_LOG("IPMI Command ERROR");
    } else if (system.response[kOEMCompletionCode] == 0) {
        TESSA_LOG("Modular Tomel System");
        return level0 >= 2 && level1 >= 20 ? 1 : 0;
    } else {
        TESSA_LOG("Monolithic Tomel System");
    }
    return level0 >= 1 && level1 >= 30 ? 1 : 0;
}

int secureTessa::isMonolithic()
{
    _QRMIPMICommandData system;
    if (!sendOEM(system, kSystemCommand, false)) {
        TESSA_LOG("IPMI Command ERROR");
        return -1;
    }
    if (system.response[kOEMCompletionCode] == 0) {
        TESSA_LOG("Modular Tomel System");
        return 0;
    }
    TESSA_LOG("Monolithic Tomel System");
    return 1;
}

// ---------------------------------------------------------------------------
// Shell output for the device search

// Only the start of a probe's output is looked at.
static const size_t kCommandOutputBytes = 512;

std::string executeCmd(const std::string& command)
{
    TESSA_LOG(command);
    std::string output;
    if (captureCommand(command, kCommandOutputBytes, output) == -1 && output.empty())
        TESSA_LOG("executeCmd : popen failed");
    const std::string result = output.substr(0, output.find('\0'));
    TESSA_LOG(result);
    return result;
}

// Host operating-system detection.

const char* ESXiKernel = "VMkernel";

namespace {

// Release files are read a line at a time into a buffer of this size.
const std::streamsize kReleaseLineBuffer = 1024;

bool pathExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// Reads the next line of at most kReleaseLineBuffer - 1 characters. A longer
// line cannot be compared whole, and neither can anything after a read
// error: both end the scan of the file as "no more lines", so such a file
// simply does not match.
bool nextReleaseLine(std::ifstream& in, std::string& line)
{
    line.clear();
    if (!in.is_open() || !in.good())
        return false;
    char buffer[kReleaseLineBuffer];
    in.getline(buffer, kReleaseLineBuffer);
    if (in.fail())
        return false;
    // gcount() counts the newline too, unless the file ended first.
    std::streamsize stored = in.gcount();
    if (!in.eof() && stored > 0)
        --stored;
    line.assign(buffer, static_cast<size_t>(stored));
    return true;
}

// The first line of an existing file; empty when it is too long or cannot
// be read.
std::string firstReleaseLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    nextReleaseLine(in, line);
    return line;
}

// Whether any line of the file contains `text`.
bool anyReleaseLineContains(const std::string& path, const std::string& text)
{
    std::ifstream in(path);
    std::string line;
    while (nextReleaseLine(in, line))
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

bool contains(const std::string& line, const char* text) { return line.find(text) != std::string::npos; }

// The kernel name is one fact of the host: the platform layer holds it (and
// tests replace it there, as no mount namespace can change uname()).
bool kernelIsVMkernel()
{
    return CPlatformLayer::isESXiSystem();
}

// The host: its index and the line that says why (none for a host that
// nothing recognised).
struct DetectedHost {
    int index;
    const char* message;
};

// VMware release lines, tested in this order: a 4.1 line also holds
// "VMware ESX 4".
const struct {
    const char* text;
    int index;
    const char* message;
} kVMwareReleases[] = {
    {"VMware ESX Server 3", ESX, "getLinuxOSVer: ESX 3 Found"},
    {"VMware ESX 4.1", ESX4_1, "getLinuxOSVer: ESX 4 Found"},
    {"VMware ESX 4", ESX4, "getLinuxOSVer: ESX 4 Found"},
};

// The kernel name first, then the release files in their order of
// precedence; an unrecognised host is handled as Red Hat.
DetectedHost detectHost()
{
    if (kernelIsVMkernel())
        return {ESXi, "getLinuxOSVer: ESXi Found"};

    if (pathExists(ESXRel)) {
        const std::string line = firstReleaseLine(ESXRel);
        for (const auto& release : kVMwareReleases)
            if (contains(line, release.text))
                return {release.index, release.message};
        TESSA_LOG("getLinuxOSVer: Unrecognized VMWare Found");
    }

    if (pathExists(RedHatRel)) {
        const std::string line = firstReleaseLine(RedHatRel);
        if (contains(line, "Red Hat"))
            return {REDHAT, "getLinuxOSVer REDHAT found"};
        if (contains(line, "XenServer"))
            return {XENSERVER, "getLinuxOSVer Xenserver found"};
        if (pathExists(NewPNBRel)) {
            // The newer image carries a CentOS-like release line; its own
            // file decides, and the CentOS test is not made.
            if (anyReleaseLineContains(NewPNBRel, "RVX_MAJOR_VERSION"))
                return {UVO_NEW, "getLinuxOSVer: NEW UVO(PNB) Found"};
        } else if (contains(line, "Cent")) {
            return {CENTOS, "getLinuxOSVer CentOS found"};
        }
    }

    if (pathExists(SuseRel))
        return {SUSE, "getLinuxOSVer: SLES Found"};
    // A missing file has no lines.
    if (anyReleaseLineContains(RVXRel, "RVX_MAJOR_VERSION"))
        return {UVO, "getLinuxOSVer: UVO(RVX) Found"};
    if (anyReleaseLineContains(PNBRel, "PNB_MAJOR_VERSION"))
        return {UVO, "getLinuxOSVer: UVO(PNB) Found"};
    return {REDHAT, nullptr};
}

} // namespace

bool secureTessa::getLinuxOSVer()
{
    if (hostOsIndex != -1) {
        TESSA_LOG("getLinuxOSVer OS Version previously set");
        return true;
    }
    if (setuid(0) != 0) {
        TESSA_LOG("getLinuxOSVer:user is not root");
        return false;
    }
    const DetectedHost host = detectHost();
    hostOsIndex = host.index;
    if (host.message != nullptr)
        TESSA_LOG(host.message);
    return true;
}

bool secureTessa::isESXiOS()
{
    TESSA_LOG("Enter secureTessa::isESXiOS");
    bool esxi = false;
    getLinuxOSVer();
    if (hostOsIndex == ESXi) {
        TESSA_LOG("ESXi OS Found");
        esxi = true;
    }
    TESSA_LOG("Exit secureTessa::isESXiOS");
    return esxi;
}

// ---------------------------------------------------------------------------
// Mount points, mounting and unmounting

namespace {

const char* const kESXiVolumes = "/vmfs/volumes/";
const int kMountAttempts = 60;
const int kMountPauseSeconds = 1;
// How long a busy drop box is waited for before it is left mounted.
const int kBusyUnmountWaits = 60;
const int kBusyPauseSeconds = 1;
const char* const kRemoveDeviceLinks = "rm -f /dev/sectesupd-* > /dev/null 2>&1";

std::string mountPointOf(int hostOsIndex, const std::string& name)
{
    return (hostOsIndex == ESXi ? std::string(kESXiVolumes) : RHatPartDir) + name + "/";
}

// The mount folders have fixed names in a folder every user may write to.
// Whatever another user put there first (a link pointing elsewhere, a file,
// a folder of their own) must never receive a mount, an unmount or a later
// "rm -rf". A link or file is removed (the link itself, never what it
// points to); a folder of another owner is left as it is.
enum class MountName { Missing, OwnFolder, Removed, Foreign };

MountName clearPlantedName(const std::string& folder)
{
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0)
        return errno == ENOENT ? MountName::Missing : MountName::Foreign;
    if (S_ISDIR(info.st_mode))
        return info.st_uid == 0 ? MountName::OwnFolder : MountName::Foreign;
    TESSA_LOG("Removing " + folder + ": it is not a folder");
    return unlink(folder.c_str()) == 0 || errno == ENOENT ? MountName::Removed : MountName::Foreign;
}

bool clearMountFolder(const std::string& folder)
{
    return clearPlantedName(folder) != MountName::Foreign;
}

// Before an unmount: only a folder of our own, or nothing at all, may be
// unmounted. Anything else is no mount of ours, and the unmount goes on as
// if nothing were mounted there.
MountName lookBeforeUnmount(const std::string& folder)
{
    const MountName name = clearPlantedName(folder);
    if (name == MountName::Foreign)
        TESSA_LOG(folder + " is not a folder of its own and is left alone");
    return name;
}

bool isOwnFolder(const std::string& folder)
{
    struct stat info;
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == 0;
}

// The shell's umount resolves a link at the name before it unmounts, and a
// missing name can be planted between the look and the command. So a
// missing name is held with a folder of our own first: /tmp is sticky, and
// nobody else can then swap it for a link. Planted again in between, it is
// looked at once more and never unmounted.
bool holdOwnFolder(const std::string& folder)
{
    for (int look = 0; look < 2; ++look) {
        const MountName name = lookBeforeUnmount(folder);
        if (name == MountName::OwnFolder)
            return true;
        if (name != MountName::Missing)
            return false;
        if (::mkdir(folder.c_str(), 0700) == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// A folder that is still a mount point (its file system differs from its
// parent's): removing its tree would delete the partition's files.
bool isMountedFolder(const std::string& folder)
{
    struct stat info;
    struct stat parent;
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    if (stat((folder + "/..").c_str(), &parent) != 0)
        return true;
    return info.st_dev != parent.st_dev;
}

void removeMountFolder(const std::string& folder, const std::string& redirect)
{
    if (isMountedFolder(folder)) {
        TESSA_LOG(folder + " is still mounted and is not removed");
        return;
    }
    runCommand("rm -rf " + shellWord(folder) + redirect);
}

// The steps both mounts share; the drop box is mounted read-write, a
// numbered partition read-only.
bool mountPartition(secureTessa& client, std::string label, bool dropBox)
{
    TESSA_LOG(dropBox ? "mountDynPartition" : "mountStatPartition");
    if (!isSafePartitionLabel(label)) {
        TESSA_LOG("Not a partition label: " + label + ".  Partition Not Mounted");
        return false;
    }
    const std::string link = StatSecTesDev + label;
    const std::string device = client.getDevicePath(label);
    if (device.empty()) {
        TESSA_LOG("Correct Volume Label not found.  Partition Not Mounted");
        return false;
    }
    // The hypervisor mounts the volume itself.
    if (dropBox && client.hostOsIndex == ESXi)
        return true;
    if (!isSafeDiskDevicePath(device)) {
        TESSA_LOG("Not a disk device: " + device + ".  Partition Not Mounted");
        return false;
    }

    const std::string folder = RHatPartDir + label;
    if (!clearMountFolder(folder)) {
        TESSA_LOG(folder + " is not a folder of its own.  Partition Not Mounted");
        return false;
    }
    const std::string mkdirCommand = "mkdir -p " + shellWord(folder);
    TESSA_LOG("Creating directory " + (dropBox ? mkdirCommand : std::string("mkdir -p ")));
    if (runCommand(mkdirCommand) != 0) {
        TESSA_LOG("mkdir failed");
        return false;
    }
    TESSA_LOG("Directory Created");
    // Made again in the window between the check and mkdir: not ours to
    // mount on, nor to remove.
    if (!isOwnFolder(folder)) {
        TESSA_LOG(folder + " is not a folder of its own.  Partition Not Mounted");
        return false;
    }

    const std::string linkCommand = "ln -sf " + shellWord(device) + " " + shellWord(link);
    TESSA_LOG("Creating Link " + linkCommand);
    if (runCommand(linkCommand) != 0) {
        TESSA_LOG("Link creation failed");
        removeMountFolder(folder, "");
        return false;
    }
    TESSA_LOG("Link created");

    TESSA_LOG("Mounting partition " + link + " on " + folder);
    const std::string mountCommand = dropBox
        ? "mount -n -t vfat -oshortname=mixed,rw " + shellWord(link) + " " + shellWord(folder)
        : "mount -t vfat -oshortname=mixed,ro " + shellWord(link) + " " + shellWord(folder) + " > /dev/null 2>&1";
    TESSA_LOG(mountCommand);
    for (int attempt = 0; attempt < kMountAttempts; ++attempt) {
        CPlatformLayer::Sleep(kMountPauseSeconds);
        if (runCommand(mountCommand) == 0) {
            TESSA_LOG(dropBox ? "Dynamic Partition Mounted" : "Partition Mounted");
            client.currentDropBox = link;
            return true;
        }
        TESSA_LOG("Mount Failed. Re-trying");
    }
    TESSA_LOG("mount failed");
    removeMountFolder(folder, "");
    runCommand("rm -f " + shellWord(link));
    return false;
}

} // namespace

bool secureTessa::getPartDrive(std::string name, std::string* mountPoint)
{
    if (mountPoint != nullptr)
        *mountPoint = mountPointOf(hostOsIndex, name);
    return true;
}

bool secureTessa::getDynPartDrive(const char* name, char* buffer, size_t bufferSize)
{
    if (buffer == nullptr || bufferSize == 0)
        return false;
    buffer[0] = '\0';
    if (name == nullptr)
        return false;
    const std::string mountPoint = mountPointOf(hostOsIndex, name);
    if (mountPoint.size() >= bufferSize) {
        TESSA_LOG("Mount point does not fit its buffer: " + mountPoint);
        return false;
    }
    std::memcpy(buffer, mountPoint.c_str(), mountPoint.size() + 1);
    return true;
}

bool secureTessa::mountDynPartition()
{
    return mountPartition(*this, dynDriveName, true);
}

bool secureTessa::mountStatPartition(std::string label)
{
    return mountPartition(*this, label, false);
}

bool secureTessa::unmountDynPartition()
{
    TESSA_LOG("-- umountDynPartition Entry");
    if (!getLinuxOSVer()) {
        TESSA_LOG("getLinuxOSVer failed");
        return false;
    }
    if (hostOsIndex == ESXi) {
        TESSA_LOG("Unmount not needed for ESXi");
        currentDropBox.clear();
        return true;
    }

    const std::string folder = RHatPartDir + dynDriveName;
    const MountName name = lookBeforeUnmount(folder);
    if (name != MountName::Missing && name != MountName::OwnFolder) {
        runCommand(kRemoveDeviceLinks);
        currentDropBox.clear();
        return true;
    }
    // Nothing is mounted at a name that is not there. Asking the kernel
    // anyway would leave a window in which another user links the name to
    // a mount of theirs, and kernels before 2.6.34 ignore UMOUNT_NOFOLLOW
    // and follow it; the answer the kernel gives for a missing name is
    // taken instead.
    const bool missing = name == MountName::Missing;

    // Stacked mounts come off one per call; the call after the last one
    // fails (EINVAL: nothing mounted there).
    int error = 0;
    int busyWaits = 0;
    for (;;) {
        TESSA_LOG("Unmounting dir -> " + folder);
        error = missing ? ENOENT : CPlatformLayer::Umount(folder);
        if (error == 0) {
            TESSA_LOG("Umount Successful");
            continue;
        }
        TESSA_LOG("Umount Error Num = " + std::to_string(error));
        if (error != EBUSY || busyWaits == kBusyUnmountWaits)
            break;
        ++busyWaits;
        CPlatformLayer::Sleep(kBusyPauseSeconds);
    }

    // Only a folder known to be unmounted (or gone) may be removed: "rm -rf"
    // on a mounted drop box would empty the partition.
    const bool unmounted = error == EINVAL || error == ENOENT;
    if (unmounted)
        removeMountFolder(folder, " > /dev/null 2>&1");
    runCommand(kRemoveDeviceLinks);
    if (!unmounted) {
        TESSA_LOG(folder + " is left mounted");
        return false;
    }
    currentDropBox.clear();
    return true;
}

bool secureTessa::unmountStatPartition(std::string label)
{
    TESSA_LOG("-- umountStatPartition Entry");
    if (!getLinuxOSVer())
        return false;
    if (!isSafePartitionLabel(label)) {
        TESSA_LOG("Not a partition label: " + label);
        return false;
    }
    const std::string folder = RHatPartDir + label;
    if (!holdOwnFolder(folder)) {
        runCommand(kRemoveDeviceLinks);
        currentDropBox.clear();
        return true;
    }
    bool unmounted = runCommand("umount " + shellWord(folder) + " > /dev/null 2>&1") == 0;
    TESSA_LOG("static partition umounted.");
    // The shell's umount mostly fails because nothing is mounted there (the
    // detach of everything at each session start), and then the folder is
    // the stale one to remove. umount(2) tells that apart from a partition
    // still mounted, which must keep its folder: it answers EINVAL for a
    // folder that is no mount point and ENOENT for one that is gone.
    if (!unmounted) {
        const int error = CPlatformLayer::Umount(folder);
        unmounted = error == 0 || error == EINVAL || error == ENOENT;
    }
    if (unmounted)
        removeMountFolder(folder, " > /dev/null 2>&1");
    runCommand(kRemoveDeviceLinks);
    currentDropBox.clear();
    return unmounted;
}
