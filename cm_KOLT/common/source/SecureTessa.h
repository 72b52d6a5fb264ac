#ifndef CM_KOLT_SECURETESSA_H
#define CM_KOLT_SECURETESSA_H

#include <string>
#include <vector>

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

enum { KOLT_NOPACKAGEIDENTITY = 53 };

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

void logTessaMsg(const char* sourceFile, unsigned int line, std::string message);
#define TESSA_LOG(msg) logTessaMsg(__FILE__, __LINE__, (msg))

class secureTessa {
public:
    secureTessa();
    virtual ~secureTessa();

    int regPowerCycle();

    void storeErrorInfo(unsigned char error) { koltError = error; }
    unsigned char getKOLTError() { return koltError; }

    bool getLinuxOSVer();
    bool isESXiOS();

    bool udevhalInstall();
    bool udevhalUninstall();
    bool RestartUdevRules();
    bool CopyFile(const std::string& file, const std::string& directory);
    bool IsHalDaemonRunning();
    bool StartHalDaemon();
    bool StopHalDaemon();

    bool get_comp_id(std::string& id);
    bool getVendorVersion(const std::string& path, std::string& version);

    unsigned char koltError = 0;
    int hostOsIndex = -1;
    std::string componentId;
    unsigned char halWasRunning = 0;
    // Rule files this object copied where none was before: the only ones
    // its uninstall removes.
    std::vector<std::string> installedRuleFiles;

private:
    secureTessa(const secureTessa&) = delete;
    secureTessa& operator=(const secureTessa&) = delete;
};

#endif
