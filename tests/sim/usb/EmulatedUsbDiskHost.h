#ifndef TESTS_SIM_USB_EMULATEDUSBDISKHOST_H
#define TESTS_SIM_USB_EMULATEDUSBDISKHOST_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "HostNamespace.h"
#include "SimTessaController.h"
#include "UmockdevRun.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

struct UsbDiskOptions {
    // A partition table in front: the FAT volume sits on "<disk>1".
    bool mbr = false;
};

// A Linux host as the real executable sees it when the management
// controller exposes its partitions as USB disks, under umockdev:
//
// - /dev/ipmi0 is answered by the given SimTessaController;
// - when the controller attaches a partition the host knows (expose...),
//   the partition shows up as a USB disk: a SCSI generic node /dev/sgN and
//   its disk /dev/sdX (with MBR: also /dev/sdX1) at one SCSI address, whose
//   ioctls ScsiNodeModel answers and whose raw reads return a FAT16 image
//   labelled with the partition's name; a detach takes them away again
//   (descriptors kept open then read end of file, as on a real host);
// - "/sys/class/scsi_generic" lists the generic nodes that are there;
// - decoys: a disk on a non-USB adapter, another USB disk, present from the start;
// - mounting without a vfat kernel: "mount" first on PATH takes the device
//   (or the link to it), finds the emulated disk and binds the partition's
//   backing folder on the mount point (read-only for "ro"), so the real
//   umount(2) works and files written on the mount land in the backing
//   folder; "/sbin/blockdev" (the host's scan before each search attempt)
//   is where a freshly attached partition is held back for a settable
//   number of attempts; "lsmod" lists sg and usb_storage as set;
//   "modprobe", "rmmod" and "insmod" (first on PATH) only record and fail;
// - sleeps return at once and are recorded (see sleeps()), and so are the
//   program's unmounts (see umountCalls()).
//
// Every run goes through launchIsolated with a private /tmp (the
// "/tmp/<label>" mount points stay inside) and a writable private /dev (the
// "/dev/sectesupd-*" links stay inside). The commands the executable starts
// through the shell run without umockdev's preload, in that private view.
//
// The HostNamespace carries "/sbin/blockdev"; a test puts its own fakes
// (udev rule folders, release files) there too. It must be made before any
// thread starts, and umockdev's threads outlive a testbed: a test file with
// several such tests makes one namespace for its suite (SetUpTestSuite).
class EmulatedUsbDiskHost {
public:
    EmulatedUsbDiskHost(HostNamespace& ns, SimTessaController& tessa);
    ~EmulatedUsbDiskHost();
    EmulatedUsbDiskHost(const EmulatedUsbDiskHost&) = delete;
    EmulatedUsbDiskHost& operator=(const EmulatedUsbDiskHost&) = delete;

    using DiskOptions = UsbDiskOptions;

    // The USB disk a partition becomes while attached, labelled `label`
    // (the partition's name).
    void exposeStatic(unsigned bit, const std::string& label, const DiskOptions& options = DiskOptions());
    void exposeDynamic(unsigned bit, const std::string& label, const DiskOptions& options = DiskOptions());

    // Search attempts (scans by "/sbin/blockdev") that still miss a freshly
    // attached partition; 0 (the default): it is there before the next one.
    void setAttemptsBeforeAppearing(unsigned attempts);

    // Decoys, there from now on: a FAT disk on a virtio-scsi adapter (its
    // generic node answers SG_EMULATED_HOST with 0) and a plain USB disk.
    void addLocalDisk(const std::string& label, const DiskOptions& options = DiskOptions());
    void addUsbDisk(const std::string& label, const DiskOptions& options = DiskOptions());

    // What "lsmod" lists.
    void setModulesLoaded(bool sg, bool usbStorage);

    // --- what happened -----------------------------------------------------
    // The node the FAT volume of the exposed partition `label` is read from
    // ("/dev/sdb", "/dev/sdb1" with MBR); empty while it is not shown.
    // Decoys are left out.
    std::string deviceOf(const std::string& label) const;
    // The folder a mount of the label's disk shows (files written there by
    // the program end up here).
    std::string backingFolder(const std::string& label) const;
    // Nodes now in the testbed's /dev ("/dev/sda", "/dev/sg0", ...), sorted.
    std::vector<std::string> nodes() const;
    // Search attempts seen (scans by "/sbin/blockdev").
    unsigned attempts() const;
    // Every call of the fake mount, as its arguments joined by blanks.
    std::vector<std::string> mountCalls() const;
    // Every umount(2) the program (not the shell commands it runs) made:
    // "<function> <target> <flags> = <0 or errno>" lines, in order.
    std::vector<std::string> umountCalls() const;
    // Every sleep the program (not the shell commands it runs) asked for:
    // "<function> <seconds>" lines, and their sum.
    std::vector<std::string> sleeps() const;
    double sleptSeconds() const;

    // Runs the program on this host; `environment`, `before` and `after` as
    // in LaunchRequest (the scripts see the run's private /tmp and /dev).
    EmulatedRun run(const std::string& executable, const std::vector<std::string>& args, const std::string& workDir,
                    int timeoutSeconds = 120, const std::vector<std::string>& environment = {},
                    const std::string& before = std::string(), const std::string& after = std::string());

    std::string rootDir() const;
    // The testbed, for emulations that join it (NVMe controllers).
    UMockdevTestbed* testbed() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// The path of the test-only preload library (sleeps, SCSI node opens).
std::string sleepPreloadLibrary();

#endif
