#ifndef CM_KOLT_UPDROLLBACKWRAPPER_H
#define CM_KOLT_UPDROLLBACKWRAPPER_H

#include <cstdint>
#include <string>
#include <vector>

#include "SecureTessa.h"

// One planned copy or folder: the plan of a rollback becomes the staging
// queue entry by entry, in planning order.
struct fDetails {
    std::string source;       // host path of the file; empty for a folder to make
    std::string destination;  // target inside managed storage, as AddFile takes it
    exmlMode mode;            // filecopy or dirmake (also the folder moves of the older method)
};

// The payload folder a relative payload path may begin with.
static const char* const PAYLOAD_FOLDER_PATH = "payload";

// Results of the planners, in the number space of the KOLT errors; they are
// returned, never stored as the client's error.
enum {
    ROLLBACK_ADDFILE_FAILED = 84,      // AddFile refused a planned entry
    ROLLBACK_NO_PACKAGE_XML = 85,      // the package descriptor cannot be found
    ROLLBACK_PAYLOAD_NOT_FOUND = 86,   // a payload path or folder entry cannot be found
    ROLLBACK_PAYLOAD_FOLDER_EMPTY = 87 // a payload folder holds nothing or cannot be read
};

// Results of the component-id and SSIB document writers beside 53 and 84.
enum {
    ROLLBACK_NO_OUTPUT_DIRECTORY = 81,  // neither an output nor a working directory
    ROLLBACK_COMPONENT_ID_FILE = 82,    // the component-id document cannot be written
    ROLLBACK_SSIB_FILE = 83             // the SSIB document cannot be written
};

// Results of doRollbackAndUpdate beside the KOLT errors.
const int ROLLBACK_VC_NOT_READY = 69;
// The method on controllers that take the single stage-and-update command,
// and the older one of the component folders.
const int32_t ROLLBACK_METHOD_NONE = 0;
const int32_t ROLLBACK_METHOD_WAVEB = 1;
const int32_t ROLLBACK_METHOD_WAVEC = 2;

// The managed-storage client with the rollback staging operations added.
// Construction makes the client ready for managed-storage work; a client
// that cannot be made ready makes the constructor throw its KOLT error
// number as unsigned char (never 0).
class UpdRollbackWrapper : public secureTessa {
public:
    UpdRollbackWrapper();
    virtual ~UpdRollbackWrapper();

    // The whole rollback copy of the payload paths: waits for the
    // controller's VC service, chooses the method by what the controller
    // accepts and runs it. 0 when the package was staged; 20 on WaveG and
    // later; 69 when the VC service never became ready; -1 for an empty list
    // or a WaveD or later controller without the stage-and-update command;
    // otherwise the failing step's number. category and filePath only serve
    // the component-id and SSIB documents of the older method.
    int doRollbackAndUpdate(std::vector<std::string> payloadPaths, char* category, char* filePath, bool isFile,
                            std::string& message, bool stageAndUpdate, bool usePackagePath, std::string packagePath);

    // Drop box, request document and digest hand-over, then the stage command.
    int rollbackUsingWaveCMethod(std::vector<std::string> payloadPaths, bool isFile, std::string& message,
                                 bool stageAndUpdate, bool usePackagePath, std::string packagePath, digestType digest);
    int updateFirmwarePartitionWaveC(bool stageAndUpdate, digestType digest);
    // The planned files into a drop box that stays, without a digest
    // hand-over: 0, -1 when the copy failed, or the planning step's number.
    int populateDynamicPartition(std::vector<std::string> payloadPaths, bool isFile, std::string& message,
                                 bool unused, bool usePackagePath, std::string packagePath, digestType digest);
    bool deleteDynPartition();

    // The older controllers' method: component folders "current" and
    // "previous" on TES022 and verification of the copied files.
    int rollbackUsingWaveBMethod(std::vector<std::string> payloadPaths, char* category, char* filePath, bool isFile,
                                 std::string& message, bool stageAndUpdate, bool usePackagePath,
                                 std::string packagePath);
    int addPayloadFiles(std::vector<std::string> payloadPaths, bool isFile, bool usePackagePath,
                        std::string packagePath);
    int createFileList(std::vector<std::string> payloadPaths, std::vector<fDetails*>& list, bool isFile,
                       bool usePackagePath, std::string packagePath);
    int updateFirmwarePartition();

    // The component-id document (<id>.xml) and the SSIB document
    // ("ssibinput.xml") of an SSIB task, written into outputDirectory (the
    // working directory when empty) and queued in the open copy
    // transaction. 0 when written and queued; 53 no component id; 81 no
    // output directory; 82 (component-id) or 83 (SSIB) when the document
    // cannot be written completely; 84 when AddFile refused it.
    int createComponentIdFile(std::string category, std::string filePathName, std::string outputDirectory);
    int createSSIBUpdateFile(std::string commandPath, std::string outputDirectory, std::string category);

    // Planning
    int addPayloadandPackageFiles(std::vector<std::string> payloadPaths, bool isFile, bool usePackagePath,
                                  std::string packagePath, digestType digest);
    int addPackageXMLToList(std::string directory, std::string destination, std::vector<fDetails*>& list,
                            bool usePackagePath, std::string packagePath, digestType digest);
    int addPayloadToFileList(std::string source, std::string destination, std::vector<fDetails*>& list,
                             bool isFile);
    void addToList(std::vector<fDetails*>& list, std::string source, std::string destination, exmlMode mode);
    void freeUpList(std::vector<fDetails*>& list);

    // Path helpers; a separator is '/' or '\'.
    std::string getBaseFolder(std::string path);
    std::string stripBaseFolder(std::string path);
    std::string getDirectoryFromPath(std::string& path);
    std::string getFileNameFromPath(std::string& path);
    std::string replaceWith(std::string text, std::string from, std::string to);
    // path without its "." components, in one call whichever separators
    // follow them ("./a/./b" gives "a/b", ".//b" gives "b", "a/." gives "a",
    // "/." gives "/"); a "./" that ends a longer name ("x./", "../") stays.
    std::string removeCurrentDirComponents(std::string path);
    bool isAbsolutePath(std::string path);
    std::string getCurrentDir();

    // 0 until doRollbackAndUpdate chose a method, then ROLLBACK_METHOD_WAVEC
    // or ROLLBACK_METHOD_WAVEB.
    int32_t rollbackMethod;

private:
    UpdRollbackWrapper(const UpdRollbackWrapper&) = delete;
    UpdRollbackWrapper& operator=(const UpdRollbackWrapper&) = delete;

    // The stored KOLT error of a failed step, 31 when none was stored.
    unsigned int failureNumber();
    // Where a component-id or SSIB document goes (the working directory
    // when none is given) and the package's component id: 0, 81 or 53.
    int documentInputs(std::string& outputDirectory, std::string& id);
    int planPayloadFolder(const std::string& source, const std::string& destination, std::vector<fDetails*>& list);
};

#endif
