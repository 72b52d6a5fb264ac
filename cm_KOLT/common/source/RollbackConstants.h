#ifndef CM_KOLT_ROLLBACKCONSTANTS_H
#define CM_KOLT_ROLLBACKCONSTANTS_H

#include <string>

// Names and messages of the rollback staging code. Every unit that
// includes this header holds its own copies, built before main runs.

// Files and folders
static const std::string ssibFile = "ssibinput.xml";
static const std::string tes022_lower = "tes022";
static const std::string pkgFile = "package.xml";
static const std::string strPkgSignFile = "package.xml.sign";
static const std::string NDir = "current";
static const std::string N_1Dir = "previous";
static const std::string fileSeparator = "/";

// Messages
static const std::string secureTessaError = "Could not create Secure Tessa object";
static const std::string secureTessaSuccess = "Secure Tessa initialized successfully";
static const std::string tessaNotpresent = "Full Tessa not found on the system";
static const std::string secureInitError = "Could not initialize Secure Tessa";
static const std::string startcopyError = "StartCopyFile Error : ";
static const std::string startcopySuccess = "StartCopyFile done successfully";
static const std::string noPayload = "No Files found in Payload Directory";
static const std::string noHandleError = "Could not create handle to get files in Payload Directory";
static const std::string statError = "Could not stat file ";
static const std::string payload = " in the Payload Directory";
static const std::string noCompID = "Could not get Component ID";
static const std::string noOpen = "Could not open file ";
static const std::string writing = " for writing";
static const std::string addcompIDError = "Could not add component ID file to FileList";
static const std::string addSSIBError = "Could not add SSIB file to FileList";
static const std::string createFileListError = "Could not create FileList";
static const std::string addError = "Could not add files to FileList";
static const std::string createFileListSuccess = "FileList constructed successfully";
static const std::string completeCopyError = "CompleteCopyFile Error : ";
static const std::string copySuccess = "Payload copied and copy verified successfully";
static const std::string endCopyError = "EndCopyFile Error : ";
static const std::string noPKGHandleError = "Could not create handle to package.xml";
static const std::string currentDirError = "Could not get current working directory";

// Tags and attributes of the component-id and SSIB documents
static const std::string GENERIC_XML_TAG = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";
static const std::string SSIB_HEAD_TAG = "<SSIB>";
static const std::string SSIB_TAIL_TAG = "</SSIB>";
static const std::string REC_BEG_TAG = "<Record";
static const std::string GEN_END_TAG = " />";
static const std::string QUOT_TAG = "\"";
static const std::string TYPE_TAG = " type=";
static const std::string BLKID_TAG = " blockid=";
static const std::string REBOOT_REQD_TAG = " reboot_required=";
static const std::string REBOOT_TYPE_TAG = " reboot_type=";
static const std::string TIMEOUT_TAG = " timeout=";
static const std::string RET_CODE_TAG = " returncode=";
static const std::string RETRY_CNT_TAG = " retrycount=";
static const std::string CMD_BEG_TAG = " cmd=";
static const std::string UP_TAG = " /u frmw:\\";
static const std::string CMD_END_TAG = " ramfs:\\output.xml\"";
static const std::string WRAPPER_BEG_TAG = "<Wrapper";
static const std::string WRAPPER_END_TAG = "</Wrapper>";
static const std::string NAME_TAG = " name=";
static const std::string FILE_PATH_NAME_TAG = " filePathName=";
static const std::string DIG_SIG_TAG = " digitalSignature=";
static const std::string CLOSE_TAG = " >";
static const std::string SUPPORTED_DEVICES_BEG_TAG = "<SupportedDevices>";
static const std::string SUPPORTED_DEVICES_END_TAG = "</SupportedDevices>";
static const std::string DEVICE_BEG_TAG = "<Device";
static const std::string DEVICE_END_TAG = "</Device>";
static const std::string COMP_ID_TAG = " componentID=";
static const std::string INV_BEG_TAG = "<Inventory";
static const std::string SUPPORTED_TAG = " supported=";
static const std::string SOURCE_TAG = " source=";
static const std::string UPDATE_BEG_TAG = "<Update";
static const std::string ROLLBACK_TAG = " rollback=";
static const std::string VALIDATION_TAG = " validationNeeded=";
static const std::string IMPACTS_TP_MEASUREMENTS_TAG = " impactsTPMmeasurements=";
static const std::string FIELDSERVICE_TAG = " fieldservice=";
static const std::string FORCED_TAG = "forced";
static const std::string FMPINFO_TAG = "<FmpInfo vendorcode=";
static const std::string VENDORCODETYPE_TAG = " vendorcodetype=";
static const std::string FILEEXTENSION_TAG = " FileExtension=";
static const std::string FMPGUID_TAG = " fmpGUID=";
static const std::string VERIFY_TAG = " /q frmw:\\";

#endif
