#ifndef TESTS_SIM_SCSI_FAKESCSIHOST_H
#define TESTS_SIM_SCSI_FAKESCSIHOST_H

#include <map>
#include <set>
#include <string>
#include <vector>

#include "ScopedSeam.h"
#include "ScsiHostAccess.h"
#include "ScsiNodeModel.h"

// The SCSI side of a simulated host behind the SCSI host-access seam:
// device nodes at their /dev paths (models of ScsiNodeModel), the sysfs
// listing of generic devices. Every open and request is recorded; nothing
// reaches a real device (shell probes are scripted on SimPlatform, like
// every other command). Install with
// CScsiHostAccess::SetForTesting (ScopedSeam<CScsiHostAccess> does it for a scope).
class FakeScsiHost : public IScsiHostAccess {
public:
    // A USB disk as usb-storage shows it: generic node /dev/<sg> on an
    // emulated adapter and disk node diskPath at the same address, reading
    // from image (may be empty).
    void addUsbDisk(const std::string& sg, const std::string& diskPath, int host, const std::string& image);
    // A disk on a non-emulated adapter (virtio-scsi).
    void addLocalDisk(const std::string& sg, const std::string& diskPath, int host, const std::string& image);
    // The first partition's node of a disk already added (same address).
    void addPartition(const std::string& diskPath, const std::string& image);

    // The nodes by path; add or change freely.
    std::map<std::string, ScsiNodeModel> nodes;

    // "/sys/class/scsi_generic": present (listing generic names in the
    // order scandir gives them, "." and ".." first) unless removed.
    bool sysfsPresent = true;
    bool sysfsListingFails = false;
    std::vector<std::string> sysfsNames() const;
    // Extra names listed in sysfs without a node behind them.
    std::vector<std::string> staleSysfsNames;

    // Records.
    std::map<std::string, int> openAttempts;   // every path tried, by path
    size_t opens = 0;                          // successful opens
    size_t closes = 0;
    std::vector<int> badFlags;                 // opens not read-only + non-blocking
    std::set<int> openDescriptors() const;
    size_t attemptsWithPrefix(const std::string& prefix) const;

    int openDevice(const char* path, int flags) override;
    int closeDevice(int fd) override;
    int control(int fd, unsigned long request, void* argument) override;
    ssize_t readAt(int fd, void* buffer, size_t length, off_t offset) override;
    int statPath(const char* path, struct stat* info) override;
    bool listDirectory(const char* path, std::vector<std::string>& names) override;

private:
    std::map<int, std::string> m_open;
    int m_nextFd = 1000;
};

#endif
