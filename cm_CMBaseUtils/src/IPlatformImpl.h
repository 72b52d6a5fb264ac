#ifndef CM_CMBASEUTILS_IPLATFORMIMPL_H
#define CM_CMBASEUTILS_IPLATFORMIMPL_H

#include <cstddef>
#include <string>
#include <vector>

// The operating-system interface behind CPlatformLayer. The slot order is
// part of the contract; the object is never deleted, hence no virtual
// destructor.
class IPlatformImpl {
public:
    virtual bool isZEMOInstalled() = 0;
    virtual int InstallZemo() = 0;
    virtual int UninstallZemo() = 0;
    virtual void* LoadLibrary(const std::string& libraryName) = 0;
    virtual void FreeLibrary(void* handle) = 0;
    virtual void* GetProcAddress(void* handle, const std::string& symbol) = 0;
    virtual int ExecuteCmd(const std::string& command, bool flag, const long& value) = 0;
    virtual int ExecuteCmdNoWait(const std::string& command, bool flag, const long& value) = 0;
    virtual void Sleep(int seconds) = 0;
    virtual std::string getCurrentDirectory() = 0;
    virtual std::string getCurrentProcessDirectory() = 0;
    virtual bool setCurrentDirectory(const std::string& directory) = 0;
    virtual std::vector<std::string> GetFileList(std::string& directory) = 0;
    virtual std::vector<std::string> GetFileListName(std::string& directory) = 0;
    virtual bool IsFileExits(const std::string& fileName) = 0;
    virtual bool IsFileExistsAbs(const std::string& path) = 0;
    virtual void* LoadZemoLibrary(const std::string& libraryFile) = 0;
    virtual bool isUSBblocklisted() = 0;
    virtual void unloadUSB() = 0;
    virtual void* LoadLibrarywithoutCustomization(const std::string& libraryName) = 0;
    // umount(2) of the file system mounted on `directory`: 0 when it was
    // unmounted, otherwise the errno value of the failed call (EBUSY while
    // a file on it is open, EINVAL when nothing is mounted there). A link
    // at `directory` is not followed: it is no mount point (EINVAL).
    virtual int Umount(const std::string& directory) = 0;
    // Whether the host is VMware ESXi: uname()'s system name is "VMkernel",
    // ignoring case (false when uname() fails).
    virtual bool isESXiSystem() = 0;
    // Runs `command` through the shell as ExecuteCmd does, but hands back
    // what it writes to its standard output instead of passing it on:
    // `output` gets the first `maxBytes` bytes, as written (all of it when
    // there is less). Output beyond the bound is not read: the pipe is
    // closed, so a command still writing ends on a broken pipe instead of
    // blocking. Standard error is not captured. The result is the exit
    // status as pclose() reports it (the same form as system()'s), or -1
    // when no shell could be started.
    virtual int ExecuteCmdCapture(const std::string& command, std::size_t maxBytes, std::string& output) = 0;

protected:
    ~IPlatformImpl() = default;
};

#endif
