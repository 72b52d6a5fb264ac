#ifndef CM_NVM_EPCISSD_NVMEHOSTACCESS_H
#define CM_NVM_EPCISSD_NVMEHOSTACCESS_H

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>

#include <linux/nvme_ioctl.h>

// Everything the NVMe adapter asks of the host: the controller nodes and
// their admin pass-through, the shell command that lists the nodes, and the
// sysfs attribute files. Production runs on CLinuxNVMeHostAccess (the plain
// system calls); tests install a fake so that no command ever reaches a
// real controller.
class INVMeHostAccess {
public:
    virtual ~INVMeHostAccess() {}

    // open(2) / close(2) of a controller node; -1 and errno on failure. The
    // descriptors, streams and pipes of this interface are close-on-exec.
    virtual int openDevice(const char* path, int flags) = 0;
    virtual int closeDevice(int fd) = 0;

    // The one way an admin command reaches a controller:
    // ioctl(fd, NVME_IOCTL_ADMIN_CMD, cmd). Returns what the ioctl returns
    // (negative with errno set, 0, or the controller's NVMe status).
    virtual int adminCommand(int fd, nvme_passthru_cmd* cmd) = 0;

    // popen(command, "r") / pclose of the node listing.
    virtual FILE* openListing(const char* command) = 0;
    virtual int closeListing(FILE* stream) = 0;

    // fopen(path, "rb") and stat(2) of a sysfs attribute; the stream is
    // closed with fclose.
    virtual FILE* openAttribute(const char* path) = 0;
    virtual int statAttribute(const char* path, struct stat* info) = 0;
};

class CLinuxNVMeHostAccess : public INVMeHostAccess {
public:
    int openDevice(const char* path, int flags) override;
    int closeDevice(int fd) override;
    int adminCommand(int fd, nvme_passthru_cmd* cmd) override;
    FILE* openListing(const char* command) override;
    int closeListing(FILE* stream) override;
    FILE* openAttribute(const char* path) override;
    int statAttribute(const char* path, struct stat* info) override;
};

// The process-wide host access, created on first use.
class CNVMeHostAccess {
public:
    static INVMeHostAccess* Get();
    // Test seam: installs another implementation (not owned) and returns
    // the previous one; null restores the Linux implementation.
    static INVMeHostAccess* SetForTesting(INVMeHostAccess* access);

private:
    static INVMeHostAccess* m_pAccess;
};

#endif
