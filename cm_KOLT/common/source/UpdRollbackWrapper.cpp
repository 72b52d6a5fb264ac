#include "UpdRollbackWrapper.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "FileIO.h"
#include "PlatformLayer.h"
#include "RollbackConstants.h"
#include "SoftwareComponentInfo.h"

namespace {

const char* const kRollbackMarker = "rollback_attempt.txt";
const char* const kDropBoxPayloadFolder = "/payload";
// Controllers from WaveG on keep no managed storage for the host to fill.
const int kFirstGenerationWithoutTessa = 6;
const int kVCPolls = 100;
const int kVCPollPauseSeconds = 5;
const int kVCReady = 0;
const int kVCInUse = 5;
// The prefix of a Windows long path, which a source folder may carry.
const std::string kLongPathPrefix = "\\\\?\\";

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

std::string withoutLongPathPrefix(std::string directory)
{
    if (directory.compare(0, kLongPathPrefix.size(), kLongPathPrefix) == 0)
        directory.erase(0, kLongPathPrefix.size());
    return directory;
}

// scandir's list, released whatever way the walk ends.
class DirectoryEntries {
public:
    explicit DirectoryEntries(const std::string& folder) : m_entries(nullptr), m_count(0)
    {
        m_count = ::scandir(folder.c_str(), &m_entries, nullptr, nullptr);
    }
    ~DirectoryEntries()
    {
        for (int i = 0; i < m_count; ++i)
            std::free(m_entries[i]);
        std::free(m_entries);
    }
    DirectoryEntries(const DirectoryEntries&) = delete;
    DirectoryEntries& operator=(const DirectoryEntries&) = delete;

    int count() const { return m_count; }
    const char* name(int i) const { return m_entries[i]->d_name; }

private:
    struct dirent** m_entries;
    int m_count;
};

// Firmware-type GUIDs the management controller knows the components by.
const std::string kBiosFirmwareGuid = "6A4F2E1C-5B3D-4C8E-9F17-2D0B7A9E3C51";
const std::string kCpldFirmwareGuid = "B3E8D2A7-1F64-4A09-8C5D-7E2F9B1A6D34";

// An attribute value as it may stand between double quotes: a quote, an
// ampersand or a '<' in a path or category would otherwise end the value
// early or break the document the controller parses.
std::string attributeValue(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '"': out += "&quot;"; break;
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        default: out += c; break;
        }
    }
    return out;
}

// Writes `document` and a newline to `path`, replacing what was there; false
// (with its log lines) when the file did not open or not all of it reached
// the file (a full disk, an I/O error while closing): a cut-off document
// must not reach the controller. The folder may be one others can write to:
// a link or a foreign file planted at the name is refused, never written
// through, and the descriptor is not handed to the shell commands of the run.
bool writeDocument(const std::string& path, const std::string& document)
{
    CUniqueFd out(OpenRegularFileForWriting(path, true));
    if (!out.valid()) {
        const std::string reason = ErrnoText("Opening " + path);
        TESSA_LOG(noOpen + path + writing);
        TESSA_LOG(reason);
        return false;
    }
    const std::string text = document + '\n';
    if (!WriteFully(out.get(), text.data(), text.size()) || !out.close()) {
        const std::string reason = ErrnoText("Writing " + path);
        TESSA_LOG("Could not write file " + path);
        TESSA_LOG(reason);
        return false;
    }
    return true;
}

} // namespace

unsigned int UpdRollbackWrapper::failureNumber()
{
    // A step that failed without storing its number must not hand 0 up,
    // which reads as success.
    const unsigned int error = getKOLTError();
    return error != KOLT_SUCCESS ? error : static_cast<unsigned int>(KOLT_INTERNALERROR);
}

// ---------------------------------------------------------------------------
// Construction

UpdRollbackWrapper::UpdRollbackWrapper() : secureTessa(), rollbackMethod(ROLLBACK_METHOD_NONE)
{
    if (getKOLTError() != KOLT_SUCCESS) {
        TESSA_LOG(secureTessaError);
        throw static_cast<unsigned char>(getKOLTError());
    }

    secureTessaInit();
    if (ready == 0) {
        // The caller takes the thrown number as the rollback result: a client
        // that is not ready must never report 0, which reads as success.
        if (getKOLTError() == KOLT_SUCCESS)
            storeErrorInfo(tessaType == 0 ? KOLT_NOTESSAPRESENT : KOLT_INTERNALERROR);
        TESSA_LOG(" Error in Update Rollback Wrapper Constructor " + secureInitError + " error code "
                  + std::to_string(static_cast<unsigned int>(getKOLTError())));
        throw static_cast<unsigned char>(getKOLTError());
    }
    TESSA_LOG(secureTessaSuccess);
}

UpdRollbackWrapper::~UpdRollbackWrapper() {}

// ---------------------------------------------------------------------------
// Orchestration

int UpdRollbackWrapper::doRollbackAndUpdate(std::vector<std::string> payloadPaths, char* category, char* filePath,
                                            bool isFile, std::string& message, bool stageAndUpdate,
                                            bool usePackagePath, std::string packagePath)
{
    // Left behind empty as a trace that a rollback was attempted; closed on
    // every return. Made the way every file of the run is made: a link or a
    // foreign file planted at the name is left alone (the rollback goes on
    // without the trace), and the shell commands of the rollback do not
    // inherit it.
    CUniqueFd marker(OpenRegularFileForWriting(kRollbackMarker, true));
    const std::string markerError =
        marker.valid() ? std::string() : ErrnoText(std::string("Creating ") + kRollbackMarker);
    TESSA_LOG("Entering to doRollbackAndUpdate");
    if (!marker.valid())
        TESSA_LOG(markerError);

    if (GenerationType >= kFirstGenerationWithoutTessa) {
        TESSA_LOG("Exiting doRollbackAndUpdate - this is WaveG server [KOLT_NOTESSAPRESENT]");
        return KOLT_NOTESSAPRESENT;
    }

    bool vcAvailable = false;
    for (int poll = 0; poll < kVCPolls; ++poll) {
        const int status = pollForVCStatus();
        if (status == kVCReady || status == kVCInUse) {
            vcAvailable = true;
            break;
        }
        CPlatformLayer::Sleep(kVCPollPauseSeconds);
    }
    if (!vcAvailable) {
        TESSA_LOG("Not able to update.Please make the VC available");
        return ROLLBACK_VC_NOT_READY;
    }

    int result = -1;
    if (payloadPaths.empty()) {
        message = "Payload list is empty";
        TESSA_LOG("Payload list is empty");
    } else {
        CSoftwareComponentInfo package;
        const int generation = GetSystemGeneration();
        if (checkIfWaveCPlusIPMISupported()) {
            rollbackMethod = ROLLBACK_METHOD_WAVEC;
            TESSA_LOG("Going Through WaveC Path");
            const digestType digest = static_cast<digestType>(QuerySupportedSecurtyMethod());
            result = rollbackUsingWaveCMethod(payloadPaths, isFile, message, stageAndUpdate, usePackagePath,
                                              packagePath, digest);
            TESSA_LOG("Return Value of rollbackUsingWaveCMethod: " + std::to_string(result));
        } else {
            TESSA_LOG("Either checkIfWaveCPlusIPMISupported() or QuerySupportedSecurtyMethod() failed. Single IPMI "
                      "command is not supported");
            if (static_cast<unsigned int>(generation) > 2) {
                TESSA_LOG("Single IPMI command failed and system is WaveD. So ZOR can't proceed with "
                          "rollback/staging");
                result = -1;
            } else {
                rollbackMethod = ROLLBACK_METHOD_WAVEB;
                TESSA_LOG("Going via older mechanism");
                result = rollbackUsingWaveBMethod(payloadPaths, category, filePath, isFile, message, stageAndUpdate,
                                                  usePackagePath, packagePath);
                TESSA_LOG("Return Value of rollbackUsingWaveBMethod: " + std::to_string(result));
            }
        }
    }

    TESSA_LOG("Leaving doRollbackAndUpdate");
    return result;
}

int UpdRollbackWrapper::rollbackUsingWaveCMethod(std::vector<std::string> payloadPaths, bool isFile,
                                                 std::string& message, bool stageAndUpdate, bool usePackagePath,
                                                 std::string packagePath, digestType digest)
{
    TESSA_LOG("Entering rollbackUsingWaveCMethod");
    int result = addPayloadandPackageFiles(payloadPaths, isFile, usePackagePath, packagePath, digest);
    if (result != 0) {
        message = "KOLT addPayloadFiles failed";
        TESSA_LOG("KOLT addPayloadandPackageFiles failed");
        return result;
    }
    result = updateFirmwarePartitionWaveC(stageAndUpdate, digest);
    if (result != 0) {
        message = "KOLT updateFirmwarePartition failed";
        TESSA_LOG("KOLT updateFirmwarePartitionWaveC failed");
    } else {
        TESSA_LOG("Leaving rollbackUsingWaveCMethod");
    }
    return result;
}

int UpdRollbackWrapper::updateFirmwarePartitionWaveC(bool stageAndUpdate, digestType digest)
{
    TESSA_LOG("Entering updateFirmwarePartitionWaveC");
    if (!CompleteCopyFileWaveCPlus(digest)) {
        const unsigned int error = failureNumber();
        TESSA_LOG(completeCopyError + " with error code " + std::to_string(error));
        return static_cast<int>(error);
    }
    TESSA_LOG(copySuccess);

    int result = 0;
    if (!sendIPMICommandToStageAndUpdate(stageAndUpdate, digest)) {
        const unsigned int error = failureNumber();
        TESSA_LOG(completeCopyError + " with error code " + std::to_string(error));
        result = static_cast<int>(error);
    }

    // The staged copy lives on the controller now; the drop box goes either
    // way.
    if (DeleteDropBox(0))
        TESSA_LOG("DeleteDropBox Success");
    else
        TESSA_LOG("DeleteDropBox Failed");

    if (!EndCopyFile()) {
        const unsigned int error = failureNumber();
        TESSA_LOG(endCopyError + " with error code " + std::to_string(error));
        TESSA_LOG("Leaving updateFirmwarePartitionWaveC");
        return static_cast<int>(error);
    }
    TESSA_LOG("Leaving updateFirmwarePartitionWaveC");
    return result;
}

// ---------------------------------------------------------------------------
// The older controllers' method

int UpdRollbackWrapper::rollbackUsingWaveBMethod(std::vector<std::string> payloadPaths, char* category,
                                                 char* filePath, bool isFile, std::string& message,
                                                 bool stageAndUpdate, bool usePackagePath, std::string packagePath)
{
    TESSA_LOG("Entering to rollbackUsingWaveBMethod Method");
    if (isESXiOS()) {
        TESSA_LOG("Rollback Is not Supported On ESXi. Exiting");
        return 0;
    }

    int result = addPayloadFiles(payloadPaths, isFile, usePackagePath, packagePath);
    if (result != 0) {
        message = "KOLT addPayloadFiles failed";
        return result;
    }

    // An SSIB task's two documents join the package in the copy transaction
    // addPayloadFiles left open, so that they reach the controller with it.
    if (stageAndUpdate && category != nullptr && filePath != nullptr) {
        TESSA_LOG("Creating the compid.xml & ssibinput.xml for creating the SSIB Task");
        result = createComponentIdFile(category, filePath, "");
        if (result != 0) {
            message = "KOLT createComponentIdFile failed";
            return result;
        }
        result = createSSIBUpdateFile(filePath, "", category);
        if (result != 0) {
            message = "KOLT createSSIBUpdateFile failed";
            return result;
        }
    }

    result = updateFirmwarePartition();
    if (result != 0)
        message = "KOLT updateFirmwarePartition failed";
    else
        TESSA_LOG("Leaving rollbackUsingWaveBMethod Method");
    return result;
}

int UpdRollbackWrapper::addPayloadFiles(std::vector<std::string> payloadPaths, bool isFile, bool usePackagePath,
                                        std::string packagePath)
{
    TESSA_LOG("Entering addPayloadFiles");
    if (!StartCopyFile()) {
        const unsigned int error = failureNumber();
        TESSA_LOG(startcopyError + std::to_string(error));
        TESSA_LOG("Leaving addPayloadFiles");
        return static_cast<int>(error);
    }
    TESSA_LOG(startcopySuccess);

    std::vector<fDetails*> plan;
    const int result = createFileList(payloadPaths, plan, isFile, usePackagePath, packagePath);
    if (result != 0) {
        TESSA_LOG(createFileListError);
        freeUpList(plan);
        TESSA_LOG("Leaving addPayloadFiles");
        return result;
    }
    TESSA_LOG(createFileListSuccess);

    for (const fDetails* entry : plan) {
        if (!AddFile(entry->source, entry->destination, entry->mode, DIGEST_MD5)) {
            TESSA_LOG(addError);
            freeUpList(plan);
            TESSA_LOG("Leaving addPayloadFiles");
            return ROLLBACK_ADDFILE_FAILED;
        }
    }
    freeUpList(plan);
    TESSA_LOG("Leaving addPayloadFiles");
    return 0;
}

int UpdRollbackWrapper::createFileList(std::vector<std::string> payloadPaths, std::vector<fDetails*>& list,
                                       bool isFile, bool usePackagePath, std::string packagePath)
{
    TESSA_LOG("Entering UpdRollbackWrapper::createFileList");
    std::string id;
    if (!get_comp_id(id)) {
        TESSA_LOG(noCompID);
        return KOLT_NOPACKAGEIDENTITY;
    }

    const std::string sourceFolder = isFile ? withoutLongPathPrefix(CPlatformLayer::getCurrentProcessDirectory())
                                            : std::string();
    TESSA_LOG("strSrcDir is ");
    TESSA_LOG(sourceFolder);

    const std::string componentFolder = tes022_lower + fileSeparator + id;
    const std::string current = componentFolder + fileSeparator + NDir;
    const std::string previous = componentFolder + fileSeparator + N_1Dir;

    bool matched = false;
    try {
        if (!AttachAndCompare(matched))
            return ROLLBACK_PAYLOAD_NOT_FOUND;
    } catch (unsigned char error) {
        if (error == KOLT_USBBLOCKLISTED) {
            TESSA_LOG("Caught USB Blocklisted Exception in CreateFile List: returning error");
            return KOLT_USBBLOCKLISTED;
        }
        TESSA_LOG("KOLT Internal Error");
        return KOLT_INTERNALERROR;
    } catch (...) {
        TESSA_LOG("KOLT Internal Error");
        return KOLT_INTERNALERROR;
    }

    if (freshInstall == 0 && !matched) {
        // A different package is in current: it becomes previous, and
        // current starts again empty.
        TESSA_LOG("Creating CompID DIR and moving content from current to preivous");
        addToList(list, sourceFolder + fileSeparator + id, componentFolder, dirmake);
        addToList(list, previous, "", dirdelete);
        addToList(list, current, previous, dirmove);
        addToList(list, sourceFolder + fileSeparator + id, current, dirmake);
    }

    const std::string packageFolder = isFile ? sourceFolder : sourceFolder + fileSeparator + "..";
    int result = addPackageXMLToList(packageFolder, current, list, usePackagePath, packagePath, DIGEST_SHA256);
    if (result == 0 && freshInstall == 1)
        result = addPackageXMLToList(packageFolder, previous, list, usePackagePath, packagePath, DIGEST_SHA256);
    if (result != 0)
        return result;

    std::vector<std::string> destinations{current};
    if (freshInstall == 1)
        destinations.push_back(previous);
    for (const std::string& destination : destinations) {
        for (const std::string& path : payloadPaths) {
            result = addPayloadToFileList(path, destination, list, isFile);
            if (result != 0)
                return result;
        }
    }
    return 0;
}

int UpdRollbackWrapper::updateFirmwarePartition()
{
    if (!CompleteCopyFile()) {
        const unsigned int error = failureNumber();
        TESSA_LOG(completeCopyError + " with error code " + std::to_string(error));
        return static_cast<int>(error);
    }
    TESSA_LOG(copySuccess);
    if (!EndCopyFile()) {
        const unsigned int error = failureNumber();
        TESSA_LOG(endCopyError + " with error code " + std::to_string(error));
        return static_cast<int>(error);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Component-id and SSIB documents

int UpdRollbackWrapper::documentInputs(std::string& outputDirectory, std::string& id)
{
    if (outputDirectory.empty()) {
        outputDirectory = getCurrentDir();
        if (outputDirectory.empty())
            return ROLLBACK_NO_OUTPUT_DIRECTORY;
    }
    if (!get_comp_id(id)) {
        TESSA_LOG(noCompID);
        return KOLT_NOPACKAGEIDENTITY;
    }
    return 0;
}

int UpdRollbackWrapper::createComponentIdFile(std::string category, std::string filePathName,
                                              std::string outputDirectory)
{
    // Categories are told apart exactly: "bios" is none of them.
    std::string guid;
    std::string extension;
    std::string source;
    if (category == "BIOS") {
        guid = kBiosFirmwareGuid;
        extension = ".hdr";
        source = "Device";
    } else if (category == "CPLD") {
        guid = kCpldFirmwareGuid;
        extension = ".jbc";
        source = "Device";
    } else if (category == "PSU") {
        source = "VCL";
    }

    std::string id;
    const int inputs = documentInputs(outputDirectory, id);
    if (inputs != 0)
        return inputs;

    std::string document = WRAPPER_BEG_TAG + NAME_TAG + QUOT_TAG + attributeValue(category) + QUOT_TAG;
    document += FILE_PATH_NAME_TAG + QUOT_TAG + attributeValue(filePathName) + QUOT_TAG;
    document += DIG_SIG_TAG + QUOT_TAG + "false" + QUOT_TAG + TIMEOUT_TAG + QUOT_TAG + "300" + QUOT_TAG + CLOSE_TAG;
    document += SUPPORTED_DEVICES_BEG_TAG + DEVICE_BEG_TAG + COMP_ID_TAG + QUOT_TAG + attributeValue(id) + QUOT_TAG;
    if (category == "BIOS" || category == "CPLD") {
        document += IMPACTS_TP_MEASUREMENTS_TAG + QUOT_TAG + "true" + QUOT_TAG + FIELDSERVICE_TAG + QUOT_TAG +
                    FORCED_TAG + QUOT_TAG + CLOSE_TAG + FMPINFO_TAG + QUOT_TAG + QUOT_TAG + VENDORCODETYPE_TAG +
                    QUOT_TAG + "UINT32" + QUOT_TAG + FILEEXTENSION_TAG + QUOT_TAG + extension + QUOT_TAG +
                    FMPGUID_TAG + QUOT_TAG + guid + QUOT_TAG + GEN_END_TAG + DEVICE_END_TAG;
    } else {
        document += CLOSE_TAG + DEVICE_END_TAG;
    }
    document += SUPPORTED_DEVICES_END_TAG + INV_BEG_TAG + SUPPORTED_TAG + QUOT_TAG + "true" + QUOT_TAG;
    document += SOURCE_TAG + QUOT_TAG + source + QUOT_TAG + GEN_END_TAG + UPDATE_BEG_TAG + SUPPORTED_TAG + QUOT_TAG;
    document += "true" + QUOT_TAG + ROLLBACK_TAG + QUOT_TAG + "true" + QUOT_TAG + VALIDATION_TAG + QUOT_TAG + "true";
    document += QUOT_TAG + GEN_END_TAG + WRAPPER_END_TAG;

    const std::string path = outputDirectory + fileSeparator + id + ".xml";
    if (!writeDocument(path, document))
        return ROLLBACK_COMPONENT_ID_FILE;

    if (!AddFile(path, tes022_lower + fileSeparator + id + fileSeparator + id + ".xml", filecopy, DIGEST_MD5)) {
        TESSA_LOG(addcompIDError);
        return ROLLBACK_ADDFILE_FAILED;
    }
    return 0;
}

int UpdRollbackWrapper::createSSIBUpdateFile(std::string commandPath, std::string outputDirectory,
                                             std::string category)
{
    std::string rebootRequired;
    std::string rebootType;
    std::string extra;
    if (category == "BIOS") {
        rebootRequired = "1";
        rebootType = "1";
    } else if (category == "CPLD") {
        rebootRequired = "2";
        rebootType = "0";
        extra = "  category=\"CPLD\" taskName=\"CPLD\"  ";
    }

    std::string id;
    const int inputs = documentInputs(outputDirectory, id);
    if (inputs != 0)
        return inputs;

    const std::string escapedId = attributeValue(id);
    std::string document = GENERIC_XML_TAG + SSIB_HEAD_TAG;
    document += REC_BEG_TAG + TYPE_TAG + QUOT_TAG + "0" + QUOT_TAG;
    document += BLKID_TAG + QUOT_TAG + "6" + QUOT_TAG + REBOOT_REQD_TAG + QUOT_TAG + rebootRequired + QUOT_TAG;
    document += REBOOT_TYPE_TAG + QUOT_TAG + rebootType + QUOT_TAG + TIMEOUT_TAG + QUOT_TAG + "300" + QUOT_TAG;
    document += RET_CODE_TAG + QUOT_TAG + "0" + QUOT_TAG + RETRY_CNT_TAG + QUOT_TAG + "0" + QUOT_TAG;
    document += CMD_BEG_TAG + QUOT_TAG + attributeValue(commandPath) + UP_TAG + escapedId + "\\" + escapedId + ".xml";
    document += CMD_END_TAG + extra + GEN_END_TAG;
    document += SSIB_TAIL_TAG;

    const std::string path = outputDirectory + fileSeparator + ssibFile;
    if (!writeDocument(path, document))
        return ROLLBACK_SSIB_FILE;

    // An ssib entry names no destination: the controller knows where the
    // task record goes.
    if (!AddFile(path, "", ssib, DIGEST_MD5)) {
        TESSA_LOG(addSSIBError);
        return ROLLBACK_ADDFILE_FAILED;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Planning

int UpdRollbackWrapper::addPayloadandPackageFiles(std::vector<std::string> payloadPaths, bool isFile,
                                                  bool usePackagePath, std::string packagePath, digestType digest)
{
    TESSA_LOG("Entering addPayloadandPackageFiles");
    if (!StartCopyFile()) {
        const unsigned int error = failureNumber();
        TESSA_LOG(startcopyError + std::to_string(error));
        TESSA_LOG("Leaving addPayloadandPackageFiles because of StartCopyFile error");
        return static_cast<int>(error);
    }
    TESSA_LOG(startcopySuccess);

    if (!AddFile("", kDropBoxPayloadFolder, dirmake, digest)) {
        TESSA_LOG("Leaving addPayloadandPackageFiles as AddFile failed");
        return ROLLBACK_ADDFILE_FAILED;
    }

    const std::string directory = withoutLongPathPrefix(CPlatformLayer::getCurrentProcessDirectory());
    TESSA_LOG("Current process directory is " + directory);

    std::vector<fDetails*> plan;
    const digestType packageDigest = digest == DIGEST_GPG ? DIGEST_GPG : DIGEST_SHA256;
    int result = addPackageXMLToList(directory, kDropBoxPayloadFolder, plan, usePackagePath, packagePath,
                                     packageDigest);
    for (size_t i = 0; result == 0 && i < payloadPaths.size(); ++i)
        result = addPayloadToFileList(payloadPaths[i], kDropBoxPayloadFolder, plan, isFile);
    if (result != 0) {
        TESSA_LOG(createFileListError);
        freeUpList(plan);
        TESSA_LOG("Leaving addPayloadandPackageFiles because of file list error");
        return result;
    }

    TESSA_LOG(createFileListSuccess);
    for (const fDetails* entry : plan) {
        if (!AddFile(entry->source, entry->destination, entry->mode, digest)) {
            TESSA_LOG(addError);
            freeUpList(plan);
            TESSA_LOG("Leaving addPayloadandPackageFiles because of AddFile error");
            return ROLLBACK_ADDFILE_FAILED;
        }
    }
    freeUpList(plan);
    TESSA_LOG("Leaving addPayloadandPackageFiles");
    return 0;
}

int UpdRollbackWrapper::addPackageXMLToList(std::string directory, std::string destination,
                                            std::vector<fDetails*>& list, bool usePackagePath,
                                            std::string packagePath, digestType digest)
{
    std::string path = packagePath;
    if (!usePackagePath) {
        // A directory ending in '/' gives a doubled separator, which the
        // file system takes as one.
        path = directory + fileSeparator + pkgFile;
        struct stat info;
        if (::stat(path.c_str(), &info) != 0) {
            TESSA_LOG(statError + path);
            return ROLLBACK_NO_PACKAGE_XML;
        }
    }
    TESSA_LOG("PackageXMLPath  " + path);
    addToList(list, path, destination + fileSeparator + pkgFile, filecopy);
    if (digest == DIGEST_GPG) {
        // A missing signature is AddFile's to find.
        TESSA_LOG("Adding Package.xml Sign File to file list");
        addToList(list, path + ".sign", destination + fileSeparator + strPkgSignFile, filecopy);
    }
    return 0;
}

int UpdRollbackWrapper::addPayloadToFileList(std::string source, std::string destination,
                                             std::vector<fDetails*>& list, bool isFile)
{
    TESSA_LOG("Entering UpdRollbackWrapper::addPayloadToFileList");
    TESSA_LOG(source);
    TESSA_LOG(destination);

    if (!isFile)
        return planPayloadFolder(source, destination, list);

    struct stat info;
    if (::stat(source.c_str(), &info) != 0) {
        TESSA_LOG(statError + source + payload);
        return ROLLBACK_PAYLOAD_NOT_FOUND;
    }

    const std::string fileName = getFileNameFromPath(source);
    if (isAbsolutePath(source)) {
        addToList(list, source, destination + fileSeparator + fileName, filecopy);
        return 0;
    }

    if (rollbackMethod == ROLLBACK_METHOD_WAVEB) {
        // The first folder is dropped whatever its name; the file keeps the
        // folder level below it.
        std::string directory = getDirectoryFromPath(source);
        if (directory.empty()) {
            addToList(list, source, destination + fileSeparator + fileName, filecopy);
            return 0;
        }
        directory = removeCurrentDirComponents(directory);
        const std::string sub = stripBaseFolder(directory);
        if (!sub.empty() && sub != PAYLOAD_FOLDER_PATH) {
            addToList(list, "", destination + fileSeparator + sub, dirmake);
            addToList(list, source, destination + fileSeparator + sub + fileSeparator + fileName, filecopy);
        } else {
            addToList(list, source, destination + fileSeparator + fileName, filecopy);
        }
        return 0;
    }

    if (rollbackMethod == ROLLBACK_METHOD_WAVEC) {
        // Only a leading payload folder is dropped; the rest of the path is
        // kept below the destination.
        TESSA_LOG("Rollback Update Method is Single_IPMI_HOH");
        TESSA_LOG("src file name  : " + source);
        std::string directory = getDirectoryFromPath(source);
        TESSA_LOG("dirFile after getDirectoryFromPath: " + directory);
        if (!directory.empty()) {
            directory = removeCurrentDirComponents(directory);
            if (getBaseFolder(directory) == PAYLOAD_FOLDER_PATH) {
                directory = stripBaseFolder(directory);
                TESSA_LOG("dirFile After strpping base folder  : " + directory);
            }
            // A path that was only "./" components names no folder to make.
            if (!directory.empty() && directory != PAYLOAD_FOLDER_PATH) {
                TESSA_LOG("adding dirmake: " + destination + fileSeparator + directory);
                addToList(list, "", destination + fileSeparator + directory, dirmake);
            }
        }
        if (!source.empty()) {
            source = removeCurrentDirComponents(source);
            std::string relative = source;
            if (getBaseFolder(relative) == PAYLOAD_FOLDER_PATH)
                relative = stripBaseFolder(relative);
            addToList(list, source, destination + fileSeparator + relative, filecopy);
        }
        return 0;
    }
    return 0;
}

int UpdRollbackWrapper::planPayloadFolder(const std::string& source, const std::string& destination,
                                          std::vector<fDetails*>& list)
{
    const DirectoryEntries entries(source);
    // "." and ".." alone, or a folder that cannot be read.
    if (entries.count() < 3) {
        TESSA_LOG(noPayload);
        return ROLLBACK_PAYLOAD_FOLDER_EMPTY;
    }
    for (int i = 0; i < entries.count(); ++i) {
        const std::string name = entries.name(i);
        const std::string path = source + fileSeparator + name;
        struct stat info;
        if (::stat(path.c_str(), &info) != 0) {
            TESSA_LOG(statError + name + payload);
            return ROLLBACK_PAYLOAD_NOT_FOUND;
        }
        if (S_ISDIR(info.st_mode)) {
            if (name == "." || name == "..")
                continue;
            addToList(list, "", destination + fileSeparator + name, dirmake);
            const int result = addPayloadToFileList(path, destination + fileSeparator + name, list, false);
            if (result != 0)
                return result;
        } else {
            addToList(list, path, destination + fileSeparator + name, filecopy);
        }
    }
    TESSA_LOG("Leaving UpdRollbackWrapper::addPayloadToFileList");
    return 0;
}

void UpdRollbackWrapper::addToList(std::vector<fDetails*>& list, std::string source, std::string destination,
                                   exmlMode mode)
{
    TESSA_LOG("Entering UpdRollbackWrapper::addToList");
    TESSA_LOG(source);
    TESSA_LOG(destination);
    list.push_back(new fDetails{source, destination, mode});
    TESSA_LOG("Leaving UpdRollbackWrapper::addToList");
}

void UpdRollbackWrapper::freeUpList(std::vector<fDetails*>& list)
{
    // The vector keeps its (now dangling) pointers: every caller drops it
    // right afterwards.
    for (fDetails* entry : list)
        delete entry;
}

// ---------------------------------------------------------------------------
// Path helpers

std::string UpdRollbackWrapper::getBaseFolder(std::string path)
{
    // Whichever separator comes first ends the first folder: in a\b/c that
    // is a, never a\b.
    const std::string::size_type position = path.find_first_of("/\\");
    return position == std::string::npos ? std::string() : path.substr(0, position);
}

std::string UpdRollbackWrapper::stripBaseFolder(std::string path)
{
    const std::string::size_type position = path.find_first_of("/\\");
    return position == std::string::npos ? path : path.substr(position + 1);
}

std::string UpdRollbackWrapper::getDirectoryFromPath(std::string& path)
{
    if (path.empty())
        return std::string();
    if (isSeparator(path.back()))
        return path.substr(0, path.size() - 1);
    const std::string::size_type position = path.find_last_of("/\\");
    return position == std::string::npos ? std::string() : path.substr(0, position);
}

std::string UpdRollbackWrapper::getFileNameFromPath(std::string& path)
{
    if (path.empty() || isSeparator(path.back()))
        return std::string();
    const std::string::size_type position = path.find_last_of("/\\");
    return position == std::string::npos ? path : path.substr(position + 1);
}

std::string UpdRollbackWrapper::replaceWith(std::string text, std::string from, std::string to)
{
    if (from.empty())
        return text;
    // One pass from left to right. Text that a replacement wrote is never
    // searched again: a replacement that holds or builds the searched text
    // ("/." by ".//" before more dots) would otherwise grow without end.
    // Pieces of the original text that a removal brings together are found,
    // as a search from the start would find them ("aabb" without "ab" is
    // empty).
    std::string out;
    out.reserve(text.size());
    // For each character of out: how many characters of the original text
    // end there without a replacement's character among them.
    std::vector<std::string::size_type> originalRun;
    originalRun.reserve(text.size());
    for (char c : text) {
        out.push_back(c);
        originalRun.push_back(originalRun.empty() ? 1 : originalRun.back() + 1);
        if (originalRun.back() >= from.size() && out.compare(out.size() - from.size(), from.size(), from) == 0) {
            out.resize(out.size() - from.size());
            originalRun.resize(originalRun.size() - from.size());
            out += to;
            originalRun.insert(originalRun.end(), to.size(), 0);
        }
    }
    return out;
}

std::string UpdRollbackWrapper::removeCurrentDirComponents(std::string path)
{
    // A "." before a separator of either kind is a component of its own only
    // at the start or right after a separator: "x./" and "../" keep their
    // dots.
    std::string out;
    out.reserve(path.size());
    std::string::size_type position = 0;
    while (position < path.size()) {
        const bool componentStart = out.empty() || isSeparator(out.back());
        if (componentStart && path[position] == '.' && position + 1 < path.size() &&
            isSeparator(path[position + 1])) {
            // Separators doubled after it go too: ".//x" is "x", not "/x".
            position += 2;
            while (position < path.size() && isSeparator(path[position]))
                ++position;
            continue;
        }
        out.push_back(path[position++]);
    }
    // A final "." names the folder before it; after the root that is the
    // root itself, never "no folder".
    if (out == ".")
        return std::string();
    if (out.size() >= 2 && out.back() == '.' && isSeparator(out[out.size() - 2]))
        out.erase(out.size() == 2 ? 1 : out.size() - 2);
    return out;
}

bool UpdRollbackWrapper::isAbsolutePath(std::string path)
{
    return !path.empty() && path[0] == '/';
}

std::string UpdRollbackWrapper::getCurrentDir()
{
    char buffer[1024] = {};
    if (::getcwd(buffer, sizeof(buffer)) == nullptr) {
        TESSA_LOG(currentDirError);
        return std::string();
    }
    std::string directory(buffer);
    if (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    return directory;
}

// ---------------------------------------------------------------------------
// The drop box filled without a hand-over, and its removal

int UpdRollbackWrapper::populateDynamicPartition(std::vector<std::string> payloadPaths, bool isFile,
                                                 std::string& message, bool, bool usePackagePath,
                                                 std::string packagePath, digestType digest)
{
    TESSA_LOG("Entering populateDynamicPartition");
    const int planned = addPayloadandPackageFiles(payloadPaths, isFile, usePackagePath, packagePath, digest);
    if (planned != 0) {
        message = "KOLT addPayloadFiles failed";
        TESSA_LOG("KOLT addPayloadandPackageFiles failed");
        return planned;
    }
    int result = 0;
    if (!copyPayloadtoDynamicPartition()) {
        message = "KOLT populateDynamicPartition failed";
        TESSA_LOG(message);
        result = -1;
    }
    TESSA_LOG("Leaving populateDynamicPartition");
    return result;
}

bool UpdRollbackWrapper::deleteDynPartition()
{
    TESSA_LOG("Entering deleteDynPartition");
    const bool deleted = deleteDynamicPartition();
    TESSA_LOG(deleted ? "SECUPD delete Successful" : "SECUPD delete Unsuccessful");
    return deleted;
}
