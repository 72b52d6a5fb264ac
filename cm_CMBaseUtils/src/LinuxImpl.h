#ifndef CM_CMBASEUTILS_LINUXIMPL_H
#define CM_CMBASEUTILS_LINUXIMPL_H

#include "IPlatformImpl.h"

// Linux implementation of the platform interface. Operations built on other
// operations call them through the interface, so a subclass that overrides
// one slot changes every operation built on it.
class CLinuxImpl : public IPlatformImpl {
public:
    CLinuxImpl() = default;
    ~CLinuxImpl() = default;

    bool isZEMOInstalled() override;
    int InstallZemo() override;
    int UninstallZemo() override;
    void* LoadLibrary(const std::string& libraryName) override;
    void FreeLibrary(void* handle) override;
    void* GetProcAddress(void* handle, const std::string& symbol) override;
    int ExecuteCmd(const std::string& command, bool flag, const long& value) override;
    int ExecuteCmdNoWait(const std::string& command, bool flag, const long& value) override;
    void Sleep(int seconds) override;
    std::string getCurrentDirectory() override;
    std::string getCurrentProcessDirectory() override;
    bool setCurrentDirectory(const std::string& directory) override;
    std::vector<std::string> GetFileList(std::string& directory) override;
    std::vector<std::string> GetFileListName(std::string& directory) override;
    bool IsFileExits(const std::string& fileName) override;
    bool IsFileExistsAbs(const std::string& path) override;
    void* LoadZemoLibrary(const std::string& libraryFile) override;
    bool isUSBblocklisted() override;
    void unloadUSB() override;
    void* LoadLibrarywithoutCustomization(const std::string& libraryName) override;
    int Umount(const std::string& directory) override;
    bool isESXiSystem() override;
    int ExecuteCmdCapture(const std::string& command, std::size_t maxBytes, std::string& output) override;

    // USB storage module handling and ESX detection.
    bool isESXSystem();
    bool isUSBStorageStaticallyLinked();
    // Hardware-access library installation.
    bool isVUTAZEMOInstalled();

    static bool bUSBDriverNotLoaded;
    static bool bUSBDriverLoadedByZOR;
    static bool bUSBBlocklistCheckDone;
    static bool bZEMOAlreadyInstalled;
    static int nZEMOInstallRefCount;

protected:
    // The uname() system name read by the ESXi test and the hardware-access
    // library folder choice; false when uname() fails. A mount namespace
    // cannot give a test another kernel name, so tests replace this.
    virtual bool queryKernelName(std::string& systemName);

private:
    // False when the path does not exist (stat fails); otherwise true, with
    // the first line (at most 1023 characters, empty when the file cannot be
    // read).
    bool readFirstLine(const std::string& path, std::string& line);
    std::vector<std::string> listDirectory(const std::string& directory, bool fullNames);
    std::string zemoInstallFolder();
    std::string zemoScriptCommand(const std::string& action);
};

#endif
