#define ZAGO_LOG_UNIT "cm_CMBaseUtils/src/DeviceInfo"

#include "DeviceInfo.h"

#include <algorithm>
#include <sstream>

#include "Logger.h"
#include "StringUtils.h"

namespace {

// Base of the vendor's download site; dependency paths are relative to it.
const char* const kVendorDownloadBaseURL = "https://downloads.zago.com/";

std::string toHexText(unsigned int value)
{
    std::ostringstream text;
    text << std::hex << value;
    return text.str();
}

bool samePCIIdentity(const SPCIInfo& a, const SPCIInfo& b)
{
    return a.componentID == b.componentID && a.deviceID == b.deviceID &&
           a.subDeviceID == b.subDeviceID && a.vendorID == b.vendorID &&
           a.subVendorID == b.subVendorID;
}

} // namespace

CDeviceInfo::CDeviceInfo()
    : parentDeviceType(DEVICE_TYPE_NONE),
      deviceType(DEVICE_TYPE_NONE),
      dependencyType(HARD_DEPENDENCY),
      messageID(0),
      status(-1),
      updateStatus(0),
      rebootRequired(false),
      coldPowerCycleRequired(false),
      deviceUdpateID(0),
      deviceSpecificID(0),
      bus(0),
      deviceBus(0),
      deviceBusFunction(0),
      deviceHandle(nullptr)
{
    bdfInfo.value = 0;
    bdfInfo.busNumber = 0;
    bdfInfo.deviceNumber = 0;
    bdfInfo.functionNumber = 0;
}

CDeviceInfo::CDeviceInfo(const CDeviceInfo& other)
{
    copyFrom(other);
}

CDeviceInfo& CDeviceInfo::operator=(const CDeviceInfo& other)
{
    if (this != &other) {
        releaseApplicationInfo();
        copyFrom(other);
    }
    return *this;
}

CDeviceInfo::~CDeviceInfo()
{
    releaseApplicationInfo();
}

void CDeviceInfo::releaseApplicationInfo()
{
    for (CDeviceApplicationInfo* app : applicationInfo)
        delete app;
    applicationInfo.clear();
}

// Expects an empty applicationInfo list. Application records are copied
// deeply: each record owns its own and deletes them once.
void CDeviceInfo::copyFrom(const CDeviceInfo& other)
{
    releaseID = other.releaseID;
    componentID = other.componentID;
    parentComponentID = other.parentComponentID;
    parentDeviceType = other.parentDeviceType;
    componentType = other.componentType;
    deviceName = other.deviceName;
    version = other.version;
    pciInfo = other.pciInfo;
    deviceType = other.deviceType;
    dependencyType = other.dependencyType;
    dependencyContext = other.dependencyContext;
    dependencyPlatforms = other.dependencyPlatforms;
    parentPCIInfo = other.parentPCIInfo;
    dependencyOS = other.dependencyOS;
    applicationInfo.clear();
    applicationInfo.reserve(other.applicationInfo.size());
    for (const CDeviceApplicationInfo* app : other.applicationInfo)
        if (app != nullptr)
            applicationInfo.push_back(new CDeviceApplicationInfo(*app));
    messageID = other.messageID;
    status = other.status;
    errorMsg = other.errorMsg;
    updateStatus = other.updateStatus;
    display = other.display;
    detail = other.detail;
    filePath = other.filePath;
    currentVersion = other.currentVersion;
    enumId = other.enumId;
    rebootRequired = other.rebootRequired;
    coldPowerCycleRequired = other.coldPowerCycleRequired;
    bdfInfo = other.bdfInfo;
    deviceIdentifier = other.deviceIdentifier;
    deviceUdpateID = other.deviceUdpateID;
    deviceSpecificID = other.deviceSpecificID;
    bus = other.bus;
    deviceBus = other.deviceBus;
    deviceBusFunction = other.deviceBusFunction;
    deviceHandle = other.deviceHandle;
    FQDDInfo = other.FQDDInfo;
    systemInfo = other.systemInfo;
}

void CDeviceInfo::setReleaseID(std::string value) { releaseID = value; }
std::string CDeviceInfo::getReleaseID() { return releaseID; }

void CDeviceInfo::setComponentID(std::string value) { componentID = value; }
std::string CDeviceInfo::getComponentID() { return componentID; }

void CDeviceInfo::setParentComponentID(std::string value) { parentComponentID = value; }
std::string CDeviceInfo::getParentComponentID() { return parentComponentID; }

void CDeviceInfo::setParentDeviceType(CDeviceInfo::eDeviceType value) { parentDeviceType = value; }
CDeviceInfo::eDeviceType CDeviceInfo::getParentDeviceType() { return parentDeviceType; }

void CDeviceInfo::setComponentType(std::string value) { componentType = value; }
std::string CDeviceInfo::getComponentType() { return componentType; }

void CDeviceInfo::setDeviceName(std::string value) { deviceName = value; }
std::string CDeviceInfo::getDeviceName() { return deviceName; }

void CDeviceInfo::setVersion(std::string value) { version = value; }
std::string CDeviceInfo::getVersion() { return version; }

void CDeviceInfo::setPCIInfo(SPCIInfo value) { pciInfo = value; }

void CDeviceInfo::setPCIInfo(unsigned int deviceID, unsigned int subDeviceID,
                             unsigned int vendorID, unsigned int subVendorID)
{
    SPCIInfo info;
    info.deviceID = toHexText(deviceID);
    info.subDeviceID = toHexText(subDeviceID);
    info.vendorID = toHexText(vendorID);
    info.subVendorID = toHexText(subVendorID);
    pciInfo = info;

    ZLOG("CDeviceInfo::setPCIInfo() Device id  " + pciInfo.deviceID);
    ZLOG("CDeviceInfo::setPCIInfo() SubDevice id  " + pciInfo.subDeviceID);
    ZLOG("CDeviceInfo::setPCIInfo() Vendor id  " + pciInfo.vendorID);
    ZLOG("CDeviceInfo::setPCIInfo() SubVendor id  " + pciInfo.subVendorID);
}

SPCIInfo CDeviceInfo::getPCIInfo() { return pciInfo; }

void CDeviceInfo::setDeviceType(CDeviceInfo::eDeviceType value) { deviceType = value; }
CDeviceInfo::eDeviceType CDeviceInfo::getDeviceType() { return deviceType; }

void CDeviceInfo::setDependencyType(CDeviceInfo::eDependencyType value) { dependencyType = value; }
CDeviceInfo::eDependencyType CDeviceInfo::getDependencyType() { return dependencyType; }

void CDeviceInfo::setDependencyContext(std::string value) { dependencyContext = value; }
std::string CDeviceInfo::getDependencyContext() { return dependencyContext; }

void CDeviceInfo::setDependencyPlatforms(std::vector<std::string>& value) { dependencyPlatforms = value; }
std::vector<std::string> CDeviceInfo::getDepenendencyPlatforms() { return dependencyPlatforms; }

void CDeviceInfo::setParentPCIInfo(std::vector<SPCIInfo>& value) { parentPCIInfo = value; }
std::vector<SPCIInfo> CDeviceInfo::getParentPCIInfo() { return parentPCIInfo; }

void CDeviceInfo::setDependencyOS(std::vector<SOSInfo> value) { dependencyOS = value; }
std::vector<SOSInfo> CDeviceInfo::getDependencyOS() { return dependencyOS; }

void CDeviceInfo::setApplicationInfo(CDeviceApplicationInfo* value)
{
    if (value != nullptr)
        applicationInfo.push_back(value);
}

std::vector<CDeviceApplicationInfo*>* CDeviceInfo::getApplicationInfo() { return &applicationInfo; }

void CDeviceInfo::setMessageID(int value) { messageID = value; }
int CDeviceInfo::getMessageID() { return messageID; }

void CDeviceInfo::setStatus(int value) { status = value; }
int CDeviceInfo::getStatus() { return status; }

void CDeviceInfo::setErrorMsg(std::string value) { errorMsg = value; }
std::string CDeviceInfo::getErrorMsg() { return errorMsg; }

void CDeviceInfo::setUpdateStatus(int value) { updateStatus = value; }
int CDeviceInfo::getUpdateStatus() { return updateStatus; }

void CDeviceInfo::setDisplay(std::string value) { display = value; }
std::string CDeviceInfo::getDisplay() { return display; }

void CDeviceInfo::setDetail(std::string value) { detail = value; }
std::string CDeviceInfo::getDetail() { return detail; }

void CDeviceInfo::setFilePath(std::string value) { filePath = value; }

std::string CDeviceInfo::getFilePath()
{
    // "package.xml" may carry Windows-style separators; the stored path is
    // normalised for good so later readers see the URL form too.
    std::replace(filePath.begin(), filePath.end(), '\\', '/');
    return std::string(kVendorDownloadBaseURL) + filePath;
}

void CDeviceInfo::setCurrentVersion(std::string value) { currentVersion = value; }
std::string CDeviceInfo::getCurrentVersion() { return currentVersion; }

void CDeviceInfo::setEnumId(std::string value) { enumId = value; }
std::string CDeviceInfo::getEnumId() { return enumId; }

void CDeviceInfo::setRebootRequired(bool value) { rebootRequired = value; }
bool CDeviceInfo::getRebootRequired() { return rebootRequired; }

void CDeviceInfo::setColdPowerCycleRequired(bool value) { coldPowerCycleRequired = value; }
bool CDeviceInfo::getColdPowerCycleRequired() { return coldPowerCycleRequired; }

void CDeviceInfo::setBDFInfo(_BDFInfo value) { bdfInfo = value; }

void CDeviceInfo::setBDFInfo(unsigned char busNumber, unsigned char deviceNumber,
                             unsigned char functionNumber, unsigned short value)
{
    bdfInfo.value = value;
    bdfInfo.busNumber = busNumber;
    bdfInfo.deviceNumber = deviceNumber;
    bdfInfo.functionNumber = functionNumber;

    ZLOG("CDeviceInfo::setBDFInfo() Bus Number is  " + std::to_string(static_cast<unsigned int>(busNumber)));
    ZLOG("CDeviceInfo::setBDFInfo() Device Number is  " + std::to_string(static_cast<unsigned int>(deviceNumber)));
    ZLOG("CDeviceInfo::setBDFInfo() Function Number is  " +
         std::to_string(static_cast<unsigned int>(functionNumber)));
}

_BDFInfo CDeviceInfo::getBDFInfo() { return bdfInfo; }

void CDeviceInfo::setDeviceIdentifier(std::string value) { deviceIdentifier = value; }
std::string CDeviceInfo::getDeviceIdentifier() { return deviceIdentifier; }

void CDeviceInfo::setDeviceUdpateID(unsigned int value) { deviceUdpateID = value; }
unsigned int CDeviceInfo::getDeviceUdpateID() { return deviceUdpateID; }

void CDeviceInfo::setDeviceSpecificID(unsigned short value) { deviceSpecificID = value; }
unsigned short CDeviceInfo::getDeviceSpecificID() { return deviceSpecificID; }

void CDeviceInfo::setBus(int value) { bus = value; }
int CDeviceInfo::getBus() { return bus; }

void CDeviceInfo::setDeviceBus(int value) { deviceBus = value; }
int CDeviceInfo::get_DeviceBus() { return deviceBus; }

void CDeviceInfo::setDeviceBusFunction(int value) { deviceBusFunction = value; }
int CDeviceInfo::get_DeviceBusFunction() { return deviceBusFunction; }

void CDeviceInfo::setDeviceHandle(void* value) { deviceHandle = value; }
void* CDeviceInfo::getDeviceHandle() { return deviceHandle; }

void CDeviceInfo::setFQDDInfo(std::string value) { FQDDInfo = value; }
std::string CDeviceInfo::getFQDDInfo() { return FQDDInfo; }

void CDeviceInfo::setSystemInfo(KWTCSystemInfo* value)
{
    systemInfo.str1 = value->str1;
    systemInfo.str2 = value->str2;
    systemInfo.str3 = value->str3;
    systemInfo.str4 = value->str4;
}

KWTCSystemInfo* CDeviceInfo::getSystemInfo() { return &systemInfo; }

bool CDeviceInfo::operator==(CDeviceInfo other)
{
    return componentType == other.componentType && componentID == other.componentID &&
           dependencyType == other.dependencyType && version == other.version &&
           display == other.display && detail == other.detail && filePath == other.filePath &&
           samePCIIdentity(pciInfo, other.pciInfo);
}

bool CDeviceInfo::checkForEquality(const CDeviceInfo* other)
{
    return componentType == other->componentType && componentID == other->componentID &&
           version == other->version && enumId == other->enumId && FQDDInfo == other->FQDDInfo &&
           samePCIIdentity(pciInfo, other->pciInfo) && bdfInfo.busNumber == other->bdfInfo.busNumber &&
           bdfInfo.deviceNumber == other->bdfInfo.deviceNumber &&
           bdfInfo.functionNumber == other->bdfInfo.functionNumber;
}

bool CDeviceInfo::checkForEqualityMIC(const CDeviceInfo* other)
{
    // An empty version stands for "any version".
    return pciInfo.deviceID == other->pciInfo.deviceID && pciInfo.subDeviceID == other->pciInfo.subDeviceID &&
           pciInfo.vendorID == other->pciInfo.vendorID && pciInfo.subVendorID == other->pciInfo.subVendorID &&
           componentType == other->componentType && componentID == other->componentID &&
           pciInfo.componentID == other->pciInfo.componentID &&
           (version == other->version || version.empty() || other->version.empty());
}

namespace {

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The value of a text that is wholly one hexadecimal number.
bool pciIdentifierValue(const std::string& spelt, uint64_t& value)
{
    // Blanks around an attribute value are no part of the number.
    const char* const blanks = " \t\r\n";
    std::string::size_type first = spelt.find_first_not_of(blanks);
    if (first == std::string::npos)
        return false;
    const std::string text = spelt.substr(first, spelt.find_last_not_of(blanks) - first + 1);
    std::string::size_type start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        start = 2;
    if (start >= text.size())
        return false;
    std::string::size_type significant = 0;
    for (std::string::size_type i = start; i < text.size(); ++i) {
        if (!isHexDigit(text[i]))
            return false;
        if (significant > 0 || text[i] != '0')
            ++significant;
    }
    // Hex2Dec saturates: two different numbers beyond 64 bits would compare
    // equal.
    if (significant > 16)
        return false;
    value = CStringUtils::Hex2Dec(text);
    return true;
}

} // namespace

bool SamePCIIdentifier(const std::string& a, const std::string& b)
{
    uint64_t first = 0;
    uint64_t second = 0;
    return pciIdentifierValue(a, first) && pciIdentifierValue(b, second) && first == second;
}

bool SamePCIIdentity(const SPCIInfo& a, const SPCIInfo& b)
{
    return SamePCIIdentifier(a.deviceID, b.deviceID) && SamePCIIdentifier(a.subDeviceID, b.subDeviceID) &&
           SamePCIIdentifier(a.vendorID, b.vendorID) && SamePCIIdentifier(a.subVendorID, b.subVendorID);
}
