#ifndef CM_KOLT_SCSIHOSTACCESS_H
#define CM_KOLT_SCSIHOSTACCESS_H

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

// Everything the partition search asks of the host's SCSI side: the
// generic and disk nodes, their ioctls, raw reads of the disks and the
// sysfs listing of generic devices (its shell probes go through the
// platform layer, as every other command does). Production
// runs on CLinuxScsiHostAccess (the plain system calls on the real paths);
// tests install a fake so that no request reaches a real disk.
class IScsiHostAccess {
public:
    virtual ~IScsiHostAccess() {}

    // open(2) / close(2) of a device node; -1 and errno on failure.
    virtual int openDevice(const char* path, int flags) = 0;
    virtual int closeDevice(int fd) = 0;

    // The one way a SCSI request reaches a node: ioctl(fd, request, argument)
    // with SG_EMULATED_HOST, SG_GET_SCSI_ID, SCSI_IOCTL_GET_IDLUN or
    // SCSI_IOCTL_GET_BUS_NUMBER. Returns what the ioctl returns.
    virtual int control(int fd, unsigned long request, void* argument) = 0;

    // pread(2): up to length bytes at a byte offset of the node; the count
    // read, 0 at the end of the device, -1 and errno on failure.
    virtual ssize_t readAt(int fd, void* buffer, size_t length, off_t offset) = 0;

    // stat(2) of a path.
    virtual int statPath(const char* path, struct stat* info) = 0;

    // The entry names of a directory as scandir(3) gives them (no filter,
    // no sorting, "." and ".." included); false when it cannot be listed.
    virtual bool listDirectory(const char* path, std::vector<std::string>& names) = 0;
};

class CLinuxScsiHostAccess : public IScsiHostAccess {
public:
    int openDevice(const char* path, int flags) override;
    int closeDevice(int fd) override;
    int control(int fd, unsigned long request, void* argument) override;
    ssize_t readAt(int fd, void* buffer, size_t length, off_t offset) override;
    int statPath(const char* path, struct stat* info) override;
    bool listDirectory(const char* path, std::vector<std::string>& names) override;
};

// The process-wide SCSI host access, created on first use.
class CScsiHostAccess {
public:
    static IScsiHostAccess* Get();
    // Test seam: installs another implementation (not owned) and returns
    // the previous one; null restores the Linux implementation.
    static IScsiHostAccess* SetForTesting(IScsiHostAccess* access);

private:
    static IScsiHostAccess* m_pAccess;
};

// A device descriptor owned by a scope: closed through the SCSI host access
// when the scope ends, whichever way it ends.
class CScsiDeviceHandle {
public:
    CScsiDeviceHandle() : m_fd(-1) {}
    explicit CScsiDeviceHandle(int fd) : m_fd(fd) {}
    ~CScsiDeviceHandle() { reset(); }
    CScsiDeviceHandle(CScsiDeviceHandle&& other) noexcept : m_fd(other.release()) {}
    CScsiDeviceHandle& operator=(CScsiDeviceHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    CScsiDeviceHandle(const CScsiDeviceHandle&) = delete;
    CScsiDeviceHandle& operator=(const CScsiDeviceHandle&) = delete;

    // Opens the node read-only and non-blocking, as every probe of the
    // partition search does; the handle is invalid when the open failed.
    static CScsiDeviceHandle openReadOnly(const std::string& path);

    bool valid() const { return m_fd >= 0; }
    int get() const { return m_fd; }
    int release()
    {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd;
};

#endif
