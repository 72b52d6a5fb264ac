#ifndef CM_KOLT_SECURETESSA_H
#define CM_KOLT_SECURETESSA_H

// Managed-storage (Tessa) client of the management controller: the client
// object, its OEM IPMI request layer, the partition table and the KOLT
// debug log. One client object exists at a time; everything here runs on
// the one thread of the program.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FileIO.h"
#include "QRMIPMICommandData.h"

class QRMIPMIInterfaceImpl;
struct _xmlNode;

// ---------------------------------------------------------------------------
// KOLT debug log ("KOLT_DBG.log" in the working directory)

// The open log: appended to, never reached through a link planted at its
// name, and not inherited by the shell commands the client runs.
extern CUniqueFd LogFile;
extern const char* LogFilePath;
// True while the log is switched on; gates every line and every dump. A
// log that cannot be opened stays off.
extern bool bTessaDebugLog;

// Writes "<time>: <base name of sourceFile>:<line>: <message>" when the log
// is on. Callers pass their own source path (TESSA_LOG does).
void logTessaMsg(const char* sourceFile, unsigned int line, std::string message);
// The part of path after its last '/', or the whole path.
std::string getFileName(const std::string& path);

#define TESSA_LOG(msg) logTessaMsg(__FILE__, __LINE__, (msg))

// ---------------------------------------------------------------------------
// KOLT error numbers: one byte kept in the client. Operations throw them as
// unsigned char inside their own try block and catch them at their end.

enum {
    KOLT_SUCCESS = 0,
    KOLT_NOSESSION = 2,
    KOLT_INVALIDPARTITION = 3,
    KOLT_PARTITIONTOOSMALL = 4,
    KOLT_SESSIONFAILED_PREWAVEB = 5,
    KOLT_EMPTYSOURCE = 6,
    KOLT_EMPTYDESTINATION = 7,
    KOLT_STATFAILED = 8,
    KOLT_NOTRANSACTION = 9,
    KOLT_TRANSACTIONOPEN = 12,
    KOLT_VCLATTACHFAILED = 14,
    KOLT_NOIPMIDRIVER = 15,
    KOLT_IPMILIBLOADFAILED = 16,
    KOLT_NOTESSAPRESENT = 20,
    KOLT_CREATEFAILED = 22,
    KOLT_DETACHFAILED = 23,
    KOLT_DIGESTHANDOVERFAILED = 24,
    KOLT_DELETEDROPBOXFAILED = 25,
    KOLT_PARTITIONUNREACHABLE = 27,
    KOLT_SESSIONACTIVE = 29,
    KOLT_ENDSESSIONFAILED = 30,
    KOLT_INTERNALERROR = 31,
    KOLT_INVALIDVCLREQUEST = 32,
    KOLT_NOANSWERDOCUMENT = 33,
    KOLT_DROPBOXNOTIDENTIFIED = 35,
    KOLT_SIZETOOLARGE = 36,
    KOLT_ATTACHFAILED = 37,
    KOLT_DELETEPARTITIONFAILED = 44,
    KOLT_ACCESSSTATEFAILED = 45,
    KOLT_IPMILIBINITFAILED = 46,
    KOLT_COPYMISMATCH = 47,
    KOLT_SETSTATEFLAGFAILED = 49,
    KOLT_NOPACKAGEIDENTITY = 53,
    KOLT_BADQUERYTYPE = 54,
    KOLT_TESSADISABLED = 55,
    KOLT_USBARBITRATORRUNNING = 56,
    KOLT_NOSIGFILE = 57,
    KOLT_NOPACKAGEXML = 58,
    KOLT_PAYLOADTOOLARGE = 59,
    KOLT_BEGINSECUREUPDATEFAILED = 60,
    KOLT_PROCESSSECUREUPDATEFAILED = 61,
    KOLT_ENDSECUREUPDATEFAILED = 62,
    KOLT_SESSIONFAILED = 63,
    KOLT_DROPBOXCREATEFAILED = 64,
    KOLT_USBBLOCKLISTED = 65,
    KOLT_STAGEFAILED = 66,
    KOLT_STAGENOTSUPPORTED = 67,
    KOLT_CONTROLLERUPDATEFIRST = 68
};

// ---------------------------------------------------------------------------
// OEM IPMI request layer

// OEM command bytes (NetFn 0x30) sent through OEMIPMIRequest.
enum eOEMIPMIRequestType {
    eTessaCommand = 0xA2,
    eGetTessaType = 0xAD,
    eGetTessaAccessState = 0xAE,
    eGetCapability = 0xBF
};

// The record of every managed-storage request; senders clear it, fill it,
// send it and read the answer from it before the next request.
extern _QRMIPMICommandData IPMIReqBuf;

// One library exchange; true when the library delivered a reply.
bool ProcessIPMIReuestResponseUsingQRMIPMI(_QRMIPMICommandData* record);
// Sends a managed-storage request with busy resends and judges the answer:
// 0 success, 1 failure, 2 pending or still busy.
unsigned char ProcessTessaIPMICommand(_QRMIPMICommandData* record);
// Judges the controller return code in response byte 2.
unsigned char GetErrorCode(_QRMIPMICommandData* record);
unsigned char OEMIPMIRequest(eOEMIPMIRequestType command, unsigned char dataByte,
                             _QRMIPMICommandData* record, unsigned short requestLength,
                             unsigned short responseLength);
// Up to 10 library exchanges, 2 s apart; true when a reply was delivered.
bool ProcessIPMICommand(_QRMIPMICommandData* record);
unsigned char OEMIPMIRequestTomelReset(eOEMIPMIRequestType command, _QRMIPMICommandData* record,
                                       unsigned short requestLength, unsigned short responseLength);
// Cold reset of the management controller: 0 delivered, 1 not.
int rstTomel();
// Request bytes 3-12 of an attach or detach: the session handle, then the
// static and the dynamic bit word (both wire-ordered, written low byte
// first), the other bytes zero.
void putPartitionWords(_QRMIPMICommandData* record, unsigned short handle, unsigned short staticWord,
                       unsigned short dynamicWord);
// Name of a managed-storage sub-command for the dumps, or "".
std::string getIPMICommandName(unsigned char subCommand);

// The host IPMI library of every request; null while not loaded.
extern QRMIPMIInterfaceImpl* pQRMIPMILibHandle;
// Creates and initialises the library; returns Initialize's result.
unsigned int InitQRMIPMILibrary();
// Releases and deletes the library; always 0.
int ReleaseQRMIPMILibrary();

// ---------------------------------------------------------------------------
// Process-wide data of the client

// Cached generation type of the controller, -1 until learned.
extern int GenerationType;
// Asks the controller for its generation type, without the cache; 0 (before
// WaveB) when the query fails.
int QuerySystemGeneration();
extern unsigned short dynHandleIdx;
extern bool BenchFlag;

// Host operating-system index values.
const int REDHAT = 0;
const int SUSE = 1;
const int XENSERVER = 4;
const int UVO = 5;
const int ESX = 6;
const int ESX4 = 8;
const int UVO_NEW = 9;
const int ESX4_1 = 11;
const int CENTOS = 12;
const int ESXi = 14;

// Host files, tools' folders and mount constants.
extern const char* ESXiKernel;
extern const std::string ESXRel;
extern const std::string RedHatRel;
extern const std::string SuseRel;
extern const std::string RVXRel;
extern const std::string PNBRel;
extern const std::string NewPNBRel;
extern const std::string RHatUdevLibDir;
extern const std::string AltUdevLibDir1;
extern const std::string AltUdevLibDir2;
extern const std::string StatSecTesDev;
extern const std::string RHatPartDir;

// Flushes every file system; the mount point only names the partition in
// the log. Always 0.
int syncAll(std::string mountPoint);
int Ascii2Hex(std::string text);
bool string_in_list(std::string name, std::vector<std::string> list);
// Value of an attribute of a package-descriptor element, owned by the
// document; null when missing.
unsigned char* GetAttribute(struct _xmlNode* element, const char* attributeName);

// ---------------------------------------------------------------------------
// Session record

struct sessionHandle {
    uint16_t handle;       // sent little-endian in request bytes 3-4
    uint8_t active;        // 1 while a session is open
    uint16_t staticBits;   // plain static partition bit word
    uint16_t dynamicBits;  // plain dynamic partition bit word
};

// ---------------------------------------------------------------------------
// Partition table

struct TessaPartitionEntry {
    uint16_t index;
    std::string name;
    uint32_t attrWord;
    uint16_t sizeMiB;
    std::string volumeLabel;
    uint32_t kind;
    uint8_t attrFlag;
    std::string generation;
    std::string mountPath;
    uint16_t partIdWord;    // the partition's bit, wire-ordered (bytes swapped)
    bool present;
    uint64_t sizeBytes;
    uint64_t extraA;
    uint64_t extraB;
    uint16_t extraC;

    TessaPartitionEntry();
    TessaPartitionEntry(uint16_t index, const std::string& name, uint16_t sizeMiB,
                        const std::string& volumeLabel, uint32_t kind, uint8_t attrFlag,
                        const std::string& generation);
};

const unsigned int TESSA_PARTITION_ROWS = 257;

// Row 0 the drop box "SECUPD", rows 1 to 256 "TES001" to "TES256".
extern TessaPartitionEntry tessaPartInfo[TESSA_PARTITION_ROWS];
extern TessaPartitionEntry tessaDynPartInfo[TESSA_PARTITION_ROWS];
// The drop box's six-character name.
extern const char* dynDriveName;

// Why a row cannot be attached or detached as a numbered partition (the
// line to log: a row outside 1 to 256, or one the controller has not
// reported), or null when it can.
const char* numberedPartitionRowFault(unsigned short row);

// Size of the mount-point buffers the staging code hands to getDynPartDrive.
const size_t kMountPointBufferBytes = 1024;

// ---------------------------------------------------------------------------
// Staging entries

enum exmlMode {
    filecopy = 1,
    dircopy = 2,
    filemove = 3,
    dirmove = 4,
    filedelete = 5,
    dirdelete = 6,
    fileappend = 7,
    dirmake = 8,
    ssib = 9,
    vcl_update_records = 10,
    vcl_update_entire_inventory = 11,
    vcl_query_current_records = 12,
    vcl_query_history_records = 13,
    vcl_query_event_records = 14,
    vcl_query_dependency = 15,
    signedunzip = 16
};

enum digestType {
    DIGEST_MD5 = 1,
    DIGEST_SHA256 = 2,
    DIGEST_GPG = 3
};

struct cfgEntry {
    int32_t order = 0;
    exmlMode mode = filecopy;
    int32_t algorithmLabel = 0;
    int32_t reserved1 = 0;
    uint32_t sourceMode = 0;
    uint64_t size = 0;
    int32_t reserved2 = 0;
    int64_t stagedBytes = 0;
    uint16_t partIndex = 0;
    uint16_t splitState = 0;
    std::string source;
    std::string destination;
    std::string hash;
    bool omitDestination = false;
    int32_t hashAlgorithm = 0;
};

// Partition row named by the first path component of a destination given
// as a number ("7/..."), else 0.
int GetPartNum(std::string path);

// Request document of a copy pass ("update.xml" on WaveB controllers,
// "input_secupd.xml" on later ones) and its writers.
extern const char* updFileName;
extern const char* updFileNameWaveCPlus;
void AddCfgHdr(std::ostringstream* document);
bool AddCfgEntry(std::ostringstream* document, cfgEntry entry, bool chunk);

// The request document of a controller-log query or dependency check (the
// one "update.xml" of the exchange): header, one File element per entry,
// footer. Always 1; a failing stream throws to the caller.
int CreateVCLConfigFile(std::ostringstream* document, std::vector<cfgEntry> entries);

// Copies what one staging entry names into the mounted drop box; the status
// of the last shell command, or -1 when the destination names no place on a
// partition (TessaPath.h) and nothing ran.
int doCopy(std::string mountPoint, std::string destination, std::string source, exmlMode mode);
// Space a copy pass keeps free in the drop box.
extern const uint64_t eps;
// The drop box's mount point ("/tmp/SECUPD/" on Linux hosts) during a copy,
// and the path of the request document written there.
extern char DynMountPoint[kMountPointBufferBytes];
const size_t kTargetFilePathBytes = 1024;
extern char targetFilePath[kTargetFilePathBytes];

// ---------------------------------------------------------------------------
// Ignores SIGINT for the rest of the process.
class CSignalHandler {
public:
    CSignalHandler() {}
    ~CSignalHandler() {}
    bool setupSignalHandlers();
};

// ---------------------------------------------------------------------------
// The client object.
class secureTessa {
public:
    secureTessa();
    virtual ~secureTessa();

    // Error number
    void storeErrorInfo(unsigned char error);
    unsigned char getKOLTError();

    // Request layer: a managed-storage sub-command in `record` (IPMIReqBuf);
    // 0 success, else non-zero. Answers carrying a session handle update it.
    unsigned char IPMIRequest(unsigned char subCommand, void* record, unsigned short requestLength,
                              unsigned short responseLength);
    bool PollTessaCmdComplete(int maxPolls, unsigned char subCommand);

    // Sessions
    bool IsSessionActive();
    bool BeginTessaSession(unsigned short timeout);
    bool BeginTessaSessionExtended(unsigned short timeout);
    bool EndTessaSession();

    // Life cycle
    bool secureTessaInitIPMI();
    bool secureTessaInit();
    void setRestart();

    // Controller identity
    int GetSystemGeneration();
    int GetTessaType();
    bool IsTessaEnabled();
    bool byPassRecoveryState();
    int iSWaveCTomel();
    int IsTessaPresent();
    unsigned short swapBytes(unsigned short value);

    // Partition table and queries
    unsigned short getPartIndex(std::string name);
    unsigned short getPartIndexInfo();
    unsigned short getDynPartIndexInfo();
    bool getPartInfo(unsigned short staticWord);
    bool getDynPartInfo(unsigned short dynamicWord);
    bool CreateDropBox(const char* name, unsigned int sizeBytes, unsigned int* grantedBytes);
    bool DeleteDropBox(unsigned short plainWord);
    bool deleteDynPartWithName(const unsigned short& dynamicWord, const std::string& name);

    // Attach and detach (bit words wire-ordered)
    bool AttachPartition(unsigned short staticWord, unsigned short dynamicWord, unsigned short row);
    bool AttachTessaPartition(unsigned short row);
    bool AttachTessaPartition(std::string name);
    bool DetachPartition(unsigned short staticWord, unsigned short dynamicWord, unsigned short row,
                         bool logFailure);
    bool DetachAll();
    bool DetachTessaPartition(unsigned short row);
    bool DetachTessaPartition(std::string name);
    void ESX_RemoveEntries(unsigned short staticWord, unsigned short dynamicWord, unsigned short row);
    void CleanMountedPartition();
    void LxGetVolNameInfo(unsigned short row, const char* unused);

    // Mount points, mounting and unmounting. A partition named N is reached
    // under "/vmfs/volumes/N/" on ESXi and "/tmp/N/" elsewhere; the mounts
    // themselves use "/tmp/N" and the device link "/dev/sectesupd-N".
    bool getPartDrive(std::string name, std::string* mountPoint);
    // Writes the mount point into buffer, never more than bufferSize bytes
    // with the terminating zero; false (and an empty buffer) when it does
    // not fit.
    bool getDynPartDrive(const char* name, char* buffer, size_t bufferSize = kMountPointBufferBytes);
    bool mountDynPartition();
    bool mountStatPartition(std::string label);
    // False when the folder may still be mounted: it is then left in place.
    bool unmountDynPartition();
    bool unmountStatPartition(std::string label);

    // State flag and power supplies
    int setStateFlag(unsigned char flag);
    int getPSCount(int& count);
    int getPSUVersion(unsigned char psu, unsigned int& version, std::string& text, unsigned int& flag);
    // Asks the controller for a power cycle after the update: 0 accepted,
    // -1 otherwise.
    int regPowerCycle();

    // Host detection
    bool getLinuxOSVer();
    bool isESXiOS();

    // Host discovery of exposed partitions: the device (or ESXi volume)
    // path of the partition labelled label, or empty when it did not show
    // up within the attempts.
    std::string getDevicePath(std::string& label);
    bool isSGDriverLoaded();

    // udev and HAL
    bool udevhalInstall();
    bool udevhalUninstall();
    bool RestartUdevRules();
    bool CopyFile(const std::string& file, const std::string& directory);
    bool IsHalDaemonRunning();
    bool StartHalDaemon();
    bool StopHalDaemon();

    // Package identity
    bool get_comp_id(std::string& componentIdOut);
    bool getVendorVersion(const std::string& path, std::string& version);
    bool compareVendorVersion(const std::string& mountPoint, bool& matched);
    bool system_specific_list_dir(std::string path, std::vector<std::string>& entries);

    // Copy transaction: the staging queue (StartCopyFile, AddFile,
    // EndCopyFile). AddFile refuses a partition path that names no place
    // there (TessaPath.h): a destination with 7, the source of a move or a
    // folder deletion with 6.
    bool StartCopyFile();
    bool AddFile(std::string source, std::string destination, exmlMode mode, digestType digest);
    bool AddFile(std::string source, std::string destination, bool unused);
    bool EndCopyFile();

    // Digest hand-over of the request document.
    bool SecureTessaCopy(sessionHandle handle, std::string digest, unsigned short unused);
    bool SecureTessaCopyWaveCPlus(sessionHandle handle, std::string digest, digestType digest_type);
    bool SendHashPart(sessionHandle handle, std::string digest);

    // Drop-box copy passes and the copy transaction (CompleteCopyFile).
    bool populateDynPart(std::string mountPoint, std::ostringstream* document, unsigned long& index,
                         unsigned long capacity);
    bool populateDynPartWaveCPlus(std::string mountPoint, std::ostringstream* document, unsigned long& index,
                                  unsigned long capacity);
    void CalculateAndAdjustPayloadSize(unsigned int& total);
    bool CompleteCopyFileWaveCPlus(digestType digest);
    bool CompleteCopyFile();

    // The older secure-update sequence: begin announces the payload size,
    // process hands over the request document's MD5 (32 hexadecimal
    // characters), end closes the transfer. Each is true when the
    // controller answered with success.
    bool beginSecureUpdate(sessionHandle handle, unsigned int payloadBytes);
    bool processSecureUpdate(sessionHandle handle, std::string digest);
    bool endSecureUpdate(sessionHandle handle);

    // Signed-unzip staging through the secure-update sequence: the first
    // queued entry (the archive, with its ".sig" and "package.xml") goes
    // into the drop box the controller offers.
    bool populateDynPart(std::ostringstream* document);
    bool CompleteSignedUnzip();
    // The queue into a new drop box without a digest hand-over; the drop
    // box stays, detached, for the caller.
    bool copyPayloadtoDynamicPartition();
    bool deleteDynamicPartition();

    // Stage-and-update protocol and status polling (StageAndUpdate).
    bool checkIfWaveCPlusIPMISupported();
    int QuerySupportedSecurtyMethod();
    int pollForVCStatus();
    int pollForStatus();
    bool sendIPMICommandToStageAndUpdate(bool update, digestType digest);
    bool StagevACResetRequestSIPMI();

    // Component folders on the firmware-image partition (AddNFile).
    bool AttachAndCompare(bool& matched);
    bool IsFreshInstall(std::vector<std::string>& entries, uint8_t& fresh);
    bool MakeFreshInstall();
    bool ReplaceCurrentFolder(std::string& mountPoint);
    // Queues one payload file into the component's folders on TES022
    // (current, and previous as well on a fresh install); the first call of
    // a copy transaction inspects the partition and queues the folder work.
    bool AddNFile(std::string path);

    // Controller-log query (modes 12 to 14) and dependency check of
    // "package.xml" (mode 15) through a drop box of their own; the
    // controller's answer ("output.xml") goes to `answer` (for the
    // dependency check only when it failed, without the XML declaration).
    bool QueryVCL(std::stringstream& answer, exmlMode mode);
    bool doDepCheck(std::stringstream& answer, exmlMode mode);
    // 1 supported, 0 not supported, -1 the IPMI request failed.
    int isDepCheckSupported();
    // 1 monolithic system, 0 modular system, -1 the IPMI request failed.
    int isMonolithic();

    // Copy verification and partition file deletion; a deletion of a path
    // that names no place on a partition is refused with 7.
    bool VerifyCopyFiles();
    bool DeleteTessaFile(std::string path);

    // Data, in this order.
    uint32_t addFileErrorClass;
    sessionHandle session;
    std::vector<cfgEntry> cfgEntries;
    uint32_t l_state;
    uint8_t koltError;
    uint8_t accessState;
    uint32_t tessaType;
    uint32_t entryCounter;
    std::string currentDropBox;
    int32_t hostOsIndex;
    uint32_t restartFlag;
    uint32_t nFileSetupDone;
    std::string componentId;
    uint32_t maxDropBoxBytes;
    uint8_t freshInstall;
    uint8_t halWasRunning;
    uint8_t ready;
    // Full paths of the udev rule files this client copied; the uninstall
    // removes these and nothing else (never a file that was there before).
    std::vector<std::string> installedRuleFiles;

private:
    secureTessa(const secureTessa&) = delete;
    secureTessa& operator=(const secureTessa&) = delete;
};

#endif
