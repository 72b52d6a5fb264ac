#include "NVMeHostAccess.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

INVMeHostAccess* CNVMeHostAccess::m_pAccess = nullptr;

static CLinuxNVMeHostAccess& linuxAccess()
{
    // Never destroyed: discovery may still run from static destructors of
    // other units' objects.
    static CLinuxNVMeHostAccess* instance = new CLinuxNVMeHostAccess();
    return *instance;
}

INVMeHostAccess* CNVMeHostAccess::Get()
{
    if (m_pAccess == nullptr)
        m_pAccess = &linuxAccess();
    return m_pAccess;
}

INVMeHostAccess* CNVMeHostAccess::SetForTesting(INVMeHostAccess* access)
{
    INVMeHostAccess* previous = Get();
    m_pAccess = access != nullptr ? access : &linuxAccess();
    return previous;
}

int CLinuxNVMeHostAccess::openDevice(const char* path, int flags) { return ::open(path, flags); }

int CLinuxNVMeHostAccess::closeDevice(int fd) { return ::close(fd); }

int CLinuxNVMeHostAccess::adminCommand(int fd, nvme_passthru_cmd* cmd)
{
    return ::ioctl(fd, NVME_IOCTL_ADMIN_CMD, cmd);
}

FILE* CLinuxNVMeHostAccess::openListing(const char* command) { return ::popen(command, "r"); }

int CLinuxNVMeHostAccess::closeListing(FILE* stream) { return ::pclose(stream); }

FILE* CLinuxNVMeHostAccess::openAttribute(const char* path) { return ::fopen(path, "rb"); }

int CLinuxNVMeHostAccess::statAttribute(const char* path, struct stat* info) { return ::stat(path, info); }
