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

// Every descriptor of a controller node, the listing pipe and the sysfs
// reads is close-on-exec: the shell commands of the run (and of the
// rollback hand-over after it) must not inherit a controller.
int CLinuxNVMeHostAccess::openDevice(const char* path, int flags) { return ::open(path, flags | O_CLOEXEC); }

int CLinuxNVMeHostAccess::closeDevice(int fd) { return ::close(fd); }

int CLinuxNVMeHostAccess::adminCommand(int fd, nvme_passthru_cmd* cmd)
{
    return ::ioctl(fd, NVME_IOCTL_ADMIN_CMD, cmd);
}

FILE* CLinuxNVMeHostAccess::openListing(const char* command) { return ::popen(command, "re"); }

int CLinuxNVMeHostAccess::closeListing(FILE* stream) { return ::pclose(stream); }

FILE* CLinuxNVMeHostAccess::openAttribute(const char* path) { return ::fopen(path, "rbe"); }

int CLinuxNVMeHostAccess::statAttribute(const char* path, struct stat* info) { return ::stat(path, info); }
