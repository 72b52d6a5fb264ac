#ifndef CM_CMBASEUTILS_DEVICEINFO_H
#define CM_CMBASEUTILS_DEVICEINFO_H

#include <cstdint>
#include <string>
#include <vector>

// PCI identity of a device. Identifiers are hexadecimal text without "0x";
// records built from discovered numbers carry lower-case digits without
// leading zeros, entries read from "package.xml" carry at least four digits
// as the file spells them, so compare identifiers as numbers.
struct SPCIInfo {
    std::string componentID;
    std::string deviceID;
    std::string subDeviceID;
    std::string vendorID;
    std::string subVendorID;
    std::string display;
};

// The one rule by which a device's PCI identity is found in "package.xml",
// for its display name as for the update filter: the four identifiers
// (device, subsystem device, vendor, subsystem vendor) are equal as
// hexadecimal numbers ("a1f" equals "0A1F"). An identifier that is empty or
// is not wholly a hexadecimal number (blanks around it, an optional "0x",
// digits, nothing else; at most 64 bits) equals nothing, not even itself: an entry that
// lacks an id, or holds a misspelt one, never matches a device, also not
// one whose id is 0.
bool SamePCIIdentifier(const std::string& a, const std::string& b);
bool SamePCIIdentity(const SPCIInfo& a, const SPCIInfo& b);

// Operating-system condition of a package dependency.
struct SOSInfo {
    std::string majorVersion;
    std::string minorVersion;
    std::string spMajorVersion;
    std::string spMinorVersion;
    std::string osVendor;
    std::string osArch;
    std::string reserved1;
    std::string reserved2;
    std::string buildNumber;
};

// PCI location.
struct _BDFInfo {
    uint16_t value;
    uint8_t busNumber;
    uint8_t deviceNumber;
    uint8_t functionNumber;
};

class CDeviceApplicationInfo {
public:
    std::string str1;
    std::string str2;
    std::string str3;
    std::string str4;
};

class KWTCSystemInfo {
public:
    std::string str1;
    std::string str2;
    std::string str3;
    std::string str4;
};

// One device of an inventory or update run, or one dependency declared by
// "package.xml". Owns the application records it was given; the device
// handle belongs to whoever attached it.
class CDeviceInfo {
public:
    enum eDeviceType {
        DEVICE_TYPE_NONE = 0,
        PCI_DEVICE = 1,
        NON_PCI_DEVICE = 2
    };

    enum eDependencyType {
        HARD_DEPENDENCY = 1,
        SOFT_DEPENDENCY = 2
    };

    CDeviceInfo();
    CDeviceInfo(const CDeviceInfo& other);
    CDeviceInfo& operator=(const CDeviceInfo& other);
    ~CDeviceInfo();

    void setReleaseID(std::string value);
    std::string getReleaseID();

    void setComponentID(std::string value);
    std::string getComponentID();

    void setParentComponentID(std::string value);
    std::string getParentComponentID();

    void setParentDeviceType(CDeviceInfo::eDeviceType value);
    CDeviceInfo::eDeviceType getParentDeviceType();

    void setComponentType(std::string value);
    std::string getComponentType();

    void setDeviceName(std::string value);
    std::string getDeviceName();

    void setVersion(std::string value);
    std::string getVersion();

    void setPCIInfo(SPCIInfo value);
    void setPCIInfo(unsigned int deviceID, unsigned int subDeviceID,
                    unsigned int vendorID, unsigned int subVendorID);
    SPCIInfo getPCIInfo();

    void setDeviceType(CDeviceInfo::eDeviceType value);
    CDeviceInfo::eDeviceType getDeviceType();

    void setDependencyType(CDeviceInfo::eDependencyType value);
    CDeviceInfo::eDependencyType getDependencyType();

    void setDependencyContext(std::string value);
    std::string getDependencyContext();

    void setDependencyPlatforms(std::vector<std::string>& value);
    std::vector<std::string> getDepenendencyPlatforms();

    void setParentPCIInfo(std::vector<SPCIInfo>& value);
    std::vector<SPCIInfo> getParentPCIInfo();

    void setDependencyOS(std::vector<SOSInfo> value);
    std::vector<SOSInfo> getDependencyOS();

    // Takes ownership of a non-null record; null is ignored.
    void setApplicationInfo(CDeviceApplicationInfo* value);
    std::vector<CDeviceApplicationInfo*>* getApplicationInfo();

    void setMessageID(int value);
    int getMessageID();

    void setStatus(int value);
    int getStatus();

    void setErrorMsg(std::string value);
    std::string getErrorMsg();

    void setUpdateStatus(int value);
    int getUpdateStatus();

    void setDisplay(std::string value);
    std::string getDisplay();

    void setDetail(std::string value);
    std::string getDetail();

    void setFilePath(std::string value);
    // Normalises the stored path to forward slashes and returns it behind
    // the vendor download site's base URL.
    std::string getFilePath();

    void setCurrentVersion(std::string value);
    std::string getCurrentVersion();

    void setEnumId(std::string value);
    std::string getEnumId();

    void setRebootRequired(bool value);
    bool getRebootRequired();

    void setColdPowerCycleRequired(bool value);
    bool getColdPowerCycleRequired();

    void setBDFInfo(_BDFInfo value);
    void setBDFInfo(unsigned char bus, unsigned char device, unsigned char function,
                    unsigned short value);
    _BDFInfo getBDFInfo();

    void setDeviceIdentifier(std::string value);
    std::string getDeviceIdentifier();

    void setDeviceUdpateID(unsigned int value);
    unsigned int getDeviceUdpateID();

    void setDeviceSpecificID(unsigned short value);
    unsigned short getDeviceSpecificID();

    void setBus(int value);
    int getBus();

    void setDeviceBus(int value);
    int get_DeviceBus();

    void setDeviceBusFunction(int value);
    int get_DeviceBusFunction();

    void setDeviceHandle(void* value);
    void* getDeviceHandle();

    void setFQDDInfo(std::string value);
    std::string getFQDDInfo();

    // Copies the four strings; the pointer must not be null.
    void setSystemInfo(KWTCSystemInfo* value);
    KWTCSystemInfo* getSystemInfo();

    bool operator==(CDeviceInfo other);
    bool checkForEquality(const CDeviceInfo* other);
    bool checkForEqualityMIC(const CDeviceInfo* other);

private:
    void copyFrom(const CDeviceInfo& other);
    void releaseApplicationInfo();

    std::string releaseID;
    std::string componentID;
    std::string parentComponentID;
    eDeviceType parentDeviceType;
    std::string componentType;
    std::string deviceName;
    std::string version;
    SPCIInfo pciInfo;
    eDeviceType deviceType;
    eDependencyType dependencyType;
    std::string dependencyContext;
    std::vector<std::string> dependencyPlatforms;
    std::vector<SPCIInfo> parentPCIInfo;
    std::vector<SOSInfo> dependencyOS;
    std::vector<CDeviceApplicationInfo*> applicationInfo;
    int messageID;
    int status;
    std::string errorMsg;
    int updateStatus;
    std::string display;
    std::string detail;
    std::string filePath;
    std::string currentVersion;
    std::string enumId;
    bool rebootRequired;
    bool coldPowerCycleRequired;
    _BDFInfo bdfInfo;
    std::string deviceIdentifier;
    uint32_t deviceUdpateID;
    uint16_t deviceSpecificID;
    int bus;
    int deviceBus;
    int deviceBusFunction;
    void* deviceHandle;
    std::string FQDDInfo;
    KWTCSystemInfo systemInfo;
};

#endif
