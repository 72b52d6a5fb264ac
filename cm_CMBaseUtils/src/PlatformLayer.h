#ifndef CM_CMBASEUTILS_PLATFORMLAYER_H
#define CM_CMBASEUTILS_PLATFORMLAYER_H

#include <string>
#include <vector>

#include "IPlatformImpl.h"

// Static facade over the one process-wide IPlatformImpl. Every operation
// forwards unchanged; the implementation is created on first use.
class CPlatformLayer {
public:
    CPlatformLayer() {}
    ~CPlatformLayer() {}

    static bool isZEMOInstalled();
    static int InstallZemo();
    static int UninstallZemo();
    static void* Load_Library(const std::string& libraryName);
    static void* Load_Library_without_Customization(const std::string& libraryName);
    static void FreeLibrary(void* handle);
    static void* GetProcAddress(void* handle, const std::string& symbol);
    static int ExecuteCmd(const std::string& command, bool flag, const long& value);
    static int ExecuteCmdNoWait(const std::string& command, bool flag, const long& value);
    static int ExecuteCmdCapture(const std::string& command, std::size_t maxBytes, std::string& output);
    static void Sleep(int seconds);
    static std::string getCurrentDirectory();
    static std::string getCurrentProcessDirectory();
    static std::vector<std::string> GetFileList(std::string& directory);
    static std::vector<std::string> GetFileListName(std::string& directory);
    static bool setCurrentDirectory(const std::string& directory);
    static bool IsFileExits(const std::string& fileName);
    static bool IsFileExistsAbs(const std::string& path);
    static void* LoadZemoLibrary(const std::string& libraryFile);
    static bool isUSBblocklisted();
    static void unloadUSB();
    static int Umount(const std::string& directory);
    static bool isESXiSystem();
    static IPlatformImpl* GetPlatform();

    static bool CreateEmptyZORDebuLogFile();

    // Test seam: installs another implementation (not owned) and returns
    // the previous one; null restores the Linux implementation, the one the
    // program itself always runs on.
    static IPlatformImpl* SetForTesting(IPlatformImpl* platform);

private:
    static IPlatformImpl* impl();
    static IPlatformImpl* m_pPlatformImpl;
};

#endif
